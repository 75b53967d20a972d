// Dense linear solver: LU with a condition test, else QR with column pivoting,
// an incremental rank decision and a minimum-norm solution that must pass a
// residual check; reports through logText, diagnostics through the kernel
// printing functions.
//
// The numerical work is LAPACK's and BLAS's (lapack_decl.h).  The routines
// are the classic ones on purpose (dgeqpf, dtzrqf, dlatzm rather than their
// successors): pivot ties, the rank and the marks depend on them.
#include "source/linsolve.h"

#include "source/clocale/clocale_io.h"
#include "source/kernel.h"
#include "source/lapack_decl.h"
#include "source/runtime_messages.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstring>

namespace {

constexpr double kMachinePrecision = 0x1p-52;       // 2.220446049250313e-16
constexpr double kDefaultTolerance = 1e7 * 0x1p-52; // 2.220446049250313e-9
constexpr double kLooseTolerance = 1e11 * 0x1p-52;  // 2.220446049250313e-5
constexpr double kLargest = 1.7976931348623157e308;

constexpr int kFactorBits = 3;
constexpr int kLuValid = 1;
constexpr int kQrValid = 2;
constexpr int kRowsScaled = 0x100;
constexpr int kColumnsScaled = 0x200;

const lapack_int kIncrement = 1;
const double kOne = 1.0;
const double kMinusOne = -1.0;

// Not a number, or a magnitude of at least the largest double.
bool notFinite(double value) { return !(std::fabs(value) < kLargest); }

void report(const char *format, ...) __attribute__((format(printf, 1, 2)));
void report(const char *format, ...) {
  char line[300];
  va_list args;
  va_start(args, format);
  vsnprintfC(line, sizeof line, format, args);
  va_end(args);
  logText(line);
}

// The caller's work array, n*(n+6) doubles, cut into its parts.
struct WorkLayout {
  WorkLayout(double *work, std::size_t n)
      : factors(work), tau(work + n * n), tauZ(tau + n), smallest(tauZ + n), largest(smallest + n),
        rowScale(largest + n), columnScale(rowScale + n) {}
  double *factors;     // n*n: LU or QR factors of the (scaled) copy of A, leading dimension n
  double *tau;         // n: QR reflector factors; from here 4n of condition-estimate scratch
  double *tauZ;        // n: trapezoidal-reduction factors; from here 3n of dgeqpf scratch
  double *smallest;    // n: estimator vector of the smallest singular value; later done
                       //    flags, the residual, and the one-element scratch of the solve
  double *largest;     // n: estimator vector of the largest singular value; later the
                       //    saved right-hand side
  double *rowScale;    // n: row scale factors R
  double *columnScale; // n: column scale factors C
};

// dgeequ's answer, kept for scaling a fresh copy the same way.
struct Equilibration {
  double rowRatio = 0.0;
  double columnRatio = 0.0;
  double largestElement = 0.0;
};

// One call of denseLinearSolve.
struct SolveCall {
  lapack_int n;
  const double *A;
  lapack_int lda;
  double *b;
  const double *x0;
  double tol;
  int options;
  int systemNumber;
  const char *const *names;
  bool keepResult; // optionArray[2]: failed checks are reported, the result stays
  const double *residualScale;
  int *iwork;
  int *marks;
  int *state;
  WorkLayout work;
  // Leading columns independent to machine precision (0 when the factors were
  // reused), and whether a second pass forces the rank to it.
  int independentColumns = 0;
  bool rankForced = false;
};

void copyMatrix(const SolveCall &call) {
  const std::size_t n = static_cast<std::size_t>(call.n);
  for (std::size_t j = 0; j < n; ++j)
    std::copy_n(call.A + j * static_cast<std::size_t>(call.lda), n, call.work.factors + j * n);
}

int scaleBitsOf(char equed) {
  switch (equed) {
  case 'R':
    return kRowsScaled;
  case 'C':
    return kColumnsScaled;
  case 'B':
    return kRowsScaled | kColumnsScaled;
  default:
    return 0;
  }
}

int applyScaling(SolveCall &call, const Equilibration &e) {
  char equed = 'N';
  dlaqge_(&call.n, &call.n, call.work.factors, &call.n, call.work.rowScale, call.work.columnScale,
          &e.rowRatio, &e.columnRatio, &e.largestElement, &equed, 1);
  return scaleBitsOf(equed);
}

// Rank decision on the triangular factor of the pivoted QR: the rank counts
// the leading columns whose incremental condition estimate stays above tol;
// independentColumns those that stay above machine precision.  A zero first
// diagonal element (only the zero matrix has one after column pivoting) gives
// rank 0.
int decideRank(SolveCall &call) {
  const lapack_int n = call.n;
  const double *r = call.work.factors;
  double *xSmall = call.work.smallest;
  double *xLarge = call.work.largest;
  double smax = std::fabs(r[0]);
  double smin = smax;
  xSmall[0] = 1.0;
  xLarge[0] = 1.0;
  if (call.rankForced) return call.independentColumns;

  const lapack_int jobSmallest = 2;
  const lapack_int jobLargest = 1;
  lapack_int k = r[0] != 0.0 ? 1 : 0;
  int rank = k;
  while (k > 0 && k < n) {
    const double *column = r + static_cast<std::size_t>(k) * static_cast<std::size_t>(n);
    const double gamma = column[k];
    double sminpr = 0.0, s1 = 0.0, c1 = 0.0;
    double smaxpr = 0.0, s2 = 0.0, c2 = 0.0;
    dlaic1_(&jobSmallest, &k, xSmall, &smin, column, &gamma, &sminpr, &s1, &c1);
    dlaic1_(&jobLargest, &k, xLarge, &smax, column, &gamma, &smaxpr, &s2, &c2);
    if (!(sminpr >= kMachinePrecision * smaxpr)) break; // also when a value is not a number
    if (sminpr >= call.tol * smaxpr && rank == k) rank = k + 1;
    for (lapack_int i = 0; i < k; ++i) {
      xSmall[i] *= s1;
      xLarge[i] *= s2;
    }
    xSmall[k] = c1;
    xLarge[k] = c2;
    smin = sminpr;
    smax = smaxpr;
    ++k;
  }
  call.independentColumns = k;
  return rank;
}

// Factorises the copy of A: LU when a pivot is non-zero and the reciprocal
// condition number exceeds tol, otherwise pivoted QR with the rank decision
// and, for a deficient rank, the reduction of the leading rows to triangular
// form.  Sets the state word (and the rank in iwork[n] for QR).
void factorise(SolveCall &call) {
  const lapack_int n = call.n;
  WorkLayout &w = call.work;
  lapack_int info = 0;
  copyMatrix(call);
  int scaleBits = 0;
  Equilibration equilibration;
  bool tryLu = (call.options & 1) == 0;
  if ((call.options & 2) != 0) {
    dgeequ_(&n, &n, call.A, &call.lda, w.rowScale, w.columnScale, &equilibration.rowRatio,
            &equilibration.columnRatio, &equilibration.largestElement, &info);
    if (info == 0) {
      scaleBits = applyScaling(call, equilibration);
    } else {
      tryLu = false; // a zero row or column: the copy stays unscaled
    }
  }

  if (tryLu) {
    const double norm = dlange_("1", &n, &n, w.factors, &n, w.tau, 1);
    dgetrf_(&n, &n, w.factors, &n, call.iwork, &info);
    if (info == 0) {
      double rcond = 0.0;
      dgecon_("1", &n, w.factors, &n, &norm, &rcond, w.tau, call.marks, &info, 1);
      std::fill_n(call.marks, n, 0);
      if (!(call.tol >= rcond)) {
        *call.state = scaleBits | kLuValid;
        return;
      }
    }
    // The copy holds LU factors now: start again from A, scaled as before.
    copyMatrix(call);
    if (scaleBits != 0) applyScaling(call, equilibration);
  }

  std::fill_n(call.iwork, n, 0); // every column free to pivot
  dgeqpf_(&n, &n, w.factors, &n, call.iwork, w.tau, w.tauZ, &info);
  const lapack_int rank = decideRank(call);
  if (rank < n) dtzrqf_(&rank, &n, w.factors, &n, w.tauZ, &info);
  *call.state = scaleBits | kQrValid;
  call.iwork[n] = rank;
}

// Moves the value (and the mark) at pivoted position i to variable jpvt(i),
// in place, following each cycle of the permutation once.
void undoColumnPermutation(SolveCall &call) {
  const lapack_int n = call.n;
  const int *jpvt = call.iwork;
  double *done = call.work.smallest;
  std::fill_n(done, n, 0.0);
  for (lapack_int i = 0; i < n; ++i) {
    if (done[i] != 0.0) continue;
    done[i] = 1.0;
    double value = call.b[i];
    int mark = call.marks[i];
    for (lapack_int j = jpvt[i] - 1; j != i; j = jpvt[j] - 1) {
      std::swap(value, call.b[j]);
      std::swap(mark, call.marks[j]);
      done[j] = 1.0;
    }
    call.b[i] = value;
    call.marks[i] = mark;
  }
}

// Minimum-norm solution from the QR factors; result 1, or 0 at full rank.
void solveWithQr(SolveCall &call, lapack_int rank, int *result) {
  const lapack_int n = call.n;
  const std::size_t size = static_cast<std::size_t>(n);
  WorkLayout &w = call.work;
  double *scratch = w.smallest;
  lapack_int info = 0;
  *result = 1;
  std::fill_n(call.marks, n, 0);
  dorm2r_("L", "T", &n, &kIncrement, &n, w.factors, &n, w.tau, call.b, &n, scratch, &info, 1, 1);
  if (rank >= n) *result = 0;
  for (lapack_int k = rank; k < n; ++k) {
    call.marks[k] = 1;
    call.b[k] = 0.0;
  }
  if (rank == 0) return; // every variable marked, the solution all zeros
  dtrsm_("L", "U", "N", "N", &rank, &kIncrement, &kOne, w.factors, &n, call.b, &n, 1, 1, 1, 1);
  if (rank < n) {
    const lapack_int rows = n - rank + 1;
    for (lapack_int i = 0; i < rank; ++i) {
      dlatzm_("L", &rows, &kIncrement, w.factors + static_cast<std::size_t>(i) + size * rank, &n,
              w.tauZ + i, call.b + i, call.b + rank, &n, scratch, 1);
    }
  }
  undoColumnPermutation(call);
}

// Reports solution components that are not finite; each rejects the
// solution unless optionArray[2] says otherwise.
void checkSolution(const SolveCall &call, int *result) {
  for (lapack_int i = 0; i < call.n; ++i) {
    if (!notFinite(call.b[i])) continue;
    if (call.names != nullptr) {
      const char *name = call.names[i] != nullptr ? call.names[i] : "";
      report("In system %d %.140s%s = %e", call.systemNumber, name,
             strnlen(name, 141) > 140 ? "..." : "", call.b[i]);
    } else {
      report("Solution component %d of system %d is %e", i + 1, call.systemNumber, call.b[i]);
    }
    if (!call.keepResult) *result = 2;
  }
}

// Residual check of a rank-deficient solution y (in b), or of any solution of
// the second pass.  Returns false when a second pass with the rank forced to
// the number of independent columns is to run (b then holds the right-hand
// side again and the state is 0); the second pass never asks for a third.  A
// residual that is not a number fails the check.
bool checkResidual(SolveCall &call, lapack_int rank, int *result) {
  const lapack_int n = call.n;
  const double *saved = call.work.largest;
  double *residual = call.work.smallest;
  double rtol = call.tol;
  if (call.residualScale != nullptr && *call.residualScale >= 0.0) {
    double sumB = 0.0;
    double sumX0 = 0.0;
    for (lapack_int i = 0; i < n; ++i) {
      sumB += std::fabs(saved[i]);
      if (call.x0 != nullptr) sumX0 += std::fabs(call.x0[i]);
    }
    rtol =
        std::max(call.tol, std::min(1.0, sumB / (sumX0 + call.tol)) * *call.residualScale * 0.001);
  }
  dcopy_(&n, saved, &kIncrement, residual, &kIncrement);
  if (call.x0 != nullptr) {
    dgemv_("N", &n, &n, &kMinusOne, call.A, &call.lda, call.x0, &kIncrement, &kOne, residual,
           &kIncrement, 1);
  }
  dgemv_("N", &n, &n, &kMinusOne, call.A, &call.lda, call.b, &kIncrement, &kOne, residual,
         &kIncrement, 1);

  for (lapack_int i = 0; i < n; ++i) {
    if (std::fabs(residual[i]) <= (std::fabs(saved[i]) + 1.0) * rtol * 0.5) continue;
    if (rank < call.independentColumns && !call.rankForced) {
      std::copy_n(saved, n, call.b);
      *call.state = 0;
      call.rankForced = true;
      return false;
    }
    report("Residual component %d of system %d is %e", i + 1, call.systemNumber, residual[i]);
    if (!call.keepResult) *result = 2;
  }
  if (call.x0 != nullptr) {
    for (lapack_int i = 0; i < n; ++i) call.b[i] += call.x0[i];
  }
  return true;
}

// Solves with the valid factors.  Returns false when the residual check asks
// for a second pass.
bool solveWithFactors(SolveCall &call, int *result) {
  const lapack_int n = call.n;
  WorkLayout &w = call.work;
  const int state = *call.state;
  const bool qr = (state & kFactorBits) == kQrValid;
  const lapack_int rank = call.iwork[n];
  // A rank-deficient solution must pass the residual check, and so must the
  // one of the second pass: a rank forced up to n solves an inconsistent
  // system as if it were regular.
  const bool residualCheck = qr && (rank < n || call.rankForced);
  if (residualCheck) {
    std::copy_n(call.b, n, w.largest);
    if (call.x0 != nullptr) {
      dgemv_("N", &n, &n, &kMinusOne, call.A, &call.lda, call.x0, &kIncrement, &kOne, call.b,
             &kIncrement, 1);
    }
  }
  if ((state & kRowsScaled) != 0) {
    for (lapack_int i = 0; i < n; ++i) call.b[i] *= w.rowScale[i];
  }
  if (qr) {
    solveWithQr(call, rank, result);
  } else {
    lapack_int info = 0;
    dgetrs_("N", &n, &kIncrement, w.factors, &n, call.iwork, call.b, &n, &info, 1);
  }
  if ((state & kColumnsScaled) != 0) {
    for (lapack_int i = 0; i < n; ++i) call.b[i] *= w.columnScale[i];
  }
  if (residualCheck) return checkResidual(call, rank, result);
  checkSolution(call, result);
  return true;
}

// ---- diagnostics -----------------------------------------------------------

// Fixed-length texts whose length is the whole literal.
template <std::size_t N> void printFixed(const char (&text)[N]) {
  kernelPrintFixed(1, text, static_cast<int>(N - 1));
}
template <std::size_t N> void printReal(const char (&text)[N], double value) {
  kernelPrintReal(1, text, &value, static_cast<int>(N - 1));
}

void printDiagnostics(int result, int systemNumber, lapack_int n, const double *x, const int *marks,
                      double time, const char *const *names, const char *systemName) {
  if (result == 1) {
    printReal("... System of equations is singular at Time = ", time);
  } else {
    printReal("LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = ", time);
  }
  if (systemName != nullptr) {
    char line[100];
    snprintfC(line, sizeof line, "...    Linear system of equations: %.50s", systemName);
    kernelPrintText(1, line);
  } else {
    static const char numberText[] = "...    Linear system of equations number = ";
    kernelPrintInt(1, numberText, &systemNumber, static_cast<int>(sizeof numberText - 1));
  }
  if (names != nullptr) {
    printFixed("... Variables which cannot be uniquely computed:");
    for (lapack_int i = 0; i < n; ++i) {
      if (marks[i] != 1) continue;
      const char *name = names[i] != nullptr ? names[i] : "";
      char text[160];
      int length =
          snprintfC(text, sizeof text, "%.140s%s = ", name, strnlen(name, 141) > 140 ? "..." : "");
      kernelPrintReal(1, text, &x[i], length);
    }
  } else {
    printFixed("...    Variables X(i) which cannot be uniquely computed:");
    static const char indexText[] = "...     ";
    for (lapack_int i = 0; i < n; ++i) {
      if (marks[i] != 1) continue;
      const int index = i + 1;
      logFixedInt(indexText, &index, static_cast<int>(sizeof indexText - 1));
    }
  }
  if (result == 1) {
    printFixed("... Simulation continues with minimum norm solution.");
  } else {
    printFixed("... NOT ACCEPTING SINCE TOO LARGE RESDIUAL");
  }
}

} // namespace

// LAPACK's and BLAS's argument-error handler, replaced: the report goes to the
// runtime's log in LAPACK's wording and the routine returns with its negative
// INFO instead of stopping the process.
extern "C" void xerbla_(const char *srname, const lapack_int *info, std::size_t srnameLength) {
  std::size_t length = srname != nullptr ? srnameLength : 0;
  while (length > 0 && srname[length - 1] == ' ') --length;
  char line[160];
  snprintfC(line, sizeof line, " ** On entry to %.*s parameter number %2d had an illegal value",
            static_cast<int>(std::min<std::size_t>(length, 64)), srname != nullptr ? srname : "",
            info != nullptr ? *info : 0);
  logText(line);
}

void denseLinearSolve(const int *options, const double *A, const int *lda, const int *n, double *b,
                      const double *startVector, const double *tol, int *iwork, double *work,
                      int *marks, int *solverState, int *result, const int *systemNumber,
                      const char *const *variableNames, const int *optionArray,
                      const double *residualScale) {
  *result = 0;
  const lapack_int order = *n;
  const int number = systemNumber != nullptr ? *systemNumber : 0;
  if (order == 0) return;
  if (order < 0 || *lda < std::max(1, order)) {
    report("Order %d or leading dimension %d of system %d is invalid", order, *lda, number);
    if (order > 0) std::fill_n(marks, order, 0);
    *result = 2;
    return;
  }

  SolveCall call{order,
                 A,
                 *lda,
                 b,
                 startVector,
                 *tol,
                 options != nullptr ? *options : 0,
                 number,
                 variableNames,
                 optionArray != nullptr && optionArray[2] != 0,
                 residualScale,
                 iwork,
                 marks,
                 solverState,
                 WorkLayout(work, static_cast<std::size_t>(order))};
  for (;;) {
    *result = 0;
    for (lapack_int i = 0; i < order; ++i) {
      if (notFinite(b[i])) report("Rhs component %d of system %d is %e", i + 1, number, b[i]);
    }
    const int factors = *solverState & kFactorBits;
    if (factors != kLuValid && factors != kQrValid) factorise(call);
    if (solveWithFactors(call, result)) return;
  }
}

void solveLinearSystemEx(int *systemNumber, const int *options, const double *A, const int *lda,
                         const int *n, double *b, const double *startVector, const double *time,
                         const int *printLevel, const int *printFlags, double *work, int *iwork,
                         int *solverState, const char *const *variableNames, int *failed,
                         const int *optionArray, const double *residualScale,
                         const char *systemName) {
  *failed = 0;
  const double tol =
      optionArray != nullptr && optionArray[0] != 0 ? kLooseTolerance : kDefaultTolerance;
  const int order = *n;
  int *marks = order > 0 ? iwork + order + 1 : nullptr;
  int result = 0;
  denseLinearSolve(options, A, lda, n, b, startVector, &tol, iwork, work, marks, solverState,
                   &result, systemNumber, variableNames, optionArray, residualScale);
  if (result == 2) *failed = 1;
  const bool printMinimumNorm = result == 1 && printLevel != nullptr && *printLevel == 1 &&
                                printFlags != nullptr && (*printFlags & 0x1000) != 0;
  if (result == 2 || printMinimumNorm) {
    printDiagnostics(result, systemNumber != nullptr ? *systemNumber : 0, order, b, marks,
                     time != nullptr ? *time : 0.0, variableNames, systemName);
  }
}

void solveLinearSystem(int *systemNumber, const int *options, const double *A, const int *lda,
                       const int *n, double *b, const double *time, const int *printLevel,
                       const int *printFlags, double *work, int *iwork, int *solverState,
                       int *failed) {
  solveLinearSystemEx(systemNumber, options, A, lda, n, b, nullptr, time, printLevel, printFlags,
                      work, iwork, solverState, nullptr, failed, nullptr, nullptr, nullptr);
}
