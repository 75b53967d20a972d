#pragma once
/* String conversions: the String operator of model code for Real, Integer,
 * Boolean and enumeration values (minimum length, left justification,
 * significant or minimum digits, or a format), and string concatenation.
 *
 * Every result is a new string in the calling thread's character area (the
 * simple strings): exactly the text and its terminator, valid until the marks
 * of that area are reset at the end of the evaluation.  Numbers are formatted
 * in the "C" locale (a point as decimal separator) whatever locale the host
 * has set.
 *
 * Checks (a failed one is a runtime assertion with an empty message and the
 * condition text below, a model error that does not return):
 *   - a minimum length must lie in 0..39 and a number of digits below 40:
 *     "precision<40 && minwidth<40" where both are given, else "minwidth<40";
 *     a negative minimum length fails the same check;
 *   - realToStringFormat takes a format of the form
 *     [flags][width][.precision]conversion without the '%': flags of
 *     "-+ #0" (at most five), width and precision of at most two digits each,
 *     and one conversion of e E f F g G; anything else fails; the text must be
 *     shorter than 100 characters ("buf[99]=='\0'");
 *   - enumerationToString needs a one-dimensional names array and a literal
 *     1 <= x <= its size.
 *
 * This header compiles as C11 and as C++; all functions have C linkage. */

#include "source/arrays/array_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* a followed by b. */
char *concatStrings(const char *a, const char *b);

/* "%*.*g": right-justified to minimumLength, significantDigits digits. */
char *realToStringDigits(double value, int minimumLength, int significantDigits);
/* "%*.*d": right-justified to minimumLength, at least minimumDigits digits. */
char *integerToStringDigits(int value, int minimumLength, int minimumDigits);
/* "%-*.*g" when leftJustified is non-zero, else "%*.*g". */
char *realToStringJustified(double value, int leftJustified, int minimumLength,
                            int significantDigits);
/* realToStringJustified with 6 significant digits. */
char *realToString(double value, int leftJustified, int minimumLength);
/* "%-*d" or "%*d". */
char *integerToString(int value, int leftJustified, int minimumLength);
/* "true" for non-zero, "false" for 0, padded like integerToString. */
char *booleanToString(int value, int leftJustified, int minimumLength);
/* value formatted by '%' followed by format (e.g. ".3f" gives "2.000" for
 * 2.0). */
char *realToStringFormat(double value, const char *format);
/* The name of literal x (names[x - 1]), padded like integerToString; names
 * of any length. */
char *enumerationToString(int x, int leftJustified, int minimumLength, StringArray names);

#ifdef __cplusplus
}
#endif
