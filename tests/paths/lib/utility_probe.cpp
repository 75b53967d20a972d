// A stand-in for the unit as a host loads it: the runtime's utility functions
// of external C code, exported as the unit exports them, and the loader of
// the model's external libraries, in a module of their own.  Each loaded copy
// has its own runtime state (message hook, thread records).

#include <string>

#include "modelica/modelica.h"
#include "source/dsblock5/modulepath.h"
#include "source/runtime.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string seen;

void capture(const char *text, int emit, int level) {
  // Digits by hand: std::to_string would bring a unique symbol that keeps
  // the module loaded after dlclose.
  seen += static_cast<char>('0' + emit);
  seen += static_cast<char>('0' + level);
  seen += std::string(" ") + text + "|";
}

} // namespace

// Loads (load 1, with the module's own path, as instantiation does) or
// releases (load 0) the libraries of names into *handles.
PROBE_EXPORT void probeLoadLibraries(const char **names, void ***handles, int load) {
  loadExternalLibraries(names, handles, load, load != 0 ? getModulePath() : nullptr);
}

// Runs function (of a loaded library) as an evaluation would: under a
// recovery point, with this module's message hook recording.  Returns the
// recorded messages ("<emit><level> <text>|" each) and "completed" or
// "failed".
PROBE_EXPORT const char *probeRun(void (*function)()) {
  seen.clear();
  setRuntimeMessageHook(capture);
  bool completed = false;
  {
    ErrorRecoveryScope scope;
    completed = scope.run(function);
  }
  endEvaluation();
  setRuntimeMessageHook(nullptr);
  seen += completed ? "completed" : "failed";
  return seen.c_str();
}

// Reads line n of file through the open-file cache, whose reading stream then
// stays open.  Returns whether the line was read.
PROBE_EXPORT int probeReadLine(const char *file, int n) {
  int endOfFile = 1;
  ErrorRecoveryScope scope;
  const bool completed = scope.run([&] { readLine(file, n, &endOfFile); });
  endEvaluation();
  return completed && endOfFile == 0 ? 1 : 0;
}
