// FMU states through the loaded unit: save, change, restore and release in
// Model Exchange and Co-Simulation, the refusals, and allocation failures.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using namespace e2e;

// Everything a restore must give back, read through the host interface.
struct Snapshot {
  std::vector<double> values; // time, level state, the parameters, the input, der, outputs
  bool operator==(const Snapshot &o) const { return values == o.values; }
};

const std::vector<fmi2ValueReference> kSnapshotRefs = {vrTime,        vrState,        vrVornSurface,
                                                       vrHoleSurface, vrInitialLevel, vrInputRate,
                                                       vrDerivative,  vrLevel,        vrOutflow};

class StateTest : public UnitTest {
protected:
  void TearDown() override {
    for (fmi2FMUstate &s : states_) {
      if (s != nullptr) {
        EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &s), fmi2OK);
      }
    }
    UnitTest::TearDown();
  }
  Snapshot snapshot() {
    Snapshot s;
    s.values.resize(kSnapshotRefs.size(), NAN);
    EXPECT_EQ(fmi().fmi2GetReal(c_, kSnapshotRefs.data(), kSnapshotRefs.size(), s.values.data()),
              fmi2OK)
        << host_.dump();
    return s;
  }
  void setReal(fmi2ValueReference vr, double v) {
    ASSERT_EQ(fmi().fmi2SetReal(c_, &vr, 1, &v), fmi2OK) << host_.dump();
  }
  // Moves the Model Exchange instance to time t with state x.
  void moveTo(double t, double x) {
    ASSERT_EQ(fmi().fmi2SetTime(c_, t), fmi2OK);
    ASSERT_EQ(fmi().fmi2SetContinuousStates(c_, &x, 1), fmi2OK);
  }
  fmi2FMUstate &newState() { return states_.emplace_back(nullptr); }

  std::deque<fmi2FMUstate> states_; // references stay valid as it grows
};

TEST_F(StateTest, RestoreGivesBackTimeStatesParametersAndDerivatives) {
  continuousTime();
  moveTo(0.5, 2.5);
  setReal(vrInputRate, 0.25);
  const Snapshot saved = snapshot();
  fmi2FMUstate &state = newState();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK) << host_.dump();
  ASSERT_NE(state, nullptr);

  moveTo(0.75, 1.0);
  setReal(vrInputRate, 3.0);
  double d = NAN;
  ASSERT_EQ(fmi().fmi2GetDerivatives(c_, &d, 1), fmi2OK);
  ASSERT_NE(snapshot(), saved);

  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2OK) << host_.dump();
  EXPECT_EQ(snapshot(), saved);
  ASSERT_EQ(fmi().fmi2GetDerivatives(c_, &d, 1), fmi2OK);
  EXPECT_EQ(d, (0.25 - 0.1 * std::sqrt(19.62 * 2.5)) / 2.0);
  EXPECT_TRUE(host_.hasMessage("fmi2SetFMUstate", fmi2OK));
}

TEST_F(StateTest, RestoreBringsBackTheInstanceState) {
  continuousTime();
  fmi2FMUstate &state = newState();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterEventMode(c_), fmi2OK); // state 3
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2OK);
  // Continuous-time mode again: event mode may be entered once more.
  EXPECT_EQ(fmi().fmi2EnterEventMode(c_), fmi2OK) << host_.dump();
}

TEST_F(StateTest, ParameterChangeInInitializationModeIsUndone) {
  // A state saved before initialization, restored after a parameter change.
  instantiate();
  fmi2FMUstate &state = newState();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK);
  setReal(vrInitialLevel, 5.0);
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2OK);
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  EXPECT_EQ(real(vrLevel), 3.0);
}

TEST_F(StateTest, SecondSaveOverwritesTheRecordInPlace) {
  continuousTime();
  fmi2FMUstate &state = newState();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK);
  const fmi2FMUstate first = state;
  moveTo(1.0, 2.0);
  const Snapshot later = snapshot();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK);
  EXPECT_EQ(state, first);
  moveTo(2.0, 1.0);
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2OK);
  EXPECT_EQ(snapshot(), later);
}

TEST_F(StateTest, NullArgumentsAreRefused) {
  continuousTime();
  host_.clearMessages();
  fmi2FMUstate none = nullptr;
  EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &none), fmi2OK);
  EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, nullptr), fmi2OK);
  EXPECT_TRUE(host_.messages().empty()) << host_.dump();

  EXPECT_EQ(fmi().fmi2SetFMUstate(c_, nullptr), fmi2Error);
  EXPECT_EQ(last().message, "fmi2SetFMUstate: FMUstate == NULL");
  EXPECT_EQ(last().status, fmi2Error);
  EXPECT_EQ(fmi().fmi2GetFMUstate(c_, nullptr), fmi2Error);
  EXPECT_EQ(last().status, fmi2Error);
}

TEST_F(StateTest, FreeReleasesEveryBlock) {
  continuousTime();
  const size_t before = fmihost::liveBlocks();
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK);
  EXPECT_GT(fmihost::liveBlocks(), before);
  host_.clearMessages();
  EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &state), fmi2OK);
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(fmihost::liveBlocks(), before);
  EXPECT_EQ(last().message, "fmi2FreeFMUstate");
}

// Every allocation of a save, made to fail in turn: the save reports it,
// frees what it created and leaves the instance running; nothing leaks.
TEST_F(StateTest, FailedSaveFreesItsRecord) {
  for (size_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 100u);
    continuousTime();
    host_.clearMessages();
    const size_t before = fmihost::liveBlocks();
    fmi2FMUstate state = nullptr;
    fmihost::failAllocation(n);
    const fmi2Status status = fmi().fmi2GetFMUstate(c_, &state);
    fmihost::failAllocation(0);
    if (status == fmi2OK) {
      EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &state), fmi2OK);
      free();
      break;
    }
    EXPECT_EQ(status, fmi2Error);
    EXPECT_EQ(state, nullptr);
    EXPECT_TRUE(host_.hasMessage("memory allocation failed", fmi2Error)) << host_.dump();
    EXPECT_EQ(fmihost::liveBlocks(), before);
    EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK); // still running
    free();
  }
}

// ---- Co-Simulation ----------------------------------------------------------

// The integrator goes with termination, so every instance is terminated
// before it is freed.
class CoSimStateTest : public StateTest {
protected:
  void TearDown() override {
    if (c_ != nullptr) (void)fmi().fmi2Terminate(c_);
    StateTest::TearDown();
  }
  void startCoSim() {
    instantiate(fmi2CoSimulation);
    ASSERT_NE(c_, nullptr);
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
  }
  // Steps of 0.25 from..to; the levels at the communication points.
  std::vector<double> run(double from, double to) {
    std::vector<double> levels;
    for (double t = from; t < to - 1e-12; t += 0.25) {
      EXPECT_EQ(fmi().fmi2DoStep(c_, t, 0.25, fmi2True), fmi2OK) << host_.dump();
      levels.push_back(real(vrLevel));
    }
    return levels;
  }
};

TEST_F(CoSimStateTest, RunSetBackToOneContinuesAlike) {
  startCoSim();
  run(0.0, 1.0);
  fmi2FMUstate &state = newState();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK) << host_.dump();
  const std::vector<double> first = run(1.0, 2.0);
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2OK) << host_.dump();
  EXPECT_EQ(real(vrTime), 1.0);
  const std::vector<double> again = run(1.0, 2.0);
  // The restore restarts the integrator at t = 1 (its step history is not
  // part of a state), so the two runs agree within the integration error.
  ASSERT_EQ(again.size(), first.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_NEAR(again[i], first[i], 1e-4 * first[i]) << i;
  }
  // Every run that starts from the restored state is the same to the bit.
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2OK);
  EXPECT_EQ(run(1.0, 2.0), again);
  // The exact level at t = 2 with inputRate 0: sqrt(level) falls linearly.
  const double root = std::sqrt(3.0) - 0.1 * std::sqrt(19.62) / (2.0 * 2.0) * 2.0;
  EXPECT_NEAR(again.back(), root * root, 1e-3);
}

TEST_F(CoSimStateTest, RestoreAfterResetBuildsTheIntegrator) {
  startCoSim();
  run(0.0, 1.0);
  fmi2FMUstate &state = newState();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK);
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2OK);
  const std::vector<double> expected = run(1.0, 2.0);

  ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK) << host_.dump(); // integrator released
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2OK) << host_.dump();
  EXPECT_EQ(run(1.0, 2.0), expected);
}

TEST_F(CoSimStateTest, RestoreBeforeInitializationLeavesNoIntegrator) {
  instantiate(fmi2CoSimulation);
  fmi2FMUstate &initial = newState();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &initial), fmi2OK);
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  run(0.0, 0.5);
  // Back to the instantiated state: the integrator goes, initialization
  // makes a new one.
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, initial), fmi2OK) << host_.dump();
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  EXPECT_EQ(run(0.0, 0.5).size(), 2u);
  // An instantiated instance holds no integrator: freed without
  // termination, nothing is left behind (checked by the fixture).
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, initial), fmi2OK);
  EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &initial), fmi2OK);
  free();
}

// A save into an existing record that fails half-way leaves the record
// with the host but unusable: restoring it is refused.
TEST_F(CoSimStateTest, RecordOfAFailedSaveIsRefused) {
  instantiate(fmi2CoSimulation);
  fmi2FMUstate &state = newState();
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2OK); // no integrator data yet
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  run(0.0, 0.5);
  const fmi2FMUstate record = state;
  fmihost::failAllocation(1); // the integrator data of the record
  EXPECT_EQ(fmi().fmi2GetFMUstate(c_, &state), fmi2Error);
  fmihost::failAllocation(0);
  EXPECT_EQ(state, record);
  EXPECT_TRUE(host_.hasMessage("fmi2GetFMUstate failed", fmi2Error)) << host_.dump();
  host_.clearMessages();
  EXPECT_EQ(fmi().fmi2SetFMUstate(c_, state), fmi2Error);
  EXPECT_EQ(last().message, "fmi2SetFMUstate: FMUstate is not valid");
  size_t size = 0;
  EXPECT_EQ(fmi().fmi2SerializedFMUstateSize(c_, state, &size), fmi2Error);
  std::vector<fmi2Byte> image(16);
  EXPECT_EQ(fmi().fmi2SerializeFMUstate(c_, state, image.data(), image.size()), fmi2Error);
  EXPECT_EQ(last().message, "fmi2SerializeFMUstate: FMUstate is not valid");
}

TEST_F(CoSimStateTest, FailedSaveFreesItsRecord) {
  for (size_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 100u);
    startCoSim();
    run(0.0, 0.5);
    const size_t before = fmihost::liveBlocks();
    fmi2FMUstate state = nullptr;
    fmihost::failAllocation(n);
    const fmi2Status status = fmi().fmi2GetFMUstate(c_, &state);
    fmihost::failAllocation(0);
    if (status == fmi2OK) {
      EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &state), fmi2OK);
      EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK);
      free();
      break;
    }
    EXPECT_EQ(status, fmi2Error);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(fmihost::liveBlocks(), before);
    // Still running: the next step is taken.
    EXPECT_EQ(fmi().fmi2DoStep(c_, 0.5, 0.25, fmi2True), fmi2OK) << host_.dump();
    EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK);
    free();
  }
}

} // namespace
