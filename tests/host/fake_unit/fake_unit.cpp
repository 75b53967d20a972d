// A small Model Exchange unit with every kind of event, to drive fmuhost's
// event handling (the vessel has none).  It checks the order of the host's
// calls against the Model Exchange state machine and refuses, with fmi2Error
// and a log message "state violation: ...", any call in the wrong mode.
//
// Model: x' = 1 from x = 0.
//   state event:  z = x - 0.37 changes sign -> x := 0, resets += 1
//   time events:  t = 0.25, 0.75, 1.25; each takes two passes of the event
//                 iteration (passes += 2), ticks += 1; the one at 1.25 ends
//                 the simulation (terminateSimulation)
//   step event:   the first completed step at t >= 0.85 asks for event mode;
//                 the event then counts stepEvents += 1
#include "fmi/fmi2.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

enum class Mode { Instantiated, Initialization, Event, ContinuousTime, Terminated };

struct Fake {
  fmi2CallbackFunctions functions;
  Mode mode = Mode::Instantiated;
  double time = 0, x = 0;
  double resets = 0, ticks = 0, stepEvents = 0, passes = 0;
  bool stepEventPending = false, stepEventDone = false;
  bool timeEventPending = false;
  int pendingPasses = 0;
  int nextTimeEvent = 0; // index into timeEvents
  double zAtLastEvent = -0.37;
};

const double timeEvents[] = {0.25, 0.75, 1.25};

Fake *fake(fmi2Component c) { return static_cast<Fake *>(c); }

fmi2Status violation(Fake *f, const char *what) {
  f->functions.logger(f->functions.componentEnvironment, "fake", fmi2Error, "",
                      "state violation: %s", what);
  return fmi2Error;
}

double *variable(Fake *f, fmi2ValueReference vr) {
  switch (vr) {
  case 0:
    return &f->x;
  case 2:
    return &f->resets;
  case 3:
    return &f->ticks;
  case 4:
    return &f->stepEvents;
  case 5:
    return &f->passes;
  default:
    return nullptr;
  }
}

} // namespace

extern "C" {

const char *fmi2GetTypesPlatform(void) { return fmi2TypesPlatform; }
const char *fmi2GetVersion(void) { return fmi2Version; }
fmi2Status fmi2SetDebugLogging(fmi2Component, fmi2Boolean, size_t, const fmi2String[]) {
  return fmi2OK;
}

fmi2Component fmi2Instantiate(fmi2String, fmi2Type type, fmi2String guid, fmi2String,
                              const fmi2CallbackFunctions *functions, fmi2Boolean, fmi2Boolean) {
  if (type != fmi2ModelExchange || !functions || std::strcmp(guid, "{fake}") != 0) return nullptr;
  void *memory = functions->allocateMemory(1, sizeof(Fake));
  if (!memory) return nullptr;
  Fake *f = new (memory) Fake{*functions};
  return f;
}

void fmi2FreeInstance(fmi2Component c) {
  if (!c) return;
  fmi2CallbackFreeMemory freeMemory = fake(c)->functions.freeMemory;
  fake(c)->~Fake();
  freeMemory(c);
}

fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean, fmi2Real, fmi2Real start, fmi2Boolean,
                               fmi2Real) {
  if (fake(c)->mode != Mode::Instantiated) return violation(fake(c), "fmi2SetupExperiment");
  fake(c)->time = start;
  return fmi2OK;
}

fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
  if (fake(c)->mode != Mode::Instantiated) return violation(fake(c), "fmi2EnterInitializationMode");
  fake(c)->mode = Mode::Initialization;
  return fmi2OK;
}

fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
  if (fake(c)->mode != Mode::Initialization)
    return violation(fake(c), "fmi2ExitInitializationMode");
  fake(c)->mode = Mode::Event;
  return fmi2OK;
}

fmi2Status fmi2Terminate(fmi2Component c) {
  if (fake(c)->mode == Mode::Terminated || fake(c)->mode == Mode::Instantiated)
    return violation(fake(c), "fmi2Terminate");
  fake(c)->mode = Mode::Terminated;
  return fmi2OK;
}

fmi2Status fmi2Reset(fmi2Component c) { return violation(fake(c), "fmi2Reset is not expected"); }

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t n, fmi2Real v[]) {
  Fake *f = fake(c);
  if (f->mode == Mode::Instantiated) return violation(f, "fmi2GetReal before initialization");
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] == 1) {
      v[i] = 1.0;
      continue;
    }
    double *p = variable(f, vr[i]);
    if (!p) return violation(f, "fmi2GetReal of an unknown reference");
    v[i] = *p;
  }
  return fmi2OK;
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference[], size_t, const fmi2Real[]) {
  return violation(fake(c), "fmi2SetReal: the model has no parameters or inputs");
}
fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference[], size_t, fmi2Integer[]) {
  return violation(fake(c), "fmi2GetInteger");
}
fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference[], size_t, fmi2Boolean[]) {
  return violation(fake(c), "fmi2GetBoolean");
}
fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference[], size_t, fmi2String[]) {
  return violation(fake(c), "fmi2GetString");
}
fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference[], size_t,
                          const fmi2Integer[]) {
  return violation(fake(c), "fmi2SetInteger");
}
fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference[], size_t,
                          const fmi2Boolean[]) {
  return violation(fake(c), "fmi2SetBoolean");
}
fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference[], size_t, const fmi2String[]) {
  return violation(fake(c), "fmi2SetString");
}

fmi2Status fmi2EnterEventMode(fmi2Component c) {
  Fake *f = fake(c);
  if (f->mode != Mode::ContinuousTime) return violation(f, "fmi2EnterEventMode");
  f->mode = Mode::Event;
  return fmi2OK;
}

fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo *info) {
  Fake *f = fake(c);
  if (f->mode != Mode::Event) return violation(f, "fmi2NewDiscreteStates outside event mode");
  *info = fmi2EventInfo{};
  if (f->x - 0.37 >= 0 && f->zAtLastEvent < 0) {
    f->x = 0;
    f->resets += 1;
    info->valuesOfContinuousStatesChanged = fmi2True;
  }
  f->zAtLastEvent = f->x - 0.37;
  if (f->stepEventPending) {
    f->stepEventPending = false;
    f->stepEvents += 1;
  }
  if (f->nextTimeEvent < 3 && f->time >= timeEvents[f->nextTimeEvent] - 1e-12) {
    if (f->pendingPasses == 0) f->pendingPasses = 2;
    f->passes += 1;
    if (--f->pendingPasses > 0) {
      info->newDiscreteStatesNeeded = fmi2True;
    } else {
      f->ticks += 1;
      if (++f->nextTimeEvent == 3) info->terminateSimulation = fmi2True;
    }
  }
  if (f->nextTimeEvent < 3) {
    info->nextEventTimeDefined = fmi2True;
    info->nextEventTime = timeEvents[f->nextTimeEvent];
  }
  return fmi2OK;
}

fmi2Status fmi2EnterContinuousTimeMode(fmi2Component c) {
  Fake *f = fake(c);
  if (f->mode != Mode::Event || f->pendingPasses != 0)
    return violation(f, "fmi2EnterContinuousTimeMode before the event iteration converged");
  f->mode = Mode::ContinuousTime;
  return fmi2OK;
}

fmi2Status fmi2CompletedIntegratorStep(fmi2Component c, fmi2Boolean, fmi2Boolean *enterEventMode,
                                       fmi2Boolean *terminateSimulation) {
  Fake *f = fake(c);
  if (f->mode != Mode::ContinuousTime) return violation(f, "fmi2CompletedIntegratorStep");
  *terminateSimulation = fmi2False;
  *enterEventMode = fmi2False;
  if (!f->stepEventDone && f->time >= 0.85 - 1e-12) {
    f->stepEventDone = f->stepEventPending = true;
    *enterEventMode = fmi2True;
  }
  return fmi2OK;
}

fmi2Status fmi2SetTime(fmi2Component c, fmi2Real t) {
  Fake *f = fake(c);
  if (f->mode != Mode::ContinuousTime) return violation(f, "fmi2SetTime");
  if (f->nextTimeEvent < 3 && t > timeEvents[f->nextTimeEvent] + 1e-9)
    return violation(f, "fmi2SetTime past the next time event");
  f->time = t;
  return fmi2OK;
}

fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real x[], size_t n) {
  Fake *f = fake(c);
  if (f->mode != Mode::ContinuousTime || n != 1) return violation(f, "fmi2SetContinuousStates");
  f->x = x[0];
  return fmi2OK;
}

fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real dx[], size_t n) {
  Fake *f = fake(c);
  if (f->mode == Mode::Instantiated || n != 1) return violation(f, "fmi2GetDerivatives");
  dx[0] = 1.0;
  return fmi2OK;
}

fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real z[], size_t n) {
  Fake *f = fake(c);
  if (f->mode == Mode::Instantiated || f->mode == Mode::Initialization || n != 1)
    return violation(f, "fmi2GetEventIndicators");
  z[0] = f->x - 0.37;
  return fmi2OK;
}

fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real x[], size_t n) {
  Fake *f = fake(c);
  if (f->mode == Mode::Instantiated || n != 1) return violation(f, "fmi2GetContinuousStates");
  x[0] = f->x;
  return fmi2OK;
}

fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component, fmi2Real x[], size_t n) {
  for (size_t i = 0; i < n; ++i) x[i] = 1.0;
  return fmi2OK;
}

} // extern "C"
