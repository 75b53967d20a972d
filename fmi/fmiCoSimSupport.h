// Small helpers shared by the Co-Simulation files of the FMI layer
// (fmiCoSim.cpp, fmiSolver.cpp, fmiSolverCallbacks.cpp).  Internal.
#ifndef FMI_FMICOSIMSUPPORT_H
#define FMI_FMICOSIMSUPPORT_H

#include "source/dsblock5/dsblock.h"

struct fmiInstance;

// QiErr of a model error (recoverable for the integrator).
inline constexpr int32_t kQiErrModelError = kQiErrError;

// Moves the instance's time as fmi2SetTime does when it accepts (time := t,
// computedLevel := 0, jacobianOutdated := 1, the "%s to %g" trace), without
// its state check: the Co-Simulation step moves time in every state it runs in.
void fmiCoSimSetTime(fmiInstance *instance, double t);

#endif  // FMI_FMICOSIMSUPPORT_H
