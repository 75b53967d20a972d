#include "tests/modelica/support.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "source/runtime.h"

namespace fs = std::filesystem;

void ModelicaTest::SetUp() {
  RuntimeTest::SetUp();
  std::string pattern = (fs::temp_directory_path() / "modelica-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  folder_ = fs::canonical(pattern).string();
}

void ModelicaTest::TearDown() {
  systemCalls_.restore();
  // The folder of temporary names goes with the test's folder.
  modelica::releaseTemporaryFolder();
  EXPECT_EQ(modelica::cachedFileCount(), 0) << "the test left files in the open-file cache";
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
  RuntimeTest::TearDown();
}

void writeFile(const std::string &file, const std::string &content) {
  std::ofstream out(file, std::ios::binary);
  out << content;
  ASSERT_TRUE(out.good()) << file;
}

std::string readWholeFile(const std::string &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string &file) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(file, ignored));
}

std::string errorText(const std::function<void()> &body) {
  clearMessages();
  ErrorRecoveryScope scope;
  if (scope.run(body)) return "<completed>";
  const std::vector<std::string> texts = capturedTexts();
  return texts.size() >= 2 ? texts[1] : "<no report>";
}

WorkingDirectory::WorkingDirectory(const std::string &folder)
    : previous_(fs::current_path().string()) {
  fs::current_path(folder);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

namespace {

int mallocCountdown = 0;
int mallocCount = 0;
int streamBalance = 0;

void *countdownMalloc(std::size_t size) {
  ++mallocCount;
  if (mallocCountdown > 0 && --mallocCountdown == 0) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::malloc(size);
}

std::FILE *countingOpen(const char *file, const char *mode) {
  std::FILE *stream = platform::defaultSystemCalls().fopen(file, mode);
  if (stream != nullptr) ++streamBalance;
  return stream;
}

int countingClose(std::FILE *stream) {
  --streamBalance;
  return platform::defaultSystemCalls().fclose(stream);
}

} // namespace

void failMallocAt(int n) {
  mallocCountdown = n;
  mallocCount = 0;
  platform::sys.malloc = countdownMalloc;
}

int mallocCalls() { return mallocCount; }

void countStreams() {
  streamBalance = 0;
  platform::sys.fopen = countingOpen;
  platform::sys.fclose = countingClose;
}

int openStreams() { return streamBalance; }
