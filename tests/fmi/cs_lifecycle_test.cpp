// Life cycle of a Co-Simulation instance through the shared library:
// instantiation, initialization with its integrator set-up (and its failure),
// the statistics report at terminate, reset and a second run, and release
// without terminate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "tests/fmi/cs_support.h"

namespace {

using cs::CoSimTest;
using e2e::fmi;

// The value after "label: " on the line of the report that holds label.
std::string field(const std::string &report, const std::string &label) {
  const std::size_t at = report.find(label);
  if (at == std::string::npos) return "<missing>";
  const std::size_t start = report.find(": ", at) + 2;
  return report.substr(start, report.find('\n', start) - start);
}

TEST_F(CoSimTest, TerminateReportsTheIntegratorStatistics) {
  ready();
  double t = 0.0;
  for (int i = 0; i < 10; ++i, t += 0.1) ASSERT_EQ(fmi().fmi2DoStep(c_, t, 0.1, fmi2True), fmi2OK);
  host_.clearMessages();
  terminate();
  std::string report;
  std::string rejected;
  for (const auto &m : host_.messages()) {
    if (m.message.rfind("Integrator Statistics\n", 0) == 0) report = m.message;
    if (m.message.rfind("Rejected count\n", 0) == 0) rejected = m.message;
    if (!report.empty() || !rejected.empty()) {
      EXPECT_EQ(m.status, fmi2OK);
    }
  }
  ASSERT_FALSE(report.empty()) << host_.dump();
  EXPECT_NE(report.find("\n    Stop time                                : 1.00 s\n"),
            std::string::npos);
  EXPECT_EQ(field(report, "Number of external steps"), "10");
  // One continuous integration: a few dozen steps, not one restart per point.
  const int steps = std::atoi(field(report, "Number of internal steps").c_str());
  EXPECT_GT(steps, 0);
  EXPECT_LT(steps, 60);
  EXPECT_GT(std::atoi(field(report, "Number of f function evaluations").c_str()), steps);
  EXPECT_EQ(field(report, "Grouping used"), "no");
  const double seconds = std::atof(field(report, "Simulation time").c_str());
  EXPECT_GE(seconds, 0.0);
  EXPECT_LT(seconds, 10.0);
  EXPECT_EQ(report.substr(report.size() - 2), "\n\n");
  ASSERT_FALSE(rejected.empty());
  EXPECT_EQ(field(rejected, "Number of external steps"), "0");
  EXPECT_EQ(rejected.substr(rejected.size() - 2), "\n\n");
  // A second terminate is refused.
  EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2Warning);
}

TEST_F(CoSimTest, ResetAndInitializeAgainRunsASecondSimulation) {
  // Terminated straight from initialization mode: the integrator set up at
  // its entry is released.
  instantiate(fmi2CoSimulation);
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  terminate();
  ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK);
  // A simulation terminated after some steps.
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 2.0, fmi2True), fmi2OK);
  terminate();
  ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
    ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK) << host_.dump();
    EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(1.0), 1e-4 * cs::exactLevel(1.0));
    // Reset from a running simulation terminates it first.
    ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK);
  }
}

// Terminate right after instantiation, or after a reset, has no simulation
// to end: no terminal section, fmi2OK, and the instance runs normally after
// a reset.
TEST_F(CoSimTest, TerminateOfAnInstanceNotInitialized) {
  for (bool afterReset : {false, true}) {
    SCOPED_TRACE(afterReset ? "after reset" : "right after instantiation");
    if (afterReset) {
      ready();
      ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK);
      ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK);
    } else {
      instantiate(fmi2CoSimulation);
    }
    terminate();
    EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2Warning);
    ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
    ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK) << host_.dump();
    EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(1.0), 1e-4 * cs::exactLevel(1.0));
    terminate();
    free();
  }
}

TEST_F(CoSimTest, FreeWithoutTerminateReleasesTheIntegrator) {
  ready();
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK);
  free(); // the fixture checks that every block went back
}

TEST_F(CoSimTest, StepFinishedCallbackDrawsAWarning) {
  fmihost::HostCallbacks withStepFinished(true);
  fmi2Component c = fmi().fmi2Instantiate("tank", fmi2CoSimulation, FMI_MODEL_GUID, nullptr,
                                          &withStepFinished.functions(), fmi2False, fmi2True);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(withStepFinished.hasMessage(
      "fmi2Instantiate: Callback function stepFinished != NULL but asynchronous fmiDoStep is not "
      "supported",
      fmi2Warning));
  fmi().fmi2FreeInstance(c);
  EXPECT_TRUE(withStepFinished.stepFinishedCalls().empty());
}

// Every host allocation of the integrator set-up failing in turn: the
// set-up reports the failure and leaves nothing behind.
TEST_F(CoSimTest, FailedIntegratorSetUpReleasesEverything) {
  for (std::size_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 50u);
    instantiate(fmi2CoSimulation);
    ASSERT_NE(c_, nullptr);
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    const std::size_t live = fmihost::liveBlocks();
    fmihost::failAllocation(n);
    const fmi2Status status = fmi().fmi2EnterInitializationMode(c_);
    fmihost::failAllocation(0);
    if (status == fmi2OK) {
      ASSERT_GT(n, 1u);
      terminate();
      break;
    }
    EXPECT_EQ(status, fmi2Fatal);
    EXPECT_TRUE(hasExactly("fmi2EnterInitializationMode: integrator set-up failed", fmi2Fatal))
        << host_.dump();
    EXPECT_EQ(fmihost::liveBlocks(), live);
    free();
    host_.clearMessages();
  }
}

} // namespace
