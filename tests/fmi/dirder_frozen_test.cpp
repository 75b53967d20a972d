// fmi2GetDirectionalDerivative where the instance's values are frozen: after
// fmi2Terminate, after a Co-Simulation step that failed, after the model
// ended the run.  The call returns the derivative at the point where the
// instance ended, or refuses with a status above fmi2Warning; it never
// reports values it did not compute, and it leaves the FMU-state image as
// it found it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fmi/cs_support.h"
#include "tests/fmi/state_image_layout.h"

namespace {

using cs::fmi;
using namespace e2e;

// How the instance reaches the end.
enum class End {
  TerminateModelExchange,  // initialized with the defaults, then fmi2Terminate
  TerminateCoSimulation,   // one step of 1 s, then fmi2Terminate
  FailedStep,              // Co-Simulation: vornSurface 0, then a step that fails
  ModelEndedRun,           // Model Exchange in continuous time, terminated by the model
  ModelEndedRunTerminated, // the same, then fmi2Terminate
};

struct Case {
  const char *name;
  End end;
};

// The derivatives of {der(level), outflow} along inputRate and along
// holeSurface, in that order.
struct Derivatives {
  fmi2Status status[2] = {fmi2Fatal, fmi2Fatal};
  double values[2][2] = {};
};

class FrozenDerivativeTest : public cs::CoSimTest {
protected:
  Derivatives derivatives() {
    Derivatives d;
    const fmi2ValueReference unknowns[] = {vrDerivative, vrOutflow};
    const fmi2ValueReference knowns[] = {vrInputRate, vrHoleSurface};
    const double seed = 1.0;
    for (int k = 0; k < 2; ++k) {
      d.status[k] =
          fmi().fmi2GetDirectionalDerivative(c_, unknowns, 2, &knowns[k], 1, &seed, d.values[k]);
    }
    return d;
  }

  // Model Exchange in continuous-time mode whose image says that the model
  // ended the run.
  void modelEndsRun() {
    continuousTime();
    std::vector<fmi2Byte> bytes = image();
    const int32_t terminated = 1;
    std::memcpy(&bytes[fmitest::kComputedLevelOffset + 8], &terminated, sizeof terminated);
    fmi2FMUstate s = nullptr;
    ASSERT_EQ(fmi().fmi2DeSerializeFMUstate(c_, bytes.data(), bytes.size(), &s), fmi2OK)
        << host_.dump();
    ASSERT_EQ(fmi().fmi2SetFMUstate(c_, s), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi().fmi2FreeFMUstate(c_, &s), fmi2OK);
    fmi2Boolean enterEventMode = fmi2False;
    fmi2Boolean terminate = fmi2False;
    ASSERT_EQ(fmi().fmi2CompletedIntegratorStep(c_, fmi2True, &enterEventMode, &terminate), fmi2OK);
    ASSERT_EQ(terminate, fmi2True);
  }

  // Brings the instance to the point before its end; returns the
  // derivatives taken there.
  Derivatives beforeTheEnd(End end) {
    switch (end) {
    case End::TerminateModelExchange:
      initialized();
      break;
    case End::TerminateCoSimulation:
    case End::FailedStep:
      ready();
      EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK) << host_.dump();
      break;
    case End::ModelEndedRun:
    case End::ModelEndedRunTerminated:
      continuousTime();
      break;
    }
    return derivatives();
  }

  void reachTheEnd(End end) {
    switch (end) {
    case End::TerminateModelExchange:
    case End::TerminateCoSimulation:
      terminate();
      break;
    case End::FailedStep: {
      const fmi2ValueReference vr = vrVornSurface;
      const double zero = 0.0;
      ASSERT_EQ(fmi().fmi2SetReal(c_, &vr, 1, &zero), fmi2OK);
      ASSERT_EQ(fmi().fmi2DoStep(c_, 1.0, 1.0, fmi2True), fmi2Error);
      break;
    }
    case End::ModelEndedRun:
      free();
      modelEndsRun();
      break;
    case End::ModelEndedRunTerminated:
      free();
      modelEndsRun();
      terminate();
      break;
    }
  }
};

TEST_F(FrozenDerivativeTest, DerivativeAfterTheEndIsThatBeforeItOrRefused) {
  const Case cases[] = {
      {"Model Exchange, terminated", End::TerminateModelExchange},
      {"Co-Simulation, terminated", End::TerminateCoSimulation},
      {"Co-Simulation, after a failed step", End::FailedStep},
      {"Model Exchange, run ended by the model", End::ModelEndedRun},
      {"Model Exchange, run ended by the model, terminated", End::ModelEndedRunTerminated},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    const Derivatives before = beforeTheEnd(k.end);
    ASSERT_EQ(before.status[0], fmi2OK) << host_.dump();
    ASSERT_EQ(before.status[1], fmi2OK) << host_.dump();
    // der(level) along inputRate is 1/vornSurface.
    ASSERT_NEAR(before.values[0][0], 0.5, 1e-6);
    reachTheEnd(k.end);
    ASSERT_FALSE(HasFatalFailure());

    const std::vector<fmi2Byte> imageBefore = image();
    const Derivatives after = derivatives();
    EXPECT_TRUE(image() == imageBefore) << "the call changed the instance";
    for (int known = 0; known < 2; ++known) {
      SCOPED_TRACE(known == 0 ? "along inputRate" : "along holeSurface");
      if (after.status[known] != fmi2OK) {
        EXPECT_GT(after.status[known], fmi2Warning);
        continue;
      }
      for (int i = 0; i < 2; ++i) {
        const double expected = before.values[known][i];
        EXPECT_NEAR(after.values[known][i], expected, 1e-5 * std::fabs(expected) + 1e-12)
            << (i == 0 ? "der(level)" : "outflow");
      }
    }
    // A second call finds the same.
    const Derivatives again = derivatives();
    EXPECT_EQ(std::memcmp(&again, &after, sizeof again), 0);
    EXPECT_TRUE(image() == imageBefore);
    free();
  }
}

} // namespace
