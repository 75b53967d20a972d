// The dense linear solver: LU and QR paths, factor reuse, rank decision,
// minimum-norm solutions, the residual check, the reports and the
// singular-system diagnostics, and the LAPACK it runs on.
#include "source/kernel.h"
#include "source/lapack_decl.h"
#include "source/linsolve.h"
#include "source/runtime_messages.h"
#include "tests/runtime/support.h"

#include <link.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

extern "C" int solveFromC(double x[2], int *solverState);

namespace {

using Lines = std::vector<std::string>;
using Vector = std::vector<double>;

constexpr double kTolerance = 2.220446049250313e-9;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Everything the solver says, in order: "log: " + a runtime log line (with its
// emit mode and level when they are not 1 and 0), "kernel<type>: " + a line of
// kernel text of a non-zero type.
Lines transcriptLines;
std::string kernelLine;

void recordLog(const char *text, int emit, int level) {
  std::string line = std::string("log: ") + text;
  if (emit != 1 || level != 0)
    line += " [emit " + std::to_string(emit) + ", level " + std::to_string(level) + "]";
  transcriptLines.push_back(line);
}

int recordKernel(int type, const char *text) {
  if (std::string(text) == "\n") {
    transcriptLines.push_back("kernel" + std::to_string(type) + ": " + kernelLine);
    kernelLine.clear();
  } else {
    kernelLine += text;
  }
  return 0;
}

class LinsolveTest : public RuntimeTest {
protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    transcriptLines.clear();
    kernelLine.clear();
    setRuntimeMessageHook(recordLog);
    defaultKernelContext.messageCallback = recordKernel;
  }
  void TearDown() override {
    defaultKernelContext.messageCallback = nullptr;
    RuntimeTest::TearDown();
  }
  Lines transcript() const {
    Lines lines = transcriptLines;
    if (!kernelLine.empty()) lines.push_back("unterminated kernel text: " + kernelLine);
    return lines;
  }
};

// A matrix with the caller-owned arrays of its solves, each as large as the
// solver may use, followed by guard values that the solver must not touch
// (LAPACK's accesses are not seen by the address sanitizer).
struct System {
  static constexpr std::size_t kGuards = 16;
  static constexpr double kWorkGuard = -12345.5;
  static constexpr int kIworkGuard = -12345;
  System(int order, Vector columnMajor)
      : n(order), A(std::move(columnMajor)),
        work(static_cast<std::size_t>(n * (n + 6)) + kGuards, -1.0),
        iwork(static_cast<std::size_t>(2 * n + 1) + kGuards, -7) {
    std::fill(work.end() - kGuards, work.end(), kWorkGuard);
    std::fill(iwork.end() - kGuards, iwork.end(), kIworkGuard);
  }
  int rank() const { return iwork[static_cast<std::size_t>(n)]; }
  std::vector<int> marks() const { return {iwork.begin() + n + 1, iwork.end() - kGuards}; }
  void expectGuardsIntact() const {
    EXPECT_TRUE(
        std::all_of(work.end() - kGuards, work.end(), [](double v) { return v == kWorkGuard; }));
    EXPECT_TRUE(
        std::all_of(iwork.end() - kGuards, iwork.end(), [](int v) { return v == kIworkGuard; }));
  }
  // max |A x - b|
  double residual(const Vector &x, const Vector &b) const {
    double largest = 0.0;
    for (int i = 0; i < n; ++i) {
      double r = -b[i];
      for (int j = 0; j < n; ++j) r += A[i + j * n] * x[j];
      largest = std::max(largest, std::fabs(r));
    }
    return largest;
  }
  int n;
  Vector A;
  Vector work;
  std::vector<int> iwork;
  int state = 0;
};

// The optional arguments of one call.
struct Extras {
  int options = 0;
  const double *x0 = nullptr;
  const char *const *names = nullptr;
  const int *optionArray = nullptr;
  const double *residualScale = nullptr;
  const char *systemName = nullptr;
  int printLevel = 0;
  int printFlags = 0;
};

// solveLinearSystemEx as system 7 at time 2.5; returns failed.
int solveEx(System &s, Vector &b, const Extras &e = {}) {
  int systemNumber = 7;
  const double time = 2.5;
  int failed = -1;
  solveLinearSystemEx(&systemNumber, &e.options, s.A.data(), &s.n, &s.n, b.data(), e.x0, &time,
                      &e.printLevel, &e.printFlags, s.work.data(), s.iwork.data(), &s.state,
                      e.names, &failed, e.optionArray, e.residualScale, e.systemName);
  s.expectGuardsIntact();
  return failed;
}

// denseLinearSolve with the default tolerance as system 7; returns the result.
int solveCore(System &s, Vector &b, const Extras &e = {}) {
  const int systemNumber = 7;
  int result = -1;
  denseLinearSolve(&e.options, s.A.data(), &s.n, &s.n, b.data(), e.x0, &kTolerance, s.iwork.data(),
                   s.work.data(), s.iwork.data() + s.n + 1, &s.state, &result, &systemNumber,
                   e.names, e.optionArray, e.residualScale);
  s.expectGuardsIntact();
  return result;
}

void expectNear(const Vector &actual, const Vector &expected, double tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
}

// [4 1; 2 3], column-major.
const Vector kRegular = {4.0, 2.0, 1.0, 3.0};
// [1 2; 2 4]: rank 1, range spanned by (1, 2).
const Vector kSingular = {1.0, 2.0, 2.0, 4.0};

// ---- regular systems -------------------------------------------------------

TEST_F(LinsolveTest, RegularSystemTakesTheLuPathSilentlyAndReusesItsFactors) {
  System s(2, kRegular);
  Vector b = {1.0, 2.0};
  Extras printAll;
  printAll.printLevel = 1;
  printAll.printFlags = 0x1000;
  EXPECT_EQ(solveEx(s, b, printAll), 0);
  EXPECT_EQ(s.state, 1);
  expectNear(b, {0.1, 0.6}, 1e-15);
  EXPECT_EQ(s.marks(), (std::vector<int>{0, 0}));

  // A second right-hand side with the same state uses the stored factors: the
  // matrix is not read again.
  std::fill(s.A.begin(), s.A.end(), 0.0);
  Vector b2 = {5.0, -1.0};
  EXPECT_EQ(solveCore(s, b2), 0);
  EXPECT_EQ(s.state, 1);
  expectNear(b2, {1.6, -1.4}, 1e-15);
  EXPECT_EQ(transcript(), Lines{});
}

TEST_F(LinsolveTest, QrPathAndEquilibrationSolveRegularSystemsWithTheScalingLapackChose) {
  struct Case {
    const char *what;
    Vector A;
    int options;
    int state;
  } cases[] = {
      {"QR, well scaled", {2.0, 1.0, 1.0, 3.0}, 3, 0x002},
      {"QR without equilibration", {1e6, 1.0, 2e6, 3.0}, 1, 0x002},
      {"QR, rows scaled", {1e6, 1.0, 2e6, 3.0}, 3, 0x102},
      {"QR, columns scaled", {1.0, 2.0, 1000.0, 3000.0}, 3, 0x202},
      {"QR, both scaled", {1e6, 1.0, 1e3, 3e-3}, 3, 0x302},
      {"LU, both scaled", {1e6, 1.0, 1e3, 3e-3}, 2, 0x301},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    transcriptLines.clear();
    System s(2, c.A);
    const Vector rhs = {1.0, -2.0};
    Vector x = rhs;
    Extras e;
    e.options = c.options;
    EXPECT_EQ(solveCore(s, x, e), 0);
    EXPECT_EQ(s.state, c.state);
    EXPECT_EQ(s.marks(), (std::vector<int>{0, 0}));
    EXPECT_LT(s.residual(x, rhs), 1e-9);

    // The stored factors, scale factors and permutation answer a second
    // right-hand side alike.
    const System original = s;
    std::fill(s.A.begin(), s.A.end(), 0.0);
    const Vector rhs2 = {-3.0, 0.5};
    Vector x2 = rhs2;
    EXPECT_EQ(solveCore(s, x2, e), 0);
    EXPECT_EQ(s.state, c.state);
    EXPECT_LT(original.residual(x2, rhs2), 1e-9);
    EXPECT_EQ(transcript(), Lines{});
  }
}

TEST_F(LinsolveTest, CallableFromC) {
  double x[2] = {1.0, 2.0};
  int state = 0;
  EXPECT_EQ(solveFromC(x, &state), 0);
  EXPECT_EQ(state, 1);
  EXPECT_NEAR(x[0], 0.1, 1e-15);
  EXPECT_NEAR(x[1], 0.6, 1e-15);
}

TEST_F(LinsolveTest, SizeZeroReturnsAtOnceWithoutTouchingAnything) {
  int systemNumber = 7;
  const int options = 0, n = 0, lda = 1, printLevel = 1, printFlags = 0x1000;
  const double time = 0.0;
  int state = 0;
  int failed = -1;
  solveLinearSystem(&systemNumber, &options, nullptr, &lda, &n, nullptr, &time, &printLevel,
                    &printFlags, nullptr, nullptr, &state, &failed);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(state, 0);
  EXPECT_EQ(transcript(), Lines{});
}

TEST_F(LinsolveTest, InvalidOrderOrLeadingDimensionIsRejected) {
  System s(2, kRegular);
  Vector b = {1.0, 2.0};
  int systemNumber = 7;
  const int options = 0, lda = 1, printLevel = 0, printFlags = 0;
  const double time = 2.5;
  int failed = -1;
  solveLinearSystem(&systemNumber, &options, s.A.data(), &lda, &s.n, b.data(), &time, &printLevel,
                    &printFlags, s.work.data(), s.iwork.data(), &s.state, &failed);
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(s.state, 0);
  EXPECT_EQ(b, (Vector{1.0, 2.0}));
  EXPECT_EQ(transcript(),
            (Lines{"log: Order 2 or leading dimension 1 of system 7 is invalid",
                   "kernel1: LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5",
                   "kernel1: ...    Linear system of equations number = 7",
                   "kernel1: ...    Variables X(i) which cannot be uniquely computed:",
                   "kernel1: ... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}));
}

// ---- singular systems ------------------------------------------------------

TEST_F(LinsolveTest, SingularConsistentSystemGivesTheMinimumNormSolution) {
  for (int options : {0, 1, 2, 3}) {
    SCOPED_TRACE("options " + std::to_string(options));
    System s(2, kSingular);
    Vector b = {3.0, 6.0};
    Extras e;
    e.options = options;
    EXPECT_EQ(solveCore(s, b, e), 1);
    EXPECT_EQ(s.state & 3, 2);
    EXPECT_EQ(s.rank(), 1);
    // Column 2 is pivoted first; variable 1 is the one left undetermined.
    EXPECT_EQ(s.marks(), (std::vector<int>{1, 0}));
    expectNear(b, {0.6, 1.2}, 1e-14);
  }
}

TEST_F(LinsolveTest, StartVectorMakesItTheMinimumNormCorrectionOfX0) {
  System s(2, kSingular);
  const Vector x0 = {1.0, 1.0};
  Vector b = {5.0, 10.0};
  Extras e;
  e.x0 = x0.data();
  EXPECT_EQ(solveCore(s, b, e), 1);
  // x0 + t (1, 2) with 1 + 2 = 3, 3 + 5t = 5.
  expectNear(b, {1.4, 1.8}, 1e-14);
  EXPECT_EQ(transcript(), Lines{});
}

TEST_F(LinsolveTest, LargerRankDeficientSystemGivesTheMinimumNormSolution) {
  // A = U V^T of order 6 and rank 3, V with orthonormal columns: the
  // minimum-norm solution of a consistent system lies in the span of V.
  const double r2 = 1.0 / std::sqrt(2.0), r5 = 1.0 / std::sqrt(5.0);
  const double V[6][3] = {{r2, 0, 0},  {r2, 0, 0}, {0, r2, 0},
                          {0, -r2, 0}, {0, 0, r5}, {0, 0, 2 * r5}};
  const double U[6][3] = {{1, 2, 0}, {0, 1, 3}, {4, 0, 1}, {1, 1, 1}, {2, -1, 0}, {0, 3, -2}};
  Vector A(36);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j)
      for (int k = 0; k < 3; ++k) A[i + 6 * j] += U[i][k] * V[j][k];
  const Vector x0 = {1.0, -2.0, 0.5, 3.0, 0.0, 1.0};
  Vector rhs(6);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) rhs[i] += A[i + 6 * j] * x0[j];

  for (int options : {0, 3}) {
    SCOPED_TRACE("options " + std::to_string(options));
    System s(6, A);
    Vector x = rhs;
    EXPECT_EQ(solveCore(s, x, {.options = options}), 1);
    EXPECT_EQ(s.rank(), 3);
    const std::vector<int> marks = s.marks();
    EXPECT_EQ(std::count(marks.begin(), marks.end(), 1), 3);
    EXPECT_EQ(std::count(marks.begin(), marks.end(), 0), 3);
    EXPECT_LT(s.residual(x, rhs), 1e-12);
    Vector projected(6);
    for (int k = 0; k < 3; ++k) {
      double c = 0.0;
      for (int j = 0; j < 6; ++j) c += V[j][k] * x[j];
      for (int j = 0; j < 6; ++j) projected[j] += c * V[j][k];
    }
    expectNear(x, projected, 1e-12);

    // The same factors, rank and permutation serve a second right-hand side.
    Vector y(6, 0.0);
    for (int i = 0; i < 6; ++i) y[i] = 2.0 * rhs[i];
    EXPECT_EQ(solveCore(s, y, {.options = options}), 1);
    for (int j = 0; j < 6; ++j) EXPECT_NEAR(y[j], 2.0 * x[j], 1e-12);
  }
  EXPECT_EQ(transcript(), Lines{});
}

TEST_F(LinsolveTest, SingularSystemDiagnostics) {
  const char *const names[] = {"x", "y"};
  const int keepResult[] = {0, 0, 1};
  const std::string longName(60, 'S');
  struct Case {
    const char *what;
    Vector rhs;
    Extras extras;
    int failed;
    Lines transcript;
  } cases[] = {
      {"consistent, not asked to print", {3.0, 6.0}, {}, 0, {}},
      {"consistent, print level 1 without the flag",
       {3.0, 6.0},
       {.printLevel = 1, .printFlags = 0x0fff},
       0,
       {}},
      {"consistent, flag without print level 1",
       {3.0, 6.0},
       {.printLevel = 2, .printFlags = 0x1000},
       0,
       {}},
      {"consistent, printed, unnamed",
       {3.0, 6.0},
       {.printLevel = 1, .printFlags = 0x1000},
       0,
       {"kernel1: ... System of equations is singular at Time = 2.5",
        "kernel1: ...    Linear system of equations number = 7",
        "kernel1: ...    Variables X(i) which cannot be uniquely computed:", "log: ... 1",
        "kernel1: ... Simulation continues with minimum norm solution."}},
      {"consistent, printed, named",
       {3.0, 6.0},
       {.names = names, .systemName = "tank", .printLevel = 1, .printFlags = 0x1000},
       0,
       {"kernel1: ... System of equations is singular at Time = 2.5",
        "kernel1: ...    Linear system of equations: tank",
        "kernel1: ... Variables which cannot be uniquely computed:", "kernel1: x = 0.6",
        "kernel1: ... Simulation continues with minimum norm solution."}},
      {"inconsistent, unnamed",
       {1.0, 0.0},
       {},
       1,
       {"log: Residual component 1 of system 7 is 8.000000e-01",
        "log: Residual component 2 of system 7 is -4.000000e-01",
        "kernel1: LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5",
        "kernel1: ...    Linear system of equations number = 7",
        "kernel1: ...    Variables X(i) which cannot be uniquely computed:", "log: ... 1",
        "kernel1: ... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}},
      {"inconsistent, named, long system name",
       {1.0, 0.0},
       {.names = names, .systemName = longName.c_str()},
       1,
       {"log: Residual component 1 of system 7 is 8.000000e-01",
        "log: Residual component 2 of system 7 is -4.000000e-01",
        "kernel1: LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5",
        "kernel1: ...    Linear system of equations: " + std::string(50, 'S'),
        "kernel1: ... Variables which cannot be uniquely computed:", "kernel1: x = 0.04",
        "kernel1: ... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}},
      {"inconsistent, accepted by option word 2",
       {1.0, 0.0},
       {.optionArray = keepResult},
       0,
       {"log: Residual component 1 of system 7 is 8.000000e-01",
        "log: Residual component 2 of system 7 is -4.000000e-01"}},
      {"inconsistent, accepted by option word 2, printed",
       {1.0, 0.0},
       {.optionArray = keepResult, .printLevel = 1, .printFlags = 0x1000},
       0,
       {"log: Residual component 1 of system 7 is 8.000000e-01",
        "log: Residual component 2 of system 7 is -4.000000e-01",
        "kernel1: ... System of equations is singular at Time = 2.5",
        "kernel1: ...    Linear system of equations number = 7",
        "kernel1: ...    Variables X(i) which cannot be uniquely computed:", "log: ... 1",
        "kernel1: ... Simulation continues with minimum norm solution."}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    transcriptLines.clear();
    System s(2, kSingular);
    Vector b = c.rhs;
    EXPECT_EQ(solveEx(s, b, c.extras), c.failed);
    EXPECT_EQ(s.state, 2);
    EXPECT_EQ(s.marks(), (std::vector<int>{1, 0}));
    EXPECT_EQ(transcript(), c.transcript);
  }
}

TEST_F(LinsolveTest, LongVariableNamesAreCutAfter140Characters) {
  const std::string name140(140, 'n');
  const std::string name141 = name140 + "X";
  for (const std::string &name : {name140, name141}) {
    SCOPED_TRACE(name.size());
    const std::string shown = name140 + (name.size() > 140 ? "..." : "");
    const char *const names[] = {name.c_str(), "y"};

    transcriptLines.clear();
    System singular(2, kSingular);
    Vector b = {1.0, 0.0};
    EXPECT_EQ(solveEx(singular, b, {.names = names}), 1);
    EXPECT_EQ(transcript(), (Lines{"log: Residual component 1 of system 7 is 8.000000e-01",
                                   "log: Residual component 2 of system 7 is -4.000000e-01",
                                   "kernel1: LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5",
                                   "kernel1: ...    Linear system of equations number = 7",
                                   "kernel1: ... Variables which cannot be uniquely computed:",
                                   "kernel1: " + shown + " = 0.04",
                                   "kernel1: ... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}));

    transcriptLines.clear();
    System one(1, {2.0});
    Vector x = {kInf};
    EXPECT_EQ(solveCore(one, x, {.names = names}), 2);
    EXPECT_EQ(transcript(), (Lines{"log: Rhs component 1 of system 7 is inf",
                                   "log: In system 7 " + shown + " = inf"}));
  }
}

TEST_F(LinsolveTest, ResidualToleranceFollowsTheResidualScale) {
  // b is off the range of A by 1e-6: residual components of 4e-7 and 2e-7.
  const Vector rhs = {1.0, 2.0 + 1e-6};
  const Vector farStart = {1e6, 0.0};
  const double one = 1.0, negative = -1.0;
  struct Case {
    const char *what;
    const double *scale;
    const double *x0;
    int result;
  } cases[] = {
      {"no scale: tol", nullptr, nullptr, 2},
      {"scale 1: 0.001 of the right-hand side", &one, nullptr, 1},
      {"negative scale is ignored", &negative, nullptr, 2},
      {"scale 1 relative to a large start vector", &one, farStart.data(), 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    System s(2, kSingular);
    Vector b = rhs;
    EXPECT_EQ(solveCore(s, b, {.x0 = c.x0, .residualScale = c.scale}), c.result);
  }
}

TEST_F(LinsolveTest, ResidualFailureRetriesWithTheRankOfIndependentColumns) {
  // [1 1; 1 1+1e-12]: independent to machine precision, but below tol.
  const double delta = (1.0 + 1e-12) - 1.0;
  const Vector A = {1.0, 1.0, 1.0, 1.0 + 1e-12};

  System consistent(2, A);
  Vector b = {2.0, 2.0 + delta};
  EXPECT_EQ(solveCore(consistent, b), 1);
  EXPECT_EQ(consistent.rank(), 1);
  EXPECT_EQ(consistent.marks(), (std::vector<int>{1, 0}));
  EXPECT_EQ(transcript(), Lines{});

  // A right-hand side far off the rank-1 range fails the residual check and
  // is solved again at full numerical rank, where the rounding of a solution
  // of about 1e12 leaves a residual far above the tolerance: refused.
  System retried(2, A);
  Vector x = {1.0, 2.0};
  EXPECT_EQ(solveCore(retried, x), 2);
  EXPECT_EQ(retried.state, 2);
  EXPECT_EQ(retried.rank(), 2);
  EXPECT_EQ(retried.marks(), (std::vector<int>{0, 0}));
  EXPECT_EQ(transcript(), (Lines{"log: Residual component 1 of system 7 is -1.220703e-04",
                                 "log: Residual component 2 of system 7 is -1.220703e-04"}));

  // diag(1, 1e-12): the second pass solves it exactly and is accepted.
  transcriptLines.clear();
  System exact(2, {1.0, 0.0, 0.0, 1e-12});
  Vector y = {1.0, 1.0};
  EXPECT_EQ(solveCore(exact, y), 0);
  EXPECT_EQ(exact.state, 2);
  EXPECT_EQ(exact.rank(), 2);
  EXPECT_EQ(exact.marks(), (std::vector<int>{0, 0}));
  expectNear(y, {1.0, 1e12}, 1e-3);
  EXPECT_EQ(transcript(), Lines{});
}

// An orthogonal matrix of order n, column-major: the product of two
// Householder reflections of fixed pseudo-random vectors (seeded by seed).
Vector orthogonal(int n, unsigned seed) {
  auto reflection = [&](unsigned salt) {
    Vector v(static_cast<std::size_t>(n));
    unsigned state = seed * 2654435761U + salt;
    for (double &x : v) {
      state = state * 1664525U + 1013904223U;
      x = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
    }
    double norm2 = 0.0;
    for (double x : v) norm2 += x * x;
    Vector H(static_cast<std::size_t>(n * n));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) H[i + j * n] = (i == j ? 1.0 : 0.0) - 2.0 * v[i] * v[j] / norm2;
    return H;
  };
  const Vector P = reflection(1), Q = reflection(2);
  Vector R(static_cast<std::size_t>(n * n), 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) R[i + j * n] += P[i + k * n] * Q[k + j * n];
  return R;
}

// A singular system A = U diag(sigma) V^T: sigma falls from 1 to 1/(n-1) and
// its last value is tiny, far below the rank tolerance and far above machine
// precision, so that the rank decision finds rank n - 1 while every column is
// independent to machine precision.  Column k of U is U[k*n ...].
struct SingularSystem {
  SingularSystem(int order, double smallest)
      : n(order), U(orthogonal(order, 7U * static_cast<unsigned>(order))),
        V(orthogonal(order, 11U * static_cast<unsigned>(order) + 3U)),
        A(static_cast<std::size_t>(order * order), 0.0) {
    for (int k = 0; k < n; ++k) {
      const double sigma = k == n - 1 ? smallest : 1.0 / (k + 1);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) A[i + j * n] += U[i + k * n] * sigma * V[j + k * n];
    }
  }
  int n;
  Vector U, V, A;
};

TEST_F(LinsolveTest, InconsistentSingularSystemsAreRefusedWithTheirResidualsAtEveryOrder) {
  struct Case {
    std::string what;
    int n;
    Vector A;
    Vector rhs;
  };
  // [1 1; 1 1+2^-50]: singular values 2 and about 4.4e-16.
  std::vector<Case> cases = {
      {"columns 2^-50 apart", 2, {1.0, 1.0, 1.0, 1.0 + 0x1p-50}, {1.0, 0.0}}};
  for (int n = 2; n <= 20; ++n) {
    const SingularSystem singular(n, 1e-13);
    // The last left singular vector plus a part in the range.
    Vector rhs(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) rhs[i] = singular.U[i + (n - 1) * n] + singular.U[i];
    cases.push_back({"order " + std::to_string(n), n, singular.A, rhs});
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    transcriptLines.clear();
    System s(c.n, c.A);
    Vector b = c.rhs;
    EXPECT_EQ(solveEx(s, b), 1);
    // Refused in the second pass, at the rank of the independent columns.
    EXPECT_EQ(s.state, 2);
    EXPECT_EQ(s.rank(), c.n);
    const Lines lines = transcript();
    if (lines.size() < 5) {
      ADD_FAILURE() << "refused without the residual lines";
      continue;
    }
    for (auto line = lines.begin(); line != lines.end() - 4; ++line)
      EXPECT_EQ(line->rfind("log: Residual component ", 0), 0U) << *line;
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
              (Lines{"kernel1: LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5",
                     "kernel1: ...    Linear system of equations number = 7",
                     "kernel1: ...    Variables X(i) which cannot be uniquely computed:",
                     "kernel1: ... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}));
  }
}

TEST_F(LinsolveTest, ConsistentSingularSystemsAreSolvedAtEveryOrder) {
  for (int n = 2; n <= 20; ++n) {
    SCOPED_TRACE("order " + std::to_string(n));
    const SingularSystem singular(n, 1e-13);
    // x in the span of the leading n - 1 right singular vectors, b = A x.
    Vector x(static_cast<std::size_t>(n), 0.0);
    for (int k = 0; k + 1 < n; ++k)
      for (int j = 0; j < n; ++j) x[j] += (k % 3 - 1.0 + 0.25 * k) * singular.V[j + k * n];
    Vector b(static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) b[i] += singular.A[i + j * n] * x[j];
    System s(n, singular.A);
    EXPECT_EQ(solveCore(s, b), 1);
    EXPECT_EQ(s.rank(), n - 1);
    expectNear(b, x, 1e-9);
  }
  EXPECT_EQ(transcript(), Lines{});
}

TEST_F(LinsolveTest, OptionWordZeroSelectsTheLooserTolerance) {
  // rcond about 2.5e-8: above 2.2e-9, below 2.2e-5.
  const Vector A = {1.0, 1.0, 1.0, 1.0 + 1e-7};
  const int loose[] = {1, 0, 0};
  for (const int *optionArray : {static_cast<const int *>(nullptr), loose}) {
    SCOPED_TRACE(optionArray ? "loose" : "default");
    System s(2, A);
    Vector b = {2.0, 2.0 + 1e-7};
    EXPECT_EQ(solveEx(s, b, {.optionArray = optionArray}), 0);
    if (optionArray) {
      EXPECT_EQ(s.state, 2);
      EXPECT_EQ(s.rank(), 1);
    } else {
      EXPECT_EQ(s.state, 1);
      expectNear(b, {1.0, 1.0}, 1e-8);
    }
  }
  EXPECT_EQ(transcript(), Lines{});
}

TEST_F(LinsolveTest, EquilibrationWithAZeroRowOrColumnFallsBackToUnscaledQr) {
  struct Case {
    const char *what;
    Vector A;
    Vector rhs;
    Vector x;
    std::vector<int> marks;
  } cases[] = {
      {"zero column", {1.0, 2.0, 0.0, 0.0}, {1.0, 2.0}, {1.0, 0.0}, {0, 1}},
      {"zero row", {1.0, 0.0, 2.0, 0.0}, {3.0, 0.0}, {0.6, 1.2}, {1, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    System s(2, c.A);
    Vector b = c.rhs;
    EXPECT_EQ(solveCore(s, b, {.options = 2}), 1);
    EXPECT_EQ(s.state, 2);
    EXPECT_EQ(s.rank(), 1);
    EXPECT_EQ(s.marks(), c.marks);
    expectNear(b, c.x, 1e-14);
  }
  EXPECT_EQ(transcript(), Lines{});
}

TEST_F(LinsolveTest, ZeroMatrixHasRankZeroAndEveryVariableMarked) {
  const Vector start = {1.0, 2.0};
  struct Case {
    const char *what;
    int options;
    Vector rhs;
    const double *x0;
    int result;
    Vector x;
    Lines transcript;
  } cases[] = {
      {"LU attempted", 0, {0.0, 0.0}, nullptr, 1, {0.0, 0.0}, {}},
      {"QR only, equilibrated", 3, {0.0, 0.0}, nullptr, 1, {0.0, 0.0}, {}},
      {"start vector kept", 0, {0.0, 0.0}, start.data(), 1, {1.0, 2.0}, {}},
      {"inconsistent",
       0,
       {1.0, 0.0},
       nullptr,
       2,
       {0.0, 0.0},
       {"log: Residual component 1 of system 7 is 1.000000e+00"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    transcriptLines.clear();
    System s(2, {0.0, 0.0, 0.0, 0.0});
    Vector b = c.rhs;
    EXPECT_EQ(solveCore(s, b, {.options = c.options, .x0 = c.x0}), c.result);
    EXPECT_EQ(s.state, 2);
    EXPECT_EQ(s.rank(), 0);
    EXPECT_EQ(s.marks(), (std::vector<int>{1, 1}));
    EXPECT_EQ(b, c.x);
    EXPECT_EQ(transcript(), c.transcript);
  }
}

// ---- non-finite values -----------------------------------------------------

TEST_F(LinsolveTest, NonFiniteRightHandSideAndSolutionAreReported) {
  const char *const names[] = {"v"};
  const int keepResult[] = {0, 0, 1};
  struct Case {
    const char *what;
    double rhs;
    Extras extras;
    int failed;
    Lines transcript;
  } cases[] = {
      {"infinite, unnamed",
       kInf,
       {},
       1,
       {"log: Rhs component 1 of system 7 is inf", "log: Solution component 1 of system 7 is inf",
        "kernel1: LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5",
        "kernel1: ...    Linear system of equations number = 7",
        "kernel1: ...    Variables X(i) which cannot be uniquely computed:",
        "kernel1: ... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}},
      {"not a number, named",
       std::numeric_limits<double>::quiet_NaN(),
       {.names = names},
       1,
       {"log: Rhs component 1 of system 7 is nan", "log: In system 7 v = nan",
        "kernel1: LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 2.5",
        "kernel1: ...    Linear system of equations number = 7",
        "kernel1: ... Variables which cannot be uniquely computed:",
        "kernel1: ... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}},
      {"largest double, accepted by option word 2",
       -std::numeric_limits<double>::max(),
       {.optionArray = keepResult},
       0,
       {"log: Rhs component 1 of system 7 is -1.797693e+308",
        "log: Solution component 1 of system 7 is -1.797693e+308"}},
      {"infinite, accepted by option word 2",
       kInf,
       {.optionArray = keepResult},
       0,
       {"log: Rhs component 1 of system 7 is inf", "log: Solution component 1 of system 7 is inf"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    transcriptLines.clear();
    System s(1, {1.0});
    Vector b = {c.rhs};
    EXPECT_EQ(solveEx(s, b, c.extras), c.failed);
    EXPECT_EQ(s.state, 1);
    EXPECT_EQ(transcript(), c.transcript);
  }
}

TEST_F(LinsolveTest, ResidualThatIsNotANumberFailsTheCheck) {
  // The minimum-norm answer to an infinite right-hand side is not a number,
  // and so is its residual: the solution is not accepted.
  System s(2, kSingular);
  Vector b = {kInf, 0.0};
  EXPECT_EQ(solveCore(s, b), 2);
  EXPECT_EQ(transcript(), (Lines{"log: Rhs component 1 of system 7 is inf",
                                 "log: Residual component 1 of system 7 is -nan",
                                 "log: Residual component 2 of system 7 is -nan"}));
}

// ---- LAPACK ----------------------------------------------------------------

TEST_F(LinsolveTest, LapackArgumentErrorsAreLoggedAndReturned) {
  const lapack_int m = -1, n = 2, lda = 2;
  double a[4] = {};
  lapack_int ipiv[2] = {};
  lapack_int info = 0;
  dgetrf_(&m, &n, a, &lda, ipiv, &info);
  EXPECT_EQ(info, -1);

  const double one = 1.0;
  const lapack_int inc = 1;
  double x[2] = {}, y[2] = {};
  dgemv_("X", &n, &n, &one, a, &lda, x, &inc, &one, y, &inc, 1);

  EXPECT_EQ(transcript(),
            (Lines{"log:  ** On entry to DGETRF parameter number  1 had an illegal value",
                   "log:  ** On entry to DGEMV parameter number  1 had an illegal value"}));
}

TEST(LinsolveLinkTest, LapackIsLinkedStaticallyWithoutTheFortranRuntime) {
  std::vector<std::string> loaded;
  dl_iterate_phdr(
      [](dl_phdr_info *info, std::size_t, void *data) {
        static_cast<std::vector<std::string> *>(data)->push_back(info->dlpi_name);
        return 0;
      },
      &loaded);
  for (const std::string &name : loaded) {
    EXPECT_EQ(name.find("lapack"), std::string::npos) << name;
    EXPECT_EQ(name.find("blas"), std::string::npos) << name;
    EXPECT_EQ(name.find("gfortran"), std::string::npos) << name;
  }
}

} // namespace
