// File-system functions and directory streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "source/runtime.h"
#include "tests/modelica/support.h"

namespace fs = std::filesystem;

namespace {

using FileSystemTest = ModelicaTest;

TEST_F(FileSystemTest, FileStatTellsTheKindOfEachName) {
  writeFile(path("file"), "x");
  fs::create_directory(path("dir"));
  struct Case {
    std::string name;
    int kind;
  };
  const Case cases[] = {
      {path("file"), FileKindRegular},
      {path("dir"), FileKindDirectory},
      {path("dir/"), FileKindDirectory},
      // Examined again without the final '/'.
      {path("file/"), FileKindRegular},
      {path("missing"), FileKindNone},
      {path("missing/"), FileKindNone},
      {"/dev/null", FileKindOther},
      {"", FileKindNone},
      {"/", FileKindDirectory},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fileStat(c.name.c_str()), c.kind);
  }
}

TEST_F(FileSystemTest, DirectoriesAreMadeAndRemoved) {
  const std::string dir = path("made");
  EXPECT_EQ(errorText([&] { makeDirectory(dir.c_str()); }), "<completed>");
  EXPECT_EQ(fileStat(dir.c_str()), FileKindDirectory);
  EXPECT_EQ(errorText([&] { makeDirectory(dir.c_str()); }),
            "Not possible to create new directory\n\"" + dir + "\":\nFile exists");
  writeFile(dir + "/inside", "");
  EXPECT_EQ(errorText([&] { removeDirectory(dir.c_str()); }),
            "Not possible to remove directory\n\"" + dir + "\":\nDirectory not empty");
  fs::remove(dir + "/inside");
  EXPECT_EQ(errorText([&] { removeDirectory(dir.c_str()); }), "<completed>");
  EXPECT_EQ(fileStat(dir.c_str()), FileKindNone);
  EXPECT_EQ(fakeInstance().status, 1); // the failures above were model errors
}

// Renaming never replaces an existing file, as on the platform the interface
// comes from; POSIX rename would replace it silently.
TEST_F(FileSystemTest, RenameRefusesAnExistingTarget) {
  const std::string a = path("a"), b = path("b"), c = path("c");
  writeFile(a, "first");
  writeFile(b, "second");
  EXPECT_EQ(errorText([&] { renameFile(a.c_str(), b.c_str()); }),
            "renaming \"" + a + "\" to \"" + b + "\" failed:\nFile exists");
  EXPECT_EQ(readWholeFile(a), "first");
  EXPECT_EQ(readWholeFile(b), "second");

  EXPECT_EQ(errorText([&] { renameFile(a.c_str(), c.c_str()); }), "<completed>");
  EXPECT_FALSE(exists(a));
  EXPECT_EQ(readWholeFile(c), "first");
  EXPECT_EQ(errorText([&] { renameFile(a.c_str(), c.c_str()); }),
            "renaming \"" + a + "\" to \"" + c + "\" failed:\nNo such file or directory");
}

TEST_F(FileSystemTest, RemoveFileRemovesFilesOnly) {
  const std::string file = path("file"), dir = path("dir");
  writeFile(file, "x");
  fs::create_directory(dir);
  EXPECT_EQ(errorText([&] { removeFile(file.c_str()); }), "<completed>");
  EXPECT_FALSE(exists(file));
  EXPECT_EQ(errorText([&] { removeFile(file.c_str()); }),
            "Not possible to remove file \"" + file + "\":\nNo such file or directory");
  EXPECT_EQ(errorText([&] { removeFile(dir.c_str()); }),
            "Not possible to remove file \"" + dir + "\":\nIs a directory");
  EXPECT_TRUE(exists(dir));
}

TEST_F(FileSystemTest, CopyFileCopiesEveryByte) {
  std::string content;
  for (int i = 0; i < 1500; ++i) content += static_cast<char>(i * 7);
  writeFile(path("old"), content);
  writeFile(path("empty"), "");
  EXPECT_EQ(errorText([&] { copyFile(path("old").c_str(), path("new").c_str()); }), "<completed>");
  EXPECT_EQ(readWholeFile(path("new")), content);
  EXPECT_EQ(errorText([&] { copyFile(path("empty").c_str(), path("empty2").c_str()); }),
            "<completed>");
  EXPECT_TRUE(exists(path("empty2")));
  EXPECT_EQ(readWholeFile(path("empty2")), "");
}

TEST_F(FileSystemTest, CopyFileRefusals) {
  writeFile(path("old"), "old");
  writeFile(path("target"), "target");
  fs::create_directory(path("dir"));
  const std::string old = path("old");
  struct Case {
    std::string from, to, text;
  };
  const Case cases[] = {
      {path("missing"), path("x"),
       "\"" + path("missing") + "\" cannot be copied\nbecause it does not exist"},
      {path("dir"), path("x"),
       "\"" + path("dir") + "\" cannot be copied\nbecause it is a directory"},
      {"/dev/null", path("x"), "\"/dev/null\" cannot be copied\nbecause it is not a regular file"},
      {old, path("target"),
       "\"" + old + "\" cannot be copied\nbecause the target \"" + path("target") + "\" exists"},
      {old, path("dir"),
       "\"" + old + "\" cannot be copied\nbecause the target \"" + path("dir") + "\" exists"},
      {old, path("nowhere/x"),
       "\"" + old + "\" cannot be copied to \"" + path("nowhere/x") +
           "\":\nNo such file or directory"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.from + " -> " + c.to);
    EXPECT_EQ(errorText([&] { copyFile(c.from.c_str(), c.to.c_str()); }), c.text);
  }
  EXPECT_EQ(readWholeFile(old), "old");
  EXPECT_EQ(readWholeFile(path("target")), "target");
  EXPECT_FALSE(exists(path("x")));
}

// A copy that cannot be completed is an error, and no partial target stays.
std::size_t shortWrite(const void *, std::size_t size, std::size_t count, std::FILE *) {
  errno = ENOSPC;
  return count > 0 && size > 0 ? count - 1 : 0;
}
int failingClose(std::FILE *stream) {
  platform::defaultSystemCalls().fclose(stream);
  errno = ENOSPC;
  return EOF;
}
std::size_t failingRead(void *, std::size_t, std::size_t, std::FILE *) {
  errno = EIO;
  return 0;
}
int errorSet(std::FILE *) { return 1; }

TEST_F(FileSystemTest, IncompleteCopiesAreErrorsAndLeaveNoTarget) {
  writeFile(path("old"), std::string(2000, 'c'));
  const std::string old = path("old"), target = path("new");
  struct Case {
    const char *name;
    std::function<void()> arrange;
    std::string text;
  };
  const Case cases[] = {
      {"short write", [] { platform::sys.fwrite = shortWrite; },
       "Error writing to file \"" + target + "\"."},
      {"failed flush at the close", [] { platform::sys.fclose = failingClose; },
       "Error writing to file \"" + target + "\"."},
      {"read error",
       [] {
         platform::sys.fread = failingRead;
         platform::sys.ferror = errorSet;
       },
       "\"" + old + "\" cannot be copied:\nInput/output error"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    EXPECT_EQ(errorText([&] { copyFile(old.c_str(), target.c_str()); }), c.text);
    platform::sys = platform::defaultSystemCalls();
    EXPECT_FALSE(exists(target));
  }
}

TEST_F(FileSystemTest, CopyToAFullDeviceIsRefusedAsAnExistingTarget) {
  writeFile(path("old"), "x");
  EXPECT_EQ(errorText([&] { copyFile(path("old").c_str(), "/dev/full"); }),
            "\"" + path("old") + "\" cannot be copied\nbecause the target \"/dev/full\" exists");
}

class DirectoryListing : public FileSystemTest {
protected:
  void SetUp() override {
    FileSystemTest::SetUp();
    dir_ = path("list");
    fs::create_directory(dir_);
    writeFile(dir_ + "/a", "");
    writeFile(dir_ + "/b", "");
  }
  std::string dir_;
};

TEST_F(DirectoryListing, CountsAndReadsTheNamesWithoutDotEntries) {
  EXPECT_EQ(countDirectoryEntries(dir_.c_str()), 2);
  const char *names[2] = {};
  EXPECT_EQ(errorText([&] { readDirectory(dir_.c_str(), 2, names); }), "<completed>");
  std::set<std::string> got = {names[0], names[1]};
  EXPECT_EQ(got, (std::set<std::string>{"a", "b"}));
}

TEST_F(DirectoryListing, AnotherNumberOfNamesIsAnError) {
  const char *names[3] = {};
  EXPECT_EQ(errorText([&] { readDirectory(dir_.c_str(), 1, names); }),
            "Not possible to get file names of \"" + dir_ +
                "\":\nMore files in this directory as reported by nFiles (= 1)");
  EXPECT_EQ(errorText([&] { readDirectory(dir_.c_str(), 3, names); }),
            "Not possible to get file names of \"" + dir_ +
                "\":\nLess files (= 2) found as defined by argument nNames (= 3)");
}

TEST_F(DirectoryListing, MissingFoldersAreErrors) {
  const std::string missing = path("missing");
  const char *names[1] = {};
  EXPECT_EQ(errorText([&] { readDirectory(missing.c_str(), 1, names); }),
            "1: Not possible to get file names of \"" + missing + "\":\nNo such file or directory");
  EXPECT_EQ(errorText([&] { countDirectoryEntries(missing.c_str()); }),
            "Not possible to get number of files in \"" + missing +
                "\":\nNo such file or directory");
  const std::string file = dir_ + "/a";
  EXPECT_EQ(errorText([&] { countDirectoryEntries(file.c_str()); }),
            "Not possible to get number of files in \"" + file + "\":\nNot a directory");
}

TEST_F(DirectoryListing, NamesBeyondTheCharacterAreaAreAnError) {
  // Fill the character area up to a few characters.
  ModelicaAllocateString(static_cast<std::size_t>(SimplestringSize) - 4);
  const char *names[2] = {};
  EXPECT_EQ(errorText([&] { readDirectory(dir_.c_str(), 2, names); }),
            "Not possible to get file names of \"" + dir_ + "\":\nNot enough storage");
}

struct DirectoryCase {
  const char *name;
  std::function<DirectoryStream *()> open;
  int error;
};

TEST_F(DirectoryListing, OpenDirectoryFailuresSetErrno) {
  const std::string file = dir_ + "/a", missing = path("missing");
  const DirectoryCase cases[] = {
      {"null name", [] { return openDirectory(nullptr); }, EFAULT},
      {"empty name", [] { return openDirectory(""); }, ENOTDIR},
      {"regular file", [&] { return openDirectory(file.c_str()); }, ENOTDIR},
      {"missing", [&] { return openDirectory(missing.c_str()); }, ENOENT},
      {"no memory",
       [&] {
         failMallocAt(1);
         return openDirectory(dir_.c_str());
       },
       ENOMEM},
  };
  for (const DirectoryCase &c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_EQ(c.open(), nullptr);
    EXPECT_EQ(errno, c.error);
    platform::sys = platform::defaultSystemCalls();
  }
}

TEST_F(DirectoryListing, NullStreamsAndBadPositions) {
  errno = 0;
  EXPECT_EQ(readDirectoryEntry(nullptr), nullptr);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(closeDirectory(nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(tellDirectory(nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  rewindDirectory(nullptr);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  seekDirectory(nullptr, 0);
  EXPECT_EQ(errno, EFAULT);

  DirectoryStream *stream = openDirectory(dir_.c_str());
  ASSERT_NE(stream, nullptr);
  seekDirectory(stream, -2);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(closeDirectory(stream), 0);
}

std::vector<std::string> readAll(DirectoryStream *stream) {
  std::vector<std::string> names;
  while (DirectoryEntry *entry = readDirectoryEntry(stream)) {
    EXPECT_EQ(entry->namlen, std::strlen(entry->name));
    names.emplace_back(entry->name);
  }
  return names;
}

TEST_F(DirectoryListing, StreamsCountTheirEntriesAndStartAgain) {
  DirectoryStream *stream = openDirectory(dir_.c_str());
  ASSERT_NE(stream, nullptr);
  // The first entry is found when the stream opens.
  EXPECT_EQ(tellDirectory(stream), 1);
  DirectoryEntry *first = readDirectoryEntry(stream);
  ASSERT_NE(first, nullptr);
  const std::string firstName = first->name;
  EXPECT_EQ(tellDirectory(stream), 1);
  std::vector<std::string> all = {firstName};
  for (std::string name : readAll(stream)) all.push_back(name);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(all.size(), 4u); // ".", "..", a, b
  EXPECT_EQ(tellDirectory(stream), -1);
  EXPECT_EQ(readDirectoryEntry(stream), nullptr);

  rewindDirectory(stream);
  EXPECT_EQ(tellDirectory(stream), 0);
  EXPECT_EQ(readAll(stream), all);

  seekDirectory(stream, 2);
  EXPECT_EQ(tellDirectory(stream), 2);
  DirectoryEntry *third = readDirectoryEntry(stream);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->name, all[2]);
  EXPECT_EQ(tellDirectory(stream), 3);

  seekDirectory(stream, -1);
  EXPECT_EQ(readDirectoryEntry(stream), nullptr);
  seekDirectory(stream, 10); // beyond the end: finished
  EXPECT_EQ(tellDirectory(stream), -1);
  EXPECT_EQ(closeDirectory(stream), 0);
}

// Counters of 16 bits would wrap after 32767 entries; every entry counts.
TEST_F(FileSystemTest, AFolderOfSeventyThousandEntriesIsCountedWhole) {
  constexpr int kEntries = 70000;
  const std::string dir = path("big");
  fs::create_directory(dir);
  for (int i = 0; i < kEntries; ++i) {
    const std::string name = dir + "/" + std::to_string(i);
    const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << name;
    ::close(fd);
  }
  EXPECT_EQ(countDirectoryEntries(dir.c_str()), kEntries);

  DirectoryStream *stream = openDirectory(dir.c_str());
  ASSERT_NE(stream, nullptr);
  const std::vector<std::string> all = readAll(stream);
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kEntries + 2));
  seekDirectory(stream, 40000);
  EXPECT_EQ(tellDirectory(stream), 40000);
  DirectoryEntry *next = readDirectoryEntry(stream);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->name, all[40000]);
  EXPECT_EQ(tellDirectory(stream), 40001);
  EXPECT_EQ(closeDirectory(stream), 0);

  // The names do not fit the thread's character area: an error, not a cut list.
  std::vector<const char *> names(kEntries);
  EXPECT_EQ(errorText([&] { readDirectory(dir.c_str(), kEntries, names.data()); }),
            "Not possible to get file names of \"" + dir + "\":\nNot enough storage");
}

TEST_F(FileSystemTest, FullPathNamesAreFormedByText) {
  WorkingDirectory here(folder());
  const std::string cwd = folder();
  struct Case {
    std::string name, full;
  };
  const Case cases[] = {
      {"sub/", cwd + "/sub/"},
      {"not-yet/file.txt", cwd + "/not-yet/file.txt"},
      {"a/./b/../c", cwd + "/a/c"},
      {"a//b", cwd + "/a/b"},
      {"", cwd},
      {".", cwd},
      {"./", cwd + "/"},
      {"/x/../y", "/y"},
      {"/..", "/"},
      {"/", "/"},
      {"/tmp/", "/tmp/"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fullPathName(c.name.c_str()), c.full);
  }
  const std::string tooLong = "/" + std::string(1100, 'n');
  EXPECT_EQ(errorText([&] { fullPathName(tooLong.c_str()); }),
            "Not possible to construct full path name of \"" + tooLong + "\"\nFile name too long");
}

// The entries of folder, without "." and "..".
std::vector<std::string> entriesOf(const std::string &folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto &entry : fs::directory_iterator(folder, ignored))
    names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The folder part of a name.
std::string folderOf(const std::string &name) { return name.substr(0, name.rfind('/')); }

// The process's folder of temporary names is made on the first request and
// lives until unload (or releaseTemporaryFolder): each test makes its own
// under a TMPDIR inside the test's folder.
class TemporaryNameTest : public ModelicaTest {
protected:
  void SetUp() override {
    ModelicaTest::SetUp();
    setenv("TMPDIR", (folder() + "/").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    ModelicaTest::TearDown();
  }
};

TEST_F(TemporaryNameTest, NamesAreNewNamesInOnePrivateFolder) {
  const std::string first = temporaryFileName();
  const std::string second = temporaryFileName();
  EXPECT_NE(first, second);
  EXPECT_EQ(fileStat(first.c_str()), FileKindNone);
  EXPECT_EQ(fileStat(second.c_str()), FileKindNone);
  const std::string privateFolder = folderOf(first);
  EXPECT_EQ(folderOf(second), privateFolder);
  EXPECT_EQ(privateFolder.rfind(folder() + "/modelica-", 0), 0U) << privateFolder;
  EXPECT_EQ(entriesOf(folder()), std::vector<std::string>{privateFolder});
  struct stat info;
  ASSERT_EQ(::stat(privateFolder.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700U);

  // A name the process has taken meanwhile is passed over; the folder stays
  // where it was made.
  const std::string number = second.substr(second.rfind("/tmp") + 4);
  const std::string taken = privateFolder + "/tmp" + std::to_string(std::stoul(number) + 1);
  writeFile(taken, "x");
  setenv("TMPDIR", path("elsewhere").c_str(), 1);
  const std::string third = temporaryFileName();
  EXPECT_EQ(folderOf(third), privateFolder);
  EXPECT_NE(third, taken);
  EXPECT_EQ(fileStat(third.c_str()), FileKindNone);
  EXPECT_EQ(entriesOf(folder()), std::vector<std::string>{privateFolder});
}

TEST_F(TemporaryNameTest, CopyAndRenameToAFreshName) {
  writeFile(path("source"), "some bytes");
  std::string copied, renamed;
  EXPECT_EQ(errorText([&] {
              copied = temporaryFileName();
              copyFile(path("source").c_str(), copied.c_str());
            }),
            "<completed>");
  EXPECT_EQ(errorText([&] {
              renamed = temporaryFileName();
              renameFile(path("source").c_str(), renamed.c_str());
            }),
            "<completed>");
  EXPECT_EQ(readWholeFile(copied), "some bytes");
  EXPECT_EQ(readWholeFile(renamed), "some bytes");
  EXPECT_FALSE(exists(path("source")));
}

TEST_F(TemporaryNameTest, AFailedAttemptLeavesNothingAndTheNextOneTriesAgain) {
  setenv("TMPDIR", path("missing").c_str(), 1);
  EXPECT_EQ(errorText([] { temporaryFileName(); }),
            "Not possible to get temporary filename\nNo such file or directory");
  const std::string tooLong = "/" + std::string(1000, 'n');
  setenv("TMPDIR", tooLong.c_str(), 1);
  EXPECT_EQ(errorText([] { temporaryFileName(); }),
            "Not possible to get temporary filename\nFile name too long");
  setenv("TMPDIR", folder().c_str(), 1);
  platform::sys.mkdtemp = [](char *) -> char * {
    errno = EACCES;
    return nullptr;
  };
  EXPECT_EQ(errorText([] { temporaryFileName(); }),
            "Not possible to get temporary filename\nPermission denied");
  platform::sys.mkdtemp = platform::defaultSystemCalls().mkdtemp;
  EXPECT_EQ(entriesOf(folder()), std::vector<std::string>{});
  std::string name;
  EXPECT_EQ(errorText([&] { name = temporaryFileName(); }), "<completed>");
  EXPECT_EQ(folderOf(folderOf(name)), folder());
}

TEST_F(TemporaryNameTest, TheFolderIsRemovedAtUnloadWhenEmpty) {
  const std::string empty = folderOf(temporaryFileName());
  modelica::releaseTemporaryFolder();
  EXPECT_FALSE(exists(empty));

  const std::string used = temporaryFileName();
  EXPECT_NE(folderOf(used), empty) << "a new folder after the release";
  writeFile(used, "kept");
  modelica::releaseTemporaryFolder();
  EXPECT_EQ(readWholeFile(used), "kept");

  // A folder inherited from another process (as through fork) is not
  // removed by this one; the process makes a folder of its own.
  const std::string parents = folderOf(temporaryFileName());
  platform::sys.getpid = [] { return static_cast<pid_t>(1); };
  const std::string own = folderOf(temporaryFileName());
  EXPECT_NE(own, parents);
  modelica::releaseTemporaryFolder();
  platform::sys.getpid = platform::defaultSystemCalls().getpid;
  EXPECT_FALSE(exists(own));
  EXPECT_TRUE(exists(parents));
}

// The unload itself: a child process that ends normally runs the library's
// destructors (as an unload does).
TEST_F(TemporaryNameTest, AProcessThatEndsRemovesItsEmptyFolder) {
  GTEST_FLAG_SET(death_test_style, "fast");
  modelica::releaseTemporaryFolder();
  auto endAfter = [](bool createFile) {
    ErrorRecoveryScope scope;
    const bool done = scope.run([&] {
      const char *name = temporaryFileName();
      if (createFile) writeFile(name, "kept");
    });
    std::exit(done ? 0 : 1);
  };
  EXPECT_EXIT(endAfter(false), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(entriesOf(folder()), std::vector<std::string>{});
  EXPECT_EXIT(endAfter(true), ::testing::ExitedWithCode(0), "");
  const std::vector<std::string> left = entriesOf(folder());
  ASSERT_EQ(left.size(), 1U);
  EXPECT_EQ(entriesOf(left[0]).size(), 1U);
}

// Threads that ask at once share one folder and never get the same name.
// Run under ThreadSanitizer too.
TEST_F(TemporaryNameTest, ThreadsShareOneFolderAndGetDistinctNames) {
  constexpr int kThreads = 4;
  constexpr int kNames = 50;
  std::vector<std::vector<std::string>> names(kThreads);
  std::atomic<int> waiting{kThreads};
  auto work = [&](int id) {
    waiting.fetch_sub(1);
    while (waiting.load() > 0) std::this_thread::yield();
    ErrorRecoveryScope scope;
    const bool done = scope.run([&] {
      for (int k = 0; k < kNames; ++k) {
        names[id].emplace_back(temporaryFileName());
        endEvaluation();
      }
    });
    if (!done) names[id].clear();
  };
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id) threads.emplace_back(work, id);
  for (std::thread &t : threads) t.join();
  std::set<std::string> all, folders;
  for (const auto &list : names) {
    EXPECT_EQ(list.size(), static_cast<std::size_t>(kNames));
    for (const std::string &name : list) {
      all.insert(name);
      folders.insert(folderOf(name));
    }
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kNames));
  ASSERT_EQ(folders.size(), 1U);
  EXPECT_EQ(entriesOf(folder()), std::vector<std::string>{*folders.begin()});
}

TEST(Slashes, AreTurnedEitherWay) {
  char text[] = "a\\b/c\\\\d";
  slashesToForward(text);
  EXPECT_STREQ(text, "a/b/c//d");
  slashesToBackward(text);
  EXPECT_STREQ(text, "a\\b\\c\\\\d");
}

} // namespace
