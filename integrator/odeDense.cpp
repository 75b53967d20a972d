// The dense direct linear solver of the Newton iteration and the dense
// matrices it works on.
//
// The solver keeps the last Jacobian and re-evaluates it only when it is old
// (50 steps), after a convergence failure, or at the first step; each set-up
// builds M = I - gamma*J from the saved Jacobian and factors it.  A singular
// M is not an error: the step is retried smaller.
#include <cmath>
#include <cstdlib>

#include "integrator/ode_impl.h"

// ---------------------------------------------------------------------------
// Dense matrices
// ---------------------------------------------------------------------------

DenseMatrix *DenseCreate(int m, int n) {
  if (m <= 0 || n <= 0) {
    return nullptr;
  }
  auto *A = static_cast<DenseMatrix *>(odeAllocZeroed(sizeof(DenseMatrix)));
  if (A == nullptr) {
    return nullptr;
  }
  size_t count = static_cast<size_t>(m) * static_cast<size_t>(n);
  A->data = static_cast<double *>(odeAlloc(sizeof(double) * count));
  A->colPtrs = static_cast<double **>(odeAlloc(sizeof(double *) * static_cast<size_t>(n)));
  if (A->data == nullptr || A->colPtrs == nullptr) {
    DenseFree(A);
    return nullptr;
  }
  for (int j = 0; j < n; ++j) {
    A->colPtrs[j] = A->data + static_cast<size_t>(j) * static_cast<size_t>(m);
  }
  A->type = 1;
  A->numRows = m;
  A->numCols = n;
  A->leadingDim = m;
  A->dataLength = m * n;
  return A;
}

void DenseFree(DenseMatrix *A) {
  if (A == nullptr) {
    return;
  }
  std::free(A->data);
  std::free(A->colPtrs);
  std::free(A);
}

DensePivots DensePivotsCreate(int n) {
  if (n <= 0) {
    return nullptr;
  }
  return static_cast<DensePivots>(odeAlloc(sizeof(std::int32_t) * static_cast<size_t>(n)));
}

void DensePivotsFree(DensePivots p) { std::free(p); }

// ---------------------------------------------------------------------------
// Column kernels: a[j] is column j, a[j][i] its row i.
// ---------------------------------------------------------------------------

void colsCopy(double *const *a, double *const *b, int m, int n) {
  for (int j = 0; j < n; ++j) {
    const double *from = a[j];
    double *to = b[j];
    for (int i = 0; i < m; ++i) to[i] = from[i];
  }
}

void colsScale(double c, double *const *a, int m, int n) {
  for (int j = 0; j < n; ++j) {
    double *col = a[j];
    for (int i = 0; i < m; ++i) col[i] = col[i] * c;
  }
}

int colsFactorLU(double *const *a, int m, int n, int32_t *p) {
  for (int k = 0; k < n; ++k) {
    double *colk = a[k];
    // The first largest entry wins, so ties keep the upper row.
    int l = k;
    for (int i = k + 1; i < m; ++i) {
      if (std::fabs(colk[i]) > std::fabs(colk[l])) l = i;
    }
    p[k] = l;
    if (colk[l] == 0.0) {
      return k + 1;
    }
    if (l != k) {
      for (int j = 0; j < n; ++j) {
        double t = a[j][l];
        a[j][l] = a[j][k];
        a[j][k] = t;
      }
    }
    double mult = 1.0 / colk[k];
    for (int i = k + 1; i < m; ++i) colk[i] = mult * colk[i];
    for (int j = k + 1; j < n; ++j) {
      double *colj = a[j];
      double ajk = colj[k];
      if (ajk != 0.0) {
        for (int i = k + 1; i < m; ++i) colj[i] = colj[i] - colk[i] * ajk;
      }
    }
  }
  return 0;
}

void colsSolveLU(const double *const *a, int n, const int32_t *p, double *b) {
  for (int k = 0; k < n; ++k) {
    int pk = p[k];
    if (pk != k) {
      double t = b[k];
      b[k] = b[pk];
      b[pk] = t;
    }
  }
  for (int k = 0; k < n - 1; ++k) {
    const double *colk = a[k];
    double bk = b[k];
    for (int i = k + 1; i < n; ++i) b[i] = b[i] - colk[i] * bk;
  }
  for (int k = n - 1; k > 0; --k) {
    const double *colk = a[k];
    b[k] = b[k] / colk[k];
    double bk = b[k];
    for (int i = 0; i < k; ++i) b[i] = b[i] - colk[i] * bk;
  }
  b[0] = b[0] / a[0][0];
}

// ---------------------------------------------------------------------------
// Dense matrix operations on the kernels
// ---------------------------------------------------------------------------

void DenseClear(DenseMatrix *A) {
  for (int j = 0; j < A->numCols; ++j) {
    double *col = A->colPtrs[j];
    for (int i = 0; i < A->numRows; ++i) col[i] = 0.0;
  }
}

// The diagonal of a non-square matrix ends at its shorter side.
void DensePlusIdentity(DenseMatrix *A) {
  int n = A->numCols < A->numRows ? A->numCols : A->numRows;
  for (int i = 0; i < n; ++i) A->colPtrs[i][i] += 1.0;
}

void DenseCopyInto(const DenseMatrix *A, DenseMatrix *B) {
  colsCopy(A->colPtrs, B->colPtrs, A->numRows, A->numCols);
}

void DenseScaleBy(double c, DenseMatrix *A) { colsScale(c, A->colPtrs, A->numRows, A->numCols); }

int DenseFactorLU(DenseMatrix *A, DensePivots p) {
  return colsFactorLU(A->colPtrs, A->numRows, A->numCols, p);
}

void DenseSolveLU(const DenseMatrix *A, const DensePivots p, double *b) {
  colsSolveLU(A->colPtrs, A->numCols, p, b);
}

// ---------------------------------------------------------------------------
// The linear solver operations
// ---------------------------------------------------------------------------

namespace {

OdeDenseSolverMemory *solverOf(OdeMemory *mem) {
  return static_cast<OdeDenseSolverMemory *>(mem->lsMemory);
}

// Difference quotients column by column; jacData is the integrator record.
int odeDenseDifferenceJac(long n, double t, OdeVector y, OdeVector fy, DenseMatrix *jac,
                          void *jacData, OdeVector /*tmp1*/, OdeVector tmp2, OdeVector /*tmp3*/) {
  auto *mem = static_cast<OdeMemory *>(jacData);
  OdeDenseSolverMemory *dls = solverOf(mem);
  double *tmp2Data = OdeVecGetData(tmp2);
  double *ewtData = OdeVecGetData(mem->ewt);
  double *yData = OdeVecGetData(y);
  double u = mem->unitRoundoff;
  double sqrtU = odeSafeSqrt(u);
  double fnorm = OdeVecWeightedRms(fy, mem->ewt);
  double minIncrement =
      fnorm != 0.0 ? (((std::fabs(mem->h) * 1000.0) * u) * static_cast<double>(n)) * fnorm : 1.0;

  int r = 0;
  for (long j = 0; j < n; ++j) {
    OdeVecSetData(jac->colPtrs[j], tmp2);
    double yj = yData[j];
    double inc = minIncrement / ewtData[j];
    double alt = sqrtU * std::fabs(yj);
    if (alt > inc) inc = alt;
    yData[j] = yj + inc;
    r = mem->f(t, y, tmp2, mem->userData);
    dls->numRhsEvalsDQ++;
    yData[j] = yj;
    if (r != 0) break;
    double incInv = 1.0 / inc;
    OdeVecCombine(incInv, tmp2, -incInv, fy, tmp2);
  }
  OdeVecSetData(tmp2Data, tmp2);
  return r;
}

int odeDenseStart(OdeMemory *mem) {
  OdeDenseSolverMemory *dls = solverOf(mem);
  dls->numJacEvals = 0;
  dls->numRhsEvalsDQ = 0;
  dls->stepsAtJac = 0;
  if (dls->useDifferenceQuotients) {
    dls->jac = odeDenseDifferenceJac;
    dls->jacData = mem;
  } else {
    dls->jacData = mem->userData;
  }
  dls->lastFlag = 0;
  return 0;
}

int odeDenseSetup(OdeMemory *mem, int convfail, OdeVector ypred, OdeVector fpred, int *jacCurrent,
                  OdeVector vtemp1, OdeVector vtemp2, OdeVector vtemp3) {
  OdeDenseSolverMemory *dls = solverOf(mem);
  double dgamma = std::fabs(mem->gamma / mem->gammaAtSetup - 1.0);
  bool jbad = mem->numSteps == 0 || mem->numSteps > dls->stepsAtJac + 50 ||
              (convfail == ODE_FAIL_BAD_J && dgamma < 0.2) || convfail == ODE_FAIL_OTHER;
  if (jbad) {
    dls->numJacEvals++;
    dls->stepsAtJac = mem->numSteps;
    *jacCurrent = 1;
    DenseClear(dls->iterMatrix);
    int r = dls->jac(dls->n, mem->tcur, ypred, fpred, dls->iterMatrix, dls->jacData, vtemp1, vtemp2,
                     vtemp3);
    if (r < 0) {
      odeReportError(mem, ODEDLS_JACFUNC_UNRECVR, "ODEDENSE", "odeDenseSetup",
                     "The Jacobian routine failed in an unrecoverable manner.");
      dls->lastFlag = ODEDLS_JACFUNC_UNRECVR;
      return -1;
    }
    if (r > 0) {
      dls->lastFlag = ODEDLS_JACFUNC_RECVR;
      return 1;
    }
    DenseCopyInto(dls->iterMatrix, dls->savedJac);
  } else {
    *jacCurrent = 0;
    DenseCopyInto(dls->savedJac, dls->iterMatrix);
  }
  DenseScaleBy(-mem->gamma, dls->iterMatrix);
  DensePlusIdentity(dls->iterMatrix);
  dls->lastFlag = DenseFactorLU(dls->iterMatrix, dls->pivots);
  return dls->lastFlag > 0 ? 1 : 0;
}

int odeDenseSolveStep(OdeMemory *mem, OdeVector b, OdeVector /*weight*/, OdeVector /*ycur*/,
                      OdeVector /*fcur*/) {
  OdeDenseSolverMemory *dls = solverOf(mem);
  DenseSolveLU(dls->iterMatrix, dls->pivots, OdeVecGetData(b));
  // BDF: account for gamma having moved since the matrix was built.
  if (mem->lmm == ODE_BDF && mem->gammaRatio != 1.0) {
    OdeVecMulScalar(2.0 / (1.0 + mem->gammaRatio), b, b);
  }
  dls->lastFlag = 0;
  return 0;
}

void releaseSolver(OdeDenseSolverMemory *dls) {
  if (dls == nullptr) return;
  DenseFree(dls->iterMatrix);
  DenseFree(dls->savedJac);
  DensePivotsFree(dls->pivots);
  std::free(dls);
}

void odeDenseRelease(OdeMemory *mem) {
  releaseSolver(solverOf(mem));
  mem->lsMemory = nullptr;
}

// ODEDLS_SUCCESS when the integrator record and its dense solver record are
// there; otherwise the code of the first one missing, reported.
int checkSolver(OdeMemory *mem, const char *function) {
  if (mem == nullptr) {
    odeReportError(nullptr, ODEDLS_MEM_NULL, "ODEDLS", function, "Integrator memory is NULL.");
    return ODEDLS_MEM_NULL;
  }
  if (mem->lsMemory == nullptr) {
    odeReportError(mem, ODEDLS_LMEM_NULL, "ODEDLS", function, "Linear solver memory is NULL.");
    return ODEDLS_LMEM_NULL;
  }
  return ODEDLS_SUCCESS;
}

} // namespace

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

int OdeDense(OdeMemory *mem, long n) {
  if (mem == nullptr) {
    odeReportError(nullptr, ODEDLS_MEM_NULL, "ODEDENSE", "OdeDense", "Integrator memory is NULL.");
    return ODEDLS_MEM_NULL;
  }
  // The solver works on the integrator's vectors through their data, so
  // OdeInit must have made them.
  if (mem->scratch == nullptr || mem->scratch->ops->getData == nullptr ||
      mem->scratch->ops->setData == nullptr) {
    odeReportError(mem, ODEDLS_ILL_INPUT, "ODEDENSE", "OdeDense",
                   "A required vector operation is not implemented.");
    return ODEDLS_ILL_INPUT;
  }
  // Nothing is installed until the record is complete, so a failure leaves
  // no operations pointing at a missing record.
  odeDetachLinearSolver(mem);

  auto *dls = static_cast<OdeDenseSolverMemory *>(odeAllocZeroed(sizeof(OdeDenseSolverMemory)));
  if (dls != nullptr) {
    dls->type = 1;
    dls->useDifferenceQuotients = 1;
    dls->jac = nullptr;
    dls->jacData = nullptr;
    dls->lastFlag = 0;
    dls->n = n;
    int dim = static_cast<int>(n);
    dls->iterMatrix = DenseCreate(dim, dim);
    dls->savedJac = dls->iterMatrix ? DenseCreate(dim, dim) : nullptr;
    dls->pivots = dls->savedJac ? DensePivotsCreate(dim) : nullptr;
  }
  if (dls == nullptr || dls->pivots == nullptr) {
    releaseSolver(dls);
    odeReportError(mem, ODEDLS_MEM_FAIL, "ODEDENSE", "OdeDense", "A memory request failed.");
    return ODEDLS_MEM_FAIL;
  }
  mem->lsInit = odeDenseStart;
  mem->lsSetup = odeDenseSetup;
  mem->lsSolve = odeDenseSolveStep;
  mem->lsFree = odeDenseRelease;
  mem->hasSetup = 1;
  mem->lsMemory = dls;
  return ODEDLS_SUCCESS;
}

int OdeDlsSetDenseJacFn(OdeMemory *mem, OdeDenseJacobianFunction jac) {
  const int check = checkSolver(mem, "OdeDlsSetDenseJacFn");
  if (check != ODEDLS_SUCCESS) return check;
  OdeDenseSolverMemory *dls = solverOf(mem);
  if (jac != nullptr) {
    dls->useDifferenceQuotients = 0;
    dls->jac = jac;
  } else {
    dls->useDifferenceQuotients = 1;
  }
  return ODEDLS_SUCCESS;
}

int OdeDlsGetNumJacEvals(OdeMemory *mem, int *njevals) {
  const int check = checkSolver(mem, "OdeDlsGetNumJacEvals");
  if (check != ODEDLS_SUCCESS) return check;
  *njevals = solverOf(mem)->numJacEvals;
  return ODEDLS_SUCCESS;
}
