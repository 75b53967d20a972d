// "C"-locale formatting and scanning while the process runs under a locale
// with a decimal comma (tests/support/comma_locale.h).
#include "source/clocale/clocale_io.h"
#include "source/kernel.h"
#include "source/runtime_messages.h"
#include "tests/runtime/support.h"
#include "tests/support/comma_locale.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using testsupport::CommaLocale;

class CommaLocaleTest : public testsupport::CommaLocaleSuite<RuntimeTest> {
protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    ASSERT_TRUE(commaActive()) << "the comma-decimal locale could not be built (localedef "
                                  "and the locales package are needed)";
    ASSERT_EQ(CommaLocale::printed(1.5), "1,5") << "the process locale really uses a decimal comma";
  }
};

int vsnprintfWith(char *buffer, std::size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintfC(buffer, size, format, args);
  va_end(args);
  return n;
}

TEST_F(CommaLocaleTest, NumbersArePrintedWithADecimalPoint) {
  char buffer[64];
  EXPECT_EQ(sprintfC(buffer, "%g|%.3f|%E", 1.5, -0.25, 1e10), 23);
  EXPECT_STREQ(buffer, "1.5|-0.250|1.000000E+10");
  EXPECT_EQ(snprintfC(buffer, sizeof buffer, "%.2f", 3.125), 4);
  EXPECT_STREQ(buffer, "3.12");
  EXPECT_EQ(vsnprintfWith(buffer, sizeof buffer, "%g", 0.5), 3);
  EXPECT_STREQ(buffer, "0.5");

  std::FILE *f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fprintfC(f, "%g %g", 2.5, 1e-3), 9);
  std::rewind(f);
  char read[32] = {};
  ASSERT_NE(std::fgets(read, sizeof read, f), nullptr);
  EXPECT_STREQ(read, "2.5 0.001");
  std::fclose(f);

  // The runtime's own texts are "C" too.
  logTextValue("t", 0.5);
  const double value = 2.5;
  kernelPrintReal(0, "x =", &value, 3);
  logMatrixElement("A", 1, 1, -1.5);
  EXPECT_EQ(capturedTexts(), (std::vector<std::string>{"t 0.5", "x = 2.5", "  A[1, 1] = -1.5"}));

  EXPECT_EQ(CommaLocale::printed(1.5), "1,5") << "the wrappers leave the thread's locale as it was";
}

TEST_F(CommaLocaleTest, NumbersAreScannedWithADecimalPoint) {
  EXPECT_EQ(atofC("2.75e1"), 27.5);
  EXPECT_EQ(atoiC("  -42x"), -42);
  EXPECT_EQ(atolC("1234567"), 1234567L);
  double d = 0;
  EXPECT_EQ(sscanfDoubleC("  3.25", &d), 1);
  EXPECT_EQ(d, 3.25);
  float f = 0;
  EXPECT_EQ(sscanfFloatCommaC(" 0.5,", &f), 1);
  EXPECT_EQ(f, 0.5f);
  EXPECT_EQ(sscanfFloatC("1.25", &f), 1);
  EXPECT_EQ(f, 1.25f);
  char c = 0;
  EXPECT_EQ(sscanfDoubleCharC("6.5 q", &d, &c), 2);
  EXPECT_EQ(d, 6.5);
  EXPECT_EQ(c, 'q');
  double a = 0, b = 0;
  int i = 0;
  EXPECT_EQ(sscanfC("1.5;7;2.5", "%lg;%d;%lg", &a, &i, &b, nullptr), 3);
  EXPECT_EQ(a, 1.5);
  EXPECT_EQ(i, 7);
  EXPECT_EQ(b, 2.5);

  std::FILE *file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs(" 0.125\n1.5 2.5 -3.5\n4.75", file);
  std::rewind(file);
  double x = 0, y = 0, z = 0;
  EXPECT_EQ(fscanfDoubleC(file, &x), 1);
  EXPECT_EQ(x, 0.125);
  EXPECT_EQ(fscanfDouble3C(file, &x, &y, &z), 3);
  EXPECT_EQ(x + y + z, 0.5);
  EXPECT_EQ(fscanfFloatC(file, &f), 1);
  EXPECT_EQ(f, 4.75f);
  std::fclose(file);
}

TEST_F(CommaLocaleTest, ReleasedLocaleObjectIsCreatedAgainAtTheNextUse) {
  locale_t *object = getCLocale();
  EXPECT_NE(*object, nullptr);
  releaseCLocale();
  EXPECT_EQ(*object, nullptr);
  char buffer[16];
  sprintfC(buffer, "%g", 0.75);
  EXPECT_NE(*object, nullptr);
  EXPECT_STREQ(buffer, "0.75");
}

TEST(CLocaleIo, BoundedFormattingReportsTextsThatDoNotFit) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(vsnprintfWith(buffer, 8, "%s", "abcdefghijklmnopqrst"), -1);
  EXPECT_STREQ(buffer, "abcdefg");

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(vsnprintfWith(buffer, 0, "%s", "x"), -1);
  EXPECT_EQ(buffer[0], '#') << "a zero-size buffer is not written";

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(vsnprintfWith(buffer, 8, "%s", "1234567"), 7) << "exactly fits";
  EXPECT_STREQ(buffer, "1234567");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(vsnprintfWith(buffer, 8, "%s", "12"), 2);
  EXPECT_EQ(buffer[7], '\0') << "the last position is always terminated";
  EXPECT_EQ(snprintfC(buffer, 4, "%d", 123456), 6);
  EXPECT_STREQ(buffer, "123");
}

TEST(CLocaleIo, FixedFormatScansReadTheirFields) {
  int a = 0, b = 0, c = 0, d = 0, e = 0;
  EXPECT_EQ(sscanfTripleC("1/0x10/-3", &a, &b, &c), 3);
  EXPECT_EQ(a + b + c, 14);
  EXPECT_EQ(sscanfPairC("5/6", &a, &b), 2);
  EXPECT_EQ(a * b, 30);
  EXPECT_EQ(sscanfPairSlashesC("7//8", &a, &b), 2);
  EXPECT_EQ(a * b, 56);
  EXPECT_EQ(sscanfInt4CommaC("1,2,3,4,", &a, &b, &c, &d), 4);
  EXPECT_EQ(a + b + c + d, 10);
  EXPECT_EQ(sscanfInt5C(" 1 2 3 4 5", &a, &b, &c, &d, &e), 5);
  EXPECT_EQ(e, 5);
  EXPECT_EQ(sscanfIC("010", &a), 1);
  EXPECT_EQ(a, 8);
  EXPECT_EQ(sscanfSkipIntC("  -9", &a), 1);
  EXPECT_EQ(a, -9);
  unsigned u = 0;
  EXPECT_EQ(sscanfUnsignedC("77", &u), 1);
  EXPECT_EQ(u, 77u);
  EXPECT_EQ(sscanfSkipUnsignedC("  78", &u), 1);
  EXPECT_EQ(u, 78u);

  char first[256], second[256];
  EXPECT_EQ(sscanfIncludeC("#include \"model.h\"", first), 1);
  EXPECT_STREQ(first, "model.h");
  EXPECT_EQ(sscanfRelationC(" >= limit)", first, second), 2);
  EXPECT_STREQ(first, ">=");
  EXPECT_STREQ(second, "limit)");
  int consumed = 0;
  EXPECT_EQ(sscanfWordCountC("  word rest", first, &consumed), 1);
  EXPECT_STREQ(first, "word");
  EXPECT_EQ(consumed, 6);
  void *target = &a;
  EXPECT_EQ(sscanf1C("12", "%d", target), 1);
  EXPECT_EQ(a, 12);
}

TEST(CLocaleIo, WordScansAreBoundedToTheirBuffers) {
  const std::string longWord(400, 'w');
  struct Guarded {
    char buffer[256];
    char guard[16];
  } g;
  std::memset(&g, 'G', sizeof g);
  EXPECT_EQ(sscanfWordC(longWord.c_str(), g.buffer), 1);
  EXPECT_EQ(std::strlen(g.buffer), 255u);
  EXPECT_EQ(g.guard[0], 'G');

  const std::string include = "#include \"" + longWord + "\"";
  std::memset(&g, 'G', sizeof g);
  sscanfIncludeC(include.c_str(), g.buffer);
  EXPECT_EQ(std::strlen(g.buffer), 255u);
  EXPECT_EQ(g.guard[0], 'G');

  std::FILE *f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs((longWord + "[3]").c_str(), f);
  std::rewind(f);
  std::memset(&g, 'G', sizeof g);
  char next[2];
  EXPECT_EQ(fscanfNameC(f, g.buffer, next), 1);
  EXPECT_EQ(std::strlen(g.buffer), 255u);
  EXPECT_EQ(g.guard[0], 'G');
  std::fclose(f);

  f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("name[2]", f);
  std::rewind(f);
  EXPECT_EQ(fscanfNameC(f, g.buffer, next), 1);
  EXPECT_STREQ(g.buffer, "name");
  EXPECT_STREQ(next, "[");
  EXPECT_EQ(fscanfWordC(f, g.buffer), 1);
  EXPECT_STREQ(g.buffer, "2]");
  std::fclose(f);

  // A backslash ends the name as '[' does.
  f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("dir\\file[1]", f);
  std::rewind(f);
  EXPECT_EQ(fscanfNameC(f, g.buffer, next), 1);
  EXPECT_STREQ(g.buffer, "dir");
  EXPECT_STREQ(next, "\\");
  std::fclose(f);
}

TEST(CLocaleIo, CharacterClassesAndCase) {
  struct Case {
    int c;
    bool alnum, alpha, digit, lower, upper, space;
  } cases[] = {
      {'a', 1, 1, 0, 1, 0, 0}, {'Z', 1, 1, 0, 0, 1, 0},  {'7', 1, 0, 1, 0, 0, 0},
      {' ', 0, 0, 0, 0, 0, 1}, {'\t', 0, 0, 0, 0, 0, 1}, {0xE4, 0, 0, 0, 0, 0, 0},
      {EOF, 0, 0, 0, 0, 0, 0}, {1000, 0, 0, 0, 0, 0, 0}, {-7, 0, 0, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.c);
    EXPECT_EQ(isalnumC(c.c) != 0, c.alnum);
    EXPECT_EQ(isalphaC(c.c) != 0, c.alpha);
    EXPECT_EQ(isdigitC(c.c) != 0, c.digit);
    EXPECT_EQ(islowerC(c.c) != 0, c.lower);
    EXPECT_EQ(isupperC(c.c) != 0, c.upper);
    EXPECT_EQ(isspaceC(c.c) != 0, c.space);
  }
  EXPECT_EQ(toupperC('q'), 'Q');
  EXPECT_EQ(tolowerC('Q'), 'q');
  EXPECT_EQ(toupperC(0xE4), 0xE4);
  EXPECT_EQ(toupperC(1000), 1000);
  EXPECT_EQ(stricmpC("Hello", "hELLO"), 0);
  EXPECT_LT(stricmpC("abc", "ABD"), 0);
}

} // namespace
