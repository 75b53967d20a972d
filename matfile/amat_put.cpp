// Writing matrix files: opening with the class matrix, whole matrices of
// every type in binary and text form, one matrix as a file, and row-wise
// writing that keeps the file complete and readable after every row.
//
// Text numbers are printed in the "C" locale with fixed-width formats: float32
// values with eight significant digits (" %14.7E"), which is what files and
// their readers know, although a float32 needs nine to come back bit for bit;
// float64 values with seventeen (" %23.16E"), which round-trip.
#include "matfile/amat_internal.h"

#include "platform/sys.h"
#include "source/clocale/clocale_io.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

constexpr const char *kWriteFailed =
    "Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\n%.400s\n";
constexpr const char *kRowWiseFailed =
    "Error when writing matrix \"%.400s\" row-wise to file \"%.400s\":\n%.400s\n";
constexpr const char *kRowFailed =
    "Error when writing row %d of matrix \"%.400s\" row-wise\nto file \"%.400s\": %.400s\n";
constexpr const char *kNeverFormat =
    "Error should never occur when writing matrix \"%.400s\" to\nfile \"%.400s\" (file.format = "
    "%d)\n";

// The name of the output in messages.
const char *target(const AmatPutFile *file) {
  return file->fileName != nullptr ? file->fileName : "stdout";
}

// Remembers the first failing output call's error; the writers check once at
// the end of a matrix.
struct Output {
  std::FILE *fp;
  bool ok = true;
  int error = 0;

  void check(bool good) {
    if (!good && ok) {
      ok = false;
      error = errno != 0 ? errno : EIO;
    }
  }
  void bytes(const void *data, std::size_t size, int64_t count) {
    if (count > 0) {
      check(platform::sys.fwrite(data, size, static_cast<std::size_t>(count), fp) ==
            static_cast<std::size_t>(count));
    }
  }
  void text(const char *s) { check(fprintfC(fp, "%s", s) >= 0); }
  template <class... Args> void print(const char *format, Args... args) {
    // The formats are the writers' own, put together from fixed widths.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    check(fprintfC(fp, format, args...) >= 0);
#pragma GCC diagnostic pop
  }
};

// The names that a text declaration holds and its reader reads back: 1 to
// 100 characters, without '(' (which ends the name) and without white space
// (which ends it too, or is skipped before it, or ends the line).  Null for
// such a name, else the rule, as the reason of the refusal.
const char *textNameFault(const char *name) {
  const std::size_t length = std::strlen(name);
  bool fits = length >= 1 && length <= 100;
  for (std::size_t k = 0; fits && k < length; ++k) {
    const auto c = static_cast<unsigned char>(name[k]);
    fits = c != '(' && isspaceC(c) == 0;
  }
  return fits ? nullptr
              : "The name of a matrix in a text file must have 1 to 100 characters, none of them "
                "'(' or white space.";
}

int32_t writeFailed(const AmatPutFile *file, const AmatMatrix &m, const char *reason) {
  return amatFail(1, kWriteFailed, m.name, m.nrow, m.ncol, target(file), reason);
}

int32_t finish(const AmatPutFile *file, const AmatMatrix &m, const Output &out) {
  return out.ok ? 0 : writeFailed(file, m, amatErrorText(out.error));
}

// ---- binary -----------------------------------------------------------------------

bool writeHeader(Output &out, const int32_t header[5], const char *name) {
  unsigned char bytes[20];
  amatEncodeHeader(header, bytes);
  out.bytes(bytes, 1, 20);
  out.bytes(name, 1, header[4]);
  return out.ok;
}

int32_t putBinaryText(AmatPutFile *file, const AmatMatrix &m, char pad, int32_t namlen) {
  const int64_t nrow = m.nrow;
  auto **rows = static_cast<char **>(m.data);
  auto *lengths = static_cast<int64_t *>(amatAlloc(nrow, sizeof(int64_t)));
  if (lengths == nullptr) return writeFailed(file, m, "not enough memory\n");
  int64_t longest = 0;
  for (int64_t i = 0; i < nrow; ++i) {
    lengths[i] =
        rows != nullptr && rows[i] != nullptr ? static_cast<int64_t>(std::strlen(rows[i])) : 0;
    if (lengths[i] > longest) longest = lengths[i];
  }
  if (longest > INT32_MAX) {
    amatRelease(lengths);
    return writeFailed(file, m, "row too long");
  }
  const bool trans = file->bstruct == binTrans;
  const int32_t length = static_cast<int32_t>(longest);
  const int32_t header[5] = {51, trans ? length : m.nrow, trans ? m.nrow : length, 0, namlen};
  Output out{file->fp};
  if (writeHeader(out, header, m.name) && nrow > 0 && longest > 0) {
    auto *buffer = static_cast<char *>(amatAlloc(trans ? longest : nrow, 1));
    if (buffer == nullptr) {
      amatRelease(lengths);
      return writeFailed(file, m, "not enough memory\n");
    }
    if (trans) {
      // Each row's characters, padded to the longest row, without NUL.
      for (int64_t i = 0; i < nrow && out.ok; ++i) {
        if (lengths[i] > 0) std::memcpy(buffer, rows[i], static_cast<std::size_t>(lengths[i]));
        std::memset(buffer + lengths[i], pad, static_cast<std::size_t>(longest - lengths[i]));
        out.bytes(buffer, 1, longest);
      }
    } else {
      // Column j of the stored matrix: character j of every row, its NUL
      // right after its text, the pad beyond.
      for (int64_t j = 0; j < longest && out.ok; ++j) {
        for (int64_t i = 0; i < nrow; ++i) {
          buffer[i] = j < lengths[i] ? rows[i][j] : j == lengths[i] ? '\0' : pad;
        }
        out.bytes(buffer, 1, nrow);
      }
    }
    amatRelease(buffer);
  }
  amatRelease(lengths);
  return finish(file, m, out);
}

int32_t putBinary(AmatPutFile *file, const AmatMatrix &m, char pad) {
  const std::size_t nameLength = std::strlen(m.name);
  if (nameLength >= INT32_MAX) return writeFailed(file, m, "name too long");
  const auto namlen = static_cast<int32_t>(nameLength + 1);
  if (m.type == charMatrix) return putBinaryText(file, m, pad, namlen);

  const bool trans = file->bstruct == binTrans;
  const int32_t code = m.type == integerMatrix                           ? 20
                       : m.type == realMatrix || m.type == realRowMatrix ? 10
                                                                         : 0;
  const std::size_t size = code == 0 ? 8 : 4;
  const int32_t header[5] = {code, trans ? m.ncol : m.nrow, trans ? m.nrow : m.ncol, 0, namlen};
  Output out{file->fp};
  const int64_t nrow = m.nrow, ncol = m.ncol;
  if (!writeHeader(out, header, m.name) || nrow * ncol == 0) return finish(file, m, out);

  const auto *flat = static_cast<const unsigned char *>(m.data);
  auto **rows = static_cast<unsigned char **>(m.data);
  if (amatIsRowType(m.type) && trans) {
    for (int64_t i = 0; i < nrow && out.ok; ++i) out.bytes(rows[i], size, ncol);
    return finish(file, m, out);
  }
  if (!amatIsRowType(m.type) && !trans) {
    out.bytes(flat, size, nrow * ncol);
    return finish(file, m, out);
  }
  // Gathered: the rows of a flat matrix (binTrans) or the columns of a row
  // matrix (binNormal).
  const int64_t count = trans ? ncol : nrow;
  auto *buffer = static_cast<unsigned char *>(amatAlloc(count, static_cast<int64_t>(size)));
  if (buffer == nullptr) return writeFailed(file, m, "not enough memory\n");
  const int64_t outer = trans ? nrow : ncol;
  for (int64_t a = 0; a < outer && out.ok; ++a) {
    for (int64_t b = 0; b < count; ++b) {
      const unsigned char *from = trans ? flat + (a + b * nrow) * static_cast<int64_t>(size)
                                        : rows[b] + a * static_cast<int64_t>(size);
      std::memcpy(buffer + b * static_cast<int64_t>(size), from, size);
    }
    out.bytes(buffer, size, count);
  }
  amatRelease(buffer);
  return finish(file, m, out);
}

// ---- text ---------------------------------------------------------------------------

int digits(int64_t magnitude) {
  int n = 1;
  while (magnitude >= 10) {
    magnitude /= 10;
    ++n;
  }
  return n;
}

// Element (i, j) of a numeric matrix, flat or by rows.
template <class T> T element(const AmatMatrix &m, int64_t i, int64_t j) {
  if (amatIsRowType(m.type)) return static_cast<T *const *>(m.data)[i][j];
  return static_cast<const T *>(m.data)[i + j * int64_t{m.nrow}];
}

// After each row's values: its comment, then the line feed.
void rowEnd(Output &out, char **rowComments, int64_t i, int indent) {
  if (rowComments != nullptr) {
    if (indent > 0) {
      out.print("%*s# ", indent - 1, "");
      out.check(amatPutEscaped(out.fp, rowComments[i], 0, 1) >= 0);
    } else {
      out.check(amatPutEscaped(out.fp, rowComments[i], 0, 0) >= 0);
    }
  }
  out.text("\n");
}

void putIntegers(Output &out, const AmatMatrix &m, char **rowComments, int indent) {
  const int64_t nrow = m.nrow, ncol = m.ncol;
  int64_t largest = 0;
  bool negative = false;
  for (int64_t k = 0; k < nrow * ncol; ++k) {
    int64_t v = static_cast<const int32_t *>(m.data)[k];
    if (v < 0) negative = true;
    if ((v < 0 ? -v : v) > largest) largest = v < 0 ? -v : v;
  }
  char format[16];
  (void)snprintfC(format, sizeof format, " %%%dd", digits(largest) + (negative ? 1 : 0));
  for (int64_t i = 0; i < nrow && out.ok; ++i) {
    for (int64_t j = 0; j < ncol; ++j) {
      out.print(format, element<int32_t>(m, i, j));
      if ((j + 1) % 7 == 0 && j + 1 < ncol) out.text("\n    ");
    }
    rowEnd(out, rowComments, i, indent);
  }
}

void putReals(Output &out, const AmatMatrix &m, char **rowComments, int indent) {
  const int64_t nrow = m.nrow, ncol = m.ncol;
  for (int64_t i = 0; i < nrow && out.ok; ++i) {
    for (int64_t j = 0; j < ncol; ++j) {
      double x = element<float>(m, i, j);
      if (x > FLT_MAX) x = FLT_MAX;
      if (x < -FLT_MAX) x = -FLT_MAX;
      const auto xf = static_cast<float>(x);
      if (xf == std::trunc(xf) && std::fabs(xf) <= 100000.0F) {
        out.print(" %7d       ", static_cast<int>(x));
      } else {
        out.print(" %14.7E", x);
      }
      if ((j + 1) % 5 == 0 && j + 1 < ncol) out.text("\n    ");
    }
    rowEnd(out, rowComments, i, indent);
  }
}

// 0 when the doubles could not be written for want of memory.
bool putDoubles(Output &out, const AmatMatrix &m, char **rowComments, int indent) {
  const int64_t nrow = m.nrow, ncol = m.ncol;
  // A column of integral values below 10^7 in magnitude prints with the
  // width of its largest value; other columns with 24 characters a value.
  auto *width = static_cast<int *>(amatAlloc(ncol, sizeof(int)));
  if (width == nullptr) return false;
  for (int64_t j = 0; j < ncol; ++j) {
    int w = 1;
    for (int64_t i = 0; i < nrow && w > 0; ++i) {
      double x = element<double>(m, i, j);
      if (!(x == std::trunc(x) && std::fabs(x) < 1e7)) {
        w = 0;
      } else if (digits(static_cast<int64_t>(std::fabs(x))) > w) {
        w = digits(static_cast<int64_t>(std::fabs(x)));
      }
    }
    width[j] = w;
  }
  char format[16];
  for (int64_t i = 0; i < nrow && out.ok; ++i) {
    int counter = 0;
    for (int64_t j = 0; j < ncol; ++j) {
      double x = element<double>(m, i, j);
      if (x > DBL_MAX) x = DBL_MAX;
      if (x < -DBL_MAX) x = -DBL_MAX;
      if (width[j] > 0) {
        (void)snprintfC(format, sizeof format, " %%%dd", width[j] + 1);
        out.print(format, static_cast<int>(x));
        counter += width[j] + 2;
      } else {
        if (x == std::trunc(x) && x >= -100000.0 && x <= 100000.0) {
          out.print(" %7d                ", static_cast<int>(x));
        } else {
          out.print(" %23.16E", x);
        }
        counter += 24;
      }
      if (counter > 70 && j + 1 < ncol) {
        out.text("\n");
        counter = 0;
      }
    }
    rowEnd(out, rowComments, i, indent);
  }
  amatRelease(width);
  return true;
}

int32_t putTextNumeric(AmatPutFile *file, const AmatMatrix &m, const char *comment,
                       char **rowComments, int indent) {
  Output out{file->fp};
  if (comment != nullptr && comment[0] != '\0') out.print("%s\n", comment);
  const char *word = m.type == integerMatrix                           ? "int"
                     : m.type == realMatrix || m.type == realRowMatrix ? "float"
                                                                       : "double";
  out.print("%s %s(%d,%d)\n", word, m.name, m.nrow, m.ncol);
  if (out.ok) {
    if (m.type == integerMatrix) {
      putIntegers(out, m, rowComments, indent);
    } else if (m.type == realMatrix || m.type == realRowMatrix) {
      putReals(out, m, rowComments, indent);
    } else if (!putDoubles(out, m, rowComments, indent)) {
      return writeFailed(file, m, "not enough memory\n");
    }
  }
  out.text("\n");
  return finish(file, m, out);
}

int32_t putTextRows(AmatPutFile *file, const AmatMatrix &m, const char *comment) {
  Output out{file->fp};
  if (comment != nullptr && comment[0] != '\0') out.print("%s\n", comment);
  auto **rows = static_cast<char **>(m.data);
  int64_t longest = 0;
  for (int64_t i = 0; rows != nullptr && i < m.nrow; ++i) {
    int64_t n = rows[i] != nullptr ? static_cast<int64_t>(std::strlen(rows[i])) : 0;
    if (n > longest) longest = n;
  }
  if (longest > INT32_MAX) return writeFailed(file, m, "row too long");
  // The declared column count bounds the line a reader takes for a row, so
  // it is never below the longest row.
  int32_t ncol = m.ncol;
  if (m.nrow == 0 || ncol <= 0 || ncol < longest) ncol = static_cast<int32_t>(longest);
  out.print("char %s(%d,%d)\n", m.name, m.nrow, ncol);
  for (int64_t i = 0; rows != nullptr && i < m.nrow && out.ok; ++i) {
    if (rows[i] == nullptr) {
      out.text("\n");
    } else {
      out.check(amatPutEscaped(out.fp, rows[i], 1, 1) >= 0);
    }
  }
  out.text("\n");
  return finish(file, m, out);
}

// ---- row-wise -------------------------------------------------------------------------

// Writes the header (binary) or the dimensions (text) of the row-wise matrix
// again at its place and goes back to the end; then flushes, so that a
// reader sees the row at once.
int32_t rewriteRowHeader(AmatPutFile *file) {
  std::FILE *fp = file->fp;
  std::fpos_t here;
  Output out{fp};
  out.check(platform::sys.fgetpos(fp, &here) == 0);
  if (out.ok) {
    out.check(platform::sys.fsetpos(fp, &file->rowHeaderPos) == 0);
    if (out.ok) {
      if (file->format == 0) {
        out.print("(%d,%d) ", file->rowCount, file->rowNcol);
      } else {
        unsigned char bytes[20];
        amatEncodeHeader(file->header, bytes);
        out.bytes(bytes, 1, 20);
      }
      out.check(platform::sys.fsetpos(fp, &here) == 0);
    }
  }
  if (out.ok) out.check(platform::sys.fflush(fp) == 0);
  if (!out.ok) {
    return amatFail(1, kRowWiseFailed, file->rowName, target(file), amatErrorText(out.error));
  }
  return 0;
}

template <class T> int32_t putRow(AmatPutFile *file, const T *row) {
  if (file == nullptr) return amatNullPointer(4);
  if (file->fp == nullptr || file->rowName == nullptr) {
    return amatFail(1,
                    "Not possible to write a row to file \"%.400s\",\nbecause no matrix is written "
                    "row-wise (function amatPutRinit not called\nor amatPutRend already called).\n",
                    target(file));
  }
  if (row == nullptr) return amatNullPointer(4);
  Output out{file->fp};
  const int64_t ncol = file->rowNcol;
  if (file->format == 0) {
    // float32 values with eight significant digits, float64 with seventeen.
    const bool single = sizeof(T) == sizeof(float);
    const int perLine = single ? 5 : 3;
    for (int64_t j = 0; j < ncol; ++j) {
      out.print(single ? " %14.7E" : " %23.16E", static_cast<double>(row[j]));
      if ((j + 1) % perLine == 0 && j + 1 < ncol) out.text("\n    ");
    }
    out.text("\n");
    if (!out.ok) {
      return amatFail(1, kRowFailed, file->rowCount + 1, file->rowName, target(file),
                      amatErrorText(out.error));
    }
    file->rowCount += 1;
    return rewriteRowHeader(file);
  }
  if (file->format != 1)
    return amatFail(1, kNeverFormat, file->rowName, target(file), file->format);
  if (file->header[2] == INT32_MAX) {
    return amatFail(1, kRowFailed, INT32_MAX, file->rowName, target(file),
                    "the matrix has the largest number of rows possible");
  }
  // The elements on file are of the type the header announces.
  if (file->rowType == (sizeof(T) == sizeof(float) ? realMatrix : doubleMatrix)) {
    out.bytes(row, sizeof(T), ncol);
  } else {
    using Other = std::conditional_t<sizeof(T) == sizeof(float), double, float>;
    Other buffer[1024];
    for (int64_t j0 = 0; j0 < ncol && out.ok; j0 += 1024) {
      int64_t n = ncol - j0 < 1024 ? ncol - j0 : 1024;
      for (int64_t j = 0; j < n; ++j) buffer[j] = static_cast<Other>(row[j0 + j]);
      out.bytes(buffer, sizeof(Other), n);
    }
  }
  if (!out.ok) {
    return amatFail(1, kRowFailed, file->header[2] + 1, file->rowName, target(file),
                    amatErrorText(out.error));
  }
  file->header[2] += 1;
  return rewriteRowHeader(file);
}

// The whole-matrix writer behind amatPutMatrixGen and the class matrix.
int32_t putMatrix(AmatPutFile *file, const AmatMatrix &m, const char *comment, char **rowComments,
                  int indent, char pad) {
  if (file == nullptr || file->fp == nullptr || m.name == nullptr) return amatNullPointer(4);
  if (m.type == voidMatrix) {
    return amatFail(1,
                    "Error when writing matrix \"%.400s(%d,%d)\" to file \"%.400s\":\nThe datatype "
                    "of the matrix is not specified (matrix.type = voidMatrix).\n",
                    m.name, m.nrow, m.ncol, target(file));
  }
  if (m.type < integerMatrix || m.type > doubleRowMatrix) {
    return amatFail(1,
                    "Error should never occur when writing matrix \"%.400s(%d,%d)\" to\nfile "
                    "\"%.400s\" (matrix.type = %d)\n",
                    m.name, m.nrow, m.ncol, target(file), m.type);
  }
  if (m.nrow < 0 || (m.type != charMatrix && m.ncol < 0)) {
    return writeFailed(file, m, "The dimensions of the matrix must be >= 0.\n");
  }
  if (m.type != charMatrix && int64_t{m.nrow} * m.ncol > 0) {
    if (m.data == nullptr) return amatNullPointer(4);
    if (amatIsRowType(m.type)) {
      auto **rows = static_cast<void **>(m.data);
      for (int32_t i = 0; i < m.nrow; ++i) {
        if (rows[i] == nullptr) return amatNullPointer(4);
      }
    }
  }
  if (file->format == 1) return putBinary(file, m, pad);
  if (file->format != 0) return amatFail(1, kNeverFormat, m.name, target(file), file->format);
  if (const char *fault = textNameFault(m.name)) return writeFailed(file, m, fault);
  if (m.type == charMatrix) return putTextRows(file, m, comment);
  return putTextNumeric(file, m, comment, rowComments, indent);
}

} // namespace

int amatPutEscaped(std::FILE *stream, const char *text, int lineEnd, int escape) {
  if (text == nullptr) text = "";
  if (escape != 0 && std::strpbrk(text, "\n\\") != nullptr) {
    // Runs of plain characters as they are, each line feed as "\n" and each
    // backslash as "\\".
    for (const char *c = text; *c != '\0';) {
      const std::size_t plain = std::strcspn(c, "\n\\");
      if (plain > 0) {
        if (fprintfC(stream, "%.*s", static_cast<int>(plain), c) < 0) return -1;
        c += plain;
        continue;
      }
      if (fprintfC(stream, "%s", *c == '\n' ? "\\n" : "\\\\") < 0) return -1;
      ++c;
    }
    if (lineEnd != 0 && fprintfC(stream, "\n") < 0) return -1;
    return 0;
  }
  return lineEnd != 0 ? fprintfC(stream, "%s\n", text) : fprintfC(stream, "%s", text);
}

// ---- opening and closing -------------------------------------------------------------

int32_t amatPutOpen(const char *fileName, int format, int bstruct, const char *className,
                    const char *version, const char *description, AmatPutFile *file) {
  if (file == nullptr) return amatNullPointer(4);
  *file = AmatPutFile{};
  file->format = format;
  if (fileName == nullptr || fileName[0] == '\0') {
    file->fp = stdout;
    file->isFile = 0;
  } else {
    file->fp = platform::sys.fopen(fileName, format == 1 ? "wb" : "w");
    if (file->fp == nullptr) {
      return amatFail(1,
                      "Error opening file \"%.400s\": %.400s, please make sure it is a valid file "
                      "name and the running process have write access to the current working "
                      "directory\n",
                      fileName, amatErrorText());
    }
    file->isFile = 1;
    file->fileName = amatCopyText(fileName);
    if (file->fileName == nullptr) {
      amatFail(1,
               "Not possible to allocate enough storage in order to open\nfile \"%.400s\" for "
               "writing of matrices:\n%.400s\n",
               fileName, amatErrorText());
      platform::sys.fclose(file->fp);
      *file = AmatPutFile{};
      return 1;
    }
  }
  bool ok = true;
  if (format == 0) ok = fprintfC(file->fp, "#1\n") >= 0;
  if (ok && className != nullptr && className[0] != '\0') {
    // The class matrix, always binNormal (bstruct is set only afterwards).
    const char *rows[4] = {className, version != nullptr ? version : " ",
                           description != nullptr ? description : " ",
                           bstruct != 0 ? "binTrans" : "binNormal"};
    AmatMatrix cls{};
    amatSetMatrix("Aclass", format == 1 ? 4 : 3, 0, charMatrix, const_cast<char **>(rows), &cls);
    ok = putMatrix(file, cls, nullptr, nullptr, 0, ' ') == 0;
  }
  if (!ok) {
    amatFail(1,
             "Error writing class description of class \"%.400s\" to\nfile \"%.400s\":\n%.400s\n",
             className != nullptr ? className : "", target(file), amatErrorText());
    return amatCloseAfterFailure(file);
  }
  file->bstruct = bstruct;
  return 0;
}

int32_t amatCloseAfterFailure(AmatPutFile *file) {
  char message[AMAT_MESSAGE_SIZE];
  std::memcpy(message, amatMessage, sizeof message);
  (void)amatPutClose(file);
  std::memcpy(amatMessage, message, sizeof message);
  return 1;
}

int32_t amatPutClose(AmatPutFile *file) {
  if (file == nullptr || file->fp == nullptr) return 0;
  int32_t result = 0;
  int failed = file->isFile != 0 ? platform::sys.fclose(file->fp) : platform::sys.fflush(file->fp);
  if (failed != 0) {
    result =
        amatFail(1, "Error when closing file \"%.400s\":\n%.400s\n", target(file), amatErrorText());
  }
  amatRelease(file->fileName);
  amatRelease(file->rowName);
  file->fileName = nullptr;
  file->rowName = nullptr;
  file->fp = nullptr;
  return result;
}

// ---- whole matrices -------------------------------------------------------------------

int32_t amatPutMatrixGen(AmatPutFile *file, AmatMatrix m, const char *comment, char **rowComments,
                         int indent, char pad) {
  return putMatrix(file, m, comment, rowComments, indent, pad);
}

int32_t amatPutMatrix(AmatPutFile *file, AmatMatrix m) {
  return putMatrix(file, m, nullptr, nullptr, 0, ' ');
}

int32_t amatPutMatrixComment(AmatPutFile *file, AmatMatrix m, const char *comment,
                             char **rowComments, int indent) {
  return putMatrix(file, m, comment, rowComments, indent, ' ');
}

int32_t amatPutMatrixPad(AmatPutFile *file, AmatMatrix m, char pad) {
  return putMatrix(file, m, nullptr, nullptr, 0, pad);
}

int32_t amatPutMatrixFile(const char *fileName, int format, AmatMatrix m) {
  AmatPutFile file;
  // A name the text file cannot hold leaves the file as it was.
  if (format == 0 && m.name != nullptr) {
    if (const char *fault = textNameFault(m.name)) {
      amatFail(1, kWriteFailed, m.name, m.nrow, m.ncol,
               fileName != nullptr && fileName[0] != '\0' ? fileName : "stdout", fault);
      return 1;
    }
  }
  if (amatPutOpen(fileName, format, binNormal, "", "", "", &file) != 0) return 1;
  int32_t written = amatPutMatrix(&file, m);
  if (written != 0) {
    char message[AMAT_MESSAGE_SIZE];
    std::memcpy(message, amatMessage, sizeof message);
    (void)amatPutClose(&file);
    std::memcpy(amatMessage, message, sizeof message);
    return 1;
  }
  return amatPutClose(&file) == 0 ? 0 : 1;
}

// ---- row-wise -------------------------------------------------------------------------

int32_t amatPutRinit(AmatPutFile *file, const char *name, int ncol, int type) {
  if (file == nullptr || name == nullptr || file->fp == nullptr) return amatNullPointer(4);
  if (file->isFile == 0) {
    return amatFail(1,
                    "Not possible to use functions amatPutRxxx, in order to write\nmatrix "
                    "\"%.400s\" row-wise, because output stream is no file, but stdout.\n",
                    name);
  }
  int32_t flat = type == realRowMatrix ? realMatrix : type == doubleRowMatrix ? doubleMatrix : type;
  if (flat != realMatrix && flat != doubleMatrix) {
    return amatFail(1,
                    "Wrong argument \"type\" (= %d) in function amatPutRinit,\nwhen initializing "
                    "writing of matrix \"%.400s\" to file \"%.400s\".\n(type = realMatrix or "
                    "doubleMatrix required).\n",
                    type, name, target(file));
  }
  if (file->bstruct != binTrans) {
    return amatFail(
        1,
        "In order to write matrix \"%.400s\" row-wise to file \"%.400s\",\nthe file has "
        "to be opened with \"bstruct = binTrans\" and not\nwith \"bstruct = binNormal\" "
        "(function amatPutOpen).\n",
        name, target(file));
  }
  if (file->rowName != nullptr) {
    return amatFail(1,
                    "Not possible to write matrix \"%.400s\" row-wise to file \"%.400s\",\nbecause "
                    "matrix \"%.400s\" is still written row-wise (function amatPutRend not "
                    "called).\n",
                    name, target(file), file->rowName);
  }
  if (ncol < 0) {
    return amatFail(1,
                    "Wrong argument \"ncol\" (= %d) in function amatPutRinit,\nwhen initializing "
                    "writing of matrix \"%.400s\" to file \"%.400s\".\n(ncol >= 0 required).\n",
                    ncol, name, target(file));
  }
  if (file->format != 0 && file->format != 1) {
    return amatFail(1, kNeverFormat, name, target(file), file->format);
  }
  if (file->format == 0) {
    if (const char *fault = textNameFault(name))
      return amatFail(1, kRowWiseFailed, name, target(file), fault);
  }
  const std::size_t nameLength = std::strlen(name);
  if (nameLength >= INT32_MAX)
    return amatFail(1, kRowWiseFailed, "", target(file), "name too long");
  file->rowName = amatCopyText(name);
  if (file->rowName == nullptr) {
    return amatFail(1,
                    "Not possible to allocate enough storage in order to open\nfile \"%.400s\" for "
                    "writing of matrix \"%.400s\":\n%.400s\n",
                    target(file), name, amatErrorText());
  }
  file->rowNcol = ncol;
  file->rowType = flat;
  file->rowCount = 0;
  Output out{file->fp};
  if (file->format == 0) {
    out.print("%s %s", flat == doubleMatrix ? "double" : "float", name);
    out.check(platform::sys.fgetpos(file->fp, &file->rowHeaderPos) == 0);
    // The dimensions follow the name directly, as a declaration has them;
    // 30 blanks after them leave room for any row count (every rewrite
    // writes '(rows,ncol) ' at the same place, so that from the first row on
    // the line is what it always was).
    out.print("(0,%d)%30s\n", ncol, "");
  } else {
    out.check(platform::sys.fgetpos(file->fp, &file->rowHeaderPos) == 0);
    const int32_t header[5] = {flat == doubleMatrix ? 0 : 10, ncol, 0, 0,
                               static_cast<int32_t>(nameLength + 1)};
    std::memcpy(file->header, header, sizeof header);
    writeHeader(out, header, name);
  }
  if (out.ok) out.check(platform::sys.fflush(file->fp) == 0);
  if (!out.ok) {
    amatFail(1, kRowWiseFailed, name, target(file), amatErrorText(out.error));
    amatRelease(file->rowName);
    file->rowName = nullptr;
    return 1;
  }
  return 0;
}

int32_t amatPutRrow(AmatPutFile *file, const float *row) { return putRow(file, row); }

int32_t amatPutRrowDouble(AmatPutFile *file, const double *row) { return putRow(file, row); }

int32_t amatPutRend(AmatPutFile *file) {
  if (file == nullptr || file->fp == nullptr || file->rowName == nullptr) return 0;
  int32_t result = 0;
  if (file->format == 0) {
    // The empty line after the matrix, then its final dimensions.
    if (fprintfC(file->fp, "\n") < 0) {
      result = amatFail(1, kRowWiseFailed, file->rowName, target(file), amatErrorText());
    } else {
      result = rewriteRowHeader(file);
    }
  } else if (file->format == 1) {
    result = rewriteRowHeader(file);
  } else {
    result = amatFail(1, kNeverFormat, file->rowName, target(file), file->format);
  }
  amatRelease(file->rowName);
  file->rowName = nullptr;
  return result;
}
