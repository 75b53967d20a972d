// The surroundings of the matrix files: a process locale with a decimal comma
// (text files are still written and read with a point), and two threads
// writing and reading files at once (each keeps its own last message).
#include "tests/matfile/support.h"
#include "tests/support/comma_locale.h"

#include <thread>

namespace {

using namespace amattest;

class CommaLocale : public testsupport::CommaLocaleSuite<MatfileTest> {
protected:
  void SetUp() override {
    MatfileTest::SetUp();
    ASSERT_TRUE(commaActive())
        << "the comma-decimal locale could not be built (localedef and locales are needed)";
  }
};

TEST_F(CommaLocale, TextFilesUseADecimalPoint) {
  const std::string file = path("t");
  double d[2] = {1.5, -0.25};
  float f[1] = {2.5F};
  AmatMatrix dm{}, fm{};
  amatSetMatrix("d", 1, 2, doubleMatrix, d, &dm);
  amatSetMatrix("f", 1, 1, realMatrix, f, &fm);
  ASSERT_EQ(amatPutMatrixFile(file.c_str(), 0, dm), 0);
  EXPECT_EQ(readBytes(file),
            "#1\ndouble d(1,2)\n  1.5000000000000000E+00 -2.5000000000000000E-01\n\n");
  {
    Writer w;
    ASSERT_EQ(amatPutOpen(file.c_str(), 0, binTrans, "", "", "", w.get()), 0);
    ASSERT_EQ(amatPutMatrix(w.get(), fm), 0);
    ASSERT_EQ(amatPutRinit(w.get(), "r", 1, realMatrix), 0);
    ASSERT_EQ(amatPutRrow(w.get(), f), 0);
  }
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
  Matrix a, b;
  ASSERT_EQ(amatGetMatrixDefault(r.get(), a.get()), 0);
  ASSERT_EQ(amatGetMatrixDefault(r.get(), b.get()), 0);
  EXPECT_EQ(a.at(0, 0), 2.5);
  EXPECT_EQ(b.at(0, 0), 2.5);
}

class Threads : public MatfileTest {};

// Each thread writes a binary and a text file, reads them back, and fails
// once on purpose; its message is its own.
void useFiles(const std::string &base, int id, int rounds, std::string &failure) {
  for (int k = 0; k < rounds; ++k) {
    for (int format : {0, 1}) {
      const std::string file = base + std::to_string(format);
      AmatPutFile w{};
      if (amatPutOpen(file.c_str(), format, binTrans, "T", "1", "d", &w) != 0) return;
      (void)amatPutRinit(&w, "r", 3, realMatrix);
      for (int i = 0; i < 20; ++i) {
        const float row[3] = {float(id), float(i), float(k)};
        (void)amatPutRrow(&w, row);
      }
      (void)amatPutRend(&w);
      (void)amatPutClose(&w);
      AmatGetFile r{};
      if (amatGetOpen(file.c_str(), "T", "1", &r) != 0) return;
      AmatMatrix m{};
      m.type = realRowMatrix;
      if (amatGetMatrixDefault(&r, &m) != 0 || m.nrow != 20 ||
          static_cast<float **>(m.data)[19][0] != float(id)) {
        failure = "read back";
      }
      amatFreeMatrix(&m);
      amatGetClose(&r);
    }
  }
  AmatGetFile r{};
  const std::string missing = base + "missing";
  (void)amatGetOpen(missing.c_str(), "T", nullptr, &r);
  const std::string expected =
      "Not possible to open file \"" + missing + "\": No such file or directory\n";
  std::this_thread::yield();
  if (amatMessage != expected) failure = std::string("message: ") + amatMessage;
}

TEST_F(Threads, TwoThreadsUseMatrixFilesAtOnce) {
  std::string failure[2];
  std::thread a(useFiles, path("a"), 1, 20, std::ref(failure[0]));
  std::thread b(useFiles, path("b"), 2, 20, std::ref(failure[1]));
  a.join();
  b.join();
  EXPECT_EQ(failure[0], "");
  EXPECT_EQ(failure[1], "");
  for (const char *suffix : {"a0", "a1", "b0", "b1"}) std::remove(tempPath(suffix).c_str());
  EXPECT_STREQ(amatMessage, "No message.") << "the main thread's message is untouched";
  std::string fresh;
  std::thread([&] { fresh = amatMessage; }).join();
  EXPECT_EQ(fresh, "No message.");
}

} // namespace
