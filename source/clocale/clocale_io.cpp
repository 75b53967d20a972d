// "C"-locale wrappers.  glibc has locale-taking variants of the conversions
// and character classes but not of the printf and scanf families, so those
// run with the calling thread's locale switched to the "C" object by
// uselocale for the duration of the call.  uselocale is per thread, so the
// switch never affects another thread and never changes the host's
// process-wide locale.
#include "source/clocale/clocale_io.h"

#include <pthread.h>
#include <strings.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdlib>

namespace {

locale_t cLocale = nullptr;
// Set while the object is still to be created (after load and after a
// release).  The creation takes a lock so that two first uses at once make
// one object.
std::atomic<int> cLocalePending{1};
pthread_mutex_t cLocaleLock = PTHREAD_MUTEX_INITIALIZER;

// Runs the enclosed code under the "C" locale in the calling thread.
class CLocaleScope {
public:
  CLocaleScope() {
    locale_t loc = *getCLocale();
    if (loc != nullptr) previous_ = uselocale(loc);
  }
  ~CLocaleScope() {
    if (previous_ != nullptr) uselocale(previous_);
  }
  CLocaleScope(const CLocaleScope &) = delete;
  CLocaleScope &operator=(const CLocaleScope &) = delete;

private:
  locale_t previous_ = nullptr;
};

// The classification functions are only defined for EOF and unsigned char
// values; anything else is no member of any class.
bool classifiable(int c) { return c == EOF || (c >= 0 && c <= UCHAR_MAX); }

// A character function under the "C" object (in the current locale when the
// object is missing); values outside its domain give outside.
int inCLocale(int c, int (*withLocale)(int, locale_t), int (*plain)(int), int outside) {
  if (!classifiable(c)) return outside;
  locale_t loc = *getCLocale();
  return loc != nullptr ? withLocale(c, loc) : plain(c);
}

// The scans: the standard function under the "C" locale.
__attribute__((format(scanf, 2, 3))) int scanStream(std::FILE *stream, const char *format, ...) {
  CLocaleScope scope;
  va_list args;
  va_start(args, format);
  int n = std::vfscanf(stream, format, args);
  va_end(args);
  return n;
}

__attribute__((format(scanf, 2, 3))) int scanText(const char *text, const char *format, ...) {
  CLocaleScope scope;
  va_list args;
  va_start(args, format);
  int n = std::vsscanf(text, format, args);
  va_end(args);
  return n;
}

} // namespace

locale_t *getCLocale() {
  if (cLocalePending.load(std::memory_order_acquire) != 0) {
    pthread_mutex_lock(&cLocaleLock);
    if (cLocalePending.load(std::memory_order_relaxed) != 0) {
      cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
      cLocalePending.store(0, std::memory_order_release);
    }
    pthread_mutex_unlock(&cLocaleLock);
  }
  return &cLocale;
}

void releaseCLocale() {
  pthread_mutex_lock(&cLocaleLock);
  if (cLocale != nullptr) freelocale(cLocale);
  cLocale = nullptr;
  cLocalePending.store(1, std::memory_order_release);
  pthread_mutex_unlock(&cLocaleLock);
}

// ---- conversions and classes -----------------------------------------------

double atofC(const char *text) {
  if (text == nullptr) return 0.0;
  locale_t loc = *getCLocale();
  return loc != nullptr ? strtod_l(text, nullptr, loc) : std::strtod(text, nullptr);
}

long atolC(const char *text) {
  if (text == nullptr) return 0;
  locale_t loc = *getCLocale();
  return loc != nullptr ? strtol_l(text, nullptr, 10, loc) : std::strtol(text, nullptr, 10);
}

int atoiC(const char *text) { return static_cast<int>(atolC(text)); }

int stricmpC(const char *a, const char *b) {
  locale_t loc = *getCLocale();
  return loc != nullptr ? strcasecmp_l(a, b, loc) : strcasecmp(a, b);
}

int isalnumC(int c) { return inCLocale(c, isalnum_l, isalnum, 0); }
int isalphaC(int c) { return inCLocale(c, isalpha_l, isalpha, 0); }
int isdigitC(int c) { return inCLocale(c, isdigit_l, isdigit, 0); }
int islowerC(int c) { return inCLocale(c, islower_l, islower, 0); }
int isupperC(int c) { return inCLocale(c, isupper_l, isupper, 0); }
int isspaceC(int c) { return inCLocale(c, isspace_l, isspace, 0); }
int toupperC(int c) { return inCLocale(c, toupper_l, toupper, c); }
int tolowerC(int c) { return inCLocale(c, tolower_l, tolower, c); }

// ---- stream scans ----------------------------------------------------------

int fscanfWordC(std::FILE *stream, char *word) { return scanStream(stream, "%255s", word); }

int fscanfNameC(std::FILE *stream, char *name, char *next) {
  // The name is everything up to the next '[' or backslash (bounded to 255
  // characters; the text "255s" behind the set is matched literally); the
  // second read takes the next non-blank character.
  (void)scanStream(stream, "%255[^\\[]255s", name);
  return scanStream(stream, "%1s", next);
}

int fscanfDoubleC(std::FILE *stream, double *value) { return scanStream(stream, " %lg", value); }

int fscanfDouble3C(std::FILE *stream, double *a, double *b, double *c) {
  return scanStream(stream, " %lg %lg %lg", a, b, c);
}

int fscanfFloatC(std::FILE *stream, float *value) { return scanStream(stream, " %g", value); }

// ---- text scans ------------------------------------------------------------

int sscanfSkipIntC(const char *text, int *value) { return scanText(text, " %d", value); }
int sscanfIC(const char *text, int *value) { return scanText(text, "%i", value); }
int sscanfInt5C(const char *text, int *a, int *b, int *c, int *d, int *e) {
  return scanText(text, " %d %d %d %d %d", a, b, c, d, e);
}
int sscanfTripleC(const char *text, int *a, int *b, int *c) {
  return scanText(text, "%i/%i/%i", a, b, c);
}
int sscanfPairC(const char *text, int *a, int *b) { return scanText(text, "%i/%i", a, b); }
int sscanfPairSlashesC(const char *text, int *a, int *b) { return scanText(text, "%i//%i", a, b); }
int sscanfFloatC(const char *text, float *value) { return scanText(text, " %g", value); }
int sscanfUnsignedC(const char *text, unsigned *value) { return scanText(text, "%u", value); }
int sscanfIncludeC(const char *text, char *file) {
  return scanText(text, "#include \"%255[^\"]\"", file);
}
int sscanfFloatCommaC(const char *text, float *value) { return scanText(text, " %g,", value); }
int sscanfDoubleC(const char *text, double *value) { return scanText(text, " %lg", value); }
int sscanfRelationC(const char *text, char *relation, char *rest) {
  return scanText(text, " %255[<>=] %255s)", relation, rest);
}
int sscanfSkipUnsignedC(const char *text, unsigned *value) { return scanText(text, " %u", value); }
int sscanfInt4CommaC(const char *text, int *a, int *b, int *c, int *d) {
  return scanText(text, "%i,%i,%i,%i,", a, b, c, d);
}
int sscanfDoubleCharC(const char *text, double *value, char *c) {
  return scanText(text, "%lg %c", value, c);
}
int sscanfWordCountC(const char *text, char *word, int *consumed) {
  return scanText(text, "%255s%n", word, consumed);
}
int sscanfWordC(const char *text, char *word) { return scanText(text, "%255s", word); }

// The caller's format decides the target types; the targets are passed on as
// they came.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
int sscanf1C(const char *text, const char *format, void *a) { return scanText(text, format, a); }
int sscanf3C(const char *text, const char *format, void *a, void *b, void *c) {
  return scanText(text, format, a, b, c);
}
int sscanfC(const char *text, const char *format, void *a, void *b, void *c, void *d) {
  return scanText(text, format, a, b, c, d);
}
int sscanf4C(const char *text, const char *format, void *a, void *b, void *c, void *d) {
  return sscanfC(text, format, a, b, c, d);
}
int sscanf5C(const char *text, const char *format, void *a, void *b, void *c, void *d, void *e) {
  return scanText(text, format, a, b, c, d, e);
}

// ---- formatting ------------------------------------------------------------

int sprintfC(char *buffer, const char *format, ...) {
  CLocaleScope scope;
  va_list args;
  va_start(args, format);
  int n = std::vsprintf(buffer, format, args);
  va_end(args);
  return n;
}

int fprintfC(std::FILE *stream, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vfprintfC(stream, format, args);
  va_end(args);
  return n;
}

int vfprintfC(std::FILE *stream, const char *format, va_list args) {
  CLocaleScope scope;
  return std::vfprintf(stream, format, args);
}

int vsnprintfFullC(char *buffer, std::size_t size, const char *format, va_list args) {
  CLocaleScope scope;
  int n = std::vsnprintf(size == 0 ? nullptr : buffer, size, format, args);
  if (n < 0 && size > 0) buffer[0] = '\0';
  return n;
}
#pragma GCC diagnostic pop

int vsnprintfC(char *buffer, std::size_t size, const char *format, va_list args) {
  if (size == 0) return -1;
  int n = vsnprintfFullC(buffer, size, format, args);
  buffer[size - 1] = '\0';
  if (n < 0 || static_cast<std::size_t>(n) >= size) return -1;
  return n;
}

int snprintfC(char *buffer, std::size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintfFullC(buffer, size, format, args);
  va_end(args);
  return n;
}
