// The FMI 2.0 interface by name, for the programs that load a unit with
// dlopen (the test host in tests/support/ and fmuhost): the 44 fmi2 functions
// as one X-list, a record of pointers to them and their look-up, and the names
// of the statuses.  Header-only, so that a host takes it without another
// library.
//
//   fmi2::Functions f;
//   std::string missing = fmi2::lookUpFunctions(handle, f, [](fmi2::Use) { return true; });
#pragma once

#include "fmi/fmi2.h"

#include <dlfcn.h>

#include <string>

namespace fmi2 {

// What a function serves, so that a host can look up only what its runs call.
enum class Use {
  Common,        // either kind: version, logging, instances, initialization, values
  ModelExchange, // a Model Exchange run
  CoSimulation,  // a Co-Simulation run: the step and its status
  // Either kind, for what a run takes only with a capability of the model
  // description or an asynchronous step: FMU states, directional
  // derivatives, input and output derivatives, cancelling a step and the
  // Integer and String status.
  Capability,
};

// X(name, use) for each of the 44 functions, in the order of the standard's
// header (use names an enumerator of Use).
// clang-format off
#define FMI2_FUNCTIONS(X)                                                                          \
  X(fmi2GetTypesPlatform, Common)                                                                  \
  X(fmi2GetVersion, Common)                                                                        \
  X(fmi2SetDebugLogging, Common)                                                                   \
  X(fmi2Instantiate, Common)                                                                       \
  X(fmi2FreeInstance, Common)                                                                      \
  X(fmi2SetupExperiment, Common)                                                                   \
  X(fmi2EnterInitializationMode, Common)                                                           \
  X(fmi2ExitInitializationMode, Common)                                                            \
  X(fmi2Terminate, Common)                                                                         \
  X(fmi2Reset, Common)                                                                             \
  X(fmi2GetReal, Common)                                                                           \
  X(fmi2GetInteger, Common)                                                                        \
  X(fmi2GetBoolean, Common)                                                                        \
  X(fmi2GetString, Common)                                                                         \
  X(fmi2SetReal, Common)                                                                           \
  X(fmi2SetInteger, Common)                                                                        \
  X(fmi2SetBoolean, Common)                                                                        \
  X(fmi2SetString, Common)                                                                         \
  X(fmi2GetFMUstate, Capability)                                                                   \
  X(fmi2SetFMUstate, Capability)                                                                   \
  X(fmi2FreeFMUstate, Capability)                                                                  \
  X(fmi2SerializedFMUstateSize, Capability)                                                        \
  X(fmi2SerializeFMUstate, Capability)                                                             \
  X(fmi2DeSerializeFMUstate, Capability)                                                           \
  X(fmi2GetDirectionalDerivative, Capability)                                                      \
  X(fmi2EnterEventMode, ModelExchange)                                                             \
  X(fmi2NewDiscreteStates, ModelExchange)                                                          \
  X(fmi2EnterContinuousTimeMode, ModelExchange)                                                    \
  X(fmi2CompletedIntegratorStep, ModelExchange)                                                    \
  X(fmi2SetTime, ModelExchange)                                                                    \
  X(fmi2SetContinuousStates, ModelExchange)                                                        \
  X(fmi2GetDerivatives, ModelExchange)                                                             \
  X(fmi2GetEventIndicators, ModelExchange)                                                         \
  X(fmi2GetContinuousStates, ModelExchange)                                                        \
  X(fmi2GetNominalsOfContinuousStates, ModelExchange)                                              \
  X(fmi2SetRealInputDerivatives, Capability)                                                       \
  X(fmi2GetRealOutputDerivatives, Capability)                                                      \
  X(fmi2DoStep, CoSimulation)                                                                      \
  X(fmi2CancelStep, Capability)                                                                    \
  X(fmi2GetStatus, CoSimulation)                                                                   \
  X(fmi2GetRealStatus, CoSimulation)                                                               \
  X(fmi2GetIntegerStatus, Capability)                                                              \
  X(fmi2GetBooleanStatus, CoSimulation)                                                            \
  X(fmi2GetStringStatus, Capability)
// clang-format on

// One pointer per function, named as the function (f.fmi2DoStep(...)); null
// until the host looks it up.
struct Functions {
#define FMI2_FUNCTION_POINTER(name, use) name##TYPE *name = nullptr;
  FMI2_FUNCTIONS(FMI2_FUNCTION_POINTER)
#undef FMI2_FUNCTION_POINTER
};

// Looks up with dlsym, in the list's order, each function whose use `wanted`
// accepts (wanted(fmi2::Use) -> bool); the others stay null.  Returns the
// names of those not found, joined by ", " ("" when every one is there).
template <class Wanted> std::string lookUpFunctions(void *handle, Functions &f, Wanted wanted) {
  std::string missing;
  const auto lookUp = [&](const char *name, Use use) -> void * {
    if (!wanted(use)) return nullptr;
    void *p = dlsym(handle, name);
    if (!p) missing += std::string(missing.empty() ? "" : ", ") + name;
    return p;
  };
#define FMI2_LOOK_UP(name, use) f.name = reinterpret_cast<name##TYPE *>(lookUp(#name, Use::use));
  FMI2_FUNCTIONS(FMI2_LOOK_UP)
#undef FMI2_LOOK_UP
  return missing;
}

// The name of a status as in the standard ("fmi2OK" ... "fmi2Pending"),
// "fmi2Status(N)" for a value outside the enumeration.
inline std::string statusName(fmi2Status status) {
  switch (status) {
  case fmi2OK:
    return "fmi2OK";
  case fmi2Warning:
    return "fmi2Warning";
  case fmi2Discard:
    return "fmi2Discard";
  case fmi2Error:
    return "fmi2Error";
  case fmi2Fatal:
    return "fmi2Fatal";
  case fmi2Pending:
    return "fmi2Pending";
  }
  return "fmi2Status(" + std::to_string(static_cast<int>(status)) + ")";
}

} // namespace fmi2
