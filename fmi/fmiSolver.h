// The Co-Simulation integrator of an instance: the solver record that sits
// between an fmiInstance and the ODE integrator, its set-up at
// fmi2EnterInitializationMode, the integration to one target time with its
// recovery rules, re-initialisation after events, the statistics report and
// release, and the copies that FMU states carry.  The six callbacks through
// which the integrator evaluates the model are in fmi/fmiSolverCallbacks.h,
// the result checks and the input extrapolation they share with the set-up
// in fmi/fmiSolverBase.h.
//
// Ownership: the record and its three value arrays come from the host's
// allocateMemory and go back through freeMemory; the integrator memory and
// the vectors use the standard heap (the integrator's own constructors).
// The record lives from fmiSetupSolver to fmiFinishSolver (terminate), not
// to fmi2FreeInstance.
#ifndef FMI_FMISOLVER_H
#define FMI_FMISOLVER_H

#include "fmi/fmi2.h"
#include "integrator/ode.h"

#include <atomic>
#include <cmath>
#include <cstdint>

struct fmiInstance;

// Counters of one instance's integration.  Twelve 32-bit fields.
struct fmiSolverStatistics {
  int32_t externalSteps;         // integrator calls that reached their target
  int32_t internalSteps;         // integrator steps of all finished segments
  int32_t rhsEvaluations;        // right-hand-side evaluations
  int32_t nonlinearIterations;   // Newton iterations
  int32_t convergenceFailures;   // Newton convergence failures
  int32_t rootEvaluations;       // root-function evaluations
  int32_t jacobianEvaluations;   // Jacobian evaluations
  float cpuSeconds;              // clock() at set-up; elapsed seconds after the report
  int32_t rejectedExternalSteps; // work discarded by restoring FMU states ...
  int32_t rejectedInternalSteps;
  int32_t rejectedRhsEvaluations;
  int32_t rejectedJacobianEvaluations;
};

// The integrator record of a Co-Simulation instance (fmiInstance::solver).
struct fmiSolverData {
  OdeVector stateVector;         // length nx over the instance's x (no own data)
  OdeMemory *odeMemory;          // the integrator; null until set-up recorded it
  OdeVector absoluteTolerances;  // per state
  OdeVector relativeTolerances;  // per state
  OdeVector errorWeights;        // the integrator's weights, fetched by the Jacobian
  OdeVector derivativeScratch;   // derivatives at perturbed states (grouped Jacobian)
  OdeVector stateSave;           // unperturbed components of a group
  DenseMatrix *productMatrix;    // never set
  int *columnStarts;             // sparse path: nx+1 column starts
  int *patternIndex;             // sparse path: groupCount*nx positions, -1 for none
  int32_t nonZeroCount;          // structural non-zeros; 0 selects the dense path
  int32_t groupCount;            // column groups (sparse path)
  int32_t solverCores;           // cores handed to the sparse solver
  int32_t sparseSolverPending;   // sparse solver still to be attached by the first step
  int32_t requestedCores;        // the model's dsstructcount_(1)
  double inputDerivativeTime;    // time at which inputBase was taken
  double *inputDerivatives;      // nu+1: first input derivatives
  double *inputBase;             // nu+1: inputs at inputDerivativeTime
  int32_t inputDerivativesValid; // inputs are extrapolated
  double *previousOutputs;       // ny+1: outputs at the start of the last integrator call
  double previousOutputTime;     // time of previousOutputs
  fmiSolverStatistics statistics;
  // QiErr of a callback evaluation that failed other than by a model error
  // while the integrator ran; acted upon only after OdeSolve has returned,
  // so that the instance is never terminated under the integrator's feet.
  int32_t callbackFailure;
  // 1 from set-up until the first step restarts the integrator from the
  // states that initialization produced.
  int32_t restartPending;
  // What the integrator was last given, so that a setting it has already is
  // not given again at every integration: its step budget (0 none yet), and
  // its stop-time mode (0 none yet, 1 stop at givenStopTime, 2 no stop time).
  int32_t givenStepBudget;
  int32_t givenStopMode;
  double givenStopTime;
  // The instance time from which the integrator counts its time (see
  // fmiIntegratorTime), chosen at every start and restart.
  double timeOrigin;
};

// Far from time 0 the time's resolution is coarse (2^-20 s at 2^32 s, 1 s at
// 2^53 s): an integrator that stepped in absolute time there would round its
// internal times, and with them its steps, to that grid unseen by its error
// control.  An integration that starts at or beyond kAbsoluteTimeLimit
// therefore counts its time from its start, as accurate as from time 0; one
// that starts below it counts the absolute time, as it always has (times
// since 1970 among them), so that its results keep their bits.
inline constexpr double kAbsoluteTimeLimit = 4294967296.0; // 2^32 s

// The time origin of an integration that starts at instance time t.
[[nodiscard]] inline double fmiTimeOriginFor(double t) {
  return std::fabs(t) >= kAbsoluteTimeLimit ? t : 0.0;
}

// The integrator's time of instance time t, and the instance time of the
// integrator's time tau.  Without an origin (+0) both are the time itself, to
// the bit: x - (+0) is x for every x, -0 included, and tau - (0 - origin) is
// tau + origin otherwise.
[[nodiscard]] inline double fmiIntegratorTime(const fmiSolverData *solver, double t) {
  return t - solver->timeOrigin;
}
[[nodiscard]] inline double fmiInstanceTime(const fmiSolverData *solver, double tau) {
  return tau - (0.0 - solver->timeOrigin);
}

// Process-wide column-group count of the model's Jacobian table, written at
// every set-up (the same constant by every instance, on any thread, hence
// atomic); selects "yes" or "no" in the statistics report.
extern std::atomic<int> groupingUsed;

// ---- Set-up, integration, re-initialisation, release ------------------------

// Creates and configures the integrator for the instance.  0 on success;
// 1 on failure, with everything created released again.
[[nodiscard]] int fmiSetupSolver(fmiInstance *instance, double relativeTolerance);

// Integrates to tout.  0 target reached, 1 failure (reported), 2 the model
// terminated the simulation.
[[nodiscard]] int integration_step(fmiInstance *instance, double tout);

// Restarts the integrator at the instance time and states (after adding the
// finished segment's statistics when addStatistics).  0, or 1 on failure.
[[nodiscard]] int fmiReinitSolver(fmiInstance *instance, int addStatistics);

// Statistics report (when an integrator exists) and release.
void fmiFinishSolver(fmiInstance *instance);

// Releases instance->solver with owner's freeMemory; null-safe.  Besides
// terminate, fmi2FreeInstance of an instance that was never terminated needs
// fmiFreeSolverData(instance, instance), or the record and the integrator
// outlive the instance.
void fmiFreeSolverData(fmiInstance *owner, fmiInstance *instance);

// Adds the integrator's counters of the running segment to s.  0, or 1 when
// the last query failed.
int fmiAccumulateStatistics(fmiInstance *instance, fmiSolverStatistics *s);

// ---- FMU-state support ---------------------------------------------------------

// Copies the solver data of source into destination (creating its record when
// missing).  0, or 1 on an allocation failure (destination left without one).
[[nodiscard]] int fmiCopySolverData(fmiInstance *destination, fmiInstance *source);
// fmi2GetFMUstate: the instance's solver data into the state record.  A
// failed copy ("memory allocation failed", fmi2Error) leaves the state
// without solver data and the instance unchanged.
fmi2Status fmiGetSolverState(fmiInstance *instance, fmiInstance *state);
// fmi2SetFMUstate: the state's solver data into the instance, integrator restarted.
fmi2Status fmiSetSolverState(fmiInstance *state, fmiInstance *instance);
// fmi2FreeFMUstate: releases the state's solver data.
void fmiFreeStateSolverData(fmiInstance *instance, fmiInstance *state);

#endif // FMI_FMISOLVER_H
