// The integrator's own reports inside the unit.  Before the layer installs
// its error handler (late in the set-up) and whenever it has no integrator
// memory, the integrator would write to standard error; inside the unit
// those reports reach the logger of the export under way, with its name,
// and nothing reaches file descriptors 1 and 2.  Every allocation of the
// integrator during the set-up is made to fail in turn; each failure is
// reported with the flag that means it (an allocation failure of the dense
// linear solver is ODE_MEM_FAIL, not the integrator's ODE_CONV_FAILURE of
// the same number).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "fmi/fmi2.h"
#include "integrator/ode_impl.h"
#include "model/model_data.h"
#include "tests/fmi/captured_streams.h"
#include "tests/support/fmi_host.h"

namespace {

int integratorAllocations = 0;
int failingAllocation = 0;

void *failingAlloc(std::size_t size) {
  return ++integratorAllocations == failingAllocation ? nullptr : std::malloc(size);
}

// The n-th allocation of the integrator from now on fails (once).
class FailingIntegratorAllocation {
public:
  explicit FailingIntegratorAllocation(int n) {
    integratorAllocations = 0;
    failingAllocation = n;
    odeAllocHook = failingAlloc;
  }
  ~FailingIntegratorAllocation() { odeAllocHook = std::malloc; }
  FailingIntegratorAllocation(const FailingIntegratorAllocation &) = delete;
  FailingIntegratorAllocation &operator=(const FailingIntegratorAllocation &) = delete;
  bool failed() const { return integratorAllocations >= failingAllocation; }
};

bool logged(const fmihost::HostCallbacks &host, const std::string &text, fmi2Status status) {
  const auto m = host.messages();
  return std::any_of(m.begin(), m.end(), [&](const fmihost::LogRecord &r) {
    return r.message == text && r.status == status;
  });
}

TEST(IntegratorReports, SetUpFailuresReachTheLoggerAndNeverTheStreams) {
  const size_t liveBefore = fmihost::liveBlocks();
  int failures = 0;
  bool denseSolverFailed = false;
  bool memoryCreationFailed = false;
  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 1000);
    fmihost::HostCallbacks host;
    fmi2Component c = fmi2Instantiate("reports", fmi2CoSimulation, FMI_MODEL_GUID, nullptr,
                                      &host.functions(), fmi2False, fmi2False);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    fmi2Status status = fmi2OK;
    bool failed = false;
    std::string captured;
    {
      fmitest::CapturedStreams streams;
      FailingIntegratorAllocation failing(n);
      status = fmi2EnterInitializationMode(c);
      failed = failing.failed();
      captured = streams.release();
    }
    EXPECT_EQ(captured, "");
    if (!failed) {
      EXPECT_EQ(status, fmi2OK) << host.dump();
      EXPECT_EQ(fmi2ExitInitializationMode(c), fmi2OK);
      EXPECT_EQ(fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK) << host.dump();
      EXPECT_EQ(fmi2Terminate(c), fmi2OK);
      fmi2FreeInstance(c);
      break;
    }
    ++failures;
    EXPECT_EQ(status, fmi2Fatal) << host.dump();
    EXPECT_TRUE(logged(host, "fmi2EnterInitializationMode: integrator set-up failed", fmi2Fatal))
        << host.dump();
    for (const auto &m : host.messages()) {
      EXPECT_EQ(m.message.find("ODE_CONV_FAILURE"), std::string::npos) << m.message;
    }
    if (logged(host, "INTEGRATOR_ERROR: OdeDense() failed with flag = ODE_MEM_FAIL", fmi2Error)) {
      denseSolverFailed = true;
      EXPECT_TRUE(logged(host,
                         "fmi2EnterInitializationMode: [ODEDENSE ERROR]  OdeDense\n"
                         "  A memory request failed.",
                         fmi2Warning))
          << host.dump();
    }
    if (logged(host, "INTEGRATOR_ERROR: OdeCreate() failed - returned NULL pointer", fmi2Error)) {
      memoryCreationFailed = true;
      EXPECT_TRUE(logged(host,
                         "fmi2EnterInitializationMode: [ODE ERROR]  OdeCreate\n"
                         "  Allocation of ode_mem failed.",
                         fmi2Warning))
          << host.dump();
    }
    fmi2FreeInstance(c);
  }
  EXPECT_GT(failures, 5);
  EXPECT_TRUE(denseSolverFailed);
  EXPECT_TRUE(memoryCreationFailed);
  EXPECT_EQ(fmihost::liveBlocks(), liveBefore);
}

} // namespace
