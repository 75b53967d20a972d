// Shared set-up of the end-to-end tests: the unit loaded once per process,
// the model's value references and a fixture that owns one host record.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "model/model_data.h"
#include "tests/support/fmi_host.h"

namespace e2e {

// Value references of the model description.
inline constexpr fmi2ValueReference vrVornSurface = 0x01000000;
inline constexpr fmi2ValueReference vrHoleSurface = 0x01000001;
inline constexpr fmi2ValueReference vrInitialLevel = 0x01000002;
inline constexpr fmi2ValueReference vrInputRate = 0x05000000;
inline constexpr fmi2ValueReference vrLevel = 0x14000000;
inline constexpr fmi2ValueReference vrOutflow = 0x14000001;
inline constexpr fmi2ValueReference vrState = 0x02000000;
inline constexpr fmi2ValueReference vrDerivative = 0x13000000;
inline constexpr fmi2ValueReference vrGravity = 0x06000000;
inline constexpr fmi2ValueReference vrAuxDerivative = 0x16000001;
inline constexpr fmi2ValueReference vrTime = 0xFFFFFFFF;

inline const double kOutflow0 = 0.1 * std::sqrt(58.86);

inline fmihost::Fmi2Library &library() {
  static fmihost::Fmi2Library lib(UNIT_SO_PATH);
  return lib;
}

inline const fmihost::Fmi2Functions &fmi() { return library().fmi; }

// One host and at most one instance, freed at the end; checks that every
// block the unit allocated went back.
class UnitTest : public ::testing::Test {
protected:
  void SetUp() override {
    fmihost::failAllocation(0);
    liveBefore_ = fmihost::liveBlocks();
  }
  void TearDown() override {
    free();
    EXPECT_EQ(fmihost::liveBlocks(), liveBefore_) << "blocks leaked";
    EXPECT_EQ(fmihost::badFrees(), 0u);
    fmihost::failAllocation(0);
  }

  fmi2Component instantiate(fmi2Type type = fmi2ModelExchange, bool loggingOn = true,
                            const char *name = "tank", const char *guid = FMI_MODEL_GUID) {
    c_ = fmi().fmi2Instantiate(name, type, guid, nullptr, &host_.functions(), fmi2False,
                               loggingOn ? fmi2True : fmi2False);
    return c_;
  }
  // Instantiated and initialized with the defaults, in event mode.
  fmi2Component initialized(bool loggingOn = true) {
    instantiate(fmi2ModelExchange, loggingOn);
    EXPECT_NE(c_, nullptr);
    EXPECT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    EXPECT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
    EXPECT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
    return c_;
  }
  // Initialized, event iteration done and in continuous-time mode.
  fmi2Component continuousTime(bool loggingOn = true) {
    initialized(loggingOn);
    fmi2EventInfo info{};
    EXPECT_EQ(fmi().fmi2NewDiscreteStates(c_, &info), fmi2OK);
    EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2False);
    EXPECT_EQ(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK);
    return c_;
  }
  void free() {
    if (c_ != nullptr) fmi().fmi2FreeInstance(c_);
    c_ = nullptr;
  }
  double real(fmi2ValueReference vr) {
    double v = NAN;
    EXPECT_EQ(fmi().fmi2GetReal(c_, &vr, 1, &v), fmi2OK) << host_.dump();
    return v;
  }
  // The last message's text and status.
  fmihost::LogRecord last() const {
    auto m = host_.messages();
    return m.empty() ? fmihost::LogRecord{} : m.back();
  }

  fmihost::HostCallbacks host_;
  fmi2Component c_ = nullptr;
  size_t liveBefore_ = 0;
};

} // namespace e2e
