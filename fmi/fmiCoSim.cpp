// The Co-Simulation side of the FMI layer: fmi2DoStep with its checks of the
// communication point and the stop time and its loop to the end of the step,
// the event handling at a step, input extrapolation and output derivatives,
// the status functions, and the Co-Simulation branches of instantiation,
// initialization and terminate.
//
// The step integrates with the solver of fmiSolver.cpp toward the next
// target: the next time event, the next output time or the end of the step.
// Asynchronous stepping is not supported: no call returns fmi2Pending.
#include "fmi/fmiCoSim.h"

#include "fmi/fmiContinuous.h"
#include "fmi/fmiEvaluate.h"
#include "fmi/fmiGuarded.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiInstantiate.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiResult.h"
#include "fmi/fmiSolver.h"
#include "fmi/fmiSolverBase.h"
#include "fmi/fmiSolverCallbacks.h"
#include "fmi/fmiStateMachine.h"
#include "fmi/fmiValueReference.h"
#include "model/ModelInstanceData.h"
#include "source/runtime.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kTwoPowMinus49 = 1.7763568394002505e-15;
constexpr double kTwoPowMinus50 = 8.881784197001252e-16;
constexpr double kTwoPowMinus51 = 4.440892098500626e-16;
constexpr double kDefaultRelativeTolerance = 1e-5;

// maxOutputDerivativeOrder of the model description.
constexpr int kMaxOutputDerivativeOrder = 1;

// DUSER[2] at or above this value announces no time event (event calls
// write 1e100 there); the bound fmi2NewDiscreteStates reports events by.
constexpr double kNoTimeEvent = 1e37;

// Passes of the step loop in a row that leave the time where it was (each
// handles a time event due at that time).  A model or a restored record
// that keeps an event due for ever ends the step after this many.
constexpr int kStalledPassLimit = 100;

const char *const kDoStep = "fmi2DoStep";

bool inlineIntegration(const fmiInstance *instance) {
  return instance->iuser[kIuserInlineSetting] != 0;
}

void logTo(fmiInstance *instance, fmi2Status status, const char *text, const char *name) {
  if (fmiLogDelivers(instance, status)) {
    fmiLog(instance, instance->instanceName, status, "", text, name);
  }
}

// Event handling at a step: the event iteration, then (unless the iteration
// says it is not needed and no restart is forced) a restart of the integrator.
fmi2Status fmiDoStep(fmiInstance *instance, int forceReinit) {
  instance->noSolverReinit = 0;
  int32_t terminated = 0;
  const fmi2Status status = fmiEventUpdate(instance, &terminated);
  if (status != fmi2OK) return status;
  if (terminated) {
    fmiLog(instance, instance->instanceName, fmi2Discard, "",
           "fmiDoStep: simulation terminated by model");
    instance->terminatedByModel = 1;
    return fmi2Discard;
  }
  if (inlineIntegration(instance)) return fmi2OK;
  if (instance->noSolverReinit && !forceReinit) return fmi2OK;
  if (fmiReinitSolver(instance, 1) != 0) return fmiTerminateOnError(instance);
  return fmi2OK;
}

// The event handling and restart of a step that takes up the changes made
// since the last step: afterwards none is pending any more.
fmi2Status restartAtPoint(fmiInstance *instance) {
  const fmi2Status status = fmiDoStep(instance, 1);
  instance->valuesChanged = 0;
  instance->inputsChanged = 0;
  return status;
}

// The end of a step whose loop stopped advancing the time.
fmi2Status stalled(fmiInstance *instance) {
  fmiLog(instance, instance->instanceName, fmi2Error, "",
         "%s: time does not advance beyond t = %.16e, step abandoned", kDoStep, instance->time);
  return fmiTerminateOnError(instance);
}

// Inline integration: the fixed grid of DUSER[0] up to tEnd.  Every grid
// point lies beyond the one before, so the loop ends; a grid step that is
// not a positive number, or a counter so large that the next point no
// longer differs, ends the step with an error instead.
fmi2Status inlineSteps(fmiInstance *instance, double tEnd) {
  const double g = instance->duser[kDuserFixedStep];
  if (!(std::isfinite(g) && g > 0.0)) {
    fmiLog(instance, instance->instanceName, fmi2Error, "",
           "%s: invalid fixed step size DUSER[0] = %g, ignoring call", kDoStep, g);
    return fmi2Error;
  }
  uint64_t n = instance->inlineStepCount + 1;
  const uint64_t first = n;
  double t = static_cast<double>(n) * g;
  double previous = static_cast<double>(instance->inlineStepCount) * g;
  while (tEnd + 0.1 * g > t) {
    if (!(t > previous)) return stalled(instance);
    fmiMoveTime(instance, t);
    const fmi2Status status = fmiDoStep(instance, 0);
    if (status != fmi2OK) return status;
    previous = t;
    n += 1;
    t = static_cast<double>(n) * g;
  }
  instance->inlineStepCount = n - 1;
  instance->time = static_cast<double>(instance->inlineStepCount) * g;
  if (n != first) fmiResultSample(instance, 1);
  return fmi2OK;
}

// The variable-step path of fmi2DoStep from the instance time to tEnd.
fmi2Status variableSteps(fmiInstance *instance, double tEnd) {
  fmiSolverData *solver = instance->solver;
  if (solver == nullptr) {
    logTo(instance, fmi2Error, "%s: integration_step failed", kDoStep);
    return fmiTerminateOnError(instance);
  }
  // The integrator counts its time from an origin (fmiIntegratorTime).  An
  // end of step that its time cannot hold (an origin far behind the end)
  // calls for a new origin, the instance time, through a restart there; an
  // end that even that origin cannot hold is refused before anything changes.
  if (solver->timeOrigin != 0.0 && !std::isfinite(fmiIntegratorTime(solver, tEnd))) [[unlikely]] {
    if (!std::isfinite(tEnd - fmiTimeOriginFor(instance->time))) {
      fmiLog(instance, instance->instanceName, fmi2Error, "",
             "%s: end of communication step = %.16e out of the integrator's range from t = "
             "%.16e, ignoring call",
             kDoStep, tEnd, instance->time);
      return fmi2Error;
    }
    if (fmiReinitSolver(instance, 1) != 0) return fmiTerminateOnError(instance);
  }
  // The first step starts from the states that initialization produced.
  if (solver->restartPending && fmiReinitSolver(instance, 0) != 0) {
    return fmiTerminateOnError(instance);
  }
  // A value set since the last step restarts the integrator here, also when
  // a read in between has evaluated the model with it (inputsChanged):
  // the integrator has run ahead with the old values.
  if (instance->valuesChanged || instance->inputsChanged) {
    const fmi2Status status = restartAtPoint(instance);
    if (status != fmi2OK) return status;
  } else if (instance->computedLevel < 2) {
    const int32_t qiErr = fmiEvaluate(instance, 2, kDoStep, nullptr);
    if (qiErr == kQiErrError) return fmi2Discard;
    if (qiErr == kQiErrTerminated) return fmiEndedByModel(instance, kDoStep);
    if (qiErr != 0) return fmiTerminateOnError(instance);
  }
  solver = instance->solver;
  if (solver->nonZeroCount != 0 && solver->sparseSolverPending &&
      fmiAttachSparseSolver(instance) != 0) {
    return fmiTerminateOnError(instance);
  }

  // Every pass either moves the time forward (to a target beyond it) or
  // handles a time event due at the time; passes of the second kind in a
  // row are bounded.  No pass moves the time backwards: an output time or a
  // time event behind the time (a restored record may hold one) is no
  // target, and a due event is handled where the time is.
  const double *nextEvent = &instance->duser[kDuserNextTimeEvent];
  int reachedEnd = 0;
  int passesInPlace = 0;
  for (;;) {
    const bool eventPending = *nextEvent < kNoTimeEvent;
    if (!(tEnd > instance->time || (eventPending && tEnd == *nextEvent && !reachedEnd))) break;
    const double before = instance->time;
    if (!eventPending || *nextEvent > instance->time) {
      double target = eventPending ? *nextEvent : tEnd;
      const double output = instance->nextOutputTime;
      if (output > instance->time && output < target) target = output;
      if (target >= tEnd) target = tEnd;
      // The integrator refuses a target closer than scale*2^-51
      // (ODE_TOO_CLOSE, which integration_step answers with an explicit
      // first step of (scale + 1)*2^-51); a target closer than that first
      // step but not refused is one it cannot resolve near t = 0 (its step
      // estimates underflow).  There the time moves to the target and the
      // states stay as they are.
      const double scale = std::max(std::fabs(instance->time), std::fabs(target));
      const double gap = target - instance->time;
      if (gap >= scale * kTwoPowMinus51 && gap < (scale + 1.0) * kTwoPowMinus51) {
        fmiMoveTime(instance, target);
        fmiExtrapolateInputs(instance, target);
        passesInPlace = 0;
        continue;
      }
      const int r = integration_step(instance, target);
      if (r == 1) {
        logTo(instance, fmi2Error, "%s: integration_step failed", kDoStep);
        return fmiTerminateOnError(instance);
      }
      if (r == 2) {
        logTo(instance, fmi2Discard, "%s: simulation terminated by model", kDoStep);
        instance->terminatedByModel = 1;
        return fmi2Discard;
      }
      fmiMoveTime(instance, target);
      fmiExtrapolateInputs(instance, target);
      passesInPlace = 0;
      fmiResultOutputPoint(instance, target);
      if (instance->iuser[kIuserStepEvent] == 0) continue;
    } else {
      // A time event is due.
      fmiMoveTime(instance, std::max(*nextEvent, instance->time));
      if (instance->time == tEnd) reachedEnd = 1;
    }
    passesInPlace = instance->time > before ? 0 : passesInPlace + 1;
    if (passesInPlace > kStalledPassLimit) return stalled(instance);
    fmiResultSample(instance, 1);
    const fmi2Status status = fmiDoStep(instance, 0);
    if (status != fmi2OK) return status;
    fmiResultSample(instance, 1);
  }
  instance->time = tEnd;
  if (instance->solver != nullptr) instance->solver->inputDerivativesValid = 0;
  // The integrator's answer at tEnd lies between its own points, where the
  // model was evaluated; a state there that the model cannot evaluate (a
  // level interpolated below zero) is no result of the step.
  if (instance->computedLevel < 2) {
    const int32_t qiErr = fmiEvaluate(instance, 2, kDoStep, nullptr);
    if (qiErr == kQiErrTerminated) {
      logTo(instance, fmi2Discard, "%s: simulation terminated by model", kDoStep);
      instance->terminatedByModel = 1;
      return fmi2Discard;
    }
    if (qiErr != 0) return fmiTerminateOnError(instance);
  }
  return fmi2OK;
}

fmi2Status doStep(fmiInstance *instance, double point, double step) {
  if (instance->fmuType != fmi2CoSimulation) {
    logTo(instance, fmi2Error, "%s: not a Co-Simulation instance, ignoring call", kDoStep);
    return fmi2Error;
  }
  // Every step that computes nothing is refused with fmi2Error ("the
  // communication step could not be carried through") and changes nothing:
  // a master that took it for success would lose step with the unit.
  if (instance->state == fmiStateInstantiated || instance->state == fmiStateInitializationMode) {
    logTo(instance, fmi2Error, "%s: Initialization must be finished before calling fmiDoStep",
          kDoStep);
    return fmi2Error;
  }
  if (instance->state == fmiStateTerminated || instance->terminatedByModel == 1) {
    logTo(instance, fmi2Error, "%s: model is terminated", kDoStep);
    return fmi2Error;
  }
  if (!std::isfinite(point)) {
    fmiLog(instance, instance->instanceName, fmi2Error, "",
           "%s: invalid currentCommunicationPoint = %g, ignoring call", kDoStep, point);
    return fmi2Error;
  }
  if (!std::isfinite(step) || step < 0.0) {
    fmiLog(instance, instance->instanceName, fmi2Error, "",
           "%s: invalid communicationStepSize = %g, ignoring call", kDoStep, step);
    return fmi2Error;
  }
  const double time = instance->time;
  const double d = std::fabs(time - point);
  const bool off =
      inlineIntegration(instance) ? d > 1.5 * instance->duser[kDuserFixedStep] : d > 0.0;
  if (off && d >= (std::fabs(time) + 1.0) * kTwoPowMinus50) {
    fmiLog(instance, instance->instanceName, fmi2Error, "",
           "%s: currentCommunicationPoint = %.16f, expected %.16f", kDoStep, point, time);
    return fmi2Error;
  }
  if (step == 0.0) return restartAtPoint(instance);

  double tEnd = point + step;
  // Both finite, the sum may still overflow: an end the time cannot hold.
  if (!std::isfinite(tEnd)) {
    fmiLog(instance, instance->instanceName, fmi2Error, "",
           "%s: invalid end of communication step = %g, ignoring call", kDoStep, tEnd);
    return fmi2Error;
  }
  double reduction = 0.0;
  if (instance->stopTimeDefined) {
    const double overshoot = tEnd - instance->stopTime;
    if (overshoot > 0.0) {
      if (overshoot > (std::fabs(instance->stopTime) + 1.0) * kTwoPowMinus49) {
        fmiLog(instance, instance->instanceName, fmi2Error, "",
               "%s: trying to compute past tStop = %f, to %.16f,  at t = %f", kDoStep,
               instance->stopTime, tEnd, time);
        return fmi2Error;
      }
      reduction = overshoot;
      tEnd = instance->stopTime;
    }
  }
  // A step too short for the time to move (t + h == t, or an end cut back to
  // a stop time the instance has reached).
  if (!(tEnd > time)) {
    fmiLog(instance, instance->instanceName, fmi2Error, "",
           "%s: communicationStepSize = %g does not advance the time beyond t = %.16e, "
           "ignoring call",
           kDoStep, step, time);
    return fmi2Error;
  }
  if (reduction > 0.0) {
    fmiLog(instance, instance->instanceName, fmi2OK, "",
           "t = %f: Reducing communicationStepSize %.16e s to avoid passing tStop.\n", time,
           reduction);
  }

  const fmi2Status status =
      inlineIntegration(instance) ? inlineSteps(instance, tEnd) : variableSteps(instance, tEnd);
  if (status != fmi2OK) return status;
  logTo(instance, fmi2OK, "%s", kDoStep);
  return fmi2OK;
}

// Refusals shared by the two derivative functions; fmi2OK when accepted.
// nvr is refused when 0 and, with limited set, when beyond count.
fmi2Status derivativeRefusal(fmiInstance *instance, const char *name, size_t nvr, uint32_t count,
                             const char *nvrFormat, bool limited) {
  if (inlineIntegration(instance)) {
    logTo(instance, fmi2Warning, "%s is not suported with inline integration", name);
    return fmi2Warning;
  }
  if (instance->state == fmiStateInstantiated) {
    fmiLog(instance, instance->instanceName, fmi2Warning, "",
           "%s: fmi2EnterInitializationMode must be called before calling %s", name, name);
    return fmi2Warning;
  }
  // After terminate the solver record is released.
  if (instance->state == fmiStateTerminated || instance->solver == nullptr) {
    logTo(instance, fmi2Warning, "%s: model is terminated, ignoring call", name);
    return fmi2Warning;
  }
  if (nvr == 0 || (limited && nvr > count)) {
    fmiLog(instance, instance->instanceName, fmi2Warning, "", nvrFormat, name,
           static_cast<int>(nvr), static_cast<int>(count));
    return fmi2Warning;
  }
  return fmi2OK;
}

fmi2Status setInputDerivatives(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                               const fmi2Integer order[], const fmi2Real value[]) {
  const char *name = "fmi2SetRealInputDerivatives";
  // Each (reference, order) pair counts on its own, as in a call of its
  // own: one input may come with several orders, of which the unsupported
  // ones are refused and the first order is applied.
  const fmi2Status refusal =
      derivativeRefusal(instance, name, nvr, instance->nu,
                        "%s: invalid nvr = %d (number of inputs = %d), ignoring call", false);
  if (refusal != fmi2OK) return refusal;
  fmiSolverData *solver = instance->solver;
  fmi2Status result = fmi2OK;
  bool applied = false;
  for (size_t i = 0; i < nvr; ++i) {
    if (order[i] != 1) {
      fmiLog(instance, instance->instanceName, fmi2Warning, "",
             "%s: derivative order %d is not supported", name, order[i]);
      result = fmi2Warning;
      continue;
    }
    const uint32_t index = fmiReferenceIndex(vr[i]);
    if (fmiReferenceCategory(vr[i]) != fmiCategory::Input || index >= instance->nu) {
      logTo(instance, fmi2Warning, "%s: variable is not input", name);
      result = fmi2Warning;
      continue;
    }
    solver->inputDerivatives[index] = value[i];
    applied = true;
  }
  if (applied) {
    std::memcpy(solver->inputBase, instance->u, instance->nu * sizeof(double));
    solver->inputDerivativeTime = instance->time;
    solver->inputDerivativesValid = 1;
  }
  if (result == fmi2OK) logTo(instance, fmi2OK, "%s", name);
  return result;
}

fmi2Status getOutputDerivatives(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                                const fmi2Integer order[], fmi2Real value[]) {
  const char *name = "fmi2GetRealOutputDerivatives";
  const fmi2Status refusal = derivativeRefusal(
      instance, name, nvr, instance->ny, "%s: invalid nvr = %d (number of outputs = %d)", true);
  if (refusal != fmi2OK) return refusal;
  // The unit provides the first derivative only, and that as the secant of
  // the last step: other orders, and the first before any step, are refused
  // before anything is evaluated or written.
  const fmiSolverData *solver = instance->solver;
  const double dt = instance->time - solver->previousOutputTime;
  for (size_t i = 0; i < nvr; ++i) {
    if (order[i] < 1) {
      fmiLog(instance, instance->instanceName, fmi2Error, "",
             "%s: derivative order %d is not allowed", name, order[i]);
      return fmi2Error;
    }
    if (order[i] > kMaxOutputDerivativeOrder) {
      fmiLog(instance, instance->instanceName, fmi2Error, "",
             "%s: derivative order %d is not supported", name, order[i]);
      return fmi2Error;
    }
    if (!(dt > 0.0)) {
      fmiLog(instance, instance->instanceName, fmi2Error, "",
             "%s: derivative order %d needs a completed step, time interval for estimate is %f",
             name, order[i], dt);
      return fmi2Error;
    }
  }
  if (const int32_t qiErr = fmiEvaluate(instance, 1, name, nullptr); qiErr != 0) {
    if (qiErr == kQiErrTerminated) return fmiEndedByModel(instance, name);
    return fmiTerminateOnError(instance);
  }
  for (size_t i = 0; i < nvr; ++i) {
    const uint32_t index = fmiReferenceIndex(vr[i]);
    if (fmiReferenceCategory(vr[i]) != fmiCategory::Output || index >= instance->ny) {
      logTo(instance, fmi2Warning, "%s: variable is not output", name);
      return fmi2Warning;
    }
    value[i] = (instance->y[index] - solver->previousOutputs[index]) / dt;
  }
  logTo(instance, fmi2OK, "%s", name);
  return fmi2OK;
}

// A C host may pass any int as a status kind: it is read as one, never as
// an fmi2StatusKind outside the type's values.
int kindValue(const fmi2StatusKind &s) {
  int kind = 0;
  static_assert(sizeof kind == sizeof s);
  std::memcpy(&kind, &s, sizeof kind);
  return kind;
}

fmi2Status unknownKind(fmiInstance *instance, const char *name, int kind) {
  fmiLog(instance, instance->instanceName, fmi2Discard, "", "%s: fmiStatusKind %d unknown", name,
         kind);
  return fmi2Discard;
}

fmi2Status notSupported(fmiInstance *instance, const char *name) {
  logTo(instance, fmi2Discard,
        "%s: not supported since asynchronous execution of fmiDoStep is not supported", name);
  return fmi2Discard;
}

// A null argument the call needs: refused with fmi2Error.
fmi2Status nullValue(fmiInstance *instance, const char *name) {
  logTo(instance, fmi2Error, "%s: invalid argument value = NULL", name);
  return fmi2Error;
}

fmi2Status nullArrays(fmiInstance *instance, const char *name) {
  logTo(instance, fmi2Error, "%s: invalid argument vr, order or value = NULL", name);
  return fmi2Error;
}

void freeSolver(fmiInstance *instance) { fmiFreeSolverData(instance, instance); }

} // namespace

// ---- Instantiation, initialization, terminate -----------------------------------

fmiInstance *fmiInstantiateCS(fmi2String instanceName, fmi2String fmuGUID,
                              fmi2String fmuResourceLocation,
                              const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                              fmi2Boolean loggingOn) {
  fmiInstance *instance = fmiInstantiateCommon(instanceName, fmuGUID, fmuResourceLocation,
                                               functions, visible, loggingOn);
  if (instance == nullptr) return nullptr;
  instance->operations = &fmiCoSimulationOperations;
  if (functions->stepFinished != nullptr) {
    logTo(instance, fmi2Warning,
          "%s: Callback function stepFinished != NULL but asynchronous fmiDoStep is not supported",
          "fmi2Instantiate");
  }
  logTo(instance, fmi2OK, "%s", "fmi2Instantiate");
  return instance;
}

fmi2Status fmiInitializeCS(fmiInstance *instance, double relativeTolerance, double startTime,
                           int32_t stopTimeDefined, double stopTime) {
  // A refused initialization changes nothing: the time moves to the start
  // only in a state that accepts it (fmi2SetTime's own checks apply as well).
  if (fmiStateAccepted(fmiFunction::EnterInitializationMode, instance->state)) {
    (void)fmiSetTime(instance, startTime);
  }
  const fmi2Status status = fmiInitialize(instance);
  if (status != fmi2OK) return status;
  instance->stopTimeDefined = stopTimeDefined;
  instance->stopTime = stopTime;
  instance->valuesChanged = 0;
  if (!inlineIntegration(instance)) {
    if (fmiSetupSolver(instance, relativeTolerance) != 0) {
      logTo(instance, fmi2Fatal, "%s: integrator set-up failed", "fmi2EnterInitializationMode");
      return fmi2Fatal;
    }
    // The integrator restarts from the states that initialization produces,
    // which parameters set in initialization mode still change.
    instance->solver->restartPending = 1;
  }
  return fmi2OK;
}

fmi2Status fmiEnterInitializationModeCS(fmiInstance *instance, double tolerance, double startTime,
                                        int32_t stopTimeDefined, double stopTime) {
  const double relTol = instance->toleranceDefined ? tolerance : kDefaultRelativeTolerance;
  const fmi2Status status = fmiInitializeCS(instance, relTol, startTime, stopTimeDefined, stopTime);
  if (status != fmi2OK) return status;
  instance->state = fmiStateInitializationMode;
  instance->inlineStepCount = 0;
  logTo(instance, fmi2OK, "%s", "fmi2EnterInitializationMode");
  return fmi2OK;
}

const fmiKindOperations fmiCoSimulationOperations{fmiTerminateCS, freeSolver};

fmi2Status fmiTerminateCS(fmiInstance *instance) {
  const char *name = "fmi2Terminate";
  logTo(instance, fmi2OK, "%s...", name);
  if (instance->state == fmiStateTerminated) {
    logTo(instance, fmi2Warning, "%s: already terminated, ignoring call", name);
    return fmi2Warning;
  }
  const fmi2Status result = fmiTerminalSection(instance, name);
  if (!inlineIntegration(instance)) fmiFinishSolver(instance);
  fmiProfilingReport(instance);
  fmiResultFinish(instance);
  instance->state = fmiStateTerminated;
  logTo(instance, fmi2OK, "%s completed", name);
  return result;
}

// ---- Exports -----------------------------------------------------------------------

extern "C" {

FMI2_Export fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint,
                                  fmi2Real communicationStepSize,
                                  fmi2Boolean noSetFMUStatePriorToCurrentPoint) {
  return fmiGuarded(c, kDoStep, [&](fmiInstance *i) {
    fmiResultBeginStep(i, noSetFMUStatePriorToCurrentPoint);
    return doStep(i, currentCommunicationPoint, communicationStepSize);
  });
}

FMI2_Export fmi2Status fmi2CancelStep(fmi2Component c) {
  return fmiGuarded(c, "fmi2CancelStep", [&](fmiInstance *i) {
    logTo(i, fmi2Discard, "%s: asynchronous execution of fmiDoStep is not supported",
          "fmi2CancelStep");
    return fmi2Discard;
  });
}

FMI2_Export fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind, fmi2Status *) {
  return fmiGuarded(c, "fmi2GetStatus",
                    [&](fmiInstance *i) { return notSupported(i, "fmi2GetStatus"); });
}

FMI2_Export fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real *value) {
  const char *name = "fmi2GetRealStatus";
  return fmiGuarded(c, name, [&](fmiInstance *i) {
    const int kind = kindValue(s);
    if (kind != fmi2LastSuccessfulTime) return unknownKind(i, name, kind);
    if (value == nullptr) return nullValue(i, name);
    *value = i->time;
    return fmi2OK;
  });
}

FMI2_Export fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind s,
                                            fmi2Integer *) {
  return fmiGuarded(c, "fmi2GetIntegerStatus", [&](fmiInstance *i) {
    return unknownKind(i, "fmi2GetIntegerStatus", kindValue(s));
  });
}

FMI2_Export fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind s,
                                            fmi2Boolean *value) {
  const char *name = "fmi2GetBooleanStatus";
  return fmiGuarded(c, name, [&](fmiInstance *i) {
    const int kind = kindValue(s);
    if (kind != fmi2Terminated) return unknownKind(i, name, kind);
    if (value == nullptr) return nullValue(i, name);
    *value = i->terminatedByModel;
    return fmi2OK;
  });
}

FMI2_Export fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind, fmi2String *) {
  return fmiGuarded(c, "fmi2GetStringStatus",
                    [&](fmiInstance *i) { return notSupported(i, "fmi2GetStringStatus"); });
}

FMI2_Export fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference vr[],
                                                   size_t nvr, const fmi2Integer order[],
                                                   const fmi2Real value[]) {
  const char *name = "fmi2SetRealInputDerivatives";
  return fmiGuarded(c, name, [&](fmiInstance *i) {
    if (nvr != 0 && (vr == nullptr || order == nullptr || value == nullptr)) {
      return nullArrays(i, name);
    }
    return setInputDerivatives(i, vr, nvr, order, value);
  });
}

FMI2_Export fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference vr[],
                                                    size_t nvr, const fmi2Integer order[],
                                                    fmi2Real value[]) {
  const char *name = "fmi2GetRealOutputDerivatives";
  return fmiGuarded(c, name, [&](fmiInstance *i) {
    if (nvr != 0 && (vr == nullptr || order == nullptr || value == nullptr)) {
      return nullArrays(i, name);
    }
    return getOutputDerivatives(i, vr, nvr, order, value);
  });
}

} // extern "C"
