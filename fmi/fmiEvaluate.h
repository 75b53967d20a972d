// The evaluation wrapper and what is built on it: initialization, the exit
// of initialization, the event iteration, event updating, terminate, the
// error path and the Model Exchange bodies of the mode changes
// (fmi/fmiEvaluate.cpp).
#pragma once

#include <cstdint>

#include "fmi/fmi2.h"

struct fmiInstance;
struct fmiKindOperations;

// Evaluates the model through dsblockInstance_; returns QiErr (0 for the success
// codes -995..-990).  name: function name for the failure message, or null.
// converged (optional): 1 when the event phase is 0 afterwards.
[[nodiscard]] int32_t fmiEvaluate(fmiInstance *instance, int32_t request, const char *name,
                                  int32_t *converged);
// Evaluates the initialization as fmi2EnterInitializationMode does (computed
// level -1, event phase 2, request 0); returns QiErr (0 for the success
// codes).
[[nodiscard]] int32_t fmiEvaluateInitialization(fmiInstance *instance);
// The model asked to end the run (QiErr -999) during the call name: says so
// at fmi2Discard, marks the instance terminated by the model and returns
// fmi2Discard.  A request to end the run is no error.
fmi2Status fmiEndedByModel(fmiInstance *instance, const char *name);
// True when the instance's values are what fmiEvaluate(request) would compute
// now, so that the evaluation can be left out: in continuous-time mode, with
// no event phase set, the computed level reaching request, the last
// evaluation successful and no parameter or String change (the change count)
// that the driver has not yet seen.  Everything that moves the time, the
// states or the inputs, or sets a value, lowers the computed level.
[[nodiscard]] bool fmiEvaluated(const fmiInstance *instance, int32_t request);
fmi2Status fmiInitialize(fmiInstance *instance);
fmi2Status fmiEnterInitializationModeME(fmiInstance *instance);
fmi2Status fmiExitInitialization(fmiInstance *instance, const char *name, int32_t target);
fmi2Status fmiEventUpdate(fmiInstance *instance, int32_t *terminated);
fmi2Status fmiTerminateME(fmiInstance *instance);
// The operations of a Model Exchange instance (fmiTerminateME; no integrator).
extern const fmiKindOperations fmiModelExchangeOperations;
// The body of fmi2Terminate: the terminate of the instance's kind.
fmi2Status fmiTerminate(fmiInstance *instance);
// The terminal section (request 7) through the same driver call as every
// evaluation, when the instance is initialized and neither failed nor was
// ended by the model; fmi2Error after "<name>: calling terminal section of
// dsblock_ failed, QiErr = %d", else fmi2OK.
fmi2Status fmiTerminalSection(fmiInstance *instance, const char *name);
// The error path of every failing function: terminates the instance (state 7);
// always fmi2Error.
fmi2Status fmiTerminateOnError(fmiInstance *instance);
void fmiProfilingReport(fmiInstance *instance);

// ---- Model Exchange bodies ----------------------------------------------------
fmi2Status fmiExitInitializationMode(fmiInstance *instance);
fmi2Status fmiEnterEventMode(fmiInstance *instance);
fmi2Status fmiNewDiscreteStates(fmiInstance *instance, fmi2EventInfo *eventInfo);
fmi2Status fmiEnterContinuousTimeMode(fmiInstance *instance);
