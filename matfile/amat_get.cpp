// Reading matrix files: opening with encoding detection and class check, and
// reading the next matrix with requirements, type resolution, storage and the
// incremental refresh of a row matrix that grows on file.
//
// Before anything is allocated for a matrix, its counts (64-bit) are checked
// against the bytes the file still holds: a header may claim any size, but a
// file can only hold what it holds.  A row matrix or text matrix also needs
// one pointer per row, so its row count may not exceed the file's size.
#include "matfile/amat_internal.h"

#include "platform/sys.h"
#include "source/clocale/clocale_io.h"

#include <cstring>

namespace {

constexpr const char *kStorage =
    "Error when reading numeric matrix \"%.400s(%d,%d)\" from file\n\"%.400s\", since it is not "
    "possible to allocate storage for\n%d numeric elements.\n";
constexpr const char *kOpen = "Not possible to open file \"%.400s\": %.400s\n";
constexpr const char *kFirstCharacter =
    "Error reading first character from file \"%.400s\":\n%.400s\n";

bool isNumeric(int32_t type) { return type >= integerMatrix && type <= doubleMatrix; }

// ---- requirements -------------------------------------------------------------

int32_t checkType(const AmatGetFile *file, const AmatMatrix *m, const AmatMatrix &found) {
  const int32_t want = m->type;
  if ((isNumeric(want) || amatIsRowType(want)) && !isNumeric(found.type)) {
    return amatFail(2,
                    "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause "
                    "matrix should be of type \"integer\", \"real\" or \"double\"\nand not of type "
                    "\"%.400s\".\n",
                    found.name, found.nrow, found.ncol, file->fileName,
                    found.type == charMatrix ? "char" : "unknown");
  }
  if (want == charMatrix && found.type != charMatrix) {
    return amatFail(2,
                    "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause "
                    "matrix should be of type \"char\" and not of type \"%.400s\".\n",
                    found.name, found.nrow, found.ncol, file->fileName,
                    amatElementName(found.type));
  }
  return 0;
}

int32_t checkSigns(const AmatGetFile *file, const AmatMatrix &found) {
  if (found.nrow < 0) {
    return amatFail(
        4,
        "Wrong row dimension (= %d) of matrix \"%.400s\" on file \"%.400s\".\nDimension "
        "must be >= 0.\n",
        found.nrow, found.name, file->fileName);
  }
  if (found.ncol < 0) {
    return amatFail(4,
                    "Wrong column dimension (= %d) of matrix \"%.400s\" on file "
                    "\"%.400s\".\nDimension must be >= 0.\n",
                    found.ncol, found.name, file->fileName);
  }
  return 0;
}

// The requirements in m against the matrix found: 0 fits; 1 fits but has no
// elements (the read goes on); 2 does not fit; 4 impossible dimensions.  The
// sizes are checked also for a matrix without elements, since caller storage
// sized by the requirements must hold every row pointer of a text matrix.
int32_t checkRequirements(const AmatGetFile *file, const AmatMatrix *m, const AmatMatrix &found) {
  if (int32_t r = checkType(file, m, found); r != 0) return r;
  if (int32_t r = checkSigns(file, found); r != 0) return r;
  int32_t result = 0;
  if (int64_t{found.nrow} * found.ncol == 0) {
    result = amatFail(1,
                      "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause "
                      "number of matrix elements is zero.\n",
                      found.name, found.nrow, found.ncol, file->fileName);
  }
  if (m->nrow > 0 && found.nrow != m->nrow) {
    return amatFail(2,
                    "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause "
                    "row dimension = %d required.\n",
                    found.name, found.nrow, found.ncol, file->fileName, m->nrow);
  }
  if (m->ncol > 0 && found.ncol != m->ncol) {
    return amatFail(2,
                    "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause "
                    "column dimension = %d required.\n",
                    found.name, found.nrow, found.ncol, file->fileName, m->ncol);
  }
  if (m->nrow < 0 && int64_t{found.nrow} > -int64_t{m->nrow}) {
    return amatFail(2,
                    "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause "
                    "row dimension <= %d required.\n",
                    found.name, found.nrow, found.ncol, file->fileName,
                    static_cast<int>(-int64_t{m->nrow}));
  }
  if (m->ncol < 0 && int64_t{found.ncol} > -int64_t{m->ncol}) {
    return amatFail(2,
                    "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause "
                    "column dimension <= %d required.\n",
                    found.name, found.nrow, found.ncol, file->fileName,
                    static_cast<int>(-int64_t{m->ncol}));
  }
  return result;
}

// The destination type for the requested and the stored type; -1 for an
// unknown request.
int32_t destinationType(int32_t requested, int32_t stored, int typeHint) {
  switch (requested) {
  case voidMatrix:
    if (stored == realMatrix || stored == doubleMatrix) {
      if (typeHint == 2) return realMatrix;
      if (typeHint == 3) return doubleMatrix;
    }
    return stored;
  case integerMatrix:
    return integerMatrix;
  case realMatrix:
    return realMatrix;
  case doubleMatrix:
    return stored == realMatrix ? realMatrix : doubleMatrix;
  case charMatrix:
    return charMatrix;
  case realRowMatrix:
    return realRowMatrix;
  case doubleRowMatrix:
    return stored == realMatrix ? realRowMatrix : doubleRowMatrix;
  default:
    return -1;
  }
}

// ---- what the file still holds --------------------------------------------------

// Refuses a matrix whose elements from row fromRow on cannot be in the rest
// of the file, and a row or text matrix with more rows than the file has
// bytes.  Nothing is allocated before this check.
int32_t checkFileHolds(AmatGetFile *file, const AmatMatrix &cur, int32_t stored, int precision,
                       int32_t dest, int64_t fromRow) {
  std::FILE *fp = file->fp;
  const int64_t rows = cur.nrow - fromRow > 0 ? cur.nrow - fromRow : 0;
  const int64_t cols = cur.ncol > 0 ? cur.ncol : 0;
  const int64_t left = amatBytesLeft(fp);
  if (file->format == 1) {
    int64_t size = stored == doubleMatrix ? 8 : stored == charMatrix ? (precision == 0 ? 8 : 1) : 4;
    if (rows * cols > left / size) {
      if (stored == charMatrix) {
        return amatFail(4, amatTextReadMessage, cur.name, cur.nrow, cur.ncol, file->fileName,
                        amatEndOfFile);
      }
      return amatFail(4, amatNumericDataMessage, cur.name, cur.nrow, cur.ncol, file->fileName);
    }
  } else if (stored == charMatrix) {
    // Every row is a line of at least one character.
    if (rows > left) {
      return amatFail(4, amatTextReadMessage, cur.name, cur.nrow, cur.ncol, file->fileName,
                      amatEndOfFile);
    }
  } else if (rows * cols > left) {
    // Every value is at least one character.
    return amatFail(4, amatHeaderMessage, file->fileName, "End-of-File reached");
  }
  if ((amatIsRowType(dest) || dest == charMatrix) && int64_t{cur.nrow} > amatFileBytes(fp)) {
    if (dest == charMatrix) {
      return amatFail(4, amatTextStorageMessage, cur.name, cur.nrow, cur.ncol, file->fileName,
                      cur.nrow);
    }
    return amatFail(4, kStorage, cur.name, cur.nrow, cur.ncol, file->fileName, cur.nrow);
  }
  return 0;
}

// ---- storage --------------------------------------------------------------------

int64_t elementSize(int32_t type) {
  return type == doubleMatrix || type == doubleRowMatrix ? 8 : 4;
}

// Releases storage that a failing read allocated (rows of text matrices are
// released by their readers).
void releaseStorage(int32_t type, void *data, int64_t nrow) {
  if (data == nullptr) return;
  if (amatIsRowType(type) || type == charMatrix) {
    auto **rows = static_cast<void **>(data);
    for (int64_t i = 0; i < nrow; ++i) amatRelease(rows[i]);
  }
  amatRelease(data);
}

// Storage for the matrix cur of type dest; 0 or 4.
int32_t allocateStorage(AmatGetFile *file, AmatMatrix &cur, int32_t dest) {
  const int64_t nrow = cur.nrow, ncol = cur.ncol;
  const int64_t counted = ncol * (nrow == 0 ? 1 : nrow); // the count the message names
  auto noStorage = [&] {
    return amatFail(4, kStorage, cur.name, cur.nrow, cur.ncol, file->fileName,
                    amatClampInt(counted));
  };
  cur.firstRow = 0;
  cur.rowCapacity = 0;
  if (dest == charMatrix) {
    cur.data = amatAlloc(nrow > 1 ? nrow : 1, sizeof(char *));
    return cur.data != nullptr ? 0 : noStorage();
  }
  if (!amatIsRowType(dest)) {
    // A matrix without elements gets one element, so that its data is never null.
    cur.data = amatAlloc(nrow * ncol > 1 ? nrow * ncol : 1, elementSize(dest));
    return cur.data != nullptr ? 0 : noStorage();
  }
  const int64_t capacity = nrow > 10 ? nrow : 10;
  auto **rows = static_cast<void **>(amatAlloc(capacity, sizeof(void *)));
  if (rows == nullptr) return noStorage();
  for (int64_t i = 0; i < nrow; ++i) {
    if (amatStopRequested()) {
      releaseStorage(dest, rows, i);
      return amatFail(4, "Reading of file \"%.400s\" stopped by user.\n", file->fileName);
    }
    rows[i] = amatAlloc(ncol, elementSize(dest));
    if (rows[i] == nullptr) {
      releaseStorage(dest, rows, i);
      return noStorage();
    }
  }
  cur.data = rows;
  cur.rowCapacity = static_cast<int32_t>(capacity);
  return 0;
}

int32_t readData(AmatGetFile *file, AmatMatrix &cur, int32_t stored, int precision,
                 int stripBlanks) {
  return file->format == 0 ? amatGetTextData(file, &cur)
                           : amatGetBinData(file, &cur, stored, precision, stripBlanks);
}

// ---- incremental refresh ------------------------------------------------------------

// The caller's rows 0 .. m->nrow-1 stay; rows up to the new count are added
// and read from m->firstRow on (binNormal files: all rows, from the header).
int32_t refresh(AmatGetFile *file, AmatMatrix *m, AmatMatrix &cur, int32_t stored, int precision,
                std::fpos_t *resume) {
  const int64_t n = cur.nrow;
  auto noStorage = [&] {
    return amatFail(4, kStorage, cur.name, cur.nrow, cur.ncol, file->fileName, amatClampInt(n));
  };
  if (int32_t r = checkType(file, m, cur); r != 0) return r;
  if (int32_t r = checkSigns(file, cur); r != 0) return r;
  if (m->firstRow < 0 || m->firstRow > m->nrow || m->nrow < 0 || m->nrow > m->rowCapacity) {
    return amatFail(4,
                    "Programming error when reading matrix \"%.400s\" from file \"%.400s\".\nThe "
                    "row matrix to be refreshed is inconsistent\n(matrix.nrow = %d, "
                    "matrix.firstRow = %d, matrix.rowCapacity = %d)\n",
                    cur.name, file->fileName, m->nrow, m->firstRow, m->rowCapacity);
  }
  if (cur.ncol != m->ncol || n < m->nrow) {
    return amatFail(2,
                    "Error when reading matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nbecause "
                    "the matrix on file no longer extends the matrix read before (%d,%d).\n",
                    cur.name, cur.nrow, cur.ncol, file->fileName, m->nrow, m->ncol);
  }
  // Rows follow each other in text files and binTrans files: continue at the
  // first row not yet read.  binNormal files are read whole from the header.
  const bool contiguous = file->format == 0 || file->bstruct == binTrans;
  const int64_t from = contiguous ? m->firstRow : 0;
  if (contiguous && platform::sys.fsetpos(file->fp, resume) != 0) return noStorage();
  if (int32_t r = checkFileHolds(file, cur, stored, precision, m->type, from); r != 0) return r;

  if (n > m->rowCapacity) {
    int64_t capacity = 2 * int64_t{m->rowCapacity};
    if (capacity < n) capacity = n;
    if (capacity > INT32_MAX) capacity = INT32_MAX;
    auto **grown = static_cast<void **>(amatAlloc(capacity, sizeof(void *)));
    if (grown == nullptr) return noStorage();
    if (m->data != nullptr && m->nrow > 0) {
      std::memcpy(grown, m->data, static_cast<std::size_t>(m->nrow) * sizeof(void *));
    }
    amatRelease(m->data);
    m->data = grown;
    m->rowCapacity = static_cast<int32_t>(capacity);
  }
  auto **rows = static_cast<void **>(m->data);
  auto dropNewRows = [&] {
    for (int64_t i = m->nrow; i < n; ++i) {
      amatRelease(rows[i]);
      rows[i] = nullptr;
    }
  };
  for (int64_t i = m->nrow; i < n; ++i) {
    rows[i] = amatAlloc(cur.ncol, elementSize(m->type));
    if (rows[i] == nullptr) {
      dropNewRows();
      return noStorage();
    }
  }
  cur.data = m->data;
  cur.type = m->type;
  cur.firstRow = static_cast<int32_t>(from);
  cur.rowCapacity = m->rowCapacity;
  if (int32_t r = readData(file, cur, stored, precision, 1); r != 0) {
    dropNewRows();
    return r;
  }
  return 0;
}

// A refresh reads a file that has changed since the stream last read it, at
// a position the stream has read before.  The C library answers a position
// inside the range it still holds in its read buffer from that buffer, so a
// header read there would be the stale one.  Flushing a read stream gives
// its buffer up; setting the position again then makes the next read come
// from the file as it is now.
int32_t dropReadBuffer(AmatGetFile *file) {
  std::fpos_t here;
  if (platform::sys.fgetpos(file->fp, &here) != 0 || platform::sys.fflush(file->fp) != 0 ||
      platform::sys.fsetpos(file->fp, &here) != 0) {
    return amatFail(4, amatHeaderMessage, file->fileName, amatErrorText());
  }
  return 0;
}

} // namespace

// ---- reading the next matrix ----------------------------------------------------------

int32_t amatGetMatrix(AmatGetFile *file, AmatMatrix *m, int typeHint, std::fpos_t *resume,
                      int stripBlanks) {
  if (file == nullptr || m == nullptr || file->fp == nullptr || file->fileName == nullptr) {
    return amatNullPointer(4);
  }
  AmatMatrix &cur = file->current;
  cur = AmatMatrix{m->name, 0, 0, voidMatrix, m->data, 0, 0};
  char nameBuffer[101];
  int precision = 0;
  int32_t r = 0;
  // A row matrix read before, to be refreshed from the file.
  const bool refreshing = resume != nullptr && m->data != nullptr && amatIsRowType(m->type);
  if (resume != nullptr) {
    if (int32_t s = dropReadBuffer(file); s != 0) return s;
  }
  if (file->format == 0) {
    r = amatGetTextHeader(file, &cur, nameBuffer, 100);
  } else if (file->format == 1) {
    r = amatGetBinHeader(file, &cur, nameBuffer, 100, &precision);
  } else {
    return amatFail(4,
                    "Error should never occur when reading file \"%.400s\"\n(FileFormat = %d).\n",
                    file->fileName, file->format);
  }
  if (r == 3 && refreshing) {
    return amatFail(4,
                    "Error when reading matrix \"%.400s\" from file \"%.400s\",\nbecause the file "
                    "ends before the matrix read before (%d,%d).\n",
                    m->name != nullptr ? m->name : "", file->fileName, m->nrow, m->ncol);
  }
  if (r != 0) return r;

  char *ownName = m->name == nullptr ? cur.name : nullptr; // allocated by this call
  auto fail = [&](int32_t result) {
    amatRelease(ownName);
    cur = AmatMatrix{};
    return result;
  };
  const int32_t stored = cur.type;
  const int32_t dest = destinationType(m->type, stored, typeHint);
  const bool callerStorage = m->data != nullptr;
  const bool isRefresh =
      resume != nullptr && callerStorage && amatIsRowType(m->type) && dest == m->type;

  if (isRefresh) {
    r = refresh(file, m, cur, stored, precision, resume);
    if (r != 0) return fail(r);
  } else {
    if (resume == nullptr || callerStorage) {
      if (resume != nullptr &&
          (m->nrow == 0 || (m->ncol == 0 && m->type != charMatrix) || m->type == voidMatrix)) {
        return fail(amatFail(
            4,
            "Programming error when reading matrix \"%.400s(%d,%d)\" from file "
            "\"%.400s\".\nFunction amatGetMatrix is called with storage supplied for the\nmatrix "
            "data (matrix.data != NULL), but row dimension, column dimension\nand matrix type are "
            "not all predefined\n(matrix.nrow = %d, matrix.ncol = %d, matrix.type = %.400s)\n",
            cur.name, cur.nrow, cur.ncol, file->fileName, m->nrow, m->ncol, amatTypeName(m->type)));
      }
      // Caller storage is filled only after the matrix found is checked
      // against the requirements, which are what make it fit.
      r = checkRequirements(file, m, cur);
      if (r == 2 || r == 4) return fail(r);
    } else if (int32_t s = checkSigns(file, cur); s != 0) {
      return fail(s);
    }
    if (dest < 0) {
      return fail(amatFail(4,
                           "Error should never occur when reading matrix \"%.400s(%d,%d)\"\nfrom "
                           "file \"%.400s\" (matrix->type = %d)\n",
                           cur.name, cur.nrow, cur.ncol, file->fileName, m->type));
    }
    if (int32_t s = checkFileHolds(file, cur, stored, precision, dest, 0); s != 0) return fail(s);
    if (!callerStorage) {
      if (int32_t s = allocateStorage(file, cur, dest); s != 0) return fail(s);
    } else {
      cur.data = m->data;
      cur.firstRow = 0;
      cur.rowCapacity = m->rowCapacity;
    }
    cur.type = dest;
    const int64_t rowsHeld = cur.nrow;
    r = readData(file, cur, stored, precision, stripBlanks);
    if (r != 0) {
      if (!callerStorage) releaseStorage(dest, cur.data, amatIsRowType(dest) ? rowsHeld : 0);
      return fail(r);
    }
  }

  if (m->name == nullptr) m->name = cur.name;
  m->nrow = cur.nrow;
  m->ncol = cur.ncol;
  m->type = cur.type;
  m->firstRow = cur.firstRow;
  if (!callerStorage) {
    m->data = cur.data;
    m->rowCapacity = cur.rowCapacity;
  } else if (isRefresh) {
    m->rowCapacity = cur.rowCapacity;
  }
  return 0;
}

int32_t amatGetMatrixDefault(AmatGetFile *file, AmatMatrix *m) {
  return amatGetMatrix(file, m, 0, nullptr, 1);
}

// ---- opening and closing --------------------------------------------------------------

int32_t amatGetOpen(const char *fileName, const char *className, const char *version,
                    AmatGetFile *file) {
  if (file == nullptr || fileName == nullptr) return amatNullPointer(4);
  *file = AmatGetFile{};
  std::FILE *fp = platform::sys.fopen(fileName, "r");
  if (fp == nullptr) return amatFail(5, kOpen, fileName, amatErrorText());
  auto closeWith = [&](int32_t result) {
    if (fp != nullptr) platform::sys.fclose(fp);
    amatRelease(file->fileName);
    *file = AmatGetFile{};
    return result;
  };
  auto firstCharacterFailed = [&] {
    amatFail(5, kFirstCharacter, fileName, std::ferror(fp) ? amatErrorText() : amatEndOfFile);
    return closeWith(5);
  };

  int c = getc(fp);
  if (c == EOF) return firstCharacterFailed();
  if (c == 0xEF) {
    int c2 = getc(fp);
    int c3 = c2 == EOF ? EOF : getc(fp);
    if (c2 == 0xBB && c3 == 0xBF) {
      // A UTF-8 byte-order mark: the file goes on after it.
      c = getc(fp);
      if (c == EOF) return firstCharacterFailed();
    } else {
      platform::sys.fclose(fp);
      fp = platform::sys.fopen(fileName, "r");
      if (fp == nullptr) return amatFail(5, kOpen, fileName, amatErrorText());
      c = getc(fp);
      if (c == EOF) return firstCharacterFailed();
    }
  }
  if (c == '#') {
    file->format = 0;
    int d = getc(fp);
    if (d == EOF) {
      if (std::ferror(fp)) {
        amatFail(5, amatHeaderMessage, fileName, amatErrorText());
        return closeWith(5);
      }
      amatFail(4, amatHeaderMessage, fileName, amatEndOfFile);
      return closeWith(4);
    }
    if (d != '1') {
      amatFail(5,
               "Error reading format and version information in first line of \nfile \"%.400s\": "
               "\"#%.400s\" expected, but \"#%c\" found.\n",
               fileName, "1", d);
      return closeWith(5);
    }
  } else {
    file->format = 1;
    platform::sys.fclose(fp);
    fp = platform::sys.fopen(fileName, "rb");
    if (fp == nullptr) return amatFail(5, kOpen, fileName, amatErrorText());
  }
  file->fileName = amatCopyText(fileName);
  if (file->fileName == nullptr) {
    amatFail(5,
             "Not possible to allocate enough storage in order to open\nfile \"%.400s\" for "
             "reading of matrices:\n%.400s\n",
             fileName, amatErrorText());
    return closeWith(5);
  }
  file->fp = fp;
  if (className != nullptr && std::strcmp(className, "NoClass") == 0) return 0;

  AmatMatrix cls{};
  cls.type = charMatrix;
  int32_t r = amatGetMatrixDefault(file, &cls);
  if (r != 0) return closeWith(r == 1 || r == 2 ? 1 : r == 3 ? 4 : 5);
  const char *accepted = std::strcmp(cls.name, "Aclass") == 0  ? "Aclass"
                         : std::strcmp(cls.name, "class") == 0 ? "class"
                                                               : nullptr;
  if (accepted == nullptr) {
    amatFail(
        2,
        "Not possible to read matrices from file \"%.400s\",\nbecause the first matrix on file "
        "(=\"%.400s\")\nhas not the name \"class\" or \"Aclass\".\n",
        fileName, cls.name);
    amatFreeMatrix(&cls);
    return closeWith(2);
  }
  amatRelease(cls.name);
  cls.name = const_cast<char *>(accepted);
  auto **rows = static_cast<char **>(cls.data);
  auto row = [&](int k) -> const char * { return rows[k] != nullptr ? rows[k] : ""; };
  auto rejectWith = [&](int32_t result) {
    amatFreeText(rows, cls.nrow);
    return closeWith(result);
  };
  if (cls.nrow < 3) {
    amatFail(5,
             "Not possible to read matrices from file \"%.400s\",\nbecause matrix \"Aclass\" has "
             "less than 3 rows.\n(in the first row the class-name, in the second row\nthe "
             "version-number and in the third row the description text\nmust be stored)\n",
             fileName);
    return rejectWith(5);
  }
  if (className == nullptr || std::strcmp(row(0), className) != 0) {
    amatFail(2,
             "Not possible to read matrices from file \"%.400s\",\nbecause the class name (= "
             "\"%.400s\") does not correspond to\nthe required class name (= \"%.400s\").\nNote, "
             "that the class name is stored in the first row\nof the first matrix \"Aclass\" on "
             "file.\n",
             fileName, row(0), className != nullptr ? className : "");
    return rejectWith(2);
  }
  if (version != nullptr && std::strcmp(row(1), version) != 0) {
    amatFail(
        3,
        "Not possible to read matrices from file \"%.400s\",\nbecause the version number  (= "
        "\"%.400s\") does not correspond to\nthe required version number (= \"%.400s\").\nNote, "
        "that the version number is stored in the second row\nof the first matrix \"Aclass\" "
        "on file.\n",
        fileName, row(1), version);
    return rejectWith(3);
  }
  if (cls.nrow >= 4 && std::strcmp(row(3), "binTrans") == 0) file->bstruct = binTrans;
  file->classMatrix = cls;
  return 0;
}

void amatGetClose(AmatGetFile *file) {
  if (file == nullptr || file->fp == nullptr) return;
  platform::sys.fclose(file->fp);
  amatRelease(file->fileName);
  amatFreeText(static_cast<char **>(file->classMatrix.data), file->classMatrix.nrow);
  file->fileName = nullptr;
  file->fp = nullptr;
  file->classMatrix = AmatMatrix{};
}
