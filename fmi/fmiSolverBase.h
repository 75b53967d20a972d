// What the integrator layer of a Co-Simulation instance (fmi/fmiSolver.cpp)
// and the integrator's callbacks (fmi/fmiSolverCallbacks.cpp) both use, below
// both: the checks of the integrator's results with the names of its flags,
// and the inputs during integration.
#pragma once

#include <cstdint>

struct fmiInstance;

// ---- Result checks ------------------------------------------------------------------

// mode 0: result is a pointer, failure when null; mode 1: result points to an
// int flag, failure when negative; other modes never fail.  0 ok, 1 failure
// (logged at fmi2Error with the entry point's name).
int fmiCheckSolverResult(const void *result, const char *functionName, int mode,
                         fmiInstance *instance);

// The symbolic name of a flag, in a new string that the caller frees (as
// OdeFlagText).  The dense linear solver (entry points OdeDense and OdeDls*,
// modules "ODEDENSE" and "ODEDLS") answers with flags of its own whose
// numbers mean other things in the integrator's table (its allocation
// failure -4 is ODE_CONV_FAILURE there); with denseSolver they are named by
// the integrator flag of the same meaning: -1 ODE_MEM_NULL, -2
// ODE_LINIT_FAIL, -3 ODE_ILL_INPUT, -4 ODE_MEM_FAIL.
[[nodiscard]] char *fmiSolverFlagText(int flag, bool denseSolver);

// ---- Inputs during integration ---------------------------------------------------

// While input extrapolation is valid: u_i := base_i + derivative_i*(t - t0).
void fmiExtrapolateInputs(fmiInstance *instance, double t);
// The same at the integrator's time tau (fmiIntegratorTime): the time since
// t0 counts in the integrator's time, as fine far from time 0 as near it,
// not in the instance time that tau stands for, which rounds to the coarse
// grid of large times.
void fmiExtrapolateInputsAt(fmiInstance *instance, double tau);
// A Co-Simulation input set by the host (input inputIndex) becomes the base
// of its extrapolation.
void fmiSetInputBase(fmiInstance *instance, int32_t inputIndex);
