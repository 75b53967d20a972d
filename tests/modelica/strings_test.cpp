// String and scanning functions.
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "tests/modelica/support.h"

namespace {

using StringTest = RuntimeTest;

TEST_F(StringTest, SubstringTakesTheCharactersBetweenBothIndices) {
  EXPECT_STREQ(stringSubstring("abcdef", 2, 4), "bcd");
  EXPECT_STREQ(stringSubstring("abcdef", 3, -999), "c");
  EXPECT_STREQ(stringSubstring("abcdef", 1, 6), "abcdef");
  EXPECT_STREQ(stringSubstring("abcdef", 6, 6), "f");
}

TEST_F(StringTest, SubstringIndicesOutsideTheStringAreErrors) {
  struct Case {
    int start, end;
    std::string text;
  };
  const Case cases[] = {
      {0, 2,
       "Wrong call of Utilities.Strings.substring:\n  startIndex = 0 (has to be > 0).\n  string"
       "     = \"abcdef\"\n"},
      {4, 2,
       "Wrong call of  Utilities.Strings.substring:\n  startIndex = 4\n  endIndex   = 2 (>= "
       "startIndex required)\n  string     = \"abcdef\"\n"},
      {2, 7,
       "Wrong call of Utilities.Strings.substring:\n  endIndex = 7 (<= 6 required "
       "(=length(string)).\n  string   = \"abcdef\"\n"},
      {8, -999,
       "Wrong call of Utilities.Strings.substring:\n  endIndex = 8 (<= 6 required "
       "(=length(string)).\n  string   = \"abcdef\"\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + ", " + std::to_string(c.end));
    EXPECT_EQ(errorText([&] { stringSubstring("abcdef", c.start, c.end); }), c.text);
  }
}

TEST_F(StringTest, CompareOrdersBytesOrLowerCaseForms) {
  struct Case {
    const char *a, *b;
    int caseSensitive, result;
  };
  const Case cases[] = {
      {"abc", "ABD", 0, 1}, {"ABD", "abc", 0, 3}, {"abc", "ABC", 0, 2}, {"a", "A", 1, 3},
      {"A", "a", 1, 1},     {"ab", "abc", 0, 1},  {"abc", "ab", 0, 3},  {"", "", 0, 2},
      {nullptr, "a", 1, 2}, {"a", nullptr, 0, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "null") + " vs " + (c.b ? c.b : "null"));
    EXPECT_EQ(stringCompare(c.a, c.b, c.caseSensitive), c.result);
  }
}

TEST_F(StringTest, LengthWhiteSpaceAndDigits) {
  EXPECT_EQ(stringLength(""), 0);
  EXPECT_EQ(stringLength("abc"), 3);
  EXPECT_EQ(skipWhiteSpace("  \t\nx", 1), 5);
  EXPECT_EQ(skipWhiteSpace("   ", 2), 4); // stops at the terminator
  EXPECT_EQ(skipWhiteSpace("ab", 4), 4);  // outside: unchanged
  EXPECT_EQ(skipWhiteSpace("ab", 0), 0);
  EXPECT_EQ(countDigits("a123b", 2), 3);
  EXPECT_EQ(countDigits("a123b", 1), 0);
  EXPECT_EQ(countDigits("12", 3), 0);
  EXPECT_EQ(countDigits("12", 9), 0);
  EXPECT_EQ(countDigits("12", -5), 0);
}

struct IntegerCase {
  const char *text;
  int start, unsignedNumber, next, value;
};

TEST_F(StringTest, ScanInteger) {
  const IntegerCase cases[] = {
      {"  -42 more", 1, 0, 6, -42},
      {"+7", 1, 0, 3, 7},
      {"7x", 1, 0, 2, 7},
      {"3.5", 1, 0, 1, 0}, // a real is not an integer
      {"3e5", 1, 0, 1, 0},
      {"3E5", 1, 0, 1, 0},
      {"-42", 1, 1, 1, 0}, // unsigned: no sign
      {"42", 1, 1, 3, 42},
      {"42", 1, 2, 1, 0},
      {"-", 1, 0, 1, 0},
      {"", 1, 0, 1, 0},
      {"x1", 2, 0, 3, 1},
      {"2147483647", 1, 0, 11, INT_MAX},
      {"2147483648", 1, 0, 11, INT_MAX}, // saturates as a 32-bit long does
      {"-2147483649", 1, 0, 12, INT_MIN},
      {"99999999999999999999999", 1, 0, 24, INT_MAX},
      {"12", 0, 0, 0, 0}, // start outside the string
      {"12", 4, 0, 4, 0},
      {"12", 3, 0, 3, 0}, // the terminator's index holds no token
  };
  for (const IntegerCase &c : cases) {
    SCOPED_TRACE(std::string(c.text) + " from " + std::to_string(c.start));
    ScanIntegerResult result = scanIntegerCall(c.text, c.start, c.unsignedNumber);
    EXPECT_EQ(result.nextIndex, c.next);
    EXPECT_EQ(result.value, c.value);
  }
  const std::string ninetyNine(99, '1'), hundred(100, '1');
  EXPECT_EQ(scanIntegerCall(ninetyNine.c_str(), 1, 0).nextIndex, 100);
  EXPECT_EQ(scanIntegerCall(("-" + ninetyNine).c_str(), 1, 0).nextIndex, 1);
  EXPECT_EQ(scanIntegerCall(hundred.c_str(), 1, 0).nextIndex, 1);
}

struct RealCase {
  const char *text;
  int start, unsignedNumber, next;
  double value;
};

TEST_F(StringTest, ScanReal) {
  const RealCase cases[] = {
      {"1e5", 1, 0, 4, 100000.0}, {"1e", 1, 0, 1, 0.0},          {"1e+", 1, 0, 1, 0.0},
      {"-.5", 1, 0, 4, -0.5},     {" 2.5e-3,", 1, 0, 8, 0.0025}, {"5.", 1, 0, 3, 5.0},
      {".", 1, 0, 1, 0.0},        {"-", 1, 0, 1, 0.0},           {"+1.5", 1, 1, 1, 0.0},
      {"1.5", 1, 1, 4, 1.5},      {"1,5", 1, 0, 2, 1.0}, // a comma ends the number in any locale
      {"x", 1, 0, 1, 0.0},        {"0x10", 1, 0, 2, 0.0},        {"inf", 1, 0, 1, 0.0},
      {"1.5", 0, 0, 0, 0.0},      {"1.5", 5, 0, 5, 0.0},
  };
  for (const RealCase &c : cases) {
    SCOPED_TRACE(std::string(c.text) + " from " + std::to_string(c.start));
    ScanRealResult result = scanRealCall(c.text, c.start, c.unsignedNumber);
    EXPECT_EQ(result.nextIndex, c.next);
    EXPECT_EQ(result.value, c.value);
  }
  const std::string longNumber = "1." + std::string(98, '0');
  EXPECT_EQ(scanRealCall(longNumber.c_str(), 1, 0).nextIndex, 1);
  EXPECT_EQ(scanRealCall(longNumber.substr(0, 99).c_str(), 1, 0).nextIndex, 100);
}

TEST_F(StringTest, ScanString) {
  struct Case {
    const char *text;
    int start, next;
    const char *string;
  };
  const Case cases[] = {
      {"  \"ab\"", 1, 7, "ab"},
      {"\"\"", 1, 1, ""}, // an empty literal is no token
      {"\"a\\\"b\" x", 1, 7, "a\\\"b"},
      {"\"open", 1, 1, ""},
      {"ab", 1, 1, ""},
      {"\"x\"", 3, 3, ""},
      {"\"x\"", 4, 4, ""},
      {"\"x\"", 0, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    ScanStringResult result = scanStringCall(c.text, c.start);
    EXPECT_EQ(result.nextIndex, c.next);
    EXPECT_STREQ(result.string, c.string);
  }
}

TEST_F(StringTest, ScanIdentifier) {
  struct Case {
    const char *text;
    int start, next;
    const char *identifier;
  };
  const Case cases[] = {
      {"_x", 1, 1, ""}, {"x_1+y", 1, 4, "x_1"}, {"  ab9 ", 1, 6, "ab9"}, {"9a", 1, 1, ""},
      {"a", 2, 2, ""},  {"a", 3, 3, ""},        {"a", -1, -1, ""},       {"\xe9t\xe9", 1, 1, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    ScanIdentifierResult result = scanIdentifierCall(c.text, c.start);
    EXPECT_EQ(result.nextIndex, c.next);
    EXPECT_STREQ(result.identifier, c.identifier);
  }
}

TEST_F(StringTest, DuplicatedStringsLiveInTheCharacterArea) {
  char *start = getStringMark();
  char *copy = ModelicaDuplicateString("text");
  EXPECT_EQ(copy, start);
  EXPECT_STREQ(copy, "text");
  EXPECT_EQ(errorText([] { ModelicaDuplicateString(nullptr); }),
            "ModelicaDuplicateString with null-pointer");
  EXPECT_STREQ(stringOrEmpty(nullptr), "");
  EXPECT_STREQ(stringOrEmpty("x"), "x");

  EXPECT_EQ(duplicateStringWithErrorReturn(nullptr), nullptr);
  EXPECT_STREQ(duplicateStringWithErrorReturn("abc"), "abc");
  ModelicaAllocateString(
      static_cast<std::size_t>(getThreadContext()->Endsimplestring - getStringMark()) - 6);
  EXPECT_EQ(duplicateStringWithErrorReturn("abcdef"), nullptr);
  EXPECT_STREQ(duplicateStringWithErrorReturn("abc"), "abc");
}

TEST(StringsWithoutBuffers, ErrorReturnCopyMakesTheBuffersFirst) {
  std::thread fresh([] {
    char *copy = duplicateStringWithErrorReturn("fresh");
    EXPECT_STREQ(copy, "fresh");
    endEvaluation();
  });
  fresh.join();
}

} // namespace
