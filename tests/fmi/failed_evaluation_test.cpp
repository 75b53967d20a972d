// A failed evaluation computes nothing: every read at a point the model
// cannot evaluate fails again, in any order and however often, and a
// parameter change stays pending until an evaluation that uses it succeeds,
// so that what a host reads never depends on the trial points it visited.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/fmi/cs_support.h"
#include "tests/fmi/fmi_e2e.h"

namespace {

using namespace e2e;

class FailedEvaluationTest : public UnitTest {
protected:
  fmi2Status derivative(double *dx) { return fmi().fmi2GetDerivatives(c_, dx, 1); }
  fmi2Status read(fmi2ValueReference vr, double *v) { return fmi().fmi2GetReal(c_, &vr, 1, v); }
  void setState(double x) { ASSERT_EQ(fmi().fmi2SetContinuousStates(c_, &x, 1), fmi2OK); }
  void setReal(fmi2ValueReference vr, double v) {
    ASSERT_EQ(fmi().fmi2SetReal(c_, &vr, 1, &v), fmi2OK) << host_.dump();
  }
};

// After a valid point, a point with a negative level: the derivative and
// the outflow fail at every read, whichever is read first; a level that is
// read returns the level that was set.
TEST_F(FailedEvaluationTest, EveryReadAtAPointTheModelCannotEvaluateFails) {
  for (const bool derivativesFirst : {true, false}) {
    SCOPED_TRACE(derivativesFirst ? "derivatives first" : "outputs first");
    continuousTime();
    ASSERT_EQ(fmi().fmi2SetTime(c_, 5.0), fmi2OK);
    setState(1.0);
    double dx = 0.0;
    ASSERT_EQ(derivative(&dx), fmi2OK);
    EXPECT_NEAR(dx, -0.1 * std::sqrt(19.62) / 2.0, 1e-12);

    ASSERT_EQ(fmi().fmi2SetTime(c_, 5.1), fmi2OK);
    setState(-0.01);
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      double outflow = 0.0;
      double level = 0.0;
      double der = 0.0;
      if (derivativesFirst) {
        EXPECT_EQ(derivative(&dx), fmi2Discard);
        EXPECT_EQ(read(vrDerivative, &der), fmi2Discard);
        EXPECT_EQ(read(vrOutflow, &outflow), fmi2Discard);
      } else {
        EXPECT_EQ(read(vrOutflow, &outflow), fmi2Discard);
        EXPECT_EQ(read(vrDerivative, &der), fmi2Discard);
        EXPECT_EQ(derivative(&dx), fmi2Discard);
      }
      if (read(vrLevel, &level) == fmi2OK) {
        EXPECT_EQ(level, -0.01);
      }
      if (read(vrState, &level) == fmi2OK) {
        EXPECT_EQ(level, -0.01);
      }
      EXPECT_EQ(fmi().fmi2GetContinuousStates(c_, &level, 1), fmi2OK);
      EXPECT_EQ(level, -0.01);
    }
    // Back at a valid point, the values are that point's.
    setState(1.0);
    ASSERT_EQ(derivative(&dx), fmi2OK);
    EXPECT_NEAR(dx, -0.1 * std::sqrt(19.62) / 2.0, 1e-12);
    free();
  }
}

// A vessel surface of 0 set in Event Mode: every evaluation from then on
// fails, also after one that failed before the event iteration.
TEST_F(FailedEvaluationTest, ZeroVesselSurfaceFailsAtEveryLaterEvaluation) {
  initialized();
  setReal(vrVornSurface, 0.0);
  double dx = 0.0;
  EXPECT_EQ(derivative(&dx), fmi2Discard);
  EXPECT_EQ(derivative(&dx), fmi2Discard);
  fmi2EventInfo info{};
  EXPECT_GT(fmi().fmi2NewDiscreteStates(c_, &info), fmi2Warning) << host_.dump();
  EXPECT_NE(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK);
  for (int round = 0; round < 3; ++round) EXPECT_EQ(derivative(&dx), fmi2Discard);
}

// Where the parameter is changed, and what.
struct Change {
  const char *name;
  fmi2ValueReference vr;
  double value;
  bool inEventMode;
};

// A host's classical Runge-Kutta run from t = 2 to 3 from level 1 after a
// parameter change, with or without one rejected solver trial at level
// -0.01 right after the change: every derivative it reads.
std::vector<double> rungeKuttaRun(fmi2Component c, const Change &k, bool trial) {
  std::vector<double> seen;
  auto set = [&](double t, double x) {
    EXPECT_EQ(fmi().fmi2SetTime(c, t), fmi2OK);
    EXPECT_EQ(fmi().fmi2SetContinuousStates(c, &x, 1), fmi2OK);
  };
  auto f = [&](double t, double x) {
    set(t, x);
    double dx = NAN;
    EXPECT_EQ(fmi().fmi2GetDerivatives(c, &dx, 1), fmi2OK);
    seen.push_back(dx);
    return dx;
  };
  auto rejected = [&]() {
    if (!trial) return;
    const double x = -0.01;
    EXPECT_EQ(fmi().fmi2SetContinuousStates(c, &x, 1), fmi2OK);
    double dx = NAN;
    EXPECT_EQ(fmi().fmi2GetDerivatives(c, &dx, 1), fmi2Discard);
  };
  EXPECT_EQ(fmi().fmi2SetTime(c, 2.0), fmi2OK);
  if (k.inEventMode) {
    EXPECT_EQ(fmi().fmi2EnterEventMode(c), fmi2OK);
    EXPECT_EQ(fmi().fmi2SetReal(c, &k.vr, 1, &k.value), fmi2OK);
    rejected();
    const double x = 1.0;
    EXPECT_EQ(fmi().fmi2SetContinuousStates(c, &x, 1), fmi2OK);
    fmi2EventInfo info{};
    EXPECT_EQ(fmi().fmi2NewDiscreteStates(c, &info), fmi2OK);
    EXPECT_EQ(fmi().fmi2EnterContinuousTimeMode(c), fmi2OK);
  } else {
    EXPECT_EQ(fmi().fmi2SetReal(c, &k.vr, 1, &k.value), fmi2OK);
    rejected();
  }
  double t = 2.0;
  double x = 1.0;
  const double h = 0.1;
  for (int i = 0; i < 10; ++i) {
    const double k1 = f(t, x);
    const double k2 = f(t + h / 2, x + h / 2 * k1);
    const double k3 = f(t + h / 2, x + h / 2 * k2);
    const double k4 = f(t + h, x + h * k3);
    x += h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
    t = 2.0 + (i + 1) * h;
  }
  seen.push_back(x);
  return seen;
}

TEST_F(FailedEvaluationTest, RejectedTrialAfterAParameterChangeChangesNothing) {
  const Change changes[] = {
      {"vornSurface in Continuous-Time Mode", vrVornSurface, 4.0, false},
      {"vornSurface in Event Mode", vrVornSurface, 4.0, true},
      {"holeSurface in Continuous-Time Mode", vrHoleSurface, 0.3, false},
      {"holeSurface in Event Mode", vrHoleSurface, 0.3, true},
  };
  for (const Change &k : changes) {
    SCOPED_TRACE(k.name);
    continuousTime();
    const std::vector<double> withTrial = rungeKuttaRun(c_, k, true);
    free();
    continuousTime();
    const std::vector<double> without = rungeKuttaRun(c_, k, false);
    free();
    ASSERT_EQ(withTrial.size(), without.size());
    EXPECT_EQ(std::memcmp(withTrial.data(), without.data(), without.size() * sizeof(double)), 0)
        << "level at t = 3: " << withTrial.back() << " with the trial, " << without.back()
        << " without";
    // Both are the run of the changed vessel: sqrt(level) falls linearly.
    const double vorn = k.vr == vrVornSurface ? k.value : 2.0;
    const double hole = k.vr == vrHoleSurface ? k.value : 0.1;
    const double root = 1.0 - hole * std::sqrt(19.62) / (2.0 * vorn);
    EXPECT_NEAR(without.back(), root * root, 1e-6);
  }
}

// Co-Simulation: a read that fails after a vessel surface of 0 was set does
// not turn the failing steps that follow into successful ones.
class FailedEvaluationCoSimTest : public cs::CoSimTest {};

TEST_F(FailedEvaluationCoSimTest, FailedReadLeavesTheParameterChangePending) {
  std::vector<fmi2Status> runs[2];
  for (const bool withRead : {true, false}) {
    SCOPED_TRACE(withRead ? "with the read" : "without the read");
    ready();
    double t = 0.0;
    for (int i = 0; i < 50; ++i, t += 0.1) {
      ASSERT_EQ(fmi().fmi2DoStep(c_, t, 0.1, fmi2True), fmi2OK) << host_.dump();
    }
    const fmi2ValueReference vr = vrVornSurface;
    const double zero = 0.0;
    ASSERT_EQ(fmi().fmi2SetReal(c_, &vr, 1, &zero), fmi2OK);
    if (withRead) {
      const fmi2ValueReference der = vrDerivative;
      double v = 0.0;
      EXPECT_EQ(fmi().fmi2GetReal(c_, &der, 1, &v), fmi2Discard);
    }
    std::vector<fmi2Status> &statuses = runs[withRead ? 0 : 1];
    for (int i = 0; i < 30; ++i, t += 0.1) {
      statuses.push_back(fmi().fmi2DoStep(c_, t, 0.1, fmi2True));
      EXPECT_NE(statuses.back(), fmi2OK) << "step " << i;
    }
    free();
  }
  EXPECT_EQ(runs[0], runs[1]);
}

} // namespace
