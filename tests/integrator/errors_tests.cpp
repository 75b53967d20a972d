// Error flags of the integration call, each with its exact report, and the
// caller's vector after a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>

#include "tests/integrator/ode_support.h"

using namespace odetest;

namespace {

std::string format(const char *fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

void expectOneReport(const Integrator &ode, int code, const char *function,
                     const std::string &message) {
  ASSERT_EQ(ode.reports.size(), 1u);
  EXPECT_EQ(ode.reports[0].code, code);
  EXPECT_EQ(ode.reports[0].module, "ODE");
  EXPECT_EQ(ode.reports[0].function, function);
  EXPECT_EQ(ode.reports[0].message, message);
}

// The caller's vector and tret are at the last accepted point.
void expectAtLastAccepted(const Integrator &ode, double tret) {
  EXPECT_EQ(tret, ode.mem->tcur);
  EXPECT_EQ(ode[0], data(ode.mem->history[0])[0]);
}

} // namespace

TEST(OdeErrors, BadArgumentsOfOdeSolve) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  double tret = 0.0;
  EXPECT_EQ(OdeSolve(ode.mem, 1.0, nullptr, &tret, ODE_NORMAL), ODE_ILL_INPUT);
  EXPECT_EQ(OdeSolve(ode.mem, 1.0, ode.y, nullptr, ODE_NORMAL), ODE_ILL_INPUT);
  EXPECT_EQ(OdeSolve(ode.mem, 1.0, ode.y, &tret, 3), ODE_ILL_INPUT);
  ASSERT_EQ(ode.reports.size(), 3u);
  EXPECT_EQ(ode.reports[0].message, "yout = NULL illegal.");
  EXPECT_EQ(ode.reports[1].message, "tret = NULL illegal.");
  EXPECT_EQ(ode.reports[2].message, "Illegal value for itask.");
  for (const Report &r : ode.reports) {
    EXPECT_EQ(r.function, "OdeSolve");
    EXPECT_EQ(r.code, ODE_ILL_INPUT);
  }
  // Nothing was started: the next call is still a first call and works.
  ASSERT_EQ(ode.solve(1.0, &tret), ODE_SUCCESS);
}

// An output time that is no finite number is refused before anything is
// evaluated, on the first call and on later ones; the integration goes on
// normally afterwards.
TEST(OdeErrors, NonFiniteOutputTimesAreRefused) {
  for (const double tout : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    for (const bool later : {false, true}) {
      SCOPED_TRACE(tout);
      SCOPED_TRACE(later ? "later call" : "first call");
      Problem p = decay();
      double farthest = 0.0;
      p.rhs = [&farthest](double t, const double *y, double *yd) {
        farthest = std::max(farthest, std::fabs(t));
        yd[0] = -y[0];
        return 0;
      };
      Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
      double tret = 0.0;
      if (later) {
        ASSERT_EQ(ode.solve(0.5, &tret), ODE_SUCCESS);
      }
      const int rhsCalls = p.rhsCalls;
      const double y = ode[0];
      for (const int itask : {ODE_NORMAL, ODE_ONE_STEP}) {
        ode.reports.clear();
        tret = -1.0;
        EXPECT_EQ(ode.solve(tout, &tret, itask), ODE_ILL_INPUT);
        expectOneReport(ode, ODE_ILL_INPUT, "OdeSolve", format("tout = %lg illegal.", tout));
        EXPECT_EQ(p.rhsCalls, rhsCalls);
        EXPECT_EQ(ode[0], y);
        EXPECT_EQ(tret, -1.0);
      }
      // The integration goes on from where it was.
      ASSERT_EQ(ode.solve(1.0, &tret), ODE_SUCCESS);
      EXPECT_EQ(tret, 1.0);
      EXPECT_NEAR(ode[0], std::exp(-1.0), 1e-5);
      EXPECT_LE(farthest, 1e300);
    }
  }
}

TEST(OdeErrors, FirstCallSetUpFailures) {
  struct Case {
    const char *name;
    std::function<void(Integrator &, Problem &)> arrange;
    int flag;
    const char *function;
    const char *message;
  };
  const Case cases[] = {
      {"no tolerances",
       [](Integrator &o, Problem &) { ASSERT_EQ(OdeWFtolerances(o.mem, nullptr), ODE_SUCCESS); },
       ODE_ILL_INPUT, "odeInitialSetup", "No integration tolerances have been specified."},
      {"weights fail", [](Integrator &, Problem &p) { p.atol = {-1.0}; }, ODE_ILL_INPUT,
       "odeInitialSetup", "The user-provide EwtSet function failed."},
      {"no linear solver",
       [](Integrator &o, Problem &) {
         o.mem->lsFree(o.mem);
         o.mem->lsInit = nullptr;
         o.mem->lsSetup = nullptr;
         o.mem->lsSolve = nullptr;
         o.mem->lsFree = nullptr;
       },
       ODE_ILL_INPUT, "odeInitialSetup", "The linear solver's solve routine is NULL."},
      {"unrecoverable f",
       [](Integrator &, Problem &p) {
         p.rhs = [](double, const double *, double *) { return -1; };
       },
       ODE_RHSFUNC_FAIL, "OdeSolve",
       "At t = 0, the right-hand side routine failed in an unrecoverable manner."},
      {"recoverable f",
       [](Integrator &, Problem &p) { p.rhs = [](double, const double *, double *) { return 1; }; },
       ODE_FIRST_RHSFUNC_ERR, "OdeSolve", "The right-hand side routine failed at the first call."},
      {"h0 against tout",
       [](Integrator &o, Problem &) { ASSERT_EQ(OdeSetInitStep(o.mem, -0.1), ODE_SUCCESS); },
       ODE_ILL_INPUT, "OdeSolve", "h0 and tout - t0 inconsistent."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Problem p = decay();
    Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
    c.arrange(ode, p);
    double tret = -1.0;
    EXPECT_EQ(ode.solve(1.0, &tret), c.flag);
    expectOneReport(ode, c.flag, c.function, c.message);
    EXPECT_EQ(tret, 0.0);
    EXPECT_EQ(ode[0], 1.0);
    EXPECT_EQ(ode.mem->numSteps, 0);
  }
}

TEST(OdeErrors, ToutAtTheStartIsTooCloseUntilAStepIsGiven) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 1.0, {1.0});
  double tret = 0.0;
  EXPECT_EQ(ode.solve(1.0, &tret), ODE_TOO_CLOSE);
  expectOneReport(ode, ODE_TOO_CLOSE, "OdeSolve", "tout too close to t0 to start integration.");
  EXPECT_EQ(tret, 1.0);
  double h = -1.0;
  ASSERT_EQ(OdeGetCurrentStep(ode.mem, &h), ODE_SUCCESS);
  EXPECT_EQ(h, 0.0);
  // Still a first call; with an initial step it takes one.
  ASSERT_EQ(OdeSetInitStep(ode.mem, 1e-6), ODE_SUCCESS);
  EXPECT_EQ(ode.solve(1.0, &tret), ODE_SUCCESS);
  EXPECT_EQ(ode.mem->numSteps, 1);
  EXPECT_EQ(tret, 1.0);
}

TEST(OdeErrors, TooMuchAccuracyDoublesTheScaleFactor) {
  Problem p = decay();
  p.rtol = 0.0;
  p.atol = {1e-20};
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  double tret = 0.0;
  EXPECT_EQ(ode.solve(1.0, &tret), ODE_TOO_MUCH_ACC);
  expectOneReport(ode, ODE_TOO_MUCH_ACC, "OdeSolve", "At t = 0, too much accuracy requested.");
  double factor = 0.0;
  ASSERT_EQ(OdeGetTolScaleFactor(ode.mem, &factor), ODE_SUCCESS);
  EXPECT_DOUBLE_EQ(factor, 2.0 * ode.mem->unitRoundoff * 1e20);
  expectAtLastAccepted(ode, tret);
}

TEST(OdeErrors, StepBudgetIsCountedPerCall) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  ASSERT_EQ(OdeSetMaxNumSteps(ode.mem, 4), ODE_SUCCESS);
  double tret = 0.0;
  EXPECT_EQ(ode.solve(100.0, &tret), ODE_TOO_MUCH_WORK);
  EXPECT_EQ(ode.mem->numSteps, 4);
  expectOneReport(ode, ODE_TOO_MUCH_WORK, "OdeSolve",
                  format("At t = %lg, mxstep steps taken before reaching tout.", ode.mem->tcur));
  expectAtLastAccepted(ode, tret);
  // The next call gets a new budget.
  EXPECT_EQ(ode.solve(100.0, &tret), ODE_TOO_MUCH_WORK);
  EXPECT_EQ(ode.mem->numSteps, 8);
}

TEST(OdeErrors, RecoverableRhsFailuresEverywhereAfterTheFirstCall) {
  struct Case {
    const char *name;
    double h0;
  };
  // Without an initial step the estimate gives up after its tries; with one,
  // the first step gives up after its convergence failures.
  for (Case c : {Case{"estimate", 0.0}, Case{"first step", 0.1}}) {
    SCOPED_TRACE(c.name);
    Problem p = decay();
    int calls = 0;
    p.rhs = [&calls](double, const double *y, double *yd) {
      yd[0] = -y[0];
      return ++calls == 1 ? 0 : 1;
    };
    Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
    ASSERT_EQ(OdeSetInitStep(ode.mem, c.h0), ODE_SUCCESS);
    double tret = -1.0;
    EXPECT_EQ(ode.solve(1.0, &tret), ODE_REPTD_RHSFUNC_ERR);
    expectOneReport(ode, ODE_REPTD_RHSFUNC_ERR, "OdeSolve",
                    "At t = 0 repeated recoverable right-hand side function errors.");
    // The estimate and the corrector moved the vector to trial points.
    expectAtLastAccepted(ode, tret);
    EXPECT_EQ(ode[0], 1.0);
    if (c.h0 != 0.0) {
      EXPECT_EQ(ode.mem->numConvFails, 10);
    } else {
      EXPECT_EQ(calls, 1 + 4);
    }
  }
}

TEST(OdeErrors, UnrecoverableRhsFailureInTheMiddle) {
  Problem p = decay();
  p.rhs = [](double t, const double *y, double *yd) {
    yd[0] = -y[0];
    return t > 0.5 ? -1 : 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  double tret = 0.0;
  EXPECT_EQ(ode.solve(1.0, &tret), ODE_RHSFUNC_FAIL);
  EXPECT_LE(ode.mem->tcur, 0.5);
  expectOneReport(ode, ODE_RHSFUNC_FAIL, "OdeSolve",
                  format("At t = %lg, the right-hand side routine failed in an unrecoverable "
                         "manner.",
                         ode.mem->tcur));
  expectAtLastAccepted(ode, tret);
  EXPECT_NEAR(ode[0], std::exp(-tret), 1e-5);
}

TEST(OdeErrors, ErrorTestFailureAtTheLimit) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  ASSERT_EQ(OdeSetInitStep(ode.mem, 5.0), ODE_SUCCESS);
  ASSERT_EQ(OdeSetMaxErrTestFails(ode.mem, 1), ODE_SUCCESS);
  double tret = 0.0;
  EXPECT_EQ(ode.solve(10.0, &tret), ODE_ERR_FAILURE);
  expectOneReport(ode, ODE_ERR_FAILURE, "OdeSolve",
                  "At t = 0 and h = 5, the error test failed repeatedly or with |h| = hmin.");
  expectAtLastAccepted(ode, tret);
  EXPECT_EQ(ode[0], 1.0);
}

TEST(OdeErrors, ErrorTestFailuresShrinkThenRestartAtOrderOne) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  // A far too large first step fails the error test several times.
  ASSERT_EQ(OdeSetInitStep(ode.mem, 10.0), ODE_SUCCESS);
  ASSERT_EQ(OdeSetMaxErrTestFails(ode.mem, 15), ODE_SUCCESS);
  double tret = 0.0;
  ASSERT_EQ(ode.solve(100.0, &tret, ODE_ONE_STEP), ODE_SUCCESS);
  EXPECT_GE(ode.mem->numErrTestFails, 4);
  EXPECT_EQ(ode.mem->orderWait, 9);
  // The fourth failure restarted the history with h cut by 0.1 and a long
  // wait before the next order change; the plan keeps h after failures.
  EXPECT_EQ(ode.mem->order, 1);
  EXPECT_EQ(ode.mem->nextH, ode.mem->h);
  EXPECT_NEAR(ode[0], std::exp(-tret), 1e-5);
}

TEST(OdeErrors, ConvergenceFailuresOfFunctionalIterationOnAStiffProblem) {
  Problem p = decay();
  p.rhs = [](double, const double *y, double *yd) {
    yd[0] = -1e6 * y[0];
    return 0;
  };
  Integrator ode(p, ODE_ADAMS, ODE_FUNCTIONAL, 0.0, {1.0});
  ASSERT_EQ(OdeSetInitStep(ode.mem, 1.0), ODE_SUCCESS);
  double tret = 0.0;
  EXPECT_EQ(ode.solve(1.0, &tret), ODE_CONV_FAILURE);
  EXPECT_EQ(ode.mem->numConvFails, 10);
  expectOneReport(ode, ODE_CONV_FAILURE, "OdeSolve",
                  format("At t = 0 and h = %lg, the corrector convergence test failed repeatedly "
                         "or with |h| = hmin.",
                         std::pow(0.25, 9)));
  expectAtLastAccepted(ode, tret);
}

TEST(OdeErrors, JacobianFailures) {
  Problem p = decay();
  int jacCalls = 0;
  int result = 1;
  p.jac = [&](double, const double *, double *J) {
    J[0] = -1.0;
    return ++jacCalls == 1 ? result : 0;
  };
  {
    // Recoverable on the first step: a smaller retried step, no error.
    Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
    double tret = 0.0;
    ASSERT_EQ(ode.solve(1.0, &tret, ODE_ONE_STEP), ODE_SUCCESS);
    EXPECT_EQ(ode.mem->numConvFails, 1);
    EXPECT_EQ(ode.mem->hu, 0.25 * ode.mem->firstH);
    EXPECT_TRUE(ode.reports.empty());
  }
  {
    jacCalls = 0;
    result = -1;
    Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
    double tret = 0.0;
    EXPECT_EQ(ode.solve(1.0, &tret), ODE_LSETUP_FAIL);
    ASSERT_EQ(ode.reports.size(), 2u);
    EXPECT_EQ(ode.reports[0].module, "ODEDENSE");
    EXPECT_EQ(ode.reports[0].function, "odeDenseSetup");
    EXPECT_EQ(ode.reports[0].message, "The Jacobian routine failed in an unrecoverable manner.");
    EXPECT_EQ(ode.reports[1].code, ODE_LSETUP_FAIL);
    EXPECT_EQ(ode.reports[1].message,
              "At t = 0, the setup routine failed in an unrecoverable manner.");
    expectAtLastAccepted(ode, tret);
  }
}

TEST(OdeErrors, LaterWeightFailureIsReported) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  double tret = 0.0;
  ASSERT_EQ(ode.solve(1.0, &tret), ODE_SUCCESS);
  p.atol = {-1.0};
  EXPECT_EQ(ode.solve(2.0, &tret), ODE_ILL_INPUT);
  expectOneReport(ode, ODE_ILL_INPUT, "OdeSolve",
                  format("At t = %lg, the user-provide EwtSet function failed.", ode.mem->tcur));
  expectAtLastAccepted(ode, tret);
}

TEST(OdeErrors, TinyStepWarningIsIssuedTenTimes) {
  Problem p = decay();
  p.rhs = [](double, const double *, double *yd) {
    yd[0] = 0.0;
    return 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 1e300, {1.0});
  ASSERT_EQ(OdeSetInitStep(ode.mem, 1.0), ODE_SUCCESS);
  double tret = 0.0;
  for (int k = 0; k < 15; ++k) ASSERT_EQ(ode.solve(2e300, &tret, ODE_ONE_STEP), ODE_SUCCESS);
  ASSERT_EQ(ode.reports.size(), 11u);
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(ode.reports[static_cast<size_t>(k)].code, ODE_WARNING);
    EXPECT_EQ(ode.reports[static_cast<size_t>(k)].message.rfind("Internal t = 1e+300 and h = ", 0),
              0u);
  }
  EXPECT_EQ(ode.reports[10].message,
            "The above warning has been issued mxhnil times and will not be issued again for "
            "this problem.");
}
