// The fixed-step event approach, driven directly with a window, one relation
// (two indicators) and its history, as an integration layer with a fixed step
// would reach it after every evaluation.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/fixedstep.h"

namespace {

constexpr double kLinear = 0.19999999999999996;     // 1 - 0.8
constexpr double kQuadratic = 0.040000000000000036; // 1.04 - 1

class FixedStepTest : public ::testing::Test {
protected:
  void SetUp() override { initInstanceData(&record); }

  // One evaluation at t with both indicators of the relation at z and the
  // derivative F[0] = 2 before scaling; returns the scaled derivative.
  double at(double t, double z, int32_t initial = 0, int32_t eventFlag = 0) {
    Z[0] = Z[1] = z;
    F[0] = 2.0;
    fixedStepEventsIn(window, indicators, &record, t, initial, eventFlag, Z, F, 1, DUSER);
    return F[0];
  }
  // The initial call at t0 and the grid points t0 + h, ..., up to `last`
  // points after it (h = 0.1), all with the indicator at z.
  void grid(int last, double z = 1.0) {
    at(0.0, z, 1, 1);
    for (int k = 1; k <= last; ++k) at(k / 10.0, z);
  }

  std::unique_ptr<ModelInstanceData> holder{new ModelInstanceData};
  ModelInstanceData &record = *holder;
  FixedStepWindow window;
  int32_t relationFlags[2] = {0, 1};
  double history[8] = {};
  FixedStepIndicators indicators{relationFlags, history, 1};
  double Z[2] = {};
  double F[1] = {};
  double DUSER[kDuserSize] = {0.0, 1.0, 1e100, 0.0, 0.0, 0.0};
};

TEST_F(FixedStepTest, ATimeEventHalfwayThroughAStepShortensItAndLengthensTheNext) {
  grid(9);
  EXPECT_EQ(record.fixedStepSize, 0.1);
  EXPECT_EQ(DUSER[kDuserStepScale], 1.0);
  DUSER[kDuserNextTimeEvent] = 1.05;
  EXPECT_NEAR(at(1.0, 1.0), 1.0, 1e-12);
  EXPECT_NEAR(DUSER[kDuserStepScale], 0.5, 1e-12);
  EXPECT_NEAR(record.fixedStepScaledSize, 0.05, 1e-12);
  EXPECT_EQ(window.window1End, 1.0 + 0.9999999999 * 0.1);
  EXPECT_EQ(window.window2End, 1.0 + 1.9999999999 * 0.1);
  // The following grid point lies in the second window.
  EXPECT_NEAR(at(1.1, 1.0), 3.0, 1e-12);
  EXPECT_NEAR(DUSER[kDuserStepScale], 1.5, 1e-12);
  EXPECT_NEAR(record.fixedStepScaledSize, 0.15, 1e-12);
  // Back on the grid: a new prediction, nothing ahead.
  EXPECT_EQ(at(1.2, 1.0), 2.0);
  EXPECT_EQ(DUSER[kDuserStepScale], 1.0);
  EXPECT_EQ(record.fixedStepScaledSize, 0.1);
  EXPECT_EQ(window.window1End, 1.2);
  EXPECT_EQ(window.window2End, 1.2);
}

TEST_F(FixedStepTest, OnlyTimeEventsWithinTheComingStepShortenIt) {
  struct Case {
    double fraction; // of h after the prediction point 1.0
    bool shortens;
  };
  const Case cases[] = {{0.5, true},  {0.99, true},  {1.0, false}, {1.5, false},
                        {2.5, false}, {-0.5, false}, {0.0, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fraction);
    window = FixedStepWindow{};
    DUSER[kDuserNextTimeEvent] = 1e100;
    grid(9);
    DUSER[kDuserNextTimeEvent] = 1.0 + c.fraction * 0.1;
    at(1.0, 1.0);
    if (c.shortens)
      EXPECT_NEAR(DUSER[kDuserStepScale], c.fraction, 1e-9);
    else
      EXPECT_EQ(DUSER[kDuserStepScale], 1.0);
  }
}

TEST_F(FixedStepTest, AFallingIndicatorPredictsItsCrossing) {
  struct Case {
    const char *name;
    std::vector<double> values; // at 0, 0.1, 0.2, ...
    double best;
    bool shortens;
  };
  const Case cases[] = {
      {"two points, crossing beyond the step", {1.0, 0.5}, 1.0 + kLinear, false},
      {"two points, crossing within the step", {1.0, 0.25}, 1.0 / 3.0 + kLinear, true},
      {"three points on a line: quadratic refinement", {1.5, 1.0, 0.5}, 1.0 + kQuadratic, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    window = FixedStepWindow{};
    at(0.0, c.values[0], 1, 1);
    double f = 0.0;
    for (size_t k = 1; k < c.values.size(); ++k) f = at(static_cast<double>(k) / 10.0, c.values[k]);
    EXPECT_DOUBLE_EQ(window.bestFraction, c.best);
    if (c.shortens) {
      EXPECT_DOUBLE_EQ(DUSER[kDuserStepScale], c.best);
      EXPECT_DOUBLE_EQ(f, 2.0 * c.best);
    } else {
      EXPECT_EQ(DUSER[kDuserStepScale], 1.0);
      EXPECT_EQ(f, 2.0);
    }
  }
}

TEST_F(FixedStepTest, IndicatorsThatDoNotTakePartNeverShortenAStep) {
  struct Case {
    const char *name;
    int32_t flag;
    double second; // the second indicator of the pair at the last point
  };
  const Case cases[] = {{"relation not flagged", 0, 0.25}, {"pair of opposite signs", 1, -0.25}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    window = FixedStepWindow{};
    relationFlags[1] = c.flag;
    at(0.0, 1.0, 1, 1);
    Z[0] = 0.25;
    Z[1] = c.second;
    F[0] = 2.0;
    fixedStepEventsIn(window, indicators, &record, 0.1, 0, 0, Z, F, 1, DUSER);
    EXPECT_EQ(DUSER[kDuserStepScale], 1.0);
    EXPECT_EQ(F[0], 2.0);
    if (c.flag == 0) {
      for (double value : history) EXPECT_EQ(value, 0.0);
    }
  }
}

TEST_F(FixedStepTest, WithoutDerivativesOnlyTheFactorIsPublished) {
  grid(9);
  DUSER[kDuserNextTimeEvent] = 1.05;
  Z[0] = Z[1] = 1.0;
  F[0] = 2.0;
  fixedStepEventsIn(window, indicators, &record, 1.0, 0, 0, Z, F, 0, DUSER);
  EXPECT_EQ(F[0], 2.0);
  EXPECT_NEAR(DUSER[kDuserStepScale], 0.5, 1e-12);
}

TEST_F(FixedStepTest, AnInitialCallForgetsTheIndicatorsOfTheEarlierRun) {
  // The earlier run ends with the indicator approaching zero slowly.
  at(0.0, 1.3, 1, 1);
  at(0.1, 1.2);
  at(0.2, 1.1);
  // After the new initial call only its own points count: two points give
  // the linear estimate (the run's last values would bend it below 1).
  at(0.0, 1.0, 1, 1);
  EXPECT_EQ(at(0.1, 0.5), 2.0);
  EXPECT_DOUBLE_EQ(window.bestFraction, 1.0 + kLinear);
  EXPECT_EQ(DUSER[kDuserStepScale], 1.0);
}

TEST_F(FixedStepTest, TheStepIsLearntAtTheFirstAdvanceAfterAnEventCall) {
  at(0.0, 1.0, 1, 1);
  EXPECT_EQ(record.fixedStepSize, 0.0);
  EXPECT_EQ(record.fixedStepLastTime, 0.0);
  at(0.0, 1.0, 0, 1); // a further event call at the same time
  at(0.25, 1.0);
  EXPECT_EQ(record.fixedStepSize, 0.25);
  at(0.75, 1.0, 0, 1);
  EXPECT_EQ(record.fixedStepSize, 0.25);
  EXPECT_EQ(record.fixedStepLastTime, 0.75);
  EXPECT_EQ(record.fixedStepScaledSize, 0.25);
}

TEST(FixedStepIndicators, TheVesselRecordOffersItsRelationFlagsButNoHistory) {
  std::unique_ptr<ModelInstanceData> record(new ModelInstanceData);
  initInstanceData(record.get());
  const FixedStepIndicators indicators = fixedStepIndicatorsOf(record.get(), 3);
  EXPECT_EQ(indicators.relationFlags, record->relationFlags);
  EXPECT_EQ(indicators.history, nullptr);
  EXPECT_EQ(indicators.pairs, 0);
}

} // namespace
