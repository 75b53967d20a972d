// Allocation failures: the N-th allocation of the integrator fails, for
// N = 1, 2, ... until the whole set-up succeeds.  Each failure must be
// reported with its flag, leave the record usable or releasable, and leak
// nothing (checked under AddressSanitizer).
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/integrator/ode_support.h"

using namespace odetest;

namespace {

int allocCalls = 0;
int failAt = 0;

void *failingAlloc(std::size_t size) {
  return ++allocCalls == failAt ? nullptr : std::malloc(size);
}

struct FailingAllocation {
  explicit FailingAllocation(int n) {
    allocCalls = 0;
    failAt = n;
    odeAllocHook = failingAlloc;
  }
  ~FailingAllocation() { odeAllocHook = std::malloc; }
  FailingAllocation(const FailingAllocation &) = delete;
  FailingAllocation &operator=(const FailingAllocation &) = delete;
};

int oscillatorRhs(double, OdeVector y, OdeVector ydot, void *) {
  data(ydot)[0] = data(y)[1];
  data(ydot)[1] = -data(y)[0];
  return 0;
}

int cosineRoots(double, OdeVector y, double *g, void *) {
  g[0] = data(y)[0];
  g[1] = data(y)[1] - 5.0;
  return 0;
}

int unitWeights(OdeVector y, OdeVector ewt, void *) {
  for (int i = 0; i < length(y); ++i) data(ewt)[i] = 1.0 / (1e-6 * std::fabs(data(y)[i]) + 1e-8);
  return 0;
}

void expectNoRootData(const OdeMemory *mem) {
  EXPECT_EQ(mem->numRoots, 0);
  EXPECT_EQ(mem->g, nullptr);
  EXPECT_EQ(mem->gLow, nullptr);
  EXPECT_EQ(mem->gHigh, nullptr);
  EXPECT_EQ(mem->gRoot, nullptr);
  EXPECT_EQ(mem->rootInfo, nullptr);
  EXPECT_EQ(mem->rootDirection, nullptr);
  EXPECT_EQ(mem->rootActive, nullptr);
}

} // namespace

TEST(OdeAllocation, EveryFailureIsReportedAndLeavesNothingBehind) {
  bool completed = false;
  int failuresSeen = 0;
  for (int n = 1; !completed && n < 200; ++n) {
    SCOPED_TRACE(n);
    FailingAllocation guard(n);
    std::vector<Report> reports;
    OdeVector y = OdeVecNew_Serial(2);
    if (y == nullptr) {
      ++failuresSeen;
      continue;
    }
    data(y)[0] = 1.0;
    data(y)[1] = 0.0;

    testing::internal::CaptureStderr();
    OdeMemory *mem = OdeCreate(ODE_BDF, ODE_NEWTON);
    std::string err = testing::internal::GetCapturedStderr();
    if (mem == nullptr) {
      EXPECT_EQ(err, "\n[ODE ERROR]  OdeCreate\n  Allocation of ode_mem failed.\n\n");
      ++failuresSeen;
      OdeVecDispose(y);
      continue;
    }
    ASSERT_EQ(OdeSetErrHandlerFn(mem, recordReport, &reports), ODE_SUCCESS);

    double tret = 0.0;
    int flag = OdeInit(mem, oscillatorRhs, 0.0, y);
    if (flag != ODE_SUCCESS) {
      EXPECT_EQ(flag, ODE_MEM_FAIL);
      ASSERT_EQ(reports.size(), 1u);
      EXPECT_EQ(reports[0].message, "A memory request failed.");
      EXPECT_EQ(mem->ewt, nullptr);
      EXPECT_EQ(mem->history[0], nullptr);
      EXPECT_EQ(OdeSolve(mem, 1.0, y, &tret, ODE_NORMAL), ODE_NO_MALLOC);
    } else {
      ASSERT_EQ(OdeWFtolerances(mem, unitWeights), ODE_SUCCESS);
      int before = allocCalls;
      flag = OdeRootInit(mem, 2, cosineRoots);
      if (flag != ODE_SUCCESS) {
        EXPECT_EQ(flag, ODE_MEM_FAIL);
        ASSERT_EQ(reports.size(), 1u);
        // The last of the six arrays is reported under the other module.
        EXPECT_EQ(reports[0].module, failAt - before == 6 ? "ODES" : "ODE");
        EXPECT_EQ(reports[0].message, "A memory request failed.");
        expectNoRootData(mem);
        // Registering no roots and integrating is safe afterwards.
        EXPECT_EQ(OdeRootInit(mem, 0, nullptr), ODE_SUCCESS);
      } else {
        flag = OdeDense(mem, 2);
        if (flag != ODEDLS_SUCCESS) {
          EXPECT_EQ(flag, ODEDLS_MEM_FAIL);
          ASSERT_EQ(reports.size(), 1u);
          EXPECT_EQ(reports[0].module, "ODEDENSE");
          EXPECT_EQ(reports[0].message, "A memory request failed.");
          EXPECT_EQ(mem->lsMemory, nullptr);
          EXPECT_EQ(mem->lsSetup, nullptr);
          EXPECT_EQ(mem->lsSolve, nullptr);
          EXPECT_EQ(mem->lsFree, nullptr);
          EXPECT_EQ(OdeSolve(mem, 1.0, y, &tret, ODE_NORMAL), ODE_ILL_INPUT);
        } else {
          EXPECT_EQ(OdeSolve(mem, 1.0, y, &tret, ODE_NORMAL), ODE_SUCCESS);
          EXPECT_NEAR(data(y)[0], std::cos(1.0), 1e-4);
          char *text = OdeFlagText(ODE_TOO_CLOSE);
          if (text != nullptr) {
            EXPECT_STREQ(text, "ODE_TOO_CLOSE");
            std::free(text);
            completed = true;
          }
        }
      }
    }
    if (!completed) ++failuresSeen;
    OdeDestroy(&mem);
    OdeVecDispose(y);
  }
  EXPECT_TRUE(completed);
  // Vector, record, eleven vectors of OdeInit, six root arrays, the dense
  // solver's parts and the flag text each failed once.
  EXPECT_GT(failuresSeen, 40);
}
