// File and descriptor modes: file creation and length, the refusals of the
// file layer, and failing system calls (through the system-call record).
#include "tests/bim/bim_support.h"
#include "tests/support/system_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>

namespace {

using namespace bimtest;

std::string tempPath(const char *name) {
  return ::testing::TempDir() + "bim_" + std::to_string(::getpid()) + "_" + name;
}

off_t fileSize(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

void writeFile(const std::string &path, const std::string &content) {
  FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}

std::string readFile(const std::string &path) {
  std::string content;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
    std::fclose(f);
  }
  return content;
}

// The names in path's folder that begin with path's name and something more
// (a dump's new files).
std::vector<std::string> filesBeside(const std::string &path) {
  const size_t slash = path.rfind('/');
  const std::string folder = path.substr(0, slash + 1);
  const std::string stem = path.substr(slash + 1);
  std::vector<std::string> found;
  if (DIR *d = ::opendir(folder.empty() ? "." : folder.c_str())) {
    while (const dirent *e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > stem.size() && name.compare(0, stem.size(), stem) == 0)
        found.push_back(name);
    }
    ::closedir(d);
  }
  return found;
}

// Runs body in a child process, so that nothing body does can end the test
// (a signal ends only the child), and gives what went wrong: body's
// complaint ("" when all was well) and how the child ended when that was not
// normally.  A child still running after seconds is ended by SIGALRM.
std::string inChild(const std::function<std::string()> &body, unsigned seconds = 60) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    ::alarm(seconds);
    const std::string complaint = body();
    if (!complaint.empty() && ::write(fds[1], complaint.data(), complaint.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string complaint;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) complaint.append(buffer, size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status))
    complaint += std::string("[child ended by ") + ::strsignal(WTERMSIG(status)) + "]";
  else if (WEXITSTATUS(status) != 0)
    complaint += "[child exit status " + std::to_string(WEXITSTATUS(status)) + "]";
  return complaint;
}

bool startsWith(const std::string &s, const std::string &prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Fakes of the seam: fail with a given error, or after some calls.
struct Fake {
  static inline int error = 0;
  static inline int writeCalls = 0;
  static inline int failWriteAt = 0;
  static void *mmap(void *, size_t, int, int, int, off_t) {
    errno = error;
    return MAP_FAILED;
  }
  static int fail(int e) {
    errno = e;
    return -1;
  }
  static int munmap(void *a, size_t n) {
    ::munmap(a, n);
    return fail(error);
  }
  static int ftruncate(int, off_t) { return fail(error); }
  static int fsync(int) { return fail(error); }
  static int rename(const char *, const char *) { return fail(error); }
  // Writes a few bytes, then fails.
  static ssize_t failingWrite(int fd, const void *p, size_t n) {
    return ++writeCalls == 1 ? ::write(fd, p, n < 5 ? n : 5) : fail(error);
  }
  // Writes at most 5 bytes a call; call failWriteAt fails, EINTR and EAGAIN
  // come before every real write.
  static ssize_t write(int fd, const void *p, size_t n) {
    ++writeCalls;
    if (writeCalls == failWriteAt) return fail(error);
    if (writeCalls % 3 == 1) return fail(EINTR);
    if (writeCalls % 3 == 2) return fail(EAGAIN);
    return ::write(fd, p, n < 5 ? n : 5);
  }
};

class BimFile : public BimTest {
protected:
  void SetUp() override {
    BimTest::SetUp();
    Fake::writeCalls = 0;
    Fake::failWriteAt = 0;
    map_ = bim_map("is", &i_, &s_);
    ASSERT_EQ(bim_pack(map_, 0), 0);
    size_ = size_t(bim_ser_osz(map_));
  }
  void TearDown() override {
    systemCalls_.restore();
    bim_destroy(map_);
    ::unlink(path_.c_str());
    BimTest::TearDown();
  }

  int32_t i_ = 42;
  char *s_ = const_cast<char *>("payload");
  bim_element *map_ = nullptr;
  size_t size_ = 0;
  std::string path_ = tempPath("file.bim");

private:
  SystemCallOverride systemCalls_;
};

TEST_F(BimFile, DumpCreatesTheFileWith0666LessTheUmaskAndCutsALongerOne) {
  for (mode_t mask : {mode_t(022), mode_t(077), mode_t(0)}) {
    SCOPED_TRACE(mask);
    ::unlink(path_.c_str());
    mode_t old = ::umask(mask);
    int r = bim_dump(map_, BIM_TO_FILE, path_.c_str());
    ::umask(old);
    ASSERT_EQ(r, 0);
    struct stat st;
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  }
  writeFile(path_, std::string(1000, 'x'));
  ASSERT_EQ(bim_dump(map_, BIM_TO_FILE, path_.c_str()), 0);
  EXPECT_EQ(fileSize(path_), off_t(size_));
  // An existing file keeps its permissions; a symbolic link stays and the
  // file it names gets the image.
  writeFile(path_, std::string(1000, 'x'));
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  const std::string link = tempPath("link.bim");
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(path_.c_str(), link.c_str()), 0);
  ASSERT_EQ(bim_dump(map_, BIM_TO_FILE, link.c_str()), 0);
  struct stat st;
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(fileSize(path_), off_t(size_));
  ::unlink(link.c_str());
  EXPECT_EQ(allReports(), "");
}

TEST_F(BimFile, FilesThatCannotBeLoadedAreRefusedWithTheirReason) {
  const std::string missing = tempPath("missing.bim");
  const std::string empty = tempPath("empty.bim");
  const std::string huge = tempPath("huge.bim");
  const std::string folder = ::testing::TempDir();
  writeFile(empty, "");
  int fd = ::open(huge.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 32), 0); // sparse: 4 GiB, one more than an image
  ::close(fd);
  const struct {
    const std::string &path;
    std::string why;
  } cases[] = {
      {missing, "Couldn't open file " + missing + ": No such file or directory\n"},
      {empty, "Failed to mmap " + empty + ": Invalid argument\n"},
      {huge, "Failed to mmap " + huge + ": File too large\n"},
      {folder, folder + ": not a regular file\n"},
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.path);
    reports().clear();
    EXPECT_EQ(bim_load(map_, BIM_TO_FILE, tc.path.c_str()), -1);
    EXPECT_EQ(allReports(), "[" + tc.why + "][bim_load failed for file " + tc.path + "\n]");
  }
  ::unlink(empty.c_str());
  ::unlink(huge.c_str());
}

// A file dump that fails at any point (writing, flushing, renaming) reports
// the reason and returns -1; the earlier file keeps its contents and no
// other file is left beside it.
TEST_F(BimFile, AFailedFileDumpLeavesTheEarlierFileAsItWas) {
  const struct {
    const char *name;
    void (*inject)();
    const char *report; // its start
  } cases[] = {
      {"write", [] { platform::sys.write = Fake::failingWrite; }, "error writing to "},
      {"fsync", [] { platform::sys.fsync = Fake::fsync; }, "error writing to "},
      {"rename", [] { platform::sys.rename = Fake::rename; }, "Couldn't rename "},
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    writeFile(path_, "earlier contents");
    SystemCallOverride fakes; // the case's fake goes with the case
    Fake::error = ENOSPC;
    tc.inject();
    reports().clear();
    EXPECT_EQ(bim_dump(map_, BIM_TO_FILE, path_.c_str()), -1);
    fakes.restore();
    ASSERT_EQ(reports().size(), 1u) << allReports();
    EXPECT_TRUE(startsWith(reports()[0], tc.report)) << reports()[0];
    EXPECT_NE(reports()[0].find("No space left on device\n"), std::string::npos);
    EXPECT_EQ(readFile(path_), "earlier contents");
    EXPECT_EQ(filesBeside(path_), std::vector<std::string>{});
  }
  // A name that exists but is no regular file is refused as it stands.
  const std::string fifo = tempPath("dump.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  reports().clear();
  EXPECT_EQ(bim_dump(map_, BIM_TO_FILE, fifo.c_str()), -1);
  EXPECT_EQ(allReports(), "[" + fifo + ": not a regular file\n]");
  struct stat st;
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ::unlink(fifo.c_str());
}

TEST_F(BimFile, ADescriptorDumpRetriesAndAFailedOneGivesTheFileItsLengthBack) {
  platform::sys.write = Fake::write;
  int fd = ::open(path_.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "keep", 4), 4);
  // Partial, interrupted and would-block writes: the whole image arrives.
  ASSERT_EQ(bim_dump(map_, BIM_TO_FD, fd), 0);
  EXPECT_EQ(fileSize(path_), off_t(4 + size_));
  // A write error after some bytes: reported, the bytes of this call cut off.
  Fake::writeCalls = 0;
  Fake::failWriteAt = 9;
  Fake::error = EIO;
  EXPECT_EQ(bim_dump(map_, BIM_TO_FD, fd), -1);
  EXPECT_EQ(allReports(), "[error writing to fd " + std::to_string(fd) + ": Input/output error\n]");
  EXPECT_EQ(fileSize(path_), off_t(4 + size_));
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), off_t(4 + size_));
  // When cutting back fails too, that is reported as well.
  reports().clear();
  Fake::writeCalls = 0;
  platform::sys.ftruncate = Fake::ftruncate;
  EXPECT_EQ(bim_dump(map_, BIM_TO_FD, fd), -1);
  ASSERT_EQ(reports().size(), 2u);
  EXPECT_EQ(reports()[1], "can't rewind: Input/output error\n");
  ::close(fd);
  // A descriptor that is not open.
  reports().clear();
  platform::sys.write = ::write;
  EXPECT_EQ(bim_dump(map_, BIM_TO_FD, fd), -1);
  EXPECT_EQ(allReports(),
            "[error writing to fd " + std::to_string(fd) + ": Bad file descriptor\n]");
}

TEST_F(BimFile, AFileLoadOwnsItsMappingUntilTheNextLoadOrDestroy) {
  ASSERT_EQ(bim_dump(map_, BIM_TO_FILE, path_.c_str()), 0);
  int32_t i = 0;
  char *s = nullptr;
  bim_element *m = bim_map("is", &i, &s);
  ASSERT_EQ(bim_load(m, BIM_TO_FILE, path_.c_str()), 0);
  ::unlink(path_.c_str()); // the mapping stays readable
  ASSERT_EQ(bim_unpack(m, 0), 1);
  EXPECT_EQ(i, 42);
  EXPECT_STREQ(s, "payload");
  std::free(s);
  // Loading again releases the first mapping (ASan and fd counts would show).
  std::vector<uint8_t> image(size_);
  ASSERT_EQ(bim_dump(map_, BIM_TO_MEMORY | BIM_CALLER_BUFFER, image.data(), image.size()), 0);
  ASSERT_EQ(bim_load(m, BIM_TO_MEMORY, image.data(), image.size()), 0);
  EXPECT_EQ(allReports(), "");
  // A failing unmap is reported; the release goes on.
  ASSERT_EQ(bim_dump(map_, BIM_TO_FILE, path_.c_str()), 0);
  ASSERT_EQ(bim_load(m, BIM_TO_FILE, path_.c_str()), 0);
  platform::sys.munmap = Fake::munmap;
  Fake::error = EIO;
  bim_destroy(m);
  EXPECT_EQ(allReports(), "[Failed to munmap: Input/output error\n]");
}

// A FIFO is refused at once, whether or not a writer ever comes (a child
// stands in for the process, which a FIFO without writer would hold up).
TEST_F(BimFile, ALoadRefusesAFifoWithoutWaiting) {
  const std::string fifo = tempPath("load.fifo");
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string complaint = inChild(
      [&]() -> std::string {
        reports().clear();
        if (bim_load(map_, BIM_TO_FILE, fifo.c_str()) != -1) return "the load succeeded";
        const std::string want =
            "[" + fifo + ": not a regular file\n][bim_load failed for file " + fifo + "\n]";
        return allReports() == want ? "" : "reports " + allReports();
      },
      10);
  EXPECT_EQ(complaint, "");
  ::unlink(fifo.c_str());
}

// After a file load the map holds the image that the check accepted: a file
// cut short, a string rewritten in place, or a dump of other values to the
// same name afterwards reaches neither the values unpacked nor the process.
// A child does the load, the change and the unpack, and must end normally.
TEST_F(BimFile, ChangesToAFileAfterItsLoadDoNotReachTheLoadedImage) {
  constexpr int kRecord = 20000;
  std::vector<char> record(kRecord);
  for (int k = 0; k < kRecord; ++k) record[size_t(k)] = char(7 * k + 1);
  char *text = const_cast<char *>("original text");
  bim_element *source = bim_map("c#s", record.data(), kRecord, &text);
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(bim_pack(source, 0), 0);

  const std::string path = path_;
  const struct {
    const char *name;
    std::function<bool()> change;
  } cases[] = {
      {"the file cut to 100 bytes", [&] { return ::truncate(path.c_str(), 100) == 0; }},
      {"the string rewritten in place",
       [&] {
         const size_t at = readFile(path).find("original");
         int fd = ::open(path.c_str(), O_WRONLY);
         bool ok =
             at != std::string::npos && fd >= 0 && ::pwrite(fd, "modified", 8, off_t(at)) == 8;
         ::close(fd);
         return ok;
       }},
      {"other values dumped to the same name",
       [&] {
         std::vector<char> zeros(kRecord, 0);
         char *other = const_cast<char *>("other text");
         bim_element *m = bim_map("c#s", zeros.data(), kRecord, &other);
         bool ok = m && bim_pack(m, 0) == 0 && bim_dump(m, BIM_TO_FILE, path.c_str()) == 0;
         bim_destroy(m);
         return ok;
       }},
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    ASSERT_EQ(bim_dump(source, BIM_TO_FILE, path.c_str()), 0);
    const std::string found = inChild([&]() -> std::string {
      std::vector<char> got(kRecord, 0);
      char *s = nullptr;
      bim_element *m = bim_map("c#s", got.data(), kRecord, &s);
      if (!m || bim_load(m, BIM_TO_FILE, path.c_str()) != 0) return "the load failed";
      if (!tc.change()) return "the change failed";
      std::string complaint;
      const int r = bim_unpack(m, 0);
      if (r != 1)
        complaint = "bim_unpack gave " + std::to_string(r);
      else if (got != record)
        complaint = "other bytes in the record";
      else if (!s || std::strcmp(s, "original text") != 0)
        complaint = std::string("the string is ") + (s ? s : "null");
      std::free(s);
      bim_destroy(m);
      return complaint;
    });
    EXPECT_EQ(found, "");
  }
  bim_destroy(source);
}

// A dump of 4 MB where only 1 MiB fits: on a small tmpfs (where this
// process may mount one) the file system runs out of space; under a file-size
// limit (RLIMIT_FSIZE, SIGXFSZ ignored) the file may not grow.  Either way
// the dump returns -1 with the system's reason, the earlier file survives,
// no other file is left, and the process goes on (a child stands in for it).
TEST_F(BimFile, ADumpThatRunsOutOfSpaceFailsAndKeepsTheEarlierFile) {
  std::vector<unsigned char> bytes(4000000, 0x5a);
  bim_binary big{bytes.data(), uint32_t(bytes.size())};
  bim_element *m = bim_map("B", &big);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(bim_pack(m, 0), 0);

  enum class Way { SmallTmpfs, FileSizeLimit };
  int tried = 0;
  std::string unavailable;
  for (const Way way : {Way::SmallTmpfs, Way::FileSizeLimit}) {
    const bool tmpfs = way == Way::SmallTmpfs;
    SCOPED_TRACE(tmpfs ? "small tmpfs" : "file-size limit");
    std::string folder = ::testing::TempDir();
    if (tmpfs) {
      std::string pattern = folder + "bim_tmpfs_XXXXXX";
      ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
      folder = pattern + "/";
      if (::mount("bimtest", folder.c_str(), "tmpfs", 0, "size=1m") != 0) {
        unavailable += std::string("no small tmpfs (mount: ") + std::strerror(errno) + "); ";
        ::rmdir(folder.c_str());
        continue;
      }
    }
    const std::string path = folder + "bim_" + std::to_string(::getpid()) + "_full.bim";
    writeFile(path, "earlier contents");
    const std::string complaint = inChild([&]() -> std::string {
      if (!tmpfs) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit;
        if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return "unavailable";
        limit.rlim_cur = rlim_t{1} << 20;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return "unavailable";
      }
      reports().clear();
      const int r = bim_dump(m, BIM_TO_FILE, path.c_str());
      if (r != -1) return "bim_dump gave " + std::to_string(r);
      const std::string reason = std::strerror(tmpfs ? ENOSPC : EFBIG);
      const std::string want = "[error writing to " + path + ": " + reason + "\n]";
      return allReports() == want ? "" : "reports " + allReports();
    });
    if (complaint == "unavailable") {
      unavailable += "no file-size limit; ";
    } else {
      ++tried;
      EXPECT_EQ(complaint, "");
      EXPECT_EQ(readFile(path).substr(0, 64), "earlier contents");
      EXPECT_EQ(filesBeside(path), std::vector<std::string>{});
    }
    ::unlink(path.c_str());
    if (tmpfs) {
      ::umount2(folder.c_str(), MNT_DETACH);
      ::rmdir(folder.c_str());
    }
  }
  bim_destroy(m);
  if (!unavailable.empty()) std::printf("not tried: %s\n", unavailable.c_str());
  if (tried == 0) GTEST_SKIP() << "no way to run out of space: " << unavailable;
}

// Reads the first bytes of a file for real and then only moves on: the rest
// of the (sparse) files below is zeros, which the fresh memory of a load
// holds already, so a load of gigabytes takes neither their time nor their
// memory.
struct SparseRead {
  static inline int calls = 0;
  static ssize_t read(int fd, void *p, size_t n) {
    if (++calls == 1) return ::read(fd, p, std::min(n, size_t{4096}));
    return ::lseek(fd, off_t(n), SEEK_CUR) < 0 ? -1 : ssize_t(n);
  }
};

// Whatever a file dump writes, a file load reads back: images up to
// UINT32_MAX bytes, the limit of the 32-bit length field, so also those of
// 2 GiB and more.  One byte more is refused by both.
TEST_F(BimFile, EveryImageLengthADumpWritesAFileLoadReads) {
  constexpr uint64_t kLongest = UINT32_MAX;
  constexpr uint64_t kHeader = 8 + 2 + 4; // "bim", flags, length, "B", the block size
  static char anything;
  bim_binary b{&anything, 0};
  bim_element *m = bim_map("B", &b);
  ASSERT_NE(m, nullptr);
  size_t length = 0;
  b.size = uint32_t(kLongest - kHeader);
  ASSERT_EQ(bim_dump(m, BIM_SIZE_ONLY | BIM_FROM_VARIABLES, &length), 0);
  EXPECT_EQ(length, kLongest);
  b.size += 1;
  EXPECT_EQ(bim_dump(m, BIM_SIZE_ONLY | BIM_FROM_VARIABLES, &length), -1);
  EXPECT_TRUE(startsWith(allReports(), "[bim_dump: image of 4294967296 bytes exceeds"))
      << allReports();

  const std::string big = tempPath("big.bim");
  for (const uint64_t size : {uint64_t{1} << 31, kLongest}) {
    SCOPED_TRACE(size);
    ImageBuilder header(0);
    header.format("B").u32(uint32_t(size - kHeader));
    std::vector<uint8_t> bytes = header.done();
    setLengthField(bytes, uint32_t(size));
    int fd = ::open(big.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ASSERT_EQ(::ftruncate(fd, off_t(size)), 0);
    ::close(fd);
    SystemCallOverride fakes;
    SparseRead::calls = 0;
    platform::sys.read = SparseRead::read;
    reports().clear();
    EXPECT_EQ(bim_load(m, BIM_TO_FILE, big.c_str()), 0) << allReports();
    EXPECT_EQ(static_cast<bim_root_info *>(m->data)->image.size, size);
    bim_destroy(m); // releases the loaded image
    m = bim_map("B", &b);
    ASSERT_NE(m, nullptr);
  }
  ::unlink(big.c_str());
  bim_destroy(m);
}

} // namespace
