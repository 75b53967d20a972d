// Byte images of FMU states: their size, serialization into a host buffer
// and deserialization into a new or existing state record.
//
// A state record is mapped onto the one fixed format (kFmiStateFormat);
// the model data record travels as one binary block and the delay rings as
// one array of doubles.  An image is written straight from the record, and
// of a loaded model data block only the state parts are taken: the regions
// that hold nothing are zero in every record, whatever an image from
// elsewhere carries there.  An image may come from another process or from a
// broken file, so deserialization never writes into the record while it
// reads: the image is loaded and unpacked into a scratch record first, its
// model data block must have exactly the record's size, its state code must
// be one an instance can be in and its delay rings must fit the record's
// own, and the two switches that nothing in this unit turns on (internal
// result generation, states inside the directional derivative) must be
// off; its other values must be ones the unit itself can reach (see
// soundValues); only then is the record overwritten, and marked valid.  A
// failure changes nothing, and a record that the failing call created is
// freed.
//
// The serializer keeps its default hooks: the Strings and the block that
// bim_unpack hands out are released with its free hook.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bim/bim.h"
#include "fmi/fmiGuarded.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiState.h"
#include "model/ModelInstanceData.h"
#include "model/model.h"
#include "source/runtime.h"

namespace {

constexpr const char *kSizeName = "fmi2SerializedFMUstateSize";
constexpr const char *kSerializeName = "fmi2SerializeFMUstate";

int count(uint32_t n) { return static_cast<int>(n); }

// The array that the image's ring element maps (the record's delayImage)
// for one serializer operation: the ring's own block when the record has
// one ring (its 2*size doubles are exactly the image's), else a scratch copy
// of every ring in order, made from the instance's allocator.
class DelayImage {
public:
  DelayImage(fmiInstance *c, fmiInstance *record) : c_(c), record_(record) {
    const uint32_t n = fmiDelayImageLength(record);
    if (n == 0 || record->delayImage != nullptr) return;
    DelayBuffer *table = nullptr;
    int32_t rings = 0;
    getDelayBuffers(record->runtime, &table, &rings);
    if (rings == 1) {
      record->delayImage = table[0].times;
      return;
    }
    record->delayImage = static_cast<double *>(c->functions->allocateMemory(n, sizeof(double)));
    if (record->delayImage == nullptr) return;
    owned_ = true;
    const size_t ringDoubles = 2 * static_cast<size_t>(table[0].size);
    for (int32_t k = 0; k < rings; ++k) {
      std::memcpy(record->delayImage + ringDoubles * k, table[k].times,
                  ringDoubles * sizeof(double));
    }
  }
  ~DelayImage() {
    if (owned_) c_->functions->freeMemory(record_->delayImage);
    record_->delayImage = nullptr;
  }
  DelayImage(const DelayImage &) = delete;
  DelayImage &operator=(const DelayImage &) = delete;
  bool ok() const { return record_->delayImage != nullptr; }

private:
  fmiInstance *c_;
  fmiInstance *record_;
  bool owned_ = false;
};

// A map released at scope end; also takes the model data block out of the
// instance's runtimeImage again.
class Map {
public:
  Map(fmiInstance *record, fmiInstance *c)
      : c_(c), root_(createBimMap(record, c->runtimeImage, c)) {
    if (c->runtimeImage != nullptr) mapped_ = c->runtimeImage->address;
  }
  ~Map() {
    if (root_ != nullptr) bim_destroy(root_);
    if (c_->runtimeImage != nullptr) c_->runtimeImage->address = nullptr;
  }
  Map(const Map &) = delete;
  Map &operator=(const Map &) = delete;
  bim_element *get() const { return root_; }
  // The block that bim_unpack handed out, or null.
  void *unpackedBlock() const {
    void *a = c_->runtimeImage != nullptr ? c_->runtimeImage->address : nullptr;
    return a != mapped_ ? a : nullptr;
  }

private:
  fmiInstance *c_;
  bim_element *root_;
  void *mapped_ = nullptr;
};

// While it lives, the model data record of a state holds no addresses, so
// that the image written from it depends on the state's values alone.
class AddressFree {
public:
  explicit AddressFree(ModelInstanceData *record) : record_(record) {
    takeInstanceDataAddresses(record_, &saved_);
  }
  ~AddressFree() { restoreInstanceDataAddresses(record_, saved_); }
  AddressFree(const AddressFree &) = delete;
  AddressFree &operator=(const AddressFree &) = delete;

private:
  ModelInstanceData *record_;
  InstanceDataAddresses saved_{};
};

// DUSER[2] and nextOutputTime at or above this value announce no event and
// no output (the unit writes 1e100 there).
constexpr double kNoTime = 1e37;

// The values of an unpacked image that the unit itself can reach: finite
// times, DUSER and tolerance, no next event (once initialized) or output
// time behind the state's time, flags 0 or 1, a computed level from -1 to
// 15, no more profiling entries in use than the model's table holds, inline
// integration only as the model's settings have it and then with a
// positive fixed step, and an inline step counter of 0 without inline
// integration.  An image with other values would steer the instance
// restored from it where no call could bring it (a step that never ends, a
// report that reads beyond its table, among others).
bool soundValues(const fmiInstance &s, const ModelInstanceData &block) {
  const auto flag = [](int32_t v) { return v == 0 || v == 1; };
  if (!flag(s.terminatedByModel) || !flag(s.valuesChanged) ||
      !flag(s.lastNewDiscreteStatesNeeded) || !flag(s.jacobianOutdated) ||
      !flag(s.forceEvaluation) || !flag(s.inputsChanged) || !flag(s.firstEvaluationInEventMode) ||
      !flag(s.eventIterationUnderway) || !flag(block.inlineIntegration) ||
      !flag(block.usesHomotopy) || !flag(block.inHomotopy)) {
    return false;
  }
  // The homotopy method moves lambda from 0 to 1 in steps that start at 0.1,
  // double only below 0.08 and halve only above 1e-4: a step outside
  // [2^-15, 0.25], or a parameter outside [0, 1], would make its pass loop
  // run for ever.
  const auto unit = [](double v) { return v >= 0.0 && v <= 1.0; };
  if (!unit(block.lambda) || !unit(block.lastGoodLambda) ||
      !(block.lambdaStep >= 0x1p-15 && block.lambdaStep <= 0.25)) {
    return false;
  }
  if (s.computedLevel < -1 || s.computedLevel > 15) return false;
  if (block.profileBlockCount < 0 || block.profileBlockCount > kModelProfileBlocks) return false;
  if (!std::isfinite(s.time) || !std::isfinite(s.tolerance)) return false;
  for (int k = 0; k < kFmiDuserSize; ++k) {
    if (!std::isfinite(s.duser[k])) return false;
  }
  // Before initialization no event time has been computed yet (DUSER[2]
  // still holds its zero).
  const auto notBehind = [&](double t) { return t >= kNoTime || t >= s.time; };
  if (!std::isfinite(s.nextOutputTime) || !notBehind(s.nextOutputTime)) return false;
  if (s.state != fmiStateInstantiated && !notBehind(s.duser[kDuserNextTimeEvent])) return false;

  double settingsDuser[kFmiDuserSize] = {};
  int32_t settingsIuser[kFmiIuserSize] = {};
  dssettings_(settingsDuser, settingsIuser);
  const int32_t inlineOn = s.iuser[kIuserInlineSetting];
  if (inlineOn != 0 && inlineOn != settingsIuser[kIuserInlineSetting]) return false;
  if (inlineOn == 0) return block.inlineIntegration == 0 && s.inlineStepCount == 0;
  const double g = s.duser[kDuserFixedStep];
  return g > 0.0 && std::isfinite(static_cast<double>(s.inlineStepCount) * g);
}

bool usableRecord(fmiInstance *c, const char *name, fmiInstance *record) {
  if (record->stateValid == 1) return true;
  fmiLog(c, c->instanceName, fmi2Error, "", "%s: FMUstate is not valid", name);
  return false;
}

// Dumps the mapped record in the given mode, straight from the record (the
// image bim_pack and bim_dump would write, without copying the record into
// the map first); fmi2OK, or fmi2Error after "%s: bim_dump failed".
template <typename... Args>
fmi2Status dumpRecord(fmiInstance *c, const char *name, bim_element *map, int mode, Args... args) {
  if (bim_dump(map, mode | BIM_FROM_VARIABLES, args...) != 0) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: bim_dump failed", name);
    return fmi2Error;
  }
  return fmi2OK;
}

fmi2Status serializedSize(fmiInstance *c, fmiInstance *record, size_t *size) {
  if (fmiRefuseWithResultGeneration(c, kSizeName)) return fmi2Warning;
  if (record == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: FMUstate == NULL", kSizeName);
    return fmi2Error;
  }
  if (size == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: size == NULL", kSizeName);
    return fmi2Error;
  }
  if (!usableRecord(c, kSizeName, record)) return fmi2Error;
  if (const uint32_t cached = fmiSerializedSizeCache.load(std::memory_order_relaxed)) {
    *size = cached;
    return fmi2OK;
  }
  fmi2Status status = fmi2OK;
  {
    DelayImage scratch(c, record);
    if (!scratch.ok()) {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s: out of memory", kSizeName);
      return fmi2Error;
    }
    Map map(record, c);
    if (map.get() == nullptr) return fmi2Error;
    size_t length = 0;
    status = dumpRecord(c, kSizeName, map.get(), BIM_SIZE_ONLY, &length);
    if (status == fmi2OK) {
      fmiSerializedSizeCache.store(static_cast<uint32_t>(length), std::memory_order_relaxed);
    }
  }
  *size = fmiSerializedSizeCache.load(std::memory_order_relaxed);
  return status;
}

fmi2Status serialize(fmiInstance *c, fmiInstance *record, fmi2Byte buffer[], size_t size) {
  if (fmiRefuseWithResultGeneration(c, kSerializeName)) return fmi2Warning;
  if (record == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: FMUstate == NULL", kSerializeName);
    return fmi2Error;
  }
  if (buffer == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: serializedState == NULL", kSerializeName);
    return fmi2Error;
  }
  if (!usableRecord(c, kSerializeName, record)) return fmi2Error;
  DelayImage scratch(c, record);
  if (!scratch.ok()) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: out of memory", kSerializeName);
    return fmi2Error;
  }
  Map map(record, c);
  if (map.get() == nullptr) return fmi2Error;
  AddressFree addressFree(record->runtime);
  return dumpRecord(c, kSerializeName, map.get(), BIM_TO_MEMORY | BIM_CALLER_BUFFER,
                    static_cast<void *>(buffer), size);
}

// A scratch record that an image is unpacked into: the record's counts and
// model data record, its own value arrays, work arrays and String slots.
// Everything bim_unpack hands out is released with the scratch record.
class Staging {
public:
  Staging(fmiInstance *c, fmiInstance *record) : c_(c), stage_{} {
    stage_.nx = record->nx;
    stage_.nu = record->nu;
    stage_.ny = record->ny;
    stage_.nw = record->nw;
    stage_.np = record->np;
    stage_.nstr = record->nstr;
    stage_.nz = record->nz;
    stage_.nExtra1 = record->nExtra1;
    stage_.nExtra2 = record->nExtra2;
    stage_.runtime = record->runtime;
    delayLength_ = fmiDelayImageLength(record);
    const size_t doubles = 3 * (size_t{record->nx} + 1) + record->np + 1 + record->nu + 1 +
                           record->ny + 1 + record->nw + 1 + record->nz + 1 + record->nExtra1 + 1 +
                           record->nExtra2 + 1 + kFmiDuserSize + delayLength_;
    const fmi2CallbackFunctions *f = c->functions;
    values_ = static_cast<double *>(f->allocateMemory(doubles, sizeof(double)));
    stage_.iuser = static_cast<int32_t *>(f->allocateMemory(kFmiIuserSize, sizeof(int32_t)));
    stage_.strings = static_cast<char **>(f->allocateMemory(record->nstr + 1u, sizeof(char *)));
    if (values_ == nullptr || delayLength_ == 0) return;
    double *next = values_;
    const auto take = [&](double *&field, size_t n) {
      field = next;
      next += n;
    };
    take(stage_.x, stage_.nx + 1u);
    take(stage_.xdot, stage_.nx + 1u);
    take(stage_.nominals, stage_.nx + 1u);
    take(stage_.p, stage_.np + 1u);
    take(stage_.u, stage_.nu + 1u);
    take(stage_.y, stage_.ny + 1u);
    take(stage_.w, stage_.nw + 1u);
    take(stage_.z, stage_.nz + 1u);
    take(stage_.extra1, stage_.nExtra1 + 1u);
    take(stage_.extra2, stage_.nExtra2 + 1u);
    take(stage_.duser, kFmiDuserSize);
    take(stage_.delayImage, delayLength_);
  }
  ~Staging() {
    const fmi2CallbackFunctions *f = c_->functions;
    if (stage_.strings != nullptr) {
      for (uint32_t i = 0; i <= stage_.nstr; ++i) bim_active_hooks.free(stage_.strings[i]);
      f->freeMemory(stage_.strings);
    }
    if (stage_.iuser != nullptr) f->freeMemory(stage_.iuser);
    if (values_ != nullptr) f->freeMemory(values_);
  }
  Staging(const Staging &) = delete;
  Staging &operator=(const Staging &) = delete;

  bool ok() const {
    return values_ != nullptr && stage_.iuser != nullptr && stage_.strings != nullptr &&
           delayLength_ != 0;
  }
  fmiInstance *record() { return &stage_; }
  uint32_t delayLength() const { return delayLength_; }

private:
  fmiInstance *c_;
  fmiInstance stage_;
  double *values_ = nullptr;
  uint32_t delayLength_ = 0;
};

// Moves the unpacked scratch record into record; newStrings are the
// record's new String buffers (nstr of them, 501 bytes each).
void commit(fmiInstance *c, fmiInstance *record, fmiInstance &stage,
            const ModelInstanceData &candidate, char **newStrings) {
  record->toleranceDefined = stage.toleranceDefined;
  record->tolerance = stage.tolerance;
  record->loggingOn = stage.loggingOn;
  const auto copy = [](double *to, const double *from, uint32_t n) {
    std::memcpy(to, from, (size_t{n} + 1) * sizeof(double));
  };
  copy(record->x, stage.x, record->nx);
  copy(record->xdot, stage.xdot, record->nx);
  copy(record->p, stage.p, record->np);
  copy(record->u, stage.u, record->nu);
  copy(record->y, stage.y, record->ny);
  copy(record->w, stage.w, record->nw);
  copy(record->z, stage.z, record->nz);
  copy(record->nominals, stage.nominals, record->nx);
  copy(record->extra1, stage.extra1, record->nExtra1);
  copy(record->extra2, stage.extra2, record->nExtra2);
  record->time = stage.time;
  record->computedLevel = stage.computedLevel;
  record->state = stage.state;
  record->terminatedByModel = stage.terminatedByModel;
  record->resultGenerationOn = stage.resultGenerationOn;
  record->valuesChanged = stage.valuesChanged;
  record->lastNewDiscreteStatesNeeded = stage.lastNewDiscreteStatesNeeded;
  record->jacobianOutdated = stage.jacobianOutdated;
  record->forceEvaluation = stage.forceEvaluation;
  record->inputsChanged = stage.inputsChanged;
  record->firstEvaluationInEventMode = stage.firstEvaluationInEventMode;
  record->eventIterationUnderway = stage.eventIterationUnderway;
  record->inlineStepCount = stage.inlineStepCount;
  record->nextOutputTime = stage.nextOutputTime;
  record->useStateInDerivative = stage.useStateInDerivative;
  std::memcpy(record->duser, stage.duser, kFmiDuserSize * sizeof(double));
  // IUSER element 13 is not in the image.
  std::memcpy(record->iuser, stage.iuser, (kFmiIuserSize - 1) * sizeof(int32_t));

  DelayBuffer *table = nullptr;
  int32_t rings = 0;
  getDelayBuffers(record->runtime, &table, &rings);
  bool wasInUse[kModelDelaySlots] = {};
  for (int32_t k = 0; k < rings; ++k) wasInUse[k] = fmiRingInUse(table[k]);
  fmiAdoptInstanceData(record->runtime, candidate, record->duser, record->iuser);
  const size_t ringDoubles = 2 * static_cast<size_t>(table[0].size);
  for (int32_t k = 0; k < rings; ++k) {
    fmiSetRingContents(table[k], wasInUse[k], stage.delayImage + ringDoubles * k);
  }

  for (uint32_t i = 0; i < record->nstr; ++i) {
    if (record->strings[i] != nullptr) c->functions->freeMemory(record->strings[i]);
    record->strings[i] = newStrings[i];
    if (const char *text = stage.strings[i]) {
      std::strncpy(record->strings[i], text, kFmiStringBufferSize - 1);
    }
    record->strings[i][kFmiStringBufferSize - 1] = '\0';
  }
  record->strings[record->nstr] = nullptr;
  record->stateValid = 1;
}

fmi2Status deserialize(fmiInstance *c, const fmi2Byte buffer[], size_t size, fmi2FMUstate *state) {
  const char *name = kSerializeName;
  if (fmiRefuseWithResultGeneration(c, name)) return fmi2Warning;
  if (buffer == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: serializedState == NULL", name);
    return fmi2Error;
  }
  if (state == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: FMUstate == NULL", name);
    return fmi2Error;
  }
  auto *record = static_cast<fmiInstance *>(*state);
  const bool created = record == nullptr;
  if (created) {
    const fmi2Status status = fmiCreateStateRecord(&record, c);
    if (status != fmi2OK) return status;
  }

  // A record whose rings were lost by a failed copy gets them back first.
  DelayBuffer *table = nullptr;
  int32_t rings = 0;
  getDelayBuffers(record->runtime, &table, &rings);
  if (rings > 0 && table[0].times == nullptr && allocDelayBuffers(table, rings, Buffersize) != 0) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: out of memory", name);
    if (created) fmiReleaseStateRecord(c, record);
    return fmi2Error;
  }

  fmi2Status status = fmi2OK;
  {
    Staging staging(c, record);
    char **newStrings = nullptr;
    do {
      if (!staging.ok()) {
        fmiLog(c, c->instanceName, fmi2Error, "", "%s: out of memory", name);
        status = fmi2Error;
        break;
      }
      Map map(staging.record(), c);
      if (map.get() == nullptr) {
        status = fmi2Error;
        break;
      }
      if (bim_load(map.get(), BIM_TO_MEMORY, static_cast<const void *>(buffer), size) != 0) {
        fmiLog(c, c->instanceName, fmi2Error, "", "%s: bim_load failed", name);
        status = fmi2Error;
        break;
      }
      const int unpacked = bim_unpack(map.get(), 0);
      void *block = map.unpackedBlock();
      const bool blockFits = block != nullptr && c->runtimeImage->size == sizeof(ModelInstanceData);
      const auto *candidate = static_cast<const ModelInstanceData *>(block);
      if (unpacked < 0 || !blockFits || !fmiKnownState(staging.record()->state) ||
          staging.record()->resultGenerationOn != 0 ||
          staging.record()->useStateInDerivative != 0 ||
          !fmiRingsFit(*candidate, *record->runtime) ||
          !soundValues(*staging.record(), *candidate)) {
        fmiLog(c, c->instanceName, fmi2Error, "", "%s: bim_unpack failed", name);
        status = fmi2Error;
        bim_active_hooks.free(block);
        break;
      }
      // New String buffers before anything of the record changes.
      newStrings =
          static_cast<char **>(c->functions->allocateMemory(record->nstr + 1u, sizeof(char *)));
      bool stringsOk = newStrings != nullptr;
      for (uint32_t i = 0; stringsOk && i < record->nstr; ++i) {
        newStrings[i] = static_cast<char *>(c->functions->allocateMemory(kFmiStringBufferSize, 1));
        stringsOk = newStrings[i] != nullptr;
      }
      if (!stringsOk) {
        if (newStrings != nullptr) {
          for (uint32_t i = 0; i < record->nstr; ++i) c->functions->freeMemory(newStrings[i]);
        }
        fmiLog(c, c->instanceName, fmi2Error, "", "%s: out of memory", name);
        status = fmi2Error;
        bim_active_hooks.free(block);
        break;
      }
      commit(c, record, *staging.record(), *candidate, newStrings);
      bim_active_hooks.free(block);
    } while (false);
    if (newStrings != nullptr) c->functions->freeMemory(newStrings);
  }

  if (status != fmi2OK) {
    if (created) fmiReleaseStateRecord(c, record);
    return status;
  }
  *state = record;
  return fmi2OK;
}

} // namespace

uint32_t fmiDelayImageLength(fmiInstance *record) {
  if (record->runtime == nullptr) return 0;
  DelayBuffer *table = nullptr;
  int32_t rings = 0;
  getDelayBuffers(record->runtime, &table, &rings);
  if (table == nullptr || rings < 1 || table[0].size < 1) return 0;
  for (int32_t k = 0; k < rings; ++k) {
    if (table[k].times == nullptr || table[k].size != table[0].size) return 0;
  }
  const uint64_t n = 2 * static_cast<uint64_t>(table[0].size) * static_cast<uint64_t>(rings);
  return n <= 0x7FFFFFFFu ? static_cast<uint32_t>(n) : 0;
}

bim_element *createBimMap(fmiInstance *r, bim_binary *runtimeImage, fmiInstance *c) {
  const uint32_t delayLength = fmiDelayImageLength(r);
  bim_element *map = nullptr;
  if (runtimeImage != nullptr && delayLength != 0 && r->delayImage != nullptr) {
    runtimeImage->address = r->runtime;
    runtimeImage->size = sizeof(ModelInstanceData);
    map = bim_map(kFmiStateFormat, &r->toleranceDefined, &r->tolerance, &r->loggingOn, r->x,
                  count(r->nx + 1), r->xdot, count(r->nx + 1), r->p, count(r->np + 1), r->u,
                  count(r->nu + 1), r->y, count(r->ny + 1), r->w, count(r->nw + 1), r->z,
                  count(r->nz + 1), r->nominals, count(r->nx + 1), r->extra1, count(r->nExtra1 + 1),
                  r->extra2, count(r->nExtra2 + 1), r->strings, count(r->nstr + 1), &r->time,
                  &r->computedLevel, &r->state, &r->terminatedByModel, &r->resultGenerationOn,
                  &r->valuesChanged, &r->lastNewDiscreteStatesNeeded, &r->jacobianOutdated,
                  &r->forceEvaluation, &r->inputsChanged, &r->firstEvaluationInEventMode,
                  &r->eventIterationUnderway, &r->inlineStepCount, &r->nextOutputTime,
                  &r->useStateInDerivative, r->duser, r->iuser, runtimeImage, r->delayImage,
                  count(delayLength));
  }
  if (map == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "createBimMap: bim_map returned NULL");
  }
  return map;
}

extern "C" {

fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate state, size_t *size) {
  return fmiGuarded(c, kSizeName, [&](fmiInstance *i) {
    return serializedSize(i, static_cast<fmiInstance *>(state), size);
  });
}

fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate state, fmi2Byte buffer[],
                                 size_t size) {
  return fmiGuarded(c, kSerializeName, [&](fmiInstance *i) {
    return serialize(i, static_cast<fmiInstance *>(state), buffer, size);
  });
}

fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte buffer[], size_t size,
                                   fmi2FMUstate *state) {
  return fmiGuarded(c, kSerializeName,
                    [&](fmiInstance *i) { return deserialize(i, buffer, size, state); });
}

} // extern "C"
