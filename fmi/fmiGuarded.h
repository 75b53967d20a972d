// The guards every fmi2 export runs its body under.
#pragma once

#include "fmi/fmi2.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"

// While it lives, the export's instance and name are the calling thread's
// call (fmiThreadState), to which the reports of the serializer and the
// integrator go, and the instance keeps the thread's record for the
// evaluations of the call (not with keep false: fmi2FreeInstance releases
// its instance).  Everything is put back at the end, the runtime's record
// of the thread too, so that a later call looks it up afresh.
class fmiCallScope {
public:
  fmiCallScope(fmiInstance *instance, const char *name, bool keep = true)
      : thread_(fmiThisThread()), instance_(keep ? instance : nullptr), call_(thread_->call),
        runtime_(thread_->runtime), kept_(keep ? instance->thread : nullptr) {
    thread_->call = {instance, name};
    if (instance_ != nullptr) instance_->thread = thread_;
  }
  ~fmiCallScope() {
    if (instance_ != nullptr) instance_->thread = kept_;
    thread_->runtime = runtime_;
    thread_->call = call_;
  }
  fmiCallScope(const fmiCallScope &) = delete;
  fmiCallScope &operator=(const fmiCallScope &) = delete;

private:
  fmiThreadState *thread_;
  fmiInstance *instance_;
  fmiCall call_;
  ThreadContext *runtime_;
  fmiThreadState *kept_;
};

// A null component is answered with fmi2Error (it has no logger to report
// to); otherwise body(instance) runs and its status is returned.  No C++
// exception leaves the guard: one from the body is logged as "<name>:
// internal error" and answered with fmi2Error.  (The host's logger cannot
// throw into the unit: fmiLog absorbs what it throws.)
template <typename Body>
fmi2Status fmiGuarded(fmi2Component component, const char *name, Body &&body) {
  if (component == nullptr) return fmi2Error;
  auto *c = static_cast<fmiInstance *>(component);
  fmiCallScope call(c, name);
  try {
    return body(c);
  } catch (...) {
    try {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s: internal error", name);
    } catch (...) {}
    return fmi2Error;
  }
}

// The guard of fmi2FreeInstance, which returns nothing: an exception from the
// body is logged as "<name>: internal error" while the instance can still be
// told, and goes no further.
template <typename Body>
void fmiGuardedRelease(fmi2Component component, const char *name, Body &&body) {
  if (component == nullptr) return;
  auto *c = static_cast<fmiInstance *>(component);
  fmiCallScope call(c, name, false);
  try {
    body(c);
  } catch (...) {
    try {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s: internal error", name);
    } catch (...) {}
  }
}

// The guard of fmi2Instantiate: an exception from the body gives no instance.
template <typename Body> fmi2Component fmiGuardedCreate(Body &&body) {
  try {
    return body();
  } catch (...) {
    return nullptr;
  }
}
