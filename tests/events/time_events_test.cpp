// Time events, the sample operators, the integer part of a scaled time, the
// memory argument, the resources query and the runtime clock, called
// directly on an instance record as generated code calls them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/events.h"
#include "source/dsblock5/modulepath.h"
#include "source/dsblock5/runcontrol.h"
#include "source/error_path.h"
#include "source/kernel.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"

namespace {

struct Message {
  std::string text;
  int level;
  bool operator==(const Message &) const = default;
};
std::vector<Message> messages;

void captureMessage(const char *text, int, int level) { messages.push_back({text, level}); }

std::ostream &operator<<(std::ostream &out, const Message &m) {
  return out << "{\"" << m.text << "\", " << m.level << "}";
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The model error report for text at time 0.
std::vector<Message> modelError(const std::string &text) {
  return {{"Error: The following error was detected at time: 0", 2}, {text, 2}};
}

// One instance record bound to the thread, with its own work arrays, set up
// as in the first pass of an event call at time 0.
class EventTest : public ::testing::Test {
protected:
  void SetUp() override {
    messages.clear();
    setRuntimeMessageHook(&captureMessage);
    initInstanceData(&record);
    record.duser = DUSER;
    record.iuser = IUSER;
    record.eventFlag = 1;
    record.iteration = 1;
    setCurrentInstance(&record);
  }
  void TearDown() override {
    setCurrentInstance(nullptr);
    setRuntimeMessageHook(nullptr);
    setUserArrays(nullptr, nullptr);
    endEvaluation();
  }

  // Runs body under a recovery point; true when it completed.
  template <class Body> bool completes(Body &&body) {
    ErrorRecoveryScope scope;
    return scope.run(body);
  }

  // The first pass of an event call at t, as the driver starts it.
  void eventAt(double t) {
    record.time = t;
    record.eventFlag = 1;
    record.iteration = 1;
    DUSER[kDuserNextTimeEvent] = 1e100;
  }

  // Event calls at every registered time up to tEnd, starting with one at
  // t0; the times at which clock() fired.
  template <class Clock> std::vector<double> firings(double t0, double tEnd, Clock clock) {
    std::vector<double> fired;
    double t = t0;
    for (int k = 0; k < 1000 && t <= tEnd; ++k) {
      eventAt(t);
      if (clock(t) != 0) fired.push_back(t);
      t = DUSER[kDuserNextTimeEvent];
    }
    return fired;
  }

  std::unique_ptr<ModelInstanceData> holder{new ModelInstanceData};
  ModelInstanceData &record = *holder;
  SampleBookkeeping entries[2] = {};
  SampleTable table{entries, 2};
  double DUSER[kDuserSize] = {0.0, 1.0, 1e100, 0.0, 0.0, 0.0};
  int32_t IUSER[kIuserSize] = {};
};

void expectTimes(const std::vector<double> &actual, const std::vector<double> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t k = 0; k < actual.size(); ++k) EXPECT_NEAR(actual[k], expected[k], 1e-12) << k;
}

// ---------------------------------------------------------------------------
// Registration of time events.
// ---------------------------------------------------------------------------

TEST(RegisterTimeEvent, CandidatesWithinTheToleranceOfTheEarliestBecomeOneEventAtTheLatest) {
  struct Step {
    double t;
    double next;     // DUSER[2] afterwards
    double earliest; // DUSER[5] afterwards
  };
  struct Case {
    const char *name;
    double scale;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"no scale",
       0.0,
       {{5.0, 5.0, 5.0},
        {5.0 + 1e-15, 5.0 + 1e-15, 5.0},
        {5.0 + 1e-14, 5.0 + 1e-15, 5.0}, // beyond the tolerance of the earliest
        {6.0, 5.0 + 1e-15, 5.0},
        {kNaN, 5.0 + 1e-15, 5.0},
        {4.0, 4.0, 4.0}}},
      {"time scale widens the tolerance",
       1000.0,
       {{5.0, 5.0, 5.0},
        {5.0 + 1e-12, 5.0 + 1e-12, 5.0},
        {5.0 - 2e-13, 5.0 + 1e-12, 5.0 - 2e-13},   // the latest still covers it
        {5.0 - 1e-12, 5.0 - 1e-12, 5.0 - 1e-12}}}, // too far: a new event
      {"a far time scale does not merge events near zero",
       1e9,
       {{1e-6, 1e-6, 1e-6}, {2e-6, 1e-6, 1e-6}, {1e-6 + 1e-20, 1e-6 + 1e-20, 1e-6}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    double D[kDuserSize] = {0.0, 1.0, 1e100, c.scale, 0.0, 0.0};
    for (const Step &s : c.steps) {
      SCOPED_TRACE(s.t);
      registerTimeEvent(s.t, D);
      EXPECT_EQ(D[kDuserNextTimeEvent], s.next);
      EXPECT_EQ(D[kDuserEarliestCandidate], s.earliest);
    }
  }
  registerTimeEvent(1.0, nullptr); // no work arrays: nothing to register into
}

TEST_F(EventTest, RegisterTimeEventCurrentUsesTheBoundInstanceOrTheKernelPair) {
  double kernelD[kDuserSize] = {0.0, 1.0, 1e100, 0.0, 0.0, 0.0};
  int32_t kernelI[kIuserSize] = {};
  setUserArrays(kernelD, kernelI);
  registerTimeEventCurrent(2.0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 2.0);
  EXPECT_EQ(kernelD[kDuserNextTimeEvent], 1e100);
  setCurrentInstance(nullptr); // defaultInstanceData has no arrays of its own
  registerTimeEventCurrent(3.0);
  EXPECT_EQ(kernelD[kDuserNextTimeEvent], 3.0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 2.0);
}

TEST(SampleTickCount, IsTheNumberOfTheFirstTickAtOrAfterT) {
  struct Case {
    double t, start, interval, count;
  };
  const Case cases[] = {
      {0.0, 0.0, 0.1, 1.0},  {0.25, 0.0, 0.1, 4.0}, {0.3, 0.0, 0.1, 4.0},
      {0.0, 0.5, 0.1, -4.0}, {7.0, 1.0, 2.0, 4.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_EQ(sampleTickCount(c.t, c.start, c.interval), c.count);
  }
}

// ---------------------------------------------------------------------------
// sample
// ---------------------------------------------------------------------------

TEST_F(EventTest, SampleFiresInTheFirstPassOnlyAndRegistersTheNextTick) {
  EXPECT_EQ(sampleIn(table, &record, 0.0, 0.0, 0.1, 0, 0, 1), 1);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 0.1);
  EXPECT_EQ(DUSER[kDuserEarliestCandidate], 0.1);
  EXPECT_EQ(entries[0].sampleNextTick, 2.0);
  EXPECT_EQ(entries[0].sampleLastTick, 2.0);
  EXPECT_EQ(entries[0].sampleActive, 1);
  record.iteration = 2;
  EXPECT_EQ(sampleIn(table, &record, 0.0, 0.0, 0.1, 0, 0, 1), 0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 0.1);
  EXPECT_EQ(entries[1].sampleActive, 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(EventTest, SampleFiresAtEveryTickOfARun) {
  const auto clock = [&](double t) { return sampleIn(table, &record, t, 0.0, 0.1, 0, 0, 1); };
  expectTimes(firings(0.0, 1.0, clock), {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0});
}

TEST_F(EventTest, SampleStartingLaterFiresFirstAtItsStartAndRaisesTheTimeScale) {
  const auto clock = [&](double t) { return sampleIn(table, &record, t, 0.05, 0.3, 0, 0, 1); };
  expectTimes(firings(0.0, 1.0, clock), {0.05, 0.35, 0.65, 0.95});
  EXPECT_EQ(DUSER[kDuserTimeScale], 0.05);
}

TEST_F(EventTest, ATickReachedOutsideAnEventIsStillTakenByTheEventCallAtThatTime) {
  ASSERT_EQ(sampleIn(table, &record, 0.0, 0.0, 0.1, 0, 0, 1), 1);
  // A plain evaluation at the tick time (the host asks for derivatives
  // before it enters event mode) does not move the next tick.
  record.eventFlag = 0;
  sampleIn(table, &record, 0.1, 0.0, 0.1, 0, 0, 1);
  EXPECT_EQ(entries[0].sampleNextTick, 2.0);
  eventAt(0.1);
  EXPECT_EQ(sampleIn(table, &record, 0.1, 0.0, 0.1, 0, 0, 1), 1);
  EXPECT_EQ(entries[0].sampleNextTick, 3.0);
  EXPECT_NEAR(DUSER[kDuserNextTimeEvent], 0.2, 1e-15);
}

TEST_F(EventTest, ManyPassedTicksAreSkippedInOneCall) {
  struct Case {
    double t, interval;
  };
  const Case cases[] = {{1e6, 1e-3}, {1e20, 1.0}, {5.0, 1e-12}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.t);
    entries[0] = {};
    eventAt(0.0);
    ASSERT_EQ(sampleIn(table, &record, 0.0, 0.0, c.interval, 0, 0, 1), 1);
    eventAt(c.t);
    EXPECT_EQ(sampleIn(table, &record, c.t, 0.0, c.interval, 0, 0, 1), 1);
    // The next tick is the first one beyond t and its tolerance, and the
    // tick before it is not.
    const double limit = c.t + c.t * 5e-14;
    const double n = entries[0].sampleNextTick;
    const double before = n - 1.0 < n ? n - 1.0 : std::nextafter(n, 0.0);
    EXPECT_GT((n - 1.0) * c.interval, limit);
    EXPECT_LE((before - 1.0) * c.interval, limit);
    EXPECT_EQ(DUSER[kDuserNextTimeEvent], (n - 1.0) * c.interval);
  }
}

// Event calls at every time the runtime reports as the next time event: a
// clock fires at each of its ticks in turn, wherever it starts and whatever
// other clock is declared beside it (evaluated first, at every event, as
// sample index 1), as long as the time grid resolves its ticks.
TEST_F(EventTest, AClockFiresAtEveryTickTheTimeGridResolves) {
  struct Clock {
    double start, interval;
  };
  struct Case {
    const char *name;
    Clock clock;
    double t0;
    bool other; // a clock beside it
    Clock otherClock;
  };
  const Case cases[] = {
      {"start 1e9, interval 1e-5 (84 units in the last place)", {1e9, 1e-5}, 1e9, false, {}},
      {"start 1e15, interval 1", {1e15, 1.0}, 1e15, false, {}},
      {"start 0, interval 3, from 1e15", {0.0, 3.0}, 1e15, false, {}},
      {"start 0, interval 1e-5 beside a clock from 1e9", {0.0, 1e-5}, 0.0, true, {1e9, 1.0}},
      {"start 0, interval 0.1 beside a clock from -1e13", {0.0, 0.1}, 0.0, true, {-1e13, 7.0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    entries[0] = entries[1] = {};
    DUSER[kDuserTimeScale] = 0.0;
    const double first = sampleTickCount(c.t0, c.clock.start, c.clock.interval);
    const auto eventCall = [&](double t) {
      eventAt(t);
      if (c.other) sampleIn(table, &record, t, c.otherClock.start, c.otherClock.interval, 1, 0, 1);
      return sampleIn(table, &record, t, c.clock.start, c.clock.interval, 0, 0, 1);
    };
    double t = c.t0;
    if (t != (first - 1.0) * c.clock.interval + c.clock.start) {
      // Not a tick: the first call only registers the first tick.
      ASSERT_EQ(eventCall(t), 0);
      t = DUSER[kDuserNextTimeEvent];
    }
    for (int k = 0; k < 50; ++k) {
      const double tick = (first + k - 1.0) * c.clock.interval + c.clock.start;
      ASSERT_EQ(t, tick) << "event " << k;
      ASSERT_EQ(eventCall(t), 1) << "event " << k;
      t = DUSER[kDuserNextTimeEvent];
      ASSERT_GT(t, tick);
    }
  }
}

TEST_F(EventTest, AFarClockDoesNotMakeAnotherFireBetweenItsTicks) {
  eventAt(0.0);
  sampleIn(table, &record, 0.0, 1e9, 1.0, 1, 0, 1);
  ASSERT_EQ(sampleIn(table, &record, 0.0, 0.0, 1e-5, 0, 0, 1), 1);
  // An event of another kind between two ticks.
  eventAt(7.6e-6);
  sampleIn(table, &record, 7.6e-6, 1e9, 1.0, 1, 0, 1);
  EXPECT_EQ(sampleIn(table, &record, 7.6e-6, 0.0, 1e-5, 0, 0, 1), 0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e-5);
  eventAt(1e-5);
  sampleIn(table, &record, 1e-5, 1e9, 1.0, 1, 0, 1);
  EXPECT_EQ(sampleIn(table, &record, 1e-5, 0.0, 1e-5, 0, 0, 1), 1);
}

TEST_F(EventTest, WithoutWorkArraysOfItsOwnAnInstanceRegistersIntoTheKernelPairOrNowhere) {
  record.duser = nullptr;
  record.iuser = nullptr;
  double kernelD[kDuserSize] = {0.0, 1.0, 1e100, 0.0, 0.0, 0.0};
  int32_t kernelI[kIuserSize] = {};
  setUserArrays(kernelD, kernelI);
  EXPECT_EQ(sampleIn(table, &record, 0.0, 0.0, 0.1, 0, 0, 1), 1);
  EXPECT_EQ(kernelD[kDuserNextTimeEvent], 0.1);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
  // Without any pair the sample still works; nothing is registered.
  setUserArrays(nullptr, nullptr);
  EXPECT_EQ(sampleIn(table, &record, 0.1, 0.0, 0.1, 0, 0, 1), 1);
  EXPECT_EQ(entries[0].sampleNextTick, 3.0);
  EXPECT_EQ(kernelD[kDuserNextTimeEvent], 0.1);
}

TEST_F(EventTest, SampleModesSetTheTickAnewOrNotAtAll) {
  // mode 1 at 0.35: the next tick is the first one at or after 0.35.
  EXPECT_EQ(sampleIn(table, &record, 0.35, 0.0, 0.1, 0, 1, 1), 0);
  EXPECT_EQ(entries[0].sampleNextTick, 5.0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 0.4);
  // mode 2 returns at once.
  eventAt(0.4);
  EXPECT_EQ(sampleIn(table, &record, 0.4, 0.0, 0.1, 0, 2, 1), 0);
  EXPECT_EQ(entries[0].sampleNextTick, 5.0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
  // Not evaluated: no set-up, no registration.
  EXPECT_EQ(sampleIn(table, &record, 0.4, 0.0, 0.1, 1, 0, 0), 0);
  EXPECT_EQ(entries[1].sampleNextTick, 0.0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
}

TEST_F(EventTest, SampleEventsAreLoggedWhenEventLoggingIsOn) {
  struct Case {
    int32_t options;
    int32_t initialCallPending;
    bool logged;
  };
  const Case cases[] = {{2, 0, true}, {4, 0, false}, {4, 1, true}, {2, 1, false}, {0, 0, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.options) + " " + std::to_string(c.initialCallPending));
    messages.clear();
    entries[0] = {};
    eventAt(0.5);
    IUSER[kIuserOptions] = c.options;
    record.initialCallPending = c.initialCallPending;
    ASSERT_EQ(sampleIn(table, &record, 0.5, 0.5, 0.25, 0, 0, 1), 1);
    const std::vector<Message> expected{{"Sample event (sample(0.5,0.25)) at time: 0.5", 0}};
    EXPECT_EQ(messages, c.logged ? expected : std::vector<Message>{});
  }
}

TEST_F(EventTest, ANonPositiveIntervalOrFactorIsAModelError) {
  struct Case {
    const char *name;
    double interval;
    int32_t factor;
    int which; // 0 sample, 1 sampleSub, 2 sampleModel
  };
  const Case cases[] = {
      {"sample 0", 0.0, 1, 0},         {"sample -1", -1.0, 1, 0},
      {"sample NaN", kNaN, 1, 0},      {"sampleSub interval", 0.0, 2, 1},
      {"sampleSub factor", 0.1, 0, 1}, {"sampleModel 0", 0.0, 1, 2},
      {"sampleModel -1", -1.0, 1, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    messages.clear();
    record.status = 0;
    const bool done = completes([&] {
      if (c.which == 0) sampleIn(table, &record, 0.0, 0.0, c.interval, 0, 0, 1);
      if (c.which == 1) sampleSubIn(table, &record, 0.0, 0.0, c.interval, 0, c.factor, 0, 0, 1);
      if (c.which == 2) sampleModelIn(table, &record, 0.0, 0.0, c.interval, 0, 0, 1);
    });
    EXPECT_FALSE(done);
    EXPECT_EQ(messages, modelError("Sample did not have positive sample interval"));
    EXPECT_EQ(record.status, 1);
    EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
  }
}

TEST_F(EventTest, AnIndexOutsideTheSamplesIsAModelError) {
  EXPECT_FALSE(completes([&] { sampleIn(table, &record, 0.0, 0.0, 0.1, 2, 0, 1); }));
  EXPECT_EQ(messages, modelError("Sample index 2 is not one of the 2 samples of the model."));
  // The vessel model's record holds no samples at all.
  messages.clear();
  int32_t changed = 0;
  EXPECT_FALSE(completes([&] { sample(&record, 0.0, 0.0, 0.1, 0, 0, 1); }));
  EXPECT_FALSE(completes([&] { sampleSub(&record, 0.0, 0.0, 0.1, 0, 1, 0, 0, 1); }));
  EXPECT_FALSE(completes([&] { sampleModel(&record, 0.0, 0.0, 0.1, -1, 0, 1); }));
  EXPECT_FALSE(completes([&] { integerTimeEvent(1, 0.5, &record, 0.0, &changed, nullptr, 0, 0); }));
  std::vector<Message> expected;
  for (const char *index : {"0", "0", "-1", "0"})
    for (const Message &m : modelError(std::string("Sample index ") + index +
                                       " is not one of the 0 samples of the model."))
      expected.push_back(m);
  EXPECT_EQ(messages, expected);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
}

// ---------------------------------------------------------------------------
// sampleSub and sampleModel
// ---------------------------------------------------------------------------

TEST_F(EventTest, SampleSubFiresOnEveryFactorthBaseTickShiftedByShift) {
  struct Case {
    int32_t factor, shift;
    std::vector<double> times;
  };
  const Case cases[] = {
      {3, 0, {0.2, 0.5, 0.8}},
      {3, 1, {0.1, 0.4, 0.7, 1.0}},
      {2, 1, {0.0, 0.2, 0.4, 0.6, 0.8, 1.0}},
      {1, 0, {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.factor) + " " + std::to_string(c.shift));
    entries[0] = {};
    const auto clock = [&](double t) {
      return sampleSubIn(table, &record, t, 0.0, 0.1, c.shift, c.factor, 0, 0, 1);
    };
    expectTimes(firings(0.0, 1.0 + 1e-9, clock), c.times);
  }
}

TEST_F(EventTest, SampleModelFiresLikeSampleAndKeepsTicksReachedOutsideEvents) {
  std::vector<double> fired;
  double t = 0.0;
  for (int k = 0; k < 100 && t <= 1.0 + 1e-9; ++k) {
    // A plain evaluation at the event time comes first.
    record.eventFlag = 0;
    sampleModelIn(table, &record, t, 0.0, 0.1, 0, 0, 1);
    eventAt(t);
    if (sampleModelIn(table, &record, t, 0.0, 0.1, 0, 0, 1) != 0) fired.push_back(t);
    record.iteration = 2;
    EXPECT_EQ(sampleModelIn(table, &record, t, 0.0, 0.1, 0, 0, 1), 0);
    t = DUSER[kDuserNextTimeEvent];
  }
  expectTimes(fired, {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0});
  EXPECT_EQ(entries[0].sampleInitialized, 1);
}

// ---------------------------------------------------------------------------
// timeEvent
// ---------------------------------------------------------------------------

TEST(TimeEvent, EvaluatesTimeAtOrAfterT0WithinItsTolerance) {
  struct Case {
    const char *name;
    double time, scale;
    int32_t stateBefore, markChanged;
    int32_t state, changed, occurred;
    double next; // DUSER[2] afterwards
  };
  const Case cases[] = {
      {"false stays false", 0.5, 0.0, 0, 1, 0, 0, 0, 1.0},
      {"becomes false", 0.5, 0.0, 1, 1, 0, 1, 1, 1.0},
      {"becomes false unmarked", 0.5, 0.0, 1, 0, 0, 0, 1, 1.0},
      {"true within tolerance", 1.0 - 1e-15, 0.0, 0, 1, 1, 1, 1, 1e100},
      {"false beyond tolerance", 1.0 - 1e-13, 0.0, 0, 1, 0, 0, 0, 1.0},
      {"scale widens tolerance", 1.0 - 1e-13, 10.0, 0, 1, 1, 1, 1, 1e100},
      {"true stays true", 2.0, 0.0, 1, 1, 1, 0, 0, 1e100},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    double D[kDuserSize] = {0.0, 1.0, 1e100, 0.0, 0.0, 0.0};
    int32_t state = c.stateBefore, changed = 0, occurred = 0;
    EXPECT_EQ(timeEvent(1.0, 7, D, c.time, c.scale, &changed, &occurred, 0, c.markChanged, &state),
              0);
    EXPECT_EQ(state, c.state);
    EXPECT_EQ(changed, c.changed);
    EXPECT_EQ(occurred, c.occurred);
    EXPECT_EQ(D[kDuserNextTimeEvent], c.next);
  }
}

// Two relations time >= 1e-6 and time >= 2e-6, evaluated as generated code
// does at every event call with the time scale as their scale, while a clock
// far away has raised it to 1e9: each becomes true at its own time, which is
// the next time event reported before it.
TEST_F(EventTest, AFarTimeScaleDoesNotMakeTimeEventsNearZeroTrueEarly) {
  DUSER[kDuserTimeScale] = 1e9;
  const double t0[2] = {1e-6, 2e-6};
  int32_t state[2] = {0, 0};
  std::vector<std::pair<int, double>> became; // relation, time
  double t = 0.0;
  for (int call = 0; call < 5 && t < 1e30; ++call) {
    eventAt(t);
    for (int k = 0; k < 2; ++k) {
      int32_t changed = 0, occurred = 0;
      timeEvent(t0[k], 0, DUSER, t, DUSER[kDuserTimeScale], &changed, &occurred, 0, 1, &state[k]);
      if (occurred != 0) became.emplace_back(k, t);
    }
    t = DUSER[kDuserNextTimeEvent];
  }
  EXPECT_EQ(became, (std::vector<std::pair<int, double>>{{0, 1e-6}, {1, 2e-6}}));
}

TEST_F(EventTest, TimeEventLogsWhenItBecomesTrueAndNeedsItsOutputs) {
  int32_t state = 0, changed = 0;
  timeEvent(1.0, 0, DUSER, 1.0, 0.0, &changed, nullptr, 1, 1, &state);
  EXPECT_EQ(messages, (std::vector<Message>{{"Time event at time: 1", 0}}));
  EXPECT_EQ(state, 1);
  state = 0;
  changed = 0;
  EXPECT_EQ(timeEvent(1.0, 0, DUSER, 1.0, 0.0, nullptr, nullptr, 1, 1, &state), 0);
  EXPECT_EQ(timeEvent(2.0, 0, DUSER, 1.0, 0.0, &changed, nullptr, 1, 1, nullptr), 0);
  EXPECT_EQ(state, 0);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
}

// ---------------------------------------------------------------------------
// integerTimeEvent
// ---------------------------------------------------------------------------

TEST_F(EventTest, IntegerTimeEventReturnsTheIntegerPartAndRegistersItsNextChange) {
  int32_t changed = 0, occurred = 0;
  EXPECT_EQ(integerTimeEventIn(table, 1, 0.5, &record, 1.2, &changed, &occurred, 0, 0), 2.0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1.5);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(occurred, 1);
  EXPECT_EQ(entries[0].sampleNextTick, 3.0); // 2 stored as 2 + 1
  // The same integer part again: no change.
  changed = occurred = 0;
  EXPECT_EQ(integerTimeEventIn(table, 1, 0.5, &record, 1.3, &changed, &occurred, 0, 0), 2.0);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(occurred, 0);
}

TEST_F(EventTest, IntegerTimeEventRegistersTheFirstTimeAtWhichTheIntegerPartDiffers) {
  struct Case {
    int32_t divide;
    double a, time;
  };
  const Case cases[] = {
      {1, 0.5, 1.2}, {1, 0.7, 2.0},       {0, 0.7, 3.5},  {1, -0.5, 1.2},
      {0, 4.0, 0.3}, {1, 1.0 / 3.0, 2.2}, {0, -2.0, 0.3}, {1, 0.25, -1.1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.divide) + " " + std::to_string(c.a) + " " +
                 std::to_string(c.time));
    entries[0] = {};
    eventAt(c.time);
    const auto part = [&](double t) { return std::floor(c.divide != 0 ? t / c.a : t * c.a); };
    int32_t changed = 0;
    const double r =
        integerTimeEventIn(table, c.divide, c.a, &record, c.time, &changed, nullptr, 0, 0);
    EXPECT_EQ(r, part(c.time));
    EXPECT_EQ(entries[0].sampleNextTick, r >= 0.0 ? r + 1.0 : r);
    const double next = DUSER[kDuserNextTimeEvent];
    EXPECT_GT(next, c.time);
    EXPECT_NE(part(next), r);
    EXPECT_EQ(part(std::nextafter(next, -INFINITY)), r);
  }
}

TEST_F(EventTest, IntegerTimeEventCommitsItsValueOnlyInEventCalls) {
  int32_t changed = 0;
  integerTimeEventIn(table, 1, 0.5, &record, 0.2, &changed, nullptr, 0, 0);
  ASSERT_EQ(entries[0].sampleNextTick, 1.0);
  // A plain evaluation past the change reports it but keeps the stored value
  // for the event call at that time.
  record.eventFlag = 0;
  changed = 0;
  EXPECT_EQ(integerTimeEventIn(table, 1, 0.5, &record, 0.5, &changed, nullptr, 0, 1), 1.0);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(entries[0].sampleNextTick, 1.0);
  EXPECT_EQ(entries[0].sampleLastTick, 2.0);
  EXPECT_EQ(messages, (std::vector<Message>{{"Time event at time: 0.5", 0}}));
  eventAt(0.5);
  changed = 0;
  EXPECT_EQ(integerTimeEventIn(table, 1, 0.5, &record, 0.5, &changed, nullptr, 0, 0), 1.0);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(entries[0].sampleNextTick, 2.0);
  // The later passes of the event find it settled.
  record.iteration = 2;
  changed = 0;
  integerTimeEventIn(table, 1, 0.5, &record, 0.5, &changed, nullptr, 0, 0);
  EXPECT_EQ(changed, 0);
  // Without a change flag nothing is evaluated.
  eventAt(5.0);
  EXPECT_EQ(integerTimeEventIn(table, 1, 0.5, &record, 5.0, nullptr, nullptr, 0, 0), 0.0);
  EXPECT_EQ(entries[0].sampleNextTick, 2.0);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
}

// ---------------------------------------------------------------------------
// Memory argument, resources, clock
// ---------------------------------------------------------------------------

TEST_F(EventTest, MemoryArgumentMustBeAVector) {
  double memory[2] = {7.0, 8.0};
  EXPECT_EQ(getMemory(memory, 2, 1), 7.0);
  EXPECT_EQ(putMemory(1, memory, 1, 2, 5.0), 0.0);
  EXPECT_EQ(memory[0], 5.0);
  EXPECT_EQ(putMemory(0, memory, 2, 1, 9.0), 0.0);
  EXPECT_EQ(memory[0], 5.0);
  EXPECT_TRUE(messages.empty());

  struct Case {
    double *memory;
    int32_t first, second;
  };
  const Case cases[] = {{memory, 1, 1}, {nullptr, 2, 1}};
  for (const Case &c : cases) {
    messages.clear();
    EXPECT_FALSE(completes([&] { getMemory(c.memory, c.first, c.second); }));
    EXPECT_EQ(messages, modelError("Memory argument to getMemory must be a vector."));
    messages.clear();
    EXPECT_FALSE(completes([&] { putMemory(1, c.memory, c.first, c.second, 9.0); }));
    EXPECT_EQ(messages, modelError("Memory argument to putMemory must be a vector."));
  }
  EXPECT_EQ(memory[0], 5.0);
}

TEST(ModelResourcePath, IsTheResourcesFolderWithoutAnInstance) {
  EXPECT_STREQ(getModelResourcePath(), getResourcePath(nullptr));
}

struct ClockCall {
  double *start;
  int32_t elapsed;
};
std::vector<ClockCall> clockCalls;
double scriptedClock(double *start, int32_t elapsed) {
  clockCalls.push_back({start, elapsed});
  if (elapsed == 0) {
    if (start != nullptr) *start = 100.0;
    return 100.0;
  }
  return start != nullptr ? 250.0 - *start : -1.0;
}

TEST(RuntimeClock, MeasuresMillisecondsAndElapsedSeconds) {
  double start = 0.0;
  const double now = runtimeClock(&start, 0);
  EXPECT_EQ(start, now);
  EXPECT_GE(now, 0.0);
  // One second earlier than the stored start: at least one second elapsed.
  start = now - 1000.0;
  EXPECT_GE(runtimeClock(&start, 1), 1.0);
  // A null start counts from 0.
  const double before = clockValue();
  const double sinceZero = runtimeClock(nullptr, 1);
  const double after = clockValue();
  EXPECT_GE(sinceZero, before * 0.001);
  EXPECT_LE(sinceZero, after * 0.001);
  EXPECT_GE(runtimeClock(nullptr, 0), 0.0);
}

TEST(RuntimeClock, ACallbackAnswersForTheClockAndStartsElapsedSinceFirstCall) {
  clockCalls.clear();
  ASSERT_EQ(setRuntimeClockCallback(&scriptedClock), nullptr);
  double start = 1.0;
  EXPECT_EQ(runtimeClock(&start, 1), 249.0);
  ASSERT_EQ(clockCalls.size(), 1u);
  EXPECT_EQ(clockCalls[0].start, &start);
  EXPECT_EQ(clockCalls[0].elapsed, 1);
  // The first call of the process starts the clock and answers its raw
  // value; later calls answer the time since then.
  EXPECT_EQ(elapsedSinceFirstCall(), 100.0);
  EXPECT_EQ(elapsedSinceFirstCall(), 150.0);
  EXPECT_EQ(elapsedSinceFirstCall(), 150.0);
  ASSERT_EQ(clockCalls.size(), 4u);
  EXPECT_EQ(clockCalls[1].elapsed, 0);
  EXPECT_EQ(clockCalls[2].elapsed, 1);
  EXPECT_EQ(setRuntimeClockCallback(nullptr), &scriptedClock);
}

} // namespace
