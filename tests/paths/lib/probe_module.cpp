// A stand-in for the unit's shared library: the module-path code compiled
// into a module of its own, so that a test can place it in an FMU tree and
// see the paths and loads that it makes from there.  Each loaded copy has
// its own process-wide path state.

#include "source/dsblock5/modulepath.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

PROBE_EXPORT const char *probeModulePath() { return getModulePath(); }

PROBE_EXPORT const char *probeResourcePath() { return getResourcePath(nullptr); }

PROBE_EXPORT void probeSetDefaultResourcePath(const char *path) { setDefaultResourcePath(path); }

// Loads (load 1, with the module's own path, as instantiation does) or
// releases (load 0) the libraries of names into *handles.
PROBE_EXPORT void probeLoadLibraries(const char **names, void ***handles, int load) {
  loadExternalLibraries(names, handles, load, load != 0 ? getModulePath() : nullptr);
}
