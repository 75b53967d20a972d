// FMU states are not available yet: each call is answered with fmi2Error.
// The definitions are weak, so the FMU-state functions' own take their place.
#include "fmi/fmi2.h"
#include "fmi/fmiInstance.h"

namespace {

fmi2Status notAvailable(fmi2Component component, const char *name) {
  if (component == nullptr) return fmi2Error;
  auto *c = static_cast<fmiInstance *>(component);
  fmiLog(c, c->instanceName, fmi2Error, "", "%s: not available yet", name);
  return fmi2Error;
}

}  // namespace

extern "C" {

__attribute__((weak)) fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate *) {
  return notAvailable(c, "fmi2GetFMUstate");
}

__attribute__((weak)) fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate) {
  return notAvailable(c, "fmi2SetFMUstate");
}

__attribute__((weak)) fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate *) {
  return notAvailable(c, "fmi2FreeFMUstate");
}

__attribute__((weak)) fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate, size_t *) {
  return notAvailable(c, "fmi2SerializedFMUstateSize");
}

__attribute__((weak)) fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate, fmi2Byte[], size_t) {
  return notAvailable(c, "fmi2SerializeFMUstate");
}

__attribute__((weak)) fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte[], size_t, fmi2FMUstate *) {
  // The messages of deserialization name the serializing function.
  return notAvailable(c, "fmi2SerializeFMUstate");
}

}  // extern "C"
