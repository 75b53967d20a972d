// The integrator record: creation, initialisation, root registration,
// options, flag names, the linear solver's attachment and the reports.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/integrator/ode_support.h"

using namespace odetest;

namespace {

int zeroRoot(double t, OdeVector, double *g, void *) {
  g[0] = t - 100.0;
  return 0;
}
int otherRoot(double t, OdeVector, double *g, void *) {
  g[0] = t - 200.0;
  return 0;
}

} // namespace

TEST(OdeMemory, CreateRefusesBadMethodsOnStandardError) {
  struct Case {
    int lmm, iter;
    const char *message;
  };
  for (Case c : {Case{3, 2, "Illegal value for lmm. The legal values are ODE_ADAMS and ODE_BDF."},
                 Case{2, 0,
                      "Illegal value for iter. The legal values are ODE_FUNCTIONAL and "
                      "ODE_NEWTON."}}) {
    SCOPED_TRACE(c.message);
    testing::internal::CaptureStderr();
    EXPECT_EQ(OdeCreate(c.lmm, c.iter), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("\n[ODE ERROR]  OdeCreate\n  ") + c.message + "\n\n");
  }
}

TEST(OdeMemory, NullMemoryIsRefusedByEveryEntryPoint) {
  double d = 0.0;
  int n = 0;
  struct Case {
    const char *function;
    std::function<int()> call;
  };
  const Case cases[] = {
      {"OdeInit", [] { return OdeInit(nullptr, problemRhs, 0.0, nullptr); }},
      {"OdeReInit", [] { return OdeReInit(nullptr, 0.0, nullptr); }},
      {"OdeWFtolerances", [] { return OdeWFtolerances(nullptr, problemEwt); }},
      {"OdeRootInit", [] { return OdeRootInit(nullptr, 1, zeroRoot); }},
      {"OdeStepRootInit", [] { return OdeStepRootInit(nullptr, nullptr); }},
      {"OdeSetErrHandlerFn", [] { return OdeSetErrHandlerFn(nullptr, recordReport, nullptr); }},
      {"OdeSetUserData", [] { return OdeSetUserData(nullptr, nullptr); }},
      {"OdeSetMaxNumSteps", [] { return OdeSetMaxNumSteps(nullptr, 1); }},
      {"OdeSetMaxNonlinIters", [] { return OdeSetMaxNonlinIters(nullptr, 1); }},
      {"OdeSetMaxErrTestFails", [] { return OdeSetMaxErrTestFails(nullptr, 1); }},
      {"OdeSetNonlinConvCoef", [] { return OdeSetNonlinConvCoef(nullptr, 0.1); }},
      {"OdeSetInitStep", [] { return OdeSetInitStep(nullptr, 0.1); }},
      {"OdeGetCurrentStep", [&] { return OdeGetCurrentStep(nullptr, &d); }},
      {"OdeGetErrWeights", [] { return OdeGetErrWeights(nullptr, nullptr); }},
      {"OdeGetNumSteps", [&] { return OdeGetNumSteps(nullptr, &n); }},
      {"OdeGetNumRhsEvals", [&] { return OdeGetNumRhsEvals(nullptr, &n); }},
      {"OdeGetNumNonlinSolvIters", [&] { return OdeGetNumNonlinSolvIters(nullptr, &n); }},
      {"OdeGetNumNonlinSolvConvFails", [&] { return OdeGetNumNonlinSolvConvFails(nullptr, &n); }},
      {"OdeGetNumGEvals", [&] { return OdeGetNumGEvals(nullptr, &n); }},
      {"OdeGetTolScaleFactor", [&] { return OdeGetTolScaleFactor(nullptr, &d); }},
      {"OdeReInitSparse", [] { return OdeReInitSparse(nullptr); }},
      {"OdeFreeSparseGlobalData", [] { return OdeFreeSparseGlobalData(nullptr); }},
      {"OdeSolve", [&] { return OdeSolve(nullptr, 1.0, nullptr, &d, ODE_NORMAL); }},
      {"OdeGetDky", [] { return OdeGetDky(nullptr, 1.0, 0, nullptr); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.function);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.call(), ODE_MEM_NULL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("\n[ODE ERROR]  ") + c.function + "\n  ode_mem = NULL illegal.\n\n");
  }
  OdeDestroy(nullptr);
  OdeMemory *none = nullptr;
  OdeDestroy(&none);
}

TEST(OdeMemory, InitialisationChecks) {
  OdeMemory *mem = OdeCreate(ODE_BDF, ODE_NEWTON);
  ASSERT_NE(mem, nullptr);
  std::vector<Report> reports;
  ASSERT_EQ(OdeSetErrHandlerFn(mem, recordReport, &reports), ODE_SUCCESS);
  OdeVector y = OdeVecNew_Serial(2);
  EXPECT_EQ(OdeWFtolerances(mem, problemEwt), ODE_NO_MALLOC);
  EXPECT_EQ(OdeReInit(mem, 0.0, y), ODE_NO_MALLOC);
  double tret = 0.0;
  EXPECT_EQ(OdeSolve(mem, 1.0, y, &tret, ODE_NORMAL), ODE_NO_MALLOC);
  EXPECT_EQ(OdeInit(mem, problemRhs, 0.0, nullptr), ODE_ILL_INPUT);
  EXPECT_EQ(OdeInit(mem, nullptr, 0.0, y), ODE_ILL_INPUT);
  auto savedMin = y->ops->minElement;
  y->ops->minElement = nullptr;
  EXPECT_EQ(OdeInit(mem, problemRhs, 0.0, y), ODE_ILL_INPUT);
  y->ops->minElement = savedMin;
  ASSERT_EQ(reports.size(), 6u);
  const char *expected[] = {"Attempt to call before OdeInit.",
                            "Attempt to call before OdeInit.",
                            "Attempt to call before OdeInit.",
                            "y0 = NULL illegal.",
                            "f = NULL illegal.",
                            "A required vector operation is not implemented."};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(reports[i].message, expected[i]);
  EXPECT_EQ(reports[0].function, "OdeWFtolerances");
  EXPECT_EQ(reports[3].function, "OdeInit");
  EXPECT_EQ(reports[3].code, ODE_ILL_INPUT);

  OdeVecFill(2.0, y);
  ASSERT_EQ(OdeInit(mem, problemRhs, 1.5, y), ODE_SUCCESS);
  EXPECT_EQ(mem->tcur, 1.5);
  EXPECT_EQ(data(mem->history[0])[1], 2.0);
  EXPECT_NE(data(mem->history[0]), data(y));
  OdeVector w = OdeVecNew_Serial(2);
  OdeVecFill(4.0, mem->ewt);
  ASSERT_EQ(OdeGetErrWeights(mem, w), ODE_SUCCESS);
  EXPECT_EQ(data(w)[0], 4.0);
  OdeVecDispose(w);
  OdeDestroy(&mem);
  EXPECT_EQ(mem, nullptr);
  OdeVecDispose(y);
}

TEST(OdeMemory, OptionsAndWhatReInitKeeps) {
  Problem p = decay();
  p.roots = [](double t, const double *, double *g) {
    g[0] = t - 100.0;
    return 0;
  };
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0}, 1);
  OdeMemory *mem = ode.mem;
  ASSERT_EQ(OdeSetMaxNumSteps(mem, 0), ODE_SUCCESS);
  EXPECT_EQ(mem->mxstep, 500);
  ASSERT_EQ(OdeSetMaxNumSteps(mem, -1), ODE_SUCCESS);
  EXPECT_EQ(mem->mxstep, -1);
  ASSERT_EQ(OdeSetMaxNumSteps(mem, 5000), ODE_SUCCESS);
  ASSERT_EQ(OdeSetInitStep(mem, 0.125), ODE_SUCCESS);
  double tret = 0.0;
  ASSERT_EQ(ode.solve(1.0, &tret), ODE_SUCCESS);
  EXPECT_EQ(mem->firstH, 0.125);
  ASSERT_EQ(OdeReInit(mem, 1.0, ode.y), ODE_SUCCESS);
  EXPECT_EQ(mem->mxstep, 5000);
  EXPECT_EQ(mem->h0, 0.125);
  EXPECT_EQ(mem->errHandlerData, &ode.reports);
  EXPECT_EQ(mem->numRoots, 1);
  EXPECT_NE(mem->lsMemory, nullptr);
  int counts[5] = {-1, -1, -1, -1, -1};
  ASSERT_EQ(OdeGetNumSteps(mem, &counts[0]), ODE_SUCCESS);
  ASSERT_EQ(OdeGetNumRhsEvals(mem, &counts[1]), ODE_SUCCESS);
  ASSERT_EQ(OdeGetNumNonlinSolvIters(mem, &counts[2]), ODE_SUCCESS);
  ASSERT_EQ(OdeGetNumNonlinSolvConvFails(mem, &counts[3]), ODE_SUCCESS);
  ASSERT_EQ(OdeGetNumGEvals(mem, &counts[4]), ODE_SUCCESS);
  for (int c : counts) EXPECT_EQ(c, 0);
  ASSERT_EQ(ode.solve(2.0, &tret), ODE_SUCCESS);
  EXPECT_NEAR(ode[0], std::exp(-2.0), 1e-5);
  EXPECT_EQ(OdeReInitSparse(mem), ODE_SUCCESS);
  EXPECT_EQ(OdeFreeSparseGlobalData(mem), ODE_SUCCESS);
}

TEST(OdeMemory, FlagText) {
  struct Case {
    int flag;
    const char *name;
  };
  for (Case c : {Case{0, "ODE_SUCCESS"}, Case{2, "ODE_ROOT_RETURN"}, Case{-1, "ODE_TOO_MUCH_WORK"},
                 Case{-12, "ODE_RTFUNC_FAIL"}, Case{-27, "ODE_TOO_CLOSE"}, Case{-13, "NONE"},
                 Case{99, "NONE"}, Case{-20, "ODE_MEM_FAIL"}}) {
    SCOPED_TRACE(c.flag);
    char *text = OdeFlagText(c.flag);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, c.name);
    std::free(text);
  }
}

TEST(OdeMemory, RootRegistrationStaysConsistent) {
  Problem p = decay();
  Integrator ode(p, ODE_BDF, ODE_NEWTON, 0.0, {1.0});
  OdeMemory *mem = ode.mem;
  ASSERT_EQ(OdeRootInit(mem, 1, zeroRoot), ODE_SUCCESS);
  int *info = mem->rootInfo;
  // Same count and function: nothing changes.
  ASSERT_EQ(OdeRootInit(mem, 1, zeroRoot), ODE_SUCCESS);
  EXPECT_EQ(mem->rootInfo, info);
  ASSERT_EQ(OdeRootInit(mem, 1, otherRoot), ODE_SUCCESS);
  EXPECT_EQ(mem->g, otherRoot);
  // A NULL function fails and leaves no root data behind.
  EXPECT_EQ(OdeRootInit(mem, 1, nullptr), ODE_ILL_INPUT);
  EXPECT_EQ(mem->numRoots, 0);
  EXPECT_EQ(mem->rootInfo, nullptr);
  EXPECT_EQ(mem->gLow, nullptr);
  EXPECT_EQ(OdeRootInit(mem, 2, nullptr), ODE_ILL_INPUT);
  EXPECT_EQ(mem->numRoots, 0);
  ASSERT_EQ(ode.reports.size(), 2u);
  EXPECT_EQ(ode.reports[0].message, "g = NULL illegal.");
  EXPECT_EQ(ode.reports[0].function, "OdeRootInit");
  // Integration after the failure runs without roots.
  double tret = 0.0;
  ASSERT_EQ(ode.solve(1.0, &tret), ODE_SUCCESS);
  // A negative count clears the roots; registering again works.
  ASSERT_EQ(OdeRootInit(mem, 1, zeroRoot), ODE_SUCCESS);
  ASSERT_EQ(OdeRootInit(mem, -3, zeroRoot), ODE_SUCCESS);
  EXPECT_EQ(mem->numRoots, 0);
  EXPECT_EQ(mem->g, nullptr);
  ASSERT_EQ(OdeRootInit(mem, 3, zeroRoot), ODE_SUCCESS);
  EXPECT_EQ(mem->rootActive[2], 1);
  EXPECT_EQ(mem->rootDirection[2], 0);
}

TEST(OdeMemory, DenseSolverAttachment) {
  OdeMemory *mem = OdeCreate(ODE_BDF, ODE_NEWTON);
  std::vector<Report> reports;
  ASSERT_EQ(OdeSetErrHandlerFn(mem, recordReport, &reports), ODE_SUCCESS);
  // Before OdeInit there are no vectors to work on.
  EXPECT_EQ(OdeDense(mem, 1), ODEDLS_ILL_INPUT);
  EXPECT_EQ(OdeDlsSetDenseJacFn(mem, problemJac), ODEDLS_LMEM_NULL);
  int njac = 0;
  EXPECT_EQ(OdeDlsGetNumJacEvals(mem, &njac), ODEDLS_LMEM_NULL);
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].module, "ODEDENSE");
  EXPECT_EQ(reports[0].message, "A required vector operation is not implemented.");
  EXPECT_EQ(reports[1].module, "ODEDLS");
  EXPECT_EQ(reports[1].function, "OdeDlsSetDenseJacFn");
  EXPECT_EQ(reports[1].message, "Linear solver memory is NULL.");
  EXPECT_EQ(reports[2].function, "OdeDlsGetNumJacEvals");

  Problem p = decay();
  OdeVector y = OdeVecNew_Serial(1);
  OdeVecFill(1.0, y);
  ASSERT_EQ(OdeInit(mem, problemRhs, 0.0, y), ODE_SUCCESS);
  ASSERT_EQ(OdeSetUserData(mem, &p), ODE_SUCCESS);
  ASSERT_EQ(OdeWFtolerances(mem, problemEwt), ODE_SUCCESS);
  ASSERT_EQ(OdeDense(mem, 1), ODEDLS_SUCCESS);
  // A failing attachment (no matrix of size 0) releases the old solver and
  // leaves no operations over a missing record.
  reports.clear();
  EXPECT_EQ(OdeDense(mem, 0), ODEDLS_MEM_FAIL);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].message, "A memory request failed.");
  EXPECT_EQ(mem->lsMemory, nullptr);
  EXPECT_EQ(mem->lsSolve, nullptr);
  EXPECT_EQ(mem->lsFree, nullptr);
  double tret = 0.0;
  EXPECT_EQ(OdeSolve(mem, 1.0, y, &tret, ODE_NORMAL), ODE_ILL_INPUT);
  EXPECT_EQ(reports.back().message, "The linear solver's solve routine is NULL.");
  // Attaching again makes it work.
  ASSERT_EQ(OdeDense(mem, 1), ODEDLS_SUCCESS);
  ASSERT_EQ(OdeSolve(mem, 1.0, y, &tret, ODE_NORMAL), ODE_SUCCESS);
  EXPECT_NEAR(data(y)[0], std::exp(-1.0), 1e-5);
  OdeDestroy(&mem);
  OdeVecDispose(y);

  testing::internal::CaptureStderr();
  EXPECT_EQ(OdeDense(nullptr, 1), ODEDLS_MEM_NULL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\n[ODEDENSE ERROR]  OdeDense\n  Integrator memory is NULL.\n\n");
}

TEST(OdeMemory, DefaultHandlerWritesToStandardError) {
  Problem p = decay();
  OdeMemory *mem = OdeCreate(ODE_ADAMS, ODE_FUNCTIONAL);
  OdeVector y = OdeVecNew_Serial(1);
  OdeVecFill(1.0, y);
  ASSERT_EQ(OdeInit(mem, problemRhs, 0.0, y), ODE_SUCCESS);
  double tret = 0.0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(OdeSolve(mem, 1.0, y, &tret, 7), ODE_ILL_INPUT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\n[ODE ERROR]  OdeSolve\n  Illegal value for itask.\n\n");
  // Warnings carry their own word.
  testing::internal::CaptureStderr();
  odeReportError(mem, ODE_WARNING, "ODES", "OdeSolve", "careful %d", 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n[ODES WARNING]  OdeSolve\n  careful 3\n\n");
  OdeDestroy(&mem);
  OdeVecDispose(y);
}
