#pragma once
// The instance under evaluation as the runtime and generated code see it: its
// binding to the thread, its event flag, the homotopy and terminate
// operators, and the run-control status.  Its time and status word are read
// through the thread's record (getCurrentTime, getStatusPointer, matrixop.h).
//
// The instance is the one bound to the calling thread (ThreadContext::
// currentInstance, bound by the evaluation driver for the length of an
// evaluation).  When none is bound, the model's default record serves (the
// model registers it at load with setUnboundInstanceData); a runtime used
// without a model falls back to a per-thread word for the status and to time
// 0.
#include <cstdint>

#include "model/ModelInstanceData.h"
#include "source/matrixop.h"

// Binds instance (null: none) to the thread's record as the instance under
// evaluation, together with the addresses of its time and status word.
inline void bindInstance(ThreadContext *context, ModelInstanceData *instance) {
  context->currentInstance = instance;
  context->currentTime = instance != nullptr ? &instance->time : nullptr;
  context->currentStatus = instance != nullptr ? &instance->status : nullptr;
}

// bindInstance on the calling thread's record; returns the record (null when
// it cannot be allocated).
ThreadContext *setCurrentInstance(ModelInstanceData *instance);

// The record that serves while no instance is bound (null: none).
void setUnboundInstanceData(ModelInstanceData *record);
// That record; never null: without a registered one, a zero-filled record of
// the runtime's own serves.
ModelInstanceData *getUnboundInstanceData();

// The homotopy operator: (1 - lambda)*simplified + lambda*actual; marks the
// instance (the unbound record for null) as using homotopy.
double homotopy(double actual, double simplified, ModelInstanceData *instance);

// Ends the simulation from inside the equations: logs the message once and
// sets the status word to -999; returns to the caller.
void terminateModel(const char *message);

// Sets the status word to -998 and returns its address.
int32_t *runControlStatus();

// eventFlag of the calling thread's instance under evaluation.
int32_t getEventFlag();
// The instance's DUSER, or the DUSER registered in the kernel context when
// the instance or its duser is null.
double *getInstanceDUSER(ModelInstanceData *instance);
