// The bounds of a step: the stop time, which no step passes, and ends so far
// away that a step grown by the usual rule would leave the finite numbers.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "tests/integrator/ode_support.h"

using namespace odetest;

namespace {

// y' = -y, recording the latest time the right-hand side was asked for.
struct Watched {
  Problem p = decay();
  double latest = -INFINITY;
  Watched() {
    p.rhs = [this](double t, const double *y, double *yd) {
      latest = std::fmax(latest, t);
      yd[0] = -y[0];
      return 0;
    };
  }
};

} // namespace

TEST(OdeStopTime, NoStepPassesTheStopTime) {
  Watched w;
  Integrator ode(w.p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  ASSERT_EQ(OdeSetStopTime(ode.mem, 1.5), ODE_SUCCESS);
  double tret = 0.0;
  ASSERT_EQ(ode.solve(1.0, &tret), ODE_SUCCESS);
  EXPECT_EQ(tret, 1.0);
  // tout beyond the stop time: the call ends there.
  ASSERT_EQ(ode.solve(3.0, &tret), ODE_TSTOP_RETURN);
  EXPECT_EQ(tret, 1.5);
  EXPECT_NEAR(ode[0], std::exp(-1.5), 50 * w.p.rtol * std::exp(-1.5));
  EXPECT_LE(w.latest, 1.5);
  // At the stop time no step is possible: the same answer at once.
  ASSERT_EQ(ode.solve(3.0, &tret), ODE_TSTOP_RETURN);
  EXPECT_EQ(tret, 1.5);
  EXPECT_LE(w.latest, 1.5);
  // It holds across a restart, and ends with OdeClearStopTime.
  ASSERT_EQ(OdeReInit(ode.mem, 1.5, ode.y), ODE_SUCCESS);
  ASSERT_EQ(ode.solve(3.0, &tret), ODE_TSTOP_RETURN);
  EXPECT_EQ(tret, 1.5);
  ASSERT_EQ(OdeClearStopTime(ode.mem), ODE_SUCCESS);
  ASSERT_EQ(ode.solve(3.0, &tret), ODE_SUCCESS);
  EXPECT_EQ(tret, 3.0);
  EXPECT_NEAR(ode[0], std::exp(-3.0), 50 * w.p.rtol * std::exp(-3.0));
  EXPECT_TRUE(ode.reports.empty());
}

TEST(OdeStopTime, AStopTimeBehindIsRefused) {
  Watched w;
  Integrator ode(w.p, ODE_BDF, ODE_NEWTON, 2.0, {1.0});
  ASSERT_EQ(OdeSetStopTime(ode.mem, 1.0), ODE_SUCCESS);
  double tret = 0.0;
  EXPECT_EQ(ode.solve(3.0, &tret), ODE_ILL_INPUT);
  EXPECT_EQ(tret, 2.0);
  ASSERT_EQ(ode.reports.size(), 1u);
  EXPECT_EQ(ode.reports[0].message,
            "The value tstop = 1 is behind current t = 2 in the direction of integration.");
  EXPECT_EQ(ode[0], 1.0);
}

// y' = 0 lets the step grow tenfold at every step; ends near the top of the
// double range are reached with finite steps (the right-hand side fails at
// a time that is no finite number), the solution unchanged.
TEST(OdeStepBounds, FarEndsAreReachedWithFiniteSteps) {
  for (const double tout : {1e307, 8.98e307, 1e308, DBL_MAX}) {
    SCOPED_TRACE(tout);
    Problem p;
    double latest = 0.0;
    p.rhs = [&latest](double t, const double *, double *yd) {
      latest = t;
      yd[0] = 0.0;
      return std::isfinite(t) ? 0 : -1;
    };
    p.rtol = 1e-5;
    p.atol = {1e-5};
    Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {3.0});
    double tret = 0.0;
    ASSERT_EQ(ode.solve(tout, &tret), ODE_SUCCESS);
    EXPECT_EQ(tret, tout);
    EXPECT_EQ(ode[0], 3.0);
    EXPECT_TRUE(std::isfinite(latest));
    double h = 0.0;
    ASSERT_EQ(OdeGetCurrentStep(ode.mem, &h), ODE_SUCCESS);
    EXPECT_TRUE(std::isfinite(h));
  }
}
