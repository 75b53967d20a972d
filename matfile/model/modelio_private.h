#pragma once
// Private to matfile/model/: records that close and release themselves, so
// that a failing call (an assertion unwinds through these frames) leaves no
// file open and no matrix allocated.

#include "matfile/amat.h"

#include <cstring>

namespace modelio {

// A file opened for reading; closed when the record goes.
struct ReadFile {
  AmatGetFile file{};
  ReadFile() = default;
  ReadFile(const ReadFile &) = delete;
  ReadFile &operator=(const ReadFile &) = delete;
  ~ReadFile() { amatGetClose(&file); }
};

// A file opened for writing; closed when the record goes (close() first to
// learn its result).
struct WriteFile {
  AmatPutFile file{};
  WriteFile() = default;
  WriteFile(const WriteFile &) = delete;
  WriteFile &operator=(const WriteFile &) = delete;
  ~WriteFile() { (void)amatPutClose(&file); }
  [[nodiscard]] int32_t close() { return amatPutClose(&file); }
};

// A matrix read from a file; released when the record goes.
struct ReadMatrix {
  AmatMatrix m{};
  ReadMatrix() = default;
  ReadMatrix(const ReadMatrix &) = delete;
  ReadMatrix &operator=(const ReadMatrix &) = delete;
  ~ReadMatrix() { amatFreeMatrix(&m); }
};

// Names compare equal only when both exist.
inline bool sameName(const char *a, const char *b) {
  return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

// The runtime assertion that refuses a null or empty file name: the matrix
// files would write to standard output.
void requireFileName(const char *fileName);

} // namespace modelio
