// The integrator's callbacks into the model: right-hand side, root functions
// (the event indicators), step-stop test (step events), error weights, error
// handler and the finite-difference Jacobians.
//
// The callbacks run inside OdeSolve.  They move the instance's time, state
// pointer and inputs to the integrator's point for one evaluation and put them
// back before returning.  They never terminate the instance: a model error is
// a recoverable failure for the integrator, and any other failed evaluation is
// remembered in the solver record (callbackFailure) and answered as an
// unrecoverable failure, so that integration_step ends the simulation only
// after OdeSolve has returned.
#include "fmi/fmiSolverCallbacks.h"

#include "fmi/fmiEvaluate.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiSolver.h"
#include "fmi/fmiSolverBase.h"
#include "model/ModelInstanceData.h"
#include "model/model.h"
#include "model/model_data.h"
#include "source/runtime.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kUnitRoundoff = 2.220446049250313e-16; // 2^-52

// Selects the grouped dense Jacobian; written with G at every set-up.  The
// set-up of one instance may write it while another instance's Jacobian
// reads it (the same constant), so it is atomic; relaxed order suffices.
std::atomic<int> jacobianGroupCount{0};

// The compressed-column matrix handed to the sparse Jacobian.
struct SparseJacobianMatrix {
  double *values;
  int *rowIndex;
  int *columnStarts;
};

int vectorLength(OdeVector v) { return static_cast<OdeVectorSerialContent *>(v->content)->length; }

fmiInstance *instanceOf(void *userData) { return static_cast<fmiInstance *>(userData); }

// Remembers the first failure that is not a model error.
void rememberFailure(fmiInstance *instance, int32_t qiErr) {
  if (instance->solver != nullptr && instance->solver->callbackFailure == 0) {
    instance->solver->callbackFailure = qiErr;
  }
}

// Evaluates the model at the integrator's point (tau, y), that is at instance
// time t, with the inputs extrapolated to t, and copies count values of
// source (xdot or z) into out.  The instance's time, state
// pointer and inputs are restored afterwards; its value arrays keep what the
// evaluation computed at (t, y), so its computed level is 0: nothing in them
// belongs to the restored point.  Returns the QiErr of the evaluation (0 for
// success).
int32_t evaluateAt(fmiInstance *instance, double tau, OdeVector y, double *out, std::size_t count,
                   int32_t request, const char *name, bool indicators) {
  const double t = fmiInstanceTime(instance->solver, tau);
  const double savedTime = instance->time;
  double *savedX = instance->x;
  fmiExtrapolateInputsAt(instance, tau);
  instance->x = OdeVecGetData(y);
  instance->time = t;
  instance->computedLevel = 0;
  int32_t qiErr = 0;
  if (!indicators || instance->terminatedByModel == 0) {
    qiErr = fmiEvaluate(instance, request, name, nullptr);
  }
  if (qiErr == 0 && out != nullptr) {
    const double *source = indicators ? instance->z : instance->xdot;
    std::memcpy(out, source, count * sizeof(double));
  }
  fmiExtrapolateInputs(instance, savedTime);
  instance->x = savedX;
  instance->time = savedTime;
  instance->computedLevel = 0;
  return qiErr;
}

// The derivative evaluation of the callbacks: 0 ok, 1 model error
// (recoverable), -1 any other failure (remembered).
int derivativesAt(fmiInstance *instance, double t, OdeVector y, double *out, int length) {
  std::size_t count = instance->nx;
  if (length >= 0 && static_cast<std::size_t>(length) < count)
    count = static_cast<std::size_t>(length);
  const int32_t qiErr = evaluateAt(instance, t, y, out, count, 2, "fmi2GetDerivatives", false);
  if (qiErr == 0) return 0;
  if (qiErr == kQiErrError) return 1;
  rememberFailure(instance, qiErr);
  return -1;
}

// Jacobian increments: fetches the integrator's error weights into the solver
// record and computes sqrt(u) and the smallest increment.  0, or 1 on failure.
int fmiJacobianIncrements(OdeVector fy, double *sqrtU, double *minIncrement,
                          fmiInstance *instance) {
  fmiSolverData *solver = instance->solver;
  int flag = OdeGetErrWeights(solver->odeMemory, solver->errorWeights);
  if (fmiCheckSolverResult(&flag, "OdeGetErrWeights", 1, instance) != 0) return 1;
  *sqrtU = odeSafeSqrt(kUnitRoundoff);
  const double fnorm = OdeVecWeightedRms(fy, solver->errorWeights);
  double h = 0.0;
  flag = OdeGetCurrentStep(solver->odeMemory, &h);
  if (fmiCheckSolverResult(&flag, "OdeGetCurrentStep", 1, instance) != 0) return 1;
  const double nx = static_cast<double>(instance->nx);
  *minIncrement = fnorm != 0.0 ? 1000.0 * std::fabs(h) * kUnitRoundoff * nx * fnorm : 1.0;
  return 0;
}

// The increment of state component value v with error weight ewt.
double incrementFor(double v, double sqrtU, double minIncrement, double ewt) {
  const double bySize = sqrtU * std::fabs(v);
  const double byWeight = minIncrement / ewt;
  double inc = bySize > byWeight ? bySize : byWeight;
  if (v < 0.0) inc = -inc;
  return inc;
}

// Perturbs the columns of group g of the table, evaluates the derivatives into
// derivativeScratch and restores the columns.  columns points at the group's
// entry of jacobianColumnGroups (its count, then its columns).  0 ok, else the
// derivativesAt result.
int evaluateGroup(fmiInstance *instance, double t, OdeVector y, const int *columns, double sqrtU,
                  double minIncrement, const double *ewt, double *increments) {
  fmiSolverData *solver = instance->solver;
  double *yd = OdeVecGetData(y);
  double *saved = OdeVecGetData(solver->stateSave);
  const int n = columns[0];
  for (int k = 1; k <= n; ++k) {
    const int c = columns[k] - 1;
    saved[c] = yd[c];
    const double inc = incrementFor(yd[c], sqrtU, minIncrement, ewt[c]);
    yd[c] = yd[c] + inc;
    increments[c] = yd[c] - saved[c];
  }
  const int r = derivativesAt(instance, t, y, OdeVecGetData(solver->derivativeScratch),
                              vectorLength(solver->derivativeScratch));
  for (int k = 1; k <= n; ++k) {
    const int c = columns[k] - 1;
    yd[c] = saved[c];
  }
  return r;
}

// Calls visit(row, column) for every structural entry of a group's pattern,
// in the pattern's order: row 0-based, column 1-based as the table has it.
// False for a pattern of another kind, which holds none.
template <typename Visit> bool forEachEntry(const JacobianGroupPattern &p, int nx, Visit &&visit) {
  if (p.kind == 0) {
    for (int row = 0; row < nx; ++row) {
      if (p.pattern[row] > 0) visit(row, p.pattern[row]);
    }
    return true;
  }
  if (p.kind == 1) {
    const int *block = p.pattern + 1;
    for (int b = 0; b < p.pattern[0]; ++b) {
      for (int k = 0; k < block[1]; ++k) visit(block[2 + k] - 1, block[0]);
      block += 2 + block[1];
    }
    return true;
  }
  return false;
}

// The grouped Jacobian: one derivative evaluation per column group, whose
// difference quotients go to store(group, row, column, value) for every entry
// of the group's pattern.  0 ok, 1 failure (the dense caller falls back to
// one column at a time), -1 a remembered unrecoverable failure.
template <typename Store>
int groupedJacobian(double t, OdeVector y, OdeVector fy, double sqrtU, double minIncrement,
                    const double *ewt, OdeVector increments, fmiInstance *instance, Store &&store) {
  const int nx = static_cast<int>(instance->nx);
  const double *fyd = OdeVecGetData(fy);
  const double *scratch = OdeVecGetData(instance->solver->derivativeScratch);
  double *inc = OdeVecGetData(increments);
  const int *columns = jacobianColumnGroups + 1;
  for (int g = 0; g < jacobianColumnGroups[0]; ++g) {
    const int r = evaluateGroup(instance, t, y, columns, sqrtU, minIncrement, ewt, inc);
    if (r < 0) return -1;
    if (r != 0) return 1;
    const bool known = forEachEntry(jacobianGroupPatterns[g], nx, [&](int row, int column) {
      store(g, row, column, (scratch[row] - fyd[row]) / inc[column - 1]);
    });
    if (!known) return 1;
    columns += columns[0] + 1;
  }
  return 0;
}

// The grouped dense Jacobian into J.
int fmiGroupedDenseJacobian(double t, OdeVector y, OdeVector fy, DenseMatrix *J, double sqrtU,
                            double minIncrement, const double *ewt, OdeVector increments,
                            fmiInstance *instance) {
  return groupedJacobian(
      t, y, fy, sqrtU, minIncrement, ewt, increments, instance,
      [&](int, int row, int column, double value) { J->colPtrs[column - 1][row] = value; });
}

// The grouped sparse Jacobian into the compressed-column matrix J: each entry
// at its position of the sparse pattern.
int fmiGroupedSparseJacobian(double t, OdeVector y, OdeVector fy, SparseJacobianMatrix *J,
                             double sqrtU, double minIncrement, const double *ewt,
                             OdeVector increments, fmiInstance *instance) {
  fmiSolverData *solver = instance->solver;
  const int nx = static_cast<int>(instance->nx);
  const int result = groupedJacobian(t, y, fy, sqrtU, minIncrement, ewt, increments, instance,
                                     [&](int g, int row, int, double value) {
                                       const int position = solver->patternIndex[g * nx + row];
                                       if (position < 0) return;
                                       J->values[position] = value;
                                       J->rowIndex[position] = row;
                                     });
  if (result != 0) return result;
  std::memcpy(J->columnStarts, solver->columnStarts,
              (static_cast<std::size_t>(nx) + 1) * sizeof(int));
  return 0;
}

// The sparse Jacobian callback installed by fmiAttachSparseSolver.
int fmiOdeSparseJac(double t, OdeVector y, OdeVector fy, SparseJacobianMatrix *J, void *userData,
                    OdeVector /*tmp1*/, OdeVector /*tmp2*/, OdeVector tmp3) {
  fmiInstance *instance = instanceOf(userData);
  double sqrtU = 0.0;
  double minIncrement = 0.0;
  if (fmiJacobianIncrements(fy, &sqrtU, &minIncrement, instance) != 0) return 1;
  instance->iuser[kIuserDerivativeEvaluation] = 1;
  int result = 1;
  if (jacobianGroupCount.load(std::memory_order_relaxed) >= 1) {
    result =
        fmiGroupedSparseJacobian(t, y, fy, J, sqrtU, minIncrement,
                                 OdeVecGetData(instance->solver->errorWeights), tmp3, instance);
  }
  instance->iuser[kIuserDerivativeEvaluation] = 0;
  return result;
}

} // namespace

// ---- Callbacks ---------------------------------------------------------------------

int fmiOdeRhs(double t, OdeVector y, OdeVector ydot, void *userData) {
  fmiInstance *instance = instanceOf(userData);
  return derivativesAt(instance, t, y, OdeVecGetData(ydot), vectorLength(ydot));
}

int fmiOdeRoots(double t, OdeVector y, double *gout, void *userData) {
  fmiInstance *instance = instanceOf(userData);
  const int32_t qiErr =
      evaluateAt(instance, t, y, gout, instance->nz, 4, "fmi2GetEventIndicators", true);
  if (qiErr == 0) return 0;
  if (qiErr != kQiErrError) rememberFailure(instance, qiErr);
  return -1;
}

int fmiOdeStepRoot(void *userData) {
  return instanceOf(userData)->iuser[kIuserStepEvent] != 0 ? 1 : 0;
}

int fmiOdeErrWeights(OdeVector y, OdeVector ewt, void *userData) {
  fmiSolverData *solver = instanceOf(userData)->solver;
  if (solver == nullptr || solver->relativeTolerances == nullptr ||
      solver->absoluteTolerances == nullptr) {
    return -1;
  }
  const int n = vectorLength(y);
  if (vectorLength(ewt) != n || vectorLength(solver->relativeTolerances) != n ||
      vectorLength(solver->absoluteTolerances) != n) {
    return -1;
  }
  OdeVecAbsolute(y, ewt);
  OdeVecMultiply(solver->relativeTolerances, ewt, ewt);
  OdeVecCombine(1.0, ewt, 1.0, solver->absoluteTolerances, ewt);
  if (OdeVecMinElement(ewt) <= 0.0) return -1;
  OdeVecReciprocal(ewt, ewt);
  return 0;
}

void fmiOdeErrHandler(int errorCode, const char *module, const char *function, const char *message,
                      void *userData) {
  fmiInstance *instance = instanceOf(userData);
  const bool denseSolver = module != nullptr && (std::strcmp(module, "ODEDENSE") == 0 ||
                                                 std::strcmp(module, "ODEDLS") == 0);
  char *name = fmiSolverFlagText(errorCode, denseSolver);
  const fmiSolverData *solver = instance->solver;
  if (solver != nullptr && solver->timeOrigin != 0.0) {
    // The times in the integrator's text are its own: say where they count from.
    fmiLog(instance, instance->instanceName, fmi2Warning, "",
           "%s: %s failed with %s:\n %s\n (integrator times count from t = %.16e)", module,
           function, name != nullptr ? name : "NONE", message, solver->timeOrigin);
  } else {
    fmiLog(instance, instance->instanceName, fmi2Warning, "", "%s: %s failed with %s:\n %s", module,
           function, name != nullptr ? name : "NONE", message);
  }
  std::free(name);
}

int fmiOdeDenseJac(long n, double t, OdeVector y, OdeVector fy, DenseMatrix *J, void *userData,
                   OdeVector tmp1, OdeVector tmp2, OdeVector tmp3) {
  fmiInstance *instance = instanceOf(userData);
  double *ownData = OdeVecGetData(tmp2);
  double sqrtU = 0.0;
  double minIncrement = 0.0;
  if (fmiJacobianIncrements(fy, &sqrtU, &minIncrement, instance) != 0) return 1;
  const double *ewt = OdeVecGetData(instance->solver->errorWeights);
  instance->iuser[kIuserDerivativeEvaluation] = 1;
  int result = 0;
  if (jacobianGroupCount.load(std::memory_order_relaxed) != 0) {
    result = fmiGroupedDenseJacobian(t, y, fy, J, sqrtU, minIncrement, ewt, tmp3, instance);
    if (result <= 0) {
      instance->iuser[kIuserDerivativeEvaluation] = 0;
      return result;
    }
    result = 0;
  }
  double *yd = OdeVecGetData(y);
  for (long j = 0; j < n && result == 0; ++j) {
    OdeVecSetData(J->colPtrs[j], tmp2);
    const double yj = yd[j];
    double inc = incrementFor(yj, sqrtU, minIncrement, ewt[j]);
    double actual = 0.0;
    int r = 1;
    for (int attempt = 0; attempt < 5; ++attempt) {
      yd[j] = yj + inc;
      actual = (yj + inc) - yj;
      r = derivativesAt(instance, t, y, OdeVecGetData(tmp1), vectorLength(tmp1));
      if (r <= 0) break;
      inc = actual / -5.0;
    }
    yd[j] = yj;
    if (r != 0) {
      result = r < 0 ? -1 : 1;
      break;
    }
    OdeVecCombine(1.0 / actual, tmp1, -1.0 / actual, fy, tmp2);
  }
  instance->iuser[kIuserDerivativeEvaluation] = 0;
  OdeVecSetData(ownData, tmp2);
  return result;
}

// ---- Choosing the Jacobian path -------------------------------------------------------

void setJacobianGroupCount(int groups) {
  jacobianGroupCount.store(groups, std::memory_order_relaxed);
}

int fmiJacobianGroupTableCount() { return jacobianColumnGroups[0]; }

int fmiCountStructureNonZeros(int nx, fmiSolverData *solver) {
  solver->requestedCores = dsstructcount_(1);
  const int groups = jacobianColumnGroups[0];
  if (solver->requestedCores == 0 || groups <= 0) return 0;
  int count = 0;
  for (int g = 0; g < groups; ++g) {
    (void)forEachEntry(jacobianGroupPatterns[g], nx, [&](int, int) { ++count; });
  }
  return count;
}

int fmiBuildSparsePattern(fmiInstance * /*instance*/, fmiSolverData *solver, int nx,
                          int nonZeroCount) {
  const int groups = jacobianColumnGroups[0];
  for (int k = 0; k < groups * nx; ++k) solver->patternIndex[k] = -1;
  int position = 0;
  int widest = 0;
  auto note = [&](int row, int column) {
    const int d = row > column ? row - column : column - row;
    if (d > widest) widest = d;
  };
  for (int j = 0; j < nx; ++j) {
    solver->columnStarts[j] = position;
    const int *columns = jacobianColumnGroups + 1;
    for (int g = 0; g < groups; ++g) {
      bool member = false;
      for (int k = 1; k <= columns[0]; ++k) member = member || columns[k] == j + 1;
      if (member) {
        (void)forEachEntry(jacobianGroupPatterns[g], nx, [&](int row, int column) {
          if (column != j + 1) return;
          solver->patternIndex[g * nx + row] = position++;
          note(row, j);
        });
      }
      columns += columns[0] + 1;
    }
  }
  solver->columnStarts[nx] = position;
  solver->nonZeroCount = nonZeroCount;
  solver->groupCount = groups;
  return widest;
}

int fmiAttachSparseSolver(fmiInstance *instance) {
  fmiSolverData *solver = instance->solver;
  int flag = OdeSparse(solver->odeMemory, solver->solverCores, static_cast<int>(instance->nx),
                       solver->nonZeroCount);
  if (fmiCheckSolverResult(&flag, "OdeSparse", 1, instance) != 0) return 1;
  flag = OdeSlsSetSparseJacFn(solver->odeMemory, &fmiOdeSparseJac);
  if (fmiCheckSolverResult(&flag, "OdeSlsSetSparseJacFn", 1, instance) != 0) return 1;
  solver->sparseSolverPending = 0;
  return 0;
}
