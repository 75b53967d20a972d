// The layer between a Co-Simulation instance and the ODE integrator: set-up,
// integration to one target with its recovery rules, re-initialisation,
// statistics, release and the solver-data copies of FMU states.
//
// Every integrator call is checked with fmiCheckSolverResult, which names the
// entry point and the flag at fmi2Error.  The integrator is a BDF method with
// Newton iteration, user error weights from per-state tolerances, root finding
// on the event indicators, a step-stop callback for step events and the dense
// direct solver with the finite-difference Jacobian of fmiSolverCallbacks.cpp.
#include "fmi/fmiSolver.h"

#include "fmi/fmiContinuous.h"
#include "fmi/fmiEvaluate.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiResult.h"
#include "fmi/fmiSolverBase.h"
#include "fmi/fmiSolverCallbacks.h"
#include "model/model.h"
#include "source/clocale/clocale_io.h"
#include "source/runtime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

std::atomic<int> groupingUsed{0};

namespace {

constexpr double kDefaultRelativeTolerance = 1e-5;
constexpr int kFirstStepBudget = 5000;
constexpr int kTotalStepBudget = 100000;
constexpr double kTwoPowMinus50 = 8.881784197001252e-16;
constexpr double kTwoPowMinus51 = 4.440892098500626e-16;

// Counters add and subtract as unsigned 32-bit words, so that a long run wraps
// instead of overflowing a signed integer.
int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// A failed check of an integer flag (logged); true on failure.
bool flagFails(int flag, const char *name, fmiInstance *instance) {
  return fmiCheckSolverResult(&flag, name, 1, instance) != 0;
}
// A failed check of a constructor result (logged); true on failure.
bool pointerFails(const void *result, const char *name, fmiInstance *instance) {
  return fmiCheckSolverResult(result, name, 0, instance) != 0;
}

// The callback record through which solver data of an instance or of an FMU
// state record (which has none of its own) is allocated.
const fmi2CallbackFunctions *callbacksOf(fmiInstance *a, fmiInstance *b) {
  return a->functions != nullptr ? a->functions : b->functions;
}

double *allocDoubles(const fmi2CallbackFunctions *f, std::size_t n) {
  return static_cast<double *>(f->allocateMemory(n, sizeof(double)));
}

void copySerial(OdeVector from, OdeVector to) {
  if (from != nullptr && to != nullptr) OdeVecMulScalar(1.0, from, to);
}

// Gives the integrator the step budget unless it has it already.  True on
// failure (reported).
bool giveStepBudget(fmiInstance *instance, fmiSolverData *solver, int budget) {
  if (solver->givenStepBudget == budget) return false;
  if (flagFails(OdeSetMaxNumSteps(solver->odeMemory, budget), "OdeSetMaxNumSteps", instance)) {
    return true;
  }
  solver->givenStepBudget = budget;
  return false;
}

// Gives the integrator the instance's stop time, or clears it when the
// instance defines none, unless the integrator has it so already.  With a
// stop time no step of the integrator passes it, so that the model is never
// evaluated beyond it (targets never lie beyond it either).  True on failure
// (reported).
bool giveStopTime(fmiInstance *instance, fmiSolverData *solver) {
  if (instance->stopTimeDefined) {
    if (solver->givenStopMode == 1 && solver->givenStopTime == instance->stopTime) return false;
    if (flagFails(OdeSetStopTime(solver->odeMemory, fmiIntegratorTime(solver, instance->stopTime)),
                  "OdeSetStopTime", instance)) {
      return true;
    }
    solver->givenStopMode = 1;
    solver->givenStopTime = instance->stopTime;
    return false;
  }
  if (solver->givenStopMode == 2) return false;
  if (flagFails(OdeClearStopTime(solver->odeMemory), "OdeClearStopTime", instance)) return true;
  solver->givenStopMode = 2;
  return false;
}

// OdeSolve toward instance time tout, with *tret (in and out) in instance
// time: the integrator's own time differs only where it counts from an
// origin.
int solveTo(fmiSolverData *solver, double tout, double *tret) {
  const double origin = solver->timeOrigin;
  if (origin == 0.0) {
    return OdeSolve(solver->odeMemory, tout, solver->stateVector, tret, ODE_NORMAL);
  }
  double tau = fmiIntegratorTime(solver, *tret);
  const int flag = OdeSolve(solver->odeMemory, fmiIntegratorTime(solver, tout), solver->stateVector,
                            &tau, ODE_NORMAL);
  *tret = fmiInstanceTime(solver, tau);
  return flag;
}

// Restarts the integrator at the instance's time and states, counting its
// time from the origin that time calls for.  Returns the OdeReInit check (the
// sparse hook is not part of the result).
bool restartIntegrator(fmiInstance *instance, fmiSolverData *solver) {
  const double origin = fmiTimeOriginFor(instance->time);
  // A stop time given in the integrator's time of another origin is given anew.
  if (origin != solver->timeOrigin && solver->givenStopMode == 1) solver->givenStopMode = 0;
  solver->timeOrigin = origin;
  int flag =
      OdeReInit(solver->odeMemory, fmiIntegratorTime(solver, instance->time), solver->stateVector);
  bool failed = flagFails(flag, "OdeReInit", instance);
  if (solver->nonZeroCount != 0) {
    (void)flagFails(OdeReInitSparse(solver->odeMemory), "OdeReInitSparse", instance);
  }
  return failed;
}

// The statistics report: one message of the integrator counters and one of
// the work discarded by restoring FMU states.  Both at fmi2OK.
void reportStatistics(fmiInstance *instance, fmiSolverData *solver) {
  fmiSolverStatistics &s = solver->statistics;
  s.cpuSeconds =
      (static_cast<float>(std::clock()) - s.cpuSeconds) / static_cast<float>(CLOCKS_PER_SEC);
  (void)fmiAccumulateStatistics(instance, &s);
  double scale = -1.0;
  if (flagFails(OdeGetTolScaleFactor(solver->odeMemory, &scale), "OdeGetTolScaleFactor",
                instance)) {
    scale = -1.0;
  }
  char text[1024];
  snprintfC(text, sizeof text,
            "Integrator Statistics\n"
            "    Stop time                                : %.2f s\n"
            "    Simulation time                          : %.2f s\n"
            "    Number of external steps                 : %d\n"
            "    Number of internal steps                 : %d\n"
            "    Number of non-linear iterations          : %d\n"
            "    Number of non-linear convergence failures: %d\n"
            "    Number of f function evaluations         : %d\n"
            "    Number of g function evaluations         : %d\n"
            "    Number of Jacobian-evaluations (direct)  : %d\n"
            "    Suggested tolerance scale factor         : %.1f\n"
            "    Grouping used                            : %s\n"
            "\n",
            instance->time, static_cast<double>(s.cpuSeconds), s.externalSteps, s.internalSteps,
            s.nonlinearIterations, s.convergenceFailures, s.rhsEvaluations, s.rootEvaluations,
            s.jacobianEvaluations, scale,
            groupingUsed.load(std::memory_order_relaxed) != 0 ? "yes" : "no");
  fmiLog(instance, instance->instanceName, fmi2OK, "", "%s", text);
  // The solver record keeps no time for the discarded evaluations.
  snprintfC(text, sizeof text,
            "Rejected count\n"
            "    Number of external steps                 : %d\n"
            "    Number of internal steps                 : %d\n"
            "    Number of f function evaluations         : %d (%.2f s)\n"
            "    Number of Jac function evaluations       : %d\n"
            "\n",
            s.rejectedExternalSteps, s.rejectedInternalSteps, s.rejectedRhsEvaluations, 0.0,
            s.rejectedJacobianEvaluations);
  fmiLog(instance, instance->instanceName, fmi2OK, "", "%s", text);
}

} // namespace

// ---- Set-up ------------------------------------------------------------------------

int fmiSetupSolver(fmiInstance *instance, double relTol) {
  const fmi2CallbackFunctions *f = instance->functions;
  // A model without states integrates one dummy state so that the integrator
  // and the root finding still run.
  if (instance->nx == 0) {
    instance->x[0] = 0.0;
    instance->nx = 1;
    instance->nominals[0] = 1.0;
  }
  const int nx = static_cast<int>(instance->nx);
  if (!(relTol > 0.0)) relTol = kDefaultRelativeTolerance;
  if (instance->solver != nullptr) fmiFreeSolverData(instance, instance);

  auto *solver = static_cast<fmiSolverData *>(f->allocateMemory(1, sizeof(fmiSolverData)));
  if (solver == nullptr) return 1;
  *solver = fmiSolverData{};
  instance->solver = solver;

  // Until the record holds the integrator memory, the failure path releases
  // it from here.
  OdeMemory *memory = nullptr;
  auto fail = [&]() {
    if (solver->odeMemory == nullptr && memory != nullptr) OdeDestroy(&memory);
    fmiFinishSolver(instance);
    return 1;
  };

  solver->stateVector = OdeVecMake_Serial(nx, instance->x);
  if (pointerFails(solver->stateVector, "OdeVecMake_Serial", instance)) return fail();
  memory = OdeCreate(ODE_BDF, ODE_NEWTON);
  if (pointerFails(memory, "OdeCreate", instance)) return fail();
  solver->timeOrigin = fmiTimeOriginFor(instance->time);
  if (flagFails(OdeInit(memory, fmiOdeRhs, fmiIntegratorTime(solver, instance->time),
                        solver->stateVector),
                "OdeInit", instance)) {
    return fail();
  }
  if (flagFails(OdeSetUserData(memory, instance), "OdeSetUserData", instance)) return fail();

  solver->absoluteTolerances = OdeVecNew_Serial(nx);
  if (pointerFails(solver->absoluteTolerances, "OdeVecNew_Serial", instance)) return fail();
  solver->relativeTolerances = OdeVecNew_Serial(nx);
  if (pointerFails(solver->relativeTolerances, "OdeVecNew_Serial", instance)) return fail();
  double *absTol = OdeVecGetData(solver->absoluteTolerances);
  double *rel = OdeVecGetData(solver->relativeTolerances);
  for (int i = 0; i < nx; ++i) {
    const double nominal = instance->nominals[i];
    if (nominal == 0.0) {
      absTol[i] = relTol;
      rel[i] = relTol;
    } else if (nominal > 0.0) {
      absTol[i] = nominal * relTol;
      rel[i] = relTol;
    } else { // negative or NaN: absolute tolerance only
      absTol[i] = -nominal * relTol;
      rel[i] = 0.0;
    }
  }

  if (flagFails(OdeWFtolerances(memory, fmiOdeErrWeights), "OdeWFtolerances", instance) ||
      flagFails(OdeSetNonlinConvCoef(memory, 0.1), "OdeSetNonlinConvCoef", instance) ||
      flagFails(OdeRootInit(memory, static_cast<int>(instance->nz), fmiOdeRoots), "OdeRootInit",
                instance) ||
      flagFails(OdeStepRootInit(memory, fmiOdeStepRoot), "OdeStepRootInit", instance)) {
    return fail();
  }

  const int groups = fmiJacobianGroupTableCount();
  groupingUsed.store(groups, std::memory_order_relaxed);
  setJacobianGroupCount(groups);
  const int nonZeros = fmiCountStructureNonZeros(nx, solver);
  if (nonZeros > 0) {
    solver->columnStarts =
        static_cast<int *>(std::calloc(static_cast<std::size_t>(nx) + 1, sizeof(int)));
    solver->patternIndex = static_cast<int *>(std::calloc(
        static_cast<std::size_t>(groups) * static_cast<std::size_t>(nx) + 1, sizeof(int)));
    if (solver->columnStarts == nullptr || solver->patternIndex == nullptr) return fail();
    (void)fmiBuildSparsePattern(instance, solver, nx, nonZeros);
    solver->solverCores = solver->requestedCores > 1 ? solver->requestedCores : 1;
    fmiLog(instance, instance->instanceName, fmi2OK, "",
           "Using SuperLU sparse solver on %d core%s.", solver->solverCores,
           solver->solverCores > 1 ? "s" : "");
    solver->sparseSolverPending = 1;
  } else {
    solver->sparseSolverPending = 0;
    solver->nonZeroCount = 0;
    if (flagFails(OdeDense(memory, nx), "OdeDense", instance) ||
        flagFails(OdeDlsSetDenseJacFn(memory, fmiOdeDenseJac), "OdeDlsSetDenseJacFn", instance)) {
      return fail();
    }
  }

  if (flagFails(OdeSetMaxNumSteps(memory, kFirstStepBudget), "OdeSetMaxNumSteps", instance) ||
      flagFails(OdeSetMaxNonlinIters(memory, 3), "OdeSetMaxNonlinIters", instance) ||
      flagFails(OdeSetMaxErrTestFails(memory, 15), "OdeSetMaxErrTestFails", instance)) {
    return fail();
  }

  solver->derivativeScratch = OdeVecNew_Serial(nx);
  if (pointerFails(solver->derivativeScratch, "OdeVecNew_Serial", instance)) return fail();
  solver->stateSave = OdeVecNew_Serial(nx);
  if (pointerFails(solver->stateSave, "OdeVecNew_Serial", instance)) return fail();
  OdeVecFill(0.0, solver->derivativeScratch);
  OdeVecFill(0.0, solver->stateSave);

  solver->odeMemory = memory; // from here on the failure path reports statistics

  solver->errorWeights = OdeVecNew_Serial(nx);
  if (pointerFails(solver->errorWeights, "OdeVecNew_Serial", instance)) return fail();
  OdeVecFill(0.0, solver->errorWeights);
  if (flagFails(OdeSetErrHandlerFn(memory, fmiOdeErrHandler, instance), "OdeSetErrHandlerFn",
                instance)) {
    return fail();
  }
  instance->iuser[kIuserIntegratorWord] = 0;

  solver->inputDerivatives = allocDoubles(f, instance->nu + 1);
  solver->inputBase = allocDoubles(f, instance->nu + 1);
  solver->previousOutputs = allocDoubles(f, instance->ny + 1);
  if (solver->inputDerivatives == nullptr || solver->inputBase == nullptr ||
      solver->previousOutputs == nullptr) {
    return fail();
  }
  solver->inputDerivativesValid = 0;
  // No output history yet: no interval for a slope until the first step.
  solver->previousOutputTime = instance->time;
  solver->statistics = fmiSolverStatistics{};
  solver->statistics.cpuSeconds = static_cast<float>(std::clock());
  return 0;
}

// ---- Integration to one target --------------------------------------------------------

int integration_step(fmiInstance *instance, double tout) {
  fmiSolverData *solver = instance->solver;
  OdeMemory *memory = solver->odeMemory;
  int budget = kFirstStepBudget;
  int total = kFirstStepBudget;
  if (giveStepBudget(instance, solver, budget) || giveStopTime(instance, solver)) return 1;
  const double startTime = instance->time;

  for (;;) {
    // The output history for fmi2GetRealOutputDerivatives, once per call.
    // The outputs at the start are mostly there already: the end of the last
    // step evaluated them, and nothing has moved since.
    if (fmiEvaluated(instance, kRequestOutputs) ||
        fmiEvaluate(instance, kRequestOutputs, "fetching current output", nullptr) == 0) {
      std::memcpy(solver->previousOutputs, instance->y, instance->ny * sizeof(double));
      solver->previousOutputTime = instance->time;
    }
    double tret = instance->time;
    solver->callbackFailure = 0;
    int flag = solveTo(solver, tout, &tret);

    // A callback that failed other than by a model error ends the integration
    // now that the integrator is no longer running.
    if (solver->callbackFailure != 0) {
      const int32_t failure = solver->callbackFailure;
      solver->callbackFailure = 0;
      if (failure == kQiErrTerminated) {
        fmiMoveTime(instance, tret);
        return 2;
      }
      if (std::isfinite(tret)) fmiMoveTime(instance, tret);
      (void)flagFails(flag < 0 ? flag : ODE_RHSFUNC_FAIL, "OdeSolve", instance);
      return 1;
    }

    if (flag == ODE_SUCCESS) {
      if (std::fabs(tret) - std::fabs(tout) > (std::fabs(startTime) + 1.0) * kTwoPowMinus50) {
        fmiLog(instance, instance->instanceName, fmi2Error, "",
               "Internal step error: tret = %.16e  !=  tout = %.16e", tret, tout);
        return 1;
      }
      solver->statistics.externalSteps = wrapAdd(solver->statistics.externalSteps, 1);
      return 0;
    }
    if (flag == ODE_ROOT_RETURN) {
      instance->noSolverReinit = 0;
      solver->inputDerivativesValid = 0;
      fmiMoveTime(instance, tret);
      fmiResultStore(instance, 1);
      int terminated = 0;
      if (fmiEventUpdate(instance, &terminated) != fmi2OK) return 1;
      fmiResultStore(instance, 1);
      if (terminated == 1) return 2;
      if (instance->noSolverReinit) continue;
      (void)fmiAccumulateStatistics(instance, &solver->statistics);
      if (restartIntegrator(instance, solver)) return 1;
      continue;
    }
    if (flag == ODE_TOO_CLOSE) {
      double h = 0.0;
      if (flagFails(OdeGetCurrentStep(memory, &h), "OdeGetCurrentStep", instance)) return 1;
      if (h == 0.0) {
        // The integrator judges closeness in its own time.
        const double start = fmiIntegratorTime(solver, startTime);
        const double target = fmiIntegratorTime(solver, tout);
        const double scale =
            std::fabs(target) > std::fabs(start) ? std::fabs(target) : std::fabs(start);
        h = (scale + 1.0) * kTwoPowMinus51;
      }
      fmiLog(instance, instance->instanceName, fmi2OK, "",
             "Internal step too small at t = %f, setting initial step size explicitly to %.16e",
             instance->time, h);
      if (flagFails(OdeSetInitStep(memory, h), "OdeSetInitStep", instance)) return 1;
      continue;
    }
    if (flag == ODE_TOO_MUCH_WORK && total < kTotalStepBudget) {
      budget *= 3;
      total += budget;
      if (total > kTotalStepBudget) {
        budget -= total - kTotalStepBudget;
        total = kTotalStepBudget;
      }
      fmiMoveTime(instance, tret);
      (void)fmiAccumulateStatistics(instance, &solver->statistics);
      if (restartIntegrator(instance, solver)) return 1;
      if (giveStepBudget(instance, solver, budget)) return 1;
      continue;
    }
    // The states hold the integrator's answer at tret; the time follows them.
    if (flag < 0 && std::isfinite(tret)) fmiMoveTime(instance, tret);
    (void)flagFails(flag, "OdeSolve", instance);
    return 1;
  }
}

int fmiReinitSolver(fmiInstance *instance, int addStatistics) {
  fmiSolverData *solver = instance->solver;
  if (solver == nullptr) return 1; // no integrator to restart
  if (addStatistics) (void)fmiAccumulateStatistics(instance, &solver->statistics);
  solver->restartPending = 0;
  return restartIntegrator(instance, solver) ? 1 : 0;
}

int fmiAccumulateStatistics(fmiInstance *instance, fmiSolverStatistics *s) {
  fmiSolverData *solver = instance->solver;
  OdeMemory *memory = solver->odeMemory;
  int last = 0;
  auto add = [&](auto counter, const char *name, int32_t &field) {
    int value = 0;
    last = flagFails(counter(memory, &value), name, instance) ? 1 : 0;
    field = wrapAdd(field, last ? -1 : value);
  };
  add(OdeGetNumRhsEvals, "OdeGetNumRhsEvals", s->rhsEvaluations);
  add(OdeGetNumNonlinSolvIters, "OdeGetNumNonlinSolvIters", s->nonlinearIterations);
  add(OdeGetNumNonlinSolvConvFails, "OdeGetNumNonlinSolvConvFails", s->convergenceFailures);
  add(OdeGetNumGEvals, "OdeGetNumGEvals", s->rootEvaluations);
  if (solver->nonZeroCount == 0) {
    add(OdeDlsGetNumJacEvals, "OdeDlsGetNumJacEvals", s->jacobianEvaluations);
  } else if (!solver->sparseSolverPending) {
    add(OdeSlsGetNumJacEvals, "OdeSlsGetNumJacEvals", s->jacobianEvaluations);
  }
  add(OdeGetNumSteps, "OdeGetNumSteps", s->internalSteps);
  return last;
}

// ---- Report and release ----------------------------------------------------------------

void fmiFinishSolver(fmiInstance *instance) {
  if (instance == nullptr || instance->solver == nullptr) return;
  if (instance->solver->odeMemory != nullptr) reportStatistics(instance, instance->solver);
  fmiFreeSolverData(instance, instance);
}

void fmiFreeSolverData(fmiInstance *owner, fmiInstance *instance) {
  if (instance == nullptr || instance->solver == nullptr) return;
  fmiSolverData *solver = instance->solver;
  if (solver->odeMemory != nullptr) {
    if (solver->sparseSolverPending == 0) (void)OdeFreeSparseGlobalData(solver->odeMemory);
    OdeDestroy(&solver->odeMemory);
  }
  OdeVecDispose(solver->stateVector);
  OdeVecDispose(solver->absoluteTolerances);
  OdeVecDispose(solver->relativeTolerances);
  OdeVecDispose(solver->errorWeights);
  OdeVecDispose(solver->derivativeScratch);
  OdeVecDispose(solver->stateSave);
  std::free(solver->columnStarts);
  std::free(solver->patternIndex);
  solver->columnStarts = nullptr;
  solver->patternIndex = nullptr;
  solver->nonZeroCount = 0;
  solver->groupCount = 0;
  const fmi2CallbackFunctions *f = callbacksOf(owner, instance);
  f->freeMemory(solver->previousOutputs);
  f->freeMemory(solver->inputDerivatives);
  f->freeMemory(solver->inputBase);
  f->freeMemory(solver);
  instance->solver = nullptr;
}

// ---- FMU-state support -----------------------------------------------------------------------

int fmiCopySolverData(fmiInstance *destination, fmiInstance *source) {
  fmiSolverData *from = source->solver;
  const fmi2CallbackFunctions *f = callbacksOf(destination, source);
  const std::size_t nx = destination->nx > source->nx ? source->nx : destination->nx;
  const bool created = destination->solver == nullptr;
  if (created) {
    auto *to = static_cast<fmiSolverData *>(f->allocateMemory(1, sizeof(fmiSolverData)));
    if (to == nullptr) return 1;
    *to = fmiSolverData{};
    destination->solver = to;
    to->stateVector = OdeVecDuplicate(from->stateVector);
    to->absoluteTolerances = OdeVecDuplicate(from->absoluteTolerances);
    to->relativeTolerances = OdeVecDuplicate(from->relativeTolerances);
    to->errorWeights = OdeVecDuplicate(from->errorWeights);
    to->derivativeScratch = OdeVecDuplicate(from->derivativeScratch);
    to->stateSave = OdeVecDuplicate(from->stateSave);
    bool ok = to->stateVector && to->absoluteTolerances && to->relativeTolerances &&
              to->errorWeights && to->derivativeScratch && to->stateSave;
    if (ok && from->nonZeroCount != 0) {
      to->columnStarts = static_cast<int *>(std::calloc(source->nx + 1, sizeof(int)));
      to->patternIndex = static_cast<int *>(
          std::calloc(static_cast<std::size_t>(from->groupCount) * source->nx + 1, sizeof(int)));
      ok = to->columnStarts != nullptr && to->patternIndex != nullptr;
    }
    if (!ok) {
      fmiFreeSolverData(destination->functions ? destination : source, destination);
      return 1;
    }
  }
  fmiSolverData *to = destination->solver;
  copySerial(from->absoluteTolerances, to->absoluteTolerances);
  copySerial(from->relativeTolerances, to->relativeTolerances);
  copySerial(from->errorWeights, to->errorWeights);
  copySerial(from->derivativeScratch, to->derivativeScratch);
  copySerial(from->stateSave, to->stateSave);
  to->nonZeroCount = from->nonZeroCount;
  to->groupCount = from->groupCount;
  to->solverCores = from->solverCores;
  to->sparseSolverPending = from->sparseSolverPending;
  to->requestedCores = from->requestedCores;
  if (from->nonZeroCount != 0 && to->columnStarts && from->columnStarts) {
    std::memcpy(to->columnStarts, from->columnStarts, (nx + 1) * sizeof(int));
    std::memcpy(to->patternIndex, from->patternIndex,
                static_cast<std::size_t>(from->groupCount) * nx * sizeof(int));
  }
  auto fail = [&]() {
    if (created) fmiFreeSolverData(destination->functions ? destination : source, destination);
    return 1;
  };
  to->inputDerivativesValid = from->inputDerivativesValid;
  if (from->inputDerivativesValid && from->inputDerivatives && from->inputBase) {
    if (to->inputDerivatives == nullptr) to->inputDerivatives = allocDoubles(f, source->nu + 1);
    if (to->inputBase == nullptr) to->inputBase = allocDoubles(f, source->nu + 1);
    if (to->inputDerivatives == nullptr || to->inputBase == nullptr) return fail();
    std::memcpy(to->inputDerivatives, from->inputDerivatives, source->nu * sizeof(double));
    std::memcpy(to->inputBase, from->inputBase, source->nu * sizeof(double));
    to->inputDerivativeTime = from->inputDerivativeTime;
  }
  if (from->previousOutputs != nullptr) {
    if (to->previousOutputs == nullptr) to->previousOutputs = allocDoubles(f, source->ny + 1);
    if (to->previousOutputs == nullptr) return fail();
    std::memcpy(to->previousOutputs, from->previousOutputs, source->ny * sizeof(double));
  }
  to->previousOutputTime = from->previousOutputTime;
  return 0;
}

fmi2Status fmiGetSolverState(fmiInstance *instance, fmiInstance *state) {
  if (instance->nx == 0) return fmi2OK;
  if (instance->solver == nullptr) {
    fmiFreeSolverData(instance, state);
    return fmi2OK;
  }
  fmiSolverStatistics s = instance->solver->statistics;
  // The copy only reads the instance: a failed one leaves it as it was.
  if (fmiCopySolverData(state, instance) != 0) {
    fmiLog(instance, instance->instanceName, fmi2Error, "", "memory allocation failed");
    fmiFreeSolverData(instance, state);
    return fmi2Error;
  }
  (void)fmiAccumulateStatistics(instance, &s);
  state->solver->statistics = s;
  return fmi2OK;
}

fmi2Status fmiSetSolverState(fmiInstance *state, fmiInstance *instance) {
  if (instance->nx == 0) instance->nx = 1;
  if (state->solver != nullptr) {
    // fmiCopySolverData gives the instance a record when it has none.
    if (fmiCopySolverData(instance, state) != 0) {
      fmiLog(instance, instance->instanceName, fmi2Error, "", "memory allocation failed");
      return fmiTerminateOnError(instance);
    }
    fmiSolverStatistics &mine = instance->solver->statistics;
    fmiSolverStatistics &saved = state->solver->statistics;
    saved.rejectedExternalSteps =
        wrapAdd(saved.rejectedExternalSteps, wrapSub(mine.externalSteps, saved.externalSteps));
    saved.rejectedInternalSteps =
        wrapAdd(saved.rejectedInternalSteps, wrapSub(mine.internalSteps, saved.internalSteps));
    saved.rejectedRhsEvaluations =
        wrapAdd(saved.rejectedRhsEvaluations, wrapSub(mine.rhsEvaluations, saved.rhsEvaluations));
    mine = saved;
  } else if (instance->solver == nullptr) {
    if (fmiSetupSolver(instance, state->tolerance) != 0) return fmi2OK;
  }
  fmiSolverData *solver = instance->solver;
  if (solver != nullptr) {
    solver->restartPending = 0;
    (void)restartIntegrator(instance, solver);
  }
  return fmi2OK;
}

void fmiFreeStateSolverData(fmiInstance *instance, fmiInstance *state) {
  if (state->nx != 0) fmiFreeSolverData(instance, state);
}
