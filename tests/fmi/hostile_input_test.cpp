// Hostile input through the loaded unit: FMU-state images whose values would
// steer an instance where no call can bring it, communication steps at the
// edges of the double range, and arguments that are not finite numbers.
// Every call returns (a hang shows as the test's timeout), refuses what it
// cannot do with a message, and leaves the instance usable.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "tests/fmi/cs_support.h"
#include "tests/fmi/state_image_layout.h"

namespace {

using cs::fmi;
using Bytes = std::vector<fmi2Byte>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using namespace fmitest;

template <typename T> void patch(Bytes &image, size_t at, T value) {
  std::memcpy(image.data() + at, &value, sizeof value);
}
template <typename T> T read(const Bytes &image, size_t at) {
  T value{};
  std::memcpy(&value, image.data() + at, sizeof value);
  return value;
}

class HostileInput : public cs::CoSimTest {};

// ---- FMU-state images --------------------------------------------------------------

// Images taken by the unit itself, in every state of both kinds, are
// accepted back: the checks refuse only what the unit cannot reach.
TEST_F(HostileInput, ImagesOfEveryStateAreAccepted) {
  for (const fmi2Type kind : {fmi2ModelExchange, fmi2CoSimulation}) {
    free();
    instantiate(kind);
    ASSERT_NE(c_, nullptr);
    std::vector<Bytes> images;
    images.push_back(image());
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 2.0, fmi2False, 0.0), fmi2OK);
    images.push_back(image());
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
    images.push_back(image());
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
    images.push_back(image());
    if (kind == fmi2CoSimulation) {
      ASSERT_EQ(fmi().fmi2DoStep(c_, 2.0, 0.5, fmi2True), fmi2OK);
    } else {
      fmi2EventInfo info{};
      ASSERT_EQ(fmi().fmi2NewDiscreteStates(c_, &info), fmi2OK);
      ASSERT_EQ(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK);
      ASSERT_EQ(fmi().fmi2SetTime(c_, 2.5), fmi2OK);
    }
    images.push_back(image());
    ASSERT_EQ(fmi().fmi2Terminate(c_), fmi2OK);
    images.push_back(image());
    for (size_t k = 0; k < images.size(); ++k) {
      SCOPED_TRACE(std::string(kind == fmi2CoSimulation ? "Co-Simulation" : "Model Exchange") +
                   ", image " + std::to_string(k));
      fmi2FMUstate s = nullptr;
      EXPECT_EQ(fmi().fmi2DeSerializeFMUstate(c_, images[k].data(), images[k].size(), &s), fmi2OK)
          << host_.dump();
      EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &s), fmi2OK);
    }
  }
}

// Images with values the unit never gives a state, among them the two that
// made the next fmi2DoStep loop for ever (inline integration with a fixed
// step of 0; the next output time behind the state's time): each is refused
// with an error and the message of the failing unpack, changes nothing, and
// the instance steps on.
TEST_F(HostileInput, ImagesThatWouldSteerTheInstanceAstrayAreRefused) {
  ready();
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK);
  const Bytes good = image();
  ASSERT_EQ(read<double>(good, kTimeOffset), 0.5);
  ASSERT_EQ(read<double>(good, kNextOutputOffset), 1e100);
  ASSERT_EQ(read<int32_t>(good, kIuserOffset + 4 * 5), 0);
  ASSERT_EQ(read<uint32_t>(good, kBlockOffset - 4), sizeof(ModelInstanceData));

  const auto patched = [&](const std::function<void(Bytes &)> &change) {
    Bytes b = good;
    change(b);
    return b;
  };
  struct Case {
    const char *what;
    Bytes image;
  };
  const Case cases[] = {
      {"inline integration with a fixed step of 0", patched([](Bytes &b) {
         patch<int32_t>(b, kIuserOffset + 4 * 5, 1);
         patch<double>(b, kDuserOffset, 0.0);
       })},
      {"inline integration with a fixed step of 0.1", patched([](Bytes &b) {
         patch<int32_t>(b, kIuserOffset + 4 * 5, 1);
         patch<double>(b, kDuserOffset, 0.1);
       })},
      {"next output time behind the time",
       patched([](Bytes &b) { patch(b, kNextOutputOffset, -0.5); })},
      {"next output time not a number",
       patched([](Bytes &b) { patch(b, kNextOutputOffset, kNaN); })},
      {"next time event behind the time",
       patched([](Bytes &b) { patch(b, kDuserOffset + 16, 0.25); })},
      {"next time event infinite", patched([](Bytes &b) { patch(b, kDuserOffset + 16, kInf); })},
      {"time not a number", patched([](Bytes &b) { patch(b, kTimeOffset, kNaN); })},
      {"time infinite", patched([](Bytes &b) { patch(b, kTimeOffset, -kInf); })},
      {"tolerance not a number", patched([](Bytes &b) { patch(b, kToleranceOffset, kNaN); })},
      {"output interval not a number",
       patched([](Bytes &b) { patch(b, kDuserOffset + 32, kNaN); })},
      {"inline step counter without inline integration",
       patched([](Bytes &b) { patch<uint64_t>(b, kStepCountOffset, 7); })},
      {"computed level 99", patched([](Bytes &b) { patch<int32_t>(b, kComputedLevelOffset, 99); })},
      {"values-changed flag 2",
       patched([](Bytes &b) { patch<int32_t>(b, kValuesChangedOffset, 2); })},
      {"more profiling entries in use than the table holds", patched([](Bytes &b) {
         patch<int32_t>(b, kBlockOffset + offsetof(ModelInstanceData, profileBlockCount), 1000);
       })},
      {"homotopy under way with a parameter of minus infinity", patched([](Bytes &b) {
         patch<int32_t>(b, kBlockOffset + offsetof(ModelInstanceData, inHomotopy), 1);
         patch<double>(b, kBlockOffset + offsetof(ModelInstanceData, lambda), -kInf);
       })},
      {"homotopy under way with a negative step", patched([](Bytes &b) {
         patch<int32_t>(b, kBlockOffset + offsetof(ModelInstanceData, inHomotopy), 1);
         patch<double>(b, kBlockOffset + offsetof(ModelInstanceData, lambda), 0.0);
         patch<double>(b, kBlockOffset + offsetof(ModelInstanceData, lambdaStep), -0.1);
       })},
      {"homotopy step too small to end", patched([](Bytes &b) {
         patch<double>(b, kBlockOffset + offsetof(ModelInstanceData, lambdaStep), 1e-300);
       })},
      {"homotopy flag 63", patched([](Bytes &b) {
         patch<int32_t>(b, kBlockOffset + offsetof(ModelInstanceData, inHomotopy), 63);
       })},
  };
  fmi2FMUstate kept = nullptr;
  ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &kept), fmi2OK);
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    host_.clearMessages();
    fmi2FMUstate s = nullptr;
    EXPECT_EQ(fmi().fmi2DeSerializeFMUstate(c_, k.image.data(), k.image.size(), &s), fmi2Error);
    EXPECT_EQ(s, nullptr);
    EXPECT_TRUE(hasExactly("fmi2SerializeFMUstate: bim_unpack failed", fmi2Error)) << host_.dump();
    fmi2FMUstate into = kept;
    EXPECT_EQ(fmi().fmi2DeSerializeFMUstate(c_, k.image.data(), k.image.size(), &into), fmi2Error);
    EXPECT_EQ(into, kept);
  }
  // The record kept its content and the instance is where it was.
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, kept), fmi2OK) << host_.dump();
  EXPECT_EQ(image(), good);
  EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &kept), fmi2OK);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.5, 0.5, fmi2True), fmi2OK) << host_.dump();
  EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(1.0), 1e-4 * cs::exactLevel(1.0));
  terminate();
}

// ---- Communication steps at the edges of the double range -----------------------------

// Steps that never returned: an end beyond t = 1e100 (the value that means
// "no time event"), a start above it, an end that overflows.  Each call
// returns, says why when it does not step, and the instance answers after it.
TEST_F(HostileInput, StepsAtExtremeTimesReturn) {
  const double kDenormMin = std::numeric_limits<double>::denorm_min();
  struct Case {
    const char *what;
    double start;
    double point;
    double step;
    fmi2Status expected;
    const char *message; // the exact refusal message, or null
  };
  const Case cases[] = {
      {"end overflows", 1e308, 1e308, 1e308, fmi2Error,
       "fmi2DoStep: invalid end of communication step = inf, ignoring call"},
      {"largest step from the point", DBL_MAX, DBL_MAX, DBL_MAX, fmi2Error,
       "fmi2DoStep: invalid end of communication step = inf, ignoring call"},
      {"start above 1e100", 2e100, 2e100, 1.0, fmi2Error,
       "fmi2DoStep: communicationStepSize = 1 does not advance the time beyond t = "
       "2.0000000000000000e+100, ignoring call"},
      {"start and end above 1e100", 2e100, 2e100, 1e90, fmi2OK, nullptr},
      {"end at 1e100", 0.0, 0.0, 1e100, fmi2OK, nullptr},
      {"end beyond 1e100", 0.0, 0.0, 3e100, fmi2OK, nullptr},
      {"end passes 1e100 from just below", 1e100 - 1e90, 1e100 - 1e90, 2e90, fmi2OK, nullptr},
      {"smallest point, largest step", 0.0, kDenormMin, 1e308, fmi2OK, nullptr},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    free();
    host_.clearMessages();
    instantiate(fmi2CoSimulation);
    ASSERT_NE(c_, nullptr);
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, k.start, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
    const fmi2Status status = fmi().fmi2DoStep(c_, k.point, k.step, fmi2True);
    if (k.expected == fmi2OK) {
      // The vessel runs empty long before such ends: the integration may
      // fail there, but then it says so.
      if (status != fmi2OK) {
        EXPECT_EQ(status, fmi2Error);
        EXPECT_TRUE(hasExactly("fmi2DoStep: integration_step failed", fmi2Error)) << host_.dump();
      } else {
        EXPECT_EQ(lastSuccessfulTime(), k.point + k.step);
      }
    } else {
      EXPECT_EQ(status, k.expected);
      EXPECT_TRUE(hasExactly(k.message, k.expected)) << host_.dump();
      EXPECT_EQ(lastSuccessfulTime(), k.start);
    }
    fmi2Status terminated = fmi().fmi2Terminate(c_);
    EXPECT_TRUE(terminated == fmi2OK || (status == fmi2Error && terminated == fmi2Warning))
        << host_.dump();
  }
}

// A step too short for the integrator to start (it used to leave the states
// not a number) moves the time exactly and keeps the states; the next step
// integrates as usual.
TEST_F(HostileInput, StepTooShortToIntegrateMovesTheTimeOnly) {
  ready();
  const double tiny = 1e-320;
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, tiny, fmi2True), fmi2OK) << host_.dump();
  EXPECT_EQ(lastSuccessfulTime(), tiny);
  EXPECT_EQ(real(e2e::vrLevel), 3.0);
  ASSERT_EQ(fmi().fmi2DoStep(c_, tiny, 1.0, fmi2True), fmi2OK) << host_.dump();
  EXPECT_EQ(lastSuccessfulTime(), tiny + 1.0);
  EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(1.0), 1e-4 * cs::exactLevel(1.0));
  terminate();
}

// ---- Arguments that are not finite numbers -----------------------------------------------

// fmi2SetupExperiment refuses a start time, and a defined stop time, that is
// not a finite number, and changes nothing; a stop time that is not defined
// is not looked at; a tolerance that is not a finite number counts as none.
TEST_F(HostileInput, ExperimentTimesMustBeFinite) {
  struct Case {
    const char *what;
    fmi2Boolean stopDefined;
    double start;
    double stop;
    const char *message;
  };
  const Case refused[] = {
      {"start NaN", fmi2False, kNaN, 0.0,
       "fmi2SetupExperiment: invalid argument startTime = nan, ignoring call"},
      {"start infinite", fmi2False, kInf, 0.0,
       "fmi2SetupExperiment: invalid argument startTime = inf, ignoring call"},
      {"start minus infinite", fmi2True, -kInf, 1.0,
       "fmi2SetupExperiment: invalid argument startTime = -inf, ignoring call"},
      {"stop NaN", fmi2True, 0.0, kNaN,
       "fmi2SetupExperiment: invalid argument stopTime = nan, ignoring call"},
      {"stop infinite", fmi2True, 0.0, kInf,
       "fmi2SetupExperiment: invalid argument stopTime = inf, ignoring call"},
  };
  instantiate(fmi2CoSimulation);
  ASSERT_NE(c_, nullptr);
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 1.0, fmi2True, 4.0), fmi2OK);
  for (const Case &k : refused) {
    SCOPED_TRACE(k.what);
    host_.clearMessages();
    EXPECT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, k.start, k.stopDefined, k.stop),
              fmi2Error);
    EXPECT_TRUE(hasExactly(k.message, fmi2Error)) << host_.dump();
    EXPECT_EQ(lastSuccessfulTime(), 1.0);
  }
  // The experiment of the first call holds: start 1, stop 4.
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
  EXPECT_EQ(fmi().fmi2DoStep(c_, 1.0, 4.0, fmi2True), fmi2Error);
  EXPECT_EQ(fmi().fmi2DoStep(c_, 1.0, 3.0, fmi2True), fmi2OK) << host_.dump();
  terminate();

  // An undefined stop time may be anything; a tolerance that is not a
  // finite number is replaced by the default.
  free();
  host_.clearMessages();
  instantiate(fmi2CoSimulation);
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2True, kNaN, 0.0, fmi2False, kInf), fmi2OK);
  EXPECT_TRUE(hasExactly("fmi2SetupExperiment: invalid argument tolerance = nan, setting "
                         "toleranceDefined to fmi2False",
                         fmi2Warning))
      << host_.dump();
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK) << host_.dump();
  EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(1.0), 1e-4 * cs::exactLevel(1.0));
  terminate();
}

TEST_F(HostileInput, SetTimeMustBeFinite) {
  continuousTime();
  ASSERT_EQ(fmi().fmi2SetTime(c_, 0.25), fmi2OK);
  for (const double t : {kNaN, kInf, -kInf}) {
    SCOPED_TRACE(t);
    host_.clearMessages();
    EXPECT_EQ(fmi().fmi2SetTime(c_, t), fmi2Error);
    EXPECT_EQ(last().message, "fmi2SetTime: invalid argument time = " +
                                  std::string(std::isnan(t) ? "nan"
                                              : t > 0       ? "inf"
                                                            : "-inf") +
                                  ", ignoring call");
    EXPECT_EQ(last().status, fmi2Error);
    EXPECT_EQ(real(e2e::vrTime), 0.25);
  }
}

} // namespace
