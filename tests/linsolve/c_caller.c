/* Generated C model code calls the solver through the runtime's C interface. */
#include "source/linsolve.h"

#include <stddef.h>

int solveFromC(double x[2], int *solverState);

/* Solves [4 1; 2 3] x = x (right-hand side in, solution out) with the solver's
   work arrays kept here, as generated code keeps them; returns failed. */
int solveFromC(double x[2], int *solverState) {
  static const double A[4] = {4.0, 2.0, 1.0, 3.0};
  static double work[2 * (2 + 6)];
  static int iwork[2 * 2 + 1];
  int systemNumber = 1;
  const int options = 0;
  const int lda = 2;
  const int n = 2;
  const double time = 0.0;
  const int printLevel = 0;
  const int printFlags = 0;
  int failed = -1;
  solveLinearSystem(&systemNumber, &options, A, &lda, &n, x, &time, &printLevel, &printFlags, work,
                    iwork, solverState, &failed);
  return failed;
}
