// The model-level matrix-file functions: reading matrices, arrays and
// scalars by name, listing a file, writing a matrix (also appended) and
// writing variables, their assertion texts, what a failing call leaves
// behind, and the files as SciPy loads them.
#include "matfile/amat.h"
#include "matfile/model/modelio.h"
#include "tests/arrays/support.h"
#include "tests/matfile/scipy_load.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using scipyload::scipyLoad;

constexpr const char *kNotFound = "Read of matrix failed";

class ModelIo : public ArraysTest {
protected:
  void TearDown() override {
    for (const std::string &p : paths_) std::remove(p.c_str());
    ArraysTest::TearDown();
  }
  // A temporary path, removed after the test.
  std::string path(const std::string &name) {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    paths_.push_back(::testing::TempDir() + "modelio_" + std::to_string(::getpid()) + "_" +
                     info->name() + "_" + name);
    return paths_.back();
  }
  std::vector<std::string> paths_;
};

// Writes the matrices into a new binary file (with a class matrix when
// className is given).
void writeFile(const std::string &file, const std::vector<AmatMatrix> &matrices,
               const char *className = "") {
  AmatPutFile f{};
  ASSERT_EQ(amatPutOpen(file.c_str(), 1, binNormal, className, "1.0", "d", &f), 0) << amatMessage;
  for (const AmatMatrix &m : matrices) ASSERT_EQ(amatPutMatrix(&f, m), 0) << amatMessage;
  ASSERT_EQ(amatPutClose(&f), 0);
}

AmatMatrix matrix(const char *name, int nrow, int ncol, int type, void *data) {
  AmatMatrix m{};
  amatSetMatrix(name, nrow, ncol, type, data, &m);
  return m;
}

// The names of the matrices of a file, in file order.
std::vector<std::string> namesIn(const std::string &file) {
  std::vector<std::string> names;
  AmatGetFile f{};
  if (amatGetOpen(file.c_str(), "NoClass", nullptr, &f) != 0) return names;
  for (;;) {
    AmatMatrix m{};
    if (amatGetMatrixDefault(&f, &m) != 0) break;
    names.emplace_back(m.name);
    amatFreeMatrix(&m);
  }
  amatGetClose(&f);
  return names;
}

std::string bytesOf(const std::string &file) {
  std::string out;
  std::FILE *f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return out;
  for (int c; (c = std::fgetc(f)) != EOF;) out += static_cast<char>(c);
  std::fclose(f);
  return out;
}

// Open descriptors of the process.
int openDescriptors() {
  int n = 0;
  DIR *d = ::opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (::readdir(d) != nullptr) ++n;
  ::closedir(d);
  return n;
}

// The text of the end-of-file failure of a search through file.
std::string endOfFile(const std::string &file) {
  return "Error reading matrix header from file \"" + file + "\":\nEnd-Of-File reached.\n";
}

// ---- reading ------------------------------------------------------------------------

TEST_F(ModelIo, RealMatrixFromFileConvertsToRowMajorDoubles) {
  const std::string file = path("int.mat");
  int32_t stored[6] = {1, 4, 2, 5, 3, 6}; // [1 2 3; 4 5 6], column-major
  float f[2] = {0.5F, -1.5F};
  writeFile(file,
            {matrix("before", 1, 2, realMatrix, f), matrix("A", 2, 3, integerMatrix, stored)});
  std::vector<double> got;
  EXPECT_EQ(failureOf([&] { got = elementsOf(RealMatrixFromFile(file.c_str(), "A", 2, 3)); }),
            "completed");
  EXPECT_EQ(got, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(failureOf([&] { got = elementsOf(RealMatrixFromFile(file.c_str(), "before", 1, 2)); }),
            "completed");
  EXPECT_EQ(got, (std::vector<double>{0.5, -1.5}));
  EXPECT_EQ(
      failureOf([&] { RealMatrixFromFile(file.c_str(), "A", 3, 2); }),
      assertionText("Matrix dimension incorrect", "rows==amatrix.nrow && cols==amatrix.ncol"));
}

TEST_F(ModelIo, ReadingFailuresAssertWithTheirTexts) {
  const std::string file = path("text.mat");
  const std::string missing = path("missing.mat");
  char row[] = "abc";
  char *rows[1] = {row};
  double d[2] = {1, 2};
  writeFile(file, {matrix("s", 1, 3, charMatrix, rows), matrix("d", 1, 2, doubleMatrix, d)});
  const std::string numeric =
      "amatrix.type==doubleMatrix || amatrix.type==realMatrix || amatrix.type==integerMatrix";
  const std::string open =
      "Not possible to open file \"" + missing + "\": No such file or directory\n";
  struct Case {
    const char *what;
    std::function<void()> body;
    std::string text;
  };
  const Case cases[] = {
      {"text matrix as Real", [&] { RealMatrixFromFile(file.c_str(), "s", 1, 3); },
       assertionText("No string matrices allowed", numeric.c_str())},
      {"size of a missing matrix", [&] { MatrixSizeFromFile(file.c_str(), "x"); },
       assertionText(endOfFile(file).c_str(), "ret<=1")},
      {"matrix of a missing file", [&] { RealMatrixFromFile(missing.c_str(), "d", 1, 2); },
       assertionText(open.c_str(), "ret==0")},
      {"list of a missing file", [&] { MatrixListFromFile(missing.c_str()); },
       assertionText(open.c_str(), "ret==0")},
      {"Real array of a missing file", [&] { RealArrayFromFile(missing.c_str(), "d", 1); },
       assertionText(kNotFound, "found")},
      {"Real array missing", [&] { RealArrayFromFile(file.c_str(), "x", 2); },
       assertionText(endOfFile(file).c_str(), "ret<=1")},
      {"Integer array missing", [&] { IntegerArrayFromFile(file.c_str(), "x", 2); },
       assertionText(kNotFound, "found")},
      {"Integer array of doubles", [&] { IntegerArrayFromFile(file.c_str(), "d", 2); },
       assertionText("Integer matrix required", "amatrix.type==integerMatrix")},
      {"Real array of text", [&] { RealArrayFromFile(file.c_str(), "s", 1); },
       assertionText("No string matrices allowed", numeric.c_str())},
      {"String array of numbers", [&] { StringArrayFromFile(file.c_str(), "d", 1); },
       assertionText("Only string matrices allowed", "amatrix.type == charMatrix")},
      {"String array missing", [&] { StringArrayFromFile(file.c_str(), "x", 1); },
       assertionText(endOfFile(file).c_str(), "ret<=1")},
      {"String array of 2 dimensions", [&] { StringArrayFromFile(file.c_str(), "s", 2); },
       assertionText("Current version can only read scalars and vectors",
                     "(ndims<=1)&&(ndims>=1)")},
      {"Real array of 0 dimensions", [&] { RealArrayFromFile(file.c_str(), "d", 0); },
       assertionText("Current version can only read scalars, vectors, and matrices",
                     "(ndims >= 1)")},
      {"String array of 0 dimensions", [&] { StringArrayFromFile(file.c_str(), "s", 0); },
       assertionText("Current version can only read scalars, vectors, and matrices",
                     "(ndims >= 1)")},
      {"Real scalar of 1x2", [&] { RealScalarFromFile(file.c_str(), "d"); },
       assertionText("scalar requires exactly one element", "RealNrElements(a)==1")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(failureOf(c.body), c.text);
  }
}

TEST_F(ModelIo, AFailingCallLeavesNoFileOpen) {
  const std::string file = path("d.mat");
  double d[2] = {1, 2};
  writeFile(file, {matrix("d", 1, 2, doubleMatrix, d), matrix("e", 1, 2, doubleMatrix, d)});
  const int before = openDescriptors();
  // Each fails with the file open and (but the last) a matrix read.
  EXPECT_NE(failureOf([&] { RealMatrixFromFile(file.c_str(), "e", 2, 2); }), "completed");
  EXPECT_NE(failureOf([&] { IntegerArrayFromFile(file.c_str(), "d", 1); }), "completed");
  EXPECT_NE(failureOf([&] { StringScalarFromFile(file.c_str(), "e"); }), "completed");
  EXPECT_NE(failureOf([&] { MatrixSizeFromFile(file.c_str(), "x"); }), "completed");
  EXPECT_EQ(openDescriptors(), before);
  // Matrices read before the failure are released too (checked under
  // AddressSanitizer's leak check).
}

TEST_F(ModelIo, MatrixListNamesEveryMatrixWithItsKind) {
  const std::string file = path("list.mat");
  double a[2] = {1, 2};
  int32_t n[1] = {7};
  writeFile(file, {matrix("A", 1, 2, doubleMatrix, a), matrix("n", 1, 1, integerMatrix, n)},
            "Test");
  std::vector<std::string> cells;
  std::vector<int> sizes;
  EXPECT_EQ(failureOf([&] {
              const StringArray list = MatrixListFromFile(file.c_str());
              sizes = sizesOf(list);
              for (const char *s : elementsOf(list)) cells.emplace_back(s);
            }),
            "completed");
  EXPECT_EQ(sizes, (std::vector<int>{3, 2}));
  EXPECT_EQ(cells, (std::vector<std::string>{"Aclass", "Unknown", "A", "Real", "n", "Integer"}));
}

TEST_F(ModelIo, MatrixSizeAndScalars) {
  const std::string file = path("s.mat");
  double x[1] = {2.5};
  int32_t k[1] = {-4};
  double m[6] = {0, 0, 0, 0, 0, 0};
  writeFile(file, {matrix("m", 3, 2, doubleMatrix, m), matrix("x", 1, 1, doubleMatrix, x),
                   matrix("k", 1, 1, integerMatrix, k)});
  std::vector<int> size;
  double real = 0;
  int integer = 0;
  EXPECT_EQ(failureOf([&] {
              size = elementsOf(MatrixSizeFromFile(file.c_str(), "m"));
              real = RealScalarFromFile(file.c_str(), "x");
              integer = IntegerScalarFromFile(file.c_str(), "k");
            }),
            "completed");
  EXPECT_EQ(size, (std::vector<int>{3, 2}));
  EXPECT_EQ(real, 2.5);
  EXPECT_EQ(integer, -4);
}

// ---- writing a matrix ---------------------------------------------------------------

TEST_F(ModelIo, RealMatrixToFileWritesAProperMatrix) {
  const std::string file = path("m.mat");
  int written = -1;
  std::vector<double> back;
  EXPECT_EQ(
      failureOf([&] {
        written = RealMatrixToFile(file.c_str(), "A", realArray({2, 3}, {1, 2, 3, 4, 5, 6}), 0);
        back = elementsOf(RealMatrixFromFile(file.c_str(), "A", 2, 3));
      }),
      "completed");
  EXPECT_EQ(written, 1);
  EXPECT_EQ(back, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  // SciPy sees the same matrix.
  const auto loaded = scipyLoad(file);
  ASSERT_EQ(loaded.order, (std::vector<std::string>{"A"}));
  const auto &A = loaded.matrices.at("A");
  EXPECT_EQ(A.kind, "float64");
  EXPECT_EQ(A.rows, 2);
  EXPECT_EQ(A.cols, 3);
  for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(A.number(k), static_cast<double>(k) + 1.0);
}

TEST_F(ModelIo, AppendingKeepsEveryOtherMatrixAndReplacesTheOldOne) {
  const std::string file = path("append.mat");
  // Not there yet: a file with just the new matrix.
  int written = -1;
  EXPECT_EQ(failureOf([&] {
              written = RealMatrixToFile(file.c_str(), "A", realArray({1, 1}, {1}), 1);
            }),
            "completed");
  EXPECT_EQ(written, 1);
  EXPECT_EQ(namesIn(file), (std::vector<std::string>{"A"}));

  // B and the old A, plus more matrices than any fixed collection would hold.
  std::vector<AmatMatrix> matrices;
  double b[2] = {7, 8};
  matrices.push_back(matrix("B", 1, 2, doubleMatrix, b));
  matrices.push_back(matrix("A", 1, 2, doubleMatrix, b));
  std::vector<std::string> names = {"B"};
  std::vector<std::string> keep(25);
  for (int k = 0; k < 25; ++k) {
    keep[k] = "m" + std::to_string(k);
    matrices.push_back(matrix(keep[k].c_str(), 1, 2, doubleMatrix, b));
    names.push_back(keep[k]);
  }
  char row[] = "text  ";
  char *rows[1] = {row};
  matrices.push_back(matrix("t", 1, 6, charMatrix, rows));
  names.push_back("t");
  names.push_back("A");
  writeFile(file, matrices, "Kept");
  names.insert(names.begin(), "Aclass");
  std::vector<double> a;
  EXPECT_EQ(failureOf([&] {
              written = RealMatrixToFile(file.c_str(), "A", realArray({2, 1}, {3, 4}), 1);
              a = elementsOf(RealMatrixFromFile(file.c_str(), "A", 2, 1));
            }),
            "completed");
  EXPECT_EQ(written, 1);
  EXPECT_EQ(namesIn(file), names);
  EXPECT_EQ(a, (std::vector<double>{3, 4}));
  // The text keeps its trailing blanks, the class matrix its rows.
  std::vector<std::string> text, cls;
  EXPECT_EQ(failureOf([&] {
              for (const char *s : elementsOf(StringArrayFromFile(file.c_str(), "t", 1)))
                text.emplace_back(s);
              for (const char *s : elementsOf(StringArrayFromFile(file.c_str(), "Aclass", 1)))
                cls.emplace_back(s);
            }),
            "completed");
  EXPECT_EQ(text, (std::vector<std::string>{"text  "}));
  EXPECT_EQ(cls, (std::vector<std::string>{"Kept", "1.0", "d", "binNormal"}));
}

TEST_F(ModelIo, AppendingLeavesAFileItCannotReadAsItIs) {
  const std::string file = path("broken.mat");
  double b[2] = {7, 8};
  writeFile(file, {matrix("B", 1, 2, doubleMatrix, b)});
  // A second matrix whose header promises more than the file holds.
  std::string bytes = bytesOf(file);
  const std::string cut = bytes + bytes.substr(0, 24);
  {
    std::FILE *f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(cut.data(), 1, cut.size(), f);
    std::fclose(f);
  }
  int written = -1;
  EXPECT_EQ(failureOf([&] {
              written = RealMatrixToFile(file.c_str(), "A", realArray({1, 1}, {1}), 1);
            }),
            "completed");
  EXPECT_EQ(written, 0);
  EXPECT_EQ(bytesOf(file), cut);
  EXPECT_STRNE(amatMessage, "No message.");

  // Something that is not a matrix file at all is not overwritten either.
  {
    std::FILE *f = std::fopen(file.c_str(), "wb");
    std::fputs("#2 not a matrix file\n", f);
    std::fclose(f);
  }
  EXPECT_EQ(failureOf([&] {
              written = RealMatrixToFile(file.c_str(), "A", realArray({1, 1}, {1}), 1);
            }),
            "completed");
  EXPECT_EQ(written, 0);
  EXPECT_EQ(bytesOf(file), "#2 not a matrix file\n");
}

TEST_F(ModelIo, OnlyMatricesAreWrittenAndNeverToStandardOutput) {
  const std::string file = path("never.mat");
  EXPECT_EQ(failureOf([&] {
              RealMatrixToFile(file.c_str(), "v", realArray({3}, {1, 2, 3}), 0);
            }),
            assertionText("Only writing of matrices", "mat.ndims==2"));
  EXPECT_EQ(bytesOf(file), "");
  EXPECT_EQ(access(file.c_str(), F_OK), -1) << "nothing is created";

  // An empty or null name would make the matrix files write to standard
  // output: refused, and nothing reaches the process's stdout.
  const std::string captured = path("stdout.txt");
  std::fflush(stdout);
  const int saved = ::dup(1);
  const int fd = ::open(captured.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ::dup2(fd, 1);
  const std::string refused =
      assertionText("Empty file name: matrices are not written to standard output",
                    "fileName != NULL && fileName[0] != '\\0'");
  const std::string results[] = {
      failureOf([] {
        RealMatrixToFile("", "A", realArray({1, 1}, {1}), 0);
      }),
      failureOf([] {
        RealMatrixToFile("", "A", realArray({1, 1}, {1}), 1);
      }),
      failureOf([] {
        RealMatrixToFile(nullptr, "A", realArray({1, 1}, {1}), 0);
      }),
      failureOf([] { VariablesToFile("", 1, "x", 3, 0, 1.0); }),
      failureOf([] { VariablesToFile(nullptr, 0); }),
  };
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(fd);
  for (const std::string &r : results) EXPECT_EQ(r, refused);
  EXPECT_EQ(bytesOf(captured), "");
}

// ---- writing variables ----------------------------------------------------------------

TEST_F(ModelIo, VariablesOfThreeDimensionsComeBackThroughTheirSizeMatrix) {
  const std::string file = path("vars.mat");
  std::vector<double> values(24);
  for (int k = 0; k < 24; ++k) values[k] = k + 0.5;
  std::vector<double> back;
  std::vector<int> sizes;
  EXPECT_EQ(failureOf([&] {
              VariablesToFile(file.c_str(), 1, "x", 3, 3, realArray({2, 3, 4}, values));
              const RealArray x = RealArrayFromFile(file.c_str(), "x", 3);
              back = elementsOf(x);
              sizes = sizesOf(x);
            }),
            "completed");
  EXPECT_EQ(sizes, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(back, values);

  const auto loaded = scipyLoad(file);
  ASSERT_EQ(loaded.order, (std::vector<std::string>{"x.size", "x"}));
  const auto &size = loaded.matrices.at("x.size");
  EXPECT_EQ(size.kind, "int32");
  EXPECT_EQ(size.rows, 3);
  EXPECT_EQ(size.cols, 1);
  EXPECT_EQ(size.cells, (std::vector<std::string>{"2", "3", "4"}));
  const auto &x = loaded.matrices.at("x");
  EXPECT_EQ(x.kind, "float64");
  EXPECT_EQ(x.rows, 24);
  EXPECT_EQ(x.cols, 1);
  for (std::size_t k = 0; k < 24; ++k) EXPECT_EQ(x.number(k), values[k]);
}

TEST_F(ModelIo, VariablesOfEveryKindRoundTrip) {
  const std::string file = path("kinds.mat");
  struct Back {
    int i = 0;
    double r = 0;
    std::string s;
    std::vector<int> ints, intSizes;
    std::vector<double> reals, realSizes;
    std::vector<std::string> texts;
    std::vector<int> textSizes;
    std::vector<std::string> grid;
  } b;
  EXPECT_EQ(failureOf([&] {
              VariablesToFile(file.c_str(), 6, "i", 1, 0, -7, "r", 3, 0, 0.25, "s", 4, 0,
                              "one value", "I", 1, 2, integerArray({2, 2}, {1, 2, 3, 4}), "S", 4, 1,
                              stringArray({3}, {"a", "", "ccc "}), "G", 4, 2,
                              stringArray({2, 2}, {"w", "x", "yy", "z"}));
              b.i = IntegerScalarFromFile(file.c_str(), "i");
              b.r = RealScalarFromFile(file.c_str(), "r");
              b.s = StringScalarFromFile(file.c_str(), "s");
              const IntegerArray I = IntegerArrayFromFile(file.c_str(), "I", 2);
              b.ints = elementsOf(I);
              b.intSizes = sizesOf(I);
              const StringArray S = StringArrayFromFile(file.c_str(), "S", 1);
              for (const char *t : elementsOf(S)) b.texts.emplace_back(t);
              b.textSizes = sizesOf(S);
              for (const char *t : elementsOf(StringArrayFromFile(file.c_str(), "G", 1)))
                b.grid.emplace_back(t);
            }),
            "completed");
  EXPECT_EQ(b.i, -7);
  EXPECT_EQ(b.r, 0.25);
  EXPECT_EQ(b.s, "one value");
  EXPECT_EQ(b.ints, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(b.intSizes, (std::vector<int>{2, 2}));
  // Blank padding ends at the NUL after each shorter row; the text's own
  // trailing blank stays.
  EXPECT_EQ(b.texts, (std::vector<std::string>{"a", "", "ccc "}));
  EXPECT_EQ(b.textSizes, (std::vector<int>{3}));
  EXPECT_EQ(b.grid, (std::vector<std::string>{"w", "x", "yy", "z"}));
  EXPECT_EQ(namesIn(file), (std::vector<std::string>{"i", "r", "s", "I", "S", "G.size", "G"}));

  const auto loaded = scipyLoad(file);
  EXPECT_EQ(loaded.matrices.at("i").kind, "int32");
  EXPECT_EQ(loaded.matrices.at("r").number(0), 0.25);
  EXPECT_EQ(loaded.matrices.at("s").text(0), "one value");
  EXPECT_EQ(loaded.matrices.at("S").text(2), "ccc ");
}

TEST_F(ModelIo, SizeMatrixMayFollowButMustFitTheElements) {
  const std::string file = path("size.mat");
  double x[6] = {1, 2, 3, 4, 5, 6};
  int32_t fits[3] = {1, 2, 3};
  int32_t tooMany[3] = {100, 100, 100};
  int32_t negative[3] = {-1, -2, 3};
  writeFile(file,
            {matrix("x", 6, 1, doubleMatrix, x), matrix("x.size", 3, 1, integerMatrix, fits),
             matrix("y.size", 3, 1, integerMatrix, tooMany), matrix("y", 6, 1, doubleMatrix, x),
             matrix("z.size", 3, 1, integerMatrix, negative), matrix("z", 6, 1, doubleMatrix, x)});
  std::vector<int> sizes;
  EXPECT_EQ(failureOf([&] { sizes = sizesOf(RealArrayFromFile(file.c_str(), "x", 3)); }),
            "completed");
  EXPECT_EQ(sizes, (std::vector<int>{1, 2, 3}));
  const std::string wrong = assertionText("Matrix dimension incorrect",
                                          "product of the sizes == amatrix.nrow*amatrix.ncol");
  EXPECT_EQ(failureOf([&] { RealArrayFromFile(file.c_str(), "y", 3); }), wrong);
  EXPECT_EQ(failureOf([&] { RealArrayFromFile(file.c_str(), "z", 3); }), wrong);
  // A size matrix that does not come at all.
  EXPECT_EQ(failureOf([&] { IntegerArrayFromFile(file.c_str(), "w", 3); }),
            assertionText(kNotFound, "found"));
}

TEST_F(ModelIo, SciPysMatricesAreReadByName) {
  const std::string file = path("scipy.mat");
  int status = 0;
  const std::string out = scipyload::runScript("write", file, &status);
  ASSERT_EQ(status, 0) << out;
  std::vector<double> a;
  std::vector<std::string> s;
  std::vector<int> i;
  EXPECT_EQ(failureOf([&] {
              a = elementsOf(RealMatrixFromFile(file.c_str(), "A", 2, 3));
              i = elementsOf(IntegerArrayFromFile(file.c_str(), "i", 2));
              for (const char *t : elementsOf(StringArrayFromFile(file.c_str(), "s", 1)))
                s.emplace_back(t);
            }),
            "completed");
  EXPECT_EQ(a, (std::vector<double>{1, 2, 3, 4, 5, 0.1}));
  // Stored column-major and taken in the array's own order.
  EXPECT_EQ(i, (std::vector<int>{1, 3, -2, 2147483647}));
  ASSERT_EQ(s.size(), 2U);
  EXPECT_EQ(s[1], "abcd");
}

TEST_F(ModelIo, SciPysVectorsAreReadWholeAsRowsOrColumns) {
  const std::string file = path("vectors.mat");
  int status = 0;
  const std::string out = scipyload::runScript("write-vectors", file, &status);
  ASSERT_EQ(status, 0) << out;
  struct Back {
    std::vector<double> row, column, one, empty;
    std::vector<int> irow, icolumn;
    std::vector<int> rowSizes, columnSizes, emptySizes, irowSizes;
  } b;
  EXPECT_EQ(failureOf([&] {
              const RealArray row = RealArrayFromFile(file.c_str(), "row", 1);
              b.row = elementsOf(row);
              b.rowSizes = sizesOf(row);
              const RealArray column = RealArrayFromFile(file.c_str(), "column", 1);
              b.column = elementsOf(column);
              b.columnSizes = sizesOf(column);
              b.one = elementsOf(RealArrayFromFile(file.c_str(), "one", 1));
              const RealArray empty = RealArrayFromFile(file.c_str(), "empty", 1);
              b.empty = elementsOf(empty);
              b.emptySizes = sizesOf(empty);
              const IntegerArray irow = IntegerArrayFromFile(file.c_str(), "irow", 1);
              b.irow = elementsOf(irow);
              b.irowSizes = sizesOf(irow);
              b.icolumn = elementsOf(IntegerArrayFromFile(file.c_str(), "icolumn", 1));
            }),
            "completed");
  EXPECT_EQ(b.row, (std::vector<double>{1.5, -2.0, 0.25, 8.0}));
  EXPECT_EQ(b.rowSizes, (std::vector<int>{4}));
  EXPECT_EQ(b.column, (std::vector<double>{4.0, 5.0, 6.0}));
  EXPECT_EQ(b.columnSizes, (std::vector<int>{3}));
  EXPECT_EQ(b.one, (std::vector<double>{9.0}));
  EXPECT_EQ(b.empty, (std::vector<double>{}));
  EXPECT_EQ(b.emptySizes, (std::vector<int>{0}));
  EXPECT_EQ(b.irow, (std::vector<int>{3, -1, 2147483647}));
  EXPECT_EQ(b.irowSizes, (std::vector<int>{3}));
  EXPECT_EQ(b.icolumn, (std::vector<int>{7, -8}));

  // A matrix is no vector.
  const std::string notVector =
      assertionText("vector requires exactly one vector non-unit dimension", "!found_non_one");
  EXPECT_EQ(failureOf([&] { RealArrayFromFile(file.c_str(), "grid", 1); }), notVector);
  EXPECT_EQ(failureOf([&] { IntegerArrayFromFile(file.c_str(), "igrid", 1); }), notVector);
}

TEST_F(ModelIo, SciPysComplexMatrixStopsTheSearchWithItsMessage) {
  const std::string file = path("complex.mat");
  int status = 0;
  const std::string out = scipyload::runScript("write-complex", file, &status);
  ASSERT_EQ(status, 0) << out;
  const std::string refused = "Error when reading matrix \"z\" from file \"" + file +
                              "\",\nbecause it is complex (imagf = 1) and complex matrices are "
                              "not supported.\n";
  EXPECT_EQ(failureOf([&] { RealArrayFromFile(file.c_str(), "after", 2); }),
            assertionText(refused.c_str(), "ret<=1"));
  EXPECT_EQ(failureOf([&] { RealMatrixFromFile(file.c_str(), "z", 1, 2); }),
            assertionText(refused.c_str(), "ret<=1"));
  EXPECT_EQ(failureOf([&] { IntegerArrayFromFile(file.c_str(), "after", 2); }),
            assertionText(kNotFound, "found"));
  std::vector<int> sizes;
  EXPECT_EQ(failureOf([&] { sizes = sizesOf(MatrixListFromFile(file.c_str())); }), "completed");
  EXPECT_EQ(sizes, (std::vector<int>{0, 2}));
}

} // namespace
