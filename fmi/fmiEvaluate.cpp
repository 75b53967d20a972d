// The evaluation wrapper and everything built on it: initialization, the
// exit of initialization, the event iteration, event updating, terminate and
// the error path.
//
// Every evaluation of the FMI layer goes through fmiEvaluate, which picks the
// event phase from the instance state, marks the instance as the one under
// evaluation on this thread (so runtime messages reach its logger) and turns
// the success codes of the driver into 0.
#include "fmi/fmiEvaluate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiResult.h"
#include "fmi/fmiStateMachine.h"
#include "fmi/fmiVariables.h"
#include "model/ModelInstanceData.h"
#include "model/model.h"
#include "model/model_data.h"
#include "source/runtime.h"

namespace {

constexpr bool inEventMode(int32_t state) {
  return state == fmiStateEventMode || state == fmiStateEventIteration ||
         state == fmiStateEventModeDone;
}

// Sets the evaluating instance of the calling thread for the duration of
// one driver call.
class EvaluatingScope {
public:
  explicit EvaluatingScope(fmiInstance *c)
      : thread_(fmiThreadOf(c)), previous_(thread_->evaluating) {
    thread_->evaluating = c;
  }
  ~EvaluatingScope() { thread_->evaluating = previous_; }
  EvaluatingScope(const EvaluatingScope &) = delete;
  EvaluatingScope &operator=(const EvaluatingScope &) = delete;
  // The runtime's record of the thread, for the driver.
  ThreadContext *runtime() const { return fmiRuntimeRecord(thread_); }

private:
  fmiThreadState *thread_;
  fmiInstance *previous_;
};

// One driver call with the instance's arrays: the steps shared by every
// evaluation and the terminal section.  The outcome is in lastQiErr.
void callDriver(fmiInstance *c, int32_t *request) {
  c->lastQiErr = 0;
  copyExtraArraysIn(c->runtime, c->extra1, c->extra2);
  {
    EvaluatingScope scope(c);
    dsblockInstanceIn(scope.runtime(), request, &c->computedLevel, &c->time, c->x, nullptr, c->u,
                      c->p, nullptr, nullptr, c->xdot, c->y, c->w, c->z, c->evaluationDuser,
                      c->evaluationIuser, c->strings, c->runtime, &c->lastQiErr);
  }
  copyExtraArraysOut(c->runtime, c->extra1, c->extra2);
}

void logName(fmiInstance *c, const char *format, const char *name) {
  if (fmiLogDelivers(c, fmi2OK)) fmiLog(c, c->instanceName, fmi2OK, "", format, name);
}

} // namespace

int32_t fmiEvaluate(fmiInstance *c, int32_t request, const char *name, int32_t *converged) {
  ModelInstanceData *data = c->runtime;
  if (c->state == fmiStateInstantiated || c->state == fmiStateInitializationMode) {
    if (getEventPhase(data) == 0) setEventPhase(data, 5);
  } else if (inEventMode(c->state)) {
    if (c->firstEvaluationInEventMode != 0) {
      setEventPhase(data, 2);
      c->firstEvaluationInEventMode = 0;
    } else if (getEventPhase(data) == 0) {
      setEventPhase(data, 5);
    }
    request = kRequestEvent;
  }
  callDriver(c, &request);
  if (converged != nullptr) *converged = getEventPhase(data) == 0 ? 1 : 0;
  setEventPhase(data, 0);
  // A value set on a stepping Co-Simulation instance stays pending for its
  // next fmi2DoStep, which restarts the integrator with it, whatever was
  // evaluated in between.
  if (c->valuesChanged != 0 && c->fmuType == fmi2CoSimulation &&
      c->state == fmiStateContinuousTimeMode) {
    c->inputsChanged = 1;
  }
  c->valuesChanged = 0;
  c->noSolverReinit =
      request == kRequestEvent && (c->lastQiErr == -995 || c->lastQiErr == -993) ? 1 : 0;
  if (qiErrIsSuccess(c->lastQiErr)) c->lastQiErr = 0;
  // The outcome of this call, whatever a logger that calls back into the
  // unit evaluates meanwhile.
  const int32_t qiErr = c->lastQiErr;
  if (qiErr == 0) return 0;
  if (data != nullptr && data->iteration > data->iterationLimit) {
    // The driver explains an event iteration that did not settle in plain
    // log lines, which a host without logging never sees.
    const fmiCall call = fmiThreadOf(c)->call;
    fmiLog(c, c->instanceName, fmi2Error, "",
           "%s: Finding consistent restart conditions failed at time: %.16G",
           call.name != nullptr ? call.name : "fmiEvaluate", c->time);
  }
  if (name != nullptr && qiErr != kQiErrTerminated) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: dsblock_ failed, QiErr = %d", name,
           static_cast<int>(qiErr));
  }
  c->lastQiErr = qiErr;
  return qiErr;
}

fmi2Status fmiEndedByModel(fmiInstance *c, const char *name) {
  fmiLog(c, c->instanceName, fmi2Discard, "", "%s: simulation terminated by model", name);
  c->terminatedByModel = 1;
  return fmi2Discard;
}

namespace {

// The model asked to end the run while it was initialized: no error, but
// the run is over before it began.
fmi2Status endedByModelInInitialization(fmiInstance *c, const char *name) {
  (void)fmiEndedByModel(c, name);
  (void)fmiTerminateOnError(c);
  return fmi2Discard;
}

} // namespace

int32_t fmiEvaluateInitialization(fmiInstance *c) {
  c->computedLevel = -1;
  setEventPhase(c->runtime, 2);
  return fmiEvaluate(c, kRequestInitial, nullptr, nullptr);
}

bool fmiEvaluated(const fmiInstance *c, int32_t request) {
  const ModelInstanceData *data = c->runtime;
  return c->state == fmiStateContinuousTimeMode && c->computedLevel >= request &&
         c->lastQiErr == 0 && c->forceEvaluation == 0 && data != nullptr && data->eventPhase == 0 &&
         data->lastChangeCount == c->iuser[kIuserChangeCount];
}

fmi2Status fmiInitialize(fmiInstance *c) {
  if (!fmiCheckState(c, fmiFunction::EnterInitializationMode)) return fmi2Warning;
  c->terminatedByModel = 0;
  dssettings_(c->duser, c->iuser);
  if (c->fmuType == fmi2CoSimulation && c->iuser[kIuserInlineSetting] != 0) {
    setInlineIntegration(c->runtime, 1);
    c->iuser[kIuserFixedStepMode] = 1;
  } else {
    setInlineIntegration(c->runtime, 0);
  }
  const int32_t qiErr = fmiEvaluateInitialization(c);
  if (qiErr == kQiErrTerminated)
    return endedByModelInInitialization(c, fmiFunctionName(fmiFunction::EnterInitializationMode));
  if (qiErr != 0) {
    fmiLog(c, c->instanceName, fmi2Error, "", "fmiInitialize: dsblock_ failed, QiErr = %d",
           static_cast<int>(qiErr));
    fmiLog(c, c->instanceName, fmi2Error, "", "%s",
           "Unless otherwise indicated by error messages, possible errors are "
           "(non-exhaustive):\nThe model references external data that is not present on "
           "the target machine, at least not with the same location.\n");
    fmiTerminateOnError(c);
    return fmi2Error;
  }
  if (c->resultGenerationOn == 1) fmiResultSetup(c);
  return fmi2OK;
}

fmi2Status fmiEnterInitializationModeME(fmiInstance *c) {
  const char *name = fmiFunctionName(fmiFunction::EnterInitializationMode);
  logName(c, "%s...", name);
  const fmi2Status status = fmiInitialize(c);
  if (status != fmi2OK) return status;
  c->state = fmiStateInitializationMode;
  logName(c, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiExitInitialization(fmiInstance *c, const char *name, int32_t target) {
  if (!fmiCheckState(c, fmiFunction::ExitInitializationMode, name)) return fmi2Warning;
  setEventPhase(c->runtime, 4);
  const int32_t qiErr = fmiEvaluate(c, kRequestInitial, name, nullptr);
  if (qiErr == kQiErrTerminated) return endedByModelInInitialization(c, name);
  if (qiErr != 0) return fmiTerminateOnError(c);
  setEventPhase(c->runtime, 0);
  fmiResultStore(c, 1);
  c->state = target;
  return fmi2OK;
}

fmi2Status fmiExitInitializationMode(fmiInstance *c) {
  if (c->fmuType == fmi2CoSimulation) {
    // The Co-Simulation messages name the function without the 2.
    const char *name = "fmiExitInitializationMode";
    logName(c, "%s...", name);
    const fmi2Status status = fmiExitInitialization(c, name, fmiStateContinuousTimeMode);
    if (status != fmi2OK) return status;
    c->state = fmiStateContinuousTimeMode;
    logName(c, "%s completed", name);
    return fmi2OK;
  }
  const char *name = fmiFunctionName(fmiFunction::ExitInitializationMode);
  logName(c, "%s...", name);
  const fmi2Status status = fmiExitInitialization(c, name, fmiStateEventMode);
  if (status != fmi2OK) return status;
  c->firstEvaluationInEventMode = 1;
  logName(c, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiEnterEventMode(fmiInstance *c) {
  const char *name = fmiFunctionName(fmiFunction::EnterEventMode);
  logName(c, "%s...", name);
  if (!fmiCheckState(c, fmiFunction::EnterEventMode)) return fmi2Warning;
  c->state = fmiStateEventMode;
  c->firstEvaluationInEventMode = 1;
  logName(c, "%s done", name);
  return fmi2OK;
}

fmi2Status fmiNewDiscreteStates(fmiInstance *c, fmi2EventInfo *info) {
  const char *name = fmiFunctionName(fmiFunction::NewDiscreteStates);
  logName(c, "%s...", name);
  if (c->fmuType == fmi2ModelExchange) fmiResultStore(c, 1);
  std::copy_n(c->x, c->nx, c->xPrev);
  if (c->state == fmiStateReserved) c->state = fmiStateEventMode;
  if (c->state == fmiStateContinuousTimeMode && (c->nx == 0 || c->fmuType == fmi2CoSimulation)) {
    c->state = fmiStateEventMode;
  }
  if (!fmiCheckState(c, fmiFunction::NewDiscreteStates)) return fmi2Warning;
  if (c->state == fmiStateEventModeDone) c->state = fmiStateEventMode;

  int32_t converged = 0;
  int32_t qiErr = 0;
  if (c->valuesChanged != 0 && c->firstEvaluationInEventMode == 0) {
    setEventPhase(c->runtime, 5);
    qiErr = fmiEvaluate(c, kRequestEvent, nullptr, &converged);
  }
  if (qiErr == 0) {
    setEventPhase(c->runtime, 3);
    c->computedLevel = 0;
    qiErr = fmiEvaluate(c, kRequestEvent, nullptr, &converged);
  }
  int32_t changed = 0;
  for (uint32_t i = 0; i < c->nx; ++i) {
    if (!(c->x[i] == c->xPrev[i])) changed = 1; // a NaN counts as different
  }
  info->valuesOfContinuousStatesChanged = changed;

  if (qiErr == kQiErrTerminated) {
    logName(c, "%s: simulation terminated by model", name);
    info->newDiscreteStatesNeeded = fmi2False;
    info->terminateSimulation = fmi2True;
    info->nominalsOfContinuousStatesChanged = fmi2False;
    info->nextEventTimeDefined = fmi2False;
    info->nextEventTime = 1e37;
    c->state = fmiStateEventModeDone;
    c->terminatedByModel = 1;
    return fmi2OK;
  }
  if (qiErr != 0) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: dsblock_ failed, QiErr = %d", name,
           static_cast<int>(qiErr));
    return fmiTerminateOnError(c);
  }
  if (booleanResetCount > 0) {
    (void)fmiSetBoolean(c, booleanResetReferences, booleanResetCount, c->booleanResetValues);
  }
  if (converged != 0) {
    info->newDiscreteStatesNeeded = fmi2False;
    c->state = fmiStateEventModeDone;
    c->lastNewDiscreteStatesNeeded = 0;
  } else {
    info->newDiscreteStatesNeeded = fmi2True;
    c->state = fmiStateEventIteration;
    c->lastNewDiscreteStatesNeeded = 1;
  }
  info->terminateSimulation = fmi2False;
  info->nominalsOfContinuousStatesChanged = fmi2False;
  const double nextEvent = c->duser[kDuserNextTimeEvent];
  if (nextEvent < 1e37) {
    info->nextEventTimeDefined = fmi2True;
    info->nextEventTime = nextEvent;
  } else {
    info->nextEventTimeDefined = fmi2False;
  }
  c->inputsChanged = 0;
  c->jacobianOutdated = 1;
  logName(c, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiEventUpdate(fmiInstance *c, int32_t *terminated) {
  int32_t converged = 0;
  int32_t qiErr = 0;
  if (c->iuser[kIuserInlineSetting] == 0) {
    qiErr = fmiEvaluate(c, kRequestAuxiliaries, nullptr, &converged);
    *terminated = 0;
  }
  if (qiErr == 0) {
    setEventPhase(c->runtime, c->eventIterationUnderway != 0 ? 4 : 0);
    c->computedLevel = 0;
    qiErr = fmiEvaluate(c, kRequestEvent, nullptr, &converged);
    *terminated = 0;
  }
  if (qiErr == kQiErrTerminated) {
    fmiLog(c, c->instanceName, fmi2OK, "", "event updating: simulation terminated by model");
    *terminated = 1;
    return fmi2OK;
  }
  if (qiErr != 0) {
    fmiLog(c, c->instanceName, fmi2Error, "", "event updating: dsblock_ failed, QiErr = %d",
           static_cast<int>(qiErr));
    return fmiTerminateOnError(c);
  }
  c->jacobianOutdated = 1;
  c->lastNewDiscreteStatesNeeded = converged != 0 ? 0 : 1;
  return fmi2OK;
}

fmi2Status fmiEnterContinuousTimeMode(fmiInstance *c) {
  const char *name = fmiFunctionName(fmiFunction::EnterContinuousTimeMode);
  logName(c, "%s...", name);
  if (!fmiCheckState(c, fmiFunction::EnterContinuousTimeMode)) return fmi2Warning;
  fmiResultStore(c, 1);
  c->state = fmiStateContinuousTimeMode;
  logName(c, "%s done", name);
  return fmi2OK;
}

fmi2Status fmiTerminateME(fmiInstance *c) {
  const char *name = fmiFunctionName(fmiFunction::Terminate);
  if (!fmiCheckState(c, fmiFunction::Terminate)) return fmi2Warning;
  fmiLog(c, c->instanceName, fmi2OK, "", "fmi2Terminate");
  const fmi2Status status = fmiTerminalSection(c, name);
  fmiProfilingReport(c);
  fmiResultFinish(c);
  c->state = fmiStateTerminated;
  return status;
}

const fmiKindOperations fmiModelExchangeOperations{fmiTerminateME, nullptr};

fmi2Status fmiTerminate(fmiInstance *c) { return c->operations->terminate(c); }

fmi2Status fmiTerminalSection(fmiInstance *c, const char *name) {
  // An instance that is not initialized (never, or not since a reset) has no
  // simulation to end: its terminal section does not run.
  if (c->lastQiErr != 0 || c->terminatedByModel != 0 || c->state == fmiStateInstantiated) {
    return fmi2OK;
  }
  int32_t request = kRequestTerminal;
  callDriver(c, &request);
  if (qiErrIsSuccess(c->lastQiErr)) c->lastQiErr = 0;
  if (c->lastQiErr != 0 && c->lastQiErr != kQiErrTerminated) {
    fmiLog(c, c->instanceName, fmi2Error, "",
           "%s: calling terminal section of dsblock_ failed, QiErr = %d", name,
           static_cast<int>(c->lastQiErr));
    return fmi2Error;
  }
  return fmi2OK;
}

fmi2Status fmiTerminateOnError(fmiInstance *c) {
  if (c->state == fmiStateInstantiated) {
    c->state = fmiStateTerminated;
  } else if (c->state != fmiStateTerminated) {
    (void)fmiTerminate(c);
    c->state = fmiStateTerminated;
  }
  return fmi2Error;
}

void fmiProfilingReport(fmiInstance *c) {
  int32_t count = 0;
  const ProfileBlock *table = getProfilingTable(c->runtime, &count);
  if (table == nullptr || count <= 0) return;
  count = std::min(count, kModelProfileBlocks); // never beyond the model's table
  long long totalCalls = 0;
  double overhead = 0.0;
  bool first = true;
  size_t width = 14;
  for (int32_t i = 0; i < count; ++i) {
    const ProfileBlock &b = table[i];
    if (b.callCount <= 0) continue;
    totalCalls += b.callCount;
    overhead = first ? b.minTime : std::min(overhead, b.minTime);
    first = false;
    const size_t length = b.name != nullptr ? std::strlen(b.name) : 0;
    width = std::max(width, length);
  }
  if (totalCalls == 0) return;
  width = std::min<size_t>(width, 100);
  const int w = static_cast<int>(width);
  fmiLog(c, c->instanceName, fmi2OK, "",
         "\nProfiling information for the blocks.\n"
         "Estimated overhead per call %11.2f[us] total %12.3f[s]\n"
         "the estimated overhead has been subtracted below.\n"
         "Name of block%*s, Block, Total CPU[s], Mean[us]    ( Min[us]    to Max[us]    ),"
         "   Called\n",
         overhead * 1e6, static_cast<double>(totalCalls) * overhead, w - 13, "");
  for (int32_t i = 0; i < count; ++i) {
    const ProfileBlock &b = table[i];
    if (b.callCount <= 0) continue;
    const double t = b.totalTime - b.callCount * overhead;
    fmiLog(c, "", fmi2OK, "", "%-*.*s: %5d, %12.3f, %11.2f (%11.2f to %11.2f), %8d\n", w, w,
           b.name != nullptr ? b.name : "", static_cast<int>(i), t, t / b.callCount * 1e6,
           (b.minTime - overhead) * 1e6, (b.maxTime - overhead) * 1e6,
           static_cast<int>(b.callCount));
  }
}
