// Variable access by value reference, and the evaluation of the
// initialization again after a value was set in Initialization Mode
// (fmi/fmiVariables.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "fmi/fmi2.h"

struct fmiInstance;

// In Initialization Mode after a value was set since the last evaluation:
// fmiEvaluateInitialization, after which the values follow what was set;
// a failure is logged as "<name>: dsblock_ failed, QiErr = %d" when name is
// given.  Otherwise nothing; 0.
[[nodiscard]] int32_t fmiRefreshInitialization(fmiInstance *instance, const char *name);
// Arrays may be null only when their count is 0 (the exports check).
fmi2Status fmiGetReal(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                      fmi2Real value[]);
fmi2Status fmiGetInteger(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                         fmi2Integer value[]);
fmi2Status fmiGetBoolean(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                         fmi2Boolean value[]);
fmi2Status fmiGetString(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                        fmi2String value[]);
fmi2Status fmiSetReal(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                      const fmi2Real value[]);
fmi2Status fmiSetInteger(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Integer value[]);
fmi2Status fmiSetBoolean(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Boolean value[]);
fmi2Status fmiSetString(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                        const fmi2String value[]);
