// Instances: creation, release, reset and the experiment set-up
// (fmi/fmiInstantiate.cpp).
#pragma once

#include "fmi/fmi2.h"

struct fmiInstance;

// Creates a Model Exchange instance (fmuType 0, fmiModelExchangeOperations);
// null on failure, after "Instantiation failed" at fmi2Fatal.
fmiInstance *fmiInstantiateCommon(fmi2String instanceName, fmi2String fmuGUID,
                                  fmi2String fmuResourceLocation,
                                  const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                                  fmi2Boolean loggingOn);
// Releases the instance and everything it owns (null does nothing).
void fmiFreeModelInstance(fmiInstance *instance);
fmi2Status fmiReset(fmiInstance *instance);
fmi2Status fmiSetupExperiment(fmiInstance *instance, fmi2Boolean toleranceDefined, double tolerance,
                              double startTime, fmi2Boolean stopTimeDefined, double stopTime);
