// The integrator's callbacks into the model (user data: the instance) and
// the Jacobian paths of a Co-Simulation instance's integrator, which
// fmi/fmiSolver.cpp registers at set-up.
#pragma once

#include "integrator/ode.h"

struct fmiInstance;
struct fmiSolverData;

// ---- Integrator callbacks ---------------------------------------------------------

int fmiOdeRhs(double t, OdeVector y, OdeVector ydot, void *userData);
int fmiOdeRoots(double t, OdeVector y, double *gout, void *userData);
int fmiOdeStepRoot(void *userData);
int fmiOdeErrWeights(OdeVector y, OdeVector ewt, void *userData);
void fmiOdeErrHandler(int errorCode, const char *module, const char *function, const char *message,
                      void *userData);
int fmiOdeDenseJac(long n, double t, OdeVector y, OdeVector fy, DenseMatrix *J, void *userData,
                   OdeVector tmp1, OdeVector tmp2, OdeVector tmp3);

// ---- Jacobian paths ---------------------------------------------------------------

// Stores the model's column-group count G for the dense Jacobian.
void setJacobianGroupCount(int groups);
// The model's column-group count G (0: the model has no group table).
int fmiJacobianGroupTableCount();
// Sets solver->requestedCores and gives the structural non-zero count of the
// grouped Jacobian, 0 for the dense path.
int fmiCountStructureNonZeros(int nx, fmiSolverData *solver);
// Fills columnStarts, patternIndex (allocated by the caller) for the sparse
// path; returns the largest |row - column| met.
int fmiBuildSparsePattern(fmiInstance *instance, fmiSolverData *solver, int nx, int nonZeroCount);
// Attaches the sparse direct solver at the first step.  0, or 1 on failure.
[[nodiscard]] int fmiAttachSparseSolver(fmiInstance *instance);
