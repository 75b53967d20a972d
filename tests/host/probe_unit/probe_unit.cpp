// A small unit of both kinds that probes how fmuhost treats units it did not
// come with.  Unlike fake_unit it does not police the call order; each probe
// is chosen with the parameter `probe` (set with --set before initialization).
//
//   probe 0: x' = -x from x = 1 (a value that changes on every row)
//   probe 1: sliding mode: x' = -s from x = 0.5, event indicator z = x, each
//            event sets s = (x > 0 ? 1 : -1); from t = 0.5 on the events chatter
//   probe 2: event indicator z = c - t, x' = 0
//
// Every fmi2EnterEventMode counts `events`.  In Co-Simulation fmi2DoStep
// takes x = x*exp(-h) and counts `steps`, and `otherSteps` when h differs bit
// for bit from the first step; with fixedStep = 1 it refuses such a step with
// fmi2Error.  With messageLength = N > 0, fmi2ExitInitializationMode logs one
// message of N characters ("<" then dots then ">") and returns fmi2Warning.
// Any other Real reference reads as the reference number (so a description
// may declare as many outputs as it likes).
#include "fmi/fmi2.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace {

struct Probe {
  fmi2CallbackFunctions functions;
  double time = 0, x = 1, s = 1;
  double probe = 0, c = 0.49999999999, messageLength = 0, fixedStep = 0, w = 0;
  double events = 0, steps = 0, otherSteps = 0;
  double firstStep = 0;
  bool stepped = false;
};

Probe *probe(fmi2Component c) { return static_cast<Probe *>(c); }

double *variable(Probe *p, fmi2ValueReference vr) {
  switch (vr) {
  case 0:
    return &p->x;
  case 2:
    return &p->probe;
  case 3:
    return &p->c;
  case 4:
    return &p->messageLength;
  case 5:
    return &p->fixedStep;
  case 6:
    return &p->events;
  case 7:
    return &p->steps;
  case 8:
    return &p->otherSteps;
  case 9:
    return &p->s;
  case 11:
    return &p->w;
  default:
    return nullptr;
  }
}

double derivative(const Probe *p) {
  if (p->probe == 0) return -p->x;
  if (p->probe == 1) return -p->s;
  return 0;
}

double indicator(const Probe *p) {
  if (p->probe == 1) return p->x;
  if (p->probe == 2) return p->c - p->time;
  return 1;
}

} // namespace

extern "C" {

const char *fmi2GetTypesPlatform(void) { return fmi2TypesPlatform; }
const char *fmi2GetVersion(void) { return fmi2Version; }
fmi2Status fmi2SetDebugLogging(fmi2Component, fmi2Boolean, size_t, const fmi2String[]) {
  return fmi2OK;
}

fmi2Component fmi2Instantiate(fmi2String, fmi2Type, fmi2String guid, fmi2String,
                              const fmi2CallbackFunctions *functions, fmi2Boolean, fmi2Boolean) {
  if (!functions || std::strcmp(guid, "{probe}") != 0) return nullptr;
  void *memory = functions->allocateMemory(1, sizeof(Probe));
  if (!memory) return nullptr;
  return new (memory) Probe{*functions};
}

void fmi2FreeInstance(fmi2Component c) {
  if (!c) return;
  fmi2CallbackFreeMemory freeMemory = probe(c)->functions.freeMemory;
  probe(c)->~Probe();
  freeMemory(c);
}

fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean, fmi2Real, fmi2Real start, fmi2Boolean,
                               fmi2Real) {
  probe(c)->time = start;
  return fmi2OK;
}

fmi2Status fmi2EnterInitializationMode(fmi2Component) { return fmi2OK; }

fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
  Probe *p = probe(c);
  p->x = p->probe == 0 ? 1 : p->probe == 1 ? 0.5 : 0;
  p->s = p->x > 0 ? 1 : -1;
  if (p->messageLength > 0) {
    std::string text(static_cast<std::size_t>(p->messageLength), '.');
    text.front() = '<';
    text.back() = '>';
    p->functions.logger(p->functions.componentEnvironment, "probe", fmi2Warning, "long", "%s",
                        text.c_str());
    return fmi2Warning;
  }
  return fmi2OK;
}

fmi2Status fmi2Terminate(fmi2Component) { return fmi2OK; }
fmi2Status fmi2Reset(fmi2Component) { return fmi2Error; }

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t n, fmi2Real v[]) {
  Probe *p = probe(c);
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] == 1) {
      v[i] = derivative(p);
      continue;
    }
    const double *q = variable(p, vr[i]);
    v[i] = q ? *q : static_cast<double>(vr[i]);
  }
  return fmi2OK;
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t n,
                       const fmi2Real v[]) {
  Probe *p = probe(c);
  for (size_t i = 0; i < n; ++i) {
    double *q = variable(p, vr[i]);
    if (!q) return fmi2Error;
    *q = v[i];
  }
  return fmi2OK;
}

fmi2Status fmi2GetInteger(fmi2Component, const fmi2ValueReference[], size_t, fmi2Integer[]) {
  return fmi2Error;
}
fmi2Status fmi2GetBoolean(fmi2Component, const fmi2ValueReference[], size_t, fmi2Boolean[]) {
  return fmi2Error;
}
fmi2Status fmi2GetString(fmi2Component, const fmi2ValueReference[], size_t, fmi2String[]) {
  return fmi2Error;
}
fmi2Status fmi2SetInteger(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Integer[]) {
  return fmi2Error;
}
fmi2Status fmi2SetBoolean(fmi2Component, const fmi2ValueReference[], size_t, const fmi2Boolean[]) {
  return fmi2Error;
}
fmi2Status fmi2SetString(fmi2Component, const fmi2ValueReference[], size_t, const fmi2String[]) {
  return fmi2Error;
}

// ---- Model Exchange ----------------------------------------------------------------

fmi2Status fmi2EnterEventMode(fmi2Component c) {
  probe(c)->events += 1;
  return fmi2OK;
}

fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo *info) {
  Probe *p = probe(c);
  *info = fmi2EventInfo{};
  if (p->probe == 1) p->s = p->x > 0 ? 1 : -1;
  return fmi2OK;
}

fmi2Status fmi2EnterContinuousTimeMode(fmi2Component) { return fmi2OK; }

fmi2Status fmi2CompletedIntegratorStep(fmi2Component, fmi2Boolean, fmi2Boolean *enterEventMode,
                                       fmi2Boolean *terminateSimulation) {
  *enterEventMode = fmi2False;
  *terminateSimulation = fmi2False;
  return fmi2OK;
}

fmi2Status fmi2SetTime(fmi2Component c, fmi2Real t) {
  probe(c)->time = t;
  return fmi2OK;
}

fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real x[], size_t n) {
  if (n != 1) return fmi2Error;
  probe(c)->x = x[0];
  return fmi2OK;
}

fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real dx[], size_t n) {
  if (n != 1) return fmi2Error;
  dx[0] = derivative(probe(c));
  return fmi2OK;
}

fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real z[], size_t n) {
  if (n != 1) return fmi2Error;
  z[0] = indicator(probe(c));
  return fmi2OK;
}

fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real x[], size_t n) {
  if (n != 1) return fmi2Error;
  x[0] = probe(c)->x;
  return fmi2OK;
}

fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component, fmi2Real x[], size_t n) {
  for (size_t i = 0; i < n; ++i) x[i] = 1.0;
  return fmi2OK;
}

// ---- Co-Simulation -----------------------------------------------------------------

fmi2Status fmi2DoStep(fmi2Component c, fmi2Real, fmi2Real h, fmi2Boolean) {
  Probe *p = probe(c);
  if (!p->stepped) {
    p->stepped = true;
    p->firstStep = h;
  } else if (std::memcmp(&h, &p->firstStep, sizeof h) != 0) {
    p->otherSteps += 1;
    if (p->fixedStep != 0) {
      p->functions.logger(p->functions.componentEnvironment, "probe", fmi2Error, "step",
                          "step %a differs from the first step %a", h, p->firstStep);
      return fmi2Error;
    }
  }
  p->x *= std::exp(-h);
  p->time += h;
  p->steps += 1;
  return fmi2OK;
}

fmi2Status fmi2GetStatus(fmi2Component, const fmi2StatusKind, fmi2Status *) { return fmi2Discard; }
fmi2Status fmi2GetRealStatus(fmi2Component, const fmi2StatusKind, fmi2Real *) {
  return fmi2Discard;
}
fmi2Status fmi2GetBooleanStatus(fmi2Component, const fmi2StatusKind, fmi2Boolean *) {
  return fmi2Discard;
}

} // extern "C"
