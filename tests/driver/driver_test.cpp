#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/delay.h"
#include "source/dsblock5/dsblock.h"
#include "source/dsblock5/model_interface.h"
#include "source/dsblock5/runcontrol.h"
#include "source/kernel.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/fake_model.h"

namespace {

using namespace drivertest;

// Texts of level 0 only (the driver's own messages).
std::vector<std::string> driverMessages() {
  std::vector<std::string> out;
  for (const Message &m : messages)
    if (m.level == 0) out.push_back(m.text);
  return out;
}

// ---------------------------------------------------------------------------
// Passes and the pass limit.
// ---------------------------------------------------------------------------

TEST_F(DriverTest, InitialCallPreparesTheInstanceAndNeedsASecondPass) {
  IUSER[kIuserOptions] = 0x7;
  IUSER[kIuserInitialWord] = 3;
  data.profileBlocks[0].callCount = 9;
  time = 1.5;
  EXPECT_EQ(call(0), 0);
  EXPECT_EQ(data.profileBlocks[0].callCount, 0);
  ASSERT_NE(data.profileBlocks[0].name, nullptr);
  EXPECT_STREQ(data.profileBlocks[0].name, "");
  EXPECT_EQ(IUSER[kIuserInitialWord], 0);
  ASSERT_EQ(fakeModel.evaluations.size(), 2u);
  EXPECT_EQ(fakeModel.evaluations[0].initial, 1);
  EXPECT_EQ(fakeModel.evaluations[0].parametersChanged, 1);
  EXPECT_EQ(fakeModel.evaluations[1].initial, 0);
  EXPECT_EQ(fakeModel.evaluations[1].iteration, 1);
  EXPECT_EQ(data.initCount, 1);
  EXPECT_EQ(data.iterationLimit, 25);
  EXPECT_EQ(data.initialTime, 1.5);
  EXPECT_EQ(data.timeMarkers[0], -1e33);
  EXPECT_EQ(data.timeMarkers[1], -1e33);
  EXPECT_EQ(data.tailMarker, -1e33);
  EXPECT_EQ(IUSER[kIuserOptions], 0);
  EXPECT_EQ(IUSER[kIuserChangeCount], 1);
  EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
  EXPECT_NE(data.delayBuffers[0].times, nullptr);
  EXPECT_EQ(data.delayBuffers[0].size, Buffersize);
  EXPECT_EQ(computedLevel, 0);
  EXPECT_EQ(data.eventPhase, 0);
  EXPECT_EQ(data.busy, 0);
  EXPECT_TRUE(driverMessages().empty());
}

TEST_F(DriverTest, PassCountFollowsTheRequestsForMorePasses) {
  struct Case {
    int32_t request;
    int passesAsked; // passes in which the equations set needPass
    size_t evaluations;
    int32_t eventCount;
  };
  const Case cases[] = {
      {5, 0, 1, 1},
      {5, 3, 4, 4},
      {5, 24, 25, 25},
      {1, 0, 1, 0},
  };
  ASSERT_EQ(call(0), 0);
  for (const Case &c : cases) {
    SCOPED_TRACE("request " + std::to_string(c.request) + ", passes asked " +
                 std::to_string(c.passesAsked));
    fakeModel.reset();
    data.eventCount = 0;
    int asked = 0;
    fakeModel.body = [&](FakeCall &call) {
      if (asked < c.passesAsked) {
        ++asked;
        call.instance->needPass = 1;
      }
    };
    EXPECT_EQ(call(c.request), 0);
    EXPECT_EQ(fakeModel.evaluations.size(), c.evaluations);
    EXPECT_EQ(data.eventCount, c.eventCount);
    EXPECT_EQ(computedLevel, c.request);
    EXPECT_EQ(data.eventThisCall, c.passesAsked > 0 || c.request == 5 ? 1 : 0);
  }
}

TEST_F(DriverTest, TwentySixthPassFailsWithTheRestartMessages) {
  ASSERT_EQ(call(0), 0);
  fakeModel.reset();
  messages.clear();
  fakeModel.body = [](FakeCall &call) { call.instance->needPass = 1; };
  time = 2.5;
  EXPECT_EQ(call(5), 1);
  EXPECT_EQ(fakeModel.evaluations.size(), 26u);
  EXPECT_EQ(data.status, 1);
  EXPECT_EQ(data.busy, 0);
  EXPECT_EQ(IUSER[kIuserOptions] & 2, 2); // the last pass is logged
  const std::vector<std::string> expected = {
      "", "On the final iteration for restart conditions we get:",
      "", "ERROR: Finding consistent restart conditions failed at time:  2.5",
      "",
  };
  EXPECT_EQ(driverMessages(), expected);
}

TEST_F(DriverTest, SettledTwentySixthPassStillFails) {
  ASSERT_EQ(call(0), 0);
  fakeModel.reset();
  int asked = 0;
  fakeModel.body = [&](FakeCall &call) {
    if (asked++ < 25) call.instance->needPass = 1;
  };
  EXPECT_EQ(call(5), 1);
  EXPECT_EQ(fakeModel.evaluations.size(), 26u);
}

TEST_F(DriverTest, RelationChangesForcePassesBeyondTheLimitButNotForever) {
  ASSERT_EQ(call(0), 0);
  // Passes forced by changed relations run on beyond the limit of 25 until
  // the relations settle; a call that needed more than 25 passes still fails.
  fakeModel.reset();
  int changes = 0;
  fakeModel.body = [&](FakeCall &call) { call.instance->relationChanged = changes++ < 30 ? 1 : 0; };
  EXPECT_EQ(call(5), 1);
  EXPECT_EQ(fakeModel.evaluations.size(), 31u);
  // A model that never stops reporting changes is stopped.
  fakeModel.reset();
  fakeModel.body = [](FakeCall &call) { call.instance->relationChanged = 1; };
  EXPECT_EQ(call(5), 1);
  EXPECT_EQ(fakeModel.evaluations.size(), 1000u);
}

TEST_F(DriverTest, EventLoggingReportsEachExtraPassAndTheEventTime) {
  ASSERT_EQ(call(0), 0);
  fakeModel.reset();
  messages.clear();
  IUSER[kIuserOptions] = kOptionLogEvents;
  int asked = 0;
  fakeModel.body = [&](FakeCall &call) {
    if (asked++ < 2) call.instance->needPass = 1;
  };
  time = 0.25;
  EXPECT_EQ(call(5), 0);
  const std::vector<std::string> expected = {
      "Iterating to find consistent restart conditions.",
      "Iterating to find consistent restart conditions.",
      "      during event at Time :  0.25",
  };
  EXPECT_EQ(driverMessages(), expected);
}

TEST_F(DriverTest, UnfinishedIterationInPhaseTwoReturnsToTheCaller) {
  ASSERT_EQ(call(0), 0);
  fakeModel.reset();
  fakeModel.body = [](FakeCall &call) { call.instance->needPass = 1; };
  data.eventPhase = 2;
  EXPECT_EQ(call(5), 0);
  EXPECT_EQ(fakeModel.evaluations.size(), 1u);
  EXPECT_EQ(data.eventPhase, 3);
  // Phase 3: one pass per call, the counter runs on.
  EXPECT_EQ(call(5), 0);
  EXPECT_EQ(data.iteration, 2);
  EXPECT_EQ(data.eventPhase, 3);
  fakeModel.body = nullptr;
  EXPECT_EQ(call(5), 0);
  EXPECT_EQ(data.eventPhase, 0);
  EXPECT_EQ(computedLevel, 5);
}

TEST_F(DriverTest, ParameterChangeMakesAnEventCall) {
  ASSERT_EQ(call(0), 0);
  ASSERT_EQ(call(2), 0);
  ASSERT_EQ(computedLevel, 2);
  EXPECT_EQ(fakeModel.evaluations.back().eventFlag, 0);
  DUSER[kDuserNextTimeEvent] = 7.0;
  IUSER[kIuserChangeCount] += 1;
  computedLevel = 2;
  fakeModel.reset();
  fakeModel.body = [this](FakeCall &call) {
    EXPECT_EQ(*call.computedLevel, 0);
    EXPECT_EQ(DUSER[kDuserNextTimeEvent], 1e100);
  };
  EXPECT_EQ(call(2), 0);
  ASSERT_EQ(fakeModel.evaluations.size(), 1u);
  EXPECT_EQ(fakeModel.evaluations[0].eventFlag, 1);
  EXPECT_EQ(fakeModel.evaluations[0].parametersChanged, 1);
  EXPECT_EQ(IUSER[kIuserEventFlag], 1);
}

TEST_F(DriverTest, InlineIntegrationTurnsAnEventRequestIntoAPlainEvaluation) {
  struct Case {
    bool equationsAskForAPass;
    std::vector<int32_t> requestsEvaluated;
    std::vector<int32_t> eventFlags;
    int32_t finalRequest;
  };
  const Case cases[] = {
      {false, {4}, {0}, 4}, {true, {4, 5}, {0, 1}, 5}, // a pass asked for makes it an event call
  };
  ASSERT_EQ(call(0), 0);
  data.inlineIntegration = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.equationsAskForAPass);
    fakeModel.reset();
    bool asked = false;
    fakeModel.body = [&](FakeCall &call) {
      if (c.equationsAskForAPass && !asked) {
        asked = true;
        call.instance->needPass = 1;
      }
    };
    time = 1.0;
    DUSER[kDuserNextTimeEvent] = 2.0; // no time event reached
    EXPECT_EQ(call(5), 0);
    std::vector<int32_t> requests, flags;
    for (const FakeEvaluation &e : fakeModel.evaluations) {
      requests.push_back(e.request);
      flags.push_back(e.eventFlag);
    }
    EXPECT_EQ(requests, c.requestsEvaluated);
    EXPECT_EQ(flags, c.eventFlags);
    EXPECT_EQ(lastRequest, c.finalRequest);
    EXPECT_EQ(computedLevel, c.finalRequest);
  }
}

// ---------------------------------------------------------------------------
// QiErr of each path.
// ---------------------------------------------------------------------------

TEST_F(DriverTest, QiErrOfEachPath) {
  struct Case {
    const char *name;
    std::function<void(FakeCall &)> body;
    int32_t expected;
    int32_t status;
  };
  const Case cases[] = {
      {"success", [](FakeCall &) {}, 0, 0},
      {"model error", [](FakeCall &) { raiseModelError("broken"); }, 1, 1},
      {"failed assertion", [](FakeCall &) { runtimeAssert(0, "x>0", "x must be positive"); }, 1, 1},
      {"equations report 2", [](FakeCall &c) { *c.QiErr = 2; }, 2, 0},
      {"terminated by the model", [](FakeCall &) { terminateModel("done"); }, -999, -999},
      {"run control", [](FakeCall &) { runControlStatus(); }, -998, -998},
      {"homotopy step outside the method", [](FakeCall &c) { c.instance->status = -996; }, -996,
       -996},
  };
  ASSERT_EQ(call(0), 0);
  time = 1.0; // past the initial time: no homotopy fallback
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fakeModel.reset();
    fakeModel.body = c.body;
    EXPECT_EQ(call(5), c.expected);
    EXPECT_EQ(data.status, c.status);
    EXPECT_EQ(data.busy, 0);
  }
}

TEST_F(DriverTest, TerminateLogsOnce) {
  ASSERT_EQ(call(0), 0);
  fakeModel.reset();
  messages.clear();
  fakeModel.body = [](FakeCall &) {
    terminateModel("level reached");
    terminateModel("again");
  };
  EXPECT_EQ(call(5), -999);
  const std::vector<std::string> expected = {"Simulation successfully terminated", "level reached"};
  EXPECT_EQ(driverMessages(), expected);
}

TEST_F(DriverTest, FailedDelayAllocationAtTheInitialCallReturnsMinus500) {
  const int32_t saved = Buffersize;
  Buffersize = 0; // no ring can be allocated
  EXPECT_EQ(call(0), -500);
  Buffersize = saved;
  EXPECT_TRUE(fakeModel.evaluations.empty());
  EXPECT_EQ(data.delayBuffers[0].times, nullptr);
  EXPECT_EQ(data.busy, 0);
  // The next initial call allocates and evaluates.
  EXPECT_EQ(call(0), 0);
  EXPECT_NE(data.delayBuffers[0].times, nullptr);
}

TEST_F(DriverTest, ModelErrorAfterTheInitialTimeStartsNoHomotopy) {
  fakeModel.body = [](FakeCall &c) {
    homotopy(1.0, 0.0, c.instance);
    if (c.instance->initial == 0) raiseModelError("late failure");
  };
  ASSERT_EQ(call(0), 0);
  messages.clear();
  time = 0.5;
  EXPECT_EQ(call(2), 1);
  EXPECT_EQ(data.inHomotopy, 0);
  EXPECT_TRUE(driverMessages().empty());
}

// ---------------------------------------------------------------------------
// Homotopy.
// ---------------------------------------------------------------------------

// Mimics a model that uses homotopy: the actual problem fails (a model error
// when `fails` says so), and each evaluation during the method ends as a
// homotopy step while lambda is below 1.
std::function<void(FakeCall &)>
homotopyModel(std::function<bool(double lambda, int attempt)> fails) {
  auto attempts = std::make_shared<int>(0);
  return [fails, attempts](FakeCall &c) {
    ModelInstanceData *d = c.instance;
    homotopy(1.0, 0.0, d);
    if (d->initial == 1) d->needPass = 1;
    if (fails(d->lambda, (*attempts)++)) raiseModelError("no solution");
    if (d->inHomotopy != 0) {
      if (d->lambda < 1.0) {
        if (d->status == 0) d->status = -996;
      } else {
        d->inHomotopy = 0; // the initial part at lambda 1 ends the method
      }
    }
  };
}

std::vector<double> lambdasEvaluated() {
  std::vector<double> out;
  for (const FakeEvaluation &e : fakeModel.evaluations) out.push_back(e.lambda);
  return out;
}

void expectLambdas(const std::vector<double> &actual, const std::vector<double> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k)
    EXPECT_NEAR(actual[k], expected[k], 1e-12) << "evaluation " << k;
}

TEST_F(DriverTest, HomotopyStepsLambdaFromZeroToOne) {
  fakeModel.body =
      homotopyModel([](double lambda, int attempt) { return attempt == 0 && lambda == 1.0; });
  EXPECT_EQ(call(0), 0);
  // The failed actual problem, lambda 0, 0.1 ... 0.9, 1 and the second pass.
  expectLambdas(lambdasEvaluated(),
                {1.0, 0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.0});
  EXPECT_EQ(fakeModel.restartLambdas.size(), 11u);
  EXPECT_EQ(data.inHomotopy, 0);
  EXPECT_EQ(data.lambda, 1.0);
  const std::vector<std::string> expected = {
      "Trying to solve non-linear system using global homotopy-method."};
  EXPECT_EQ(driverMessages(), expected);
}

TEST_F(DriverTest, HomotopyHalvesTheStepAfterAFailureAndDoublesItLater) {
  bool failedOnce = false;
  fakeModel.body = homotopyModel([&](double lambda, int attempt) {
    if (attempt == 0) return true;
    if (!failedOnce && std::fabs(lambda - 0.3) < 1e-9) {
      failedOnce = true;
      return true;
    }
    return false;
  });
  EXPECT_EQ(call(0), 0);
  // After the failure at 0.3: retry at 0.25 with step 0.05; once lambda has
  // progressed more than six steps beyond the last good value (0.2) the step
  // doubles back to 0.1.
  expectLambdas(lambdasEvaluated(), {1.0, 0.0, 0.1, 0.2, 0.3, 0.25, 0.3, 0.35, 0.4, 0.45, 0.5, 0.55,
                                     0.65, 0.75, 0.85, 0.95, 1.0, 1.0});
  const std::vector<std::string> expected = {
      "Trying to solve non-linear system using global homotopy-method.",
      "Error: reducing step size for homotopy."};
  EXPECT_EQ(driverMessages(), expected);
  EXPECT_NEAR(data.lastGoodLambda, 0.2, 1e-12);
}

TEST_F(DriverTest, HomotopyGivesUpWithItsMessages) {
  struct Case {
    const char *name;
    std::function<bool(double, int)> fails;
    const char *message;
  };
  const Case cases[] = {
      {"simplified problem fails", [](double, int) { return true; },
       "Error: could not solve simplified initialization for homotopy method."},
      {"no step from the simplified problem", [](double lambda, int) { return lambda > 0.0; },
       "Error: adaptive homotopy method could not start using actual - check "
       "that actual and simplified arguments are similar."},
      {"stuck after starting", [](double lambda, int) { return lambda > 0.45; },
       "Error: adaptive homotopy method got stuck after starting. Can set "
       "scripting flag Advanced.DebugHomotopy=true; simulate again, and open "
       "continuation.csv to investigate"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    resetInstanceData(&data);
    initInstanceData(&data);
    fakeModel.reset();
    messages.clear();
    fakeModel.body = homotopyModel(c.fails);
    EXPECT_EQ(call(0), 1);
    const std::vector<std::string> texts = driverMessages();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Trying to solve non-linear system using global homotopy-method.");
    EXPECT_EQ(texts.back(), c.message);
    EXPECT_EQ(data.inHomotopy, 1);
    EXPECT_EQ(data.busy, 0);
    // One start per initial call: failing again does not restart it.
    messages.clear();
    EXPECT_EQ(call(5), 1);
    EXPECT_EQ(data.homotopyTriedAt, data.initCount);
  }
}

TEST_F(DriverTest, ModelErrorInTheRestartHookEndsInErrorRecovery) {
  fakeModel.body = homotopyModel([](double lambda, int) { return lambda == 1.0; });
  fakeModel.restartBody = [](ModelInstanceData *) { raiseModelError("restart failed"); };
  EXPECT_EQ(call(0), 1);
  // Only the failed actual problem was evaluated; the announcement of
  // lambda 0 failed, and the simplified problem counts as unsolved.
  EXPECT_EQ(fakeModel.evaluations.size(), 1u);
  EXPECT_EQ(fakeModel.restartLambdas, std::vector<double>{0.0});
  const std::vector<std::string> expected = {
      "Trying to solve non-linear system using global homotopy-method.",
      "Error: could not solve simplified initialization for homotopy method."};
  EXPECT_EQ(driverMessages(), expected);
  EXPECT_EQ(data.status, 1);
  EXPECT_EQ(data.busy, 0);
}

TEST_F(DriverTest, EquationFailureCodeStartsHomotopyToo) {
  fakeModel.body = [](FakeCall &c) {
    ModelInstanceData *d = c.instance;
    homotopy(1.0, 0.0, d);
    if (d->initial == 1) d->needPass = 1;
    if (d->inHomotopy == 0 && d->lambda == 1.0 && d->homotopyTriedAt == 0) {
      *c.QiErr = 3;
      return;
    }
    if (d->inHomotopy != 0) {
      if (d->lambda < 1.0)
        d->status = -996;
      else
        d->inHomotopy = 0;
    }
  };
  EXPECT_EQ(call(0), 0);
  expectLambdas(lambdasEvaluated(),
                {1.0, 0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.0});
}

TEST(Homotopy, BlendsSimplifiedAndActual) {
  ModelInstanceData *d = &defaultInstanceData;
  const double savedLambda = d->lambda;
  d->lambda = 0.25;
  EXPECT_DOUBLE_EQ(homotopy(8.0, 4.0, nullptr), 0.75 * 4.0 + 0.25 * 8.0);
  EXPECT_EQ(d->usesHomotopy, 1);
  d->usesHomotopy = 0;
  d->lambda = savedLambda;
}

// ---------------------------------------------------------------------------
// Re-entrance and the thread's binding.
// ---------------------------------------------------------------------------

TEST_F(DriverTest, NestedCallsAreRefusedExceptInitialAndAuxiliaries) {
  ASSERT_EQ(call(0), 0);
  struct Nested {
    int32_t request;
    int32_t qiErrBefore;
    int32_t expected;
    bool evaluates;
  };
  const Nested cases[] = {
      {1, 0, 1, false}, {2, 0, 1, false}, {5, 0, 1, false}, {3, 42, 42, false}, // untouched
      {0, 0, 0, true},
  };
  for (const Nested &n : cases) {
    SCOPED_TRACE("nested request " + std::to_string(n.request));
    fakeModel.reset();
    int32_t nestedQiErr = n.qiErrBefore;
    size_t evaluationsBefore = 0;
    size_t evaluationsAfter = 0;
    bool busyAfter = false;
    bool stillBound = false;
    fakeModel.body = [&](FakeCall &c) {
      if (fakeModel.evaluations.size() != 1) return;
      evaluationsBefore = fakeModel.evaluations.size();
      int32_t req = n.request;
      int32_t level = 0;
      dsblockInstance_(&req, &level, c.time, X, nullptr, U, DP, nullptr, nullptr, F, Y, W, Z, DUSER,
                       IUSER, nullptr, c.instance, &nestedQiErr);
      evaluationsAfter = fakeModel.evaluations.size();
      busyAfter = c.instance->busy == 1;
      stillBound = getStatusPointer() == &c.instance->status;
    };
    EXPECT_EQ(call(5), 0);
    EXPECT_EQ(nestedQiErr, n.expected);
    EXPECT_EQ(evaluationsAfter > evaluationsBefore, n.evaluates);
    EXPECT_TRUE(busyAfter);  // the running evaluation keeps its guard
    EXPECT_TRUE(stillBound); // and its binding
    EXPECT_EQ(data.busy, 0);
  }
}

TEST_F(DriverTest, NestedEvaluationOfAnotherInstanceKeepsTheOuterBinding) {
  std::unique_ptr<ModelInstanceData> other{new ModelInstanceData};
  initInstanceData(other.get());
  ASSERT_EQ(call(0), 0);
  ASSERT_EQ(call(0, other.get()), 0);
  int32_t innerQiErr = 0;
  fakeModel.reset();
  fakeModel.body = [&](FakeCall &c) {
    if (c.instance != &data) return;
    int32_t req = 5;
    int32_t level = 0;
    double innerTime = 9.0;
    dsblockInstance_(&req, &level, &innerTime, X, nullptr, U, DP, nullptr, nullptr, F, Y, W, Z,
                     DUSER, IUSER, nullptr, other.get(), &innerQiErr);
    // The error of the outer evaluation belongs to the outer instance.
    raiseModelError("outer failure");
  };
  time = 3.0;
  EXPECT_EQ(call(5), 1);
  EXPECT_EQ(innerQiErr, 0);
  EXPECT_EQ(other->time, 9.0);
  EXPECT_EQ(data.status, 1);
  EXPECT_EQ(other->status, 0);
  // The report carried the outer instance's time.
  bool sawOuterTime = false;
  for (const Message &m : messages)
    if (m.text.find("detected at time: 3") != std::string::npos) sawOuterTime = true;
  EXPECT_TRUE(sawOuterTime);
  resetInstanceData(other.get());
}

TEST_F(DriverTest, NothingStaysBoundAfterTheCall) {
  ThreadContext *context = getThreadContext();
  ASSERT_NE(context, nullptr);
  context->currentInstance = nullptr;
  time = 4.0;
  ASSERT_EQ(call(0), 0);
  EXPECT_EQ(context->currentInstance, nullptr);
  fakeModel.body = [](FakeCall &) { raiseModelError("fails"); };
  time = 5.0;
  EXPECT_EQ(call(5), 1);
  EXPECT_EQ(context->currentInstance, nullptr);
  EXPECT_EQ(getStatusPointer(), &defaultInstanceData.status);
  EXPECT_EQ(getCurrentTime(), defaultInstanceData.time);
}

TEST_F(DriverTest, AccessorsSeeTheInstanceUnderEvaluation) {
  double seenTime = 0.0;
  int32_t seenFlag = -1;
  double *seenDuser = nullptr;
  fakeModel.body = [&](FakeCall &c) {
    seenTime = getCurrentTime();
    seenFlag = getEventFlag();
    seenDuser = getInstanceDUSER(c.instance);
  };
  ASSERT_EQ(call(0), 0);
  time = 6.5;
  ASSERT_EQ(call(5), 0);
  EXPECT_EQ(seenTime, 6.5);
  EXPECT_EQ(seenFlag, 1);
  EXPECT_EQ(seenDuser, DUSER);
  data.duser = nullptr;
  EXPECT_EQ(getInstanceDUSER(&data), getDUSER());
  EXPECT_EQ(getInstanceDUSER(nullptr), getDUSER());
}

TEST_F(DriverTest, DsblockEvaluatesTheDefaultRecord) {
  int32_t status = 0;
  for (int32_t request : {0, 5}) {
    int32_t req = request;
    time = 7.25;
    dsblock_(&req, &computedLevel, &time, X, nullptr, U, DP, nullptr, nullptr, F, Y, W, Z, DUSER,
             IUSER, nullptr, &status);
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(fakeModel.evaluations.size(), 3u);
  EXPECT_EQ(defaultInstanceData.time, 7.25);
  EXPECT_EQ(defaultInstanceData.busy, 0);
  EXPECT_NE(defaultInstanceData.delayBuffers[0].times, nullptr);
  resetDefaultInstanceData();
  EXPECT_EQ(defaultInstanceData.delayBuffers[0].times, nullptr);
}

} // namespace
