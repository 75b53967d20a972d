// Co-Simulation steps as masters drive them at the edges: ends near the top
// of the double range, starts far from time 0, steps that compute nothing,
// output derivatives of orders the unit does not provide, reads between a
// set and the next step, steps across the emptying of the vessel, a stop
// time just before it, and several orders of one input in one call.  Every
// call returns (a hang shows as the test's timeout).
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fmi/cs_support.h"

namespace {

using cs::CoSimTest;
using e2e::fmi;
using Bytes = std::vector<fmi2Byte>;

// sqrt(level) of the vessel without inflow falls linearly: by
// holeSurface*sqrt(2*9.81)/(2*vornSurface) per second.
double rootRate(double holeSurface) { return holeSurface * std::sqrt(19.62) / 4.0; }

class StepFaults : public CoSimTest {
protected:
  // Ready at the start time, optionally with a stop time and a tolerance.
  void readyAt(double start, fmi2Boolean stopDefined = fmi2False, double stop = 0.0,
               double tolerance = 0.0) {
    instantiate(fmi2CoSimulation);
    ASSERT_NE(c_, nullptr);
    const fmi2Boolean toleranceDefined = tolerance > 0.0 ? fmi2True : fmi2False;
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, toleranceDefined, tolerance, start, stopDefined, stop),
              fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
  }
  void set(fmi2ValueReference vr, double v) {
    ASSERT_EQ(fmi().fmi2SetReal(c_, &vr, 1, &v), fmi2OK) << host_.dump();
  }
  bool anyMessageAt(fmi2Status status) const {
    for (const auto &m : host_.messages())
      if (m.status == status) return true;
    return false;
  }
};

// ---- Ends near the top of the double range -------------------------------------------

// From every start, with the level held (holeSurface 0) the step reaches its
// end with the level unchanged; with the defaults the vessel runs empty on
// the way and the step fails.  An end the time cannot hold is refused.
TEST_F(StepFaults, StepsToHugeEndsReturn) {
  const double starts[] = {0.0, 1e307, 8.98e307, 1e308, DBL_MAX, -1e308, -DBL_MAX};
  const double steps[] = {1e307, 8.98e307, 1e308, DBL_MAX};
  for (const double hole : {0.0, 0.1}) {
    for (const double start : starts) {
      for (const double step : steps) {
        SCOPED_TRACE("holeSurface " + std::to_string(hole) + ", start " + std::to_string(start) +
                     ", step " + std::to_string(step));
        free();
        host_.clearMessages();
        readyAt(start);
        set(e2e::vrHoleSurface, hole);
        const double end = start + step;
        const fmi2Status status = fmi().fmi2DoStep(c_, start, step, fmi2True);
        if (!std::isfinite(end)) {
          EXPECT_EQ(status, fmi2Error);
          EXPECT_TRUE(hasExactly("fmi2DoStep: invalid end of communication step = inf, ignoring "
                                 "call",
                                 fmi2Error))
              << host_.dump();
          EXPECT_EQ(lastSuccessfulTime(), start);
        } else if (hole == 0.0) {
          ASSERT_EQ(status, fmi2OK) << host_.dump();
          EXPECT_EQ(lastSuccessfulTime(), end);
          EXPECT_EQ(real(e2e::vrLevel), 3.0);
          EXPECT_EQ(real(e2e::vrOutflow), 0.0);
        } else {
          EXPECT_EQ(status, fmi2Error) << host_.dump();
        }
      }
    }
  }
}

// ---- Huge start times ------------------------------------------------------------------------

// The vessel does not depend on the absolute time: a step from any start time
// either gives the level of the same step from 0 (within the integrator's
// tolerance) or is refused with fmi2Error and changes nothing.
TEST_F(StepFaults, StepsFromHugeStartTimesKeepTheAccuracyOfStartZero) {
  const double starts[] = {0.0,  1e9,  1.8e9, 1e12, 1e13, 1e14, 1e15,
                           2e15, 4e15, 8e15,  9e15, 1e16, -8e15};
  for (const double step : {1.0, 4.0}) {
    free();
    readyAt(0.0);
    ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, step, fmi2True), fmi2OK) << host_.dump();
    const double reference = real(e2e::vrLevel);
    for (const double start : starts) {
      SCOPED_TRACE("DoStep(" + std::to_string(start) + ", " + std::to_string(step) + ")");
      free();
      host_.clearMessages();
      readyAt(start);
      const Bytes before = image();
      const fmi2Status status = fmi().fmi2DoStep(c_, start, step, fmi2True);
      if (status == fmi2Error) {
        EXPECT_TRUE(image() == before);
        EXPECT_EQ(lastSuccessfulTime(), start);
        continue;
      }
      ASSERT_EQ(status, fmi2OK) << host_.dump();
      EXPECT_EQ(lastSuccessfulTime(), start + step);
      EXPECT_NEAR(real(e2e::vrLevel), reference, 1e-4 * reference);
    }
  }
}

// Far from time 0 as well, also across a restart (a step of 0 on the way),
// the integrator stays before a stop time just before the vessel is empty:
// no evaluation beyond it fails, and the level there follows the closed form
// of the time elapsed.
TEST_F(StepFaults, StopTimeKeepsTheIntegratorBeforeItFarFromTimeZero) {
  for (const double start : {0.0, 1e12, 8e15}) {
    SCOPED_TRACE("start " + std::to_string(start));
    free();
    host_.clearMessages();
    const double stop = start + 15.4; // 8e15 + 15 at the resolution there
    readyAt(start, fmi2True, stop);
    double t = start;
    for (int i = 0; t < stop; ++i) {
      if (i == 4) {
        ASSERT_EQ(fmi().fmi2DoStep(c_, t, 0.0, fmi2True), fmi2OK) << host_.dump();
      }
      const double step = std::min(1.0, stop - t);
      ASSERT_EQ(fmi().fmi2DoStep(c_, t, step, fmi2True), fmi2OK) << host_.dump();
      t = lastSuccessfulTime();
    }
    EXPECT_EQ(t, stop);
    EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(stop - start), 1e-5);
    EXPECT_FALSE(anyMessageAt(fmi2Error)) << host_.dump();
  }
}

// Far from time 0 the integrator's own reports give its times from the start
// of its integration, and say so: the report of a step across the emptying
// of the vessel is that of the same step from 0, with its origin.
TEST_F(StepFaults, IntegratorReportsFarFromTimeZeroNameWhereTheirTimesCountFrom) {
  const auto report = [&](double start) {
    free();
    host_.clearMessages();
    readyAt(start);
    EXPECT_EQ(fmi().fmi2DoStep(c_, start, 30.0, fmi2True), fmi2Error);
    for (const auto &m : host_.messages()) {
      if (m.status == fmi2Warning && m.message.rfind("ODE: OdeSolve failed with", 0) == 0) {
        return m.message;
      }
    }
    return std::string();
  };
  const std::string fromZero = report(0.0);
  ASSERT_FALSE(fromZero.empty()) << host_.dump();
  EXPECT_EQ(report(8e15), fromZero + "\n (integrator times count from t = 8.0000000000000000e+15)")
      << host_.dump();
}

// Start times that hosts use (seconds since 1970) keep the bits of the
// integration in absolute time.
TEST_F(StepFaults, StepFromASecondsSince1970StartKeepsItsBits) {
  readyAt(1.8e9);
  ASSERT_EQ(fmi().fmi2DoStep(c_, 1.8e9, 1.0, fmi2True), fmi2OK) << host_.dump();
  const double level = real(e2e::vrLevel);
  uint64_t bits = 0;
  std::memcpy(&bits, &level, sizeof bits);
  EXPECT_EQ(bits, 0x4005079d36b3463bull) << level; // 2.6287178300342737
}

// ---- Steps that compute nothing ------------------------------------------------------------

struct NothingCase {
  const char *name;
  double start;
  int prepare; // 0 ready, 1 stepped to the stop time 1, 2 instantiated only, 3 terminated,
               // 4 failed (a step past the empty vessel)
  double point;
  double step;
  std::string message;
};

// Each is refused with fmi2Error and its message, and the instance is
// exactly as before (its FMU-state image).
TEST_F(StepFaults, StepsThatComputeNothingAreErrors) {
  const NothingCase cases[] = {
      {"t + h == t at 1e17", 1e17, 0, 1e17, 1.0,
       "fmi2DoStep: communicationStepSize = 1 does not advance the time beyond t = "
       "1.0000000000000000e+17, ignoring call"},
      {"t + h == t at 1e20", 1e20, 0, 1e20, 1.0,
       "fmi2DoStep: communicationStepSize = 1 does not advance the time beyond t = "
       "1.0000000000000000e+20, ignoring call"},
      {"t + h == t at 1e308", 1e308, 0, 1e308, 1.0,
       "fmi2DoStep: communicationStepSize = 1 does not advance the time beyond t = "
       "1.0000000000000000e+308, ignoring call"},
      {"end cut back to the stop time reached", 0.0, 1, 1.0, 1e-16,
       "fmi2DoStep: communicationStepSize = 1e-16 does not advance the time beyond t = "
       "1.0000000000000000e+00, ignoring call"},
      {"wrong point", 0.0, 0, 0.25, 0.5,
       "fmi2DoStep: currentCommunicationPoint = 0.2500000000000000, expected 0.0000000000000000"},
      {"past the stop time", 0.0, 1, 1.0, 0.5,
       "fmi2DoStep: trying to compute past tStop = 1.000000, to 1.5000000000000000,  at t = "
       "1.000000"},
      {"negative step", 0.0, 0, 0.0, -0.5,
       "fmi2DoStep: invalid communicationStepSize = -0.5, ignoring call"},
      {"step not a number", 0.0, 0, 0.0, NAN,
       "fmi2DoStep: invalid communicationStepSize = nan, ignoring call"},
      {"point not a number", 0.0, 0, NAN, 0.5,
       "fmi2DoStep: invalid currentCommunicationPoint = nan, ignoring call"},
      {"end not finite", 1e308, 0, 1e308, 1e308,
       "fmi2DoStep: invalid end of communication step = inf, ignoring call"},
      {"before initialization", 0.0, 2, 0.0, 0.5,
       "fmi2DoStep: Initialization must be finished before calling fmiDoStep"},
      {"terminated", 0.0, 3, 0.0, 0.5, "fmi2DoStep: model is terminated"},
      {"failed", 0.0, 4, 0.0, 0.5, "fmi2DoStep: model is terminated"},
  };
  for (const NothingCase &k : cases) {
    SCOPED_TRACE(k.name);
    free();
    if (k.prepare == 2) {
      instantiate(fmi2CoSimulation);
    } else {
      readyAt(k.start, k.prepare == 1 ? fmi2True : fmi2False, 1.0);
    }
    if (k.prepare == 1) {
      ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK);
    }
    if (k.prepare == 3) terminate();
    if (k.prepare == 4) {
      ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 30.0, fmi2True), fmi2Error);
    }
    const Bytes before = image();
    host_.clearMessages();
    EXPECT_EQ(fmi().fmi2DoStep(c_, k.point, k.step, fmi2True), fmi2Error);
    EXPECT_TRUE(hasExactly(k.message, fmi2Error)) << host_.dump();
    EXPECT_TRUE(image() == before);
  }
}

// ---- Output derivatives ----------------------------------------------------------------------

struct OrderCase {
  const char *name;
  double start;
  bool stepped;
  fmi2Integer orders[2];
  size_t nvr;
  std::string message;
};

// Only the first derivative exists (maxOutputDerivativeOrder = 1), and only
// once a step has given an interval: everything else is refused, and no
// value is written, also not for a valid order before the refused one.
TEST_F(StepFaults, OutputDerivativesOfOrdersNotProvidedAreRefused) {
  const OrderCase cases[] = {
      {"order 2",
       0.0,
       true,
       {2, 1},
       1,
       "fmi2GetRealOutputDerivatives: derivative order 2 is not supported"},
      {"order 3",
       0.0,
       true,
       {3, 1},
       1,
       "fmi2GetRealOutputDerivatives: derivative order 3 is not supported"},
      {"order 7 after order 1",
       0.0,
       true,
       {1, 7},
       2,
       "fmi2GetRealOutputDerivatives: derivative order 7 is not supported"},
      {"order 0",
       0.0,
       true,
       {0, 1},
       1,
       "fmi2GetRealOutputDerivatives: derivative order 0 is not allowed"},
      {"order -1",
       0.0,
       true,
       {-1, 1},
       1,
       "fmi2GetRealOutputDerivatives: derivative order -1 is not allowed"},
      {"order 1 before the first step",
       0.0,
       false,
       {1, 1},
       2,
       "fmi2GetRealOutputDerivatives: derivative order 1 needs a completed step, time interval "
       "for estimate is 0.000000"},
      {"order 1 before the first step from t = 5",
       5.0,
       false,
       {1, 1},
       1,
       "fmi2GetRealOutputDerivatives: derivative order 1 needs a completed step, time interval "
       "for estimate is 0.000000"},
  };
  const fmi2ValueReference refs[] = {e2e::vrLevel, e2e::vrOutflow};
  for (const OrderCase &k : cases) {
    SCOPED_TRACE(k.name);
    free();
    readyAt(k.start);
    if (k.stepped) {
      ASSERT_EQ(fmi().fmi2DoStep(c_, k.start, 0.5, fmi2True), fmi2OK);
    }
    host_.clearMessages();
    double values[2] = {-7.0, -7.0};
    EXPECT_EQ(fmi().fmi2GetRealOutputDerivatives(c_, refs, k.nvr, k.orders, values), fmi2Error);
    EXPECT_TRUE(hasExactly(k.message, fmi2Error)) << host_.dump();
    EXPECT_EQ(values[0], -7.0);
    EXPECT_EQ(values[1], -7.0);
    // The order-1 value after a step is the secant of the step.
    ASSERT_EQ(fmi().fmi2DoStep(c_, lastSuccessfulTime(), 0.5, fmi2True), fmi2OK);
    const fmi2Integer one = 1;
    ASSERT_EQ(fmi().fmi2GetRealOutputDerivatives(c_, refs, 1, &one, values), fmi2OK);
    const double t = lastSuccessfulTime() - k.start;
    const double slope = (cs::exactLevel(t) - cs::exactLevel(t - 0.5)) / 0.5;
    EXPECT_NEAR(values[0], slope, 1e-3 * std::fabs(slope));
  }
}

// ---- Reads between a set and the next step ---------------------------------------------------

// A set of holeSurface at t = 1, then one step: the level follows the closed
// form of the new hole, whether the output was read in between or not.
TEST_F(StepFaults, ReadAfterASetDoesNotChangeTheNextStep) {
  for (const bool read : {false, true}) {
    SCOPED_TRACE(read ? "with a read" : "without a read");
    free();
    readyAt(0.0, fmi2False, 0.0, 1e-8);
    ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK);
    set(e2e::vrHoleSurface, 0.2);
    if (read) {
      EXPECT_NEAR(real(e2e::vrOutflow), 0.2 * std::sqrt(19.62 * real(e2e::vrLevel)), 1e-12);
    }
    double r = std::sqrt(3.0) - rootRate(0.1);
    for (int i = 1; i <= 4; ++i) {
      ASSERT_EQ(fmi().fmi2DoStep(c_, i, 1.0, fmi2True), fmi2OK) << host_.dump();
      r -= rootRate(0.2);
      EXPECT_NEAR(real(e2e::vrLevel), r * r, 1e-6 * r * r) << "t = " << i + 1;
    }
  }
}

// Sets of parameters and the input between steps: a run that reads outputs
// after every set gives the same bits as the run that reads nothing.
TEST_F(StepFaults, RunWithReadsGivesTheBitsOfTheRunWithout) {
  std::vector<double> runs[2];
  for (const bool read : {false, true}) {
    free();
    readyAt(0.0);
    double t = 0.0;
    for (int i = 0; i < 16; ++i) {
      if (i % 4 == 1) set(e2e::vrHoleSurface, 0.1 + 0.02 * i);
      if (i % 4 == 2) set(e2e::vrInputRate, 0.05 * i);
      if (i % 5 == 3) set(e2e::vrVornSurface, 2.0 + 0.1 * i);
      if (read) {
        (void)real(e2e::vrOutflow);
        (void)real(e2e::vrLevel);
      }
      ASSERT_EQ(fmi().fmi2DoStep(c_, t, 0.25, fmi2True), fmi2OK) << host_.dump();
      t += 0.25;
      runs[read ? 1 : 0].push_back(real(e2e::vrLevel));
      runs[read ? 1 : 0].push_back(real(e2e::vrOutflow));
    }
  }
  ASSERT_EQ(runs[0].size(), runs[1].size());
  for (size_t i = 0; i < runs[0].size(); ++i) {
    EXPECT_EQ(std::memcmp(&runs[0][i], &runs[1][i], sizeof(double)), 0)
        << "value " << i << ": " << runs[0][i] << " and " << runs[1][i];
  }
}

// ---- The emptying of the vessel ----------------------------------------------------------------

// Steps of 0.01 across the emptying time: every step that succeeds ends in a
// state the model evaluates, close to the closed form; the first that cannot
// fails.
TEST_F(StepFaults, StepsAcrossTheEmptyingNeverSucceedOnAStateTheModelCannotEvaluate) {
  readyAt(0.0);
  fmi2Status status = fmi2OK;
  int i = 0;
  for (; i < 1700; ++i) {
    status = fmi().fmi2DoStep(c_, 0.01 * i, 0.01, fmi2True);
    if (status != fmi2OK) break;
    const double t = 0.01 * (i + 1);
    const fmi2ValueReference refs[] = {e2e::vrLevel, e2e::vrOutflow};
    double values[2] = {NAN, NAN};
    ASSERT_EQ(fmi().fmi2GetReal(c_, refs, 2, values), fmi2OK) << "t = " << t << host_.dump();
    EXPECT_GE(values[0], 0.0) << "t = " << t;
    EXPECT_NEAR(values[0], cs::exactLevel(t), 1e-4) << "t = " << t;
  }
  EXPECT_EQ(status, fmi2Error) << host_.dump();
  EXPECT_NEAR(0.01 * i, cs::emptyTime(), 0.05);
}

// With the stop time just before the vessel is empty, the integrator stays
// before it: no evaluation beyond it fails, and the level there follows the
// closed form.
TEST_F(StepFaults, StopTimeKeepsTheIntegratorBeforeIt) {
  readyAt(0.0, fmi2True, 15.6);
  for (int i = 0; i < 15; ++i) {
    ASSERT_EQ(fmi().fmi2DoStep(c_, i, 1.0, fmi2True), fmi2OK) << host_.dump();
  }
  ASSERT_EQ(fmi().fmi2DoStep(c_, 15.0, 0.6, fmi2True), fmi2OK) << host_.dump();
  EXPECT_EQ(lastSuccessfulTime(), 15.6);
  EXPECT_NEAR(real(e2e::vrLevel), cs::exactLevel(15.6), 2e-6);
  EXPECT_FALSE(anyMessageAt(fmi2Error)) << host_.dump();
  EXPECT_FALSE(host_.hasMessage("Model error")) << host_.dump();
  terminate();
}

// ---- Several orders of one input ------------------------------------------------------------

// Orders 1 and 2 of the input in one call act as two calls: the first order
// is applied, the second refused with its warning.
TEST_F(StepFaults, EachInputDerivativePairCountsOnItsOwn) {
  std::vector<double> levels;
  for (const int variant : {0, 1, 2}) {
    SCOPED_TRACE(variant);
    free();
    readyAt(0.0, fmi2False, 0.0, 1e-8);
    host_.clearMessages();
    const fmi2ValueReference refs[] = {e2e::vrInputRate, e2e::vrInputRate};
    const double values[] = {0.2, 0.5};
    if (variant == 0) { // two calls
      const fmi2Integer one = 1;
      const fmi2Integer two = 2;
      EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, refs, 1, &one, values), fmi2OK);
      EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, refs, 1, &two, values + 1), fmi2Warning);
    } else { // one call, orders {1, 2} or {2, 1}
      const fmi2Integer orders[] = {variant == 1 ? 1 : 2, variant == 1 ? 2 : 1};
      const double given[] = {variant == 1 ? 0.2 : 0.5, variant == 1 ? 0.5 : 0.2};
      EXPECT_EQ(fmi().fmi2SetRealInputDerivatives(c_, refs, 2, orders, given), fmi2Warning);
    }
    EXPECT_TRUE(
        hasExactly("fmi2SetRealInputDerivatives: derivative order 2 is not supported", fmi2Warning))
        << host_.dump();
    ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 1.0, fmi2True), fmi2OK) << host_.dump();
    EXPECT_NEAR(real(e2e::vrInputRate), 0.2, 1e-12);
    const double reference = cs::referenceLevel(1.0, [](double s) { return 0.2 * s; });
    EXPECT_NEAR(real(e2e::vrLevel), reference, 1e-6 * reference);
    levels.push_back(real(e2e::vrLevel));
  }
  EXPECT_EQ(levels[1], levels[0]);
  EXPECT_EQ(levels[2], levels[0]);
}

} // namespace
