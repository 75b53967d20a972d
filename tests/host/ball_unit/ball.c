/* A falling ball as a Model Exchange unit, written in C as a unit's author
 * writes one from the FMI 2.0 text, for fmuhost's tests: its trajectory has
 * a closed form, so a host's event handling can be checked against it.
 *
 * Model (SI units): h' = v, v' = -g from h = 1, v = 0.
 *   state event   the indicator h + 1e-10 falls to 0 or below while v < 0: the ball
 *                 bounces, v := -e*v, h := 0, bounces += 1; when the rebound speed is
 *                 below 0.5 m/s the ball comes to rest (h = v = 0, no more motion,
 *                 indicator 1).  The shift of 1e-10 keeps the indicator away from 0
 *                 after the bounce.
 *   time events   at t = 0.5, 1.0, 1.5, ..., three passes of the event iteration each:
 *                 the first adds the discrete input `kick` to v (a kicked ball at rest
 *                 takes off), reports the changed states and asks for another pass; the
 *                 second counts kicks += 1 and asks for one more; the third changes
 *                 nothing.  passes counts every pass of a time event.
 *   label         a String variable that holds quotes and a comma; resources the
 *                 resource location the host gave.
 *   failFrom      from this time on a read of h ends with the status failStatus
 *                 (1 fmi2Warning, 2 fmi2Discard, 3 fmi2Error, 4 fmi2Fatal) and logs
 *                 why; with fmi2Warning nothing is written to the host's value,
 *                 after fmi2Error the instance takes no call but fmi2FreeInstance,
 *                 after fmi2Fatal not even that.
 *
 * Like a strict unit it refuses, with fmi2Error and a message "state
 * violation: ...", every call out of its mode: the discrete input outside
 * Event Mode and initialization, fmi2SetTime before the last completed step
 * or past the next time event, fmi2Terminate of an instance that was never
 * initialized, fmi2EnterContinuousTimeMode before the event iteration has
 * converged. */
#include "fmi/fmi2.h"

#include <math.h>
#include <string.h>

enum { INSTANTIATED, INITIALIZATION, EVENT, CONTINUOUS, TERMINATED, FAILED, BROKEN };

/* Value references. */
enum {
  VR_H,
  VR_V,
  VR_DER_H,
  VR_DER_V,
  VR_G,
  VR_E,
  VR_KICK,
  VR_FAIL_FROM,
  VR_FAIL_STATUS,
  VR_HEIGHT_COPY,
  VR_BOUNCES,
  VR_KICKS,
  VR_PASSES,
  VR_LABEL,
  VR_RESTING,
  VR_RESOURCES
};

#define PERIOD 0.5
#define SHIFT 1e-10
#define REST_SPEED 0.5

typedef struct {
  fmi2CallbackFunctions functions;
  int mode;
  double time, lastStep; /* lastStep: time of the last completed integrator step */
  double h, v, g, e, kick, failFrom, failStatus;
  int bounces, kicks, passes, resting;
  long long eventIndex; /* the next time event is at PERIOD * eventIndex */
  int pass;             /* pass of the time event under way, 0 when none */
  char resources[4096];
} Ball;

static void say(Ball *b, fmi2Status status, const char *text, double t) {
  b->functions.logger(b->functions.componentEnvironment, "ball", status, "", "%s (t = %g)", text,
                      t);
}

static fmi2Status violation(Ball *b, const char *what) {
  b->functions.logger(b->functions.componentEnvironment, "ball", fmi2Error, "",
                      "state violation: %s", what);
  return fmi2Error;
}

static double nextEventTime(const Ball *b) { return PERIOD * (double)b->eventIndex; }

static double *real(Ball *b, fmi2ValueReference vr) {
  switch (vr) {
  case VR_H:
  case VR_HEIGHT_COPY:
    return &b->h;
  case VR_V:
    return &b->v;
  case VR_G:
    return &b->g;
  case VR_E:
    return &b->e;
  case VR_KICK:
    return &b->kick;
  case VR_FAIL_FROM:
    return &b->failFrom;
  case VR_FAIL_STATUS:
    return &b->failStatus;
  default:
    return NULL;
  }
}

const char *fmi2GetTypesPlatform(void) { return fmi2TypesPlatform; }
const char *fmi2GetVersion(void) { return fmi2Version; }
fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean on, size_t n, const fmi2String cat[]) {
  (void)c, (void)on, (void)n, (void)cat;
  return fmi2OK;
}

fmi2Component fmi2Instantiate(fmi2String name, fmi2Type type, fmi2String guid, fmi2String location,
                              const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                              fmi2Boolean loggingOn) {
  (void)name, (void)visible, (void)loggingOn;
  if (type != fmi2ModelExchange || !functions || strcmp(guid, "{ball}") != 0) return NULL;
  Ball *b = (Ball *)functions->allocateMemory(1, sizeof(Ball));
  if (!b) return NULL;
  memcpy((void *)&b->functions, functions, sizeof *functions);
  b->mode = INSTANTIATED;
  b->h = 1;
  b->g = 9.81;
  b->e = 0.7;
  b->failFrom = 1e300;
  b->failStatus = 2;
  b->eventIndex = 1;
  if (location) strncpy(b->resources, location, sizeof b->resources - 1);
  return b;
}

void fmi2FreeInstance(fmi2Component c) {
  if (!c) return;
  if (((Ball *)c)->mode == BROKEN) violation((Ball *)c, "fmi2FreeInstance after fmi2Fatal");
  ((Ball *)c)->functions.freeMemory(c);
}

fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance,
                               fmi2Real start, fmi2Boolean stopDefined, fmi2Real stop) {
  Ball *b = (Ball *)c;
  (void)toleranceDefined, (void)tolerance, (void)stopDefined, (void)stop;
  if (b->mode != INSTANTIATED) return violation(b, "fmi2SetupExperiment");
  b->time = b->lastStep = start;
  b->eventIndex = (long long)floor(start / PERIOD + 1e-9) + 1;
  return fmi2OK;
}

fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
  Ball *b = (Ball *)c;
  if (b->mode != INSTANTIATED) return violation(b, "fmi2EnterInitializationMode");
  b->mode = INITIALIZATION;
  return fmi2OK;
}

fmi2Status fmi2ExitInitializationMode(fmi2Component c) {
  Ball *b = (Ball *)c;
  if (b->mode != INITIALIZATION) return violation(b, "fmi2ExitInitializationMode");
  b->mode = EVENT;
  return fmi2OK;
}

fmi2Status fmi2Terminate(fmi2Component c) {
  Ball *b = (Ball *)c;
  if (b->mode == FAILED) return violation(b, "fmi2Terminate after fmi2Error");
  if (b->mode != EVENT && b->mode != CONTINUOUS)
    return violation(b, "fmi2Terminate of an instance that is not initialized");
  b->mode = TERMINATED;
  return fmi2OK;
}

fmi2Status fmi2Reset(fmi2Component c) { return violation((Ball *)c, "fmi2Reset is not expected"); }

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t n, fmi2Real value[]) {
  Ball *b = (Ball *)c;
  if (b->mode == INSTANTIATED) return violation(b, "fmi2GetReal before initialization");
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] == VR_H && b->time >= b->failFrom) {
      fmi2Status status = (fmi2Status)(int)b->failStatus;
      say(b, status, "h cannot be read from failFrom on", b->time);
      if (status == fmi2Error) b->mode = FAILED;
      if (status == fmi2Fatal) b->mode = BROKEN;
      return status;
    }
    if (vr[i] == VR_DER_H) {
      value[i] = b->resting ? 0 : b->v;
    } else if (vr[i] == VR_DER_V) {
      value[i] = b->resting ? 0 : -b->g;
    } else {
      double *p = real(b, vr[i]);
      if (!p) return violation(b, "fmi2GetReal of an unknown reference");
      value[i] = *p;
    }
  }
  return fmi2OK;
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t n,
                       const fmi2Real value[]) {
  Ball *b = (Ball *)c;
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] == VR_KICK) {
      if (b->mode == CONTINUOUS || b->mode == TERMINATED)
        return violation(b, "the discrete input kick is set only in Event Mode");
    } else if (vr[i] == VR_G || vr[i] == VR_E || vr[i] == VR_FAIL_FROM || vr[i] == VR_FAIL_STATUS) {
      if (b->mode != INSTANTIATED && b->mode != INITIALIZATION)
        return violation(b, "a fixed parameter is set only before initialization");
    } else {
      return violation(b, "fmi2SetReal of a variable that is not set");
    }
    *real(b, vr[i]) = value[i];
  }
  return fmi2OK;
}

fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t n,
                          fmi2Integer value[]) {
  Ball *b = (Ball *)c;
  if (b->mode == INSTANTIATED) return violation(b, "fmi2GetInteger before initialization");
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] == VR_BOUNCES)
      value[i] = b->bounces;
    else if (vr[i] == VR_KICKS)
      value[i] = b->kicks;
    else if (vr[i] == VR_PASSES)
      value[i] = b->passes;
    else
      return violation(b, "fmi2GetInteger of an unknown reference");
  }
  return fmi2OK;
}

fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t n,
                          fmi2Boolean value[]) {
  Ball *b = (Ball *)c;
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] != VR_RESTING) return violation(b, "fmi2GetBoolean of an unknown reference");
    value[i] = b->resting ? fmi2True : fmi2False;
  }
  return fmi2OK;
}

fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t n,
                         fmi2String value[]) {
  Ball *b = (Ball *)c;
  for (size_t i = 0; i < n; ++i) {
    if (vr[i] == VR_LABEL)
      value[i] = b->resting ? "on the \"floor\", resting" : "in the air";
    else if (vr[i] == VR_RESOURCES)
      value[i] = b->resources;
    else
      return violation(b, "fmi2GetString of an unknown reference");
  }
  return fmi2OK;
}

fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t n,
                          const fmi2Integer value[]) {
  (void)vr, (void)n, (void)value;
  return violation((Ball *)c, "fmi2SetInteger");
}
fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t n,
                          const fmi2Boolean value[]) {
  (void)vr, (void)n, (void)value;
  return violation((Ball *)c, "fmi2SetBoolean");
}
fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t n,
                         const fmi2String value[]) {
  (void)vr, (void)n, (void)value;
  return violation((Ball *)c, "fmi2SetString");
}

fmi2Status fmi2EnterEventMode(fmi2Component c) {
  Ball *b = (Ball *)c;
  if (b->mode != CONTINUOUS) return violation(b, "fmi2EnterEventMode");
  b->mode = EVENT;
  return fmi2OK;
}

fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo *info) {
  Ball *b = (Ball *)c;
  if (b->mode != EVENT) return violation(b, "fmi2NewDiscreteStates outside Event Mode");
  memset(info, 0, sizeof *info);
  if (!b->resting && b->h + SHIFT <= 0 && b->v < 0) {
    b->bounces += 1;
    b->v = -b->e * b->v;
    b->h = 0;
    if (b->v < REST_SPEED) {
      b->v = 0;
      b->resting = 1;
    }
    info->valuesOfContinuousStatesChanged = fmi2True;
  }
  if (b->pass == 0 && b->time >= nextEventTime(b) - 1e-9) b->pass = 1;
  if (b->pass > 0) {
    b->passes += 1;
    if (b->pass == 1 && b->kick != 0) {
      b->v += b->kick;
      if (b->resting && b->v > 0) b->resting = 0;
      if (b->resting) b->v = 0;
      info->valuesOfContinuousStatesChanged = fmi2True;
    } else if (b->pass == 2) {
      b->kicks += 1;
    }
    if (b->pass < 3) {
      b->pass += 1;
      info->newDiscreteStatesNeeded = fmi2True;
    } else {
      b->pass = 0;
      b->eventIndex += 1;
    }
  }
  info->nextEventTimeDefined = fmi2True;
  info->nextEventTime = nextEventTime(b);
  return fmi2OK;
}

fmi2Status fmi2EnterContinuousTimeMode(fmi2Component c) {
  Ball *b = (Ball *)c;
  if (b->mode != EVENT || b->pass != 0)
    return violation(b, "fmi2EnterContinuousTimeMode before the event iteration converged");
  b->mode = CONTINUOUS;
  return fmi2OK;
}

fmi2Status fmi2CompletedIntegratorStep(fmi2Component c, fmi2Boolean noPriorState,
                                       fmi2Boolean *enterEventMode,
                                       fmi2Boolean *terminateSimulation) {
  Ball *b = (Ball *)c;
  (void)noPriorState;
  if (b->mode != CONTINUOUS) return violation(b, "fmi2CompletedIntegratorStep");
  b->lastStep = b->time;
  *enterEventMode = fmi2False;
  *terminateSimulation = fmi2False;
  return fmi2OK;
}

fmi2Status fmi2SetTime(fmi2Component c, fmi2Real t) {
  Ball *b = (Ball *)c;
  if (b->mode != CONTINUOUS) return violation(b, "fmi2SetTime outside Continuous-Time Mode");
  if (t < b->lastStep) return violation(b, "fmi2SetTime before the last completed step");
  if (t > nextEventTime(b) + 1e-9) return violation(b, "fmi2SetTime past the next time event");
  b->time = t;
  return fmi2OK;
}

fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real x[], size_t n) {
  Ball *b = (Ball *)c;
  if (b->mode != CONTINUOUS || n != 2) return violation(b, "fmi2SetContinuousStates");
  b->h = x[0];
  b->v = x[1];
  return fmi2OK;
}

fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real dx[], size_t n) {
  Ball *b = (Ball *)c;
  if (b->mode == INSTANTIATED || n != 2) return violation(b, "fmi2GetDerivatives");
  dx[0] = b->resting ? 0 : b->v;
  dx[1] = b->resting ? 0 : -b->g;
  return fmi2OK;
}

fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real z[], size_t n) {
  Ball *b = (Ball *)c;
  if (b->mode == INSTANTIATED || b->mode == INITIALIZATION || n != 1)
    return violation(b, "fmi2GetEventIndicators");
  z[0] = b->resting ? 1 : b->h + SHIFT;
  return fmi2OK;
}

fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real x[], size_t n) {
  Ball *b = (Ball *)c;
  if (b->mode == INSTANTIATED || n != 2) return violation(b, "fmi2GetContinuousStates");
  x[0] = b->h;
  x[1] = b->v;
  return fmi2OK;
}

fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component c, fmi2Real x[], size_t n) {
  (void)c;
  for (size_t i = 0; i < n; ++i) x[i] = 1.0;
  return fmi2OK;
}
