// Writing matrices and variables for model code.
//
// Files are written anew, binary and binNormal, without class matrix.  An
// empty file name is refused by an assertion: the matrix files take it for
// standard output, which a model unit must never write to.
//
// Appending (RealMatrixToFile) reads the whole existing file first and writes
// it back with the new matrix, so every matrix already in the file is kept;
// a file that exists but cannot be read to its end is not touched, since
// rewriting it would lose what could not be read.
#include "matfile/model/modelio.h"

#include "matfile/model/modelio_private.h"
#include "source/arrays/arrays.h"
#include "source/runtime_services.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using modelio::ReadFile;
using modelio::sameName;
using modelio::WriteFile;

constexpr const char *kWriteMustSucceed = "Write of matrix must succeed";

// Matrices read from a file, released when the list goes.
class MatrixList {
public:
  MatrixList() = default;
  MatrixList(const MatrixList &) = delete;
  MatrixList &operator=(const MatrixList &) = delete;
  ~MatrixList() {
    for (AmatMatrix &m : matrices_) amatFreeMatrix(&m);
  }
  void add(const AmatMatrix &m) {
    try {
      matrices_.push_back(m);
    } catch (...) {
      AmatMatrix lost = m;
      amatFreeMatrix(&lost);
      throw;
    }
  }
  const std::vector<AmatMatrix> &matrices() const { return matrices_; }

private:
  std::vector<AmatMatrix> matrices_;
};

// True when fileName names a file that holds at least one byte.
bool holdsData(const char *fileName) {
  std::FILE *f = std::fopen(fileName, "rb");
  if (f == nullptr) return false;
  const bool data = std::fgetc(f) != EOF;
  std::fclose(f);
  return data;
}

// The matrices of an existing file except those named skip, in file order.
// False when the file exists but cannot be read to its end (amatMessage
// tells why); a file that does not exist, or is empty, holds none.
bool readExisting(const char *fileName, const char *skip, MatrixList *kept) {
  ReadFile file;
  if (amatGetOpen(fileName, "NoClass", nullptr, &file.file) != 0) return !holdsData(fileName);
  for (;;) {
    AmatMatrix m{};
    // Only trailing NULs of text rows go, so that rows come back as stored.
    const int32_t ret = amatGetMatrix(&file.file, &m, 0, nullptr, 0);
    if (ret == 3) return true;
    if (ret != 0) return false;
    if (sameName(m.name, skip)) {
      amatFreeMatrix(&m);
    } else {
      kept->add(m);
    }
  }
}

// The integer matrix "<name>.size" (ndims x 1) holding dims; the write's result.
int32_t putSizes(AmatPutFile *file, int ndims, const int *dims, const char *name) {
  const std::string sizeName = std::string(name != nullptr ? name : "") + ".size";
  AmatMatrix m{};
  amatSetMatrix(sizeName.c_str(), ndims, 1, integerMatrix, const_cast<int *>(dims), &m);
  return amatPutMatrix(file, m);
}

// Ends a va_list however the function is left.
struct ArgumentsEnd {
  va_list &arguments;
  ~ArgumentsEnd() { va_end(arguments); }
};

// The matrix shape of an array of the given sizes: rows of the first
// dimension and columns of the second for two dimensions of a numeric type;
// otherwise all elements in one column (a size matrix goes first when there
// are more dimensions than the matrix shows).
struct Shape {
  int nrow;
  int ncol;
  bool sizesFirst;
};

Shape shapeOf(int ndims, const int *dims, bool text) {
  if (ndims <= 0) return {1, 1, false};
  if (ndims == 1) return {dims[0], 1, false};
  if (ndims == 2 && !text) return {dims[0], dims[1], false};
  return {DimsNrElements(ndims, dims), 1, true};
}

// Writes one array variable; the write's result.
template <class Array>
int32_t putArray(AmatPutFile *file, const char *name, int type, const Array &a, void *data) {
  const Shape shape = shapeOf(a.ndims, a.dims, type == charMatrix);
  if (shape.sizesFirst && putSizes(file, a.ndims, a.dims, name) != 0) return 1;
  AmatMatrix m{};
  amatSetMatrix(name, shape.nrow, shape.ncol, type, data, &m);
  return amatPutMatrix(file, m);
}

// Writes the next variable of the argument list; the write's result, 1 for
// an unknown type code.
int32_t putVariable(AmatPutFile *file, va_list &arguments) {
  const char *name = va_arg(arguments, const char *);
  const int type = va_arg(arguments, int);
  const int ndims = va_arg(arguments, int);
  if (type != integerMatrix && type != doubleMatrix && type != charMatrix) return 1;
  AmatMatrix m{};
  if (ndims == 0) {
    if (type == integerMatrix) {
      int32_t value = va_arg(arguments, int);
      amatSetMatrix(name, 1, 1, integerMatrix, &value, &m);
      return amatPutMatrix(file, m);
    }
    if (type == doubleMatrix) {
      double value = va_arg(arguments, double);
      amatSetMatrix(name, 1, 1, doubleMatrix, &value, &m);
      return amatPutMatrix(file, m);
    }
    char *row[1] = {va_arg(arguments, char *)};
    amatSetMatrix(name, 1, 1, charMatrix, row, &m);
    return amatPutMatrixPad(file, m, '\0');
  }
  MarkGuard mark;
  if (type == integerMatrix) {
    const IntegerArray a = va_arg(arguments, IntegerArray);
    return putArray(file, name, type, a, a.data);
  }
  if (type == doubleMatrix) {
    const RealArray a = va_arg(arguments, RealArray);
    return putArray(file, name, type, a, a.data);
  }
  const StringArray a = va_arg(arguments, StringArray);
  return putArray(file, name, type, a, a.data);
}

} // namespace

void modelio::requireFileName(const char *fileName) {
  runtimeAssert(fileName != nullptr && fileName[0] != '\0',
                "fileName != NULL && fileName[0] != '\\0'",
                "Empty file name: matrices are not written to standard output");
}

extern "C" {

int RealMatrixToFile(const char *fileName, const char *matrixName, RealArray mat, int append) {
  runtimeAssert(mat.ndims == 2, "mat.ndims==2", "Only writing of matrices");
  modelio::requireFileName(fileName);
  MatrixList kept;
  if (append != 0 && !readExisting(fileName, matrixName, &kept)) return 0;

  MarkGuard mark;
  const RealArray reversed = RealReverseDims(mat); // column-major, as the file stores it
  AmatMatrix m{};
  amatSetMatrix(matrixName, mat.dims[0], mat.dims[1], doubleMatrix, reversed.data, &m);
  if (append == 0) return amatPutMatrixFile(fileName, 1, m) == 0 ? 1 : 0;

  WriteFile out;
  if (amatPutOpen(fileName, 1, binNormal, "", "", "", &out.file) != 0) return 0;
  for (const AmatMatrix &old : kept.matrices()) {
    if (amatPutMatrix(&out.file, old) != 0) return 0;
  }
  if (amatPutMatrix(&out.file, m) != 0) return 0;
  return out.close() == 0 ? 1 : 0;
}

void VariablesToFile(const char *fileName, int n, ...) {
  modelio::requireFileName(fileName);
  WriteFile out;
  if (amatPutOpen(fileName, 1, binNormal, "", "", "", &out.file) != 0) {
    runtimeAssert(0, "false", "failed to open output file");
  }
  va_list arguments;
  va_start(arguments, n);
  ArgumentsEnd end{arguments};
  for (int k = 0; k < n; ++k) {
    const int32_t ret = putVariable(&out.file, arguments);
    runtimeAssert(ret == 0, "ret==0", kWriteMustSucceed);
  }
  // A file whose data could not be written out is a failed write as well.
  const int32_t ret = out.close();
  runtimeAssert(ret == 0, "ret==0", kWriteMustSucceed);
}

void ArraySizeToFile(AmatPutFile *file, int ndims, const int *dims, const char *name) {
  (void)putSizes(file, ndims, dims, name);
}

} // extern "C"
