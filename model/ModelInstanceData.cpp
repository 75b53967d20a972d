// The template record, its accessors and the String variables.
#include "model/ModelInstanceData.h"

#include <cstring>
#include <utility>

#include "source/dsblock5/model_interface.h"
#include "source/runtime.h"

// Constant-initialised: the template holds exactly the values below, every
// other byte is 0 (the members not named are zero-initialised on purpose).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constinit ModelInstanceData defaultInstanceData = {
    .fixedStepLastTime = 1e30,
    .unreadTimes = {1.0, 1.0, -1e30},
    .lambda = 1.0,
    .lambdaStep = 0.1,
    .timeMarkers = {-1e33, -1e33},
    .reservedCount = 100000,
};
#pragma GCC diagnostic pop

namespace {
// The template serves the runtime whenever no instance is bound to a thread.
[[maybe_unused]] const bool templateRegistered =
    (setUnboundInstanceData(&defaultInstanceData), true);
} // namespace

namespace {

ModelInstanceData *orDefault(ModelInstanceData *record) {
  return record != nullptr ? record : &defaultInstanceData;
}

} // namespace

void initInstanceData(ModelInstanceData *record) {
  if (record == nullptr) return;
  if (ThreadContext *context = getThreadContext()) {
    context->externalCallState = 0;
    bindInstance(context, nullptr);
  }
  std::memcpy(static_cast<void *>(record), &defaultInstanceData, sizeof(ModelInstanceData));
  // The template's own rings (it has some once dsblock_ evaluated it) stay
  // the template's: a new record owns no ring block until its first initial
  // call, so no two records ever free the same block.
  std::memset(static_cast<void *>(record->delayBuffers), 0, sizeof record->delayBuffers);
}

namespace {

constexpr std::size_t rangeBytes(const auto &ranges) {
  std::size_t bytes = 0;
  for (const InstanceDataRange &range : ranges) bytes += range.size;
  return bytes;
}

constexpr bool inRecordOrder(const auto &ranges) {
  std::size_t end = 0;
  for (const InstanceDataRange &range : ranges) {
    if (range.offset < end || range.size == 0) return false;
    end = range.offset + range.size;
  }
  return end <= sizeof(ModelInstanceData);
}

// The layout the image carries, and what the tables leave out: the reserved
// block with its double and the work area (and the resources folder from
// copies).
static_assert(sizeof(ModelInstanceData) == 882160);
static_assert(inRecordOrder(kInstanceDataLiveRanges) && inRecordOrder(kInstanceDataStateRanges));
static_assert(sizeof(ModelInstanceData) - rangeBytes(kInstanceDataLiveRanges) ==
              sizeof(ModelInstanceData::reservedBlock) + sizeof(double) +
                  sizeof(ModelInstanceData::workArea));
static_assert(offsetof(ModelInstanceData, reservedValue) + sizeof(double) ==
              offsetof(ModelInstanceData, reservedCount));
static_assert(rangeBytes(kInstanceDataLiveRanges) - rangeBytes(kInstanceDataStateRanges) ==
                  sizeof(ModelInstanceData::resourcePath) &&
              offsetof(ModelInstanceData, resourcePath) + kResourcePathSize ==
                  sizeof(ModelInstanceData));

// External objects are destroyed from the last slot in use to the first;
// each slot is emptied before its destructor runs.
void destroyExternalObjects(ModelInstanceData *record) {
  for (int32_t k = kModelExternalInUse - 1; k >= 0; --k) {
    ExternalObjectSlot &slot = record->externalObjects[k];
    void *object = slot.object;
    slot.object = nullptr;
    if (object != nullptr && slot.destructor != nullptr) slot.destructor(object);
    slot.destructor = nullptr;
  }
}

void copyRanges(ModelInstanceData *destination, const ModelInstanceData &source,
                const auto &ranges) {
  auto *to = reinterpret_cast<unsigned char *>(destination);
  const auto *from = reinterpret_cast<const unsigned char *>(&source);
  for (const InstanceDataRange &range : ranges) {
    std::memcpy(to + range.offset, from + range.offset, range.size);
  }
}

} // namespace

void initZeroedInstanceData(ModelInstanceData *record) {
  if (record == nullptr) return;
  if (ThreadContext *context = getThreadContext()) {
    context->externalCallState = 0;
    bindInstance(context, nullptr);
  }
  copyRanges(record, defaultInstanceData, kInstanceDataLiveRanges);
  std::memset(static_cast<void *>(record->delayBuffers), 0, sizeof record->delayBuffers);
}

void copyInstanceDataState(ModelInstanceData *destination, const ModelInstanceData &source) {
  if (destination != &source) copyRanges(destination, source, kInstanceDataStateRanges);
}

void resetInstanceData(ModelInstanceData *record) {
  std::memset(record->workArea, 0, sizeof record->workArea);
  std::memset(record->expressionCache, 0, sizeof record->expressionCache);
  std::memset(record->indicatorStore, 0, sizeof record->indicatorStore);
  std::memset(record->relationFlags, 0, sizeof record->relationFlags);
  std::memset(record->relationState, 0, sizeof record->relationState);
  record->relationWord = 0;
  record->timeMarkers[0] = record->timeMarkers[1] = -1e33;
  record->tailMarker = -1e33;
  for (double &marker : record->tailMarkers) marker = -1e33;
  std::memset(record->tailWords, 0, sizeof record->tailWords);
  destroyExternalObjects(record);
  for (int32_t k = 0; k < kModelProfileInUse; ++k) record->profileBlocks[k].callCount = 0;
  freeDelayBuffers(record->delayBuffers, kModelDelaySlots);
}

void releaseInstanceData(ModelInstanceData *record) {
  destroyExternalObjects(record);
  freeDelayBuffers(record->delayBuffers, kModelDelaySlots);
}

void resetDefaultInstanceData() { resetInstanceData(&defaultInstanceData); }

int32_t getEventPhase(ModelInstanceData *record) { return orDefault(record)->eventPhase; }

void setEventPhase(ModelInstanceData *record, int32_t value) {
  orDefault(record)->eventPhase = value;
}

int32_t getEventThisCall(ModelInstanceData *record) { return orDefault(record)->eventThisCall; }

void setInlineIntegration(ModelInstanceData *record, int32_t value) {
  orDefault(record)->inlineIntegration = value;
}

void setPerturbationFlag(ModelInstanceData *record, int32_t value) {
  orDefault(record)->perturbation = value;
}

double getInitialTime() {
  ThreadContext *context = getThreadContext();
  ModelInstanceData *bound = context != nullptr ? context->currentInstance : nullptr;
  return orDefault(bound)->initialTime;
}

void setJacobianMatricesStatus(ModelInstanceData *record, double *A, double *B, double *C,
                               double *D, int32_t n1, int32_t n2, int32_t n3, int32_t n4,
                               int32_t n5, int32_t n6, int32_t n7, int32_t *status) {
  ModelInstanceData *d = orDefault(record);
  d->jacobianA = A;
  d->jacobianB = B;
  d->jacobianC = C;
  d->jacobianD = D;
  const int32_t sizes[7] = {n1, n2, n3, n4, n5, n6, n7};
  std::memcpy(d->jacobianSizes, sizes, sizeof sizes);
  d->jacobianStatusGiven = status != nullptr ? 1 : 0;
  if (status != nullptr) *status = 0;
}

void setJacobianMatrices(ModelInstanceData *record, double *A, double *B, double *C, double *D,
                         int32_t n1, int32_t n2, int32_t n3, int32_t n4, int32_t n5, int32_t n6,
                         int32_t n7) {
  setJacobianMatricesStatus(record, A, B, C, D, n1, n2, n3, n4, n5, n6, n7, nullptr);
}

ProfileBlock *getProfilingTable(ModelInstanceData *record, int32_t *count) {
  ModelInstanceData *d = orDefault(record);
  if (count != nullptr) *count = d->profileBlockCount;
  return d->profileBlocks;
}

// The model has no extra value arrays: nothing to copy either way.
void copyExtraArraysIn(ModelInstanceData *, const double *, const double *) {}
void copyExtraArraysOut(ModelInstanceData *, double *, double *) {}

void getDefaultInstanceData(void **record, int32_t *size) {
  if (record != nullptr) *record = &defaultInstanceData;
  if (size != nullptr) *size = getInstanceDataSize();
}

int32_t getInstanceDataSize() { return static_cast<int32_t>(sizeof(ModelInstanceData)); }

ExternalObjectSlot *getExternalObjectTable(ModelInstanceData *record) {
  return record != nullptr ? record->externalObjects : nullptr;
}

void *getExternalObject(ModelInstanceData *record) {
  return record != nullptr ? record->externalObjects[0].object : nullptr;
}

int32_t getExternalObjectCount() { return kModelExternalInUse; }

int32_t getExternalObjectSlotSize() { return static_cast<int32_t>(sizeof(ExternalObjectSlot)); }

void clearExternalObjects(ModelInstanceData *record) {
  for (int32_t k = 0; k < kModelExternalInUse; ++k) {
    record->externalObjects[k].object = nullptr;
    record->externalObjects[k].destructor = nullptr;
  }
}

void getDelayBuffers(ModelInstanceData *record, DelayBuffer **table, int32_t *count) {
  if (count != nullptr) *count = kModelDelaySlots;
  if (table != nullptr) *table = orDefault(record)->delayBuffers;
}

// The model has no samples, so there is no sampleActive to clear.
void dsclearsamples_(ModelInstanceData *) {}

// ---------------------------------------------------------------------------
// String variables.  The pointers hold the addresses of the record's own
// slots.  A whole-record copy (an FMU state) carries the source record's
// addresses, so every use re-points a pointer that does not address this
// record's own slot; a record never reads another record's storage.
// ---------------------------------------------------------------------------
int32_t initStringVariables(ModelInstanceData *record) {
  for (int32_t k = 0; k < kModelStringSlots; ++k) {
    if (record->stringPointers[k] != record->stringStorage[k])
      record->stringPointers[k] = record->stringStorage[k];
  }
  return 0;
}

int32_t setStringVariable(ModelInstanceData *record, const char *value, int32_t index) {
  constexpr size_t kMaxLength = kStringSlotSize - 1;
  initStringVariables(record);
  if (index < 0 || index >= kModelStringSlots) {
    logText("Internal error in String handling.");
    return 0;
  }
  if (value == nullptr) value = "";
  char *slot = record->stringPointers[index];
  if (record->stringsChanged == 0 && std::strncmp(slot, value, kMaxLength) != 0)
    record->stringsChanged = 1;
  const size_t length = strnlen(value, kMaxLength);
  std::memmove(slot, value, length);
  slot[length] = '\0';
  if (value[length] != '\0') {
    logText("Truncated string variable to");
    logText(slot);
  }
  return static_cast<int32_t>(length);
}

void reportStringArrayIndexError() { logText("Internal error in String array handling."); }

const char *getStringVariable(ModelInstanceData *record, int32_t index) {
  initStringVariables(record);
  if (index < 0 || index >= kModelStringSlots) return "";
  return record->stringPointers[index];
}

void dsqueryzero_(int32_t *out) {
  if (out != nullptr) *out = 0;
}

void takeInstanceDataAddresses(ModelInstanceData *record, InstanceDataAddresses *saved) {
  saved->duser = std::exchange(record->duser, nullptr);
  saved->iuser = std::exchange(record->iuser, nullptr);
  for (int32_t k = 0; k < kModelDelaySlots; ++k) {
    saved->ringTimes[k] = std::exchange(record->delayBuffers[k].times, nullptr);
    saved->ringValues[k] = std::exchange(record->delayBuffers[k].values, nullptr);
  }
  for (int32_t k = 0; k < kModelProfileBlocks; ++k) {
    saved->profileNames[k] = std::exchange(record->profileBlocks[k].name, nullptr);
  }
  for (int32_t k = 0; k < kModelExternalSlots; ++k) {
    saved->externalObjects[k] = std::exchange(record->externalObjects[k], ExternalObjectSlot{});
  }
  saved->jacobian[0] = std::exchange(record->jacobianA, nullptr);
  saved->jacobian[1] = std::exchange(record->jacobianB, nullptr);
  saved->jacobian[2] = std::exchange(record->jacobianC, nullptr);
  saved->jacobian[3] = std::exchange(record->jacobianD, nullptr);
  for (int32_t k = 0; k < kModelStringSlots; ++k) {
    saved->stringPointers[k] = std::exchange(record->stringPointers[k], nullptr);
  }
}

void restoreInstanceDataAddresses(ModelInstanceData *record, const InstanceDataAddresses &saved) {
  record->duser = saved.duser;
  record->iuser = saved.iuser;
  for (int32_t k = 0; k < kModelDelaySlots; ++k) {
    record->delayBuffers[k].times = saved.ringTimes[k];
    record->delayBuffers[k].values = saved.ringValues[k];
  }
  for (int32_t k = 0; k < kModelProfileBlocks; ++k) {
    record->profileBlocks[k].name = saved.profileNames[k];
  }
  for (int32_t k = 0; k < kModelExternalSlots; ++k) {
    record->externalObjects[k] = saved.externalObjects[k];
  }
  record->jacobianA = saved.jacobian[0];
  record->jacobianB = saved.jacobian[1];
  record->jacobianC = saved.jacobian[2];
  record->jacobianD = saved.jacobian[3];
  for (int32_t k = 0; k < kModelStringSlots; ++k) {
    record->stringPointers[k] = saved.stringPointers[k];
  }
}
