// String conversions into the calling thread's character area, formatted
// through the "C"-locale wrappers.
//
// Numbers are formatted into a local buffer of 100 characters: a minimum
// length in 0..39 and at most 39 digits keep every such text far below that,
// so the buffer bounds nothing that the checks allow.  A model-supplied Real
// format is parsed before use, so that only one double conversion ever
// reaches the formatter (no other conversion that would read a missing
// argument), with its width and precision passed as arguments and capped
// where a larger value could no longer change the verdict; its text is
// formatted bounded and must stay below 100 characters.  Padded names and
// Boolean words are written straight into a string of their exact length, so
// they have no length limit.
#include "source/arrays/string_conversions.h"

#include "source/arrays/array_private.h"
#include "source/clocale/clocale_io.h"

#include <algorithm>
#include <climits>
#include <cstring>

using namespace arrays;

namespace {

constexpr int kNumberBuffer = 100;
// The format's text must stay below kFormatLimit characters.
constexpr int kFormatLimit = 100;
constexpr int kFormatBuffer = 104;

void requireWidthAndDigits(int width, int digits) {
  require(width >= 0 && width < 40 && digits < 40, "precision<40 && minwidth<40", "");
}

void requireWidth(int width) { require(width >= 0 && width < 40, "minwidth<40", ""); }

// length characters of text and a terminator, in the character area.  A
// length beyond any int fails in the allocator like any other that does not
// fit.
char *simpleString(const char *text, std::size_t length) {
  char *s = allocSimplestring(length > INT_MAX ? INT_MAX : static_cast<int>(length));
  std::memcpy(s, text, length);
  s[length] = '\0';
  return s;
}

char *simpleString(const char *text) { return simpleString(text, std::strlen(text)); }

// text padded with blanks to width (on the right when left is set).
char *padded(const char *text, int left, int width) {
  const std::size_t length = std::max(std::strlen(text), static_cast<std::size_t>(width));
  char *s = allocSimplestring(length > INT_MAX ? INT_MAX : static_cast<int>(length));
  snprintfC(s, length + 1, left != 0 ? "%-*s" : "%*s", width, text);
  return s;
}

char *realJustified(double value, int left, int width, int digits) {
  requireWidthAndDigits(width, digits);
  char buffer[kNumberBuffer];
  snprintfC(buffer, sizeof buffer, left != 0 ? "%-*.*g" : "%*.*g", width, digits, value);
  return simpleString(buffer);
}

// A width of kFormatLimit or more pads the text to at least kFormatLimit
// characters, which fails the length check whatever the width.
constexpr int kWidthCap = kFormatLimit;
// No precision beyond kPrecisionCap changes a text that passes the length
// check: e, E, f and F print at least that many digits, and so do g and G
// with the flag '#'; plain g and G print no more significant digits than the
// exact decimal value of a double has (at most 767) and choose the e style
// for the same exponents (the largest is 308) at every such precision.
constexpr int kPrecisionCap = 800;

// The digits of format from at on as a number, capped at cap; at moves past
// them.
int digits(const char *format, int &at, int cap) {
  int value = 0;
  for (; format[at] >= '0' && format[at] <= '9'; ++at) {
    value = std::min(value * 10 + (format[at] - '0'), cap);
  }
  return value;
}

// A parsed Real format [flags][width][.precision]conversion: directive is "%",
// each flag found once, "*.*" and the conversion; width and precision go
// with it as arguments (precision -1 when none is given).
struct RealFormat {
  char directive[12];
  int width = 0;
  int precision = -1;
};

// Parses format; false for anything but one e, E, f, F, g or G conversion.
bool parseRealFormat(const char *format, RealFormat &parsed) {
  if (format == nullptr) return false;
  static constexpr char kFlags[] = "-+ #0";
  bool present[sizeof kFlags - 1] = {};
  int at = 0;
  for (; format[at] != '\0'; ++at) {
    const char *flag = std::strchr(kFlags, format[at]);
    if (flag == nullptr) break;
    present[flag - kFlags] = true;
  }
  parsed.width = digits(format, at, kWidthCap);
  if (format[at] == '.') {
    ++at;
    parsed.precision = digits(format, at, kPrecisionCap);
  }
  const char conversion = format[at];
  if (conversion == '\0' || std::strchr("eEfFgG", conversion) == nullptr) return false;
  if (format[at + 1] != '\0') return false;
  char *out = parsed.directive;
  *out++ = '%';
  for (std::size_t k = 0; k < sizeof present; ++k) {
    if (present[k]) *out++ = kFlags[k];
  }
  *out++ = '*';
  *out++ = '.';
  *out++ = '*';
  *out++ = conversion;
  *out = '\0';
  return true;
}

} // namespace

char *concatStrings(const char *a, const char *b) {
  const std::size_t na = std::strlen(a);
  const std::size_t nb = std::strlen(b);
  const std::size_t length = na + nb;
  char *s = allocSimplestring(length > INT_MAX ? INT_MAX : static_cast<int>(length));
  std::memcpy(s, a, na);
  std::memcpy(s + na, b, nb);
  s[length] = '\0';
  return s;
}

char *realToStringDigits(double value, int minimumLength, int significantDigits) {
  return realJustified(value, 0, minimumLength, significantDigits);
}

char *integerToStringDigits(int value, int minimumLength, int minimumDigits) {
  requireWidthAndDigits(minimumLength, minimumDigits);
  char buffer[kNumberBuffer];
  snprintfC(buffer, sizeof buffer, "%*.*d", minimumLength, minimumDigits, value);
  return simpleString(buffer);
}

char *realToStringJustified(double value, int leftJustified, int minimumLength,
                            int significantDigits) {
  return realJustified(value, leftJustified, minimumLength, significantDigits);
}

char *realToString(double value, int leftJustified, int minimumLength) {
  return realJustified(value, leftJustified, minimumLength, 6);
}

char *integerToString(int value, int leftJustified, int minimumLength) {
  requireWidth(minimumLength);
  char buffer[kNumberBuffer];
  snprintfC(buffer, sizeof buffer, leftJustified != 0 ? "%-*d" : "%*d", minimumLength, value);
  return simpleString(buffer);
}

char *booleanToString(int value, int leftJustified, int minimumLength) {
  requireWidth(minimumLength);
  return padded(value != 0 ? "true" : "false", leftJustified, minimumLength);
}

char *realToStringFormat(double value, const char *format) {
  RealFormat parsed;
  require(parseRealFormat(format, parsed), "validRealFormat(format)",
          "A Real format is [flags][width][.precision] and one of e, E, f, F, g, G (flags of "
          "-+ #0)");
  char buffer[kFormatBuffer];
  const int n =
      snprintfC(buffer, sizeof buffer, parsed.directive, parsed.width, parsed.precision, value);
  require(n >= 0 && n < kFormatLimit, "buf[99]=='\\0'", "");
  return simpleString(buffer, static_cast<std::size_t>(n));
}

char *enumerationToString(int x, int leftJustified, int minimumLength, StringArray names) {
  requireWidth(minimumLength);
  require(names.ndims == 1 && x >= 1 && x <= names.dims[0],
          "names.ndims==1 && x>=1 && x<=names.dims[0]", "");
  return padded(names.data[x - 1], leftJustified, minimumLength);
}
