// Co-Simulation far from time 0: input derivatives follow the integrator's
// own time, so a ramp started at any start time gives the level of the same
// ramp started at 0; and a step whose end the integrator's time cannot hold
// from its origin restarts the integrator at a new origin and computes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/fmi/cs_support.h"

namespace {

using cs::fmi;
using namespace e2e;

class FarTimeTest : public cs::CoSimTest {
protected:
  // Instantiated, holeSurface and inputRate set, initialized at t0.
  void readyAt(double t0, double holeSurface, double inputRate) {
    instantiate(fmi2CoSimulation);
    ASSERT_NE(c_, nullptr);
    const fmi2ValueReference vrs[] = {vrHoleSurface, vrInputRate};
    const double values[] = {holeSurface, inputRate};
    ASSERT_EQ(fmi().fmi2SetReal(c_, vrs, 2, values), fmi2OK);
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, t0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
  }

  // Six steps of length step from t0, with the input ramping up at slope
  // from 0 (a first input derivative given before every step), and no
  // outflow: the level at the end.
  double ramp(double t0, double step, double slope) {
    readyAt(t0, 0.0, 0.0);
    if (HasFatalFailure()) return NAN;
    const fmi2ValueReference vr = vrInputRate;
    const fmi2Integer order = 1;
    double t = t0;
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, &vr, 1, &order, &slope), fmi2OK);
      EXPECT_EQ(fmi().fmi2DoStep(c_, t, step, fmi2True), fmi2OK) << host_.dump();
      t += step;
    }
    const double level = real(vrLevel);
    free();
    return level;
  }
};

TEST_F(FarTimeTest, InputRampGivesTheLevelOfTheSameRampFromZero) {
  const struct {
    double step;
    double slope;
    double t0;
    double tolerance; // relative, against the same ramp from t0 = 0
  } cases[] = {
      {0.5, 0.01, 1e9, 1e-4},  {0.5, 0.01, 4294967296.0, 1e-7}, {0.5, 0.01, 1e13, 1e-7},
      {0.5, 0.01, 1e15, 1e-7}, {64.0, 1e-4, 1e17, 1e-7},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE("step " + std::to_string(k.step) + ", t0 " + std::to_string(k.t0));
    const double fromZero = ramp(0.0, k.step, k.slope);
    // The exact level: 3 + slope*T^2/(2*vornSurface), T the six steps.
    const double T = 6.0 * k.step;
    EXPECT_NEAR(fromZero, 3.0 + k.slope * T * T / 4.0, 1e-3 * k.slope * T * T);
    const double far = ramp(k.t0, k.step, k.slope);
    EXPECT_NEAR(far, fromZero, k.tolerance * fromZero) << "level from 0: " << fromZero;
  }
}

// From -1e308 to 0, and from there a further 1e308: the second end lies
// beyond the range of a double in the integrator's time that counts from
// -1e308.  The step either computes, with a finite level and time, or is
// refused with nothing changed and a next step that succeeds.
TEST_F(FarTimeTest, StepBeyondTheIntegratorsRangeFromItsOriginComputesOrChangesNothing) {
  readyAt(-1e308, 0.0, 0.01);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(fmi().fmi2DoStep(c_, -1e308, 1e308, fmi2True), fmi2OK) << host_.dump();
  ASSERT_EQ(lastSuccessfulTime(), 0.0);
  const double levelAtZero = real(vrLevel);
  ASSERT_TRUE(std::isfinite(levelAtZero));
  const std::vector<fmi2Byte> before = image();

  const fmi2Status status = fmi().fmi2DoStep(c_, 0.0, 1e308, fmi2True);
  if (status == fmi2OK) {
    EXPECT_EQ(lastSuccessfulTime(), 1e308);
    const double level = real(vrLevel);
    EXPECT_TRUE(std::isfinite(level));
    // der(level) = inputRate/vornSurface = 0.005.
    EXPECT_NEAR(level, levelAtZero + 0.005 * 1e308, 1e-6 * level);
    double inTime = NAN;
    const fmi2ValueReference vr = vrTime;
    ASSERT_EQ(fmi().fmi2GetReal(c_, &vr, 1, &inTime), fmi2OK);
    EXPECT_EQ(inTime, 1e308);
  } else {
    EXPECT_EQ(status, fmi2Error) << host_.dump();
    EXPECT_EQ(lastSuccessfulTime(), 0.0);
    EXPECT_EQ(real(vrLevel), levelAtZero);
    EXPECT_TRUE(image() == before);
    EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK) << host_.dump();
  }
}

} // namespace
