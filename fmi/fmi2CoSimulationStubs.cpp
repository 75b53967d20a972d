// The Co-Simulation step, its status functions and the input and output
// derivatives are not available yet: each call is answered with fmi2Error.
// The definitions are weak, so the Co-Simulation driver's own take their place.
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

__attribute__((weak)) fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                       const fmi2Integer[], const fmi2Real[]) {
  return notAvailable(c, "fmi2SetRealInputDerivatives");
}

__attribute__((weak)) fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference[], size_t,
                                        const fmi2Integer[], fmi2Real[]) {
  return notAvailable(c, "fmi2GetRealOutputDerivatives");
}

__attribute__((weak)) fmi2Status fmi2DoStep(fmi2Component c, fmi2Real, fmi2Real, fmi2Boolean) {
  return notAvailable(c, "fmi2DoStep");
}

__attribute__((weak)) fmi2Status fmi2CancelStep(fmi2Component c) { return notAvailable(c, "fmi2CancelStep"); }

__attribute__((weak)) fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind, fmi2Status *) {
  return notAvailable(c, "fmi2GetStatus");
}

__attribute__((weak)) fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind, fmi2Real *) {
  return notAvailable(c, "fmi2GetRealStatus");
}

__attribute__((weak)) fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind, fmi2Integer *) {
  return notAvailable(c, "fmi2GetIntegerStatus");
}

__attribute__((weak)) fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind, fmi2Boolean *) {
  return notAvailable(c, "fmi2GetBooleanStatus");
}

__attribute__((weak)) fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind, fmi2String *) {
  return notAvailable(c, "fmi2GetStringStatus");
}

}  // extern "C"
