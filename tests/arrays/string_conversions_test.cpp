// String conversions: the texts for each option, the width and precision
// checks (negative widths included), the accepted Real formats and the limit
// of their text, enumeration names of any length, where the strings are
// allocated, and a decimal point under a host locale with a decimal comma.
#include "tests/arrays/support.h"
#include "tests/support/comma_locale.h"

#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Text {
  const char *name;
  std::function<char *()> make;
  std::string expected;
};

TEST_F(ArraysTest, ConversionsFormatWithTheirOptions) {
  static const char *const colours[] = {"red", "green"};
  const StringArray names = stringArray({2}, {colours[0], colours[1]});
  const Text cases[] = {
      {"realToString right", [] { return realToString(1.5, 0, 6); }, "   1.5"},
      {"realToString left", [] { return realToString(1.5, 1, 6); }, "1.5   "},
      {"realToString 6 digits", [] { return realToString(1.0 / 3, 0, 0); }, "0.333333"},
      {"realToString -0", [] { return realToString(-0.0, 0, 0); }, "-0"},
      {"realToString NaN", [] { return realToString(kNaN, 0, 4); }, " nan"},
      {"realToString -inf", [] { return realToString(-kInf, 1, 5); }, "-inf "},
      {"realToString 1e300", [] { return realToString(1e300, 0, 0); }, "1e+300"},
      {"realToStringDigits 1/3", [] { return realToStringDigits(1.0 / 3, 0, 3); }, "0.333"},
      {"realToStringDigits 39 digits", [] { return realToStringDigits(0.1, 0, 39); },
       "0.100000000000000005551115123125782702118"},
      {"realToStringDigits negative digits: the default",
       [] { return realToStringDigits(1.0 / 3, 0, -5); }, "0.333333"},
      {"realToStringJustified", [] { return realToStringJustified(-2.5e-7, 1, 12, 2); },
       "-2.5e-07    "},
      {"integerToStringDigits 007", [] { return integerToStringDigits(7, 0, 3); }, "007"},
      {"integerToStringDigits width", [] { return integerToStringDigits(-7, 6, 3); }, "  -007"},
      {"integerToString INT_MIN", [] { return integerToString(INT_MIN, 0, 0); }, "-2147483648"},
      {"integerToString left", [] { return integerToString(42, 1, 5); }, "42   "},
      {"integerToString right 39", [] { return integerToString(1, 0, 39); },
       std::string(38, ' ') + "1"},
      {"booleanToString false", [] { return booleanToString(0, 0, 7); }, "  false"},
      {"booleanToString true", [] { return booleanToString(-3, 1, 6); }, "true  "},
      {"booleanToString short width", [] { return booleanToString(1, 0, 2); }, "true"},
      {"enumerationToString right", [&] { return enumerationToString(2, 0, 7, names); }, "  green"},
      {"enumerationToString left", [&] { return enumerationToString(1, 1, 5, names); }, "red  "},
      {"concatStrings", [] { return concatStrings("ab", "cd"); }, "abcd"},
      {"concatStrings empty", [] { return concatStrings("", ""); }, ""},
      {"realToStringFormat .3f", [] { return realToStringFormat(2.0, ".3f"); }, "2.000"},
      {"realToStringFormat flags", [] { return realToStringFormat(2.0, "-+ #0e"); },
       "+2.000000e+00"},
      {"realToStringFormat 08.2F", [] { return realToStringFormat(-1.5, "08.2F"); }, "-0001.50"},
      {"realToStringFormat .f", [] { return realToStringFormat(2.5, ".f"); }, "2"},
      {"realToStringFormat G", [] { return realToStringFormat(1e-10, "G"); }, "1E-10"},
      {"realToStringFormat 12g", [] { return realToStringFormat(kInf, "12g"); }, "         inf"},
      {"realToStringFormat 99 characters", [] { return realToStringFormat(1.0, ".97f"); },
       "1." + std::string(97, '0')},
      {"realToStringFormat .100g", [] { return realToStringFormat(0.5, ".100g"); }, "0.5"},
      {"realToStringFormat .5g of 2^600", [] { return realToStringFormat(0x1p600, ".5g"); },
       "4.1495e+180"},
      {"realToStringFormat 0.1 to all its digits",
       [] { return realToStringFormat(0.1, ".99999999999999999999G"); },
       "0.1000000000000000055511151231257827021181583404541015625"},
      {"realToStringFormat precision with leading zeros",
       [] { return realToStringFormat(2.0, ".005f"); }, "2.00000"},
      {"realToStringFormat repeated flags",
       [] { return realToStringFormat(1.5, "------+#0+8.1e"); }, "+1.5e+00"},
  };
  for (const Text &c : cases) {
    SCOPED_TRACE(c.name);
    char *const mark = getStringMark();
    const char *text = c.make();
    EXPECT_EQ(text, c.expected);
    EXPECT_EQ(text, mark) << "from the character area";
    EXPECT_EQ(getStringMark(), mark + c.expected.size() + 1) << "exactly the text";
  }
}

TEST_F(ArraysTest, EnumerationNamesHaveNoLengthLimit) {
  const std::string longName(300, 'n');
  const StringArray names = stringArray({1}, {longName.c_str()});
  EXPECT_EQ(std::string(enumerationToString(1, 0, 39, names)), longName);
  EXPECT_EQ(std::string(enumerationToString(1, 1, 0, names)), longName);
}

TEST_F(ArraysTest, WidthsAndDigitsOutsideTheirRangeFail) {
  const StringArray names = stringArray({2}, {"a", "b"});
  const StringArray matrix = stringArray({1, 2}, {"a", "b"});
  const std::string both = assertionText("", "precision<40 && minwidth<40");
  const std::string width = assertionText("", "minwidth<40");
  const std::string literal = assertionText("", "names.ndims==1 && x>=1 && x<=names.dims[0]");
  struct Case {
    const char *name;
    std::function<void()> body;
    std::string text;
  };
  const Case cases[] = {
      {"realToString width 40", [] { realToString(1, 0, 40); }, both},
      {"realToString width -1", [] { realToString(1, 1, -1); }, both},
      {"realToString width INT_MIN", [] { realToString(1, 0, INT_MIN); }, both},
      {"realToStringDigits 40 digits", [] { realToStringDigits(1, 0, 40); }, both},
      {"realToStringJustified 40 digits", [] { realToStringJustified(1, 1, 0, 40); }, both},
      {"integerToStringDigits 40 digits", [] { integerToStringDigits(1, 0, 40); }, both},
      {"integerToStringDigits width -40", [] { integerToStringDigits(1, -40, 0); }, both},
      {"integerToString width 40", [] { integerToString(1, 0, 40); }, width},
      {"integerToString width -1000000", [] { integerToString(1, 0, -1000000); }, width},
      {"booleanToString width 40", [] { booleanToString(1, 0, 40); }, width},
      {"booleanToString width -1", [] { booleanToString(1, 0, -1); }, width},
      {"enumerationToString width 40", [&] { enumerationToString(1, 0, 40, names); }, width},
      {"enumerationToString width -1", [&] { enumerationToString(1, 0, -1, names); }, width},
      {"enumerationToString 0", [&] { enumerationToString(0, 0, 0, names); }, literal},
      {"enumerationToString 3 of 2", [&] { enumerationToString(3, 0, 0, names); }, literal},
      {"enumerationToString INT_MIN", [&] { enumerationToString(INT_MIN, 0, 0, names); }, literal},
      {"enumerationToString of a matrix", [&] { enumerationToString(1, 0, 0, matrix); }, literal},
      {"realToStringFormat 100 characters", [] { realToStringFormat(1.0, ".98f"); },
       assertionText("", "buf[99]=='\\0'")},
      {"realToStringFormat 1e99 with 99 decimals", [] { realToStringFormat(1e99, "99.99f"); },
       assertionText("", "buf[99]=='\\0'")},
      {"realToStringFormat width 100", [] { realToStringFormat(1.0, "100f"); },
       assertionText("", "buf[99]=='\\0'")},
      {"realToStringFormat width 99999", [] { realToStringFormat(1.0, "-99999g"); },
       assertionText("", "buf[99]=='\\0'")},
      {"realToStringFormat width beyond any int",
       [] { realToStringFormat(1.0, "99999999999999999999999e"); },
       assertionText("", "buf[99]=='\\0'")},
      {"realToStringFormat 100 decimals", [] { realToStringFormat(0.5, ".100f"); },
       assertionText("", "buf[99]=='\\0'")},
      {"realToStringFormat 99999 digits kept by #", [] { realToStringFormat(0.5, "#.99999g"); },
       assertionText("", "buf[99]=='\\0'")},
      {"realToStringFormat 2^600 in full", [] { realToStringFormat(0x1p600, ".181g"); },
       assertionText("", "buf[99]=='\\0'")},
      {"realToStringFormat 2^600 at a precision beyond any int",
       [] { realToStringFormat(0x1p600, ".99999999999999999999g"); },
       assertionText("", "buf[99]=='\\0'")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char *const mark = getStringMark();
    EXPECT_EQ(failureOf(c.body), c.text);
    EXPECT_EQ(getStringMark(), mark) << "nothing allocated";
  }
}

TEST_F(ArraysTest, RealFormatsAreFlagsWidthPrecisionAndOneDoubleConversion) {
  const std::string refused = assertionText(
      "A Real format is [flags][width][.precision] and one of e, E, f, F, g, G (flags of -+ #0)",
      "validRealFormat(format)");
  const char *const formats[] = {
      "",   "d",   "s",      "n",      "a",       "%f",  "lf",  ".3lf",  "Lf",
      "*f", ".*f", "100d",   ".100s",  "999n",    "f f", "ff",  "f\n",   "5.3.2f",
      "+",  ".",   "3",      "'f",     "I f",     "5$f", "hhf", "12.",   "e%n",
      "1%", "%%",  "100.5%", "100.*f", "100$.3f", "-0",  ".5",  "g%s%s", "1000000000000",
  };
  for (const char *format : formats) {
    SCOPED_TRACE(format);
    EXPECT_EQ(failureOf([&] { realToStringFormat(1.5, format); }), refused);
  }
  EXPECT_EQ(failureOf([] { realToStringFormat(1.5, nullptr); }), refused);
  EXPECT_EQ(std::string(realToStringFormat(1.5, "-----f")), "1.500000");
  EXPECT_EQ(std::string(realToStringFormat(1.5, "------f")), "1.500000");
}

TEST_F(ArraysTest, ConcatenationFailsWhenTheCharacterAreaIsFull) {
  const std::string half(6000, 'x');
  concatStrings(half.c_str(), "");
  char *const mark = getStringMark();
  EXPECT_EQ(failureOf([&] { concatStrings(half.c_str(), half.c_str()); }),
            assertionText("Room to allocate string", "stringmark+len+1<Endsimplestring"));
  EXPECT_EQ(getStringMark(), mark);
}

// ---- under a host locale with a decimal comma -------------------------------------

class CommaLocaleConversions : public testsupport::CommaLocaleSuite<ArraysTest> {
protected:
  void SetUp() override {
    ArraysTest::SetUp();
    ASSERT_TRUE(commaActive()) << "the comma-decimal locale could not be built";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  }
};

TEST_F(CommaLocaleConversions, NumbersKeepTheirDecimalPoint) {
  EXPECT_STREQ(realToString(1.5, 0, 0), "1.5");
  EXPECT_STREQ(realToStringDigits(1.0 / 3, 0, 2), "0.33");
  EXPECT_STREQ(realToStringJustified(2.25, 1, 6, 3), "2.25  ");
  EXPECT_STREQ(realToStringFormat(1234.5, ".1f"), "1234.5");
  EXPECT_STREQ(realToStringFormat(0.5, "e"), "5.000000e-01");
  EXPECT_STREQ(integerToStringDigits(1234567, 0, 0), "1234567");
}

} // namespace
