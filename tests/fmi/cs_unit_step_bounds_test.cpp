// The Co-Simulation step returns whatever the instance record holds: values
// that deserialization refuses (tests/fmi/hostile_input_test.cpp) are put
// into the record directly here, and every fmi2DoStep ends, with fmi2OK
// when it can step and with fmi2Error and a message when it cannot.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "fmi/fmiInstance.h"
#include "model/ModelInstanceData.h"
#include "model/model_data.h"
#include "tests/support/fmi_host.h"

namespace {

class StepBounds : public ::testing::Test {
protected:
  void SetUp() override {
    c_ = static_cast<fmiInstance *>(fmi2Instantiate("bounds", fmi2CoSimulation, FMI_MODEL_GUID,
                                                    nullptr, &host_.functions(), fmi2False,
                                                    fmi2True));
    ASSERT_NE(c_, nullptr);
    ASSERT_EQ(fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK) << host_.dump();
    host_.clearMessages();
  }
  void TearDown() override {
    (void)fmi2Terminate(c_);
    fmi2FreeInstance(c_);
  }
  bool logged(const std::string &text, fmi2Status status) const {
    for (const auto &m : host_.messages()) {
      if (m.message == text && m.status == status) return true;
    }
    return false;
  }
  double level() {
    const fmi2ValueReference vr = 0x14000000;
    double v = NAN;
    EXPECT_EQ(fmi2GetReal(c_, &vr, 1, &v), fmi2OK);
    return v;
  }

  fmihost::HostCallbacks host_;
  fmiInstance *c_ = nullptr;
};

// An output time behind the instance time is no target: the step integrates
// forward to its end (it used to integrate backwards for ever).
TEST_F(StepBounds, OutputTimeBehindTheTimeIsNoTarget) {
  c_->nextOutputTime = 0.25;
  ASSERT_EQ(fmi2DoStep(c_, 0.5, 0.5, fmi2True), fmi2OK) << host_.dump();
  EXPECT_EQ(c_->time, 1.0);
  const double exact = std::pow(std::sqrt(3.0) - 0.1 * std::sqrt(19.62) / 4.0, 2.0);
  EXPECT_NEAR(level(), exact, 1e-4 * exact);
}

// A time event behind the instance time is handled where the time is; the
// time never goes back.
TEST_F(StepBounds, EventBehindTheTimeIsHandledInPlace) {
  c_->duser[kDuserNextTimeEvent] = 0.25;
  ASSERT_EQ(fmi2DoStep(c_, 0.5, 0.5, fmi2True), fmi2OK) << host_.dump();
  EXPECT_EQ(c_->time, 1.0);
  for (const auto &m : host_.messages()) {
    EXPECT_NE(m.message, "fmi2SetTime to 0.25") << host_.dump();
  }
}

// Inline integration with a grid step that is not a positive number is
// refused; a step counter so large that the next grid point no longer
// differs ends the step.
TEST_F(StepBounds, InlineGridsEnd) {
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double fixedStep;
    uint64_t counter;
    const char *message;
  };
  const Case cases[] = {
      {0.0, 0, "fmi2DoStep: invalid fixed step size DUSER[0] = 0, ignoring call"},
      {-0.1, 0, "fmi2DoStep: invalid fixed step size DUSER[0] = -0.1, ignoring call"},
      {kNaN, 0, "fmi2DoStep: invalid fixed step size DUSER[0] = nan, ignoring call"},
      {0.1, std::numeric_limits<uint64_t>::max(),
       "fmi2DoStep: time does not advance beyond t = 5.0000000000000000e-01, step abandoned"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.message);
    TearDown();
    SetUp();
    c_->iuser[kIuserInlineSetting] = 1;
    c_->duser[kDuserFixedStep] = k.fixedStep;
    c_->inlineStepCount = k.counter;
    EXPECT_EQ(fmi2DoStep(c_, 0.5, 0.5, fmi2True), fmi2Error);
    EXPECT_TRUE(logged(k.message, fmi2Error)) << host_.dump();
  }
  // A sound grid steps.
  TearDown();
  SetUp();
  c_->iuser[kIuserInlineSetting] = 1;
  c_->duser[kDuserFixedStep] = 0.125;
  c_->inlineStepCount = 4;
  ASSERT_EQ(fmi2DoStep(c_, 0.5, 0.5, fmi2True), fmi2OK) << host_.dump();
  EXPECT_EQ(c_->inlineStepCount, 8u);
  EXPECT_EQ(c_->time, 1.0);
}

} // namespace
