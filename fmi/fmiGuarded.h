// The guards every fmi2 export runs its body under.
#pragma once

#include "fmi/fmi2.h"
#include "fmi/fmiInstance.h"

// While it lives, the export's instance and name are the calling thread's
// current call (fmiGetCurrentCall), to which the reports of the serializer
// and the integrator go; the previous call is put back at the end.
class fmiCallScope {
public:
  fmiCallScope(fmiInstance *instance, const char *name) : saved_(fmiGetCurrentCall()) {
    fmiSetCurrentCall({instance, name});
  }
  ~fmiCallScope() { fmiSetCurrentCall(saved_); }
  fmiCallScope(const fmiCallScope &) = delete;
  fmiCallScope &operator=(const fmiCallScope &) = delete;

private:
  fmiCall saved_;
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
  fmiCallScope call(c, name);
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
