#pragma once
// Dense linear solver with singular-system diagnostics.
//
// Solves A x = b of order n for generated model code and the array library's
// matrix inverse.  An LU factorisation with a condition test comes first; a
// system that is singular or too badly conditioned (reciprocal condition
// number at most tol) is solved by a QR factorisation with column pivoting and
// a rank decision instead, which gives the minimum-norm solution and marks the
// variables that cannot be uniquely computed; a rank-deficient answer must
// pass a residual check.  Not the tool to decide whether a matrix is
// invertible: the rank decision is relative to tol, not exact.
//
// The factors live in the caller's arrays, with a state word, so that further
// right-hand sides of the same matrix reuse them:
//   work        doubles, at least n*(n+6)
//   iwork       ints, 2n+1: pivots or column permutation (1..n), the rank of
//               the QR factors (n+1), the marks (n+2..2n+1; 1: the variable
//               cannot be uniquely computed)
//   solverState 0 for a new matrix; bits 0-1: 1 LU factors valid, 2 QR factors
//               valid; 0x100 rows scaled, 0x200 columns scaled
// Calling order: set *solverState to 0 for a new matrix, then call once per
// right-hand side with the same work, iwork and solverState.
//
// options: 1 skip the LU attempt (QR for every system); 2 equilibrate rows and
// columns first.  A is column-major with leading dimension *lda and is never
// changed; b holds the right-hand side on entry and the solution on return.
// A system of order 0 returns at once.
//
// Results of denseLinearSolve: 0 solved; 1 minimum-norm solution of a
// rank-deficient system accepted; 2 solution not accepted (a non-finite
// solution component or a too large residual, unless optionArray[2] is
// non-zero; or an order below 0 or a leading dimension below the order).
//
// The solver keeps no state of its own and never raises; its reports go
// through logText, the diagnostics of solveLinearSystemEx through the kernel
// printing functions.  Callable from C and C++.

#ifdef __cplusplus
extern "C" {
#endif

// solveLinearSystemEx without start vector, variable names, option array,
// residual scale and system name.
void solveLinearSystem(int *systemNumber, const int *options, const double *A, const int *lda,
                       const int *n, double *b, const double *time, const int *printLevel,
                       const int *printFlags, double *work, int *iwork, int *solverState,
                       int *failed);

// Solves with the tolerance 2.220446049250313e-9 (2.220446049250313e-5 when
// optionArray[0] is non-zero) and prints the singular-system diagnostics when
// the solution is not accepted, or when a minimum-norm solution is accepted,
// *printLevel is 1 and *printFlags has bit 0x1000.  *failed is 1 exactly when
// the solution was not accepted, else 0.
//   startVector   null or n values x0: a rank-deficient system is solved for
//                 the minimum-norm correction of x0
//   variableNames null or n names used in the reports
//   optionArray   null or at least three words: [0] the larger tolerance,
//                 [2] failed checks are reported but do not reject the solution
//   residualScale null or one value d; d >= 0 widens the residual tolerance
//   systemName    null or the name of the system in the diagnostics
void solveLinearSystemEx(int *systemNumber, const int *options, const double *A, const int *lda,
                         const int *n, double *b, const double *startVector, const double *time,
                         const int *printLevel, const int *printFlags, double *work, int *iwork,
                         int *solverState, const char *const *variableNames, int *failed,
                         const int *optionArray, const double *residualScale,
                         const char *systemName);

// The core solve with the caller's tolerance; marks is normally iwork + n + 1.
// *result receives 0, 1 or 2 as above.
void denseLinearSolve(const int *options, const double *A, const int *lda, const int *n, double *b,
                      const double *startVector, const double *tol, int *iwork, double *work,
                      int *marks, int *solverState, int *result, const int *systemNumber,
                      const char *const *variableNames, const int *optionArray,
                      const double *residualScale);

#ifdef __cplusplus
}
#endif
