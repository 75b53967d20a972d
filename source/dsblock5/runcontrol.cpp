// The instance under evaluation, its operators and the run-control status.
#include "source/dsblock5/runcontrol.h"

#include <atomic>

#include "source/kernel.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"

namespace {

// QiErr values the operators set (the driver's codes).
constexpr int32_t kTerminated = -999;
constexpr int32_t kRunControl = -998;

// Written once at load; atomic so that a late registration races with nothing.
std::atomic<ModelInstanceData *> unboundRecord{nullptr};

ModelInstanceData *boundInstance() {
  if (ThreadContext *context = getThreadContext()) {
    if (context->currentInstance != nullptr) return context->currentInstance;
  }
  return unboundRecord.load(std::memory_order_acquire);
}

} // namespace

ThreadContext *setCurrentInstance(ModelInstanceData *instance) {
  ThreadContext *context = getThreadContext();
  if (context != nullptr) bindInstance(context, instance);
  return context;
}

void setUnboundInstanceData(ModelInstanceData *record) {
  unboundRecord.store(record, std::memory_order_release);
  setUnboundEvaluation(record != nullptr ? &record->time : nullptr,
                       record != nullptr ? &record->status : nullptr);
}

ModelInstanceData *getUnboundInstanceData() {
  if (ModelInstanceData *record = unboundRecord.load(std::memory_order_acquire)) return record;
  // Only a runtime linked without a model comes here.
  static ModelInstanceData fallback{};
  return &fallback;
}

double homotopy(double actual, double simplified, ModelInstanceData *instance) {
  ModelInstanceData *d = instance != nullptr ? instance : unboundRecord.load();
  if (d == nullptr) return actual;
  d->usesHomotopy = 1;
  return (1.0 - d->lambda) * simplified + d->lambda * actual;
}

void terminateModel(const char *message) {
  int32_t *status = getStatusPointer();
  if (*status == kTerminated) return;
  logText("Simulation successfully terminated");
  logText(message != nullptr ? message : "");
  *status = kTerminated;
}

int32_t *runControlStatus() {
  int32_t *status = getStatusPointer();
  *status = kRunControl;
  return status;
}

int32_t getEventFlag() {
  const ModelInstanceData *d = boundInstance();
  return d != nullptr ? d->eventFlag : 0;
}

double *getInstanceDUSER(ModelInstanceData *instance) {
  if (instance != nullptr && instance->duser != nullptr) return instance->duser;
  return getDUSER();
}
