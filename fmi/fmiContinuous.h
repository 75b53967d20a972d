// The Model Exchange functions of continuous-time mode: time, states,
// derivatives, event indicators, nominals and the completed step
// (fmi/fmiContinuous.cpp).
#pragma once

#include <cstddef>

#include "fmi/fmi2.h"

struct fmiInstance;

fmi2Status fmiCompletedIntegratorStep(fmiInstance *instance,
                                      fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                      fmi2Boolean *enterEventMode,
                                      fmi2Boolean *terminateSimulation);
// The body of fmi2SetTime: its state checks, then fmiMoveTime.
fmi2Status fmiSetTime(fmiInstance *instance, double time);
// Moves the instance's time as an accepted fmi2SetTime does (time := t,
// computedLevel := 0, jacobianOutdated := 1, the "fmi2SetTime to %g" trace).
// The Co-Simulation step moves its time through it in every state the step
// runs in.
void fmiMoveTime(fmiInstance *instance, double time);
fmi2Status fmiSetContinuousStates(fmiInstance *instance, const double x[], size_t nx);
fmi2Status fmiGetDerivatives(fmiInstance *instance, double derivatives[], size_t nx);
fmi2Status fmiGetEventIndicators(fmiInstance *instance, double indicators[], size_t ni);
fmi2Status fmiGetContinuousStates(fmiInstance *instance, double x[], size_t nx);
fmi2Status fmiGetNominalsOfContinuousStates(fmiInstance *instance, double nominals[], size_t nx);
