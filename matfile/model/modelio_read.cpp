// Reading named matrices, arrays and scalars for model code.
//
// Every reader opens the file without class check and walks its matrices in
// file order, releasing each one after its visit, until the visit has what
// it looked for or a read stops.  The readers differ only in what a failed
// open and a failed read mean (an assertion, or just the end of the search),
// which keeps the assertion texts that models already know.
#include "matfile/model/modelio.h"

#include "matfile/model/modelio_private.h"
#include "source/arrays/arrays.h"
#include "source/runtime_services.h"

#include <climits>
#include <cstdint>
#include <string>

namespace {

using modelio::ReadFile;
using modelio::ReadMatrix;
using modelio::sameName;

constexpr const char *kNumericCondition =
    "amatrix.type==doubleMatrix || amatrix.type==realMatrix || amatrix.type==integerMatrix";
constexpr const char *kNoStrings = "No string matrices allowed";
constexpr const char *kNotFound = "Read of matrix failed";
constexpr const char *kWrongDimension = "Matrix dimension incorrect";
constexpr const char *kIntegerRequired = "Integer matrix required";
constexpr const char *kTooFewDims = "Current version can only read scalars, vectors, and matrices";

enum class OpenFailure { Assert, Skip };
enum class ReadFailure { Assert, End };

// Reads the matrices of fileName in file order and hands each to visit, which
// answers true to end the search.  A failed open asserts "ret==0", a read
// result of 2 or more (3 is the end of the file) asserts "ret<=1", both with
// amatMessage, or ends the search quietly, as asked.
template <class Visit>
void searchFile(const char *fileName, OpenFailure onOpen, ReadFailure onRead, int stripBlanks,
                Visit &&visit) {
  ReadFile file;
  if (amatGetOpen(fileName, "NoClass", nullptr, &file.file) != 0) {
    if (onOpen == OpenFailure::Assert) runtimeAssert(0, "ret==0", amatMessage);
    return;
  }
  for (;;) {
    ReadMatrix matrix;
    const int32_t ret = amatGetMatrix(&file.file, &matrix.m, 0, nullptr, stripBlanks);
    if (ret != 0) {
      if (ret >= 2 && onRead == ReadFailure::Assert) runtimeAssert(0, "ret<=1", amatMessage);
      return;
    }
    if (visit(matrix.m)) return;
  }
}

bool isNumeric(int32_t type) {
  return type == integerMatrix || type == realMatrix || type == doubleMatrix;
}

// Element k of a numeric matrix's block (column-major), as double.
double numericElement(const AmatMatrix &m, int64_t k) {
  switch (m.type) {
  case integerMatrix:
    return static_cast<const int32_t *>(m.data)[k];
  case realMatrix:
    return static_cast<const float *>(m.data)[k];
  default:
    return static_cast<const double *>(m.data)[k];
  }
}

// The number of elements of a matrix read from a file, as an element count
// of the thread's buffers.
int elementCount(const AmatMatrix &m) {
  const int64_t count = static_cast<int64_t>(m.nrow) * m.ncol;
  runtimeAssert(count <= INT_MAX, "amatrix.nrow*amatrix.ncol <= 2147483647", kWrongDimension);
  return static_cast<int>(count);
}

// A copy of text in the calling thread's character area.
char *threadCopy(const char *text) {
  const size_t length = text != nullptr ? std::strlen(text) : 0;
  char *copy = allocSimplestring(length <= INT_MAX ? static_cast<int>(length) : -1);
  if (length > 0) std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

// What RealArrayFromFile and IntegerArrayFromFile do differently.
struct RealTraits {
  using Array = RealArray;
  using Element = double;
  static constexpr ReadFailure onRead = ReadFailure::Assert;
  static void check(const AmatMatrix &m) {
    runtimeAssert(isNumeric(m.type), kNumericCondition, kNoStrings);
  }
  static double *allocate(int n) { return allocRealbuffer(n); }
  static double element(const AmatMatrix &m, int64_t k) { return numericElement(m, k); }
  static RealArray toVector(RealArray a) { return RealToVector(a); }
};

struct IntegerTraits {
  using Array = IntegerArray;
  using Element = int;
  static constexpr ReadFailure onRead = ReadFailure::End;
  static void check(const AmatMatrix &m) {
    runtimeAssert(m.type == integerMatrix, "amatrix.type==integerMatrix", kIntegerRequired);
  }
  static int *allocate(int n) { return allocIntegerbuffer(n); }
  static int element(const AmatMatrix &m, int64_t k) {
    return static_cast<const int32_t *>(m.data)[k];
  }
  static IntegerArray toVector(IntegerArray a) { return IntegerToVector(a); }
};

// The array of ndims dimensions stored as the matrix matrixName: its
// elements in file order taken in the array's own order.  A vector is read
// from a 1 x n or an n x 1 matrix (the matrix's two sizes are kept for the
// conversion to a vector, which refuses any other shape).  For more than two
// dimensions the sizes come from the integer matrix "<matrixName>.size" of
// ndims rows, which may stand before or after the matrix.
template <class Traits>
typename Traits::Array arrayFromFile(const char *fileName, const char *matrixName, int ndims) {
  runtimeAssert(ndims >= 1, "(ndims >= 1)", kTooFewDims);
  const int sizes = ndims < 2 ? 2 : ndims;
  int *dims = allocSizebuffer(sizes);
  for (int k = 0; k < sizes; ++k) dims[k] = 0;
  const std::string sizeName =
      ndims > 2 && matrixName != nullptr ? std::string(matrixName) + ".size" : std::string();
  typename Traits::Element *data = nullptr;
  int count = 0;
  bool found = false;
  bool sizeFound = false;
  searchFile(fileName, OpenFailure::Skip, Traits::onRead, 1, [&](const AmatMatrix &m) {
    if (sameName(m.name, matrixName)) {
      Traits::check(m);
      count = elementCount(m);
      data = Traits::allocate(count);
      if (!sizeFound) {
        dims[0] = m.nrow;
        dims[1] = m.ncol;
      }
      for (int k = 0; k < count; ++k) data[k] = Traits::element(m, k);
      found = true;
      return ndims <= 2 || sizeFound;
    }
    if (ndims > 2 && sameName(m.name, sizeName.c_str()) && m.nrow == ndims) {
      runtimeAssert(m.type == integerMatrix, "amatrix.type == integerMatrix", kIntegerRequired);
      const auto *stored = static_cast<const int32_t *>(m.data);
      for (int k = 0; k < ndims; ++k) dims[k] = stored[k];
      sizeFound = true;
      return found;
    }
    return false;
  });
  runtimeAssert(found, "found", kNotFound);
  if (ndims == 1) return Traits::toVector(typename Traits::Array{2, dims, data});
  if (ndims > 2) {
    runtimeAssert(sizeFound, "sizeFound", "Read of size matrix failed");
    // The sizes must describe exactly the elements read, or the array would
    // reach beyond them.
    int64_t product = 1;
    bool valid = true;
    for (int k = 0; k < ndims && valid; ++k) {
      valid = dims[k] >= 0;
      product *= dims[k];
      valid = valid && product <= count;
    }
    runtimeAssert(valid && product == count, "product of the sizes == amatrix.nrow*amatrix.ncol",
                  kWrongDimension);
  }
  return typename Traits::Array{ndims, dims, data};
}

} // namespace

extern "C" {

RealArray RealMatrixFromFile(const char *fileName, const char *matrixName, int rows, int cols) {
  RealArray result = RealAllocMatrix(rows, cols);
  bool found = false;
  searchFile(fileName, OpenFailure::Assert, ReadFailure::Assert, 1, [&](const AmatMatrix &m) {
    if (!sameName(m.name, matrixName)) return false;
    runtimeAssert(rows == m.nrow && cols == m.ncol, "rows==amatrix.nrow && cols==amatrix.ncol",
                  kWrongDimension);
    runtimeAssert(isNumeric(m.type), kNumericCondition, kNoStrings);
    for (int i = 0; i < rows; ++i) {
      for (int j = 0; j < cols; ++j) {
        result.data[static_cast<int64_t>(i) * cols + j] =
            numericElement(m, i + static_cast<int64_t>(j) * rows);
      }
    }
    found = true;
    return true;
  });
  runtimeAssert(found, "found", kNotFound);
  return result;
}

IntegerArray MatrixSizeFromFile(const char *fileName, const char *matrixName) {
  IntegerArray result = IntegerAllocVector(2);
  bool found = false;
  searchFile(fileName, OpenFailure::Assert, ReadFailure::Assert, 1, [&](const AmatMatrix &m) {
    if (!sameName(m.name, matrixName)) return false;
    result.data[0] = m.nrow;
    result.data[1] = m.ncol;
    found = true;
    return true;
  });
  runtimeAssert(found, "found", kNotFound);
  return result;
}

StringArray MatrixListFromFile(const char *fileName) {
  int count = 0;
  searchFile(fileName, OpenFailure::Assert, ReadFailure::End, 1, [&](const AmatMatrix &) {
    ++count;
    return false;
  });
  StringArray result = StringFillInPlace(StringAllocMatrix(count, 2), "");
  // The file is read again; a file that grew meanwhile cannot overrun the
  // list, and one that fails to open now leaves the empty strings.
  int k = 0;
  searchFile(fileName, OpenFailure::Skip, ReadFailure::End, 1, [&](const AmatMatrix &m) {
    if (k >= count) return true;
    result.data[2 * k] = threadCopy(m.name);
    const char *kind = m.type == integerMatrix                          ? "Integer"
                       : m.type == realMatrix || m.type == doubleMatrix ? "Real"
                                                                        : "Unknown";
    result.data[2 * k + 1] = const_cast<char *>(kind);
    ++k;
    return false;
  });
  return result;
}

RealArray RealArrayFromFile(const char *fileName, const char *matrixName, int ndims) {
  return arrayFromFile<RealTraits>(fileName, matrixName, ndims);
}

IntegerArray IntegerArrayFromFile(const char *fileName, const char *matrixName, int ndims) {
  return arrayFromFile<IntegerTraits>(fileName, matrixName, ndims);
}

StringArray StringArrayFromFile(const char *fileName, const char *matrixName, int ndims) {
  runtimeAssert(ndims >= 1, "(ndims >= 1)", kTooFewDims);
  runtimeAssert(ndims <= 1, "(ndims<=1)&&(ndims>=1)",
                "Current version can only read scalars and vectors");
  int *dims = allocSizebuffer(1);
  dims[0] = 0;
  char **strings = nullptr;
  bool found = false;
  // Only trailing NULs are removed: rows written with NUL padding come back
  // without it, while trailing blanks of the text stay.
  searchFile(fileName, OpenFailure::Skip, ReadFailure::Assert, 0, [&](const AmatMatrix &m) {
    if (!sameName(m.name, matrixName)) return false;
    runtimeAssert(m.type == charMatrix, "amatrix.type == charMatrix",
                  "Only string matrices allowed");
    strings = allocStringbuffer(m.nrow);
    dims[0] = m.nrow;
    const auto *rows = static_cast<char *const *>(m.data);
    for (int k = 0; k < m.nrow; ++k) strings[k] = threadCopy(rows != nullptr ? rows[k] : nullptr);
    found = true;
    return true;
  });
  runtimeAssert(found, "found", kNotFound);
  return StringToVector(StringArray{1, dims, strings});
}

double RealScalarFromFile(const char *fileName, const char *matrixName) {
  return RealToScalar(RealArrayFromFile(fileName, matrixName, 2));
}

int IntegerScalarFromFile(const char *fileName, const char *matrixName) {
  return IntegerToScalar(IntegerArrayFromFile(fileName, matrixName, 2));
}

char *StringScalarFromFile(const char *fileName, const char *matrixName) {
  return StringToScalar(StringArrayFromFile(fileName, matrixName, 1));
}

} // extern "C"
