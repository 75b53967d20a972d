// The parameters the model description declares tunable take effect when the
// host changes them after initialization: at the next Co-Simulation step, and
// in Model Exchange after the event in which they were set.  initialLevel
// only sets the start and is fixed: after initialization it is not set.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/fmi/cs_support.h"

namespace {

using e2e::fmi;
using Tunable = cs::CoSimTest;

void set(fmi2Component c, fmi2ValueReference vr, double v) {
  ASSERT_EQ(fmi().fmi2SetReal(c, &vr, 1, &v), fmi2OK);
}

TEST_F(Tunable, ParametersActFromTheNextCoSimulationStep) {
  ready();
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK);
  const double level = real(e2e::vrLevel);
  EXPECT_LT(level, 3.0);
  // No hole: nothing flows out.
  set(c_, e2e::vrHoleSurface, 0.0);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.5, 0.5, fmi2True), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), level);
  // A narrower vessel rises faster: 0.3/1.5 per second.
  set(c_, e2e::vrInputRate, 0.3);
  set(c_, e2e::vrVornSurface, 1.5);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 1.0, 0.5, fmi2True), fmi2OK);
  EXPECT_NEAR(real(e2e::vrLevel), level + 0.1, 1e-9);
  // The start level is fixed: a set now is refused and changes nothing of
  // the run.
  const double five = 5.0;
  EXPECT_EQ(fmi().fmi2SetReal(c_, &e2e::vrInitialLevel, 1, &five), fmi2Error);
  EXPECT_DOUBLE_EQ(real(e2e::vrInitialLevel), 3.0);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 1.5, 0.5, fmi2True), fmi2OK);
  EXPECT_NEAR(real(e2e::vrLevel), level + 0.2, 1e-9);
  terminate();
}

TEST_F(Tunable, ParametersActAfterTheModelExchangeEvent) {
  continuousTime();
  double der = 0.0;
  ASSERT_EQ(fmi().fmi2GetDerivatives(c_, &der, 1), fmi2OK);
  EXPECT_LT(der, 0.0);
  ASSERT_EQ(fmi().fmi2EnterEventMode(c_), fmi2OK);
  set(c_, e2e::vrHoleSurface, 0.0);
  set(c_, e2e::vrInputRate, 0.3);
  set(c_, e2e::vrVornSurface, 1.5);
  fmi2EventInfo info{};
  ASSERT_EQ(fmi().fmi2NewDiscreteStates(c_, &info), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2GetDerivatives(c_, &der, 1), fmi2OK);
  EXPECT_DOUBLE_EQ(der, 0.3 / 1.5);
}

} // namespace
