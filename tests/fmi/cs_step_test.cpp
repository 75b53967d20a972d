// Co-Simulation through the shared library: trajectories against the exact
// solution, input extrapolation, the communication-point and stop-time rules,
// the event-only step, the status functions and the end of the vessel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "tests/fmi/cs_support.h"

namespace {

using cs::CoSimTest;
using e2e::fmi;

std::string format(const char *f, double a) {
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, f, a);
  return buffer;
}

// ---- Trajectories ---------------------------------------------------------------

struct TrajectoryCase {
  double step;
  fmi2Boolean toleranceDefined;
  double tolerance;
  double bound; // relative error allowed at every communication point
};

class CoSimTrajectory : public CoSimTest, public ::testing::WithParamInterface<TrajectoryCase> {};

TEST_P(CoSimTrajectory, LevelFollowsTheExactSolutionAtEveryPoint) {
  const TrajectoryCase k = GetParam();
  ready(k.toleranceDefined, k.tolerance, fmi2True, 10.0, /*loggingOn=*/false);
  const int n = static_cast<int>(std::lround(10.0 / k.step));
  double t = 0.0;
  double worst = 0.0;
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(fmi().fmi2DoStep(c_, t, k.step, fmi2True), fmi2OK) << host_.dump();
    t += k.step;
    const double exact = cs::exactLevel(t);
    const double level = real(e2e::vrLevel);
    worst = std::fmax(worst, std::fabs(level - exact) / exact);
    ASSERT_LE(std::fabs(level - exact), k.bound * exact) << "t = " << t;
    ASSERT_DOUBLE_EQ(real(e2e::vrState), level);
  }
  EXPECT_NEAR(lastSuccessfulTime(), 10.0, 1e-12);
  RecordProperty("worstRelativeError", std::to_string(worst));
  terminate();
}

INSTANTIATE_TEST_SUITE_P(Steps, CoSimTrajectory,
                         ::testing::Values(TrajectoryCase{1.0, fmi2False, 0.0, 1e-4},
                                           TrajectoryCase{0.01, fmi2False, 0.0, 1e-4},
                                           TrajectoryCase{1.0, fmi2True, 1e-8, 1e-7},
                                           TrajectoryCase{0.01, fmi2True, 1e-8, 1e-7}));

TEST_F(CoSimTest, InitialLevelSetInInitializationModeStartsTheIntegration) {
  instantiate(fmi2CoSimulation, false);
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  const double two = 2.0;
  ASSERT_EQ(fmi().fmi2SetReal(c_, &e2e::vrInitialLevel, 1, &two), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK) << host_.dump();
  // (sqrt(2) - 0.1*sqrt(19.62)/4)^2 after one second.
  const double r = std::sqrt(2.0) - 0.1 * std::sqrt(19.62) / 4.0;
  EXPECT_NEAR(real(e2e::vrLevel), r * r, 1e-4 * r * r);
  terminate();
}

// ---- Input extrapolation ------------------------------------------------------------

TEST_F(CoSimTest, InputDerivativeActsAsARampWithinEachStep) {
  ready(fmi2True, 1e-8, fmi2False, 0.0, false);
  const fmi2Integer order = 1;
  const double rate = 0.2;
  double t = 0.0;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(fmi().fmi2SetRealInputDerivatives(c_, &e2e::vrInputRate, 1, &order, &rate), fmi2OK);
    ASSERT_EQ(fmi().fmi2DoStep(c_, t, 1.0, fmi2True), fmi2OK) << host_.dump();
    t += 1.0;
    // The input itself was carried along the ramp.
    EXPECT_NEAR(real(e2e::vrInputRate), 0.2 * t, 1e-12);
    const double reference = cs::referenceLevel(t, [](double s) { return 0.2 * s; });
    EXPECT_NEAR(real(e2e::vrLevel), reference, 1e-6 * reference) << "t = " << t;
  }
  // Without inflow the level would be far lower.
  EXPECT_GT(real(e2e::vrLevel) - cs::exactLevel(t), 0.5);
  terminate();
}

TEST_F(CoSimTest, InputSetAfterItsDerivativeBecomesTheBaseOfTheRamp) {
  ready(fmi2True, 1e-8, fmi2False, 0.0, false);
  const fmi2Integer order = 1;
  const double rate = 0.2;
  const double base = 0.1;
  ASSERT_EQ(fmi().fmi2SetRealInputDerivatives(c_, &e2e::vrInputRate, 1, &order, &rate), fmi2OK);
  ASSERT_EQ(fmi().fmi2SetReal(c_, &e2e::vrInputRate, 1, &base), fmi2OK);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 2.0, fmi2True), fmi2OK) << host_.dump();
  EXPECT_NEAR(real(e2e::vrInputRate), 0.1 + 0.2 * 2.0, 1e-12);
  const double reference = cs::referenceLevel(2.0, [](double s) { return 0.1 + 0.2 * s; });
  EXPECT_NEAR(real(e2e::vrLevel), reference, 1e-6 * reference);
  // The extrapolation ended with the step: the input holds still now.
  ASSERT_EQ(fmi().fmi2DoStep(c_, 2.0, 1.0, fmi2True), fmi2OK);
  EXPECT_NEAR(real(e2e::vrInputRate), 0.5, 1e-12);
  terminate();
}

TEST_F(CoSimTest, InputDerivativeRefusals) {
  ready();
  const double rate = 0.2;
  const fmi2Integer two = 2;
  EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, &e2e::vrInputRate, 1, &two, &rate), fmi2Warning);
  EXPECT_TRUE(
      hasExactly("fmi2SetRealInputDerivatives: derivative order 2 is not supported", fmi2Warning));
  const fmi2Integer one = 1;
  EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, &e2e::vrLevel, 1, &one, &rate), fmi2Warning);
  EXPECT_TRUE(hasExactly("fmi2SetRealInputDerivatives: variable is not input", fmi2Warning));
  // An index beyond the inputs is no input either.
  const fmi2ValueReference beyond = e2e::vrInputRate + 5;
  EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, &beyond, 1, &one, &rate), fmi2Warning);
  EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, &e2e::vrInputRate, 0, &one, &rate), fmi2Warning);
  EXPECT_TRUE(hasExactly(
      "fmi2SetRealInputDerivatives: invalid nvr = 0 (number of inputs = 1), ignoring call",
      fmi2Warning));
  // None of the refused calls started an extrapolation.
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK);
  EXPECT_EQ(real(e2e::vrInputRate), 0.0);
  EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(1.0), 1e-4 * cs::exactLevel(1.0));
  terminate();
  // After terminate the solver record is gone: refused, nothing dereferenced.
  EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, &e2e::vrInputRate, 1, &one, &rate), fmi2Warning);
  double value = -1.0;
  EXPECT_EQ(fmi().fmi2GetRealOutputDerivatives(c_, &e2e::vrLevel, 1, &one, &value), fmi2Warning);
  EXPECT_EQ(value, -1.0);
}

TEST_F(CoSimTest, OutputDerivativesEstimateTheSlopeOfTheLastStep) {
  ready();
  const fmi2ValueReference refs[] = {e2e::vrLevel, e2e::vrOutflow};
  const fmi2Integer orders[] = {1, 1};
  double values[2] = {-1.0, -1.0};
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.1, fmi2True), fmi2OK);
  ASSERT_EQ(fmi().fmi2GetRealOutputDerivatives(c_, refs, 2, orders, values), fmi2OK);
  const double slope = (cs::exactLevel(0.1) - cs::exactLevel(0.0)) / 0.1;
  EXPECT_NEAR(values[0], slope, 1e-3 * std::fabs(slope));
  const double outflowSlope =
      0.1 * (std::sqrt(19.62 * cs::exactLevel(0.1)) - std::sqrt(19.62 * 3.0)) / 0.1;
  EXPECT_NEAR(values[1], outflowSlope, 1e-3 * std::fabs(outflowSlope));

  const fmi2Integer one = 1;
  EXPECT_EQ(fmi().fmi2GetRealOutputDerivatives(c_, &e2e::vrInputRate, 1, &one, values),
            fmi2Warning);
  EXPECT_TRUE(hasExactly("fmi2GetRealOutputDerivatives: variable is not output", fmi2Warning));
  EXPECT_EQ(fmi().fmi2GetRealOutputDerivatives(c_, refs, 3, orders, values), fmi2Warning);
  EXPECT_TRUE(hasExactly("fmi2GetRealOutputDerivatives: invalid nvr = 3 (number of outputs = 2)",
                         fmi2Warning));
  terminate();
}

// ---- Communication point and stop time ---------------------------------------------------

struct PointCase {
  const char *name;
  double point;
  double step;
  fmi2Status status;
  std::string message; // "" for none expected
  double timeAfter;
};

class CoSimPoint : public CoSimTest {};

TEST_F(CoSimPoint, CommunicationPointAndStopTimeRules) {
  const double eps = 1e-16;
  const PointCase cases[] = {
      {"wrong point", 0.5, 0.1, fmi2Error,
       "fmi2DoStep: currentCommunicationPoint = 0.5000000000000000, expected 0.0000000000000000",
       0.0},
      {"point within rounding", eps, 0.25, fmi2OK, "", eps + 0.25},
      {"end within rounding of the stop time", 0.0, 1.0 + 2e-16, fmi2OK,
       format("t = 0.000000: Reducing communicationStepSize %.16e s to avoid passing tStop.\n",
              (0.0 + (1.0 + 2e-16)) - 1.0),
       1.0},
      {"end past the stop time", 0.0, 1.1, fmi2Error,
       "fmi2DoStep: trying to compute past tStop = 1.000000, to 1.1000000000000001,  at t = "
       "0.000000",
       0.0},
      {"negative step", 0.0, -0.1, fmi2Error,
       "fmi2DoStep: invalid communicationStepSize = -0.1, ignoring call", 0.0},
      {"step not a number", 0.0, NAN, fmi2Error,
       "fmi2DoStep: invalid communicationStepSize = nan, ignoring call", 0.0},
      {"infinite point", INFINITY, 0.1, fmi2Error,
       "fmi2DoStep: invalid currentCommunicationPoint = inf, ignoring call", 0.0},
      {"event-only step", 0.0, 0.0, fmi2OK, "", 0.0},
  };
  for (const PointCase &k : cases) {
    SCOPED_TRACE(k.name);
    ready(fmi2False, 0.0, fmi2True, 1.0);
    host_.clearMessages();
    EXPECT_EQ(fmi().fmi2DoStep(c_, k.point, k.step, fmi2True), k.status) << host_.dump();
    if (!k.message.empty()) {
      EXPECT_TRUE(hasExactly(k.message, k.status)) << host_.dump();
    }
    EXPECT_EQ(lastSuccessfulTime(), k.timeAfter);
    EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(k.timeAfter),
                1e-4 * cs::exactLevel(k.timeAfter));
    // A refused step left the instance able to step on.
    EXPECT_EQ(fmi().fmi2DoStep(c_, k.timeAfter, 1.0 - k.timeAfter, fmi2True), fmi2OK)
        << host_.dump();
    EXPECT_NEAR(lastSuccessfulTime(), 1.0, 1e-15);
    terminate();
    free();
  }
}

TEST_F(CoSimTest, StepsBeforeInitializationOrAfterTerminateAreRefused) {
  instantiate(fmi2CoSimulation);
  EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.1, fmi2True), fmi2Error);
  EXPECT_TRUE(hasExactly("fmi2DoStep: Initialization must be finished before calling fmiDoStep",
                         fmi2Error));
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.1, fmi2True), fmi2Error);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  terminate();
  EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.1, fmi2True), fmi2Error);
  EXPECT_TRUE(hasExactly("fmi2DoStep: model is terminated", fmi2Error));
}

TEST_F(CoSimTest, StepTooShortForTheRestartedIntegratorGetsAnExplicitInitialStep) {
  ready();
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 1.0, 0.0, fmi2True), fmi2OK); // restarts the integrator
  host_.clearMessages();
  const double tEnd = std::nextafter(1.0, 2.0);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 1.0, tEnd - 1.0, fmi2True), fmi2OK) << host_.dump();
  EXPECT_TRUE(hasExactly(format("Internal step too small at t = 1.000000, setting initial step "
                                "size explicitly to %.16e",
                                (tEnd + 1.0) * std::ldexp(1.0, -51)),
                         fmi2OK))
      << host_.dump();
  EXPECT_EQ(lastSuccessfulTime(), tEnd);
  EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(1.0), 1e-4 * cs::exactLevel(1.0));
  ASSERT_EQ(fmi().fmi2DoStep(c_, tEnd, 1.0, fmi2True), fmi2OK) << host_.dump();
  EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(2.0), 1e-4 * cs::exactLevel(2.0));
  terminate();
}

// ---- Status functions ------------------------------------------------------------------------

TEST_F(CoSimTest, StatusFunctionsAnswerInEveryState) {
  instantiate(fmi2CoSimulation);
  EXPECT_EQ(fmi().fmi2CancelStep(c_), fmi2Discard);
  EXPECT_TRUE(hasExactly("fmi2CancelStep: asynchronous execution of fmiDoStep is not supported",
                         fmi2Discard));
  fmi2Status status = fmi2OK;
  EXPECT_EQ(fmi().fmi2GetStatus(c_, fmi2DoStepStatus, &status), fmi2Discard);
  EXPECT_TRUE(hasExactly("fmi2GetStatus: not supported since asynchronous execution of fmiDoStep "
                         "is not supported",
                         fmi2Discard));
  fmi2String text = nullptr;
  EXPECT_EQ(fmi().fmi2GetStringStatus(c_, fmi2PendingStatus, &text), fmi2Discard);
  EXPECT_TRUE(hasExactly("fmi2GetStringStatus: not supported since asynchronous execution of "
                         "fmiDoStep is not supported",
                         fmi2Discard));
  fmi2Integer integer = 0;
  EXPECT_EQ(fmi().fmi2GetIntegerStatus(c_, fmi2LastSuccessfulTime, &integer), fmi2Discard);
  EXPECT_TRUE(hasExactly("fmi2GetIntegerStatus: fmiStatusKind 2 unknown", fmi2Discard));
  double real = -1.0;
  EXPECT_EQ(fmi().fmi2GetRealStatus(c_, fmi2Terminated, &real), fmi2Discard);
  EXPECT_TRUE(hasExactly("fmi2GetRealStatus: fmiStatusKind 3 unknown", fmi2Discard));
  fmi2Boolean terminated = fmi2True;
  EXPECT_EQ(fmi().fmi2GetBooleanStatus(c_, fmi2Terminated, &terminated), fmi2OK);
  EXPECT_EQ(terminated, fmi2False);
  EXPECT_EQ(fmi().fmi2GetBooleanStatus(c_, fmi2DoStepStatus, &terminated), fmi2Discard);
  EXPECT_TRUE(hasExactly("fmi2GetBooleanStatus: fmiStatusKind 0 unknown", fmi2Discard));

  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK);
  EXPECT_EQ(fmi().fmi2GetRealStatus(c_, fmi2LastSuccessfulTime, &real), fmi2OK);
  EXPECT_EQ(real, 0.5);
  terminate();
}

// ---- The end of the vessel -------------------------------------------------------------------

TEST_F(CoSimTest, LongStepPastTheEmptyVesselEndsTheSimulation) {
  ready(fmi2False, 0.0, fmi2False, 0.0, false);
  EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 30.0, fmi2True), fmi2Error) << host_.dump();
  EXPECT_TRUE(hasExactly("fmi2DoStep: integration_step failed", fmi2Error)) << host_.dump();
  // The integrator's own report reached the host through the error handler,
  // and its failure flag was named.
  EXPECT_TRUE(host_.hasMessage("ODE: OdeSolve failed with ODE_", fmi2Warning)) << host_.dump();
  EXPECT_TRUE(host_.hasMessage("INTEGRATOR_ERROR: OdeSolve() failed with flag = ODE_", fmi2Error));
  // The model errors on the far side of empty were recoverable failures.
  EXPECT_TRUE(host_.hasMessage("sqrt (19.62*_StatesForOutputs.level)", fmi2Error));
  // The instance was terminated after the integrator returned.
  EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2Error);
  EXPECT_TRUE(hasExactly("fmi2DoStep: model is terminated", fmi2Error));
  double t = 0.0;
  EXPECT_EQ(fmi().fmi2GetRealStatus(c_, fmi2LastSuccessfulTime, &t), fmi2OK);
  EXPECT_GT(t, 15.0);
  EXPECT_LT(t, cs::emptyTime() + 1.0);
}

} // namespace
