// Matrix records, the message buffer, the stop hook and the seams shared by
// the readers and writers.
#include "matfile/amat_internal.h"

#include "platform/heap.h"
#include "source/clocale/clocale_io.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>

// Per thread, so that two threads using matrix files never write the same
// buffer; within one thread it behaves as one process-wide buffer.
thread_local char amatMessage[AMAT_MESSAGE_SIZE] = "No message.";

namespace {

std::atomic<AmatStopHook> amatStopHook{nullptr};

} // namespace

AmatStopHook amatSetStopHook(AmatStopHook hook) { return amatStopHook.exchange(hook); }

bool amatStopRequested() {
  AmatStopHook hook = amatStopHook.load();
  return hook != nullptr && hook() != 0;
}

// ---- messages -------------------------------------------------------------------

int32_t amatFail(int32_t result, const char *format, ...) {
  va_list args;
  va_start(args, format);
  (void)vsnprintfC(amatMessage, sizeof amatMessage, format, args);
  va_end(args);
  return result;
}

const char *amatErrorText(int error) {
  // The per-thread buffer keeps the text valid until the thread's next call.
  thread_local char text[256];
  return strerror_r(error, text, sizeof text);
}

const char *amatErrorText() { return amatErrorText(errno); }

int32_t amatNullPointer(int32_t result) { return amatFail(result, "Unexpected null-pointer"); }

const char *amatElementName(int32_t type) {
  switch (type) {
  case integerMatrix:
    return "integer";
  case realMatrix:
  case realRowMatrix:
    return "real";
  case doubleMatrix:
  case doubleRowMatrix:
    return "double";
  case charMatrix:
    return "char";
  default:
    return "unknown";
  }
}

const char *amatTypeName(int32_t type) {
  static constexpr const char *names[] = {"voidMatrix",     "integerMatrix", "realMatrix",
                                          "doubleMatrix",   "charMatrix",    "realRowMatrix",
                                          "doubleRowMatrix"};
  return type >= 0 && type <= doubleRowMatrix ? names[type] : "unknown";
}

// ---- heap -------------------------------------------------------------------------

void *amatAlloc(int64_t count, int64_t size) {
  if (count < 0 || size < 0) return nullptr;
  if (count == 0 || size == 0) count = size = 1;
  if (count > std::numeric_limits<int64_t>::max() / size) return nullptr;
  return platform::heapAllocZeroed(static_cast<std::size_t>(count), static_cast<std::size_t>(size));
}

void amatRelease(void *block) { platform::heapFree(block); }

char *amatCopyText(const char *text) {
  std::size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(amatAlloc(static_cast<int64_t>(n), 1));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

// ---- streams ----------------------------------------------------------------------

int64_t amatFileBytes(std::FILE *stream) {
  struct stat st;
  if (fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<int64_t>(st.st_size);
}

int64_t amatBytesLeft(std::FILE *stream) {
  int64_t size = amatFileBytes(stream);
  off_t at = ftello(stream);
  if (at < 0 || static_cast<int64_t>(at) >= size) return 0;
  return size - static_cast<int64_t>(at);
}

void amatEncodeHeader(const int32_t header[5], unsigned char bytes[20]) {
  for (int k = 0; k < 5; ++k) {
    auto v = static_cast<uint32_t>(header[k]);
    for (int b = 0; b < 4; ++b) bytes[4 * k + b] = static_cast<unsigned char>(v >> (8 * b));
  }
}

void amatDecodeHeader(const unsigned char bytes[20], int32_t header[5]) {
  for (int k = 0; k < 5; ++k) {
    uint32_t v = 0;
    for (int b = 0; b < 4; ++b) v |= static_cast<uint32_t>(bytes[4 * k + b]) << (8 * b);
    header[k] = static_cast<int32_t>(v);
  }
}

int32_t amatToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// ---- matrix records ---------------------------------------------------------------

void amatInitMatrix(AmatMatrix *m) {
  if (m != nullptr) *m = AmatMatrix{};
}

void amatSetMatrix(const char *name, int nrow, int ncol, int type, void *data, AmatMatrix *m) {
  if (m == nullptr) return;
  *m = AmatMatrix{const_cast<char *>(name), nrow, ncol, type, data, 0, 0};
}

void amatReleaseRows(char **rows, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    amatRelease(rows[i]);
    rows[i] = nullptr;
  }
}

void amatFreeText(char **rows, int n) {
  if (rows == nullptr) return;
  amatReleaseRows(rows, n);
  amatRelease(rows);
}

void amatFreeMatrix(AmatMatrix *m) {
  if (m == nullptr) return;
  amatRelease(m->name);
  if (m->type == charMatrix) {
    amatFreeText(static_cast<char **>(m->data), m->nrow);
  } else if (amatIsRowType(m->type) && m->data != nullptr) {
    auto **rows = static_cast<void **>(m->data);
    for (int i = 0; i < m->nrow; ++i) amatRelease(rows[i]);
    amatRelease(rows);
  } else {
    amatRelease(m->data);
  }
  *m = AmatMatrix{};
}
