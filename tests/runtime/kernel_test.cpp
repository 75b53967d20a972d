// Kernel context, the kernel writer and the fixed-length printing functions.
#include "source/kernel.h"
#include "tests/runtime/support.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using KernelTest = RuntimeTest;
using Lines = std::vector<std::string>;

std::vector<std::pair<int, std::string>> *calls = nullptr;
int recordCall(int type, const char *text) {
  calls->emplace_back(type, text);
  return 17;
}

// Contents of a temporary stream.
std::string contents(std::FILE *f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += char(c);
  return s;
}

TEST_F(KernelTest, DefaultsWriteNothingButTypeZeroLinesReachTheLog) {
  EXPECT_EQ(getKernelContext(), &defaultKernelContext);
  EXPECT_STREQ(defaultKernelContext.messageSource, "?????");
  for (int type : {0, 1, 2, 3}) EXPECT_EQ(kernelWrite(type, "text"), 0);
  kernelPrintFixed(0, "trimmed    ", 11);
  kernelPrintFixed(1, "to nowhere", 10);
  kernelMessage(2, "also nowhere");
  EXPECT_EQ(capturedMessages(), (std::vector<CapturedMessage>{{"trimmed", 1, 0}}));
}

TEST_F(KernelTest, CallbackReceivesEveryWriteSeparately) {
  std::vector<std::pair<int, std::string>> seen;
  calls = &seen;
  defaultKernelContext.messageCallback = recordCall;
  EXPECT_EQ(kernelWrite(0, "direct"), 17);
  kernelMessage(1, "watch out");
  kernelMessage(2, "broken");
  kernelMessage(0, "note");
  const std::vector<std::pair<int, std::string>> expected = {
      {0, "direct"},
      {1, "\n... Warning message from ?????\n"},
      {1, "watch out"},
      {1, "\n"},
      {2, "\n... Error message from ?????\n"},
      {2, "broken"},
      {2, "\n"},
      {0, "note"}};
  EXPECT_EQ(seen, expected);
  calls = nullptr;
}

TEST_F(KernelTest, StreamsByTypeWithPrefixOrEchoToStandardOutput) {
  std::FILE *out = std::tmpfile();
  std::FILE *err = std::tmpfile();
  ASSERT_TRUE(out && err);
  KernelContext own = defaultKernelContext;
  own.outputStream = out;
  own.errorStream = err;
  own.messageSource = "Kernel";
  own.prefixLines = 1;
  currentKernelContext = &own;
  kernelWrite(1, "first\nsecond\n");
  kernelWrite(5, "other\n\nlast");
  EXPECT_EQ(contents(err), "Kernel | first\nKernel | second\n");
  EXPECT_EQ(contents(out), "Kernel | other\nKernel | \nKernel | last");

  own.prefixLines = 0;
  testing::internal::CaptureStdout();
  kernelWrite(2, "plain");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "plain");
  EXPECT_EQ(contents(err), "Kernel | first\nKernel | second\nplain");

  own.suppressOutput = 1;
  kernelWrite(0, "hidden");
  EXPECT_EQ(contents(out), "Kernel | other\nKernel | \nKernel | last");
  currentKernelContext = nullptr;
  std::fclose(out);
  std::fclose(err);
}

TEST_F(KernelTest, FixedMessagesCopyTheirLengthAndAddALineFeed) {
  std::vector<std::pair<int, std::string>> seen;
  calls = &seen;
  defaultKernelContext.messageCallback = recordCall;
  const std::string long2000(2000, 'x');
  const int zero = 0;
  kernelMessageFixed(&zero, long2000.c_str(), 2000);
  kernelMessageFixed(&zero, "abcdef", 3);
  kernelMessageFixed(&zero, "ab", 10); // ends earlier: no line feed in the text
  kernelMessageFixed(&zero, "abc", -5);
  EXPECT_EQ(kernelInfoFixed("info", 4), 0);
  const std::vector<std::pair<int, std::string>> expected = {
      {0, std::string(998, 'x') + "\n"}, {0, "abc\n"}, {0, "ab"}, {0, "\n"}, {0, "info\n"}};
  EXPECT_EQ(seen, expected);
  calls = nullptr;
}

TEST_F(KernelTest, CopyFixedStringTrimsBlanksAndBoundsTheCopy) {
  struct Case {
    const char *src;
    int length;
    int dstSize;
    const char *expected;
  } cases[] = {
      {"   ", 3, 200, " "},        {"ab  ", 4, 200, "ab"}, {"abcdefgh", 8, 5, "abc"},
      {"abc\0def", 7, 200, "abc"}, {"word", 0, 200, ""},   {"word", -3, 200, ""},
      {"a b   ", 6, 200, "a b"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.src);
    char dst[200];
    int n = copyFixedString(c.src, c.length, dst, c.dstSize);
    EXPECT_STREQ(dst, c.expected);
    EXPECT_EQ(n, int(std::string(c.expected).size()));
  }
}

TEST_F(KernelTest, PrintFunctionsAppendOneNumberAfterTheTrimmedText) {
  const int seven = 7;
  const double time = 2.5;
  logFixedInt("...     ", &seven, 8);
  kernelPrintReal(0, "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = ", &time, 49);
  kernelPrintInt(0, "...    Linear system of equations number = ", &seven, 43);
  kernelPrintText(0, "as is  ");
  const std::string longText(300, 'L');
  kernelPrintInt(0, longText.c_str(), &seven, 300);
  kernelPrintReal(0, longText.c_str(), &time, 300);
  EXPECT_EQ(capturedTexts(), (Lines{"... 7", "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5",
                                    "...    Linear system of equations number = 7", "as is  ",
                                    std::string(183, 'L') + " 7", std::string(178, 'L') + " 2.5"}));

  std::vector<std::pair<int, std::string>> seen;
  calls = &seen;
  defaultKernelContext.messageCallback = recordCall;
  kernelPrintInt(1, "n =", &seven, 3);
  logFixedInt("always logged", &seven, 13);
  const std::vector<std::pair<int, std::string>> expected = {{1, "n = 7"}, {1, "\n"}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(capturedTexts().back(), "always logged 7");
  calls = nullptr;
}

TEST_F(KernelTest, UserArraysFollowTheLastInstanceAndAreReleasedOnlyByTheirOwner) {
  double duserA[6], duserB[6];
  int iuserA[14], iuserB[14];
  setUserArrays(duserA, iuserA);
  setUserArrays(duserB, iuserB);
  EXPECT_EQ(getDUSER(), duserB);
  EXPECT_EQ(getIUSER(), iuserB);
  releaseUserArrays(duserA, iuserA);
  EXPECT_EQ(getDUSER(), duserB) << "freeing an older instance keeps the pair";
  releaseUserArrays(duserB, iuserB);
  EXPECT_EQ(getDUSER(), nullptr);
  EXPECT_EQ(getIUSER(), nullptr);
}

} // namespace
