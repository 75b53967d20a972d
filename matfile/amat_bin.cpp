// Readers of binary (MAT version 4) matrix files: the header with the name,
// and one element reader per stored precision that converts into the
// destination type in the file's storage order.
//
// The caller (amatGetMatrix) has checked that the elements fit into what the
// file still holds and provided the storage; the readers only ever read the
// counts in the header and stop at a short read.
#include "matfile/amat_internal.h"

#include "source/clocale/clocale_io.h"

#include <bit>
#include <cstring>
#include <type_traits>

static_assert(std::endian::native == std::endian::little,
              "binary matrix files are little-endian, as this machine");

namespace {

constexpr const char *kStopped = "Reading of file \"%.400s\" stopped by user.\n";

// The reason of a short read: the end of the file or the system's error.
const char *shortReadReason(std::FILE *stream) {
  return std::ferror(stream) ? amatErrorText() : amatEndOfFile;
}

// Reads exactly count elements of size bytes; false on a short read.
bool readExactly(std::FILE *stream, void *into, std::size_t size, int64_t count) {
  if (count <= 0) return true;
  return std::fread(into, size, static_cast<std::size_t>(count), stream) ==
         static_cast<std::size_t>(count);
}

// Skips count bytes of a regular file (count never exceeds what is left).
bool skipBytes(std::FILE *stream, int64_t count) {
  return count <= 0 || fseeko(stream, static_cast<off_t>(count), SEEK_CUR) == 0;
}

template <class Dst, class Src> Dst convert(Src value) {
  if constexpr (std::is_same_v<Dst, int32_t> && !std::is_same_v<Src, int32_t>) {
    return amatToInt32(static_cast<double>(value));
  } else {
    return static_cast<Dst>(value);
  }
}

// Elements of stored type Src into destination Dst, flat (Rows false:
// element (i, j) at i + j*nrow) or into row pointers (Rows true).
template <class Src, class Dst, bool Rows>
int32_t readElements(AmatGetFile *file, AmatMatrix *cur) {
  std::FILE *fp = file->fp;
  const int64_t nrow = cur->nrow, ncol = cur->ncol;
  const bool trans = file->bstruct == binTrans;
  auto shortRead = [&] {
    return amatFail(4, amatNumericDataMessage, cur->name, cur->nrow, cur->ncol, file->fileName);
  };
  if (nrow <= 0 || ncol <= 0) {
    if (Rows && trans) cur->firstRow = cur->nrow;
    return 0;
  }
  constexpr bool same = std::is_same_v<Src, Dst>;
  auto *flat = static_cast<Dst *>(cur->data);
  auto **rows = static_cast<Dst **>(cur->data);
  // Element (i, j) of the destination.
  auto at = [&](int64_t i, int64_t j) -> Dst & {
    if constexpr (Rows)
      return rows[i][j];
    else
      return flat[i + j * nrow];
  };

  if (!Rows && !trans && same) {
    return readExactly(fp, flat, sizeof(Src), nrow * ncol) ? 0 : shortRead();
  }
  constexpr int64_t kChunk = 4096;
  Src buffer[kChunk];
  if (trans) {
    // Row after row, each row's ncol values contiguous.
    const int64_t from = Rows ? cur->firstRow : 0;
    for (int64_t i = from; i < nrow; ++i) {
      if (Rows && std::is_same_v<Src, float> && amatStopRequested()) {
        return amatFail(4, kStopped, file->fileName);
      }
      if (Rows && same) {
        if (!readExactly(fp, rows[i], sizeof(Src), ncol)) return shortRead();
        continue;
      }
      for (int64_t j0 = 0; j0 < ncol; j0 += kChunk) {
        int64_t n = ncol - j0 < kChunk ? ncol - j0 : kChunk;
        if (!readExactly(fp, buffer, sizeof(Src), n)) return shortRead();
        for (int64_t j = j0; j < j0 + n; ++j) at(i, j) = convert<Dst>(buffer[j - j0]);
      }
    }
    if (Rows) cur->firstRow = cur->nrow;
    return 0;
  }
  // binNormal: column after column; all rows.
  const int64_t total = nrow * ncol;
  for (int64_t k0 = 0; k0 < total; k0 += kChunk) {
    int64_t n = total - k0 < kChunk ? total - k0 : kChunk;
    if (!readExactly(fp, buffer, sizeof(Src), n)) return shortRead();
    for (int64_t k = k0; k < k0 + n; ++k) at(k % nrow, k / nrow) = convert<Dst>(buffer[k - k0]);
  }
  return 0;
}

template <class Src> int32_t readNumeric(AmatGetFile *file, AmatMatrix *cur) {
  if (file == nullptr || cur == nullptr || file->fp == nullptr) return amatNullPointer(4);
  if (cur->data == nullptr && cur->nrow > 0 && cur->ncol > 0) return amatNullPointer(4);
  switch (cur->type) {
  case integerMatrix:
    return readElements<Src, int32_t, false>(file, cur);
  case realMatrix:
    return readElements<Src, float, false>(file, cur);
  case doubleMatrix:
    return readElements<Src, double, false>(file, cur);
  case realRowMatrix:
    return readElements<Src, float, true>(file, cur);
  case doubleRowMatrix:
    return readElements<Src, double, true>(file, cur);
  default:
    return amatFail(4,
                    "Error should never occur when reading file \"%.400s\"\n(matrix.type = %d).\n",
                    file->fileName, cur->type);
  }
}

} // namespace

int32_t amatGetBinHeader(AmatGetFile *file, AmatMatrix *cur, char *nameBuffer, int nameWidth,
                         int *precision) {
  if (file == nullptr || cur == nullptr || file->fp == nullptr || precision == nullptr) {
    return amatNullPointer(4);
  }
  std::FILE *fp = file->fp;
  unsigned char bytes[20];
  if (std::fread(bytes, 1, sizeof bytes, fp) != sizeof bytes) {
    if (std::ferror(fp)) return amatFail(4, amatHeaderMessage, file->fileName, amatErrorText());
    return amatFail(3, amatHeaderMessage, file->fileName, amatEndOfFile);
  }
  int32_t h[5];
  amatDecodeHeader(bytes, h);
  const int32_t code = h[0], mrows = h[1], ncols = h[2], imagf = h[3], namlen = h[4];
  if (code / 1000 != 0) {
    return amatFail(4,
                    "Cannot read matrix from file \"%.400s\".\nThe file has incorrect format (note "
                    "that binary files must be saved with '-v4' in MATLAB).\n",
                    file->fileName);
  }
  // The name must lie within the file: a length outside 0 .. bytes left is
  // refused before anything is allocated.
  if (namlen < 0 || namlen > amatBytesLeft(fp)) {
    char reason[100];
    (void)snprintfC(reason, sizeof reason, "Length of matrix name (= %d) is out of range.", namlen);
    return amatFail(4, amatHeaderMessage, file->fileName, reason);
  }

  char *name = nullptr; // the name found
  char *allocated = nullptr;
  if (cur->name == nullptr) {
    allocated = static_cast<char *>(amatAlloc(int64_t{namlen} + 1, 1));
    if (allocated == nullptr) {
      return amatFail(4,
                      "Error when reading matrix from file \"%.400s\",\nbecause it is not possible "
                      "to allocate storage for\nthe matrix name (length = %d)\n:%.400s\n",
                      file->fileName, namlen + 1, amatErrorText());
    }
    if (!readExactly(fp, allocated, 1, namlen)) {
      amatRelease(allocated);
      return amatFail(4, amatHeaderMessage, file->fileName, shortReadReason(fp));
    }
    allocated[namlen] = '\0';
    name = allocated;
  } else {
    // Only the first nameWidth characters of a longer stored name count.
    int64_t keep = namlen <= nameWidth + 1 ? namlen : nameWidth;
    if (!readExactly(fp, nameBuffer, 1, keep) || !skipBytes(fp, namlen - keep)) {
      return amatFail(4, amatHeaderMessage, file->fileName, shortReadReason(fp));
    }
    nameBuffer[keep < nameWidth ? keep : nameWidth] = '\0';
    if (std::strcmp(nameBuffer, cur->name) != 0) {
      return amatFail(2,
                      "Error when reading matrix \"%.400s\" from file \"%.400s\",\nbecause "
                      "matrix-name = \"%.400s\" required.\n",
                      nameBuffer, file->fileName, cur->name);
    }
    name = cur->name;
  }

  // A complex matrix stores its imaginary block after the real one; it is
  // refused here, before either block could be taken for something else.
  if (imagf != 0) {
    amatFail(4,
             "Error when reading matrix \"%.400s\" from file \"%.400s\",\nbecause it is complex "
             "(imagf = %d) and complex matrices are not supported.\n",
             name, file->fileName, imagf);
    amatRelease(allocated);
    return 4;
  }

  const int p = code % 1000 % 100 / 10, t = code % 10;
  int32_t type = voidMatrix;
  if (t == 0) {
    type = p == 0 ? doubleMatrix : p == 1 ? realMatrix : p == 2 ? integerMatrix : voidMatrix;
    if (type == voidMatrix) {
      amatFail(4,
               "Wrong precision flag (= %d) of numeric matrix \"%.400s\" on file \"%.400s\"\nFlag "
               "must be 0 (= 64-bit) or 1 (32-bit).\n",
               p, name, file->fileName);
      amatRelease(allocated);
      return 4;
    }
  } else if (t == 1) {
    type = charMatrix;
  } else {
    amatFail(4,
             "Wrong type flag (= %d) of matrix \"%.400s\" on file \"%.400s\".\nThe type flag must "
             "be 0 (= numeric matrix) or 1 (= character matrix).\n",
             t, name, file->fileName);
    amatRelease(allocated);
    return 4;
  }
  cur->name = name;
  cur->type = type;
  cur->nrow = file->bstruct == binTrans ? ncols : mrows;
  cur->ncol = file->bstruct == binTrans ? mrows : ncols;
  *precision = p;
  return 0;
}

int32_t amatGetBinInt(AmatGetFile *file, AmatMatrix *cur) {
  return readNumeric<int32_t>(file, cur);
}
int32_t amatGetBinFloat(AmatGetFile *file, AmatMatrix *cur) {
  return readNumeric<float>(file, cur);
}
int32_t amatGetBinDouble(AmatGetFile *file, AmatMatrix *cur) {
  return readNumeric<double>(file, cur);
}

int32_t amatGetBinChar(AmatGetFile *file, AmatMatrix *cur, int precision, int stripBlanks) {
  if (file == nullptr || cur == nullptr || file->fp == nullptr) return amatNullPointer(4);
  std::FILE *fp = file->fp;
  if (precision != 0 && precision != 5) {
    return amatFail(4,
                    "Wrong precision flag (= %d) of character matrix \"%.400s(%d,%d)\"\non file "
                    "\"%.400s\".\nFlag must be 0 (= 64-bit) or 5 (= 8-bit unsigned integer).\n",
                    precision, cur->name, cur->nrow, cur->ncol, file->fileName);
  }
  const int64_t nrow = cur->nrow > 0 ? cur->nrow : 0;
  const int64_t length = cur->ncol > 0 ? cur->ncol : 0; // stored row length
  const bool trans = file->bstruct == binTrans;
  auto **rows = static_cast<char **>(cur->data);
  if (rows == nullptr && nrow > 0) return amatNullPointer(4);
  for (int64_t i = 0; i < nrow; ++i) rows[i] = nullptr;
  if (nrow == 0 || length == 0) {
    // Nothing stored: every row is empty.
    cur->ncol = 0;
    return 0;
  }

  // binNormal needs all characters before any row is complete; binTrans
  // reads one row at a time.
  const int64_t held = trans ? length : nrow * length;
  char *chars = static_cast<char *>(amatAlloc(held + 1, 1));
  char *row = static_cast<char *>(amatAlloc(length + 1, 1));
  auto fail = [&](int32_t r) {
    amatReleaseRows(rows, nrow);
    amatRelease(chars);
    amatRelease(row);
    return r;
  };
  if (chars == nullptr || row == nullptr) {
    amatFail(4, amatTextStorageMessage, cur->name, cur->nrow, cur->ncol, file->fileName,
             amatClampInt(chars == nullptr ? held + 1 : length + 1));
    return fail(4);
  }
  // Reads n characters: one byte each (P 5) or one float64 character code
  // each (P 0, the low byte of its value truncated to an integer).
  auto readChars = [&](char *into, int64_t n) {
    if (precision == 5) return readExactly(fp, into, 1, n);
    double codes[512];
    for (int64_t k0 = 0; k0 < n; k0 += 512) {
      int64_t m = n - k0 < 512 ? n - k0 : 512;
      if (!readExactly(fp, codes, sizeof(double), m)) return false;
      for (int64_t k = 0; k < m; ++k) {
        into[k0 + k] = static_cast<char>(static_cast<unsigned char>(amatToInt32(codes[k]) & 0xFF));
      }
    }
    return true;
  };
  if (!trans && !readChars(chars, held)) {
    amatFail(4, amatTextReadMessage, cur->name, cur->nrow, cur->ncol, file->fileName,
             shortReadReason(fp));
    return fail(4);
  }
  int64_t longest = 0;
  for (int64_t i = 0; i < nrow; ++i) {
    if (trans) {
      if (!readChars(row, length)) {
        amatFail(4, amatTextReadMessage, cur->name, cur->nrow, cur->ncol, file->fileName,
                 shortReadReason(fp));
        return fail(4);
      }
    } else {
      for (int64_t j = 0; j < length; ++j) row[j] = chars[i + j * nrow];
    }
    int64_t left = length;
    while (left > 0 && (stripBlanks != 0 ? isspaceC(static_cast<unsigned char>(row[left - 1])) != 0
                                         : row[left - 1] == '\0')) {
      --left;
    }
    if (left > longest) longest = left;
    if (left == 0) continue;
    rows[i] = static_cast<char *>(amatAlloc(left + 1, 1));
    if (rows[i] == nullptr) {
      amatFail(4, amatTextStorageMessage, cur->name, cur->nrow, cur->ncol, file->fileName,
               amatClampInt(left + 1));
      return fail(4);
    }
    // The copy ends at the first NUL (binNormal rows carry one after their text).
    std::size_t n = strnlen(row, static_cast<std::size_t>(left));
    std::memcpy(rows[i], row, n);
    rows[i][n] = '\0';
  }
  cur->ncol = amatClampInt(longest);
  amatRelease(chars);
  amatRelease(row);
  return 0;
}

int32_t amatGetBinData(AmatGetFile *file, AmatMatrix *cur, int storedType, int precision,
                       int stripBlanks) {
  if (file == nullptr || cur == nullptr) return amatNullPointer(4);
  switch (storedType) {
  case integerMatrix:
    return amatGetBinInt(file, cur);
  case realMatrix:
    return amatGetBinFloat(file, cur);
  case doubleMatrix:
    return amatGetBinDouble(file, cur);
  case charMatrix:
    return amatGetBinChar(file, cur, precision, stripBlanks);
  default:
    return amatFail(4,
                    "Error should never occur when reading file \"%.400s\"\n(matrix.type = %d).\n",
                    file->fileName, storedType);
  }
}
