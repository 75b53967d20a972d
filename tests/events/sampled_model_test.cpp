// The sampled test model driven through dsblockInstance_: sample events and
// the integer part of time through the event iteration, two instances at
// once (interleaved and on two threads), and the fixed-step event approach
// at the end of every call.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "source/dsblock5/dsblock.h"
#include "source/kernel.h"
#include "source/runtime_messages.h"
#include "tests/events/sampled_model.h"

namespace {

class SampledModelTest : public ::testing::Test {
protected:
  void SetUp() override { setRuntimeMessageHook(nullptr); }
  void TearDown() override { setUserArrays(nullptr, nullptr); }
};

void expectTimes(const std::vector<double> &actual, const std::vector<double> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t k = 0; k < actual.size(); ++k) EXPECT_NEAR(actual[k], expected[k], 1e-12) << k;
}

// Instance A: ticks every 0.1 from 0, integer part of time/0.25.
std::unique_ptr<SampledInstance> makeA() { return makeSampledInstance(0.0, 0.1, 0.25); }
// Instance B: ticks every 0.3 from 0.05, integer part of time/0.4.
std::unique_ptr<SampledInstance> makeB() { return makeSampledInstance(0.05, 0.3, 0.4); }

// The events of an instance that is the only one: the kernel context holds
// its own work arrays.
std::vector<double> runAlone(SampledInstance &m, double tEnd) {
  setUserArrays(m.DUSER, m.IUSER);
  std::vector<double> times = runSampledEvents(m, 0.0, tEnd);
  setUserArrays(nullptr, nullptr);
  return times;
}

TEST_F(SampledModelTest, EventsOfOneInstanceFollowItsTicksAndItsIntegerPart) {
  auto a = makeA();
  expectTimes(runSampledEvents(*a, 0.0, 1.0),
              {0.0, 0.1, 0.2, 0.25, 0.3, 0.4, 0.5, 0.6, 0.7, 0.75, 0.8, 0.9, 1.0});
  EXPECT_EQ(a->ticks, 11);
  EXPECT_EQ(a->integerPart, 4.0);
  EXPECT_EQ(a->integerChanges, 5);
  EXPECT_EQ(a->data.eventPhase, 0);

  auto b = makeB();
  expectTimes(runSampledEvents(*b, 0.0, 1.0), {0.0, 0.05, 0.35, 0.4, 0.65, 0.8, 0.95});
  EXPECT_EQ(b->ticks, 4);
  EXPECT_EQ(b->integerPart, 2.0);
  EXPECT_EQ(b->integerChanges, 3);
}

TEST_F(SampledModelTest, APlainEvaluationAtATickDoesNotTakeItFromTheEventCall) {
  auto a = makeA();
  ASSERT_EQ(evaluateSampled(*a, kRequestInitial, 0.0), 0);
  ASSERT_EQ(a->ticks, 1);
  ASSERT_EQ(a->DUSER[kDuserNextTimeEvent], 0.1);
  // The host asks for derivatives at the event time before the event.
  ASSERT_EQ(evaluateSampled(*a, kRequestDerivatives, 0.1), 0);
  EXPECT_EQ(a->ticks, 1);
  ASSERT_EQ(evaluateSampled(*a, kRequestEvent, 0.1), 0);
  EXPECT_EQ(a->ticks, 2);
  EXPECT_NEAR(a->tickTimes[1], 0.1, 1e-15);
  EXPECT_NEAR(a->DUSER[kDuserNextTimeEvent], 0.2, 1e-15);
}

TEST_F(SampledModelTest, InterleavedInstancesKeepTheirEventTimesApart) {
  auto soloA = makeA();
  auto soloB = makeB();
  const std::vector<double> expectedA = runAlone(*soloA, 3.0);
  const std::vector<double> expectedB = runAlone(*soloB, 3.0);

  auto a = makeA();
  auto b = makeB();
  setUserArrays(b->DUSER, b->IUSER); // B was instantiated last
  ASSERT_EQ(evaluateSampled(*a, kRequestInitial, 0.0), 0);
  ASSERT_EQ(evaluateSampled(*b, kRequestInitial, 0.0), 0);
  std::vector<double> timesA{0.0}, timesB{0.0};
  for (bool moved = true; moved;) {
    moved = false;
    for (auto [m, times] : {std::pair{a.get(), &timesA}, std::pair{b.get(), &timesB}}) {
      const double next = m->DUSER[kDuserNextTimeEvent];
      if (!(next <= 3.0)) continue;
      ASSERT_EQ(evaluateSampled(*m, kRequestEvent, next), 0);
      times->push_back(next);
      moved = true;
    }
  }
  EXPECT_EQ(timesA, expectedA);
  EXPECT_EQ(timesB, expectedB);
  EXPECT_EQ(a->ticks, soloA->ticks);
  EXPECT_EQ(b->ticks, soloB->ticks);
}

TEST_F(SampledModelTest, InstancesOnTwoThreadsKeepTheirEventTimesApart) {
  auto soloA = makeA();
  auto soloB = makeB();
  std::vector<double> expectedA = runAlone(*soloA, 30.0);
  std::vector<double> expectedB = runAlone(*soloB, 30.0);
  expectedA.erase(expectedA.begin());
  expectedB.erase(expectedB.begin());

  auto a = makeA();
  auto b = makeB();
  setUserArrays(b->DUSER, b->IUSER);
  // The initial calls write the process-wide model counts, so they run
  // before the threads start.
  ASSERT_EQ(evaluateSampled(*a, kRequestInitial, 0.0), 0);
  ASSERT_EQ(evaluateSampled(*b, kRequestInitial, 0.0), 0);
  std::vector<double> timesA, timesB;
  std::thread threadA([&] { timesA = continueSampledEvents(*a, 30.0); });
  std::thread threadB([&] { timesB = continueSampledEvents(*b, 30.0); });
  threadA.join();
  threadB.join();
  EXPECT_EQ(timesA, expectedA);
  EXPECT_EQ(timesB, expectedB);
  EXPECT_EQ(a->ticks, soloA->ticks);
  EXPECT_EQ(b->ticks, soloB->ticks);
  EXPECT_EQ(b->ticks, 100);
}

TEST_F(SampledModelTest, FixedStepModeShortensTheStepBeforeATick) {
  struct Case {
    int32_t mode;      // IUSER[0]
    double derivative; // F[0] at 0.2 (2 unscaled)
    double factor;     // DUSER[1] at 0.2
  };
  const Case cases[] = {{0, 2.0, 1.0}, {1, 1.0, 0.5}, {2, 2.0, 0.5}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    auto m = makeSampledInstance(0.0, 0.25, 100.0);
    m->IUSER[kIuserFixedStepMode] = c.mode;
    ASSERT_EQ(evaluateSampled(*m, kRequestInitial, 0.0), 0);
    ASSERT_EQ(m->DUSER[kDuserNextTimeEvent], 0.25);
    ASSERT_EQ(evaluateSampled(*m, kRequestEverything, 0.1), 0);
    EXPECT_EQ(m->DUSER[kDuserStepScale], 1.0);
    ASSERT_EQ(evaluateSampled(*m, kRequestEverything, 0.2), 0);
    EXPECT_NEAR(m->F[0], c.derivative, 1e-12);
    EXPECT_NEAR(m->DUSER[kDuserStepScale], c.factor, 1e-12);
    ASSERT_EQ(evaluateSampled(*m, kRequestEverything, 0.3), 0);
    EXPECT_NEAR(m->DUSER[kDuserStepScale], c.mode != 0 ? 1.5 : 1.0, 1e-12);
    EXPECT_EQ(m->data.fixedStepSize, c.mode != 0 ? 0.1 : 0.0);
  }
}

} // namespace
