// Writing matrix files: golden bytes of headers, text matrices and the class
// matrix, the text formats of each type, row-wise writing, and failures of
// writes, header rewrites and closes.
#include "tests/matfile/support.h"

#include <cerrno>
#include <cmath>
#include <limits>

namespace {

using namespace amattest;

class Write : public MatfileTest {
protected:
  // The bytes of m written alone into a file of the given format and storage.
  std::string written(AmatMatrix m, int format, int bstruct = binNormal, char pad = ' ') {
    const std::string file = path("w");
    Writer w;
    EXPECT_EQ(amatPutOpen(file.c_str(), format, bstruct, "", "", "", w.get()), 0);
    EXPECT_EQ(amatPutMatrixPad(w.get(), m, pad), 0) << message();
    EXPECT_EQ(amatPutClose(w.get()), 0);
    return readBytes(file);
  }
};

// ---- binary golden bytes -------------------------------------------------------------

TEST_F(Write, BinaryHeadersAndElements) {
  double d[6] = {1, 4, 2, 5, 3, 6}; // [1 2 3; 4 5 6] column-major
  float f[2] = {1.5F, -2.0F};
  int32_t n[2] = {7, -8};
  double r0[3] = {1, 2, 3}, r1[3] = {4, 5, 6};
  double *rows[2] = {r0, r1};
  AmatMatrix dm{}, fm{}, im{}, rm{};
  amatSetMatrix("A", 2, 3, doubleMatrix, d, &dm);
  amatSetMatrix("f", 1, 2, realMatrix, f, &fm);
  amatSetMatrix("n", 2, 1, integerMatrix, n, &im);
  amatSetMatrix("R", 2, 3, doubleRowMatrix, rows, &rm);
  struct Case {
    const char *label;
    AmatMatrix m;
    int bstruct;
    std::string bytes;
  } cases[] = {
      {"double normal", dm, binNormal, header(0, 2, 3, "A") + raw(std::vector<double>(d, d + 6))},
      {"double trans", dm, binTrans,
       header(0, 3, 2, "A") + raw(std::vector<double>{1, 2, 3, 4, 5, 6})},
      {"real", fm, binNormal, header(10, 1, 2, "f") + raw(std::vector<float>{1.5F, -2.0F})},
      {"integer trans", im, binTrans, header(20, 1, 2, "n") + raw(std::vector<int32_t>{7, -8})},
      {"rows normal", rm, binNormal, header(0, 2, 3, "R") + raw(std::vector<double>(d, d + 6))},
      {"rows trans", rm, binTrans,
       header(0, 3, 2, "R") + raw(std::vector<double>{1, 2, 3, 4, 5, 6})},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(written(c.m, 1, c.bstruct), c.bytes);
  }
}

TEST_F(Write, BinaryTextMatrixPadsAndEndsShorterRows) {
  char a[] = "ab", b[] = "abcd";
  char *rows[3] = {a, b, nullptr};
  AmatMatrix m{};
  amatSetMatrix("s", 2, 99, charMatrix, rows, &m);
  EXPECT_EQ(written(m, 1, binNormal), header(51, 2, 4, "s") + std::string("aabb\0c d", 8));
  EXPECT_EQ(written(m, 1, binTrans), header(51, 4, 2, "s") + "ab  abcd");
  EXPECT_EQ(written(m, 1, binTrans, '\0'), header(51, 4, 2, "s") + std::string("ab\0\0abcd", 8));
  m.nrow = 3; // a null row is empty
  EXPECT_EQ(written(m, 1, binNormal), header(51, 3, 4, "s") + std::string("aa\0bb \0c  d ", 12));
}

TEST_F(Write, ClassMatrixBytes) {
  const std::string file = path("c");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binTrans, "Atrajectory", "1.1", "d", w.get()), 0);
  ASSERT_EQ(amatPutClose(w.get()), 0);
  // Rows "Atrajectory", "1.1", "d", "binTrans", binNormal, 11 characters.
  const std::vector<std::string> rows = {"Atrajectory", "1.1", "d", "binTrans"};
  std::string chars;
  for (std::size_t j = 0; j < 11; ++j) {
    for (const auto &r : rows) chars += j < r.size() ? r[j] : j == r.size() ? '\0' : ' ';
  }
  EXPECT_EQ(readBytes(file), header(51, 4, 11, "Aclass") + chars);
  EXPECT_EQ(chars.substr(0, 8), std::string("A1dbt.\0i", 8));

  Writer t;
  ASSERT_EQ(amatPutOpen(file.c_str(), 0, binNormal, "C", nullptr, nullptr, t.get()), 0);
  ASSERT_EQ(amatPutClose(t.get()), 0);
  EXPECT_EQ(readBytes(file), "#1\nchar Aclass(3,1)\nC\n \n \n\n");
}

// ---- text formats ----------------------------------------------------------------------

TEST_F(Write, TextNumberFormats) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char *label;
    int type, nrow, ncol;
    std::vector<double> values; // row-major
    std::string text;
  } cases[] = {
      {"integer columns",
       doubleMatrix,
       2,
       3,
       {1, 2, 3, 4, 5, 6},
       "double A(2,3)\n  1  2  3\n  4  5  6\n\n"},
      {"a half",
       doubleMatrix,
       2,
       1,
       {0.5, 1},
       "double A(2,1)\n  5.0000000000000000E-01\n       1                \n\n"},
      {"seven digits",
       doubleMatrix,
       2,
       1,
       {9999999, -1},
       "double A(2,1)\n  9999999\n       -1\n\n"},
      {"ten million",
       doubleMatrix,
       2,
       1,
       {9999999, 10000000},
       "double A(2,1)\n  9.9999990000000000E+06\n  1.0000000000000000E+07\n\n"},
      {"wraps after 70",
       doubleMatrix,
       1,
       4,
       {0.5, 0.5, 0.5, 0.5},
       "double A(1,4)\n  5.0000000000000000E-01  5.0000000000000000E-01  "
       "5.0000000000000000E-01\n  5.0000000000000000E-01\n\n"},
      {"largest double", doubleMatrix, 1, 1, {inf}, "double A(1,1)\n 1.7976931348623157E+308\n\n"},
      {"integers", integerMatrix, 1, 2, {5, -3}, "int A(1,2)\n  5 -3\n\n"},
      {"nine integers",
       integerMatrix,
       1,
       9,
       {1, 2, 3, 4, 5, 6, 7, 8, 9},
       "int A(1,9)\n 1 2 3 4 5 6 7\n     8 9\n\n"},
      {"reals",
       realMatrix,
       1,
       4,
       {2.5, 100000, 100001, inf},
       "float A(1,4)\n  2.5000000E+00  100000         1.0000100E+05  3.4028235E+38\n\n"},
      {"six reals",
       realMatrix,
       1,
       6,
       {1, 2, 3, 4, 5, 6},
       "float A(1,6)\n       1              2              3              4              5"
       "       \n           6       \n\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<double> d(c.values.size());
    std::vector<float> f(c.values.size());
    std::vector<int32_t> n(c.values.size());
    for (int i = 0; i < c.nrow; ++i) {
      for (int j = 0; j < c.ncol; ++j) {
        double v = c.values[static_cast<std::size_t>(i * c.ncol + j)];
        auto k = static_cast<std::size_t>(i + j * c.nrow);
        d[k] = v;
        f[k] = static_cast<float>(v);
        n[k] = static_cast<int32_t>(v);
      }
    }
    void *data = c.type == doubleMatrix ? static_cast<void *>(d.data())
                 : c.type == realMatrix ? static_cast<void *>(f.data())
                                        : static_cast<void *>(n.data());
    AmatMatrix m{};
    amatSetMatrix("A", c.nrow, c.ncol, c.type, data, &m);
    EXPECT_EQ(written(m, 0), "#1\n" + c.text);
  }
}

TEST_F(Write, TextRowsCommentsAndEscapes) {
  char a[] = "a\nb", b[] = "c\\d", e[] = "";
  char *rows[3] = {a, b, nullptr};
  AmatMatrix s{};
  amatSetMatrix("s", 3, 1, charMatrix, rows, &s); // ncol 1 is below the longest row
  EXPECT_EQ(written(s, 0), "#1\nchar s(3,3)\na\\nb\nc\\\\d\n\n\n");

  int32_t n[2] = {1, 2};
  char *names[2] = {a, e};
  AmatMatrix m{};
  amatSetMatrix("n", 2, 1, integerMatrix, n, &m);
  const std::string file = path("c");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 0, binNormal, "", "", "", w.get()), 0);
  ASSERT_EQ(amatPutMatrixComment(w.get(), m, "# before", names, 4), 0);
  ASSERT_EQ(amatPutMatrixComment(w.get(), m, nullptr, names, 0), 0);
  ASSERT_EQ(amatPutClose(w.get()), 0);
  EXPECT_EQ(readBytes(file), "#1\n# before\nint n(2,1)\n 1   # a\\nb\n 2   # \n\n"
                             "int n(2,1)\n 1a\nb\n 2\n\n");
}

TEST_F(Write, TextFilesReadBackExactlyExceptSomeFloats) {
  const std::string file = path("t");
  double d[3] = {0.1, -1.0 / 3.0, 6.02214076e23};
  int32_t n[2] = {INT32_MIN, INT32_MAX};
  // 1000.0000610...: eight significant digits print it as 1000.0001, which
  // reads back as the next float32 up.
  float f[2] = {0.1F, std::nextafter(1000.0F, 2000.0F)};
  AmatMatrix dm{}, im{}, fm{};
  amatSetMatrix("d", 3, 1, doubleMatrix, d, &dm);
  amatSetMatrix("n", 1, 2, integerMatrix, n, &im);
  amatSetMatrix("f", 2, 1, realMatrix, f, &fm);
  {
    Writer w;
    ASSERT_EQ(amatPutOpen(file.c_str(), 0, binNormal, "C", "1", "d", w.get()), 0);
    ASSERT_EQ(amatPutMatrix(w.get(), dm), 0);
    ASSERT_EQ(amatPutMatrix(w.get(), im), 0);
    ASSERT_EQ(amatPutMatrix(w.get(), fm), 0);
  }
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "C", "1", r.get()), 0);
  Matrix rd, ri, rf;
  ASSERT_EQ(amatGetMatrixDefault(r.get(), rd.get()), 0);
  ASSERT_EQ(amatGetMatrixDefault(r.get(), ri.get()), 0);
  ASSERT_EQ(amatGetMatrixDefault(r.get(), rf.get()), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rd.at(i, 0), d[i]);
  EXPECT_EQ(ri.at(0, 0), INT32_MIN);
  EXPECT_EQ(ri.at(0, 1), INT32_MAX);
  EXPECT_EQ(rf.at(0, 0), 0.1F);
  EXPECT_EQ(static_cast<float>(rf.at(1, 0)), std::nextafter(f[1], 2000.0F));
}

// ---- standard output ---------------------------------------------------------------------

TEST_F(Write, StandardOutputTakesMatricesButNoRows) {
  ::testing::internal::CaptureStdout();
  Writer w;
  ASSERT_EQ(amatPutOpen("", 0, binTrans, "", "", "", w.get()), 0);
  EXPECT_EQ(w->isFile, 0);
  EXPECT_EQ(w->fileName, nullptr);
  int32_t one = 1;
  AmatMatrix m{};
  amatSetMatrix("x", 1, 1, integerMatrix, &one, &m);
  EXPECT_EQ(amatPutMatrix(w.get(), m), 0);
  EXPECT_EQ(amatPutRinit(w.get(), "r", 2, realMatrix), 1);
  EXPECT_EQ(message(), "Not possible to use functions amatPutRxxx, in order to write\nmatrix "
                       "\"r\" row-wise, because output stream is no file, but stdout.\n");
  EXPECT_EQ(amatPutClose(w.get()), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "#1\nint x(1,1)\n 1\n\n");
  EXPECT_NE(std::fputs("", stdout), EOF) << "standard output stays open";
}

// ---- refusals ----------------------------------------------------------------------------

TEST_F(Write, RefusedMatricesAndArguments) {
  const std::string file = path("r");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binNormal, "", "", "", w.get()), 0);
  AmatMatrix m{};
  amatSetMatrix("v", 1, 2, voidMatrix, nullptr, &m);
  EXPECT_EQ(amatPutMatrix(w.get(), m), 1);
  EXPECT_EQ(message(), "Error when writing matrix \"v(1,2)\" to file \"" + file +
                           "\":\nThe datatype of the matrix is not specified (matrix.type = "
                           "voidMatrix).\n");
  m.type = 9;
  EXPECT_EQ(amatPutMatrix(w.get(), m), 1);
  EXPECT_EQ(message(), "Error should never occur when writing matrix \"v(1,2)\" to\nfile \"" +
                           file + "\" (matrix.type = 9)\n");
  m.type = doubleMatrix;
  EXPECT_EQ(amatPutMatrix(w.get(), m), 4) << "no data";
  m.name = nullptr;
  EXPECT_EQ(amatPutMatrix(w.get(), m), 4);
  EXPECT_EQ(amatPutMatrix(nullptr, m), 4);
  EXPECT_EQ(message(), "Unexpected null-pointer");
  amatSetMatrix("neg", -1, 2, doubleMatrix, nullptr, &m);
  EXPECT_EQ(amatPutMatrix(w.get(), m), 1);
  EXPECT_EQ(amatPutRinit(w.get(), "r", 2, realMatrix), 1);
  EXPECT_EQ(message(), "In order to write matrix \"r\" row-wise to file \"" + file +
                           "\",\nthe file has to be opened with \"bstruct = binTrans\" and "
                           "not\nwith \"bstruct = binNormal\" (function amatPutOpen).\n");
  EXPECT_EQ(amatPutOpen("x", 1, 0, "", "", "", nullptr), 4);

  Writer t;
  ASSERT_EQ(amatPutOpen(file.c_str(), 0, binNormal, "", "", "", t.get()), 0);
  EXPECT_EQ(amatPutRinit(t.get(), "r", 2, realMatrix), 1) << "text files need binTrans too";
  Writer u;
  ASSERT_EQ(amatPutOpen(file.c_str(), 0, binTrans, "", "", "", u.get()), 0);
  EXPECT_EQ(amatPutRinit(u.get(), "r", 2, integerMatrix), 1);
  EXPECT_EQ(message(), "Wrong argument \"type\" (= 1) in function amatPutRinit,\nwhen "
                       "initializing writing of matrix \"r\" to file \"" +
                           file + "\".\n(type = realMatrix or doubleMatrix required).\n");

  const std::string bad = path("no/such/dir");
  AmatPutFile f{};
  EXPECT_EQ(amatPutOpen(bad.c_str(), 1, 0, "", "", "", &f), 1);
  EXPECT_EQ(message(), "Error opening file \"" + bad +
                           "\": No such file or directory, please make sure it is a valid file "
                           "name and the running process have write access to the current "
                           "working directory\n");
  EXPECT_EQ(f.fp, nullptr);
}

// ---- row-wise --------------------------------------------------------------------------------

TEST_F(Write, RowWiseTextKeepsTheDeclarationCurrent) {
  const std::string file = path("t");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 0, binTrans, "", "", "", w.get()), 0);
  ASSERT_EQ(amatPutRinit(w.get(), "name", 5, realRowMatrix), 0);
  const float row[5] = {1, 2, 3, 4, 5};
  for (int i = 0; i < 12; ++i) ASSERT_EQ(amatPutRrow(w.get(), row), 0);
  const std::string values =
      "  1.0000000E+00  2.0000000E+00  3.0000000E+00  4.0000000E+00  5.0000000E+00\n";
  std::string rows;
  for (int i = 0; i < 12; ++i) rows += values;
  const std::string declaration = "#1\nfloat name(12,5) " + std::string(28, ' ') + "\n";
  EXPECT_EQ(readBytes(file), declaration + rows) << "complete before the end";
  ASSERT_EQ(amatPutRend(w.get()), 0);
  EXPECT_EQ(amatPutRend(w.get()), 0) << "a second end does nothing";
  ASSERT_EQ(amatPutClose(w.get()), 0);
  EXPECT_EQ(readBytes(file), declaration + rows + "\n");
}

TEST_F(Write, RowWiseBinaryIsCompleteAfterEveryRow) {
  const std::string file = path("b");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binTrans, "", "", "", w.get()), 0);
  ASSERT_EQ(amatPutRinit(w.get(), "R", 4, realMatrix), 0);
  EXPECT_EQ(readBytes(file), header(10, 4, 0, "R"));
  std::vector<float> all;
  for (int i = 0; i < 3; ++i) {
    const float row[4] = {float(i), 0.5F, -1, 2};
    ASSERT_EQ(amatPutRrow(w.get(), row), 0);
    all.insert(all.end(), row, row + 4);
    EXPECT_EQ(readBytes(file), header(10, 4, i + 1, "R") + raw(all));
  }
  ASSERT_EQ(amatPutRend(w.get()), 0);
  int32_t one = 1;
  AmatMatrix m{};
  amatSetMatrix("after", 1, 1, integerMatrix, &one, &m);
  ASSERT_EQ(amatPutMatrix(w.get(), m), 0) << "whole matrices may follow";
  ASSERT_EQ(amatPutClose(w.get()), 0);
  EXPECT_EQ(readBytes(file), header(10, 4, 3, "R") + raw(all) + header(20, 1, 1, "after") +
                                 raw(std::vector<int32_t>{1}));
}

TEST_F(Write, RowWiseDoubleMatrixWritesDoubles) {
  const std::string file = path("d");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binTrans, "", "", "", w.get()), 0);
  ASSERT_EQ(amatPutRinit(w.get(), "D", 2, doubleRowMatrix), 0);
  const float row[2] = {0.1F, 3};
  const double exact[2] = {0.1, 1.0 / 3.0};
  ASSERT_EQ(amatPutRrow(w.get(), row), 0);
  ASSERT_EQ(amatPutRrowDouble(w.get(), exact), 0);
  ASSERT_EQ(amatPutClose(w.get()), 0);
  EXPECT_EQ(readBytes(file),
            header(0, 2, 2, "D") + raw(std::vector<double>{0.1F, 3, 0.1, 1.0 / 3.0}));

  Writer t;
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binTrans, "", "", "", t.get()), 0);
  ASSERT_EQ(amatPutRinit(t.get(), "F", 1, realMatrix), 0);
  ASSERT_EQ(amatPutRrowDouble(t.get(), exact), 0);
  ASSERT_EQ(amatPutClose(t.get()), 0);
  EXPECT_EQ(readBytes(file), header(10, 1, 1, "F") + raw(std::vector<float>{0.1F}));
}

TEST_F(Write, RowsWithoutAStartedMatrixAreRefused) {
  const std::string file = path("n");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binTrans, "", "", "", w.get()), 0);
  const float row[1] = {1};
  const std::string refused = "Not possible to write a row to file \"" + file +
                              "\",\nbecause no matrix is written row-wise (function amatPutRinit "
                              "not called\nor amatPutRend already called).\n";
  EXPECT_EQ(amatPutRrow(w.get(), row), 1);
  EXPECT_EQ(message(), refused);
  ASSERT_EQ(amatPutRinit(w.get(), "R", 1, realMatrix), 0);
  EXPECT_EQ(amatPutRinit(w.get(), "S", 1, realMatrix), 1) << "one row-wise matrix at a time";
  ASSERT_EQ(amatPutRrow(w.get(), row), 0);
  ASSERT_EQ(amatPutRend(w.get()), 0);
  EXPECT_EQ(amatPutRrow(w.get(), row), 1);
  EXPECT_EQ(message(), refused);
  EXPECT_EQ(amatPutRrow(nullptr, row), 4);
  EXPECT_EQ(amatPutRend(nullptr), 0);
}

// ---- failing system calls --------------------------------------------------------------------

struct FailingCalls {
  static inline int error = EIO;
  static int setpos(std::FILE *, const std::fpos_t *) {
    errno = error;
    return -1;
  }
  static int close(std::FILE *stream) {
    std::fclose(stream);
    errno = error;
    return EOF;
  }
  static std::size_t write(const void *, std::size_t, std::size_t, std::FILE *) {
    errno = error;
    return 0;
  }
};

TEST_F(Write, FailedHeaderRewriteAndCloseAreFailures) {
  const std::string file = path("f");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binTrans, "", "", "", w.get()), 0);
  ASSERT_EQ(amatPutRinit(w.get(), "R", 1, realMatrix), 0);
  const float row[1] = {1};
  platform::sys.fsetpos = FailingCalls::setpos;
  EXPECT_EQ(amatPutRrow(w.get(), row), 1);
  EXPECT_EQ(message(), "Error when writing matrix \"R\" row-wise to file \"" + file +
                           "\":\nInput/output error\n");
  EXPECT_EQ(w->header[2], 1) << "the row itself is on file";
  EXPECT_EQ(amatPutRend(w.get()), 1);
  EXPECT_EQ(w->rowName, nullptr);
  platform::sys.fclose = FailingCalls::close;
  EXPECT_EQ(amatPutClose(w.get()), 1);
  EXPECT_EQ(message(), "Error when closing file \"" + file + "\":\nInput/output error\n");
  EXPECT_EQ(w->fp, nullptr);
  EXPECT_EQ(w->fileName, nullptr);

  int32_t one = 1;
  AmatMatrix m{};
  amatSetMatrix("x", 1, 1, integerMatrix, &one, &m);
  EXPECT_EQ(amatPutMatrixFile(file.c_str(), 1, m), 1) << "a failed close fails the file";
}

TEST_F(Write, FailedWritesAreReported) {
  const std::string file = path("f");
  Writer w;
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binTrans, "", "", "", w.get()), 0);
  platform::sys.fwrite = FailingCalls::write;
  int32_t one = 1;
  AmatMatrix m{};
  amatSetMatrix("x", 1, 1, integerMatrix, &one, &m);
  EXPECT_EQ(amatPutMatrix(w.get(), m), 1);
  EXPECT_EQ(message(),
            "Error when writing matrix \"x(1,1)\" to file \"" + file + "\":\nInput/output error\n");
  EXPECT_EQ(amatPutRinit(w.get(), "R", 1, realMatrix), 1);
  EXPECT_EQ(w->rowName, nullptr);

  // A full device: the class matrix of a text file cannot be written.
  AmatPutFile full{};
  EXPECT_EQ(amatPutOpen("/dev/full", 0, binNormal, "C", "1", "d", &full), 0)
      << "buffered: the failure shows when the stream is flushed";
  EXPECT_EQ(amatPutClose(&full), 1);
  EXPECT_EQ(message(), "Error when closing file \"/dev/full\":\nNo space left on device\n");
}

TEST_F(Write, MatrixFileWritesOneMatrix) {
  const std::string file = path("m");
  double v[2] = {1.5, 2.5};
  AmatMatrix m{};
  amatSetMatrix("v", 2, 1, doubleMatrix, v, &m);
  ASSERT_EQ(amatPutMatrixFile(file.c_str(), 1, m), 0);
  EXPECT_EQ(readBytes(file), header(0, 2, 1, "v") + raw(std::vector<double>{1.5, 2.5}));
  ASSERT_EQ(amatPutMatrixFile(file.c_str(), 0, m), 0);
  EXPECT_EQ(readBytes(file),
            "#1\ndouble v(2,1)\n  1.5000000000000000E+00\n  2.5000000000000000E+00\n\n");
}

// A text declaration holds a name of 1 to 100 characters without '(' and
// white space; any other name is refused before anything is written, since
// the reader could not read it back.
TEST_F(Write, TextMatricesTakeOnlyNamesTheirReaderReadsBack) {
  const std::string single = path("single"), open = path("open"), rows = path("rows");
  const std::string rule = "The name of a matrix in a text file must have 1 to 100 characters, "
                           "none of them '(' or white space.\n";
  double one = 1.0;
  for (const std::string &name :
       {std::string(""), std::string(101, 'n'), std::string("a b"), std::string("a\tb"),
        std::string("a(b"), std::string("a\nb"), std::string("\vx"), std::string("x\r")}) {
    SCOPED_TRACE("\"" + name + "\"");
    AmatMatrix m{};
    amatSetMatrix(name.c_str(), 1, 1, doubleMatrix, &one, &m);
    std::remove(single.c_str());
    EXPECT_EQ(amatPutMatrixFile(single.c_str(), 0, m), 1);
    EXPECT_EQ(message(), "Error when writing matrix \"" + name + "(1,1)\" to file \"" + single +
                             "\":\n" + rule);
    EXPECT_EQ(std::fopen(single.c_str(), "r"), nullptr) << "no file is made";

    Writer w;
    ASSERT_EQ(amatPutOpen(open.c_str(), 0, binTrans, "", "", "", w.get()), 0);
    EXPECT_EQ(amatPutMatrixComment(w.get(), m, "# comment", nullptr, 0), 1);
    EXPECT_EQ(message(),
              "Error when writing matrix \"" + name + "(1,1)\" to file \"" + open + "\":\n" + rule);
    char text[] = "x";
    char *textRows[1] = {text};
    AmatMatrix t{};
    amatSetMatrix(name.c_str(), 1, 1, charMatrix, textRows, &t);
    EXPECT_EQ(amatPutMatrix(w.get(), t), 1);
    EXPECT_EQ(amatPutRinit(w.get(), name.c_str(), 2, realMatrix), 1);
    EXPECT_EQ(message(), "Error when writing matrix \"" + name + "\" row-wise to file \"" + open +
                             "\":\n" + rule);
    ASSERT_EQ(amatPutClose(w.get()), 0);
    EXPECT_EQ(readBytes(open), "#1\n") << "nothing of the matrix is written";

    // Binary files hold any name.
    EXPECT_EQ(amatPutMatrixFile(single.c_str(), 1, m), 0) << message();
  }
  // The names at the edges of the rule are written and read back.
  const std::string file = path("names");
  for (const std::string &name : {std::string("x"), std::string(100, 'n'), std::string("a)b,c#d"),
                                  std::string("\xC3\xA4:/")}) {
    SCOPED_TRACE(name);
    double value = 2.5;
    AmatMatrix m{};
    amatSetMatrix(name.c_str(), 1, 1, doubleMatrix, &value, &m);
    ASSERT_EQ(amatPutMatrixFile(file.c_str(), 0, m), 0) << message();
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0) << message();
    Matrix back;
    ASSERT_EQ(amatGetMatrixDefault(r.get(), back.get()), 0) << message();
    EXPECT_EQ(std::string(back->name), name);
    EXPECT_EQ(back.at(0, 0), 2.5);
  }
}

TEST_F(Write, EscapedText) {
  const std::string file = path("e");
  std::FILE *f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  EXPECT_GE(amatPutEscaped(f, "a\nb\\", 1, 1), 0);
  EXPECT_GE(amatPutEscaped(f, "a\nb", 0, 0), 0);
  EXPECT_GE(amatPutEscaped(f, nullptr, 1, 1), 0);
  std::fclose(f);
  EXPECT_EQ(readBytes(file), "a\\nb\\\\\na\nb\n");
}

} // namespace
