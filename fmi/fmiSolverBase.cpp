// The result checks and the input extrapolation that the integrator layer
// and the integrator's callbacks share.
#include "fmi/fmiSolverBase.h"

#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiSolver.h"

#include <cstdlib>
#include <cstring>

// ---- Result checks -------------------------------------------------------------

int fmiCheckSolverResult(const void *result, const char *functionName, int mode,
                         fmiInstance *instance) {
  if (mode == 0) {
    if (result != nullptr) return 0;
    fmiLog(instance, instance->instanceName, fmi2Error, "",
           "INTEGRATOR_ERROR: %s() failed - returned NULL pointer", functionName);
    return 1;
  }
  if (mode == 1) {
    int flag = *static_cast<const int *>(result);
    if (flag >= 0) return 0;
    const bool denseSolver =
        std::strcmp(functionName, "OdeDense") == 0 || std::strncmp(functionName, "OdeDls", 6) == 0;
    char *name = fmiSolverFlagText(flag, denseSolver);
    fmiLog(instance, instance->instanceName, fmi2Error, "",
           "INTEGRATOR_ERROR: %s() failed with flag = %s", functionName,
           name != nullptr ? name : "NONE");
    std::free(name);
    return 1;
  }
  return 0;
}

char *fmiSolverFlagText(int flag, bool denseSolver) {
  if (denseSolver) {
    switch (flag) {
    case ODEDLS_MEM_NULL:
      return OdeFlagText(ODE_MEM_NULL);
    case ODEDLS_LMEM_NULL:
      return OdeFlagText(ODE_LINIT_FAIL);
    case ODEDLS_ILL_INPUT:
      return OdeFlagText(ODE_ILL_INPUT);
    case ODEDLS_MEM_FAIL:
      return OdeFlagText(ODE_MEM_FAIL);
    default:
      break;
    }
  }
  return OdeFlagText(flag);
}

// ---- Inputs during integration -------------------------------------------------------------

namespace {

// u_i := base_i + derivative_i*dt, dt the time since the base was taken.
void extrapolate(fmiInstance *instance, const fmiSolverData *solver, double dt) {
  for (uint32_t i = 0; i < instance->nu; ++i) {
    instance->u[i] = solver->inputDerivatives[i] * dt + solver->inputBase[i];
  }
}

} // namespace

void fmiExtrapolateInputs(fmiInstance *instance, double t) {
  fmiSolverData *solver = instance->solver;
  if (solver == nullptr || !solver->inputDerivativesValid) return;
  extrapolate(instance, solver, t - solver->inputDerivativeTime);
}

void fmiExtrapolateInputsAt(fmiInstance *instance, double tau) {
  fmiSolverData *solver = instance->solver;
  if (solver == nullptr || !solver->inputDerivativesValid) return;
  // The base time is a communication point, which the integrator's time
  // holds exactly; without an origin this is t - inputDerivativeTime.
  extrapolate(instance, solver, tau - fmiIntegratorTime(solver, solver->inputDerivativeTime));
}

void fmiSetInputBase(fmiInstance *instance, int32_t inputIndex) {
  fmiSolverData *solver = instance->solver;
  if (solver == nullptr || solver->inputBase == nullptr) return;
  if (inputIndex < 0 || static_cast<uint32_t>(inputIndex) >= instance->nu) return;
  solver->inputBase[inputIndex] = instance->u[inputIndex];
}
