// The Co-Simulation side of instantiation, initialization and terminate
// (fmi/fmiCoSim.cpp, which holds fmi2DoStep and the other Co-Simulation
// exports as well).
#pragma once

#include <cstdint>

#include "fmi/fmi2.h"

struct fmiInstance;
struct fmiKindOperations;

fmiInstance *fmiInstantiateCS(fmi2String instanceName, fmi2String fmuGUID,
                              fmi2String fmuResourceLocation,
                              const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                              fmi2Boolean loggingOn);
fmi2Status fmiEnterInitializationModeCS(fmiInstance *instance, double tolerance, double startTime,
                                        int32_t stopTimeDefined, double stopTime);
fmi2Status fmiTerminateCS(fmiInstance *instance);
// The operations of a Co-Simulation instance (fmiTerminateCS; its
// integrator released with fmiFreeSolverData).
extern const fmiKindOperations fmiCoSimulationOperations;
