// Integration against exact and reference solutions.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/integrator/ode_support.h"

using namespace odetest;

namespace {

Problem robertson() {
  Problem p;
  p.rhs = [](double, const double *y, double *yd) {
    yd[0] = -0.04 * y[0] + 1e4 * y[1] * y[2];
    yd[2] = 3e7 * y[1] * y[1];
    yd[1] = -yd[0] - yd[2];
    return 0;
  };
  p.rtol = 1e-4;
  p.atol = {1e-8, 1e-14, 1e-6};
  return p;
}

Problem vanDerPol(double mu) {
  Problem p;
  p.rhs = [mu](double, const double *y, double *yd) {
    yd[0] = y[1];
    yd[1] = mu * ((1.0 - y[0] * y[0]) * y[1]) - y[0];
    return 0;
  };
  p.rtol = 1e-6;
  p.atol = {1e-6, 1e-6};
  return p;
}

Problem oscillator() {
  Problem p;
  p.rhs = [](double, const double *y, double *yd) {
    yd[0] = y[1];
    yd[1] = -y[0];
    return 0;
  };
  p.rtol = 1e-8;
  p.atol = {1e-10, 1e-10};
  return p;
}

} // namespace

TEST(OdeSolve, DecayFollowsTheExponentialWithBdf) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  double worst = 0.0;
  for (int k = 1; k <= 10; ++k) {
    double tret = 0.0;
    ASSERT_EQ(ode.solve(k, &tret), ODE_SUCCESS);
    EXPECT_EQ(tret, k);
    double exact = std::exp(-tret);
    worst = std::max(worst, std::fabs(ode[0] - exact) / exact);
  }
  // The global error of a method that controls the local error: a small
  // multiple of the relative tolerance (local errors add up over the steps).
  EXPECT_LT(worst, 50 * p.rtol);
  EXPECT_TRUE(ode.reports.empty());
  int nsteps = 0;
  ASSERT_EQ(OdeGetNumSteps(ode.mem, &nsteps), ODE_SUCCESS);
  EXPECT_GT(nsteps, 10);
}

TEST(OdeSolve, RobertsonMatchesTheReferenceAndConservesMass) {
  Problem p = robertson();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0, 0.0, 0.0});
  double tout = 0.4;
  for (int k = 0; k <= 10; ++k, tout *= 10.0) {
    double tret = 0.0;
    ASSERT_EQ(ode.solve(tout, &tret), ODE_SUCCESS) << "tout " << tout;
    EXPECT_EQ(tret, tout);
    EXPECT_NEAR(ode[0] + ode[1] + ode[2], 1.0, 1e-12) << "tout " << tout;
    for (int i = 0; i < 3; ++i) EXPECT_GE(ode[i], -1e-10);
  }
  double tret = 0.0;
  ASSERT_EQ(ode.solve(1e11, &tret), ODE_SUCCESS);
  EXPECT_NEAR(ode[0], 2.083340149701255e-8, 20 * (1e-4 * 2.08e-8 + 1e-8));
  EXPECT_NEAR(ode[2], 0.9999999791665050, 20 * (1e-4 + 1e-6));
  EXPECT_TRUE(ode.reports.empty());
}

TEST(OdeSolve, VanDerPolStiffMatchesTheReference) {
  Problem p = vanDerPol(1000.0);
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {2.0, 0.0});
  double tret = 0.0;
  ASSERT_EQ(OdeSetMaxNumSteps(ode.mem, 100000), ODE_SUCCESS);
  ASSERT_EQ(ode.solve(3000.0, &tret), ODE_SUCCESS);
  EXPECT_EQ(tret, 3000.0);
  EXPECT_NEAR(ode[0], -1.51060693674411, 1e-3);
  EXPECT_NEAR(ode[1], 1.17838000073e-3, 1e-5);
}

TEST(OdeSolve, AdamsFunctionalFollowsTheHarmonicOscillator) {
  Problem p = oscillator();
  Integrator ode(p, ODE_ADAMS, ODE_FUNCTIONAL, 0.0, {1.0, 0.0});
  double maxErr = 0.0;
  int maxOrder = 0;
  for (int k = 1; k <= 40; ++k) {
    double t = 0.5 * k;
    double tret = 0.0;
    ASSERT_EQ(ode.solve(t, &tret), ODE_SUCCESS);
    maxErr = std::max(maxErr, std::fabs(ode[0] - std::cos(t)));
    maxErr = std::max(maxErr, std::fabs(ode[1] + std::sin(t)));
    maxOrder = std::max(maxOrder, ode.mem->order);
  }
  EXPECT_LT(maxErr, 1e-6);
  // A smooth non-stiff problem drives Adams well beyond the BDF orders.
  EXPECT_GT(maxOrder, 5);
  EXPECT_LE(maxOrder, 12);
}

TEST(OdeSolve, OrderStaysWithinTheMethodLimit) {
  struct Case {
    int lmm;
    int iter;
    int limit;
  };
  for (Case c : {Case{ODE_BDF, ODE_NEWTON, 5}, Case{ODE_ADAMS, ODE_NEWTON, 12},
                 Case{ODE_BDF, ODE_FUNCTIONAL, 5}}) {
    SCOPED_TRACE(c.lmm * 10 + c.iter);
    Problem p = oscillator();
    Integrator ode(p, c.lmm, c.iter, 0.0, {1.0, 0.0});
    int seen = 0;
    double tret = 0.0;
    for (int k = 0; k < 400; ++k) {
      ASSERT_EQ(ode.solve(100.0, &tret, ODE_ONE_STEP), ODE_SUCCESS);
      seen = std::max(seen, ode.mem->order);
      // The first steps run at order 1 until orderWait allows a change.
      if (k < 2) {
        EXPECT_EQ(ode.mem->order, 1);
      }
    }
    EXPECT_LE(seen, c.limit);
    EXPECT_GE(seen, 3);
    EXPECT_NEAR(ode[0], std::cos(tret), 1e-5);
  }
}

TEST(OdeSolve, DenseOutputGivesSolutionAndDerivatives) {
  Problem p = oscillator();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0, 0.0});
  double tret = 0.0;
  for (int k = 0; k < 30; ++k) ASSERT_EQ(ode.solve(10.0, &tret, ODE_ONE_STEP), ODE_SUCCESS);
  double hu = ode.mem->hu;
  OdeVector dky = OdeVecNew_Serial(2);
  for (double frac : {0.0, 0.3, 1.0}) {
    double t = tret - frac * hu;
    ASSERT_EQ(OdeGetDky(ode.mem, t, 0, dky), ODE_SUCCESS);
    EXPECT_NEAR(data(dky)[0], std::cos(t), 1e-5);
    ASSERT_EQ(OdeGetDky(ode.mem, t, 1, dky), ODE_SUCCESS);
    EXPECT_NEAR(data(dky)[0], -std::sin(t), 1e-3);
  }
  int q = ode.mem->order;
  EXPECT_EQ(OdeGetDky(ode.mem, tret, q + 1, dky), ODE_BAD_K);
  EXPECT_EQ(OdeGetDky(ode.mem, tret, -1, dky), ODE_BAD_K);
  EXPECT_EQ(OdeGetDky(ode.mem, tret + 0.01 * hu + 1e-9, 0, dky), ODE_BAD_T);
  EXPECT_EQ(OdeGetDky(ode.mem, tret - 1.01 * hu, 0, dky), ODE_BAD_T);
  EXPECT_EQ(OdeGetDky(ode.mem, tret, 0, nullptr), ODE_BAD_DKY);
  ASSERT_EQ(ode.reports.size(), 5u);
  EXPECT_EQ(ode.reports[0].message, "Illegal value for k.");
  EXPECT_EQ(ode.reports[3].code, ODE_BAD_T);
  EXPECT_EQ(ode.reports[3].message.rfind("Illegal value for t.t = ", 0), 0u);
  EXPECT_EQ(ode.reports[4].message, "dky = NULL illegal.");
  EXPECT_EQ(ode.reports[4].function, "OdeGetDky");
  OdeVecDispose(dky);
}

TEST(OdeSolve, ModesReturnWhereTheyShould) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  double tret = 0.0;
  // One-step mode: exactly one internal step, answer at tcur.
  ASSERT_EQ(ode.solve(10.0, &tret, ODE_ONE_STEP), ODE_SUCCESS);
  int nsteps = 0;
  ASSERT_EQ(OdeGetNumSteps(ode.mem, &nsteps), ODE_SUCCESS);
  EXPECT_EQ(nsteps, 1);
  EXPECT_EQ(tret, ode.mem->tcur);
  EXPECT_EQ(ode[0], data(ode.mem->history[0])[0]);
  // Normal mode to a time inside the last step: interpolation, no step.
  for (int k = 0; k < 20; ++k) ASSERT_EQ(ode.solve(10.0, &tret, ODE_ONE_STEP), ODE_SUCCESS);
  ASSERT_EQ(OdeGetNumSteps(ode.mem, &nsteps), ODE_SUCCESS);
  double inside = tret - 0.5 * ode.mem->hu;
  ASSERT_EQ(ode.solve(inside, &tret), ODE_SUCCESS);
  EXPECT_EQ(tret, inside);
  EXPECT_NEAR(ode[0], std::exp(-inside), 1e-5);
  int after = 0;
  ASSERT_EQ(OdeGetNumSteps(ode.mem, &after), ODE_SUCCESS);
  EXPECT_EQ(after, nsteps);
  // A step budget ends the call with the last accepted point.
  ASSERT_EQ(OdeSetMaxNumSteps(ode.mem, 3), ODE_SUCCESS);
  EXPECT_EQ(ode.solve(1e6, &tret), ODE_TOO_MUCH_WORK);
  EXPECT_EQ(tret, ode.mem->tcur);
  EXPECT_EQ(ode[0], data(ode.mem->history[0])[0]);
  ASSERT_EQ(OdeGetNumSteps(ode.mem, &after), ODE_SUCCESS);
  EXPECT_EQ(after, nsteps + 3);
  ASSERT_FALSE(ode.reports.empty());
  EXPECT_EQ(ode.reports.back().message.find("mxstep steps taken before reaching tout."),
            ode.reports.back().message.size() - 40);
}

TEST(OdeSolve, ReInitRestartsFromANewPoint) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  double tret = 0.0;
  ASSERT_EQ(ode.solve(1.0, &tret), ODE_SUCCESS);
  data(ode.y)[0] = 2.0;
  ASSERT_EQ(OdeReInit(ode.mem, 1.0, ode.y), ODE_SUCCESS);
  int nsteps = -1;
  ASSERT_EQ(OdeGetNumSteps(ode.mem, &nsteps), ODE_SUCCESS);
  EXPECT_EQ(nsteps, 0);
  ASSERT_EQ(ode.solve(3.0, &tret), ODE_SUCCESS);
  EXPECT_NEAR(ode[0], 2.0 * std::exp(-2.0), 2e-5 * 2.0 * std::exp(-2.0));
  int njac = 0;
  ASSERT_EQ(OdeDlsGetNumJacEvals(ode.mem, &njac), ODEDLS_SUCCESS);
  EXPECT_GE(njac, 1);
}

TEST(OdeSolve, SuppliedJacobianReplacesDifferenceQuotients) {
  Problem p = robertson();
  p.jac = [](double, const double *y, double *J) {
    // Column-major: J[i + 3*j] = df_i/dy_j.
    J[0] = -0.04;
    J[1] = 0.04;
    J[2] = 0.0;
    J[3] = 1e4 * y[2];
    J[5] = 6e7 * y[1];
    J[4] = -J[3] - J[5];
    J[6] = 1e4 * y[1];
    J[7] = -1e4 * y[1];
    J[8] = 0.0;
    return 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0, 0.0, 0.0});
  double tret = 0.0;
  ASSERT_EQ(OdeSetMaxNumSteps(ode.mem, -1), ODE_SUCCESS);
  ASSERT_EQ(ode.solve(4e10, &tret), ODE_SUCCESS);
  EXPECT_NEAR(ode[0] + ode[1] + ode[2], 1.0, 1e-12);
  auto *dls = static_cast<OdeDenseSolverMemory *>(ode.mem->lsMemory);
  EXPECT_EQ(dls->numRhsEvalsDQ, 0);
  EXPECT_GE(dls->numJacEvals, 1);
  EXPECT_EQ(p.rhsCalls, ode.mem->numRhsEvals);
}
