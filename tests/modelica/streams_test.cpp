// Stream functions and the open-file cache.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "source/runtime.h"
#include "tests/modelica/support.h"

namespace fs = std::filesystem;

namespace {

using StreamTest = ModelicaTest;

struct Line {
  std::string text;
  int endOfFile;
  bool operator==(const Line &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Line &line) {
  return out << "{\"" << line.text << "\", " << line.endOfFile << "}";
}

Line lineOf(const std::string &file, int number) {
  int endOfFile = -1;
  const char *text = readLine(file.c_str(), number, &endOfFile);
  return {text, endOfFile};
}

TEST_F(StreamTest, LastLineWithoutLineFeedCounts) {
  const std::string file = path("f");
  writeFile(file, "a\nb");
  EXPECT_EQ(countLines(file.c_str()), 2);
  EXPECT_EQ(lineOf(file, 1), (Line{"a", 0}));
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), 1);
  EXPECT_EQ(lineOf(file, 2), (Line{"b", 0}));
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), 2);
  EXPECT_EQ(lineOf(file, 3), (Line{"", 1}));
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), -1);
}

TEST_F(StreamTest, TheSegmentAfterAFinalLineFeedIsNoLine) {
  const std::string file = path("f");
  writeFile(file, "a\nb\n");
  EXPECT_EQ(countLines(file.c_str()), 2);
  EXPECT_EQ(lineOf(file, 2), (Line{"b", 0}));
  EXPECT_EQ(lineOf(file, 3), (Line{"", 1}));
  writeFile(file, "");
  EXPECT_EQ(countLines(file.c_str()), 0);
  EXPECT_EQ(lineOf(file, 1), (Line{"", 1}));
  writeFile(file, "\n\nx");
  EXPECT_EQ(countLines(file.c_str()), 3);
  EXPECT_EQ(lineOf(file, 2), (Line{"", 0}));
  EXPECT_EQ(lineOf(file, 3), (Line{"x", 0}));
  closeFile(file.c_str());
}

TEST_F(StreamTest, CarriageReturnsBeforeLineFeedsAreDropped) {
  const std::string file = path("f");
  const std::string exact(200, 's'), longer(300, 'L'), huge(500, 'h');
  writeFile(file, "short\r\n" + exact + "\r\n" + longer + "\r\nafter\r\n" + huge + "\nend\r");
  const std::vector<Line> expected = {{"short", 0}, {exact, 0}, {longer, 0},
                                      {"after", 0}, {huge, 0},  {"end", 0}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(lineOf(file, static_cast<int>(i + 1)), expected[i]);
  }
  EXPECT_EQ(lineOf(file, 7), (Line{"", 1}));

  ASSERT_EQ(countLines(file.c_str()), 6);
  const char *strings[6] = {};
  EXPECT_EQ(errorText([&] { readFile(file.c_str(), strings, 6); }), "<completed>");
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(strings[i], expected[i].text);
}

TEST_F(StreamTest, AnEarlierLineRewindsTheCachedStream) {
  const std::string file = path("f");
  writeFile(file, "1\n2\n3\n4\n5\n6\n");
  EXPECT_EQ(lineOf(file, 5), (Line{"5", 0}));
  EXPECT_EQ(lineOf(file, 3), (Line{"3", 0}));
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), 3);
  EXPECT_EQ(lineOf(file, 3), (Line{"3", 0}));
  EXPECT_EQ(lineOf(file, 6), (Line{"6", 0}));
  closeFile(file.c_str());
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), -1);
  closeFile(file.c_str()); // nothing to close
}

int countingGetcCalls = 0;
int countingGetc(std::FILE *stream) {
  ++countingGetcCalls;
  return platform::defaultSystemCalls().getc(stream);
}

TEST_F(StreamTest, ReadingLinesInOrderReadsEachCharacterOnce) {
  const std::string file = path("f");
  std::string content;
  for (int i = 0; i < 100; ++i) content += "line " + std::to_string(1000 + i) + "\n";
  writeFile(file, content);
  countingGetcCalls = 0;
  platform::sys.getc = countingGetc;
  for (int i = 1; i <= 100; ++i) {
    ASSERT_EQ(lineOf(file, i), (Line{"line " + std::to_string(999 + i), 0}));
  }
  EXPECT_EQ(countingGetcCalls, static_cast<int>(content.size()));
  closeFile(file.c_str());
}

// The cache keeps a stream only while its name still designates the same,
// unchanged file: whatever happens to the file in between, through the
// library's own file functions or another program, the next read gives what
// opening the file anew would give.
TEST_F(StreamTest, TheCacheNeverReadsAFileTheNameNoLongerDesignates) {
  const std::string p = path("p.txt"), q = path("q.txt"), other = path("other.txt");
  const std::string missing =
      "Not possible to open file \"" + p + "\" for reading:\nNo such file or directory\n";
  struct Case {
    const char *name;
    std::function<void()> change;
    Line line1;
    int lines;           // countLines afterwards (-1: not asked)
    std::string failure; // the error of reading line 1 instead
  };
  const Case cases[] = {
      {"removeFile, then a new file",
       [&] {
         removeFile(p.c_str());
         writeFile(p, "new1");
       },
       {"new1", 0},
       1,
       ""},
      {"renameFile", [&] { renameFile(p.c_str(), q.c_str()); }, {}, -1, missing},
      {"renameFile, then a new file",
       [&] {
         renameFile(p.c_str(), q.c_str());
         writeFile(p, "new1\nnew2\nnew3\n");
       },
       {"new1", 0},
       3,
       ""},
      {"copyFile onto the name after another program removed it",
       [&] {
         writeFile(other, "copied");
         fs::remove(p);
         copyFile(other.c_str(), p.c_str());
       },
       {"copied", 0},
       1,
       ""},
      {"another program removes it and writes a new file",
       [&] {
         fs::remove(p);
         writeFile(p, "new1");
       },
       {"new1", 0},
       1,
       ""},
      {"another program renames another file onto it",
       [&] {
         writeFile(other, "moved\n");
         fs::rename(other, p);
       },
       {"moved", 0},
       1,
       ""},
      {"another program rewrites it in place", [&] { writeFile(p, "only"); }, {"only", 0}, 1, ""},
      {"another program empties it", [&] { writeFile(p, ""); }, {"", 1}, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(p, "old1\nold2");
    ASSERT_EQ(lineOf(p, 1), (Line{"old1", 0}));
    c.change();
    if (c.failure.empty()) {
      EXPECT_EQ(lineOf(p, 1), c.line1);
      EXPECT_EQ(countLines(p.c_str()), c.lines);
    } else {
      EXPECT_EQ(errorText([&] { lineOf(p, 1); }), c.failure);
    }
    closeFile(p.c_str());
    fs::remove(p);
    fs::remove(q);
  }
}

TEST_F(StreamTest, AFileRewrittenShorterEndsWhereItNowEnds) {
  const std::string t = path("t.txt");
  writeFile(t, "l1\nl2\nl3\n");
  EXPECT_EQ(lineOf(t, 2), (Line{"l2", 0}));
  writeFile(t, "only");
  EXPECT_EQ(lineOf(t, 3), (Line{"", 1}));
  EXPECT_EQ(modelica::cachedFileLine(t.c_str()), -1);
  // Lengthened: the lines after the ones read come from the new text.
  writeFile(t, "a\nb\n");
  EXPECT_EQ(lineOf(t, 1), (Line{"a", 0}));
  writeFile(t, "A\nB\nC\n");
  EXPECT_EQ(lineOf(t, 2), (Line{"B", 0}));
  const char *strings[3] = {};
  EXPECT_EQ(errorText([&] { readFile(t.c_str(), strings, 3); }), "<completed>");
  EXPECT_STREQ(strings[0], "A");
  EXPECT_STREQ(strings[2], "C");
  closeFile(t.c_str());
}

TEST_F(StreamTest, RelativeNamesFollowTheWorkingDirectory) {
  fs::create_directory(path("d1"));
  fs::create_directory(path("d2"));
  writeFile(path("d1/f.txt"), "in d1\n");
  writeFile(path("d2/f.txt"), "in d2\nsecond\n");
  WorkingDirectory inFolder(folder());
  changeDirectory("d1");
  EXPECT_EQ(lineOf("f.txt", 1), (Line{"in d1", 0}));
  changeDirectory("../d2");
  EXPECT_EQ(modelica::cachedFileLine("f.txt"), -1);
  EXPECT_EQ(lineOf("f.txt", 1), (Line{"in d2", 0}));
  EXPECT_EQ(countLines("f.txt"), 2);
  closeFile("f.txt");
}

// The library's own file functions drop the entries they make stale at
// once, also under another name of the same file.
TEST_F(StreamTest, RemovingOrRenamingAFileDropsItsEntries) {
  const std::string p = path("p.txt"), q = path("q.txt");
  const std::string sameFile = folder() + "/./p.txt";
  writeFile(p, "a\nb\n");
  EXPECT_EQ(lineOf(p, 1), (Line{"a", 0}));
  EXPECT_EQ(lineOf(sameFile, 2), (Line{"b", 0}));
  EXPECT_EQ(modelica::cachedFileCount(), 2);
  removeFile(p.c_str());
  EXPECT_EQ(modelica::cachedFileCount(), 0);

  writeFile(p, "a\nb\n");
  EXPECT_EQ(lineOf(sameFile, 1), (Line{"a", 0}));
  renameFile(p.c_str(), q.c_str());
  EXPECT_EQ(modelica::cachedFileCount(), 0);
  EXPECT_EQ(lineOf(q, 2), (Line{"b", 0}));
  writeFile(p, "c\n");
  copyFile(p.c_str(), path("r.txt").c_str());
  EXPECT_EQ(modelica::cachedFileLine(q.c_str()), 2) << "an entry of another file stays";
  closeFile(q.c_str());
}

int refusedFstat(int, struct stat *) {
  errno = EIO;
  return -1;
}
int refusedStat(const char *, struct stat *) {
  errno = EIO;
  return -1;
}

// A stream whose file cannot be examined is not trusted: it is not kept, or
// it is not used, and the file is read anew.
TEST_F(StreamTest, AStreamWhoseFileCannotBeExaminedIsReadAnew) {
  const std::string file = path("f");
  writeFile(file, "1\n2\n3\n");
  platform::sys.fstat = refusedFstat;
  EXPECT_EQ(lineOf(file, 1), (Line{"1", 0}));
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), -1);
  platform::sys.fstat = platform::defaultSystemCalls().fstat;
  EXPECT_EQ(lineOf(file, 2), (Line{"2", 0}));
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), 2);
  countStreams();
  platform::sys.stat = refusedStat;
  EXPECT_EQ(lineOf(file, 3), (Line{"3", 0}));
  EXPECT_EQ(openStreams(), 0) << "the cached stream is closed, another one kept";
  closeFile(file.c_str());
}

TEST_F(StreamTest, ReadFileReadsTheFirstLinesAndLeavesTheCacheEntryWithoutStream) {
  const std::string file = path("f");
  writeFile(file, "one\ntwo\nthree\n");
  EXPECT_EQ(lineOf(file, 2), (Line{"two", 0}));
  const char *strings[4] = {};
  EXPECT_EQ(errorText([&] { readFile(file.c_str(), strings, 4); }), "<completed>");
  EXPECT_STREQ(strings[0], "one");
  EXPECT_STREQ(strings[1], "two");
  EXPECT_STREQ(strings[2], "three");
  EXPECT_STREQ(strings[3], ""); // beyond the end
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), -2);
  // The next line comes from a newly opened stream.
  EXPECT_EQ(lineOf(file, 3), (Line{"three", 0}));
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), 3);
  closeFile(file.c_str());
}

TEST_F(StreamTest, LineNumbersBelowOneAreRefusedAndTheCacheStays) {
  const std::string file = path("f");
  writeFile(file, "1\n2\n3\n");
  EXPECT_EQ(lineOf(file, 2), (Line{"2", 0}));
  for (int number : {0, -1, -999}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(errorText([&] { lineOf(file, number); }),
              "Error when reading line " + std::to_string(number) + " from file\n\"" + file +
                  "\":\nInvalid argument");
    EXPECT_EQ(modelica::cachedFileLine(file.c_str()), 2);
  }
  EXPECT_EQ(lineOf(file, 3), (Line{"3", 0}));
  closeFile(file.c_str());
}

TEST_F(StreamTest, FilesThatCannotBeReadAreErrors) {
  const std::string missing = path("missing"), dir = path("dir");
  std::filesystem::create_directory(dir);
  EXPECT_EQ(errorText([&] { lineOf(missing, 1); }),
            "Not possible to open file \"" + missing +
                "\" for reading:\nNo such file or directory\n");
  EXPECT_EQ(errorText([&] { countLines(dir.c_str()); }),
            "Not possible to open file \"" + dir + "\" for reading:\nIs a directory\n");
}

TEST_F(StreamTest, PrintToFileAppendsALine) {
  const std::string file = path("out");
  printToFile("first", file.c_str());
  printToFile("", file.c_str());
  printToFile("third", file.c_str());
  EXPECT_EQ(readWholeFile(file), "first\n\nthird\n");
  EXPECT_TRUE(capturedMessages().empty());
}

TEST_F(StreamTest, PrintToFileWithoutANameLogsTheText) {
  printToFile("to the log", "");
  EXPECT_EQ(capturedMessages(), (std::vector<CapturedMessage>{{"to the log\n", 0, 0}}));
}

TEST_F(StreamTest, PrintToFileClosesTheCachedReader) {
  const std::string file = path("f");
  writeFile(file, "a\n");
  EXPECT_EQ(lineOf(file, 1), (Line{"a", 0}));
  printToFile("b", file.c_str());
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), -1);
  EXPECT_EQ(lineOf(file, 2), (Line{"b", 0}));
  closeFile(file.c_str());
}

TEST_F(StreamTest, WritingToAFullDiskIsAnError) {
  EXPECT_EQ(errorText([] { printToFile("text", "/dev/full"); }),
            "Error when writing string to file \"/dev/full\":\nNo space left on device\n");
  const std::string nowhere = path("nowhere/out");
  EXPECT_EQ(errorText([&] { printToFile("text", nowhere.c_str()); }),
            "Not possible to open file \"" + nowhere +
                "\" for writing:\nNo such file or directory\n");
  EXPECT_EQ(errorText([] { modelica::openForAppend(""); }),
            "fileName is an empty string.\nOpening of file is aborted\n");
}

std::size_t refusedWrite(const void *, std::size_t, std::size_t, std::FILE *) {
  errno = EFBIG;
  return 0;
}

TEST_F(StreamTest, AFailedWriteIsAnError) {
  const std::string file = path("out");
  platform::sys.fwrite = refusedWrite;
  EXPECT_EQ(errorText([&] { printToFile("text", file.c_str()); }),
            "Error when writing string to file \"" + file + "\":\nFile too large\n");
}

// Fails every allocation of the cache in turn; the lines still come right,
// no stream stays open and nothing leaks (under AddressSanitizer).
TEST_F(StreamTest, AnEntryThatCannotBeStoredIsNotStored) {
  const std::string file = path("f");
  writeFile(file, "a\nb\nc\n");
  countStreams();
  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    failMallocAt(n);
    EXPECT_EQ(lineOf(file, 1), (Line{"a", 0}));
    EXPECT_EQ(lineOf(file, 2), (Line{"b", 0}));
    const int calls = mallocCalls();
    const bool stored = modelica::cachedFileLine(file.c_str()) == 2;
    EXPECT_EQ(lineOf(file, 3), (Line{"c", 0}));
    closeFile(file.c_str());
    EXPECT_EQ(openStreams(), 0);
    EXPECT_EQ(modelica::cachedFileCount(), 0);
    if (n > calls) {
      EXPECT_TRUE(stored);
      break;
    }
  }
}

TEST_F(StreamTest, LinesBeyondTheCharacterAreaAreErrors) {
  const std::string file = path("f");
  writeFile(file, "a line\nsecond\n");
  ModelicaAllocateString(static_cast<std::size_t>(SimplestringSize) - 4);
  EXPECT_EQ(errorText([&] { lineOf(file, 1); }),
            "Error when reading line 1 from file\n\"" + file +
                "\":\nNot enough memory to allocate string for reading line.");
  EXPECT_EQ(modelica::cachedFileLine(file.c_str()), -1);
  const char *strings[2] = {};
  EXPECT_EQ(errorText([&] { readFile(file.c_str(), strings, 2); }),
            "Not enough memory to allocate string for reading line 1 from file\n\"" + file +
                "\".\n(this file contains 2 lines)\n");
}

int refusedSetpos(std::FILE *, const fpos_t *) {
  errno = ESPIPE;
  return -1;
}
std::size_t shortRead(void *buffer, std::size_t size, std::size_t count, std::FILE *stream) {
  errno = 0;
  return platform::defaultSystemCalls().fread(buffer, size, count / 2, stream);
}
int failingGetc(std::FILE *) {
  errno = EIO;
  return EOF;
}
int errorSet(std::FILE *) { return 1; }

TEST_F(StreamTest, FailuresWhileReadingALineAreErrors) {
  const std::string file = path("f");
  writeFile(file, std::string(300, 'x') + "\nshort\n");
  const std::string at = " from file\n\"" + file + "\"";
  struct Case {
    const char *name;
    std::function<void()> arrange;
    std::string lineText, fileText;
  };
  const Case cases[] = {
      {"repositioning", [] { platform::sys.fsetpos = refusedSetpos; },
       "Error when reading line 1" + at + ":\nIllegal seek",
       "Error when reading line 1" + at + ":\nIllegal seek\n"},
      {"short read", [] { platform::sys.fread = shortRead; },
       "Error when reading line 1" + at + ":\nInput/output error",
       "Error when reading line 1" + at + "\n"},
      {"read error",
       [] {
         platform::sys.getc = failingGetc;
         platform::sys.ferror = errorSet;
       },
       "Error when reading line 1" + at + ":\nInput/output error",
       "Error when reading line 1" + at + ":\nInput/output error\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    EXPECT_EQ(errorText([&] { lineOf(file, 1); }), c.lineText);
    EXPECT_EQ(modelica::cachedFileLine(file.c_str()), -1);
    const char *strings[2] = {};
    EXPECT_EQ(errorText([&] { readFile(file.c_str(), strings, 2); }), c.fileText);
    platform::sys = platform::defaultSystemCalls();
  }
  platform::sys.getc = failingGetc;
  platform::sys.ferror = errorSet;
  EXPECT_EQ(errorText([&] { countLines(file.c_str()); }),
            "Error when reading line 1" + at + ":\nInput/output error\n");
}

TEST_F(StreamTest, ReadLineCallReturnsBothOutputs) {
  const std::string file = path("f");
  writeFile(file, "only\n");
  ReadLineResult first = readLineCall(file.c_str(), 1);
  EXPECT_STREQ(first.string, "only");
  EXPECT_EQ(first.endOfFile, 0);
  ReadLineResult second = readLineCall(file.c_str(), 2);
  EXPECT_STREQ(second.string, "");
  EXPECT_EQ(second.endOfFile, 1);
}

// Two threads read a shared file and files of their own, write, and close,
// all through the one process-wide cache.  Run under ThreadSanitizer too.
TEST_F(StreamTest, TwoThreadsShareTheCache) {
  const std::string shared = path("shared");
  std::string content;
  constexpr int kLines = 40;
  for (int i = 1; i <= kLines; ++i) content += "shared " + std::to_string(i) + "\n";
  writeFile(shared, content);
  std::vector<std::string> failures(2);
  auto rounds = [&](int id) {
    const std::string own = path("own" + std::to_string(id));
    writeFile(own, "x\ny\n");
    for (int round = 0; round < 200; ++round) {
      const int number = 1 + (round * 7 + id * 3) % kLines;
      int endOfFile = -1;
      const std::string text = readLine(shared.c_str(), number, &endOfFile);
      if (text != "shared " + std::to_string(number) || endOfFile != 0) {
        failures[id] = "shared line " + std::to_string(number) + ": " + text;
      }
      if (std::string(readLine(own.c_str(), 1 + round % 2, &endOfFile)) !=
          (round % 2 == 0 ? "x" : "y")) {
        failures[id] = "own line";
      }
      if (round % 10 == 9) {
        printToFile("z", (own + "-log").c_str());
        closeFile(own.c_str());
      }
      if (round % 25 == 24) closeFile(shared.c_str());
      endEvaluation();
    }
    closeFile(own.c_str());
  };
  auto work = [&](int id) {
    ErrorRecoveryScope scope;
    if (!scope.run([&] { rounds(id); })) failures[id] = "model error";
  };
  std::thread first(work, 0), second(work, 1);
  first.join();
  second.join();
  closeFile(shared.c_str());
  EXPECT_EQ(failures, (std::vector<std::string>{"", ""}));
  std::string log;
  for (int i = 0; i < 20; ++i) log += "z\n";
  EXPECT_EQ(readWholeFile(path("own0-log")), log);
  EXPECT_EQ(readWholeFile(path("own1-log")), log);
}

} // namespace
