// The Model Exchange functions of continuous-time mode: time, states,
// derivatives, event indicators, nominals and the completed step.
//
// The four readers share one shape: a state check, a count check that
// copies the smaller count and ends with fmi2Warning, an evaluation when the
// computed level does not suffice (in Initialization Mode also after a value
// was set there, as the variable getters do), the copy and the trace.
#include "fmi/fmiContinuous.h"

#include <algorithm>
#include <cmath>

#include "fmi/fmiEvaluate.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiResult.h"
#include "fmi/fmiStateMachine.h"
#include "fmi/fmiVariables.h"
#include "model/ModelInstanceData.h"
#include "source/runtime.h"

namespace {

// The count a mismatch message names: nx (states) or ni (event indicators).
enum class CountKind { States, Indicators };

// Compares the host's count with the instance's; logs the mismatch.  Returns
// the count to copy; *mismatch tells whether the call ends in fmi2Warning.
size_t checkCount(fmiInstance *c, const char *name, CountKind kind, size_t given, uint32_t expected,
                  bool *mismatch) {
  *mismatch = given != expected;
  if (*mismatch) {
    const unsigned g = static_cast<unsigned>(given);
    const unsigned e = static_cast<unsigned>(expected);
    if (kind == CountKind::States) {
      fmiLog(c, c->instanceName, fmi2Warning, "", "%s: argument nx = %u is incorrect, should be %u",
             name, g, e);
    } else {
      fmiLog(c, c->instanceName, fmi2Warning, "", "%s: argument ni = %u is incorrect, should be %u",
             name, g, e);
    }
  }
  return std::min<size_t>(given, expected);
}

// Status after a failed evaluation of a reader: model errors are discarded
// with the instance unchanged, everything else terminates it.
fmi2Status readerFailure(fmiInstance *c, int32_t qiErr, const char *name) {
  // The model's request to end the run reaches the host here and through
  // terminateSimulation at the next completed step.
  if (qiErr == kQiErrTerminated) return fmiEndedByModel(c, name);
  return qiErr == kQiErrError ? fmi2Discard : fmiTerminateOnError(c);
}

void trace(fmiInstance *c, const char *name) {
  if (fmiLogDelivers(c, fmi2OK)) fmiLog(c, c->instanceName, fmi2OK, "", "%s", name);
}

} // namespace

fmi2Status fmiCompletedIntegratorStep(fmiInstance *c, fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                      fmi2Boolean *enterEventMode,
                                      fmi2Boolean *terminateSimulation) {
  fmiResultCompletedStep(c, noSetFMUStatePriorToCurrentPoint);
  *terminateSimulation = c->terminatedByModel;
  *enterEventMode = c->iuser[kIuserStepEvent] != 0 ? fmi2True : fmi2False;
  trace(c, fmiFunctionName(fmiFunction::CompletedIntegratorStep));
  return fmi2OK;
}

fmi2Status fmiSetTime(fmiInstance *c, double time) {
  const char *name = fmiFunctionName(fmiFunction::SetTime);
  // A time that is not a finite number changes nothing.
  if (!std::isfinite(time)) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: invalid argument time = %g, ignoring call", name,
           time);
    return fmi2Error;
  }
  if (c->state == fmiStateEventModeDone) {
    if (c->nx != 0) {
      fmiLog(c, c->instanceName, fmi2Warning, "",
             "%s: only allowed for discrete models when not in continuous time mode", name);
      return fmi2Warning;
    }
    c->state = fmiStateContinuousTimeMode;
  }
  if (!fmiCheckState(c, fmiFunction::SetTime)) return fmi2Warning;
  fmiMoveTime(c, time);
  return fmi2OK;
}

void fmiMoveTime(fmiInstance *c, double time) {
  c->time = time;
  c->computedLevel = 0;
  c->jacobianOutdated = 1;
  if (fmiLogDelivers(c, fmi2OK)) {
    fmiLog(c, c->instanceName, fmi2OK, "", "%s to %g", fmiFunctionName(fmiFunction::SetTime), time);
  }
}

fmi2Status fmiSetContinuousStates(fmiInstance *c, const double x[], size_t nx) {
  const char *name = fmiFunctionName(fmiFunction::SetContinuousStates);
  bool mismatch = false;
  const size_t n = checkCount(c, name, CountKind::States, nx, c->nx, &mismatch);
  trace(c, name);
  std::copy_n(x, n, c->x);
  c->valuesChanged = 1;
  c->computedLevel = 0;
  c->jacobianOutdated = 1;
  return mismatch ? fmi2Warning : fmi2OK;
}

fmi2Status fmiGetContinuousStates(fmiInstance *c, double x[], size_t nx) {
  const char *name = fmiFunctionName(fmiFunction::GetContinuousStates);
  if (!fmiCheckState(c, fmiFunction::GetContinuousStates)) return fmi2Warning;
  bool mismatch = false;
  const size_t n = checkCount(c, name, CountKind::States, nx, c->nx, &mismatch);
  // In Initialization Mode the states follow the values set there.
  if (const int32_t qiErr = fmiRefreshInitialization(c, name); qiErr != 0) {
    return readerFailure(c, qiErr, name);
  }
  std::copy_n(c->x, n, x);
  trace(c, name);
  return mismatch ? fmi2Warning : fmi2OK;
}

fmi2Status fmiGetDerivatives(fmiInstance *c, double derivatives[], size_t nx) {
  const char *name = fmiFunctionName(fmiFunction::GetDerivatives);
  if (!fmiCheckState(c, fmiFunction::GetDerivatives)) return fmi2Warning;
  bool mismatch = false;
  const size_t n = checkCount(c, name, CountKind::States, nx, c->nx, &mismatch);
  if (const int32_t qiErr = fmiRefreshInitialization(c, name); qiErr != 0) {
    return readerFailure(c, qiErr, name);
  }
  if (c->computedLevel < kRequestDerivatives) {
    const int32_t qiErr = fmiEvaluate(c, kRequestDerivatives, name, nullptr);
    if (qiErr != 0) return readerFailure(c, qiErr, name);
  }
  std::copy_n(c->xdot, n, derivatives);
  trace(c, name);
  return mismatch ? fmi2Warning : fmi2OK;
}

fmi2Status fmiGetEventIndicators(fmiInstance *c, double indicators[], size_t ni) {
  const char *name = fmiFunctionName(fmiFunction::GetEventIndicators);
  if (!fmiCheckState(c, fmiFunction::GetEventIndicators)) return fmi2Warning;
  bool mismatch = false;
  const size_t n = checkCount(c, name, CountKind::Indicators, ni, c->nz, &mismatch);
  if (c->computedLevel < kRequestEverything && c->terminatedByModel == 0) {
    const int32_t qiErr = fmiEvaluate(c, kRequestEverything, name, nullptr);
    if (qiErr != 0) return readerFailure(c, qiErr, name);
  }
  std::copy_n(c->z, n, indicators);
  trace(c, name);
  return mismatch ? fmi2Warning : fmi2OK;
}

fmi2Status fmiGetNominalsOfContinuousStates(fmiInstance *c, double nominals[], size_t nx) {
  const char *name = fmiFunctionName(fmiFunction::GetNominalsOfContinuousStates);
  bool mismatch = false;
  const size_t n = checkCount(c, name, CountKind::States, nx, c->nx, &mismatch);
  // A nominal of 0 is the model's "none given" (the integrator set-up reads it
  // so); FMI 2.0 reports 1.0 for a state without nominal information.
  for (size_t i = 0; i < n; ++i) nominals[i] = c->nominals[i] == 0.0 ? 1.0 : c->nominals[i];
  trace(c, name);
  return mismatch ? fmi2Warning : fmi2OK;
}
