// The fmi2 exports of the common and Model Exchange functions.
//
// Each export is thin: it checks the handle and the pointer arguments, calls
// the body and returns its status.  No C++ exception leaves an export: a
// body that throws is logged and answered with fmi2Error.  A null instance
// has no logger to report to and gets fmi2Error silently; a null array with a
// non-zero count is refused with fmi2Error before anything is read.
#include <cstring>

#include "fmi/fmi2.h"
#include "fmi/fmiCoSim.h"
#include "fmi/fmiContinuous.h"
#include "fmi/fmiEvaluate.h"
#include "fmi/fmiGuarded.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiInstantiate.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiStateMachine.h"
#include "fmi/fmiVariables.h"

namespace {

// True when the pointer may be used for count elements; otherwise logs the
// refusal.
[[nodiscard]] bool usable(fmiInstance *c, const char *name, const char *argument,
                          const void *pointer, size_t count = 1) {
  if (pointer != nullptr || count == 0) return true;
  fmiLog(c, c->instanceName, fmi2Error, "", "%s: invalid argument %s = NULL", name, argument);
  return false;
}

template <typename Value, typename Body>
fmi2Status access(fmi2Component component, fmiFunction f, const fmi2ValueReference vr[], size_t nvr,
                  Value value, Body &&body) {
  const char *name = fmiFunctionName(f);
  return fmiGuarded(component, name, [&](fmiInstance *c) {
    if (!usable(c, name, "vr", vr, nvr) || !usable(c, name, "value", value, nvr)) {
      return fmi2Error;
    }
    return body(c, vr, nvr, value);
  });
}

template <typename Body>
fmi2Status continuous(fmi2Component component, fmiFunction f, const char *argument,
                      const void *values, size_t n, Body &&body) {
  const char *name = fmiFunctionName(f);
  return fmiGuarded(component, name, [&](fmiInstance *c) {
    if (!usable(c, name, argument, values, n)) return fmi2Error;
    return body(c);
  });
}

} // namespace

extern "C" {

const char *fmi2GetTypesPlatform(void) { return fmi2TypesPlatform; }

const char *fmi2GetVersion(void) { return fmi2Version; }

fmi2Status fmi2SetDebugLogging(fmi2Component component, fmi2Boolean loggingOn,
                               size_t /*nCategories*/, const fmi2String /*categories*/[]) {
  return fmiGuarded(component, "fmi2SetDebugLogging", [&](fmiInstance *c) {
    c->loggingOn = loggingOn;
    return fmi2OK;
  });
}

fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                              fmi2String fmuResourceLocation,
                              const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                              fmi2Boolean loggingOn) {
  // A C host may pass any int: it is read as one, never as an fmi2Type
  // outside the type's values.
  int type = 0;
  static_assert(sizeof type == sizeof fmuType);
  std::memcpy(&type, &fmuType, sizeof type);
  return fmiGuardedCreate([&]() -> fmi2Component {
    fmiInstallReportHooks();
    fmiInstance *c = nullptr;
    if (type == fmi2ModelExchange) {
      c = fmiInstantiateCommon(instanceName, fmuGUID, fmuResourceLocation, functions, visible,
                               loggingOn);
    } else if (type == fmi2CoSimulation) {
      c = fmiInstantiateCS(instanceName, fmuGUID, fmuResourceLocation, functions, visible,
                           loggingOn);
    } else {
      fmiLogWithoutInstance(functions, instanceName, fmi2Error,
                            "fmi2Instantiate: invalid argument fmuType = %d, expected "
                            "fmi2ModelExchange or fmi2CoSimulation",
                            type);
      return nullptr;
    }
    if (c != nullptr) c->fmuType = type;
    return c;
  });
}

void fmi2FreeInstance(fmi2Component component) {
  fmiGuardedRelease(component, "fmi2FreeInstance", fmiFreeModelInstance);
}

fmi2Status fmi2SetupExperiment(fmi2Component component, fmi2Boolean toleranceDefined,
                               fmi2Real tolerance, fmi2Real startTime, fmi2Boolean stopTimeDefined,
                               fmi2Real stopTime) {
  return fmiGuarded(component, "fmi2SetupExperiment", [&](fmiInstance *c) {
    return fmiSetupExperiment(c, toleranceDefined, tolerance, startTime, stopTimeDefined, stopTime);
  });
}

fmi2Status fmi2EnterInitializationMode(fmi2Component component) {
  return fmiGuarded(component, "fmi2EnterInitializationMode", [&](fmiInstance *c) {
    if (c->fmuType == fmi2CoSimulation) {
      return fmiEnterInitializationModeCS(c, c->tolerance, c->startTime, c->stopTimeDefined,
                                          c->stopTime);
    }
    return fmiEnterInitializationModeME(c);
  });
}

fmi2Status fmi2ExitInitializationMode(fmi2Component component) {
  return fmiGuarded(component, "fmi2ExitInitializationMode", fmiExitInitializationMode);
}

fmi2Status fmi2Terminate(fmi2Component component) {
  return fmiGuarded(component, "fmi2Terminate", fmiTerminate);
}

fmi2Status fmi2Reset(fmi2Component component) {
  return fmiGuarded(component, "fmi2Reset", fmiReset);
}

fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                       fmi2Real value[]) {
  return access(c, fmiFunction::GetReal, vr, nvr, value, fmiGetReal);
}

fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          fmi2Integer value[]) {
  return access(c, fmiFunction::GetInteger, vr, nvr, value, fmiGetInteger);
}

fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          fmi2Boolean value[]) {
  return access(c, fmiFunction::GetBoolean, vr, nvr, value, fmiGetBoolean);
}

fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                         fmi2String value[]) {
  return access(c, fmiFunction::GetString, vr, nvr, value, fmiGetString);
}

fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                       const fmi2Real value[]) {
  return access(c, fmiFunction::SetReal, vr, nvr, value, fmiSetReal);
}

fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Integer value[]) {
  return access(c, fmiFunction::SetInteger, vr, nvr, value, fmiSetInteger);
}

fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                          const fmi2Boolean value[]) {
  return access(c, fmiFunction::SetBoolean, vr, nvr, value, fmiSetBoolean);
}

fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2String value[]) {
  return access(c, fmiFunction::SetString, vr, nvr, value, fmiSetString);
}

fmi2Status fmi2EnterEventMode(fmi2Component component) {
  return fmiGuarded(component, "fmi2EnterEventMode", fmiEnterEventMode);
}

fmi2Status fmi2NewDiscreteStates(fmi2Component component, fmi2EventInfo *eventInfo) {
  const char *name = fmiFunctionName(fmiFunction::NewDiscreteStates);
  return fmiGuarded(component, name, [&](fmiInstance *c) {
    if (!usable(c, name, "eventInfo", eventInfo)) return fmi2Error;
    return fmiNewDiscreteStates(c, eventInfo);
  });
}

fmi2Status fmi2EnterContinuousTimeMode(fmi2Component component) {
  return fmiGuarded(component, "fmi2EnterContinuousTimeMode", fmiEnterContinuousTimeMode);
}

fmi2Status fmi2CompletedIntegratorStep(fmi2Component component,
                                       fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                       fmi2Boolean *enterEventMode,
                                       fmi2Boolean *terminateSimulation) {
  const char *name = fmiFunctionName(fmiFunction::CompletedIntegratorStep);
  return fmiGuarded(component, name, [&](fmiInstance *c) {
    if (!usable(c, name, "enterEventMode", enterEventMode) ||
        !usable(c, name, "terminateSimulation", terminateSimulation)) {
      return fmi2Error;
    }
    return fmiCompletedIntegratorStep(c, noSetFMUStatePriorToCurrentPoint, enterEventMode,
                                      terminateSimulation);
  });
}

fmi2Status fmi2SetTime(fmi2Component component, fmi2Real time) {
  return fmiGuarded(component, "fmi2SetTime", [&](fmiInstance *c) { return fmiSetTime(c, time); });
}

fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real x[], size_t nx) {
  return continuous(c, fmiFunction::SetContinuousStates, "x", x, nx,
                    [&](fmiInstance *i) { return fmiSetContinuousStates(i, x, nx); });
}

fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real derivatives[], size_t nx) {
  return continuous(c, fmiFunction::GetDerivatives, "derivatives", derivatives, nx,
                    [&](fmiInstance *i) { return fmiGetDerivatives(i, derivatives, nx); });
}

fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real eventIndicators[], size_t ni) {
  return continuous(c, fmiFunction::GetEventIndicators, "eventIndicators", eventIndicators, ni,
                    [&](fmiInstance *i) { return fmiGetEventIndicators(i, eventIndicators, ni); });
}

fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real x[], size_t nx) {
  return continuous(c, fmiFunction::GetContinuousStates, "x", x, nx,
                    [&](fmiInstance *i) { return fmiGetContinuousStates(i, x, nx); });
}

fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component c, fmi2Real x_nominal[], size_t nx) {
  return continuous(
      c, fmiFunction::GetNominalsOfContinuousStates, "x_nominal", x_nominal, nx,
      [&](fmiInstance *i) { return fmiGetNominalsOfContinuousStates(i, x_nominal, nx); });
}

} // extern "C"
