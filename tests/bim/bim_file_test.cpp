// File and descriptor modes: file creation and length, the refusals of the
// file layer, and failing system calls (through the system-call record).
#include "tests/bim/bim_support.h"
#include "tests/support/system_calls.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
  static int msync(void *, size_t, int) { return fail(error); }
  static int munmap(void *a, size_t n) {
    ::munmap(a, n);
    return fail(error);
  }
  static int ftruncate(int, off_t) { return fail(error); }
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
  EXPECT_EQ(allReports(), "");
}

TEST_F(BimFile, FilesThatCannotBeLoadedAreRefusedWithTheirReason) {
  const std::string missing = tempPath("missing.bim");
  const std::string empty = tempPath("empty.bim");
  const std::string huge = tempPath("huge.bim");
  writeFile(empty, "");
  int fd = ::open(huge.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 31), 0); // sparse: 2 GiB
  ::close(fd);
  const struct {
    const std::string &path;
    std::string why;
  } cases[] = {
      {missing, "Couldn't open file " + missing + ": No such file or directory\n"},
      {empty, "Failed to mmap " + empty + ": Invalid argument\n"},
      {huge, "Failed to mmap " + huge + ": File too large\n"},
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

TEST_F(BimFile, FailingMappingCallsInAFileDump) {
  const struct {
    const char *name;
    void (*inject)();
    int result;
    const char *report; // its start
  } cases[] = {
      {"mmap", [] { platform::sys.mmap = Fake::mmap; }, -1, "Failed to mmap "},
      {"ftruncate", [] { platform::sys.ftruncate = Fake::ftruncate; }, -1, "ftruncate failed: "},
      {"msync", [] { platform::sys.msync = Fake::msync; }, -1, "msync failed on fd "},
      {"munmap", [] { platform::sys.munmap = Fake::munmap; }, 0, "munmap failed on fd "},
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    SystemCallOverride fakes; // the case's fake goes with the case
    Fake::error = ENOSPC;
    tc.inject();
    reports().clear();
    EXPECT_EQ(bim_dump(map_, BIM_TO_FILE, path_.c_str()), tc.result);
    ASSERT_EQ(reports().size(), 1u) << allReports();
    EXPECT_TRUE(startsWith(reports()[0], tc.report)) << reports()[0];
    EXPECT_NE(reports()[0].find("No space left on device\n"), std::string::npos);
  }
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

} // namespace
