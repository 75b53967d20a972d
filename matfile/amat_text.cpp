// Readers of text matrix files: comments and white space, the declaration
// line 'type name(nrow,ncol)', numeric values in the "C" locale and text rows
// with the escapes "\n" and "\\".
#include "matfile/amat_internal.h"

#include "source/clocale/clocale_io.h"

#include <cstring>

namespace {

// The longest declaration line read, line feed included.
constexpr int kDeclarationLine = 199;

// Reads one line into buffer (at most capacity - 1 characters, the line feed
// included, then a terminator).  length: characters stored (NUL bytes of the
// line included); complete: the line feed was read.  False when nothing could
// be read.
bool readLine(std::FILE *fp, char *buffer, int64_t capacity, int64_t *length, bool *complete) {
  int64_t n = 0;
  *complete = false;
  while (n < capacity - 1) {
    int c = getc(fp);
    if (c == EOF) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') {
      *complete = true;
      break;
    }
  }
  buffer[n] = '\0';
  *length = n;
  return n > 0;
}

int32_t readNumbers(AmatGetFile *file, AmatMatrix *cur) {
  std::FILE *fp = file->fp;
  const int32_t type = cur->type;
  const bool rowType = amatIsRowType(type);
  const int64_t nrow = cur->nrow, ncol = cur->ncol;
  if (nrow > 0 && ncol > 0 && cur->data == nullptr) return amatNullPointer(4);
  for (int64_t i = rowType ? cur->firstRow : 0; i < nrow; ++i) {
    for (int64_t j = 0; j < ncol; ++j) {
      if (amatSkipComments(file) != 0) return 4;
      double d = 0.0;
      float f = 0.0F;
      int got = type == realMatrix ? fscanfFloatC(fp, &f) : fscanfDoubleC(fp, &d);
      if (got != 1) {
        return amatFail(std::feof(fp) ? 3 : 4,
                        "Error when reading numeric data of matrix \"%.400s(%d,%d)\" from "
                        "file\n\"%.400s\"\n",
                        cur->name, cur->nrow, cur->ncol, file->fileName);
      }
      switch (type) {
      case integerMatrix:
        static_cast<int32_t *>(cur->data)[i + j * nrow] = amatToInt32(d);
        break;
      case realMatrix:
        static_cast<float *>(cur->data)[i + j * nrow] = f;
        break;
      case doubleMatrix:
        static_cast<double *>(cur->data)[i + j * nrow] = d;
        break;
      case realRowMatrix:
        static_cast<float **>(cur->data)[i][j] = static_cast<float>(d);
        break;
      default:
        static_cast<double **>(cur->data)[i][j] = d;
        break;
      }
    }
  }
  if (rowType) cur->firstRow = cur->nrow;
  return 0;
}

int32_t readRows(AmatGetFile *file, AmatMatrix *cur) {
  std::FILE *fp = file->fp;
  const int64_t nrow = cur->nrow > 0 ? cur->nrow : 0;
  auto **rows = static_cast<char **>(cur->data);
  if (rows == nullptr && nrow > 0) return amatNullPointer(4);
  // A row line holds up to 2*ncol characters (all escaped) and its line feed.
  // No line is longer than the rest of the file, so the buffer never needs
  // to be longer than that.
  const int64_t declared = 2 * int64_t{cur->ncol > 0 ? cur->ncol : 0} + 2;
  const int64_t limit = amatBytesLeft(fp) + 2;
  const int64_t capacity = declared < limit ? declared : limit;
  char *line = static_cast<char *>(amatAlloc(capacity, 1));
  if (line == nullptr) {
    return amatFail(4, amatTextStorageMessage, cur->name, cur->nrow, cur->ncol, file->fileName,
                    amatClampInt(declared));
  }
  for (int64_t i = 0; i < nrow; ++i) rows[i] = nullptr;
  auto fail = [&](int32_t result) {
    amatReleaseRows(rows, nrow);
    amatRelease(line);
    return result;
  };
  int64_t longest = 0;
  for (int64_t i = 0; i < nrow; ++i) {
    int64_t length = 0;
    bool complete = false;
    if (!readLine(fp, line, capacity, &length, &complete)) {
      amatFail(4, amatTextReadMessage, cur->name, cur->nrow, cur->ncol, file->fileName,
               std::ferror(fp) ? amatErrorText() : amatEndOfFile);
      return fail(4);
    }
    if (complete) {
      // The line end (LF or CR LF) is no part of the row.
      line[--length] = '\0';
      if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
    } else {
      // Longer than any row can be: the rest of the line is discarded.
      int c;
      do c = getc(fp);
      while (c != EOF && c != '\n');
    }
    amatUnescapeText(line);
    std::size_t n = std::strlen(line);
    if (static_cast<int64_t>(n) > longest) longest = static_cast<int64_t>(n);
    rows[i] = static_cast<char *>(amatAlloc(static_cast<int64_t>(n) + 1, 1));
    if (rows[i] == nullptr) {
      amatFail(4, amatTextStorageMessage, cur->name, cur->nrow, cur->ncol, file->fileName,
               amatClampInt(static_cast<int64_t>(n) + 1));
      return fail(4);
    }
    std::memcpy(rows[i], line, n + 1);
  }
  amatRelease(line);
  cur->ncol = amatClampInt(longest);
  return 0;
}

} // namespace

int32_t amatSkipComments(AmatGetFile *file) {
  if (file == nullptr || file->fp == nullptr) return amatNullPointer(4);
  std::FILE *fp = file->fp;
  for (;;) {
    int c = getc(fp);
    if (c == EOF) break;
    if (isspaceC(c) != 0) continue;
    if (c == '#') {
      do c = getc(fp);
      while (c != EOF && c != '\n');
      if (c == EOF) break;
      continue;
    }
    if (ungetc(c, fp) == EOF)
      return amatFail(4, amatHeaderMessage, file->fileName, amatErrorText());
    return 0;
  }
  if (std::ferror(fp)) return amatFail(4, amatHeaderMessage, file->fileName, amatErrorText());
  // Spelled unlike the module's other end-of-file reason, as files and
  // readers of these messages know it.
  return amatFail(3, amatHeaderMessage, file->fileName, "End-of-File reached");
}

int32_t amatGetTextHeader(AmatGetFile *file, AmatMatrix *cur, char *nameBuffer, int nameWidth) {
  if (file == nullptr || cur == nullptr || file->fp == nullptr || nameBuffer == nullptr) {
    return amatNullPointer(4);
  }
  char format[64];
  (void)snprintfC(format, sizeof format, "%%%ds %%%d[^( \t](%%d,%%d)", 10, nameWidth);
  int32_t r = amatSkipComments(file);
  if (r != 0) return r;

  std::FILE *fp = file->fp;
  char line[kDeclarationLine + 1];
  if (std::fgets(line, sizeof line, fp) == nullptr) {
    if (std::ferror(fp)) return amatFail(4, amatHeaderMessage, file->fileName, amatErrorText());
    return amatFail(3, amatHeaderMessage, file->fileName, amatEndOfFile);
  }
  char word[11];
  int nrow = 0, ncol = 0;
  int n = sscanfC(line, format, word, nameBuffer, &nrow, &ncol);
  int32_t type = voidMatrix;
  if (n == 4) {
    if (std::strcmp(word, "int") == 0)
      type = integerMatrix;
    else if (std::strcmp(word, "float") == 0)
      type = realMatrix;
    else if (std::strcmp(word, "double") == 0)
      type = doubleMatrix;
    else if (std::strcmp(word, "char") == 0)
      type = charMatrix;
  }
  if (type == voidMatrix) {
    return amatFail(4,
                    "Error scanning the following declaration on file \"%.400s\":\n%.400sExpected "
                    "is: <type> <name> (<row_dimension>, <column_dimension>)\nwhere <type> is "
                    "\"integer\", \"real\", \"double\" or \"char\" and\n<name> is the name of the "
                    "matrix.\n",
                    file->fileName, line);
  }
  if (cur->name != nullptr) {
    if (std::strcmp(cur->name, nameBuffer) != 0) {
      return amatFail(2,
                      "Error scanning the following declaration on file \"%.400s\":\n%.400sName "
                      "of matrix is wrong, should be \"%.400s\".\n",
                      file->fileName, line, cur->name);
    }
  } else {
    cur->name = amatCopyText(nameBuffer);
    if (cur->name == nullptr) {
      return amatFail(4,
                      "Error when reading matrix from file \"%.400s\",\nbecause it is not possible "
                      "to allocate storage for\nthe matrix name (length = %d)\n:%.400s\n",
                      file->fileName, static_cast<int>(std::strlen(nameBuffer)) + 1,
                      amatErrorText());
    }
  }
  cur->nrow = nrow;
  cur->ncol = ncol;
  cur->type = type;
  return 0;
}

int32_t amatGetTextData(AmatGetFile *file, AmatMatrix *cur) {
  if (file == nullptr || cur == nullptr || file->fp == nullptr) return amatNullPointer(4);
  switch (cur->type) {
  case integerMatrix:
  case realMatrix:
  case doubleMatrix:
  case realRowMatrix:
  case doubleRowMatrix:
    return readNumbers(file, cur);
  case charMatrix:
    return readRows(file, cur);
  default:
    return amatFail(4,
                    "Error should never occur when reading file \"%.400s\"\n(matrix.type = %d).\n",
                    file->fileName, cur->type);
  }
}

void amatUnescapeText(char *row) {
  if (row == nullptr) return;
  char *w = row;
  const char *r = row;
  while (*r != '\0') {
    if (r[0] == '\\' && r[1] == 'n') {
      *w++ = '\n';
      r += 2;
    } else if (r[0] == '\\' && r[1] == '\\') {
      *w++ = '\\';
      r += 2;
    } else {
      *w++ = *r++;
    }
  }
  *w = '\0';
}
