// "C"-locale wrappers.  glibc has locale-taking variants of the conversions
// and character classes but not of the printf and scanf families, so those
// run with the calling thread's locale switched to the "C" object by
// uselocale for the duration of the call.  uselocale is per thread, so the
// switch never affects another thread and never changes the host's
// process-wide locale.
#include "source/clocale_io.h"

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

template <class WithLocale, class Plain>
int classify(int c, WithLocale withLocale, Plain plain) {
  if (!classifiable(c)) return 0;
  locale_t loc = *getCLocale();
  return loc != nullptr ? withLocale(c, loc) : plain(c);
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

int isalnumC(int c) {
  return classify(c, [](int x, locale_t l) { return isalnum_l(x, l); },
                  [](int x) { return std::isalnum(x); });
}
int isalphaC(int c) {
  return classify(c, [](int x, locale_t l) { return isalpha_l(x, l); },
                  [](int x) { return std::isalpha(x); });
}
int isdigitC(int c) {
  return classify(c, [](int x, locale_t l) { return isdigit_l(x, l); },
                  [](int x) { return std::isdigit(x); });
}
int islowerC(int c) {
  return classify(c, [](int x, locale_t l) { return islower_l(x, l); },
                  [](int x) { return std::islower(x); });
}
int isupperC(int c) {
  return classify(c, [](int x, locale_t l) { return isupper_l(x, l); },
                  [](int x) { return std::isupper(x); });
}
int isspaceC(int c) {
  return classify(c, [](int x, locale_t l) { return isspace_l(x, l); },
                  [](int x) { return std::isspace(x); });
}
int toupperC(int c) {
  if (!classifiable(c)) return c;
  locale_t loc = *getCLocale();
  return loc != nullptr ? toupper_l(c, loc) : std::toupper(c);
}
int tolowerC(int c) {
  if (!classifiable(c)) return c;
  locale_t loc = *getCLocale();
  return loc != nullptr ? tolower_l(c, loc) : std::tolower(c);
}

// ---- stream scans ----------------------------------------------------------

int fscanfWordC(std::FILE *stream, char *word) {
  CLocaleScope scope;
  return std::fscanf(stream, "%255s", word);
}

int fscanfNameC(std::FILE *stream, char *name, char *next) {
  CLocaleScope scope;
  // The name is everything up to the next '[' or backslash (bounded to 255
  // characters; the text "255s" behind the set is matched literally); the
  // second read takes the next non-blank character.
  (void)std::fscanf(stream, "%255[^\\[]255s", name);
  return std::fscanf(stream, "%1s", next);
}

int fscanfDoubleC(std::FILE *stream, double *value) {
  CLocaleScope scope;
  return std::fscanf(stream, " %lg", value);
}

int fscanfDouble3C(std::FILE *stream, double *a, double *b, double *c) {
  CLocaleScope scope;
  return std::fscanf(stream, " %lg %lg %lg", a, b, c);
}

int fscanfFloatC(std::FILE *stream, float *value) {
  CLocaleScope scope;
  return std::fscanf(stream, " %g", value);
}

// ---- text scans ------------------------------------------------------------

int sscanfSkipIntC(const char *text, int *value) {
  CLocaleScope scope;
  return std::sscanf(text, " %d", value);
}
int sscanfIC(const char *text, int *value) {
  CLocaleScope scope;
  return std::sscanf(text, "%i", value);
}
int sscanfInt5C(const char *text, int *a, int *b, int *c, int *d, int *e) {
  CLocaleScope scope;
  return std::sscanf(text, " %d %d %d %d %d", a, b, c, d, e);
}
int sscanfTripleC(const char *text, int *a, int *b, int *c) {
  CLocaleScope scope;
  return std::sscanf(text, "%i/%i/%i", a, b, c);
}
int sscanfPairC(const char *text, int *a, int *b) {
  CLocaleScope scope;
  return std::sscanf(text, "%i/%i", a, b);
}
int sscanfPairSlashesC(const char *text, int *a, int *b) {
  CLocaleScope scope;
  return std::sscanf(text, "%i//%i", a, b);
}
int sscanfFloatC(const char *text, float *value) {
  CLocaleScope scope;
  return std::sscanf(text, " %g", value);
}
int sscanfUnsignedC(const char *text, unsigned *value) {
  CLocaleScope scope;
  return std::sscanf(text, "%u", value);
}
int sscanfIncludeC(const char *text, char *file) {
  CLocaleScope scope;
  return std::sscanf(text, "#include \"%255[^\"]\"", file);
}
int sscanfFloatCommaC(const char *text, float *value) {
  CLocaleScope scope;
  return std::sscanf(text, " %g,", value);
}
int sscanfDoubleC(const char *text, double *value) {
  CLocaleScope scope;
  return std::sscanf(text, " %lg", value);
}
int sscanfRelationC(const char *text, char *relation, char *rest) {
  CLocaleScope scope;
  return std::sscanf(text, " %255[<>=] %255s)", relation, rest);
}
int sscanfSkipUnsignedC(const char *text, unsigned *value) {
  CLocaleScope scope;
  return std::sscanf(text, " %u", value);
}
int sscanfInt4CommaC(const char *text, int *a, int *b, int *c, int *d) {
  CLocaleScope scope;
  return std::sscanf(text, "%i,%i,%i,%i,", a, b, c, d);
}
int sscanfDoubleCharC(const char *text, double *value, char *c) {
  CLocaleScope scope;
  return std::sscanf(text, "%lg %c", value, c);
}
int sscanfWordCountC(const char *text, char *word, int *consumed) {
  CLocaleScope scope;
  return std::sscanf(text, "%255s%n", word, consumed);
}
int sscanfWordC(const char *text, char *word) {
  CLocaleScope scope;
  return std::sscanf(text, "%255s", word);
}

// The caller's format decides the target types; the targets are passed on as
// they came.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
int sscanf1C(const char *text, const char *format, void *a) {
  CLocaleScope scope;
  return std::sscanf(text, format, a);
}
int sscanf3C(const char *text, const char *format, void *a, void *b, void *c) {
  CLocaleScope scope;
  return std::sscanf(text, format, a, b, c);
}
int sscanfC(const char *text, const char *format, void *a, void *b, void *c, void *d) {
  CLocaleScope scope;
  return std::sscanf(text, format, a, b, c, d);
}
int sscanf4C(const char *text, const char *format, void *a, void *b, void *c, void *d) {
  return sscanfC(text, format, a, b, c, d);
}
int sscanf5C(const char *text, const char *format, void *a, void *b, void *c, void *d,
             void *e) {
  CLocaleScope scope;
  return std::sscanf(text, format, a, b, c, d, e);
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
