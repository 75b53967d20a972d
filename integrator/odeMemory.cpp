// The integrator record: creation, (re)initialisation, tolerances, root
// registration, optional inputs and outputs, flag names, destruction and
// error reporting.
//
// Every refused call reports once, through the record's error handler when
// there is a record and to standard error otherwise, and returns its flag.
// Text bound for standard error goes to the process-wide report function
// instead when one is set.
#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "integrator/ode_impl.h"
#include "source/clocale/clocale_io.h"

namespace {

constexpr int ODE_MSG_LENGTH = 256;

// Set once by the library that embeds the integrator; read by every report
// that would go to standard error.
std::atomic<OdeReportFunction> processReport{nullptr};

constexpr int requiredOpsOk(const OdeVectorOps *ops) {
  return ops->duplicate != nullptr && ops->dispose != nullptr && ops->combine != nullptr &&
         ops->fill != nullptr && ops->multiply != nullptr && ops->divide != nullptr &&
         ops->mulScalar != nullptr && ops->absolute != nullptr && ops->reciprocal != nullptr &&
         ops->addScalar != nullptr && ops->maxAbs != nullptr && ops->weightedRms != nullptr &&
         ops->minElement != nullptr;
}

void releaseVectors(OdeMemory *mem) {
  OdeVecDispose(mem->ewt);
  OdeVecDispose(mem->correction);
  OdeVecDispose(mem->scratch);
  OdeVecDispose(mem->rhsScratch);
  mem->ewt = mem->correction = mem->scratch = mem->rhsScratch = nullptr;
  for (int j = 0; j <= mem->allocatedOrder && j < ODE_HISTORY_LENGTH; ++j) {
    OdeVecDispose(mem->history[j]);
    mem->history[j] = nullptr;
  }
}

// Creates ewt, correction, scratch, rhsScratch and history[0..maxOrder] as
// duplicates of y0; on failure nothing stays allocated.
bool allocateVectors(OdeMemory *mem, OdeVector y0) {
  mem->ewt = OdeVecDuplicate(y0);
  mem->correction = mem->ewt ? OdeVecDuplicate(y0) : nullptr;
  mem->scratch = mem->correction ? OdeVecDuplicate(y0) : nullptr;
  mem->rhsScratch = mem->scratch ? OdeVecDuplicate(y0) : nullptr;
  bool ok = mem->rhsScratch != nullptr;
  for (int j = 0; ok && j <= mem->maxOrder; ++j) {
    mem->history[j] = OdeVecDuplicate(y0);
    ok = mem->history[j] != nullptr;
  }
  mem->allocatedOrder = mem->maxOrder;
  if (!ok) {
    releaseVectors(mem);
  }
  return ok;
}

void releaseRootArrays(OdeMemory *mem) {
  std::free(mem->gLow);
  std::free(mem->gHigh);
  std::free(mem->gRoot);
  std::free(mem->rootInfo);
  std::free(mem->rootDirection);
  std::free(mem->rootActive);
  mem->gLow = mem->gHigh = mem->gRoot = nullptr;
  mem->rootInfo = mem->rootDirection = mem->rootActive = nullptr;
}

// The state that OdeInit and OdeReInit share.
void resetIntegration(OdeMemory *mem, double t0, OdeVector y0) {
  mem->tcur = t0;
  mem->maxStepRatio = 10000.0;
  mem->hu = 0.0;
  mem->order = 1;
  mem->orderPlus1 = 2;
  mem->orderWait = 2;
  mem->lastOrder = 0;
  mem->tolScaleFactor = 1.0;
  OdeVecMulScalar(1.0, y0, mem->history[0]);
  mem->numSteps = 0;
  mem->numRhsEvals = 0;
  mem->numConvFails = 0;
  mem->numErrTestFails = 0;
  mem->numNonlinIters = 0;
  mem->numSetups = 0;
  mem->numTinyStepWarnings = 0;
  mem->stepsAtSetup = 0;
  mem->numGEvals = 0;
  mem->rootFound = 0;
  mem->firstH = 0.0;
  mem->plannedH = 0.0;
  mem->plannedOrder = 0;
}

int nullMemory(const char *function) {
  odeReportError(nullptr, ODE_MEM_NULL, "ODE", function, "ode_mem = NULL illegal.");
  return ODE_MEM_NULL;
}

} // namespace

// ---------------------------------------------------------------------------
// Error reporting
// ---------------------------------------------------------------------------

void OdeSetReportFn(OdeReportFunction report) { processReport.store(report); }

void odeDefaultErrHandler(int errorCode, const char *module, const char *function,
                          const char *message, void *handlerData) {
  auto *mem = static_cast<OdeMemory *>(handlerData);
  const char *word = errorCode == ODE_WARNING ? "WARNING" : "ERROR";
  const OdeReportFunction report = processReport.load();
  if (mem != nullptr && mem->errStream == stderr && report != nullptr) {
    report(errorCode, module, function, message);
    return;
  }
  if (mem != nullptr && mem->errStream != nullptr) {
    fprintfC(mem->errStream, "\n[%s %s]  %s\n", module, word, function);
    fprintfC(mem->errStream, "  %s\n\n", message);
  }
}

void odeReportError(OdeMemory *mem, int code, const char *module, const char *function,
                    const char *format, ...) {
  char message[ODE_MSG_LENGTH];
  va_list ap;
  va_start(ap, format);
  vsnprintfFullC(message, sizeof message, format, ap);
  va_end(ap);
  if (mem == nullptr) {
    if (const OdeReportFunction report = processReport.load()) {
      report(code, module, function, message);
      return;
    }
    fprintfC(stderr, "\n[%s ERROR]  %s\n  ", module, function);
    fprintfC(stderr, "%s\n\n", message);
    return;
  }
  if (mem->errHandler != nullptr) {
    mem->errHandler(code, module, function, message, mem->errHandlerData);
  }
}

// ---------------------------------------------------------------------------
// Creation and initialisation
// ---------------------------------------------------------------------------

OdeMemory *OdeCreate(int lmm, int iter) {
  if (lmm != ODE_ADAMS && lmm != ODE_BDF) {
    odeReportError(nullptr, 0, "ODE", "OdeCreate",
                   "Illegal value for lmm. The legal values are ODE_ADAMS and ODE_BDF.");
    return nullptr;
  }
  if (iter != ODE_FUNCTIONAL && iter != ODE_NEWTON) {
    odeReportError(nullptr, 0, "ODE", "OdeCreate",
                   "Illegal value for iter. The legal values are ODE_FUNCTIONAL and ODE_NEWTON.");
    return nullptr;
  }
  auto *mem = static_cast<OdeMemory *>(odeAllocZeroed(sizeof(OdeMemory)));
  if (mem == nullptr) {
    odeReportError(nullptr, 0, "ODE", "OdeCreate", "Allocation of ode_mem failed.");
    return nullptr;
  }
  mem->unitRoundoff = 2.220446049250313e-16;
  mem->lmm = lmm;
  mem->iter = iter;
  mem->maxOrder = lmm == ODE_ADAMS ? ODE_ADAMS_MAX_ORDER : ODE_BDF_MAX_ORDER;
  mem->allocatedOrder = mem->maxOrder;
  mem->mxstep = 500;
  mem->mxhnil = 10;
  mem->maxNonlinIters = 3;
  mem->maxErrTestFails = 7;
  mem->maxConvFails = 10;
  mem->nonlinConvCoef = 0.1;
  mem->h0 = 0.0;
  mem->hmin = 0.0;
  mem->invHmax = 0.0;
  mem->tolKind = 0;
  mem->errHandler = odeDefaultErrHandler;
  mem->errHandlerData = mem;
  mem->errStream = stderr;
  mem->g = nullptr;
  mem->numRoots = 0;
  mem->maxZeroRootWarnings = 1;
  mem->stepRootFn = nullptr;
  mem->initialized = 0;
  return mem;
}

void odeDetachLinearSolver(OdeMemory *mem) {
  if (mem->lsFree != nullptr) {
    mem->lsFree(mem);
  }
  mem->lsInit = nullptr;
  mem->lsSetup = nullptr;
  mem->lsSolve = nullptr;
  mem->lsFree = nullptr;
  mem->lsMemory = nullptr;
}

int OdeInit(OdeMemory *mem, OdeRhsFunction f, double t0, OdeVector y0) {
  if (mem == nullptr) return nullMemory("OdeInit");
  if (y0 == nullptr) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeInit", "y0 = NULL illegal.");
    return ODE_ILL_INPUT;
  }
  if (f == nullptr) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeInit", "f = NULL illegal.");
    return ODE_ILL_INPUT;
  }
  if (!requiredOpsOk(y0->ops)) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeInit",
                   "A required vector operation is not implemented.");
    return ODE_ILL_INPUT;
  }
  // A second OdeInit on the same record must not lose the first vectors.
  releaseVectors(mem);
  if (!allocateVectors(mem, y0)) {
    odeReportError(mem, ODE_MEM_FAIL, "ODE", "OdeInit", "A memory request failed.");
    return ODE_MEM_FAIL;
  }
  mem->f = f;
  odeDetachLinearSolver(mem);
  mem->sparseReInit = nullptr;
  mem->sparseFreeGlobalData = nullptr;
  resetIntegration(mem, t0, y0);
  mem->initialized = 1;
  return ODE_SUCCESS;
}

int OdeReInit(OdeMemory *mem, double t0, OdeVector y0) {
  if (mem == nullptr) return nullMemory("OdeReInit");
  if (!mem->initialized) {
    odeReportError(mem, ODE_NO_MALLOC, "ODE", "OdeReInit", "Attempt to call before OdeInit.");
    return ODE_NO_MALLOC;
  }
  if (y0 == nullptr) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeReInit", "y0 = NULL illegal.");
    return ODE_ILL_INPUT;
  }
  resetIntegration(mem, t0, y0);
  // A root function that was exactly zero in the previous segment must take
  // part in the search again, or a root in the first new step is missed.
  for (int i = 0; i < mem->numRoots; ++i) {
    mem->rootActive[i] = 1;
    mem->rootInfo[i] = 0;
  }
  return ODE_SUCCESS;
}

int OdeWFtolerances(OdeMemory *mem, OdeEwtSetFunction ewtFn) {
  if (mem == nullptr) return nullMemory("OdeWFtolerances");
  if (!mem->initialized) {
    odeReportError(mem, ODE_NO_MALLOC, "ODE", "OdeWFtolerances", "Attempt to call before OdeInit.");
    return ODE_NO_MALLOC;
  }
  mem->ewtFn = ewtFn;
  // Without a function there are no tolerances, which the first OdeSolve
  // reports instead of calling through a null pointer.
  mem->tolKind = ewtFn != nullptr ? 3 : 0;
  mem->userWeights = 1;
  mem->ewtData = nullptr;
  return ODE_SUCCESS;
}

int OdeRootInit(OdeMemory *mem, int numRoots, OdeRootFunction g) {
  if (mem == nullptr) return nullMemory("OdeRootInit");
  int nrt = numRoots < 0 ? 0 : numRoots;

  if (nrt != mem->numRoots && mem->numRoots > 0) {
    releaseRootArrays(mem);
    mem->numRoots = 0;
    mem->g = nullptr;
  }
  if (nrt == 0) {
    mem->numRoots = 0;
    mem->g = nullptr;
    return ODE_SUCCESS;
  }
  if (nrt == mem->numRoots) {
    if (g == nullptr) {
      // The record keeps no root data at all, so that numRoots and the
      // arrays never disagree.
      releaseRootArrays(mem);
      mem->numRoots = 0;
      mem->g = nullptr;
      odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeRootInit", "g = NULL illegal.");
      return ODE_ILL_INPUT;
    }
    mem->g = g;
    return ODE_SUCCESS;
  }
  if (g == nullptr) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeRootInit", "g = NULL illegal.");
    return ODE_ILL_INPUT;
  }
  size_t nd = sizeof(double) * static_cast<size_t>(nrt);
  size_t ni = sizeof(int) * static_cast<size_t>(nrt);
  const char *module = "ODE";
  bool ok = (mem->gLow = static_cast<double *>(odeAlloc(nd))) != nullptr &&
            (mem->gHigh = static_cast<double *>(odeAlloc(nd))) != nullptr &&
            (mem->gRoot = static_cast<double *>(odeAlloc(nd))) != nullptr &&
            (mem->rootInfo = static_cast<int *>(odeAlloc(ni))) != nullptr &&
            (mem->rootDirection = static_cast<int *>(odeAlloc(ni))) != nullptr;
  if (ok) {
    mem->rootActive = static_cast<int *>(odeAlloc(ni));
    ok = mem->rootActive != nullptr;
    module = "ODES";
  }
  if (!ok) {
    releaseRootArrays(mem);
    mem->numRoots = 0;
    mem->g = nullptr;
    odeReportError(mem, ODE_MEM_FAIL, module, "OdeRootInit", "A memory request failed.");
    return ODE_MEM_FAIL;
  }
  mem->numRoots = nrt;
  mem->g = g;
  for (int i = 0; i < nrt; ++i) {
    mem->rootDirection[i] = 0;
    mem->rootActive[i] = 1;
    mem->rootInfo[i] = 0;
  }
  return ODE_SUCCESS;
}

int OdeStepRootInit(OdeMemory *mem, OdeStepRootFunction stepRootFn) {
  if (mem == nullptr) return nullMemory("OdeStepRootInit");
  mem->stepRootFn = stepRootFn;
  return ODE_SUCCESS;
}

int OdeSetErrHandlerFn(OdeMemory *mem, OdeErrorHandler handler, void *handlerData) {
  if (mem == nullptr) return nullMemory("OdeSetErrHandlerFn");
  mem->errHandler = handler;
  mem->errHandlerData = handlerData;
  return ODE_SUCCESS;
}

void OdeDestroy(OdeMemory **handle) {
  if (handle == nullptr || *handle == nullptr) {
    return;
  }
  OdeMemory *mem = *handle;
  releaseVectors(mem);
  // Whatever linear solver is attached owns memory of its own.
  if (mem->lsFree != nullptr) {
    mem->lsFree(mem);
  }
  releaseRootArrays(mem);
  std::free(mem);
  *handle = nullptr;
}

int OdeReInitSparse(OdeMemory *mem) {
  if (mem == nullptr) return nullMemory("OdeReInitSparse");
  if (mem->sparseReInit != nullptr) {
    (void)mem->sparseReInit(mem);
  }
  return ODE_SUCCESS;
}

int OdeFreeSparseGlobalData(OdeMemory *mem) {
  if (mem == nullptr) return nullMemory("OdeFreeSparseGlobalData");
  if (mem->sparseFreeGlobalData != nullptr) {
    (void)mem->sparseFreeGlobalData(mem);
  }
  return ODE_SUCCESS;
}

// ---------------------------------------------------------------------------
// Optional inputs
// ---------------------------------------------------------------------------

int OdeSetUserData(OdeMemory *mem, void *userData) {
  if (mem == nullptr) return nullMemory("OdeSetUserData");
  mem->userData = userData;
  return ODE_SUCCESS;
}

int OdeSetMaxNumSteps(OdeMemory *mem, int mxsteps) {
  if (mem == nullptr) return nullMemory("OdeSetMaxNumSteps");
  mem->mxstep = mxsteps == 0 ? 500 : mxsteps;
  return ODE_SUCCESS;
}

int OdeSetMaxNonlinIters(OdeMemory *mem, int maxcor) {
  if (mem == nullptr) return nullMemory("OdeSetMaxNonlinIters");
  mem->maxNonlinIters = maxcor;
  return ODE_SUCCESS;
}

int OdeSetMaxErrTestFails(OdeMemory *mem, int maxnef) {
  if (mem == nullptr) return nullMemory("OdeSetMaxErrTestFails");
  mem->maxErrTestFails = maxnef;
  return ODE_SUCCESS;
}

int OdeSetNonlinConvCoef(OdeMemory *mem, double nlscoef) {
  if (mem == nullptr) return nullMemory("OdeSetNonlinConvCoef");
  mem->nonlinConvCoef = nlscoef;
  return ODE_SUCCESS;
}

int OdeSetInitStep(OdeMemory *mem, double hin) {
  if (mem == nullptr) return nullMemory("OdeSetInitStep");
  mem->h0 = hin;
  return ODE_SUCCESS;
}

int OdeSetStopTime(OdeMemory *mem, double tstop) {
  if (mem == nullptr) return nullMemory("OdeSetStopTime");
  mem->tstop = tstop;
  mem->tstopSet = 1;
  return ODE_SUCCESS;
}

int OdeClearStopTime(OdeMemory *mem) {
  if (mem == nullptr) return nullMemory("OdeClearStopTime");
  mem->tstopSet = 0;
  return ODE_SUCCESS;
}

// ---------------------------------------------------------------------------
// Optional outputs
// ---------------------------------------------------------------------------

int OdeGetCurrentStep(OdeMemory *mem, double *hcur) {
  if (mem == nullptr) return nullMemory("OdeGetCurrentStep");
  *hcur = mem->plannedH;
  return ODE_SUCCESS;
}

int OdeGetErrWeights(OdeMemory *mem, OdeVector eweight) {
  if (mem == nullptr) return nullMemory("OdeGetErrWeights");
  if (mem->ewt == nullptr) {
    odeReportError(mem, ODE_NO_MALLOC, "ODE", "OdeGetErrWeights",
                   "Attempt to call before OdeInit.");
    return ODE_NO_MALLOC;
  }
  OdeVecMulScalar(1.0, mem->ewt, eweight);
  return ODE_SUCCESS;
}

int OdeGetNumSteps(OdeMemory *mem, int *nsteps) {
  if (mem == nullptr) return nullMemory("OdeGetNumSteps");
  *nsteps = mem->numSteps;
  return ODE_SUCCESS;
}

int OdeGetNumRhsEvals(OdeMemory *mem, int *nfevals) {
  if (mem == nullptr) return nullMemory("OdeGetNumRhsEvals");
  *nfevals = mem->numRhsEvals;
  return ODE_SUCCESS;
}

int OdeGetNumNonlinSolvIters(OdeMemory *mem, int *nniters) {
  if (mem == nullptr) return nullMemory("OdeGetNumNonlinSolvIters");
  *nniters = mem->numNonlinIters;
  return ODE_SUCCESS;
}

int OdeGetNumNonlinSolvConvFails(OdeMemory *mem, int *nncfails) {
  if (mem == nullptr) return nullMemory("OdeGetNumNonlinSolvConvFails");
  *nncfails = mem->numConvFails;
  return ODE_SUCCESS;
}

int OdeGetNumGEvals(OdeMemory *mem, int *ngevals) {
  if (mem == nullptr) return nullMemory("OdeGetNumGEvals");
  *ngevals = mem->numGEvals;
  return ODE_SUCCESS;
}

int OdeGetTolScaleFactor(OdeMemory *mem, double *tolsfac) {
  if (mem == nullptr) return nullMemory("OdeGetTolScaleFactor");
  *tolsfac = mem->tolScaleFactor;
  return ODE_SUCCESS;
}

// ---------------------------------------------------------------------------
// Flag names
// ---------------------------------------------------------------------------

namespace {
struct FlagName {
  int flag;
  const char *name;
};
constexpr FlagName flagNames[] = {
    {ODE_SUCCESS, "ODE_SUCCESS"},
    {ODE_TSTOP_RETURN, "ODE_TSTOP_RETURN"},
    {ODE_ROOT_RETURN, "ODE_ROOT_RETURN"},
    {ODE_TOO_MUCH_WORK, "ODE_TOO_MUCH_WORK"},
    {ODE_TOO_MUCH_ACC, "ODE_TOO_MUCH_ACC"},
    {ODE_ERR_FAILURE, "ODE_ERR_FAILURE"},
    {ODE_CONV_FAILURE, "ODE_CONV_FAILURE"},
    {ODE_LINIT_FAIL, "ODE_LINIT_FAIL"},
    {ODE_LSETUP_FAIL, "ODE_LSETUP_FAIL"},
    {ODE_LSOLVE_FAIL, "ODE_LSOLVE_FAIL"},
    {ODE_RHSFUNC_FAIL, "ODE_RHSFUNC_FAIL"},
    {ODE_FIRST_RHSFUNC_ERR, "ODE_FIRST_RHSFUNC_ERR"},
    {ODE_REPTD_RHSFUNC_ERR, "ODE_REPTD_RHSFUNC_ERR"},
    {ODE_UNREC_RHSFUNC_ERR, "ODE_UNREC_RHSFUNC_ERR"},
    {ODE_RTFUNC_FAIL, "ODE_RTFUNC_FAIL"},
    {ODE_MEM_FAIL, "ODE_MEM_FAIL"},
    {ODE_MEM_NULL, "ODE_MEM_NULL"},
    {ODE_ILL_INPUT, "ODE_ILL_INPUT"},
    {ODE_NO_MALLOC, "ODE_NO_MALLOC"},
    {ODE_BAD_K, "ODE_BAD_K"},
    {ODE_BAD_T, "ODE_BAD_T"},
    {ODE_BAD_DKY, "ODE_BAD_DKY"},
    {ODE_TOO_CLOSE, "ODE_TOO_CLOSE"},
};
} // namespace

char *OdeFlagText(int flag) {
  constexpr size_t size = 24;
  auto *text = static_cast<char *>(odeAlloc(size));
  if (text == nullptr) {
    return nullptr;
  }
  const char *name = "NONE";
  for (const FlagName &entry : flagNames) {
    if (entry.flag == flag) {
      name = entry.name;
      break;
    }
  }
  snprintfC(text, size, "%s", name);
  return text;
}
