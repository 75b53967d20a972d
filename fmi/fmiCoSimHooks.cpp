// The Co-Simulation side of instantiation, initialization, terminate and
// input setting, as replaceable definitions.
//
// These are weak: the Co-Simulation driver defines the same functions and
// its definitions take their place.  Until then a Co-Simulation instance can
// be created, reset, terminated and freed, but not initialized (there is no
// integrator to set up).
#include "fmi/fmiInstance.h"
#include "model/ModelInstanceData.h"
#include "source/dsblock5/dsblock.h"

#define FMI_REPLACEABLE __attribute__((weak))

FMI_REPLACEABLE fmiInstance *fmiInstantiateCS(fmi2String instanceName, fmi2String fmuGUID,
                                              fmi2String fmuResourceLocation,
                                              const fmi2CallbackFunctions *functions,
                                              fmi2Boolean visible, fmi2Boolean loggingOn) {
  fmiInstance *c = fmiInstantiateCommon(instanceName, fmuGUID, fmuResourceLocation, functions,
                                        visible, loggingOn);
  if (c == nullptr) return nullptr;
  if (functions->stepFinished != nullptr) {
    fmiLog(c, c->instanceName, fmi2Warning, "",
           "%s: Callback function stepFinished != NULL but asynchronous fmiDoStep is not "
           "supported",
           "fmi2Instantiate");
  }
  fmiLog(c, c->instanceName, fmi2OK, "", "%s", "fmi2Instantiate");
  return c;
}

FMI_REPLACEABLE fmi2Status fmiEnterInitializationModeCS(fmiInstance *c, double /*tolerance*/,
                                                        double /*startTime*/,
                                                        int32_t /*stopTimeDefined*/,
                                                        double /*stopTime*/) {
  fmiLog(c, c->instanceName, fmi2Error, "", "%s: Co-Simulation is not available yet",
         "fmi2EnterInitializationMode");
  return fmi2Error;
}

// Terminate without an integrator: the terminal section, the profiling
// report and state 7.
FMI_REPLACEABLE fmi2Status fmiTerminateCS(fmiInstance *c) {
  static constexpr const char *name = "fmi2Terminate";
  fmiLog(c, c->instanceName, fmi2OK, "", "%s...", name);
  if (c->state == fmiStateTerminated) {
    fmiLog(c, c->instanceName, fmi2Warning, "", "%s: already terminated, ignoring call", name);
    return fmi2Warning;
  }
  fmi2Status status = fmi2OK;
  if (c->lastQiErr == 0 && c->terminatedByModel == 0) {
    int32_t request = kRequestTerminal;
    c->lastQiErr = 0;
    copyExtraArraysIn(c->runtime, c->extra1, c->extra2);
    fmiInstance *previous = fmiGetEvaluatingInstance();
    fmiSetEvaluatingInstance(c);
    dsblockInstance_(&request, &c->computedLevel, &c->time, c->x, nullptr, c->u, c->p, nullptr,
                     nullptr, c->xdot, c->y, c->w, c->z, c->evaluationDuser, c->evaluationIuser,
                     c->strings, c->runtime, &c->lastQiErr);
    fmiSetEvaluatingInstance(previous);
    copyExtraArraysOut(c->runtime, c->extra1, c->extra2);
    if (c->lastQiErr >= -995 && c->lastQiErr <= -990) c->lastQiErr = 0;
    if (c->lastQiErr != 0 && c->lastQiErr != kQiErrTerminated) {
      fmiLog(c, c->instanceName, fmi2Error, "",
             "%s: calling terminal section of dsblock_ failed, QiErr = %d", name,
             static_cast<int>(c->lastQiErr));
      status = fmi2Error;
    }
  }
  fmiProfilingReport(c);
  c->state = fmiStateTerminated;
  fmiLog(c, c->instanceName, fmi2OK, "", "%s completed", name);
  return status;
}

FMI_REPLACEABLE void fmiSetInputBase(fmiInstance * /*instance*/, int32_t /*inputIndex*/) {}
