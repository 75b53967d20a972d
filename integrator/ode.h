// The ODE integrator: a variable-order, variable-step multistep method
// (Adams for non-stiff, BDF for stiff problems; functional or Newton
// iteration) with root finding on user functions, a step-stop callback,
// serial vectors and a dense direct linear solver.
//
// This is the whole surface that other subsystems use.  Everything works on
// plain records through plain functions; the user callbacks, the vector
// operations and the linear solver's operations are function pointers.
// The integrator's own record and vectors live on the standard heap.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Vectors
// ---------------------------------------------------------------------------

struct OdeVectorOps;

// A vector handle: the implementation's content and its private copy of the
// operations table.
struct OdeVectorRecord {
  void *content;     // OdeVectorSerialContent for serial vectors
  OdeVectorOps *ops; // the vector's own table (heap copy)
};
using OdeVector = OdeVectorRecord *;

// Content of a serial vector.
struct OdeVectorSerialContent {
  std::int32_t length;   // element count
  std::int32_t ownsData; // 1: the vector allocated data and releases it
  double *data;          // length doubles; NULL when length <= 0
};

// The 25 vector operations, in slot order.  z is the output vector and may
// be one of the inputs.
struct OdeVectorOps {
  OdeVector (*duplicate)(OdeVector w);                                        // 0
  OdeVector (*duplicateEmpty)(OdeVector w);                                   // 1
  void (*dispose)(OdeVector v);                                               // 2
  void (*storageSize)(OdeVector v, long *realWords, long *integerWords);      // 3
  double *(*getData)(OdeVector v);                                            // 4
  void (*setData)(double *data, OdeVector v);                                 // 5
  void (*combine)(double a, OdeVector x, double b, OdeVector y, OdeVector z); // 6
  void (*fill)(double c, OdeVector z);                                        // 7
  void (*multiply)(OdeVector x, OdeVector y, OdeVector z);                    // 8
  void (*divide)(OdeVector x, OdeVector y, OdeVector z);                      // 9
  void (*mulScalar)(double c, OdeVector x, OdeVector z);                      // 10
  void (*absolute)(OdeVector x, OdeVector z);                                 // 11
  void (*reciprocal)(OdeVector x, OdeVector z);                               // 12
  void (*addScalar)(OdeVector x, double b, OdeVector z);                      // 13
  double (*innerProduct)(OdeVector x, OdeVector y);                           // 14
  double (*maxAbs)(OdeVector x);                                              // 15
  double (*weightedRms)(OdeVector x, OdeVector w);                            // 16
  double (*weightedRmsMasked)(OdeVector x, OdeVector w, OdeVector id);        // 17
  double (*minElement)(OdeVector x);                                          // 18
  double (*weightedL2)(OdeVector x, OdeVector w);                             // 19
  double (*absSum)(OdeVector x);                                              // 20
  void (*threshold)(double c, OdeVector x, OdeVector z);                      // 21
  int (*reciprocalChecked)(OdeVector x, OdeVector z);                         // 22
  int (*constraintMask)(OdeVector c, OdeVector x, OdeVector m);               // 23
  double (*smallestQuotient)(OdeVector num, OdeVector denom);                 // 24
};

// Serial vectors.  Constructors give NULL when an allocation fails.
// New: owns an uninitialised array of length doubles (none for length <= 0).
OdeVector OdeVecNew_Serial(int length);
// Make: uses the caller's array, which the caller keeps owning.
OdeVector OdeVecMake_Serial(int length, double *data);
// NewEmpty: no array at all (data NULL).
OdeVector OdeVecNewEmpty_Serial(int length);
void OdeVecDispose_Serial(OdeVector v);

// Generic entry points: look the operation up in the vector's table (the
// output vector's for operations with one, else the first argument's).
OdeVector OdeVecDuplicate(OdeVector w);
OdeVector OdeVecDuplicateEmpty(OdeVector w);
void OdeVecDispose(OdeVector v); // nothing for NULL
void OdeVecStorageSize(OdeVector v, long *realWords, long *integerWords);
double *OdeVecGetData(OdeVector v);
void OdeVecSetData(double *data, OdeVector v);
void OdeVecCombine(double a, OdeVector x, double b, OdeVector y, OdeVector z);
void OdeVecFill(double c, OdeVector z);
void OdeVecMultiply(OdeVector x, OdeVector y, OdeVector z);
void OdeVecDivide(OdeVector x, OdeVector y, OdeVector z);
void OdeVecMulScalar(double c, OdeVector x, OdeVector z);
void OdeVecAbsolute(OdeVector x, OdeVector z);
void OdeVecReciprocal(OdeVector x, OdeVector z);
void OdeVecAddScalar(OdeVector x, double b, OdeVector z);
double OdeVecInnerProduct(OdeVector x, OdeVector y);
double OdeVecMaxAbs(OdeVector x);
double OdeVecWeightedRms(OdeVector x, OdeVector w);
double OdeVecWeightedRmsMasked(OdeVector x, OdeVector w, OdeVector id);
double OdeVecMinElement(OdeVector x);
double OdeVecWeightedL2(OdeVector x, OdeVector w);
double OdeVecAbsSum(OdeVector x);
void OdeVecThreshold(double c, OdeVector x, OdeVector z);
int OdeVecReciprocalChecked(OdeVector x, OdeVector z);
int OdeVecConstraintMask(OdeVector c, OdeVector x, OdeVector m);
double OdeVecSmallestQuotient(OdeVector num, OdeVector denom);

// ---------------------------------------------------------------------------
// Dense matrices
// ---------------------------------------------------------------------------

// Column-major m x n matrix; element (i, j) is colPtrs[j][i].
struct DenseMatrix {
  std::int32_t type; // 1 = dense
  std::int32_t numRows;
  std::int32_t numCols;
  std::int32_t leadingDim;           // equals numRows
  std::int32_t upperBandwidth;       // band matrices only; unset here
  std::int32_t lowerBandwidth;       // band matrices only; unset here
  std::int32_t storedUpperBandwidth; // band matrices only; unset here
  double *data;                      // numRows*numCols doubles, column by column
  std::int32_t dataLength;           // numRows*numCols
  double **colPtrs;                  // numCols pointers into data
};
using DensePivots = std::int32_t *;

DenseMatrix *DenseCreate(int m, int n); // NULL for m <= 0, n <= 0 or no memory
void DenseFree(DenseMatrix *A);
DensePivots DensePivotsCreate(int n); // NULL for n <= 0 or no memory
void DensePivotsFree(DensePivots p);
void DenseClear(DenseMatrix *A);
void DensePlusIdentity(DenseMatrix *A);
void DenseCopyInto(const DenseMatrix *A, DenseMatrix *B);
void DenseScaleBy(double c, DenseMatrix *A);
// LU with partial pivoting in place; 0, or the 1-based column of the first
// zero pivot.  Not a test of invertibility: a tiny pivot passes.
int DenseFactorLU(DenseMatrix *A, DensePivots p);
void DenseSolveLU(const DenseMatrix *A, const DensePivots p, double *b);

// The column kernels behind the dense operations: a[j] points to column j
// (rows 0 .. m-1).  colsFactorLU factors in place with partial pivoting
// (result 0, or the 1-based index of the first zero pivot); colsSolveLU
// solves with those factors in place of b.
void colsCopy(double *const *a, double *const *b, int m, int n);
void colsScale(double c, double *const *a, int m, int n);
int colsFactorLU(double *const *a, int m, int n, std::int32_t *p);
void colsSolveLU(const double *const *a, int n, const std::int32_t *p, double *b);

// Small math functions shared with the FMI layer.
double odeAbs(double x);
double odeIntPower(double base, int exponent);
double odeRealPower(double base, double exponent); // 0 for base <= 0
double odeSafeSqrt(double x);                      // 0 for x <= 0

// ---------------------------------------------------------------------------
// The integrator
// ---------------------------------------------------------------------------

struct OdeMemory; // opaque: created by OdeCreate, released by OdeDestroy

// Methods, iterations and modes of OdeSolve.
constexpr int ODE_ADAMS = 1;
constexpr int ODE_BDF = 2;
constexpr int ODE_FUNCTIONAL = 1;
constexpr int ODE_NEWTON = 2;
constexpr int ODE_NORMAL = 1;   // integrate to tout and interpolate there
constexpr int ODE_ONE_STEP = 2; // return after one internal step

// Code handed to the error handler for warnings (never returned).
constexpr int ODE_WARNING = 99;

// Return flags.
constexpr int ODE_SUCCESS = 0;
constexpr int ODE_TSTOP_RETURN = 1;
constexpr int ODE_ROOT_RETURN = 2;
constexpr int ODE_TOO_MUCH_WORK = -1;
constexpr int ODE_TOO_MUCH_ACC = -2;
constexpr int ODE_ERR_FAILURE = -3;
constexpr int ODE_CONV_FAILURE = -4;
constexpr int ODE_LINIT_FAIL = -5;
constexpr int ODE_LSETUP_FAIL = -6;
constexpr int ODE_LSOLVE_FAIL = -7;
constexpr int ODE_RHSFUNC_FAIL = -8;
constexpr int ODE_FIRST_RHSFUNC_ERR = -9;
constexpr int ODE_REPTD_RHSFUNC_ERR = -10;
constexpr int ODE_UNREC_RHSFUNC_ERR = -11;
constexpr int ODE_RTFUNC_FAIL = -12;
constexpr int ODE_MEM_FAIL = -20;
constexpr int ODE_MEM_NULL = -21;
constexpr int ODE_ILL_INPUT = -22;
constexpr int ODE_NO_MALLOC = -23;
constexpr int ODE_BAD_K = -24;
constexpr int ODE_BAD_T = -25;
constexpr int ODE_BAD_DKY = -26;
constexpr int ODE_TOO_CLOSE = -27;

// Results of the dense linear solver's own entry points.
constexpr int ODEDLS_SUCCESS = 0;
constexpr int ODEDLS_MEM_NULL = -1;
constexpr int ODEDLS_LMEM_NULL = -2;
constexpr int ODEDLS_ILL_INPUT = -3;
constexpr int ODEDLS_MEM_FAIL = -4;
constexpr int ODEDLS_JACFUNC_UNRECVR = -5;
constexpr int ODEDLS_JACFUNC_RECVR = -6;

// User callbacks; all receive the user data of OdeSetUserData.
// Right-hand side: ydot := f(t, y); 0 ok, > 0 recoverable, < 0 fatal.
using OdeRhsFunction = int (*)(double t, OdeVector y, OdeVector ydot, void *userData);
// Root functions: gout[0..numRoots-1] := g(t, y); non-zero is a failure.
using OdeRootFunction = int (*)(double t, OdeVector y, double *gout, void *userData);
// Asked after every successful internal step; non-zero stops OdeSolve.
using OdeStepRootFunction = int (*)(void *userData);
// Error weights for y (all positive); 0 ok, non-zero failure.
using OdeEwtSetFunction = int (*)(OdeVector y, OdeVector ewt, void *userData);
// One report: errorCode 99 is a warning, negative codes are flags.
using OdeErrorHandler = void (*)(int errorCode, const char *module, const char *function,
                                 const char *message, void *handlerData);
// Dense Jacobian df/dy at (t, y) with fy = f(t, y) into jac (zeroed before
// the call); 0 ok, > 0 recoverable, < 0 fatal.
using OdeDenseJacobianFunction = int (*)(long n, double t, OdeVector y, OdeVector fy,
                                         DenseMatrix *jac, void *jacData, OdeVector tmp1,
                                         OdeVector tmp2, OdeVector tmp3);

// Reports that no handler of a record takes: those made without integrator
// memory, and those of the default handler while its stream is standard
// error.  They are written to standard error, unless a process-wide report
// function is set: a library that must not write to the process's streams
// sets one, once, before its first integrator call; null restores the
// default.  errorCode 99 is a warning, negative codes are flags.
using OdeReportFunction = void (*)(int errorCode, const char *module, const char *function,
                                   const char *message);
void OdeSetReportFn(OdeReportFunction report);

// Creation, initialisation, destruction.
[[nodiscard]] OdeMemory *OdeCreate(int lmm, int iter); // NULL on failure
[[nodiscard]] int OdeInit(OdeMemory *ode_mem, OdeRhsFunction f, double t0, OdeVector y0);
[[nodiscard]] int OdeReInit(OdeMemory *ode_mem, double t0, OdeVector y0);
[[nodiscard]] int OdeWFtolerances(OdeMemory *ode_mem, OdeEwtSetFunction ewtFn);
[[nodiscard]] int OdeRootInit(OdeMemory *ode_mem, int numRoots, OdeRootFunction g);
[[nodiscard]] int OdeStepRootInit(OdeMemory *ode_mem, OdeStepRootFunction stepRootFn);
[[nodiscard]] int OdeSetErrHandlerFn(OdeMemory *ode_mem, OdeErrorHandler handler,
                                     void *handlerData);
// Releases everything the integrator allocated and sets *ode_mem to NULL.
void OdeDestroy(OdeMemory **ode_mem);
// Hooks of a sparse direct solver (none is attached in this system).
[[nodiscard]] int OdeReInitSparse(OdeMemory *ode_mem);
[[nodiscard]] int OdeFreeSparseGlobalData(OdeMemory *ode_mem);

// Optional inputs.
[[nodiscard]] int OdeSetUserData(OdeMemory *ode_mem, void *userData);
[[nodiscard]] int OdeSetMaxNumSteps(OdeMemory *ode_mem, int mxsteps); // 0: 500; < 0: no limit
[[nodiscard]] int OdeSetMaxNonlinIters(OdeMemory *ode_mem, int maxcor);
[[nodiscard]] int OdeSetMaxErrTestFails(OdeMemory *ode_mem, int maxnef);
[[nodiscard]] int OdeSetNonlinConvCoef(OdeMemory *ode_mem, double nlscoef);
[[nodiscard]] int OdeSetInitStep(OdeMemory *ode_mem, double hin); // 0: estimate
// Stop time: no step of OdeSolve passes tstop; a call that reaches it before
// tout returns ODE_TSTOP_RETURN there.  It stays in force, also across
// OdeReInit, until OdeClearStopTime.
[[nodiscard]] int OdeSetStopTime(OdeMemory *ode_mem, double tstop);
[[nodiscard]] int OdeClearStopTime(OdeMemory *ode_mem);

// Optional outputs.
[[nodiscard]] int OdeGetCurrentStep(OdeMemory *ode_mem, double *hcur);
[[nodiscard]] int OdeGetErrWeights(OdeMemory *ode_mem, OdeVector eweight);
[[nodiscard]] int OdeGetNumSteps(OdeMemory *ode_mem, int *nsteps);
[[nodiscard]] int OdeGetNumRhsEvals(OdeMemory *ode_mem, int *nfevals);
[[nodiscard]] int OdeGetNumNonlinSolvIters(OdeMemory *ode_mem, int *nniters);
[[nodiscard]] int OdeGetNumNonlinSolvConvFails(OdeMemory *ode_mem, int *nncfails);
[[nodiscard]] int OdeGetNumGEvals(OdeMemory *ode_mem, int *ngevals);
[[nodiscard]] int OdeGetTolScaleFactor(OdeMemory *ode_mem, double *tolsfac);

// The flag's name in a new 24-byte buffer ("NONE" for unknown values); the
// caller releases it with free().
[[nodiscard]] char *OdeFlagText(int flag);

// Integration and interpolation.  OdeSolve refuses a tout that is no finite
// number (ODE_ILL_INPUT).  A root is returned once (ODE_ROOT_RETURN with
// rootInfo its direction); a call again with the same tout goes on from it,
// also when the root lies exactly at tout.
[[nodiscard]] int OdeSolve(OdeMemory *ode_mem, double tout, OdeVector yout, double *tret,
                           int itask);
[[nodiscard]] int OdeGetDky(OdeMemory *ode_mem, double t, int k, OdeVector dky);

// The dense direct linear solver (Newton iteration); attach after OdeInit.
[[nodiscard]] int OdeDense(OdeMemory *ode_mem, long n);
// NULL returns to difference-quotient Jacobians.
[[nodiscard]] int OdeDlsSetDenseJacFn(OdeMemory *ode_mem, OdeDenseJacobianFunction jac);
[[nodiscard]] int OdeDlsGetNumJacEvals(OdeMemory *ode_mem, int *njevals);
