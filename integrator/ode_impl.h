// The integrator's own record and the functions its source files share.
// Private to integrator/ (and its tests and benchmarks): other subsystems
// use integrator/ode.h only.
#pragma once

#include <cstddef>
#include <cstdio>

#include "integrator/ode.h"

constexpr int ODE_HISTORY_LENGTH = 13; // Nordsieck entries 0 .. 12
constexpr int ODE_ADAMS_MAX_ORDER = 12;
constexpr int ODE_BDF_MAX_ORDER = 5;

// Linear solver operations installed in the record by a linear solver.
using OdeLsInitFn = int (*)(OdeMemory *mem);
using OdeLsSetupFn = int (*)(OdeMemory *mem, int convfail, OdeVector ypred, OdeVector fpred,
                             int *jacCurrent, OdeVector vtemp1, OdeVector vtemp2, OdeVector vtemp3);
using OdeLsSolveFn = int (*)(OdeMemory *mem, OdeVector b, OdeVector weight, OdeVector ycur,
                             OdeVector fcur);
using OdeLsFreeFn = void (*)(OdeMemory *mem);
using OdeSparseHookFn = int (*)(OdeMemory *mem);

// convfail values handed to lsSetup.
constexpr int ODE_NO_FAILURES = 0; // first attempt or after an error-test failure
constexpr int ODE_FAIL_BAD_J = 1;  // convergence failure with stale Jacobian data
constexpr int ODE_FAIL_OTHER = 2;

struct OdeMemory {
  // Problem
  double unitRoundoff; // 2^-52
  OdeRhsFunction f;
  void *userData;
  int lmm;         // ODE_ADAMS or ODE_BDF
  int iter;        // ODE_FUNCTIONAL or ODE_NEWTON
  int tolKind;     // 0 none given, 3 user weight function
  int userWeights; // ewtFn is the user's and receives userData
  OdeEwtSetFunction ewtFn;
  void *ewtData; // handed to ewtFn; set at the first step

  // Vectors
  OdeVector history[ODE_HISTORY_LENGTH]; // Nordsieck array, scaled to hScale
  OdeVector ewt;                         // error weights
  OdeVector yout;                        // caller's output vector, also work space
  OdeVector correction;                  // accumulated correction; then the local error
  OdeVector scratch;
  OdeVector rhsScratch;

  // Step data
  int order;                                  // q
  int nextOrder;                              // order chosen for the next step
  int plannedOrder;                           // order reported for the next step
  int orderWait;                              // steps to wait before an order change
  int orderPlus1;                             // q + 1
  double h0;                                  // initial step given by the caller, 0 = estimate
  double h;                                   // current step
  double nextH;                               // step chosen for the next step
  double plannedH;                            // step to be tried next, as reported
  double stepRatio;                           // eta
  double hScale;                              // step to which history is scaled
  double tcur;                                // current internal time
  double tretLast;                            // last time returned
  double stepHistory[ODE_HISTORY_LENGTH + 1]; // tau[1..q+1], 1 the most recent
  double testQuantities[6];                   // tq[1..5]
  double polyCoeffs[ODE_HISTORY_LENGTH];      // l_0 .. l_q
  double invL1;                               // 1/l_1
  double gamma;                               // h*invL1
  double gammaAtSetup;                        // gamma at the last linear set-up
  double gammaRatio;                          // gamma/gammaAtSetup
  double convRate;                            // estimated corrector convergence rate
  double correctionNorm;                      // weighted norm of correction
  double nonlinConvCoef;                      // coefficient of the corrector convergence test
  int newtonIters;                            // iterations of the current Newton solve

  // Limits
  int maxOrder;
  int mxstep; // internal steps per OdeSolve call (< 0: none)
  int maxNonlinIters;
  int mxhnil; // number of t + h = t warnings
  int maxErrTestFails;
  int maxConvFails;
  double hmin;
  double invHmax;      // 1/hmax, 0 = no maximum
  double maxStepRatio; // largest eta allowed for the next step
  double tstop;        // stop time, in use while tstopSet is 1
  int tstopSet;        // 1: no step passes tstop

  // Counters
  int numSteps;
  int numRhsEvals;
  int numConvFails;
  int numErrTestFails;
  int numNonlinIters;
  int numSetups;
  int numTinyStepWarnings;
  double ratioLower; // candidate step ratios for orders q-1, q, q+1
  double ratioSame;
  double ratioHigher;

  // Linear solver
  OdeLsInitFn lsInit;
  OdeLsSetupFn lsSetup;
  OdeLsSolveFn lsSolve;
  OdeLsFreeFn lsFree;
  OdeSparseHookFn sparseReInit; // reserved for a sparse direct solver
  OdeSparseHookFn sparseFreeGlobalData;
  void *lsMemory; // the linear solver's own record

  // Saved values
  int lastOrder;    // order of the last successful step
  int stepsAtSetup; // numSteps at the last linear set-up
  double firstH;    // initial step actually used
  double hu;        // last successful step size
  double savedTq5;  // tq[5] saved for an order increase
  int jacCurrent;   // Jacobian data current
  double tolScaleFactor;
  int allocatedOrder;       // history entries 0 .. allocatedOrder exist
  int savedCorrectionIndex; // history entry that holds a saved correction
  int hasSetup;             // the linear solver has a set-up operation
  int initialized;          // set by OdeInit

  // Error output
  OdeErrorHandler errHandler;
  void *errHandlerData;
  std::FILE *errStream; // stream of the default handler

  // Root finding
  OdeRootFunction g;
  int numRoots;
  int *rootInfo;      // +1 rising, -1 falling, 0 none (after a root)
  int *rootDirection; // 0: both directions
  double tLow;
  double tHigh;
  double tRoot;
  double *gLow;
  double *gHigh;
  double *gRoot;
  double toutCopy; // tout of the current normal-mode call
  double rootTol;
  int itaskCopy;
  int rootFound;
  int numGEvals;
  int *rootActive; // 0: was exactly zero where the search started
  int maxZeroRootWarnings;

  OdeStepRootFunction stepRootFn;
};

// The dense linear solver's record (lsMemory).
struct OdeDenseSolverMemory {
  int type;                   // 1 = dense
  long n;                     // system dimension
  int useDifferenceQuotients; // 1: internal difference-quotient Jacobian
  OdeDenseJacobianFunction jac;
  void *jacData;
  DenseMatrix *iterMatrix; // M = I - gamma*J, then its LU factors
  DenseMatrix *savedJac;   // the last Jacobian
  DensePivots pivots;
  int stepsAtJac; // numSteps at the last Jacobian evaluation
  int numJacEvals;
  int numRhsEvalsDQ; // right-hand sides spent on difference quotients
  int lastFlag;
};

// Every allocation of the integrator goes through odeAlloc, which calls
// odeAllocHook (std::malloc unless a test installs one that fails on
// purpose); everything is released with std::free.
using OdeAllocFn = void *(*)(std::size_t size);
extern OdeAllocFn odeAllocHook;
void *odeAlloc(std::size_t size);
void *odeAllocZeroed(std::size_t size);

// One report through the record's error handler (without a record: the
// process-wide report function of OdeSetReportFn, else standard error).
// printf-style format, 256 characters at most.
void odeReportError(OdeMemory *mem, int code, const char *module, const char *function,
                    const char *format, ...) __attribute__((format(printf, 5, 6)));
void odeDefaultErrHandler(int errorCode, const char *module, const char *function,
                          const char *message, void *handlerData);

// Releases the attached linear solver, if any, and clears its operations and
// its memory pointer (odeMemory.cpp).
void odeDetachLinearSolver(OdeMemory *mem);

// k-th derivative of the interpolating polynomial at t into dky, without a
// report: ODE_SUCCESS, ODE_BAD_K or ODE_BAD_T (odeSolve.cpp).
int odeInterpolate(OdeMemory *mem, double t, int k, OdeVector dky);

// Bounds of a step (odeSolve.cpp).  odeStepTo: the longest step from t
// toward end that does not pass it (end - t, finite, shortened where t plus
// it rounds past end).  odeFiniteStep: h from tcur, or, when the time it
// reaches is no finite number, the step to tout (normal mode, tout ahead)
// or to the largest time there is.
double odeStepTo(double t, double end);
double odeFiniteStep(const OdeMemory *mem, double h, double tout, int itask);

// The step (odeStep.cpp).
int odeTakeStep(OdeMemory *mem);
// Root checks (odeRoots.cpp): results ODE_SUCCESS, ODE_RTFUNC_FAIL, and
// ODE_ROOT_FOUND or ODE_CLOSE_ROOTS.
constexpr int ODE_ROOT_FOUND = 1;
constexpr int ODE_CLOSE_ROOTS = 3;
int odeRcheck1(OdeMemory *mem);
int odeRcheck2(OdeMemory *mem);
int odeRcheck3(OdeMemory *mem);
