#pragma once
// "C"-locale formatting, scanning, conversion and character classes.
//
// A host may call setlocale, which on Linux changes the whole process; the
// runtime never changes a locale itself.  Instead it keeps one process-wide
// locale object for "C" (all categories), created at the first use, and every
// wrapper below runs the standard function under that object (the calling
// thread's locale is switched with uselocale for the call and put back).  When
// the object cannot be created the current locale serves.
//
// Every buffer filled by a fixed-format scan below must hold 256 characters
// (conversions are bounded to 255 characters plus the terminator); the second
// buffer of fscanfNameC must hold 2.  Only sprintfC is unbounded: use
// snprintfC or vsnprintfC where the length of the text is not known.

#include <clocale>
#include <cstdarg>
#include <cstddef>
#include <cstdio>

// Address of the process-wide "C" locale object (created when pending; null
// inside when its creation failed, and then the current locale is used).
locale_t *getCLocale();
// Frees the object; the next use creates it again.
void releaseCLocale();

double atofC(const char *text);
int atoiC(const char *text);
long atolC(const char *text);
int stricmpC(const char *a, const char *b);
int isalnumC(int c);
int isalphaC(int c);
int isdigitC(int c);
int islowerC(int c);
int isupperC(int c);
int isspaceC(int c);
int toupperC(int c);
int tolowerC(int c);

// Stream scans.
int fscanfWordC(std::FILE *stream, char *word); // "%255s"
// "%255[^\\[]255s" into name (stops at '[' or a backslash), then "%1s" into
// next; the second call's result.
int fscanfNameC(std::FILE *stream, char *name, char *next);
int fscanfDoubleC(std::FILE *stream, double *value); // " %lg"
int fscanfDouble3C(std::FILE *stream, double *a, double *b, double *c);
int fscanfFloatC(std::FILE *stream, float *value); // " %g"

// Text scans with fixed formats.
int sscanfSkipIntC(const char *text, int *value); // " %d"
int sscanfIC(const char *text, int *value);       // "%i"
int sscanfInt5C(const char *text, int *a, int *b, int *c, int *d, int *e);
int sscanfTripleC(const char *text, int *a, int *b, int *c);            // "%i/%i/%i"
int sscanfPairC(const char *text, int *a, int *b);                      // "%i/%i"
int sscanfPairSlashesC(const char *text, int *a, int *b);               // "%i//%i"
int sscanfFloatC(const char *text, float *value);                       // " %g"
int sscanfUnsignedC(const char *text, unsigned *value);                 // "%u"
int sscanfIncludeC(const char *text, char *file);                       // "#include \"%255[^\"]\""
int sscanfFloatCommaC(const char *text, float *value);                  // " %g,"
int sscanfDoubleC(const char *text, double *value);                     // " %lg"
int sscanfRelationC(const char *text, char *relation, char *rest);      // " %255[<>=] %255s)"
int sscanfSkipUnsignedC(const char *text, unsigned *value);             // " %u"
int sscanfInt4CommaC(const char *text, int *a, int *b, int *c, int *d); // "%i,%i,%i,%i,"
int sscanfDoubleCharC(const char *text, double *value, char *c);        // "%lg %c"
int sscanfWordCountC(const char *text, char *word, int *consumed);      // "%255s%n"
int sscanfWordC(const char *text, char *word);                          // "%255s"

// Text scans with the caller's format and one, three, four or five targets.
int sscanf1C(const char *text, const char *format, void *a);
int sscanf3C(const char *text, const char *format, void *a, void *b, void *c);
int sscanfC(const char *text, const char *format, void *a, void *b, void *c, void *d);
int sscanf4C(const char *text, const char *format, void *a, void *b, void *c, void *d);
int sscanf5C(const char *text, const char *format, void *a, void *b, void *c, void *d, void *e);

// Formatting.
int sprintfC(char *buffer, const char *format, ...) __attribute__((format(printf, 2, 3)));
int fprintfC(std::FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));
int vfprintfC(std::FILE *stream, const char *format, va_list args);
// Writes at most size - 1 characters and always a terminator at size - 1;
// returns the number of characters written, or -1 when the text did not fit.
// A size of 0 writes nothing and returns -1.
int vsnprintfC(char *buffer, std::size_t size, const char *format, va_list args);
// snprintf in "C": the full length of the text (as snprintf), the buffer
// holding at most size - 1 characters and a terminator (nothing for size 0).
int snprintfC(char *buffer, std::size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
int vsnprintfFullC(char *buffer, std::size_t size, const char *format, va_list args);
