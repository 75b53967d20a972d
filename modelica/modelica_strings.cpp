// String and scanning functions.
//
// Character classes and numbers are those of the "C" locale whatever the
// host has set (source/clocale/), so a model scans "1.5" the same under any
// locale.  The scanners look only at the characters of their string: a start
// index outside 1 .. length + 1 (the terminator's index) finds no token.

#include <cerrno>
#include <climits>
#include <cstring>

#include "modelica/modelica_internal.h"
#include "source/clocale/clocale_io.h"

namespace {

// Tokens of this many characters or more are not numbers.
constexpr int kNumberBuffer = 100;

int isSpace(char c) { return isspaceC(static_cast<unsigned char>(c)); }
int isAlpha(char c) { return isalphaC(static_cast<unsigned char>(c)); }
int isDigit(char c) { return isdigitC(static_cast<unsigned char>(c)); }
int toLower(char c) { return tolowerC(static_cast<unsigned char>(c)); }

// Whether startIndex names a character of string or its terminator.
bool validStart(const char *string, int startIndex) {
  return string != nullptr && startIndex >= 1 &&
         static_cast<std::size_t>(startIndex) - 1 <= std::strlen(string);
}

char *copyOf(const char *text, std::size_t length) {
  char *copy = ModelicaAllocateString(length);
  std::memcpy(copy, text, length);
  return copy;
}

} // namespace

extern "C" {

const char *stringSubstring(const char *string, int startIndex, int endIndex) {
  if (startIndex < 1) {
    ModelicaFormatError("Wrong call of Utilities.Strings.substring:\n  startIndex = %d (has to be "
                        "> 0).\n  string     = \"%s\"\n",
                        startIndex, string);
  }
  if (endIndex == -999) {
    endIndex = startIndex;
  } else if (endIndex < startIndex) {
    ModelicaFormatError("Wrong call of  Utilities.Strings.substring:\n  startIndex = %d\n  "
                        "endIndex   = %d (>= startIndex required)\n  string     = \"%s\"\n",
                        startIndex, endIndex, string);
  }
  const int length = stringLength(string);
  if (endIndex > length) {
    ModelicaFormatError("Wrong call of Utilities.Strings.substring:\n  endIndex = %d (<= %d "
                        "required (=length(string)).\n  string   = \"%s\"\n",
                        endIndex, length, string);
  }
  return copyOf(string + startIndex - 1, static_cast<std::size_t>(endIndex - startIndex + 1));
}

int stringLength(const char *string) { return static_cast<int>(std::strlen(string)); }

int stringCompare(const char *string1, const char *string2, int caseSensitive) {
  if (string1 == nullptr || string2 == nullptr) return 2;
  int difference;
  if (caseSensitive != 0) {
    difference = std::strcmp(string1, string2);
  } else {
    while (toLower(*string1) == toLower(*string2) && *string1 != '\0') {
      ++string1;
      ++string2;
    }
    difference = toLower(*string1) - toLower(*string2);
  }
  return difference < 0 ? 1 : difference == 0 ? 2 : 3;
}

int skipWhiteSpace(const char *string, int startIndex) {
  if (!validStart(string, startIndex)) return startIndex;
  int i = startIndex;
  while (string[i - 1] != '\0' && isSpace(string[i - 1])) ++i;
  return i;
}

int countDigits(const char *string, int index) {
  if (!validStart(string, index)) return 0;
  int count = 0;
  while (isDigit(string[index - 1 + count])) ++count;
  return count;
}

void scanIdentifier(const char *string, int startIndex, int *nextIndex, const char **identifier) {
  *nextIndex = startIndex;
  if (!validStart(string, startIndex)) {
    *identifier = copyOf("", 0);
    return;
  }
  const int i = skipWhiteSpace(string, startIndex);
  const char *start = string + i - 1;
  if (!isAlpha(*start)) {
    *identifier = copyOf("", 0);
    return;
  }
  std::size_t length = 1;
  while (isAlpha(start[length]) || isDigit(start[length]) || start[length] == '_') ++length;
  *identifier = copyOf(start, length);
  *nextIndex = i + static_cast<int>(length);
}

void scanInteger(const char *string, int startIndex, int unsignedNumber, int *nextIndex,
                 int *value) {
  *nextIndex = startIndex;
  *value = 0;
  if (!validStart(string, startIndex)) return;
  const int i = skipWhiteSpace(string, startIndex);
  const char *start = string + i - 1;
  const int sign = (*start == '+' || *start == '-') ? 1 : 0;
  if (!(unsignedNumber == 0 || (unsignedNumber == 1 && sign == 0))) return;
  const int digits = countDigits(string, i + sign);
  if (digits <= 0 || sign + digits >= kNumberBuffer) return;
  // A real number is not an integer.
  const char after = start[sign + digits];
  if (after == '.' || after == 'e' || after == 'E') return;
  char buffer[kNumberBuffer];
  std::memcpy(buffer, start, static_cast<std::size_t>(sign + digits));
  buffer[sign + digits] = '\0';
  // Sign and digits only: the conversion takes the whole copy.  Beyond the
  // 32-bit range the value saturates.
  const long converted = atolC(buffer);
  *value = converted > INT_MAX   ? INT_MAX
           : converted < INT_MIN ? INT_MIN
                                 : static_cast<int>(converted);
  *nextIndex = i + sign + digits;
}

void scanReal(const char *string, int startIndex, int unsignedNumber, int *nextIndex,
              double *value) {
  *nextIndex = startIndex;
  *value = 0.0;
  if (!validStart(string, startIndex)) return;
  const int i = skipWhiteSpace(string, startIndex);
  const char *start = string + i - 1;
  int length = 0;
  if (*start == '+' || *start == '-') {
    if (unsignedNumber == 1) return;
    length = 1;
  }
  int mantissaDigits = countDigits(string, i + length);
  length += mantissaDigits;
  if (start[length] == '.') {
    ++length;
    const int fraction = countDigits(string, i + length);
    mantissaDigits += fraction;
    length += fraction;
  }
  if (start[length] == 'e' || start[length] == 'E') {
    int exponent = 1;
    if (start[length + exponent] == '+' || start[length + exponent] == '-') ++exponent;
    const int exponentDigits = countDigits(string, i + length + exponent);
    if (exponentDigits == 0) return;
    length += exponent + exponentDigits;
  }
  // A mantissa without a digit ("." or a lone sign) is no number; anything
  // else of this form is taken whole by the conversion.
  if (mantissaDigits == 0 || length <= 0 || length >= kNumberBuffer) return;
  char buffer[kNumberBuffer];
  std::memcpy(buffer, start, static_cast<std::size_t>(length));
  buffer[length] = '\0';
  *value = atofC(buffer);
  *nextIndex = i + length;
}

void scanString(const char *string, int startIndex, int *nextIndex, const char **result) {
  *nextIndex = startIndex;
  if (validStart(string, startIndex)) {
    const int i = skipWhiteSpace(string, startIndex);
    const char *open = string + i - 1;
    if (*open == '"') {
      const char *p = open + 1;
      while (*p != '\0' && !(*p == '"' && p[-1] != '\\')) ++p;
      // p[-1] is at least the opening quote, never before the string.
      if (*p == '"' && p - open > 1) {
        const auto length = static_cast<std::size_t>(p - open - 1);
        *result = copyOf(open + 1, length);
        *nextIndex = i + static_cast<int>(length) + 2;
        return;
      }
    }
  }
  *result = copyOf("", 0);
}

const char *stringOrEmpty(const char *text) { return text != nullptr ? text : ""; }

char *ModelicaDuplicateString(const char *text) {
  if (text == nullptr) ModelicaFormatError("ModelicaDuplicateString with null-pointer");
  const std::size_t length = std::strlen(text);
  char *copy =
      allocSimplestring(length > static_cast<std::size_t>(INT_MAX) ? -1 : static_cast<int>(length));
  std::memcpy(copy, text, length + 1);
  return copy;
}

char *duplicateStringWithErrorReturn(const char *text) {
  initThreadBuffers();
  if (text == nullptr) return nullptr;
  char *copy = ModelicaAllocateStringWithErrorReturn(std::strlen(text));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, std::strlen(text) + 1);
  return copy;
}

} // extern "C"
