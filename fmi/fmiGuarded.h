// The guard every fmi2 export runs its body under.
#pragma once

#include "fmi/fmi2.h"
#include "fmi/fmiInstance.h"

// A null component is answered with fmi2Error (it has no logger to report
// to); otherwise body(instance) runs and its status is returned.  No C++
// exception leaves the guard: one from the body is logged as "<name>:
// internal error" and answered with fmi2Error, and one from the host's
// logger while reporting it is swallowed.
template <typename Body>
fmi2Status fmiGuarded(fmi2Component component, const char *name, Body &&body) {
  if (component == nullptr) return fmi2Error;
  auto *c = static_cast<fmiInstance *>(component);
  try {
    return body(c);
  } catch (...) {
    try {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s: internal error", name);
    } catch (...) {
    }
    return fmi2Error;
  }
}
