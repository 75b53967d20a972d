// String conversions into the calling thread's character area, formatted
// through the "C"-locale wrappers.
//
// Numbers are formatted into a local buffer of 100 characters: a minimum
// length in 0..39 and at most 39 digits keep every such text far below that,
// so the buffer bounds nothing that the checks allow.  A model-supplied Real
// format is parsed before use, so that only one double conversion with small
// flags, width and precision ever reaches the formatter (no other conversion
// that would read a missing argument, no width that pads without bound);
// its text is formatted bounded and must stay below 100 characters.  Padded
// names and Boolean words are written straight into a string of their exact
// length, so they have no length limit.
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

// The characters of s[at ..] that belong to set, at most limit of them;
// limit + 1 when there are more.
int span(const char *s, int at, const char *set, int limit) {
  int n = 0;
  while (s[at + n] != '\0' && std::strchr(set, s[at + n]) != nullptr && n <= limit) ++n;
  return n;
}

// "%" and a Real format [flags][width][.precision]conversion in spec (room
// for 16 characters); false for anything else.
bool realFormat(const char *format, char *spec) {
  if (format == nullptr) return false;
  int at = 0;
  const int flags = span(format, at, "-+ #0", 5);
  if (flags > 5) return false;
  at += flags;
  const int width = span(format, at, "0123456789", 2);
  if (width > 2) return false;
  at += width;
  if (format[at] == '.') {
    const int precision = span(format, at + 1, "0123456789", 2);
    if (precision > 2) return false;
    at += 1 + precision;
  }
  if (format[at] == '\0' || std::strchr("eEfFgG", format[at]) == nullptr) return false;
  if (format[at + 1] != '\0') return false;
  spec[0] = '%';
  std::memcpy(spec + 1, format, at + 2);
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
  char spec[16];
  require(realFormat(format, spec), "validRealFormat(format)",
          "A Real format is [flags][width][.precision] and one of e, E, f, F, g, G (flags of "
          "-+ #0, at most two digits of width and of precision)");
  char buffer[kFormatBuffer];
  const int n = snprintfC(buffer, sizeof buffer, spec, value);
  require(n >= 0 && n < kFormatLimit, "buf[99]=='\\0'", "");
  return simpleString(buffer, static_cast<std::size_t>(n));
}

char *enumerationToString(int x, int leftJustified, int minimumLength, StringArray names) {
  requireWidth(minimumLength);
  require(names.ndims == 1 && x >= 1 && x <= names.dims[0],
          "names.ndims==1 && x>=1 && x<=names.dims[0]", "");
  return padded(names.data[x - 1], leftJustified, minimumLength);
}
