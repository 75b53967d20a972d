// Instances: creation, release, reset and the experiment set-up.
//
// Everything an instance owns comes from the host's allocateMemory and goes
// back through its freeMemory; the instance record is zero-filled by the
// host, so a partial record after a failed allocation can be released by the
// same code as a complete one.
//
// The runtime keeps the DUSER/IUSER of the last instantiated instance in its
// process-wide kernel context.  A registry of live instances lets the
// release of an instance hand that role to an instance that is still alive
// (or clear it), so the context never points into freed memory.
#include "fmi/fmiInstantiate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "bim/bim.h"
#include "fmi/fmiEvaluate.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiResource.h"
#include "fmi/fmiResult.h"
#include "fmi/fmiState.h"
#include "fmi/fmiStateMachine.h"
#include "model/ModelInstanceData.h"
#include "model/model.h"
#include "model/model_data.h"
#include "source/runtime.h"

namespace {

constexpr size_t kMaxInstanceName = 1024;
constexpr size_t kStringTextMax = kFmiStringBufferSize - 1; // 500 characters

std::mutex liveMutex;
std::vector<fmiInstance *> &liveInstances() {
  static std::vector<fmiInstance *> list;
  return list;
}

[[nodiscard]] bool registerLive(fmiInstance *instance) {
  std::lock_guard<std::mutex> lock(liveMutex);
  try {
    liveInstances().push_back(instance);
  } catch (const std::bad_alloc &) {
    return false;
  }
  setUserArrays(instance->duser, instance->iuser);
  return true;
}

// Forgets the instance; when the kernel context holds its work arrays, they
// pass to the most recently instantiated live instance, or become null.
void unregisterLive(fmiInstance *instance) {
  std::lock_guard<std::mutex> lock(liveMutex);
  auto &list = liveInstances();
  list.erase(std::remove(list.begin(), list.end(), instance), list.end());
  const bool held = (instance->duser != nullptr && getDUSER() == instance->duser) ||
                    (instance->iuser != nullptr && getIUSER() == instance->iuser);
  if (!held) return;
  releaseUserArrays(getDUSER(), getIUSER());
  if (!list.empty()) setUserArrays(list.back()->duser, list.back()->iuser);
}

void *allocate(const fmiInstance *instance, size_t nobj, size_t size) {
  return instance->functions->allocateMemory(nobj, size);
}

template <typename T>
[[nodiscard]] bool allocateArray(const fmiInstance *instance, T *&out, size_t count) {
  out = static_cast<T *>(allocate(instance, count, sizeof(T)));
  return out != nullptr;
}

template <typename T> void release(const fmiInstance *instance, T *&pointer) {
  if (pointer != nullptr)
    instance->functions->freeMemory(const_cast<void *>(static_cast<const void *>(pointer)));
  pointer = nullptr;
}

char *fmiCopyInstanceName(const fmi2CallbackFunctions *functions, const char *name) {
  if (name == nullptr) name = "<NULL>";
  const size_t length = strnlen(name, kMaxInstanceName);
  char *copy = static_cast<char *>(functions->allocateMemory(length + 1, 1));
  if (copy != nullptr) std::memcpy(copy, name, length);
  return copy;
}

void copyStringText(char *buffer, const char *text) {
  const size_t n = text != nullptr ? strnlen(text, kStringTextMax) : 0;
  if (n > 0) std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  buffer[kStringTextMax] = '\0';
}

// Arrays sized by the model's counts, then the start values.
[[nodiscard]] bool createValueArrays(fmiInstance *c) {
  int32_t n[13] = {};
  dsinstancesizes_(&n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6], &n[7], &n[8], &n[9], &n[10],
                   &n[11], &n[12]);
  auto count = [](int32_t v) { return v > 0 ? static_cast<uint32_t>(v) : 0u; };
  c->nx = count(n[0]);
  c->nu = count(n[2]);
  c->ny = count(n[3]);
  c->nw = count(n[4]);
  c->np = count(n[5]);
  c->nstr = count(n[6]);
  c->nz = 2 * count(n[8]);
  c->nExtra1 = count(n[11]);
  c->nExtra2 = count(n[12]);
  return allocateArray(c, c->x, c->nx + 1) && allocateArray(c, c->xdot, c->nx + 1) &&
         allocateArray(c, c->p, c->np + 1) && allocateArray(c, c->u, c->nu + 1) &&
         allocateArray(c, c->y, c->ny + 1) && allocateArray(c, c->w, c->nw + 1) &&
         allocateArray(c, c->z, c->nz + 1) && allocateArray(c, c->nominals, c->nx + 1) &&
         allocateArray(c, c->strings, c->nstr + 1) && allocateArray(c, c->xPrev, c->nx + 1) &&
         allocateArray(c, c->extra1, c->nExtra1 + 1) &&
         allocateArray(c, c->extra2, c->nExtra2 + 1) &&
         allocateArray(c, c->booleanResetValues, booleanResetCount + 1);
}

// declare_ runs outside any evaluation, so a model error it raises needs a
// recovery point of its own: it then counts as a failed declare_ (QiErr 1)
// and the instantiation or reset fails cleanly instead of losing the record.
void declareStartValues(fmiInstance *c, char **strings, int32_t *qiErr) {
  ErrorRecoveryScope recovery;
  if (!recovery.run([&] { declare_(c->x, c->p, c->u, c->nominals, strings, qiErr, 0, nullptr); }))
    *qiErr = 1;
}

// declare_ leaves the addresses of the start texts in strings; each entry is
// replaced by an own buffer.  On failure the entries not yet replaced are
// cleared, so that the release frees only own buffers.
[[nodiscard]] bool createStringBuffers(fmiInstance *c) {
  for (uint32_t i = 0; i < c->nstr; ++i) {
    const char *start = c->strings[i];
    char *buffer = static_cast<char *>(allocate(c, kFmiStringBufferSize, 1));
    if (buffer == nullptr) {
      for (uint32_t k = i; k < c->nstr; ++k) c->strings[k] = nullptr;
      return false;
    }
    copyStringText(buffer, start);
    c->strings[i] = buffer;
  }
  return true;
}

// Logs through the host's record when no instance exists yet.
void logWithoutInstance(const fmi2CallbackFunctions *functions, const char *name, fmi2Status status,
                        const char *text) {
  fmiInstance scratch{};
  scratch.functions = functions;
  scratch.pendingEnd = scratch.pendingText;
  scratch.loggingOn = 1;
  fmiLog(&scratch, name, status, "", "%s", text);
}

} // namespace

fmiInstance *fmiInstantiateCommon(fmi2String instanceName, fmi2String fmuGUID,
                                  fmi2String fmuResourceLocation,
                                  const fmi2CallbackFunctions *functions, fmi2Boolean /*visible*/,
                                  fmi2Boolean loggingOn) {
  if (functions == nullptr) return nullptr;
  if (functions->allocateMemory == nullptr || functions->freeMemory == nullptr) {
    logWithoutInstance(functions, instanceName, fmi2Error,
                       "fmi2Instantiate: allocateMemory and freeMemory must not be NULL");
    return nullptr;
  }
  // The runtime's messages reach the logger of the instance under evaluation;
  // installed once, before the first instance can be evaluated.
  static const bool hookInstalled = (setRuntimeMessageHook(fmiRuntimeMessage), true);
  (void)hookInstalled;

  auto *c = static_cast<fmiInstance *>(functions->allocateMemory(1, sizeof(fmiInstance)));
  if (c == nullptr) return nullptr;
  // The host's record is valid only during this call: from here on the
  // instance uses its own copy.
  ::new (&c->callbacks) fmi2CallbackFunctions(*functions);
  c->functions = &c->callbacks;
  c->operations = &fmiModelExchangeOperations;
  c->pendingEnd = c->pendingText;

  bool ok = false;
  do {
    // Host memory is zero-filled: only the record's live parts are written,
    // so the regions that hold nothing never become resident.
    c->runtime = static_cast<ModelInstanceData *>(allocate(c, 1, sizeof(ModelInstanceData)));
    if (c->runtime == nullptr) break;
    initZeroedInstanceData(c->runtime);

    char folder[kResourcePathSize];
    if (fmiResourceFolder(fmuResourceLocation, folder, sizeof folder)) {
      setResourcePath(c->runtime, folder);
    }

    c->externalLibraryHandles = nullptr;
    const char *modulePath = getModulePath();
    if (externalLibraryNames[0] != nullptr) {
      loadExternalLibraries(externalLibraryNames, &c->externalLibraryHandles, 1, modulePath);
    }

    c->time = 0.0;
    c->fmuType = fmi2ModelExchange;
    c->instanceName = fmiCopyInstanceName(c->functions, instanceName);
    if (c->instanceName == nullptr) break;
    c->loggingOn = loggingOn;

    if (fmuGUID == nullptr || std::strcmp(fmuGUID, FMI_MODEL_GUID) != 0) {
      fmiLog(c, c->instanceName, fmi2Error, "", "Invalid GUID: %s, expected %s",
             fmuGUID != nullptr ? fmuGUID : "<NULL>", FMI_MODEL_GUID);
      break;
    }

    if (!allocateArray(c, c->duser, kFmiDuserSize) || !allocateArray(c, c->iuser, kFmiIuserSize)) {
      break;
    }
    c->evaluationDuser = c->duser;
    c->evaluationIuser = c->iuser;
    c->runtime->duser = c->duser;
    c->runtime->iuser = c->iuser;
    if (!registerLive(c)) break;

    if (!createValueArrays(c)) break;

    c->stringStarts = nullptr;
    for (uint32_t i = 0; i < c->nx; ++i) c->nominals[i] = 1.0;
    c->state = fmiStateInstantiated;
    c->resultGenerationOn = 0;
    c->forceEvaluation = 0;
    c->solver = nullptr;
    c->derivativeState = nullptr;
    c->jacobianOutdated = 1;

    int32_t qiErr = 0;
    declareStartValues(c, c->strings, &qiErr);
    if (!createStringBuffers(c)) break;
    if (qiErr != 0) {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s: declare_ failed, QiErr = %d",
             "fmi2Instantiate", qiErr);
      break;
    }

    c->startTime = c->stopTime = c->tolerance = 0.0;
    c->stopTimeDefined = c->toleranceDefined = c->valuesChanged = 0;
    c->lastNewDiscreteStatesNeeded = c->useStateInDerivative = c->inputsChanged = 0;
    c->nextOutputTime = 1e100;
    c->runtimeImage = static_cast<bim_binary *>(allocate(c, 1, sizeof(bim_binary)));
    if (c->runtimeImage == nullptr) break;
    ok = true;
  } while (false);

  if (!ok) {
    fmiLog(c, instanceName != nullptr ? instanceName : "", fmi2Fatal, "", "Instantiation failed");
    fmiFreeModelInstance(c);
    return nullptr;
  }
  fmiLog(c, c->instanceName, fmi2OK, "", "%s completed", "fmi2Instantiate");
  return c;
}

void fmiFreeModelInstance(fmiInstance *c) {
  if (c == nullptr) return;
  fmiLog(c, c->instanceName, fmi2OK, "", "fmiFreeModelInstance");
  // An instance freed without terminate still completes its result file.
  fmiResultFinish(c);
  // Terminate releases the Co-Simulation integrator; an instance freed
  // without terminate still holds it.
  if (c->solver != nullptr && c->operations->freeSolver != nullptr) c->operations->freeSolver(c);
  if (c->runtime != nullptr) {
    releaseInstanceData(c->runtime); // the record is released below
  } else {
    resetDefaultInstanceData();
  }
  unregisterLive(c);
  release(c, c->instanceName);
  release(c, c->duser);
  release(c, c->iuser);
  c->evaluationDuser = nullptr;
  c->evaluationIuser = nullptr;
  release(c, c->x);
  release(c, c->xdot);
  release(c, c->p);
  release(c, c->u);
  release(c, c->y);
  release(c, c->w);
  release(c, c->z);
  if (c->strings != nullptr) {
    for (uint32_t i = c->nstr; i-- > 0;) release(c, c->strings[i]);
  }
  release(c, c->strings);
  release(c, c->nominals);
  release(c, c->xPrev);
  release(c, c->extra1);
  release(c, c->extra2);
  release(c, c->booleanResetValues);
  release(c, c->stringStarts);
  release(c, c->jacobianA);
  release(c, c->jacobianB);
  release(c, c->jacobianC);
  release(c, c->jacobianD);
  release(c, c->knownBase);
  release(c, c->knownPlus);
  release(c, c->knownMinus);
  release(c, c->unknownBase);
  release(c, c->unknownPlus);
  release(c, c->unknownMinus);
  fmiReleaseStateRecord(c, c->derivativeState);
  c->derivativeState = nullptr;
  if (c->externalLibraryHandles != nullptr && externalLibraryNames[0] != nullptr) {
    loadExternalLibraries(externalLibraryNames, &c->externalLibraryHandles, 0, nullptr);
  }
  if (c->runtime != nullptr) {
    releaseThreadBuffers();
    release(c, c->runtime);
  }
  release(c, c->runtimeImage);
  // The record holds the callbacks it is released with.
  const fmi2CallbackFreeMemory freeMemory = c->functions->freeMemory;
  freeMemory(c);
}

fmi2Status fmiReset(fmiInstance *c) {
  static constexpr const char *name = "fmi2Reset";
  fmiLog(c, c->instanceName, fmi2OK, "", "%s...", name);
  // An instance that is instantiated or terminated runs no simulation: it is
  // not terminated (again), but its start values are declared anew, so that
  // after every reset all variables have their default values.
  fmi2Status status = fmi2OK;
  if (c->state != fmiStateInstantiated && c->state != fmiStateTerminated) {
    status = fmiTerminate(c);
    if (status != fmi2OK && status != fmi2Warning) return status;
  }
  if (c->stringStarts == nullptr && c->nstr > 0) {
    c->stringStarts = static_cast<char **>(allocate(c, c->nstr, sizeof(char *)));
    if (c->stringStarts == nullptr) {
      fmiLog(c, c->instanceName, fmi2Fatal, "", "%s failed: out of Memory", name);
      fmiFreeModelInstance(c);
      return fmi2Fatal;
    }
  }
  int32_t qiErr = 0;
  declareStartValues(c, c->stringStarts, &qiErr);
  for (uint32_t i = 0; i < c->nstr; ++i) copyStringText(c->strings[i], c->stringStarts[i]);
  std::fill_n(c->y, c->ny, 0.0);
  std::fill_n(c->w, c->nw, 0.0);
  if (qiErr != 0) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: declare_ failed, QiErr = %d", name, qiErr);
    return fmiTerminateOnError(c);
  }
  c->state = fmiStateInstantiated;
  c->jacobianOutdated = 1;
  fmiLog(c, c->instanceName, status, "", "%s completed", name);
  return status;
}

fmi2Status fmiSetupExperiment(fmiInstance *c, fmi2Boolean toleranceDefined, double tolerance,
                              double startTime, fmi2Boolean stopTimeDefined, double stopTime) {
  static constexpr const char *name = "fmi2SetupExperiment";
  if (!fmiCheckState(c, fmiFunction::SetupExperiment)) {
    return fmiRefusalStatus(fmiFunction::SetupExperiment);
  }
  // Times that are not finite numbers would leave the instance unable to
  // step; the call is refused and changes nothing.  A stop time that is not
  // defined is not used and may be anything.
  if (!std::isfinite(startTime)) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: invalid argument startTime = %g, ignoring call",
           name, startTime);
    return fmi2Error;
  }
  if (stopTimeDefined != 0 && !std::isfinite(stopTime)) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: invalid argument stopTime = %g, ignoring call",
           name, stopTime);
    return fmi2Error;
  }
  // A tolerance that is not a finite number counts as none given.
  if (toleranceDefined != 0 && !std::isfinite(tolerance)) {
    fmiLog(c, c->instanceName, fmi2Warning, "",
           "%s: invalid argument tolerance = %g, setting toleranceDefined to fmi2False", name,
           tolerance);
    toleranceDefined = fmi2False;
    tolerance = 0.0;
  }
  c->stopTimeDefined = stopTimeDefined;
  c->startTime = startTime;
  c->stopTime = stopTime;
  if (c->fmuType == fmi2ModelExchange && toleranceDefined != 0) {
    fmiLog(c, c->instanceName, fmi2Warning, "",
           "%s: tolerance control not supported for fmuType fmi2ModelExchange, setting "
           "toleranceDefined to fmi2False",
           name);
    c->toleranceDefined = 0;
    c->tolerance = 0.0;
  } else {
    c->toleranceDefined = toleranceDefined;
    c->tolerance = tolerance;
  }
  c->time = startTime;
  c->computedLevel = 0;
  fmiLog(c, c->instanceName, fmi2OK, "", "%s: startTime is set to %g", name, startTime);
  return fmi2OK;
}
