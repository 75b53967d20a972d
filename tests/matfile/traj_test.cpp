// Trajectories: set-up, refusals, and the trajectory file in binary and text
// form with one data matrix written row by row.
#include "tests/matfile/support.h"

namespace {

using namespace amattest;

// A trajectory of two signals, Time and x, with data_1 (2 x 2, whole) and
// data_2 (written row by row, 2 columns); its storage comes from the heap as
// the trajectory owns it.
class Traj : public MatfileTest {
protected:
  void SetUp() override {
    MatfileTest::SetUp();
    ASSERT_EQ(atrajInit(&traj_, 2, precision_), 0);
    traj_.classDescription = amatCopyText("result");
    fillText(traj_.name, {"time", "x"});
    fillText(traj_.description, {"Time in seconds", "a \"state\""});
    auto *info = static_cast<int32_t *>(amatAlloc(8, sizeof(int32_t)));
    const int32_t rows[2][4] = {{0, 1, 0, -1}, {2, 2, 0, -1}};
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 4; ++j) info[i + 2 * j] = rows[i][j];
    }
    traj_.info.nrow = 2;
    traj_.info.data = info;
    auto *first = static_cast<float *>(amatAlloc(4, sizeof(float)));
    first[0] = 0.0F, first[1] = 1.0F, first[2] = 5.0F, first[3] = 5.0F; // column-major
    traj_.data[0].nrow = 2;
    traj_.data[0].ncol = 2;
    traj_.data[0].data = first;
    traj_.data[1].nrow = 0;
    traj_.data[1].ncol = 2;
  }
  void TearDown() override {
    atrajFree(&traj_);
    MatfileTest::TearDown();
  }
  static void fillText(AmatMatrix &m, std::vector<std::string> rows) {
    auto **data =
        static_cast<char **>(amatAlloc(static_cast<int64_t>(rows.size()), sizeof(char *)));
    for (std::size_t i = 0; i < rows.size(); ++i) data[i] = amatCopyText(rows[i].c_str());
    m.nrow = static_cast<int32_t>(rows.size());
    m.data = data;
  }

  int precision_ = 0;
  AtrajTrajectory traj_{};
};

TEST(TrajSetup, InitResizeAndFree) {
  AtrajTrajectory t{};
  ASSERT_EQ(atrajInit(&t, 2, 0), 0);
  ASSERT_EQ(t.nData, 2);
  EXPECT_STREQ(t.data[0].name, "data_1");
  EXPECT_STREQ(t.data[1].name, "data_2");
  EXPECT_EQ(t.data[1].type, realMatrix);
  EXPECT_STREQ(t.info.name, "dataInfo");
  EXPECT_EQ(t.info.ncol, 4);
  EXPECT_EQ(t.name.type, charMatrix);
  EXPECT_EQ(atrajResize(&t, 0, 0), 0);
  EXPECT_EQ(atrajResize(&t, 1, 0), 1);
  EXPECT_STREQ(amatMessage, "traj->nData (=2) of function atrajResize must be zero.\n");
  atrajFree(&t);
  EXPECT_EQ(t.nData, 0);
  EXPECT_EQ(t.data, nullptr);

  EXPECT_EQ(atrajInit(&t, -1, 0), 1);
  EXPECT_STREQ(amatMessage, "Input argument nData=-1 of function atrajInit must be >= 0.\n");
  EXPECT_EQ(atrajInit(&t, 1, 4), 1);
  EXPECT_EQ(t.name.name, nullptr) << "a failed set-up releases the trajectory";
  EXPECT_EQ(atrajInit(nullptr, 1, 0), 0);
  struct Case {
    int precision, type;
  } cases[] = {{1, doubleMatrix}, {2, realRowMatrix}, {3, doubleRowMatrix}};
  for (const Case &c : cases) {
    ASSERT_EQ(atrajInit(&t, 1, c.precision), 0);
    EXPECT_EQ(t.data[0].type, c.type);
    atrajFree(&t);
  }
}

TEST(TrajSetup, EveryAllocationFailureLeavesNothingBehind) {
  for (int n = 1;; ++n) {
    ASSERT_LT(n, 50);
    AtrajTrajectory t{};
    platform::heapFailFrom(n);
    int32_t result = atrajInit(&t, 3, 0);
    platform::heapFailFrom(0);
    if (result == 0) {
      atrajFree(&t);
      break;
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(t.nData, 0);
    EXPECT_EQ(t.name.name, nullptr);
  }
}

TEST_F(Traj, BinaryFileGrowsRowByRowAndReadsBack) {
  const std::string file = path("traj.mat");
  AmatPutFile f{};
  ASSERT_EQ(atrajPutOpen(file.c_str(), &traj_, 1, 1, &f), 0) << message();
  for (int i = 0; i < 3; ++i) {
    const float row[2] = {float(i), 10.0F * float(i)};
    ASSERT_EQ(atrajPutRow(&f, row), 0);
  }
  // Readable before the end, with the three rows.
  auto check = [&](int rows) {
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "Atrajectory", "1.1", r.get()), 0) << message();
    EXPECT_EQ(r->bstruct, binTrans);
    EXPECT_STREQ(static_cast<char **>(r->classMatrix.data)[2], "result");
    Matrix name, description, info, d1, d2;
    ASSERT_EQ(amatGetMatrixDefault(r.get(), name.get()), 0);
    ASSERT_EQ(amatGetMatrixDefault(r.get(), description.get()), 0);
    ASSERT_EQ(amatGetMatrixDefault(r.get(), info.get()), 0);
    ASSERT_EQ(amatGetMatrixDefault(r.get(), d1.get()), 0);
    ASSERT_EQ(amatGetMatrixDefault(r.get(), d2.get()), 0);
    EXPECT_EQ(name.row(1), "x");
    EXPECT_EQ(description.row(1), "a \"state\"");
    EXPECT_EQ(info.at(1, 0), 2);
    EXPECT_EQ(info.at(0, 3), -1);
    EXPECT_EQ(d1.at(1, 1), 5.0);
    EXPECT_STREQ(d2->name, "data_2");
    ASSERT_EQ(d2->nrow, rows);
    EXPECT_EQ(d2.at(2, 1), 20.0);
  };
  check(3);
  ASSERT_EQ(atrajPutClose(&f, &traj_, 1), 0) << message();
  check(3);
  EXPECT_EQ(traj_.data[0].data, nullptr) << "written data is released";
  EXPECT_STREQ(traj_.data[0].name, "data_1");
  EXPECT_EQ(f.fp, nullptr);
}

TEST_F(Traj, WholeFileWithoutRowWiseMatrix) {
  const std::string file = path("whole.mat");
  AmatPutFile f{};
  ASSERT_EQ(atrajPutOpen(file.c_str(), &traj_, -1, 1, &f), 0);
  EXPECT_EQ(f.fp, nullptr) << "closed";
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "Atrajectory", "1.1", r.get()), 0);
  EXPECT_EQ(r->bstruct, binNormal);
  EXPECT_STREQ(static_cast<char **>(r->classMatrix.data)[3], "binNormal");
}

TEST_F(Traj, TextFileCommentsTheDataInformation) {
  const std::string file = path("traj.txt");
  AmatPutFile f{};
  ASSERT_EQ(atrajPutOpen(file.c_str(), &traj_, 1, 0, &f), 0) << message();
  const float row[2] = {0.5F, 1};
  ASSERT_EQ(atrajPutRow(&f, row), 0);
  ASSERT_EQ(atrajPutClose(&f, &traj_, 1), 0);
  const std::string text = readBytes(file);
  const std::string expected =
      "#1\nchar Aclass(3,11)\nAtrajectory\n1.1\nresult\n\n"
      "char name(2,4)\ntime\nx\n\n"
      "char description(2,15)\nTime in seconds\na \"state\"\n\n"
      "\n# Matrix with 4 columns defining the data of the signals:\n#\n"
      "# dataInfo(i,1)=    j: name i data is stored in matrix \"data_j\".\n"
      "#                      (1,1)=0, means that name(1) is used as abscissa\n"
      "#                      for ALL data matrices!\n#\n"
      "# dataInfo(i,2)=    k: name i data is stored in column abs(k) of matrix\n"
      "#                      data_j with sign(k) used as sign.\n#\n"
      "# dataInfo(i,3)=    0: Linear interpolation of the column data\n"
      "#              = 1..4: Piecewise convex hermite spline interpolation\n"
      "#                      of the column data. Curve is differentiable upto\n"
      "#                      order 1..4. The spline is defined by a polygon.\n"
      "#                      It touches the polygon in the middle of every segment\n"
      "#                      and at the beginning and final point. Between such\n"
      "#                      points the spline is convex. The polygon is also the\n"
      "#                      convex envelope of the spline.\n#\n"
      "# dataInfo(i,4)=   -1: name i is not defined outside of the defined time range\n"
      "#              =    0: Keep first/last value outside of time range\n"
      "#              =    1: Linear interpolation through first/last two points outside\n"
      "#                      of time range.\n#\n"
      "int dataInfo(2,4)\n  0  1  0 -1   # time\n  2  2  0 -1   # x\n\n"
      "float data_1(2,2)\n       0              5       \n       1              5       \n\n"
      "float data_2(1,2) " +
      std::string(29, ' ') + "\n  5.0000000E-01  1.0000000E+00\n\n";
  EXPECT_EQ(text, expected);
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "Atrajectory", "1.1", r.get()), 0) << message();
}

TEST_F(Traj, DoubleRowsAreWrittenAsDoubles) {
  atrajFree(&traj_);
  ASSERT_EQ(atrajInit(&traj_, 1, 3), 0);
  traj_.data[0].ncol = 2;
  const std::string file = path("d.mat");
  AmatPutFile f{};
  ASSERT_EQ(atrajPutOpen(file.c_str(), &traj_, 0, 1, &f), 0);
  const double row[2] = {0.1, 1.0 / 3.0};
  ASSERT_EQ(atrajPutRowDouble(&f, row), 0);
  ASSERT_EQ(atrajPutClose(&f, &traj_, 0), 0);
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "Atrajectory", "1.1", r.get()), 0);
  Matrix skip[3], d;
  for (Matrix &m : skip) ASSERT_EQ(amatGetMatrixDefault(r.get(), m.get()), 0);
  ASSERT_EQ(amatGetMatrixDefault(r.get(), d.get()), 0);
  EXPECT_EQ(d->type, doubleMatrix);
  EXPECT_EQ(d.at(0, 1), 1.0 / 3.0);
}

TEST_F(Traj, CloseRefusesAnotherRowIndexAndClosesTheFile) {
  const std::string file = path("c.mat");
  AmatPutFile f{};
  ASSERT_EQ(atrajPutOpen(file.c_str(), &traj_, 1, 1, &f), 0);
  EXPECT_EQ(atrajPutClose(&f, &traj_, 5), 1);
  EXPECT_EQ(message(), "Input argument rowIndex=5 of function atrajPutClose must be >= 0 and < "
                       "traj->nData (=2).\n");
  EXPECT_EQ(f.fp, nullptr);
  EXPECT_NE(traj_.data[0].data, nullptr) << "the trajectory stays as it was";
  EXPECT_EQ(atrajPutOpen(file.c_str(), nullptr, 1, 1, &f), 1);
  EXPECT_EQ(message(), "Unexpected null-pointer");
}

} // namespace
