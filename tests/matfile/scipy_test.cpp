// Interoperability with SciPy's MAT version 4 reader and writer
// (scipy.io.loadmat, scipy.io.savemat(..., format='4')) through
// scipy_check.py: files of this library load in SciPy with the right types,
// shapes and values, also while a matrix grows row by row, and files that
// SciPy writes are read here.
#include "tests/matfile/scipy_load.h"
#include "tests/matfile/support.h"

#include <cstdlib>
#include <map>
#include <sstream>

namespace {

using namespace amattest;

using scipyload::runScript;
using scipyload::SciMatrix;

// The matrices of file as SciPy loads them, by name.
std::map<std::string, SciMatrix> scipyLoad(const std::string &file) {
  return scipyload::scipyLoad(file).matrices;
}

class SciPy : public MatfileTest {};

TEST_F(SciPy, LibraryFilesLoadWithTheirTypesShapesAndValues) {
  const std::string file = path("lib.mat");
  double d[6] = {1, 4, 0.1, -5, 1e300, 6}; // [1 0.1 1e300; 4 -5 6]
  float f[2] = {1.5F, 0.1F};
  int32_t n[3] = {INT32_MIN, 0, 7};
  char a[] = "ab", b[] = "abcd";
  char *text[2] = {a, b};
  double r0[2] = {1, 2}, r1[2] = {3, 4.5};
  double *rows[2] = {r0, r1};
  AmatMatrix dm{}, fm{}, im{}, sm{}, rm{};
  amatSetMatrix("D", 2, 3, doubleMatrix, d, &dm);
  amatSetMatrix("F", 1, 2, realMatrix, f, &fm);
  amatSetMatrix("I", 3, 1, integerMatrix, n, &im);
  amatSetMatrix("S", 2, 4, charMatrix, text, &sm);
  amatSetMatrix("R", 2, 2, doubleRowMatrix, rows, &rm);
  {
    Writer w;
    ASSERT_EQ(amatPutOpen(file.c_str(), 1, binNormal, "Test", "1", "d", w.get()), 0);
    for (const AmatMatrix &m : {dm, fm, im, sm, rm}) ASSERT_EQ(amatPutMatrix(w.get(), m), 0);
    ASSERT_EQ(amatPutClose(w.get()), 0);
  }
  auto loaded = scipyLoad(file);
  ASSERT_EQ(loaded.size(), 6U);
  const SciMatrix &D = loaded["D"], &F = loaded["F"], &I = loaded["I"], &S = loaded["S"];
  const SciMatrix &R = loaded["R"], &C = loaded["Aclass"];
  EXPECT_EQ(D.kind, "float64");
  ASSERT_EQ(D.rows, 2);
  ASSERT_EQ(D.cols, 3);
  const double rowMajor[6] = {1, 0.1, 1e300, 4, -5, 6};
  for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(D.number(k), rowMajor[k]) << k;
  EXPECT_EQ(F.kind, "float32");
  EXPECT_EQ(F.number(1), double(0.1F));
  EXPECT_EQ(I.kind, "int32");
  EXPECT_EQ(I.rows, 3);
  EXPECT_EQ(I.cells, (std::vector<std::string>{"-2147483648", "0", "7"}));
  EXPECT_EQ(S.kind, "text");
  EXPECT_EQ(S.text(0), "ab");
  EXPECT_EQ(S.text(1), "abcd");
  EXPECT_EQ(R.kind, "float64");
  EXPECT_EQ(R.number(3), 4.5);
  EXPECT_EQ(C.text(0), "Test");
  EXPECT_EQ(C.text(3), "binNormal");
}

TEST_F(SciPy, TrajectoryLoadsAfterEveryRowAsLaidOut) {
  const std::string file = path("traj.mat");
  AtrajTrajectory traj{};
  ASSERT_EQ(atrajInit(&traj, 2, 0), 0);
  const char *names[2] = {"Time", "level"}, *descriptions[2] = {"Time in seconds", "m"};
  auto text = [](const char *const *rows) {
    auto **data = static_cast<char **>(amatAlloc(2, sizeof(char *)));
    for (int i = 0; i < 2; ++i) data[i] = amatCopyText(rows[i]);
    return data;
  };
  traj.name.nrow = traj.description.nrow = traj.info.nrow = 2;
  traj.name.data = text(names);
  traj.description.data = text(descriptions);
  auto *info = static_cast<int32_t *>(amatAlloc(8, sizeof(int32_t)));
  const int32_t infoRows[2][4] = {{0, 1, 0, -1}, {2, 2, 0, -1}};
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 4; ++j) info[i + 2 * j] = infoRows[i][j];
  }
  traj.info.data = info;
  auto *first = static_cast<float *>(amatAlloc(4, sizeof(float)));
  first[0] = 0, first[1] = 1, first[2] = 0.5F, first[3] = 0.5F;
  traj.data[0].nrow = traj.data[0].ncol = 2;
  traj.data[0].data = first;
  traj.data[1].ncol = 2;

  AmatPutFile f{};
  ASSERT_EQ(atrajPutOpen(file.c_str(), &traj, 1, 1, &f), 0) << amatMessage;
  for (int rows = 1; rows <= 3; ++rows) {
    const float row[2] = {0.1F * float(rows), 0.25F * float(rows)};
    ASSERT_EQ(atrajPutRow(&f, row), 0);
    SCOPED_TRACE(rows);
    auto loaded = scipyLoad(file);
    ASSERT_EQ(loaded.size(), 6U);
    // binTrans: SciPy sees each stored matrix as the transpose.
    const SciMatrix &d2 = loaded["data_2"];
    EXPECT_EQ(d2.kind, "float32");
    ASSERT_EQ(d2.rows, 2);
    ASSERT_EQ(d2.cols, rows);
    for (int k = 0; k < rows; ++k) {
      EXPECT_EQ(d2.number(static_cast<std::size_t>(k)), double(0.1F * float(k + 1)));
      EXPECT_EQ(d2.number(static_cast<std::size_t>(rows + k)), double(0.25F * float(k + 1)));
    }
    if (rows < 3) continue;
    const SciMatrix &cls = loaded["Aclass"], &name = loaded["name"], &desc = loaded["description"];
    const SciMatrix &dataInfo = loaded["dataInfo"], &d1 = loaded["data_1"];
    EXPECT_EQ(cls.rows, 4) << "the class matrix is stored binNormal";
    EXPECT_EQ(cls.text(0), "Atrajectory");
    EXPECT_EQ(cls.text(1), "1.1");
    EXPECT_EQ(cls.text(2), " ");
    EXPECT_EQ(cls.text(3), "binTrans");
    // A transposed text matrix: SciPy's row j holds character j of every name.
    ASSERT_EQ(name.rows, 5);
    ASSERT_EQ(name.cols, 2);
    std::string level;
    for (std::size_t j = 0; j < 5; ++j) level += name.text(j).size() > 1 ? name.text(j)[1] : '?';
    EXPECT_EQ(level, "level");
    EXPECT_EQ(desc.rows, 15);
    EXPECT_EQ(dataInfo.kind, "int32");
    ASSERT_EQ(dataInfo.rows, 4);
    EXPECT_EQ(dataInfo.cells, (std::vector<std::string>{"0", "2", "1", "2", "0", "0", "-1", "-1"}));
    EXPECT_EQ(d1.kind, "float32");
    EXPECT_EQ(d1.number(1), 1.0) << "data_1(1,2) seen transposed";
  }
  ASSERT_EQ(atrajPutClose(&f, &traj, 1), 0);
  EXPECT_EQ(scipyLoad(file)["data_2"].cols, 3);
  atrajFree(&traj);
}

TEST_F(SciPy, SciPyFilesAreReadHere) {
  const std::string file = path("scipy.mat");
  int status = 0;
  std::string out = runScript("write", file, &status);
  ASSERT_EQ(status, 0) << out;
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0) << message();
  Matrix A, f, i, s, e;
  ASSERT_EQ(amatGetMatrixDefault(r.get(), A.get()), 0) << message();
  ASSERT_EQ(amatGetMatrixDefault(r.get(), f.get()), 0) << message();
  ASSERT_EQ(amatGetMatrixDefault(r.get(), i.get()), 0) << message();
  ASSERT_EQ(amatGetMatrixDefault(r.get(), s.get()), 0) << message();
  ASSERT_EQ(amatGetMatrixDefault(r.get(), e.get()), 0) << message();
  EXPECT_STREQ(A->name, "A");
  EXPECT_EQ(A->type, doubleMatrix);
  ASSERT_EQ(A->nrow, 2);
  ASSERT_EQ(A->ncol, 3);
  EXPECT_EQ(A.at(0, 1), 2.0);
  EXPECT_EQ(A.at(1, 2), 0.1);
  EXPECT_EQ(f->type, realMatrix);
  EXPECT_EQ(f.at(0, 1), -2.25);
  EXPECT_EQ(i->type, integerMatrix);
  EXPECT_EQ(i.at(1, 1), 2147483647);
  EXPECT_EQ(i.at(0, 1), -2);
  EXPECT_EQ(s->type, charMatrix);
  EXPECT_EQ(s.row(0), "ab") << "SciPy's blank padding is stripped";
  EXPECT_EQ(s.row(1), "abcd");
  EXPECT_EQ(e->nrow, 0);
  EXPECT_EQ(e->ncol, 3);
  Matrix none;
  EXPECT_EQ(amatGetMatrixDefault(r.get(), none.get()), 3);
}

TEST_F(SciPy, SciPysComplexMatrixIsRefusedWithItsName) {
  const std::string file = path("complex.mat");
  int status = 0;
  const std::string out = runScript("write-complex", file, &status);
  ASSERT_EQ(status, 0) << out;
  const std::string refused = "Error when reading matrix \"z\" from file \"" + file +
                              "\",\nbecause it is complex (imagf = 1) and complex matrices are "
                              "not supported.\n";
  for (const char *required : {static_cast<const char *>(nullptr), "z"}) {
    SCOPED_TRACE(required != nullptr ? "name z required" : "any name");
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0) << message();
    Matrix z;
    z->name = const_cast<char *>(required);
    EXPECT_EQ(amatGetMatrixDefault(r.get(), z.get()), 4);
    EXPECT_EQ(message(), refused);
    EXPECT_EQ(z->name, required);
    EXPECT_EQ(z->data, nullptr);
    EXPECT_EQ(z->nrow, 0);
    EXPECT_EQ(z->ncol, 0);
    EXPECT_EQ(z->type, voidMatrix);
    z->name = nullptr;
  }
  // Nor is the file taken as a class matrix.
  Reader r;
  EXPECT_EQ(amatGetOpen(file.c_str(), "Test", nullptr, r.get()), 5);
  EXPECT_EQ(message(), refused);
}

} // namespace
