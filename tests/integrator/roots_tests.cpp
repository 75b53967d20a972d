// Root finding and the step-stop callback.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/integrator/ode_support.h"

using namespace odetest;

namespace {

constexpr double kPi = 3.14159265358979323846;

Problem oscillatorWithRoots() {
  Problem p;
  p.rhs = [](double, const double *y, double *yd) {
    yd[0] = y[1];
    yd[1] = -y[0];
    return 0;
  };
  // g0 = -sin t: zero at k*pi; g1 = cos t: zero at pi/2 + k*pi.
  p.roots = [](double, const double *y, double *g) {
    g[0] = y[1];
    g[1] = y[0];
    return 0;
  };
  p.rtol = 1e-8;
  p.atol = {1e-10, 1e-10};
  return p;
}

Problem constantState() {
  Problem p;
  p.rhs = [](double, const double *, double *yd) {
    yd[0] = 0.0;
    return 0;
  };
  p.rtol = 1e-6;
  p.atol = {1e-8};
  return p;
}

} // namespace

TEST(OdeRoots, FallingBallReachesTheGround) {
  constexpr double g = 9.81;
  Problem p;
  p.rhs = [](double, const double *y, double *yd) {
    yd[0] = y[1];
    yd[1] = -g;
    return 0;
  };
  p.roots = [](double, const double *y, double *gout) {
    gout[0] = y[0];
    return 0;
  };
  p.rtol = 1e-8;
  p.atol = {1e-10, 1e-10};
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0, 0.0}, 1);
  double tret = 0.0;
  ASSERT_EQ(ode.solve(2.0, &tret), ODE_ROOT_RETURN);
  EXPECT_NEAR(tret, std::sqrt(2.0 / g), 1e-7);
  EXPECT_NEAR(ode[0], 0.0, 1e-8);
  EXPECT_NEAR(ode[1], -std::sqrt(2.0 * g), 1e-6);
  EXPECT_EQ(ode.mem->rootInfo[0], -1);
  int ngevals = 0;
  ASSERT_EQ(OdeGetNumGEvals(ode.mem, &ngevals), ODE_SUCCESS);
  EXPECT_GT(ngevals, 2);
  // Continuing past the root reaches tout.
  ASSERT_EQ(ode.solve(2.0, &tret), ODE_SUCCESS);
  EXPECT_EQ(tret, 2.0);
  EXPECT_NEAR(ode[0], 1.0 - 0.5 * g * 4.0, 1e-6);
}

TEST(OdeRoots, OscillatorRootsInBothDirections) {
  for (int lmm : {ODE_BDF, ODE_ADAMS}) {
    SCOPED_TRACE(lmm);
    Problem p = oscillatorWithRoots();
    Integrator ode(p, lmm, ODE_NEWTON, 0.0, {1.0, 0.0}, 2);
    double tret = 0.0;
    int found = 0;
    for (int k = 1; k <= 12; ++k) {
      // Roots at k*pi/2: cos for odd k, -sin for even k.
      ASSERT_EQ(ode.solve(20.0, &tret), ODE_ROOT_RETURN);
      double expected = 0.5 * kPi * k;
      EXPECT_NEAR(tret, expected, 1e-7);
      bool sinRoot = k % 2 == 0;
      int fn = sinRoot ? 0 : 1;
      int other = 1 - fn;
      // -sin t rises through 0 at odd multiples of pi; cos t falls at
      // pi/2 + 2k pi and rises at 3pi/2 + 2k pi.
      int direction = sinRoot ? ((k / 2) % 2 == 1 ? 1 : -1) : ((k / 2) % 2 == 0 ? -1 : 1);
      EXPECT_EQ(ode.mem->rootInfo[fn], direction) << "k " << k;
      EXPECT_EQ(ode.mem->rootInfo[other], 0) << "k " << k;
      EXPECT_NEAR(ode[0], std::cos(tret), 1e-6);
      ++found;
    }
    EXPECT_EQ(found, 12);
    ASSERT_EQ(ode.solve(20.0, &tret), ODE_SUCCESS);
    EXPECT_EQ(tret, 20.0);
  }
}

TEST(OdeRoots, RootBeyondToutIsLeftForTheNextCall) {
  Problem p = constantState();
  p.roots = [](double t, const double *, double *g) {
    g[0] = t - 1.0;
    return 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0}, 1);
  ASSERT_EQ(OdeSetInitStep(ode.mem, 0.75), ODE_SUCCESS);
  double tret = 0.0;
  // The first step runs to 0.75, the second beyond 1; tout 0.9 comes first.
  ASSERT_EQ(ode.solve(0.9, &tret), ODE_SUCCESS);
  EXPECT_EQ(tret, 0.9);
  ASSERT_GT(ode.mem->tcur, 1.0);
  ASSERT_EQ(ode.solve(2.0, &tret), ODE_ROOT_RETURN);
  EXPECT_NEAR(tret, 1.0, ode.mem->rootTol);
  EXPECT_EQ(ode.mem->rootInfo[0], 1);
  ASSERT_EQ(ode.solve(2.0, &tret), ODE_SUCCESS);
  EXPECT_EQ(tret, 2.0);
}

TEST(OdeRoots, FunctionZeroThroughTheFirstStepWarnsOnceThenJoins) {
  Problem p = constantState();
  p.roots = [](double t, const double *, double *g) {
    g[0] = t < 0.5 ? 0.0 : t - 500.0;
    return 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0}, 1);
  ASSERT_EQ(OdeSetInitStep(ode.mem, 0.01), ODE_SUCCESS);
  double tret = 0.0;
  ASSERT_EQ(ode.solve(10.0, &tret, ODE_ONE_STEP), ODE_SUCCESS);
  ASSERT_EQ(ode.reports.size(), 1u);
  EXPECT_EQ(ode.reports[0].code, ODE_WARNING);
  EXPECT_EQ(ode.reports[0].module, "ODES");
  EXPECT_EQ(ode.reports[0].function, "OdeSolve");
  EXPECT_EQ(ode.reports[0].message,
            "At the end of the first step, there are still some root functions identically 0. "
            "This warning will not be issued again.");
  // Inactive while zero, active from the first step that ends where it is
  // non-zero; then its root at 500 is found.
  int flag = ODE_SUCCESS;
  for (int k = 0; k < 20 && flag == ODE_SUCCESS; ++k) {
    EXPECT_EQ(ode.mem->rootActive[0], ode.mem->tcur >= 0.5 ? 1 : 0) << "t " << ode.mem->tcur;
    flag = ode.solve(10.0, &tret, ODE_ONE_STEP);
  }
  ASSERT_EQ(flag, ODE_ROOT_RETURN);
  EXPECT_NEAR(tret, 500.0, 1e-9);
  EXPECT_EQ(ode.reports.size(), 1u);
}

TEST(OdeRoots, ReInitLetsAFormerlyZeroFunctionFindARootInTheFirstStep) {
  Problem p = constantState();
  bool second = false;
  p.roots = [&second](double t, const double *, double *g) {
    g[0] = second ? t - 0.45 : 0.0;
    return 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0}, 1);
  double tret = 0.0;
  ASSERT_EQ(ode.solve(0.4, &tret), ODE_SUCCESS);
  ASSERT_EQ(ode.mem->rootActive[0], 0);
  second = true;
  ASSERT_EQ(OdeReInit(ode.mem, 0.4, ode.y), ODE_SUCCESS);
  // One first step from 0.4 to 0.6 spans the root.
  ASSERT_EQ(OdeSetInitStep(ode.mem, 0.2), ODE_SUCCESS);
  ASSERT_EQ(ode.solve(1.0, &tret), ODE_ROOT_RETURN);
  EXPECT_NEAR(tret, 0.45, 1e-9);
  EXPECT_EQ(ode.mem->numSteps, 1);
  EXPECT_EQ(ode.mem->rootInfo[0], 1);
}

TEST(OdeRoots, ZeroAtAndJustAfterARootIsRefused) {
  Problem p = constantState();
  p.roots = [](double t, const double *, double *g) {
    g[0] = t < 1.0 ? t - 1.0 : 0.0;
    return 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0}, 1);
  double tret = 0.0;
  // g reaches 0 and stays there: the root is where it is first seen 0.
  ASSERT_EQ(ode.solve(2.0, &tret), ODE_ROOT_RETURN);
  EXPECT_GE(tret, 1.0);
  double tLow = ode.mem->tLow;
  ode.reports.clear();
  ASSERT_EQ(ode.solve(2.0, &tret), ODE_ILL_INPUT);
  ASSERT_EQ(ode.reports.size(), 1u);
  EXPECT_EQ(ode.reports[0].function, "odeRcheck2");
  char expected[96];
  std::snprintf(expected, sizeof expected, "Root found at and very near t = %lg.", tLow);
  EXPECT_EQ(ode.reports[0].message, expected);
  // The caller's vector holds the last accepted solution.
  EXPECT_EQ(ode[0], data(ode.mem->history[0])[0]);
  EXPECT_EQ(tret, ode.mem->tcur);
}

TEST(OdeRoots, FailingRootFunctionNamesTheCheck) {
  Problem p = oscillatorWithRoots();
  int calls = 0;
  int failAt = 0;
  p.roots = [&](double, const double *y, double *g) {
    g[0] = y[1];
    g[1] = y[0];
    return ++calls == failAt ? 1 : 0;
  };
  struct Case {
    int failAt;
    const char *function;
  };
  for (Case c : {Case{1, "odeRcheck1"}, Case{3, "odeRcheck3"}}) {
    SCOPED_TRACE(c.function);
    calls = 0;
    failAt = c.failAt;
    Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0, 0.0}, 2);
    double tret = 0.0;
    ASSERT_EQ(ode.solve(10.0, &tret), ODE_RTFUNC_FAIL);
    ASSERT_EQ(ode.reports.size(), 1u);
    EXPECT_EQ(ode.reports[0].code, ODE_RTFUNC_FAIL);
    EXPECT_EQ(ode.reports[0].function, c.function);
    EXPECT_NE(ode.reports[0].message.find("the rootfinding routine failed in an unrecoverable "
                                          "manner."),
              std::string::npos);
    EXPECT_EQ(tret, ode.mem->tcur);
    EXPECT_EQ(ode[0], data(ode.mem->history[0])[0]);
    EXPECT_EQ(ode[1], data(ode.mem->history[0])[1]);
  }
}

TEST(OdeStepStop, StopsAfterTheStepWhereItFires) {
  Problem p = constantState();
  p.rhs = [](double, const double *y, double *yd) {
    yd[0] = -y[0];
    return 0;
  };
  int asked = 0;
  int fireAt = 5;
  p.stepStop = [&] { return ++asked == fireAt ? 1 : 0; };
  // No root functions: the callback works on its own.
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  double tret = 0.0;
  ASSERT_EQ(ode.solve(10.0, &tret), ODE_ROOT_RETURN);
  EXPECT_EQ(asked, 5);
  EXPECT_EQ(ode.mem->numSteps, 5);
  EXPECT_EQ(tret, ode.mem->tcur);
  EXPECT_LT(tret, 10.0);
  EXPECT_EQ(ode[0], data(ode.mem->history[0])[0]);
  // Asked once per step: nothing before stepping in the next call.
  fireAt = -1;
  ASSERT_EQ(ode.solve(10.0, &tret), ODE_SUCCESS);
  EXPECT_EQ(asked, ode.mem->numSteps);

  // A step that passes tout stops at tout, with the interpolated solution.
  fireAt = asked + 1;
  double target = ode.mem->tcur + 0.5 * ode.mem->nextH;
  ASSERT_EQ(ode.solve(target, &tret), ODE_ROOT_RETURN);
  EXPECT_EQ(tret, target);
  EXPECT_NEAR(ode[0], std::exp(-target), 10 * p.atol[0]);
  EXPECT_GT(ode.mem->tcur, target);
}

TEST(OdeRoots, TwoFunctionsChangingSignTogetherAreBothMarked) {
  Problem p = constantState();
  // Both cross at t = 1 (one rising, one falling); a third crosses later.
  p.roots = [](double t, const double *, double *g) {
    g[0] = t - 1.0;
    g[1] = 3.0 * (1.0 - t);
    g[2] = t - 3.0;
    return 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0}, 3);
  ASSERT_EQ(OdeSetInitStep(ode.mem, 0.3), ODE_SUCCESS);
  double tret = 0.0;
  ASSERT_EQ(ode.solve(2.0, &tret), ODE_ROOT_RETURN);
  EXPECT_NEAR(tret, 1.0, 1e-9);
  EXPECT_EQ(ode.mem->rootInfo[0], 1);
  EXPECT_EQ(ode.mem->rootInfo[1], -1);
  EXPECT_EQ(ode.mem->rootInfo[2], 0);
  ASSERT_EQ(ode.solve(5.0, &tret), ODE_ROOT_RETURN);
  EXPECT_NEAR(tret, 3.0, 1e-9);
  EXPECT_EQ(ode.mem->rootInfo[0], 0);
  EXPECT_EQ(ode.mem->rootInfo[2], 1);
}

// An event loop that calls again with the same output time after a root
// return, where the root lies exactly on an output time (a time event on a
// communication point): the root is reported once, rising, and the next call
// returns the output time.
TEST(OdeRoots, ARootOnAnOutputTimeIsReportedOnce) {
  for (int lmm : {ODE_BDF, ODE_ADAMS}) {
    SCOPED_TRACE(lmm);
    Problem p = oscillatorWithRoots();
    p.roots = [](double t, const double *, double *g) {
      g[0] = t - 3.0;
      return 0;
    };
    p.rtol = 1e-10;
    p.atol = {1e-12, 1e-12};
    Integrator ode(p, lmm, ODE_NEWTON, 0.0, {1.0, 0.0}, 1);
    int roots = 0;
    for (int k = 1; k <= 10; ++k) {
      const double tout = 0.5 * k;
      SCOPED_TRACE(tout);
      double tret = 0.0;
      int flag = ODE_ROOT_RETURN;
      for (int call = 0; call < 4 && flag == ODE_ROOT_RETURN; ++call) {
        flag = ode.solve(tout, &tret);
        if (flag == ODE_ROOT_RETURN) {
          ++roots;
          EXPECT_EQ(tret, 3.0);
          EXPECT_EQ(ode.mem->rootInfo[0], 1);
        }
      }
      ASSERT_EQ(flag, ODE_SUCCESS);
      EXPECT_EQ(tret, tout);
      EXPECT_NEAR(ode[0], std::cos(tout), 1e-7);
      EXPECT_NEAR(ode[1], -std::sin(tout), 1e-7);
    }
    EXPECT_EQ(roots, 1);
    EXPECT_TRUE(ode.reports.empty());
  }
}
