// The Co-Simulation solver layer from inside: the integrator callbacks (error
// weights, right-hand side, the finite-difference Jacobian, the error
// handler), the checks of integrator results and the solver-state copies
// that FMU states carry.  Driven on a real instance, linked with the layer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fmi/fmiCoSim.h"
#include "fmi/fmiEvaluate.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiInstantiate.h"
#include "fmi/fmiSolver.h"
#include "fmi/fmiSolverBase.h"
#include "fmi/fmiSolverCallbacks.h"
#include "integrator/ode.h"
#include "model/ModelInstanceData.h"
#include "model/model_data.h"
#include "tests/support/fmi_host.h"

namespace {

// der(level) of the vessel without inflow.
double slope(double level, double inflow = 0.0) {
  return (inflow - 0.1 * std::sqrt(19.62 * level)) / 2.0;
}

// One serial vector of length 1 holding v, released at the end of the scope.
struct Scalar {
  explicit Scalar(double v) : vector(OdeVecNew_Serial(1)) { OdeVecGetData(vector)[0] = v; }
  ~Scalar() { OdeVecDispose(vector); }
  double value() const { return OdeVecGetData(vector)[0]; }
  OdeVector vector;
};

class SolverLayer : public ::testing::Test {
protected:
  void SetUp() override {
    fmihost::failAllocation(0);
    live_ = fmihost::liveBlocks();
    c_ = fmiInstantiateCS("unit", FMI_MODEL_GUID, nullptr, &host_.functions(), fmi2False, fmi2True);
    ASSERT_NE(c_, nullptr);
    c_->fmuType = fmi2CoSimulation;
    ASSERT_EQ(fmiEnterInitializationModeCS(c_, 0.0, 0.0, 0, 0.0), fmi2OK) << host_.dump();
    ASSERT_EQ(fmiExitInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_NE(c_->solver, nullptr);
  }
  void TearDown() override {
    if (c_->state != fmiStateTerminated) (void)fmiTerminateCS(c_);
    fmiFreeModelInstance(c_);
    EXPECT_EQ(fmihost::liveBlocks(), live_) << "blocks leaked";
  }
  // Integrates a little so that the integrator has weights and a step size.
  void step(double t, double h) {
    ASSERT_EQ(fmi2DoStep(c_, t, h, fmi2True), fmi2OK) << host_.dump();
  }

  fmihost::HostCallbacks host_;
  fmiInstance *c_ = nullptr;
  std::size_t live_ = 0;
};

TEST_F(SolverLayer, ErrorWeightsComeFromThePerStateTolerances) {
  fmiSolverData *s = c_->solver;
  // The model's nominal 0 gives absolute and relative tolerance 1e-5.
  EXPECT_EQ(OdeVecGetData(s->absoluteTolerances)[0], 1e-5);
  EXPECT_EQ(OdeVecGetData(s->relativeTolerances)[0], 1e-5);
  Scalar y(-2.0);
  Scalar ewt(0.0);
  ASSERT_EQ(fmiOdeErrWeights(y.vector, ewt.vector, c_), 0);
  EXPECT_DOUBLE_EQ(ewt.value(), 1.0 / (1e-5 * 2.0 + 1e-5));

  // A weight that is not positive, a length that does not match and a
  // missing tolerance vector are failures.
  OdeVecGetData(s->absoluteTolerances)[0] = 0.0;
  Scalar zero(0.0);
  EXPECT_EQ(fmiOdeErrWeights(zero.vector, ewt.vector, c_), -1);
  OdeVecGetData(s->absoluteTolerances)[0] = 1e-5;
  OdeVector two = OdeVecNew_Serial(2);
  EXPECT_EQ(fmiOdeErrWeights(y.vector, two, c_), -1);
  OdeVecDispose(two);
  OdeVector saved = s->relativeTolerances;
  s->relativeTolerances = nullptr;
  EXPECT_EQ(fmiOdeErrWeights(y.vector, ewt.vector, c_), -1);
  s->relativeTolerances = saved;
}

TEST_F(SolverLayer, RightHandSideEvaluatesAtTheIntegratorsPointAndRestoresTheInstance) {
  const double time = c_->time;
  double *x = c_->x;
  // With an input ramp of 0.2/s from t = 0 the input at t = 1 is 0.2.
  c_->solver->inputDerivatives[0] = 0.2;
  c_->solver->inputBase[0] = 0.0;
  c_->solver->inputDerivativeTime = 0.0;
  c_->solver->inputDerivativesValid = 1;
  Scalar y(2.0);
  Scalar ydot(0.0);
  ASSERT_EQ(fmiOdeRhs(1.0, y.vector, ydot.vector, c_), 0);
  EXPECT_DOUBLE_EQ(ydot.value(), slope(2.0, 0.2));
  EXPECT_EQ(c_->time, time);
  EXPECT_EQ(c_->x, x);
  EXPECT_EQ(c_->u[0], 0.0); // back at the instance time's value

  // A model error is a recoverable failure; nothing is kept for later.
  Scalar negative(-1.0);
  EXPECT_EQ(fmiOdeRhs(1.0, negative.vector, ydot.vector, c_), 1);
  EXPECT_EQ(c_->solver->callbackFailure, 0);
  EXPECT_EQ(c_->time, time);
  EXPECT_EQ(c_->x, x);
  EXPECT_NE(c_->state, fmiStateTerminated);
}

struct JacobianRun {
  int result;
  double value;
  bool restored; // tmp2 points at its own data again, IUSER[3] is 0, y unchanged
};

class Jacobian : public SolverLayer {
protected:
  JacobianRun run(double level, double fyValue) {
    Scalar y(level);
    Scalar fy(fyValue);
    Scalar tmp1(0.0);
    Scalar tmp2(0.0);
    Scalar tmp3(0.0);
    double *own = OdeVecGetData(tmp2.vector);
    DenseMatrix *J = DenseCreate(1, 1);
    J->colPtrs[0][0] = 0.0;
    JacobianRun r;
    r.result = fmiOdeDenseJac(1, c_->time, y.vector, fy.vector, J, c_, tmp1.vector, tmp2.vector,
                              tmp3.vector);
    r.value = J->colPtrs[0][0];
    r.restored = OdeVecGetData(tmp2.vector) == own && c_->iuser[kIuserDerivativeEvaluation] == 0 &&
                 y.value() == level;
    DenseFree(J);
    return r;
  }
};

TEST_F(Jacobian, DifferenceQuotientMatchesTheAnalyticDerivative) {
  step(0.0, 0.5);
  const double level = 2.0;
  const JacobianRun r = run(level, slope(level));
  ASSERT_EQ(r.result, 0);
  EXPECT_TRUE(r.restored);
  const double analytic = -0.1 * 19.62 / (4.0 * std::sqrt(19.62 * level));
  EXPECT_NEAR(r.value, analytic, 1e-6 * std::fabs(analytic));
}

TEST_F(Jacobian, ZeroStateWithZeroDerivativesIsPerturbedByTheWeightedMinimum) {
  step(0.0, 0.5);
  // fy = 0 has weighted norm 0: the smallest increment is 1.0, divided by the
  // state's error weight.
  const JacobianRun r = run(0.0, 0.0);
  ASSERT_EQ(r.result, 0);
  EXPECT_TRUE(r.restored);
  const double inc = 1.0 / OdeVecGetData(c_->solver->errorWeights)[0];
  EXPECT_DOUBLE_EQ(r.value, slope(inc) / inc);
}

TEST_F(Jacobian, ColumnWhoseEvaluationsAllFailIsARecoverableFailure) {
  step(0.0, 0.5);
  host_.clearMessages();
  const JacobianRun r = run(-1.0, 0.0);
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(r.restored);
  // Five perturbed evaluations, each a model error.
  int failures = 0;
  for (const auto &m : host_.messages()) {
    if (m.message == "fmi2GetDerivatives: dsblock_ failed, QiErr = 1") ++failures;
  }
  EXPECT_EQ(failures, 5) << host_.dump();
  EXPECT_NE(c_->state, fmiStateTerminated);
}

TEST_F(SolverLayer, IntegratorResultsAreCheckedWithTheirNames) {
  host_.clearMessages();
  EXPECT_EQ(fmiCheckSolverResult(nullptr, "OdeCreate", 0, c_), 1);
  EXPECT_TRUE(
      host_.hasMessage("INTEGRATOR_ERROR: OdeCreate() failed - returned NULL pointer", fmi2Error));
  const int illegal = ODE_ILL_INPUT;
  EXPECT_EQ(fmiCheckSolverResult(&illegal, "OdeInit", 1, c_), 1);
  EXPECT_TRUE(
      host_.hasMessage("INTEGRATOR_ERROR: OdeInit() failed with flag = ODE_ILL_INPUT", fmi2Error));
  const int root = ODE_ROOT_RETURN;
  host_.clearMessages();
  EXPECT_EQ(fmiCheckSolverResult(&root, "OdeSolve", 1, c_), 0);
  EXPECT_EQ(fmiCheckSolverResult(nullptr, "OdeSolve", 2, c_), 0);
  EXPECT_TRUE(host_.messages().empty());

  fmiOdeErrHandler(ODE_WARNING, "ODE", "OdeSolve", "a warning", c_);
  EXPECT_TRUE(host_.hasMessage("ODE: OdeSolve failed with NONE:\n a warning", fmi2Warning));
}

// ---- Solver state of FMU states -------------------------------------------------------

class SolverState : public SolverLayer {
protected:
  // An FMU-state record as the state functions see it: the counts, no
  // callbacks of its own.
  fmiInstance record() const {
    fmiInstance state{};
    state.nx = c_->nx;
    state.nu = c_->nu;
    state.ny = c_->ny;
    return state;
  }
};

TEST_F(SolverState, GetCopiesTheSolverDataAndSetBooksTheDiscardedWork) {
  step(0.0, 1.0);
  c_->solver->inputDerivatives[0] = 0.3;
  c_->solver->inputDerivativesValid = 1;
  fmiInstance state = record();
  ASSERT_EQ(fmiGetSolverState(c_, &state), fmi2OK);
  ASSERT_NE(state.solver, nullptr);
  EXPECT_EQ(state.solver->odeMemory, nullptr);
  EXPECT_EQ(OdeVecGetData(state.solver->absoluteTolerances)[0],
            OdeVecGetData(c_->solver->absoluteTolerances)[0]);
  EXPECT_EQ(state.solver->inputDerivatives[0], 0.3);
  EXPECT_EQ(state.solver->previousOutputTime, c_->solver->previousOutputTime);
  // The running segment is included in the state's counters.
  EXPECT_EQ(state.solver->statistics.externalSteps, 1);
  EXPECT_GT(state.solver->statistics.internalSteps, 0);
  c_->solver->inputDerivativesValid = 0;

  step(1.0, 1.0);
  step(2.0, 1.0);
  const int32_t externalBefore = c_->solver->statistics.externalSteps;
  ASSERT_EQ(fmiSetSolverState(&state, c_), fmi2OK) << host_.dump();
  EXPECT_EQ(c_->solver->statistics.rejectedExternalSteps,
            externalBefore - state.solver->statistics.externalSteps);
  EXPECT_EQ(c_->solver->statistics.externalSteps, 1);
  EXPECT_EQ(c_->solver->inputDerivativesValid, 1);
  c_->solver->inputDerivativesValid = 0;
  fmiFreeStateSolverData(c_, &state);
  EXPECT_EQ(state.solver, nullptr);
  // The integrator goes on from the restored point.
  step(c_->time, 1.0);
}

TEST_F(SolverState, FailedCopyIsReportedAndLeavesTheInstanceRunning) {
  fmiInstance state = record();
  const int32_t before = c_->state;
  fmihost::failAllocation(1);
  EXPECT_EQ(fmiGetSolverState(c_, &state), fmi2Error);
  fmihost::failAllocation(0);
  EXPECT_TRUE(host_.hasMessage("memory allocation failed", fmi2Error));
  EXPECT_EQ(state.solver, nullptr);
  EXPECT_EQ(c_->state, before);
  ASSERT_NE(c_->solver, nullptr);
  step(c_->time, 1.0);
}

} // namespace
