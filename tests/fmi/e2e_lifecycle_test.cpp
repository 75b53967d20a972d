// Instantiation, release, reset, terminate and set-up of an instance, driven
// through the loaded unit.
#include <cstring>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using e2e::fmi;
using fmihost::LogRecord;

class Lifecycle : public e2e::UnitTest {};

TEST_F(Lifecycle, InstantiateAndFreeReturnEveryBlock) {
  fmihost::resetAllocationCounts();
  ASSERT_NE(instantiate(), nullptr);
  EXPECT_GT(fmihost::liveBlocks(), liveBefore_);
  EXPECT_TRUE(host_.hasMessage("fmi2Instantiate completed", fmi2OK)) << host_.dump();
  free();
  EXPECT_EQ(fmihost::liveBlocks(), liveBefore_);
  EXPECT_EQ(last().message, "fmiFreeModelInstance");
}

// Every allocation of instantiation fails once in turn: each failure gives a
// null instance, "Instantiation failed" (except for the record itself, which
// fails silently) and no leaked block.
TEST_F(Lifecycle, FailingEachAllocationReleasesEverything) {
  size_t n = 1;
  for (;; ++n) {
    SCOPED_TRACE("failing allocation " + std::to_string(n));
    host_.clearMessages();
    fmihost::failAllocation(n);
    fmi2Component c = instantiate();
    fmihost::failAllocation(0);
    if (c != nullptr) break;
    EXPECT_EQ(fmihost::liveBlocks(), liveBefore_);
    if (n == 1) {
      EXPECT_TRUE(host_.messages().empty()) << host_.dump();
    } else {
      EXPECT_TRUE(host_.hasMessage("Instantiation failed", fmi2Fatal)) << host_.dump();
    }
    ASSERT_LT(n, 100u);
  }
  EXPECT_GE(n, 16u) << "instantiation should need at least 16 allocations";
}

TEST_F(Lifecycle, WrongGuidIsRefused) {
  // The '%' shows that the logger gets text, not a format of the unit's own.
  EXPECT_EQ(instantiate(fmi2ModelExchange, true, "tank", "{bad%d}"), nullptr);
  auto m = host_.messages();
  ASSERT_GE(m.size(), 2u) << host_.dump();
  EXPECT_EQ(m[0].message, std::string("Invalid GUID: {bad%d}, expected ") + FMI_MODEL_GUID);
  EXPECT_EQ(m[0].status, fmi2Error);
  EXPECT_EQ(m[0].category, "");
  EXPECT_EQ(m[1].message, "Instantiation failed");
  EXPECT_EQ(m[1].status, fmi2Fatal);
  EXPECT_EQ(m[1].instanceName, "tank");
}

TEST_F(Lifecycle, UnknownKindAndMissingRecordGiveNull) {
  // The kind 2, which lies outside the enumeration: the bytes a C host passes.
  fmi2Type unknownKind;
  const int two = 2;
  std::memcpy(&unknownKind, &two, sizeof unknownKind);
  EXPECT_EQ(fmi().fmi2Instantiate("a", unknownKind, FMI_MODEL_GUID, nullptr, &host_.functions(),
                                  fmi2False, fmi2True),
            nullptr);
  // The refusal says why, through the host's logger (there is no instance).
  ASSERT_EQ(host_.messages().size(), 1u) << host_.dump();
  EXPECT_EQ(last().message,
            "fmi2Instantiate: invalid argument fmuType = 2, expected fmi2ModelExchange or "
            "fmi2CoSimulation");
  EXPECT_EQ(last().status, fmi2Error);
  EXPECT_EQ(last().instanceName, "a");
  EXPECT_EQ(fmi().fmi2Instantiate("a", fmi2ModelExchange, FMI_MODEL_GUID, nullptr, nullptr,
                                  fmi2False, fmi2True),
            nullptr);
  const fmi2CallbackFunctions noAllocator{fmihost::HostCallbacks::logger, nullptr,
                                          fmihost::freeMemory, nullptr, &host_};
  EXPECT_EQ(fmi().fmi2Instantiate("a", fmi2ModelExchange, FMI_MODEL_GUID, nullptr, &noAllocator,
                                  fmi2False, fmi2True),
            nullptr);
  EXPECT_EQ(last().status, fmi2Error) << host_.dump();
}

TEST_F(Lifecycle, InstanceNameIsCopiedAndBounded) {
  struct Case {
    const char *label;
    std::string name;
    bool null;
    std::string stored;
  };
  const std::string longName(2000, 'n');
  const std::vector<Case> cases = {
      {"plain", "tank", false, "tank"},
      {"null", "", true, "<NULL>"},
      {"2000 characters", longName, false, longName.substr(0, 1024)},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.label);
    host_.clearMessages();
    std::string name = k.name; // the unit must not keep the host's text
    ASSERT_NE(instantiate(fmi2ModelExchange, true, k.null ? nullptr : name.c_str()), nullptr);
    name.assign(name.size(), 'x');
    fmi2Boolean enter = 0, stop = 0;
    ASSERT_EQ(fmi().fmi2CompletedIntegratorStep(c_, fmi2True, &enter, &stop), fmi2OK);
    EXPECT_EQ(last().instanceName, k.stored);
    free();
  }
}

TEST_F(Lifecycle, NullHandleIsRefused) {
  fmi().fmi2FreeInstance(nullptr);
  double v = 0;
  fmi2ValueReference vr = e2e::vrLevel;
  fmi2EventInfo info{};
  EXPECT_EQ(fmi().fmi2SetupExperiment(nullptr, 0, 0, 0, 0, 0), fmi2Error);
  EXPECT_EQ(fmi().fmi2EnterInitializationMode(nullptr), fmi2Error);
  EXPECT_EQ(fmi().fmi2Terminate(nullptr), fmi2Error);
  EXPECT_EQ(fmi().fmi2Reset(nullptr), fmi2Error);
  EXPECT_EQ(fmi().fmi2GetReal(nullptr, &vr, 1, &v), fmi2Error);
  EXPECT_EQ(fmi().fmi2NewDiscreteStates(nullptr, &info), fmi2Error);
  EXPECT_EQ(fmi().fmi2GetDerivatives(nullptr, &v, 1), fmi2Error);
  EXPECT_EQ(fmi().fmi2SetDebugLogging(nullptr, fmi2True, 0, nullptr), fmi2Error);
}

TEST_F(Lifecycle, PlatformAndVersion) {
  EXPECT_STREQ(fmi().fmi2GetTypesPlatform(), "default");
  EXPECT_STREQ(fmi().fmi2GetVersion(), "2.0");
}

TEST_F(Lifecycle, ModelExchangeIgnoresTolerance) {
  ASSERT_NE(instantiate(), nullptr);
  EXPECT_EQ(fmi().fmi2SetupExperiment(c_, fmi2True, 1e-6, 0.5, fmi2False, 0.0), fmi2OK);
  EXPECT_TRUE(host_.hasMessage("fmi2SetupExperiment: tolerance control not supported for fmuType "
                               "fmi2ModelExchange, setting toleranceDefined to fmi2False",
                               fmi2Warning))
      << host_.dump();
  EXPECT_EQ(last().message, "fmi2SetupExperiment: startTime is set to 0.5");
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  EXPECT_EQ(real(e2e::vrTime), 0.5);
}

TEST_F(Lifecycle, LoggingOffKeepsOnlyWarningsAndErrors) {
  ASSERT_NE(instantiate(fmi2ModelExchange, false), nullptr);
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  EXPECT_TRUE(host_.messages().empty()) << host_.dump();
  EXPECT_EQ(fmi().fmi2EnterEventMode(c_), fmi2Warning);
  ASSERT_EQ(host_.messages().size(), 1u) << host_.dump();
  EXPECT_EQ(last().status, fmi2Warning);
  // Switched on later, the traces come back.
  ASSERT_EQ(fmi().fmi2SetDebugLogging(c_, fmi2True, 0, nullptr), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  EXPECT_EQ(last().message, "fmi2ExitInitializationMode completed");
}

TEST_F(Lifecycle, ResetRightAfterInstantiationDeclaresTheStartValues) {
  ASSERT_NE(instantiate(), nullptr);
  host_.clearMessages();
  EXPECT_EQ(fmi().fmi2Reset(c_), fmi2OK);
  EXPECT_EQ(last().message, "fmi2Reset completed");
  EXPECT_FALSE(host_.hasMessage("fmi2Terminate")) << host_.dump();
}

// Terminate twice, read after terminate, reset and initialize again.
TEST_F(Lifecycle, TerminateResetAndInitializeAgain) {
  instantiate();
  const fmi2ValueReference initialLevel = e2e::vrInitialLevel;
  const double five = 5.0;
  ASSERT_EQ(fmi().fmi2SetReal(c_, &initialLevel, 1, &five), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 5.0);

  EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK);
  EXPECT_TRUE(host_.hasMessage("fmi2Terminate", fmi2OK));
  EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2Warning);
  EXPECT_EQ(last().message, "fmi2Terminate: already terminated, ignoring call");

  // After terminate the stored values are read without an evaluation, even
  // after a change.
  const fmi2ValueReference state = e2e::vrState;
  const double two = 2.0;
  ASSERT_EQ(fmi().fmi2SetReal(c_, &state, 1, &two), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 5.0);
  EXPECT_DOUBLE_EQ(real(e2e::vrState), 2.0);

  host_.clearMessages();
  EXPECT_EQ(fmi().fmi2Reset(c_), fmi2OK);
  EXPECT_EQ(last().message, "fmi2Reset completed");
  EXPECT_FALSE(host_.hasMessage("fmi2Terminate")) << "reset after terminate terminates again";
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrInitialLevel), 3.0);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 3.0);
  EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), e2e::kOutflow0);
}

// Terminate before initialization, or after a reset, ends an instance that
// has no simulation running: no terminal section, fmi2OK.
TEST_F(Lifecycle, TerminateOfAnInstanceNotInitialized) {
  for (bool afterReset : {false, true}) {
    SCOPED_TRACE(afterReset ? "after reset" : "right after instantiation");
    if (afterReset) {
      initialized();
      ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK);
    } else {
      instantiate();
    }
    host_.clearMessages();
    EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK);
    ASSERT_EQ(host_.messages().size(), 1u) << host_.dump();
    EXPECT_EQ(last().message, "fmi2Terminate");
    EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2Warning);
    // Reset and a full run work as after any terminate.
    ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
    EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 3.0);
    EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK) << host_.dump();
    free();
  }
}

TEST_F(Lifecycle, ResetInContinuousTimeTerminatesFirst) {
  continuousTime();
  host_.clearMessages();
  EXPECT_EQ(fmi().fmi2Reset(c_), fmi2OK);
  auto m = host_.messages();
  ASSERT_GE(m.size(), 3u);
  EXPECT_EQ(m.front().message, "fmi2Reset...");
  EXPECT_TRUE(host_.hasMessage("fmi2Terminate", fmi2OK));
  EXPECT_EQ(m.back().message, "fmi2Reset completed");
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 3.0);
}

} // namespace
