// Saving, restoring and releasing FMU states.
//
// fmi2GetFMUstate copies the instance into a state record (created on first
// use, overwritten in place later); fmi2SetFMUstate copies a record back;
// in Co-Simulation the integrator's data travel with the record, and a
// restore always leaves the instance with an integrator exactly when the
// restored state has one.  A copy that fails half-way leaves the record
// marked invalid (or frees it when the call created it), never a record
// that looks like a snapshot but is not.
#include "fmi/fmiState.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "fmi/fmiEvaluate.h"
#include "fmi/fmiGuarded.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiResult.h"
#include "fmi/fmiSolver.h"
#include "model/ModelInstanceData.h"
#include "source/runtime.h"

namespace {

constexpr const char *kGetName = "fmi2GetFMUstate";
constexpr const char *kSetName = "fmi2SetFMUstate";
constexpr const char *kFreeName = "fmi2FreeFMUstate";

template <typename T>
[[nodiscard]] bool allocateArray(const fmi2CallbackFunctions *f, T *&out, size_t count) {
  out = static_cast<T *>(f->allocateMemory(count, sizeof(T)));
  return out != nullptr;
}

template <typename T> void releaseArray(const fmi2CallbackFunctions *f, T *&block) {
  if (block != nullptr) f->freeMemory(block);
  block = nullptr;
}

bool sameCounts(const fmiInstance &a, const fmiInstance &b) {
  return a.nx == b.nx && a.nu == b.nu && a.ny == b.ny && a.nw == b.nw && a.np == b.np &&
         a.nstr == b.nstr && a.nz == b.nz && a.nExtra1 == b.nExtra1 && a.nExtra2 == b.nExtra2;
}

void copyValues(double *destination, const double *source, uint32_t count) {
  std::memcpy(destination, source, count * sizeof(double));
}

// A Co-Simulation instance that integrates with the integrator (not inline)
// carries the integrator's data in its states.
bool usesIntegrator(const fmiInstance *c) {
  return c->fmuType == fmi2CoSimulation && c->iuser[kIuserInlineSetting] == 0;
}

// States in which a Co-Simulation instance owns an integrator: from
// initialization to termination.
bool integratorBelongsTo(int32_t state) {
  return state != fmiStateInstantiated && state != fmiStateTerminated;
}

} // namespace

std::atomic<uint32_t> fmiSerializedSizeCache{0};

bool fmiRefuseWithResultGeneration(fmiInstance *c, const char *name) {
  if (c->resultGenerationOn == 0) return false;
  fmiLog(c, c->instanceName, fmi2Warning, "",
         "%s failed, FMU uses internal result generation; this is not possible to combine "
         "with %s",
         name, name);
  return true;
}

// ---- Records ----------------------------------------------------------------

void fmiReleaseStateRecord(fmiInstance *instance, fmiInstance *record) {
  if (record == nullptr) return;
  const fmi2CallbackFunctions *f = instance->functions;
  releaseArray(f, record->x);
  releaseArray(f, record->xPrev);
  releaseArray(f, record->xdot);
  releaseArray(f, record->p);
  releaseArray(f, record->u);
  releaseArray(f, record->y);
  releaseArray(f, record->w);
  releaseArray(f, record->z);
  releaseArray(f, record->nominals);
  releaseArray(f, record->extra1);
  releaseArray(f, record->extra2);
  if (record->strings != nullptr) {
    for (uint32_t i = record->nstr; i-- > 0;) releaseArray(f, record->strings[i]);
  }
  releaseArray(f, record->strings);
  releaseArray(f, record->duser);
  releaseArray(f, record->iuser);
  if (record->runtime != nullptr) {
    DelayBuffer *table = nullptr;
    int32_t count = 0;
    getDelayBuffers(record->runtime, &table, &count);
    freeDelayBuffers(table, count);
    releaseArray(f, record->runtime);
  }
  releaseArray(f, record->delayImage);
  if (record->solver != nullptr) fmiFreeSolverData(instance, record);
  f->freeMemory(record);
}

fmi2Status fmiCreateStateRecord(fmiInstance **out, fmiInstance *instance) {
  const fmi2CallbackFunctions *f = instance->functions;
  *out = nullptr;
  auto *r = static_cast<fmiInstance *>(f->allocateMemory(1, sizeof(fmiInstance)));
  bool ok = r != nullptr;
  if (ok) {
    r->nx = instance->nx;
    r->nu = instance->nu;
    r->ny = instance->ny;
    r->nw = instance->nw;
    r->np = instance->np;
    r->nstr = instance->nstr;
    r->nz = instance->nz;
    r->nExtra1 = instance->nExtra1;
    r->nExtra2 = instance->nExtra2;
    r->pendingEnd = r->pendingText;
    ok = allocateArray(f, r->x, r->nx + 1u) && allocateArray(f, r->xPrev, r->nx + 1u) &&
         allocateArray(f, r->xdot, r->nx + 1u) && allocateArray(f, r->p, r->np + 1u) &&
         allocateArray(f, r->u, r->nu + 1u) && allocateArray(f, r->y, r->ny + 1u) &&
         allocateArray(f, r->w, r->nw + 1u) && allocateArray(f, r->z, r->nz + 1u) &&
         allocateArray(f, r->nominals, r->nx + 1u) && allocateArray(f, r->strings, r->nstr + 1u) &&
         allocateArray(f, r->extra1, r->nExtra1 + 1u) &&
         allocateArray(f, r->extra2, r->nExtra2 + 1u);
    for (uint32_t i = 0; ok && i < r->nstr; ++i) {
      ok = allocateArray(f, r->strings[i], size_t{kFmiStringBufferSize});
    }
    ok = ok && allocateArray(f, r->duser, size_t{kFmiDuserSize}) &&
         allocateArray(f, r->iuser, size_t{kFmiIuserSize}) &&
         allocateArray(f, r->runtime, size_t{1});
    if (ok) {
      initZeroedInstanceData(r->runtime);
      r->runtime->duser = r->duser;
      r->runtime->iuser = r->iuser;
      DelayBuffer *table = nullptr;
      int32_t count = 0;
      getDelayBuffers(r->runtime, &table, &count);
      // Blocks that came with the template are not the record's.
      for (int32_t k = 0; k < count; ++k) table[k].times = table[k].values = nullptr;
      ok = allocDelayBuffers(table, count, Buffersize) == 0;
      fmiAdoptInstanceData(r->runtime, *r->runtime, r->duser, r->iuser);
    }
  }
  if (!ok) {
    fmiLog(instance, instance->instanceName, fmi2Error, "", "memory allocation failed");
    fmiReleaseStateRecord(instance, r);
    return fmi2Error;
  }
  r->delayImage = nullptr;
  *out = r;
  return fmi2OK;
}

// ---- Copies -------------------------------------------------------------------

namespace {

// copyDelayBuffers with the same outcome, moving only what the rings hold:
// every field follows the source, each destination keeps (or, for another
// size, gets) its own block, and the block receives the source's contents.
// 0, or 1 when a block cannot be allocated: the destination is then left
// without rings.
int32_t copyRings(DelayBuffer *destination, const DelayBuffer *source, int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    DelayBuffer &to = destination[k];
    const DelayBuffer &from = source[k];
    if (&to == &from) continue;
    if (from.times == nullptr) {
      freeDelayBuffers(&to, 1);
      to = from;
      to.values = nullptr;
      continue;
    }
    bool wasInUse = fmiRingInUse(to);
    if (to.times == nullptr || to.size != from.size) {
      if (allocDelayBuffers(&to, 1, from.size) != 0) {
        freeDelayBuffers(destination, count);
        return 1;
      }
      wasInUse = false; // a new block holds zeros
    }
    double *block = to.times;
    to = from;
    to.times = block;
    to.values = block + from.size;
    fmiSetRingContents(to, wasInUse, from.times);
  }
  return 0;
}

} // namespace

bool fmiRingsFit(const ModelInstanceData &candidate, const ModelInstanceData &own) {
  for (int32_t k = 0; k < kModelDelaySlots; ++k) {
    const DelayBuffer &c = candidate.delayBuffers[k];
    const DelayBuffer &o = own.delayBuffers[k];
    if (o.times == nullptr) {
      if (c.size != 0) return false;
      continue;
    }
    const auto inside = [&](int32_t slot) { return slot >= 0 && slot < o.size; };
    if (c.size != o.size || !inside(c.first) || !inside(c.current) || !inside(c.last)) {
      return false;
    }
  }
  return true;
}

bool fmiRingInUse(const DelayBuffer &ring) {
  return ring.scale != 0.0 || ring.first != 0 || ring.current != 0 || ring.last != 0;
}

void fmiSetRingContents(DelayBuffer &ring, bool wasInUse, const double *contents) {
  if (ring.times == nullptr) return;
  const size_t bytes = 2 * static_cast<size_t>(ring.size) * sizeof(double);
  if (fmiRingInUse(ring)) {
    std::memcpy(ring.times, contents, bytes);
  } else if (wasInUse) {
    std::memset(ring.times, 0, bytes);
  }
}

void fmiAdoptInstanceData(ModelInstanceData *destination, const ModelInstanceData &candidate,
                          double *duser, int32_t *iuser) {
  // What stays the destination's.
  std::array<double *, kModelDelaySlots> blocks{};
  for (int32_t k = 0; k < kModelDelaySlots; ++k) blocks[k] = destination->delayBuffers[k].times;
  std::array<ExternalObjectSlot, kModelExternalSlots> objects{};
  std::copy_n(destination->externalObjects, kModelExternalSlots, objects.begin());
  std::array<const char *, kModelProfileBlocks> profileNames{};
  for (int32_t k = 0; k < kModelProfileBlocks; ++k) {
    profileNames[k] = destination->profileBlocks[k].name;
  }
  double *jacobian[4] = {destination->jacobianA, destination->jacobianB, destination->jacobianC,
                         destination->jacobianD};

  // The state parts only: the regions that hold nothing are zero in both
  // records, and the resources folder is not among them.
  copyInstanceDataState(destination, candidate);

  destination->duser = duser;
  destination->iuser = iuser;
  destination->busy = 0;
  for (int32_t k = 0; k < kModelDelaySlots; ++k) {
    DelayBuffer &ring = destination->delayBuffers[k];
    ring.times = blocks[k];
    ring.values = blocks[k] != nullptr ? blocks[k] + ring.size : nullptr;
    if (blocks[k] == nullptr) ring.size = ring.first = ring.current = ring.last = 0;
  }
  std::copy(objects.begin(), objects.end(), destination->externalObjects);
  for (int32_t k = 0; k < kModelProfileBlocks; ++k) {
    destination->profileBlocks[k].name = profileNames[k];
  }
  destination->jacobianA = jacobian[0];
  destination->jacobianB = jacobian[1];
  destination->jacobianC = jacobian[2];
  destination->jacobianD = jacobian[3];
  destination->resourcePath[kResourcePathSize - 1] = '\0';
  for (int32_t k = 0; k < kModelStringSlots; ++k) {
    destination->stringPointers[k] = destination->stringStorage[k];
    destination->stringStorage[k][kStringSlotSize - 1] = '\0';
  }
}

int fmiCopyInstanceRecord(fmiInstance *source, fmiInstance *destination,
                          const fmi2CallbackFunctions * /*callbacks*/) {
  if (!sameCounts(*source, *destination)) return 2;
  for (uint32_t i = 0; i < destination->nstr; ++i) {
    if (source->strings[i] == nullptr || destination->strings[i] == nullptr) return 2;
  }
  if ((source->runtime == nullptr) != (destination->runtime == nullptr)) return 2;

  // The delay rings first: they are the one part of the copy that may need
  // memory, and a copy that fails for want of it leaves the values of the
  // destination as they were.
  if (source->runtime != nullptr) {
    DelayBuffer *from = nullptr;
    DelayBuffer *to = nullptr;
    int32_t fromCount = 0;
    int32_t toCount = 0;
    getDelayBuffers(source->runtime, &from, &fromCount);
    getDelayBuffers(destination->runtime, &to, &toCount);
    if (from == nullptr || to == nullptr || fromCount != toCount) return 2;
    if (copyRings(to, from, toCount) != 0) return 1;
  }

  destination->toleranceDefined = source->toleranceDefined;
  destination->tolerance = source->tolerance;
  destination->loggingOn = source->loggingOn;
  copyValues(destination->x, source->x, source->nx);
  copyValues(destination->xdot, source->xdot, source->nx);
  copyValues(destination->p, source->p, source->np);
  copyValues(destination->u, source->u, source->nu);
  copyValues(destination->y, source->y, source->ny);
  copyValues(destination->w, source->w, source->nw);
  copyValues(destination->z, source->z, source->nz);
  copyValues(destination->nominals, source->nominals, source->nx);
  copyValues(destination->extra1, source->extra1, source->nExtra1);
  copyValues(destination->extra2, source->extra2, source->nExtra2);
  for (uint32_t i = 0; i < destination->nstr; ++i) {
    std::memcpy(destination->strings[i], source->strings[i], kFmiStringBufferSize);
    destination->strings[i][kFmiStringBufferSize - 1] = '\0';
  }

  destination->time = source->time;
  destination->computedLevel = source->computedLevel;
  destination->state = source->state;
  destination->terminatedByModel = source->terminatedByModel;
  destination->resultGenerationOn = source->resultGenerationOn;
  destination->inlineStepCount = source->inlineStepCount;
  destination->nextOutputTime = source->nextOutputTime;
  destination->useStateInDerivative = source->useStateInDerivative;
  destination->valuesChanged = source->valuesChanged;
  destination->lastNewDiscreteStatesNeeded = source->lastNewDiscreteStatesNeeded;
  destination->jacobianOutdated = source->jacobianOutdated;
  destination->forceEvaluation = source->forceEvaluation;
  destination->inputsChanged = source->inputsChanged;
  destination->firstEvaluationInEventMode = source->firstEvaluationInEventMode;
  destination->eventIterationUnderway = source->eventIterationUnderway;
  std::copy_n(source->duser, kFmiDuserSize, destination->duser);
  std::copy_n(source->iuser, kFmiIuserSize, destination->iuser);

  if (source->runtime != nullptr) {
    fmiAdoptInstanceData(destination->runtime, *source->runtime, destination->duser,
                         destination->iuser);
  }
  return 0;
}

// ---- Exports ------------------------------------------------------------------

namespace {

fmi2Status getState(fmiInstance *c, fmi2FMUstate *state) {
  if (fmiRefuseWithResultGeneration(c, kGetName)) return fmi2Warning;
  if (state == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: FMUstate == NULL", kGetName);
    return fmi2Error;
  }
  fmiLog(c, c->instanceName, fmi2OK, "", "fmi2GetFMUstate");
  auto *record = static_cast<fmiInstance *>(*state);
  const bool created = record == nullptr;
  if (created) {
    const fmi2Status status = fmiCreateStateRecord(&record, c);
    if (status != fmi2OK) return status;
  }
  // Releases what this call created; a record given by the host stays
  // with it, marked invalid.  A save only reads the instance, so a save
  // that fails for want of memory leaves it running as it was.
  const auto fail = [&](fmi2Status status) {
    if (created) fmiReleaseStateRecord(c, record);
    return status;
  };

  DelayBuffer *table = nullptr;
  int32_t count = 0;
  getDelayBuffers(c->runtime, &table, &count);
  if (count > 0 && table[0].size == 0 && allocDelayBuffers(table, count, Buffersize) != 0) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s failed, out of memory", kGetName);
    return fail(fmi2Error);
  }

  record->stateValid = 0;
  const int copied = fmiCopyInstanceRecord(c, record, c->functions);
  if (copied == 1) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s failed, out of memory", kGetName);
    return fail(fmi2Error);
  }
  if (copied != 0) {
    if (copied == 2) {
      fmiLog(c, c->instanceName, fmi2Error, "",
             "%s failed, internal mismach when copying variables", kGetName);
    } else {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s failed, unhandeld internal error code %d",
             kGetName, copied);
    }
    return fail(fmiTerminateOnError(c));
  }

  if (usesIntegrator(c) && fmiGetSolverState(c, record) != fmi2OK) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s failed", kGetName);
    return fail(fmi2Error);
  }
  record->stateValid = 1;
  *state = record;
  return fmi2OK;
}

// The integrator side of a Co-Simulation restore.  The instance ends with an
// integrator exactly when the restored state belongs to one (setState has
// built a missing one before the copy).
fmi2Status restoreIntegrator(fmiInstance *c, fmiInstance *record) {
  if (!integratorBelongsTo(c->state)) {
    fmiFreeSolverData(c, c);
    fmiLog(c, c->instanceName, fmi2OK, "", "%s", kSetName);
    return fmi2OK;
  }
  const fmi2Status status = fmiSetSolverState(record, c);
  if (status == fmi2OK && c->solver == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s failed", kSetName);
    return fmiTerminateOnError(c);
  }
  return status;
}

fmi2Status setState(fmiInstance *c, fmi2FMUstate state) {
  if (fmiRefuseWithResultGeneration(c, kSetName)) return fmi2Warning;
  if (state == nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: FMUstate == NULL", kSetName);
    return fmi2Error;
  }
  auto *record = static_cast<fmiInstance *>(state);
  if (record->stateValid != 1) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: FMUstate is not valid", kSetName);
    return fmi2Error;
  }

  // What a restore allocates it takes before anything of the instance
  // changes, so that a failed allocation leaves the instance as it was: a
  // Co-Simulation instance without an integrator (instantiated, reset or
  // terminated) that takes over a state of a running simulation gets its
  // integrator first.  (The instance takes the record's IUSER, which says
  // whether it integrates inline.)
  const bool integratorNeeded = c->fmuType == fmi2CoSimulation &&
                                record->iuser[kIuserInlineSetting] == 0 &&
                                integratorBelongsTo(record->state);
  const bool built = integratorNeeded && c->solver == nullptr;
  const int32_t integratorWord = c->iuser[kIuserIntegratorWord];
  const auto releaseBuilt = [&] {
    if (!built) return;
    fmiFreeSolverData(c, c);
    c->iuser[kIuserIntegratorWord] = integratorWord;
  };
  if (built) {
    const double relTol = record->toleranceDefined != 0 ? record->tolerance : 0.0;
    if (fmiSetupSolver(c, relTol) != 0) {
      c->iuser[kIuserIntegratorWord] = integratorWord;
      fmiLog(c, c->instanceName, fmi2Error, "", "%s failed", kSetName);
      return fmi2Error;
    }
  }

  if (getExternalObjectCount() > 0) {
    if (record->state == fmiStateInstantiated && c->state != fmiStateInstantiated) {
      resetInstanceData(c->runtime);
      clearExternalObjects(c->runtime);
    } else if (record->state != fmiStateInstantiated && c->state == fmiStateInstantiated) {
      clearExternalObjects(c->runtime);
      (void)fmiEvaluate(c, kRequestInitial, nullptr, nullptr);
    }
  }

  const int copied = fmiCopyInstanceRecord(record, c, c->functions);
  if (copied == 1) {
    // The copy stopped before it changed a value.
    releaseBuilt();
    fmiLog(c, c->instanceName, fmi2Error, "", "%s failed, out of memory", kSetName);
    return fmi2Error;
  }
  if (copied != 0) {
    releaseBuilt();
    if (copied == 2) {
      fmiLog(c, c->instanceName, fmi2Error, "",
             "%s failed, internal mismatch when copying variables", kSetName);
    } else {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s failed, unhandled internal error code %d",
             kSetName, copied);
    }
    return fmiTerminateOnError(c);
  }
  // A new integrator starts with its word cleared, as its set-up leaves it.
  if (built) c->iuser[kIuserIntegratorWord] = 0;
  fmiResultRestored(c);

  if (usesIntegrator(c)) return restoreIntegrator(c, record);
  fmiLog(c, c->instanceName, fmi2OK, "", "%s", kSetName);
  return fmi2OK;
}

fmi2Status freeState(fmiInstance *c, fmi2FMUstate *state) {
  if (state == nullptr || *state == nullptr) return fmi2OK;
  fmiReleaseStateRecord(c, static_cast<fmiInstance *>(*state));
  *state = nullptr;
  fmiLog(c, c->instanceName, fmi2OK, "", "%s", kFreeName);
  return fmi2OK;
}

} // namespace

extern "C" {

fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate *state) {
  return fmiGuarded(c, kGetName, [&](fmiInstance *i) { return getState(i, state); });
}

fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate state) {
  return fmiGuarded(c, kSetName, [&](fmiInstance *i) { return setState(i, state); });
}

fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate *state) {
  return fmiGuarded(c, kFreeName, [&](fmiInstance *i) { return freeState(i, state); });
}

} // extern "C"
