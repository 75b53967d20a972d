// Dense matrices, the LU factorisation and the dense linear solver.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/integrator/ode_support.h"

using namespace odetest;

namespace {

struct Matrix {
  DenseMatrix *A;
  Matrix(int m, int n, std::initializer_list<double> rowMajor) : A(DenseCreate(m, n)) {
    auto it = rowMajor.begin();
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) A->colPtrs[j][i] = *it++;
  }
  ~Matrix() { DenseFree(A); }
  Matrix(const Matrix &) = delete;
  Matrix &operator=(const Matrix &) = delete;
  double at(int i, int j) const { return A->colPtrs[j][i]; }
};

} // namespace

TEST(OdeDenseMatrix, CreateAndBasicOperations) {
  EXPECT_EQ(DenseCreate(0, 3), nullptr);
  EXPECT_EQ(DenseCreate(3, -1), nullptr);
  EXPECT_EQ(DensePivotsCreate(0), nullptr);
  Matrix m(2, 3, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(m.A->type, 1);
  EXPECT_EQ(m.A->leadingDim, 2);
  EXPECT_EQ(m.A->dataLength, 6);
  EXPECT_EQ(m.A->colPtrs[1], m.A->data + 2);
  EXPECT_EQ(m.A->data[1], 4.0); // column-major
  DenseScaleBy(2.0, m.A);
  EXPECT_EQ(m.at(1, 2), 12.0);
  DensePlusIdentity(m.A);
  EXPECT_EQ(m.at(1, 1), 11.0);
  Matrix copy(2, 3, {0, 0, 0, 0, 0, 0});
  DenseCopyInto(m.A, copy.A);
  EXPECT_EQ(copy.at(0, 2), 6.0);
  DenseClear(m.A);
  EXPECT_EQ(m.at(1, 2), 0.0);
}

TEST(OdeDenseMatrix, FactorAndSolveReproduceTheSystem) {
  const double a[4][4] = {{4, -2, 1, 0.5}, {3, 6, -4, 2}, {2, 1, 8, -5}, {-1, 3, 2, 7}};
  Matrix m(4, 4, {4, -2, 1, 0.5, 3, 6, -4, 2, 2, 1, 8, -5, -1, 3, 2, 7});
  DensePivots p = DensePivotsCreate(4);
  ASSERT_EQ(DenseFactorLU(m.A, p), 0);
  const double xExact[4] = {1.0, -2.0, 0.5, 3.0};
  double b[4];
  for (int i = 0; i < 4; ++i) {
    b[i] = 0.0;
    for (int j = 0; j < 4; ++j) b[i] += a[i][j] * xExact[j];
  }
  DenseSolveLU(m.A, p, b);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(b[i], xExact[i], 1e-14);
  DensePivotsFree(p);
}

TEST(OdeDenseMatrix, PivotingCases) {
  DensePivots p = DensePivotsCreate(2);
  {
    Matrix swap(2, 2, {0, 1, 1, 0});
    EXPECT_EQ(DenseFactorLU(swap.A, p), 0);
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[1], 1);
    double b[2] = {3.0, 5.0};
    DenseSolveLU(swap.A, p, b);
    EXPECT_EQ(b[0], 5.0);
    EXPECT_EQ(b[1], 3.0);
  }
  {
    Matrix tie(2, 2, {2, 1, -2, 3});
    EXPECT_EQ(DenseFactorLU(tie.A, p), 0);
    EXPECT_EQ(p[0], 0); // ties keep the upper row
  }
  {
    Matrix zeroColumn(2, 2, {1, 0, 2, 0});
    EXPECT_EQ(DenseFactorLU(zeroColumn.A, p), 2);
  }
  DensePivotsFree(p);
}

TEST(OdeDenseMatrix, MathFunctions) {
  EXPECT_EQ(odeAbs(-2.5), 2.5);
  EXPECT_EQ(odeIntPower(2.0, 10), 1024.0);
  EXPECT_EQ(odeIntPower(2.0, -2), 0.25);
  EXPECT_EQ(odeIntPower(3.0, 0), 1.0);
  EXPECT_EQ(odeRealPower(-8.0, 1.0 / 3.0), 0.0);
  EXPECT_EQ(odeRealPower(0.0, 0.5), 0.0);
  EXPECT_EQ(odeRealPower(4.0, 0.5), 2.0);
  EXPECT_EQ(odeSafeSqrt(-1.0), 0.0);
  EXPECT_EQ(odeSafeSqrt(9.0), 3.0);
  EXPECT_TRUE(std::isnan(odeSafeSqrt(std::nan(""))));
}

// The solver's operations, driven the way the step drives them.
class OdeDenseSolver : public testing::Test {
protected:
  Problem p;
  std::unique_ptr<Integrator> ode;
  OdeDenseSolverMemory *dls = nullptr;
  OdeVector work = OdeVecNew_Serial(3); // the caller's vector of a solve

  void TearDown() override {
    ode.reset();
    OdeVecDispose(work);
  }

  void SetUp() override {
    // f(y) = A y with a full 3 x 3 matrix A.
    p.rhs = [](double, const double *y, double *yd) {
      yd[0] = 1.0 * y[0] + 2.0 * y[1] - 1.0 * y[2];
      yd[1] = -3.0 * y[0] + 0.5 * y[1] + 4.0 * y[2];
      yd[2] = 2.0 * y[0] - 1.0 * y[1] + 6.0 * y[2];
      return 0;
    };
    p.rtol = 1e-6;
    p.atol = {1e-8, 1e-8, 1e-8};
    ode = std::make_unique<Integrator>(p, ODE_BDF, ODE_NEWTON, 0.0,
                                       std::vector<double>{1.0, -2.0, 0.5});
    OdeMemory *mem = ode->mem;
    ASSERT_EQ(mem->lsInit(mem), 0);
    ASSERT_EQ(problemEwt(mem->history[0], mem->ewt, &p), 0);
    mem->h = 1e-3;
    mem->yout = work;
    dls = static_cast<OdeDenseSolverMemory *>(mem->lsMemory);
  }
};

TEST_F(OdeDenseSolver, DifferenceQuotientsReproduceALinearRhs) {
  const double A[3][3] = {{1, 2, -1}, {-3, 0.5, 4}, {2, -1, 6}};
  OdeMemory *mem = ode->mem;
  OdeVector y = mem->history[0];
  OdeVector fy = mem->rhsScratch;
  ASSERT_EQ(p.rhs(0.0, data(y), data(fy)), 0);
  double *tmp2Own = data(mem->scratch);
  DenseClear(dls->iterMatrix);
  ASSERT_EQ(dls->jac(3, 0.0, y, fy, dls->iterMatrix, dls->jacData, mem->correction, mem->scratch,
                     mem->yout),
            0);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(dls->iterMatrix->colPtrs[j][i], A[i][j], 1e-6 * (1.0 + std::fabs(A[i][j])));
  EXPECT_EQ(dls->numRhsEvalsDQ, 3);
  EXPECT_EQ(data(mem->scratch), tmp2Own);
  EXPECT_EQ(data(y)[0], 1.0);
  EXPECT_EQ(data(y)[1], -2.0);
  EXPECT_EQ(data(y)[2], 0.5);

  // A failing f stops the columns; y is restored all the same.
  p.rhs = [](double, const double *, double *) { return 1; };
  EXPECT_EQ(dls->jac(3, 0.0, y, fy, dls->iterMatrix, dls->jacData, mem->correction, mem->scratch,
                     mem->yout),
            1);
  EXPECT_EQ(data(y)[1], -2.0);
  EXPECT_EQ(data(mem->scratch), tmp2Own);
}

TEST_F(OdeDenseSolver, BdfSolveCorrectsForAChangedGamma) {
  OdeMemory *mem = ode->mem;
  DenseClear(dls->iterMatrix);
  DensePlusIdentity(dls->iterMatrix);
  ASSERT_EQ(DenseFactorLU(dls->iterMatrix, dls->pivots), 0);
  mem->gammaRatio = 0.5;
  OdeVecFill(3.0, mem->scratch);
  ASSERT_EQ(mem->lsSolve(mem, mem->scratch, mem->ewt, mem->yout, mem->rhsScratch), 0);
  EXPECT_DOUBLE_EQ(data(mem->scratch)[0], 3.0 * 2.0 / 1.5);
}

TEST_F(OdeDenseSolver, SetupReusesTheSavedJacobianUntilItIsStale) {
  OdeMemory *mem = ode->mem;
  OdeVector fy = mem->rhsScratch;
  ASSERT_EQ(p.rhs(0.0, data(mem->history[0]), data(fy)), 0);
  mem->gamma = mem->gammaAtSetup = 0.01;
  int jcur = -1;
  mem->numSteps = 0;
  ASSERT_EQ(mem->lsSetup(mem, ODE_NO_FAILURES, mem->history[0], fy, &jcur, mem->correction,
                         mem->yout, mem->scratch),
            0);
  EXPECT_EQ(jcur, 1);
  EXPECT_EQ(dls->numJacEvals, 1);
  struct Case {
    int numSteps;
    int convfail;
    int newJacobian;
  };
  for (Case c : {Case{10, ODE_NO_FAILURES, 0}, Case{60, ODE_NO_FAILURES, 1},
                 Case{61, ODE_FAIL_BAD_J, 1}, Case{62, ODE_FAIL_OTHER, 1}}) {
    SCOPED_TRACE(c.numSteps);
    mem->numSteps = c.numSteps;
    int before = dls->numJacEvals;
    ASSERT_EQ(mem->lsSetup(mem, c.convfail, mem->history[0], fy, &jcur, mem->correction, mem->yout,
                           mem->scratch),
              0);
    EXPECT_EQ(jcur, c.newJacobian);
    EXPECT_EQ(dls->numJacEvals - before, c.newJacobian);
    EXPECT_NEAR(dls->savedJac->colPtrs[1][0], 2.0, 1e-6);
  }
  // A singular iteration matrix is a recoverable failure: J = I with
  // gamma = 1 gives M = 0.
  p.jac = [](double, const double *, double *J) {
    J[0] = J[4] = J[8] = 1.0;
    return 0;
  };
  ASSERT_EQ(OdeDlsSetDenseJacFn(mem, problemJac), ODEDLS_SUCCESS);
  ASSERT_EQ(mem->lsInit(mem), 0);
  mem->gamma = mem->gammaAtSetup = 1.0;
  mem->numSteps = 0;
  EXPECT_EQ(mem->lsSetup(mem, ODE_NO_FAILURES, mem->history[0], fy, &jcur, mem->correction,
                         mem->yout, mem->scratch),
            1);
  EXPECT_GT(dls->lastFlag, 0);
}
