#pragma once
// Test support of the matrix files: temporary files, bytes of MAT version 4
// headers, and records that release themselves.
#include "matfile/amat.h"
#include "matfile/amat_internal.h"
#include "platform/heap.h"
#include "tests/support/system_calls.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace amattest {

// A path in the test's temporary folder, unique per process and test.
inline std::string tempPath(const std::string &name) {
  const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test = info != nullptr ? std::string(info->test_suite_name()) + "_" + info->name()
                                     : std::string("none");
  for (char &c : test) {
    if (c == '/') c = '_';
  }
  return ::testing::TempDir() + "amat_" + std::to_string(::getpid()) + "_" + test + "_" + name;
}

inline void writeBytes(const std::string &path, const std::string &bytes) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (!bytes.empty()) {
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  }
  std::fclose(f);
}

inline std::string readBytes(const std::string &path) {
  std::string out;
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

inline std::string le32(int32_t v) {
  std::string s(4, '\0');
  for (int b = 0; b < 4; ++b) s[b] = static_cast<char>(static_cast<uint32_t>(v) >> (8 * b));
  return s;
}

template <class T> std::string raw(const std::vector<T> &values) {
  return std::string(reinterpret_cast<const char *>(values.data()), values.size() * sizeof(T));
}

// A 20-byte header and the name with its NUL.
inline std::string header(int32_t type, int32_t mrows, int32_t ncols, const std::string &name) {
  return le32(type) + le32(mrows) + le32(ncols) + le32(0) +
         le32(static_cast<int32_t>(name.size() + 1)) + name + std::string(1, '\0');
}

// A read matrix, released at the end of the scope.
struct Matrix {
  AmatMatrix m{};
  Matrix() = default;
  Matrix(const Matrix &) = delete;
  Matrix &operator=(const Matrix &) = delete;
  ~Matrix() { amatFreeMatrix(&m); }
  AmatMatrix *operator->() { return &m; }
  AmatMatrix *get() { return &m; }
  double at(int i, int j) const; // element (i, j) as double, by type
  std::string row(int i) const {
    auto **rows = static_cast<char **>(m.data);
    return rows[i] != nullptr ? rows[i] : "";
  }
};

inline double Matrix::at(int i, int j) const {
  switch (m.type) {
  case integerMatrix:
    return static_cast<int32_t *>(m.data)[i + j * m.nrow];
  case realMatrix:
    return static_cast<float *>(m.data)[i + j * m.nrow];
  case doubleMatrix:
    return static_cast<double *>(m.data)[i + j * m.nrow];
  case realRowMatrix:
    return static_cast<float **>(m.data)[i][j];
  case doubleRowMatrix:
    return static_cast<double **>(m.data)[i][j];
  default:
    ADD_FAILURE() << "no numeric matrix";
    return 0.0;
  }
}

// A file open for reading, closed at the end of the scope.
struct Reader {
  AmatGetFile f{};
  Reader() = default;
  Reader(const Reader &) = delete;
  Reader &operator=(const Reader &) = delete;
  ~Reader() { amatGetClose(&f); }
  AmatGetFile *operator->() { return &f; }
  AmatGetFile *get() { return &f; }
};

// A file open for writing, closed at the end of the scope.
struct Writer {
  AmatPutFile f{};
  Writer() = default;
  Writer(const Writer &) = delete;
  Writer &operator=(const Writer &) = delete;
  ~Writer() { (void)amatPutClose(&f); }
  AmatPutFile *operator->() { return &f; }
  AmatPutFile *get() { return &f; }
};

// Restores the system calls, the heap and the stop hook, and starts every
// test with the initial message.
class MatfileTest : public ::testing::Test {
protected:
  void SetUp() override { std::strcpy(amatMessage, "No message."); }
  void TearDown() override {
    systemCalls_.restore();
    platform::heapFailFrom(0);
    amatSetStopHook(nullptr);
    for (const std::string &p : paths_) std::remove(p.c_str());
  }
  // A temporary path removed after the test.
  std::string path(const std::string &name) {
    paths_.push_back(tempPath(name));
    return paths_.back();
  }
  std::string message() const { return amatMessage; }

private:
  SystemCallOverride systemCalls_;
  std::vector<std::string> paths_;
};

} // namespace amattest
