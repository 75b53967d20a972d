// The failure paths of evaluations, met through the fmi2 functions as a host
// meets them, with the test build of the unit (vornwin3264_injected.so) that
// runs one piece of injected model code before the vessel's equations:
// evaluation memory of failed evaluations, a logger that calls back into the
// unit, the reason of a failed initialization, pending text, the
// function-name stack after a warning and the model's request to end the run.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/fmi/fmi_e2e.h"
#include "tests/fmi/injected/injected_model.h"

namespace {

using e2e::vrLevel;
using fmihost::LogRecord;

fmihost::Fmi2Library &injectedLibrary() {
  static fmihost::Fmi2Library lib(INJECTED_UNIT_SO_PATH);
  return lib;
}

const fmihost::Fmi2Functions &fmi() { return injectedLibrary().fmi; }

void inject(int kind, double fromTime = -std::numeric_limits<double>::infinity()) {
  using Inject = void (*)(int, double);
  static const auto fn =
      reinterpret_cast<Inject>(dlsym(injectedLibrary().handle(), "injectModelCode"));
  ASSERT_NE(fn, nullptr);
  fn(kind, fromTime);
}

class InjectedTest : public ::testing::Test {
protected:
  void SetUp() override {
    inject(kInjectNothing);
    liveBefore_ = fmihost::liveBlocks();
  }
  void TearDown() override {
    inject(kInjectNothing);
    if (c_ != nullptr) fmi().fmi2FreeInstance(c_);
    c_ = nullptr;
    EXPECT_EQ(fmihost::liveBlocks(), liveBefore_) << "blocks leaked";
  }

  fmi2Component instantiate(fmi2Type type, bool loggingOn = true,
                            const fmi2CallbackFunctions *functions = nullptr) {
    c_ = fmi().fmi2Instantiate("tank", type, FMI_MODEL_GUID, nullptr,
                               functions != nullptr ? functions : &host_.functions(), fmi2False,
                               loggingOn ? fmi2True : fmi2False);
    EXPECT_NE(c_, nullptr);
    EXPECT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    return c_;
  }
  // Initialized and in continuous-time mode (Model Exchange) or ready to
  // step (Co-Simulation).
  fmi2Component running(fmi2Type type, bool loggingOn = true,
                        const fmi2CallbackFunctions *functions = nullptr) {
    instantiate(type, loggingOn, functions);
    EXPECT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
    EXPECT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
    if (type == fmi2ModelExchange) {
      fmi2EventInfo info{};
      EXPECT_EQ(fmi().fmi2NewDiscreteStates(c_, &info), fmi2OK);
      EXPECT_EQ(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK);
    }
    return c_;
  }
  // The derivatives at time t, evaluated afresh.
  fmi2Status derivatives(double *der, double t = 0.0) {
    EXPECT_EQ(fmi().fmi2SetTime(c_, t), fmi2OK);
    return fmi().fmi2GetDerivatives(c_, der, 1);
  }
  size_t countMessages(const std::string &text, fmi2Status status) const {
    size_t n = 0;
    for (const LogRecord &m : host_.messages())
      if (m.status == status && m.message.find(text) != std::string::npos) ++n;
    return n;
  }
  size_t countAtLeast(fmi2Status status) const {
    size_t n = 0;
    for (const LogRecord &m : host_.messages())
      if (m.status >= status) ++n;
    return n;
  }

  fmihost::HostCallbacks host_;
  fmi2Component c_ = nullptr;
  size_t liveBefore_ = 0;
};

// ---------------------------------------------------------------------------
// Evaluation memory.
// ---------------------------------------------------------------------------

TEST_F(InjectedTest, FailedEvaluationsGiveTheirEvaluationMemoryBack) {
  const struct {
    const char *name;
    int kind;
  } cases[] = {{"reals", kInjectRealsThenError}, {"string", kInjectStringThenError}};
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    running(fmi2ModelExchange, false);
    inject(k.kind);
    double der = NAN;
    for (int i = 0; i < 600; ++i) {
      ASSERT_EQ(derivatives(&der), fmi2Discard) << i << "\n" << host_.dump();
    }
    EXPECT_EQ(countMessages("injected failure", fmi2Error), 600u) << "every failure is the model's";
    EXPECT_EQ(countMessages("Out of memory", fmi2Error), 0u);
    inject(kInjectNothing);
    EXPECT_EQ(derivatives(&der), fmi2OK) << host_.dump();
    EXPECT_TRUE(std::isfinite(der));

    // Another instance on the same thread initializes.
    fmihost::HostCallbacks other;
    fmi2Component second = fmi().fmi2Instantiate("second", fmi2ModelExchange, FMI_MODEL_GUID,
                                                 nullptr, &other.functions(), fmi2False, fmi2False);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(fmi().fmi2EnterInitializationMode(second), fmi2OK) << other.dump();
    EXPECT_EQ(fmi().fmi2ExitInitializationMode(second), fmi2OK) << other.dump();
    fmi().fmi2FreeInstance(second);
    fmi().fmi2FreeInstance(c_);
    c_ = nullptr;
    host_.clearMessages();
  }
}

// ---------------------------------------------------------------------------
// A logger that calls back into the unit.
// ---------------------------------------------------------------------------

struct ReadingLogger {
  fmi2Component component = nullptr;
  int reads = 0;
  fmi2Status readStatus = fmi2Fatal;
  double level = NAN;
};
ReadingLogger readingLogger;

// Reads the level (with the injected code switched off, so that the read
// succeeds) from inside the failure message of the evaluation.
void readingLog(fmi2ComponentEnvironment env, fmi2String name, fmi2Status status,
                fmi2String category, fmi2String message, ...) {
  fmihost::HostCallbacks::logger(env, name, status, category, message);
  if (readingLogger.reads == 0 &&
      std::string(message).find("dsblock_ failed") != std::string::npos) {
    ++readingLogger.reads;
    inject(kInjectNothing);
    const fmi2ValueReference vr = vrLevel;
    readingLogger.readStatus =
        fmi().fmi2GetReal(readingLogger.component, &vr, 1, &readingLogger.level);
  }
}

TEST_F(InjectedTest, FailedEvaluationStaysFailedWhenTheLoggerReadsAValue) {
  const fmi2CallbackFunctions functions{readingLog, fmihost::allocateMemory, fmihost::freeMemory,
                                        nullptr, &host_};
  readingLogger = ReadingLogger{};
  readingLogger.component = running(fmi2ModelExchange, true, &functions);
  inject(kInjectError);
  double der = NAN;
  EXPECT_EQ(derivatives(&der), fmi2Discard) << host_.dump();
  EXPECT_EQ(readingLogger.reads, 1);
  EXPECT_EQ(readingLogger.readStatus, fmi2OK);
  EXPECT_NEAR(readingLogger.level, 3.0, 1e-12);
}

// ---------------------------------------------------------------------------
// A failed initialization says why, at the status it returns.
// ---------------------------------------------------------------------------

TEST_F(InjectedTest, UnsettledEventIterationAtExitOfInitializationSaysWhyAtError) {
  for (const fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
    for (const bool loggingOn : {true, false}) {
      SCOPED_TRACE(std::string(type == fmi2ModelExchange ? "ME" : "CS") +
                   (loggingOn ? " logging on" : " logging off"));
      instantiate(type, loggingOn);
      inject(kInjectEndlessPasses);
      EXPECT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
      EXPECT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2Error) << host_.dump();
      EXPECT_EQ(countMessages("restart conditions failed", fmi2Error), 1u) << host_.dump();
      inject(kInjectNothing);
      fmi().fmi2FreeInstance(c_);
      c_ = nullptr;
      host_.clearMessages();
    }
  }
}

// ---------------------------------------------------------------------------
// Messages.
// ---------------------------------------------------------------------------

TEST_F(InjectedTest, FortyPendingMessagesAllArriveInOrder) {
  running(fmi2ModelExchange);
  host_.clearMessages();
  inject(kInjectFortyMessages);
  double der = NAN;
  EXPECT_EQ(derivatives(&der), fmi2OK);
  inject(kInjectNothing);
  EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK); // its first line carries what is still pending
  std::string all;
  for (const LogRecord &m : host_.messages()) all += m.message;
  size_t at = 0;
  for (int i = 0; i < 40; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "message %02d of 40.\n", i);
    const size_t found = all.find(text, at);
    ASSERT_NE(found, std::string::npos) << text << host_.dump();
    at = found + 1;
  }
}

TEST_F(InjectedTest, WarningInsideAFunctionFrameLeavesTheStackForTheLaterError) {
  running(fmi2ModelExchange);
  host_.clearMessages();
  inject(kInjectWarningThenErrorInFrame);
  double der = NAN;
  EXPECT_EQ(derivatives(&der), fmi2Discard);
  EXPECT_EQ(countMessages("injectedFunction", fmi2Warning), 1u) << host_.dump();
  EXPECT_EQ(countMessages("injected failure in a frame", fmi2Error), 1u) << host_.dump();
  EXPECT_EQ(countMessages("The stack of functions is:", fmi2Error), 1u) << host_.dump();
  EXPECT_EQ(countMessages("injectedFunction", fmi2Error), 1u) << host_.dump();
}

// ---------------------------------------------------------------------------
// The model's request to end the run.
// ---------------------------------------------------------------------------

TEST_F(InjectedTest, TerminateRequestInsideAStepEndsItWithDiscard) {
  running(fmi2CoSimulation);
  inject(kInjectTerminate);
  EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2Discard) << host_.dump();
  fmi2Boolean terminated = fmi2False;
  EXPECT_EQ(fmi().fmi2GetBooleanStatus(c_, fmi2Terminated, &terminated), fmi2OK);
  EXPECT_EQ(terminated, fmi2True);
  double last = NAN;
  EXPECT_EQ(fmi().fmi2GetRealStatus(c_, fmi2LastSuccessfulTime, &last), fmi2OK);
  EXPECT_EQ(last, 0.0);
  EXPECT_EQ(countAtLeast(fmi2Error), 0u) << host_.dump();
  EXPECT_EQ(countMessages("terminated by model", fmi2Discard), 1u) << host_.dump();
}

TEST_F(InjectedTest, TerminateRequestInsideAReadReachesTheHostAsTerminateSimulation) {
  const struct {
    const char *name;
    fmi2Status (*read)(fmi2Component);
  } readers[] = {
      {"fmi2GetDerivatives",
       [](fmi2Component c) {
         double der = NAN;
         return fmi().fmi2GetDerivatives(c, &der, 1);
       }},
      {"fmi2GetReal",
       [](fmi2Component c) {
         const fmi2ValueReference vr = e2e::vrOutflow;
         double value = NAN;
         return fmi().fmi2GetReal(c, &vr, 1, &value);
       }},
  };
  for (const auto &r : readers) {
    SCOPED_TRACE(r.name);
    running(fmi2ModelExchange);
    EXPECT_EQ(fmi().fmi2SetTime(c_, 0.25), fmi2OK);
    inject(kInjectTerminate);
    EXPECT_EQ(r.read(c_), fmi2Discard) << host_.dump();
    EXPECT_EQ(countAtLeast(fmi2Error), 0u) << host_.dump();
    EXPECT_EQ(countMessages("terminated by model", fmi2Discard), 1u) << host_.dump();
    fmi2Boolean enterEventMode = fmi2True;
    fmi2Boolean terminateSimulation = fmi2False;
    EXPECT_EQ(
        fmi().fmi2CompletedIntegratorStep(c_, fmi2True, &enterEventMode, &terminateSimulation),
        fmi2OK);
    EXPECT_EQ(terminateSimulation, fmi2True);
    inject(kInjectNothing);
    fmi().fmi2FreeInstance(c_);
    c_ = nullptr;
    host_.clearMessages();
  }
}

TEST_F(InjectedTest, TerminateRequestDuringInitializationIsNoError) {
  for (const fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
    SCOPED_TRACE(type == fmi2ModelExchange ? "ME" : "CS");
    instantiate(type);
    inject(kInjectTerminate);
    EXPECT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2Discard) << host_.dump();
    EXPECT_EQ(countAtLeast(fmi2Error), 0u) << host_.dump();
    EXPECT_EQ(countMessages("terminated by model", fmi2Discard), 1u) << host_.dump();
    if (type == fmi2CoSimulation) {
      fmi2Boolean terminated = fmi2False;
      EXPECT_EQ(fmi().fmi2GetBooleanStatus(c_, fmi2Terminated, &terminated), fmi2OK);
      EXPECT_EQ(terminated, fmi2True);
    }
    inject(kInjectNothing);
    fmi().fmi2FreeInstance(c_);
    c_ = nullptr;
    host_.clearMessages();
  }
}

} // namespace
