// A random sequence of calls over all 44 exports with hostile arguments:
// times and values at the edges of the double range and not finite, counts
// that do not match, null arrays, unknown value references and status
// kinds, broken FMU-state images, and now and then a failing allocation.
// The seed is fixed, so every run makes the same calls.  No call may hang
// (the test's timeout), crash or be reported by the sanitizers; every call
// on an instance that does not answer fmi2OK says why through the logger;
// at the end every block the unit allocated has gone back.
#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using e2e::fmi;
using Bytes = std::vector<fmi2Byte>;

constexpr int kCalls = 20000;
constexpr int kSlots = 4;
constexpr size_t kArray = 8; // length of every array handed to the unit

// One instance of the sequence and the FMU states made with it.
struct Slot {
  fmi2Component c = nullptr;
  std::vector<fmi2FMUstate> states;
};

class RandomCalls : public e2e::UnitTest {
protected:
  std::mt19937 random_{20261214u};

  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
  bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }

  double hostileReal(double now) {
    static const double pool[] = {0.0,
                                  -0.0,
                                  0.5,
                                  1.0,
                                  -1.0,
                                  2.5,
                                  100.0,
                                  1e-320,
                                  std::numeric_limits<double>::denorm_min(),
                                  1e-300,
                                  1e100,
                                  3e100,
                                  1e308,
                                  -1e308,
                                  DBL_MAX,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    if (chance(35)) return now;
    return pool[below(std::size(pool))];
  }
  fmi2ValueReference hostileReference() {
    static const fmi2ValueReference pool[] = {
        e2e::vrVornSurface, e2e::vrHoleSurface,   e2e::vrInitialLevel, e2e::vrInputRate,
        e2e::vrLevel,       e2e::vrOutflow,       e2e::vrState,        e2e::vrDerivative,
        e2e::vrGravity,     e2e::vrAuxDerivative, e2e::vrTime,         0u,
        0x05000007u,        0x14000009u,          0x7FFFFFFFu};
    if (chance(10)) return static_cast<fmi2ValueReference>(random_());
    return pool[below(std::size(pool))];
  }
  size_t hostileCount() { return chance(10) ? 0 : below(kArray + 1); }
  fmi2Boolean hostileBoolean() {
    static const fmi2Boolean pool[] = {fmi2False, fmi2True, 2, -1};
    return pool[below(std::size(pool))];
  }
  fmi2StatusKind hostileKind() {
    return static_cast<fmi2StatusKind>(static_cast<int>(below(7)) - 1);
  }

  // The instance time as the host sees it (0 when the unit will not say).
  double now(fmi2Component c) {
    double t = 0.0;
    if (c == nullptr || fmi().fmi2GetRealStatus(c, fmi2LastSuccessfulTime, &t) != fmi2OK) return 0;
    return t;
  }

  // A state of the slot, or null.
  fmi2FMUstate anyState(const Slot &s) {
    if (s.states.empty() || chance(15)) return nullptr;
    return s.states[below(s.states.size())];
  }

  Bytes hostileImage(const Bytes &good) {
    switch (below(4)) {
    case 0:
      return Bytes(below(64), static_cast<fmi2Byte>(random_()));
    case 1:
      return Bytes(good.begin(), good.begin() + static_cast<long>(below(good.size())));
    default: {
      Bytes b = good;
      const int edits = 1 + static_cast<int>(below(3));
      for (int e = 0; e < edits; ++e) {
        const size_t at =
            chance(70) ? below(std::min<size_t>(4096, b.size() - 4)) : below(b.size() - 4);
        const uint32_t v = static_cast<uint32_t>(random_());
        std::memcpy(b.data() + at, &v, chance(50) ? 4 : 1);
      }
      return b;
    }
    }
  }

  // The next function: an empty slot is mostly filled; the calls that move
  // an instance through its life come more often than the others, and
  // releasing, terminating and resetting less often, so that the sequence
  // reaches every state.
  int pick(bool empty) {
    if (empty && chance(70)) return 3;
    static const std::vector<int> weighted = [] {
      std::vector<int> list;
      for (int k = 0; k < 44; ++k) {
        const bool moves = k == 5 || k == 6 || k == 7 || k == 18 || k == 19 || k == 23 || k == 25 ||
                           k == 26 || k == 27 || k == 29 || k == 31 || k == 37;
        const bool ends = k == 4 || k == 8 || k == 9;
        const int weight = moves ? 6 : ends ? 1 : 2;
        for (int w = 0; w < weight; ++w) list.push_back(k);
      }
      return list;
    }();
    return weighted[below(weighted.size())];
  }

  void freeSlot(Slot &s) {
    for (fmi2FMUstate &state : s.states) EXPECT_EQ(fmi().fmi2FreeFMUstate(s.c, &state), fmi2OK);
    s.states.clear();
    fmi().fmi2FreeInstance(s.c);
    s.c = nullptr;
  }
};

TEST_F(RandomCalls, FixedSeedSequenceOverAllExports) {
  const fmihost::Fmi2Functions &f = fmi();
  // A good image to damage: a Co-Simulation instance stepped once.
  Bytes good;
  {
    fmi2Component c = f.fmi2Instantiate("image", fmi2CoSimulation, FMI_MODEL_GUID, nullptr,
                                        &host_.functions(), fmi2False, fmi2False);
    ASSERT_NE(c, nullptr);
    fmi2FMUstate s = nullptr;
    size_t size = 0;
    ASSERT_EQ(f.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(f.fmi2EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(f.fmi2ExitInitializationMode(c), fmi2OK);
    ASSERT_EQ(f.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
    ASSERT_EQ(f.fmi2GetFMUstate(c, &s), fmi2OK);
    ASSERT_EQ(f.fmi2SerializedFMUstateSize(c, s, &size), fmi2OK);
    good.resize(size);
    ASSERT_EQ(f.fmi2SerializeFMUstate(c, s, good.data(), size), fmi2OK);
    ASSERT_EQ(f.fmi2FreeFMUstate(c, &s), fmi2OK);
    ASSERT_EQ(f.fmi2Terminate(c), fmi2OK);
    f.fmi2FreeInstance(c);
  }

  std::array<Slot, kSlots> slots;
  const std::string longText(600, 'x');
  size_t silentRefusals = 0;
  std::string firstSilent;
  for (int call = 0; call < kCalls; ++call) {
    Slot &slot = slots[below(kSlots)];
    const int function = pick(slot.c == nullptr);
    fmi2Component c = chance(3) ? nullptr : slot.c;
    const double t = now(c);
    std::array<fmi2ValueReference, kArray> vr{};
    for (auto &r : vr) r = hostileReference();
    std::array<double, kArray> reals{};
    for (auto &v : reals) v = hostileReal(t);
    std::array<fmi2Integer, kArray> integers{};
    for (auto &v : integers) v = static_cast<fmi2Integer>(random_());
    std::array<fmi2Boolean, kArray> booleans{};
    for (auto &v : booleans) v = hostileBoolean();
    std::array<fmi2String, kArray> strings{};
    for (auto &v : strings) v = chance(20) ? nullptr : chance(50) ? longText.c_str() : "abc";
    std::array<fmi2Integer, kArray> orders{};
    for (auto &v : orders) v = static_cast<fmi2Integer>(below(4)) - 1;
    const size_t n = hostileCount();
    const bool nullArrays = chance(8);
    const auto arr = [&](auto &a) { return nullArrays ? nullptr : a.data(); };

    if (chance(2)) fmihost::failAllocation(1 + below(30));
    host_.clearMessages();
    const size_t messagesBefore = 0;
    bool checked = c != nullptr; // a call on an instance must say why it fails
    fmi2Status status = fmi2OK;
    switch (function) {
    case 0:
      EXPECT_NE(f.fmi2GetTypesPlatform(), nullptr);
      break;
    case 1:
      EXPECT_NE(f.fmi2GetVersion(), nullptr);
      break;
    case 2:
      status = f.fmi2SetDebugLogging(c, hostileBoolean(), 0, nullptr);
      break;
    case 3: {
      checked = false;
      if (slot.c != nullptr) break;
      const fmi2Type kind = static_cast<fmi2Type>(chance(90) ? below(2) : below(4) + 1);
      const char *guid = chance(90) ? FMI_MODEL_GUID : chance(50) ? nullptr : "{bad}";
      const char *name = chance(90) ? "random" : nullptr;
      slot.c = f.fmi2Instantiate(name, kind, guid, chance(50) ? "file:///tmp/x" : nullptr,
                                 &host_.functions(), fmi2False, hostileBoolean());
      if (slot.c == nullptr && host_.messages().size() == messagesBefore) {
        ++silentRefusals;
        if (firstSilent.empty()) firstSilent = "fmi2Instantiate";
      }
      break;
    }
    case 4:
      checked = false;
      if (slot.c != nullptr && c != nullptr) freeSlot(slot);
      break;
    case 5:
      status = f.fmi2SetupExperiment(c, hostileBoolean(), hostileReal(t), hostileReal(t),
                                     hostileBoolean(), hostileReal(t));
      break;
    case 6:
      status = f.fmi2EnterInitializationMode(c);
      break;
    case 7:
      status = f.fmi2ExitInitializationMode(c);
      break;
    case 8:
      status = f.fmi2Terminate(c);
      break;
    case 9:
      status = f.fmi2Reset(c);
      if (status == fmi2Fatal && c != nullptr) { // the instance is released
        slot.states.clear();
        slot.c = nullptr;
        checked = false;
      }
      break;
    case 10:
      status = f.fmi2GetReal(c, arr(vr), n, arr(reals));
      break;
    case 11:
      status = f.fmi2GetInteger(c, arr(vr), n, arr(integers));
      break;
    case 12:
      status = f.fmi2GetBoolean(c, arr(vr), n, arr(booleans));
      break;
    case 13:
      status = f.fmi2GetString(c, arr(vr), n, arr(strings));
      break;
    case 14:
      status = f.fmi2SetReal(c, arr(vr), n, arr(reals));
      break;
    case 15:
      status = f.fmi2SetInteger(c, arr(vr), n, arr(integers));
      break;
    case 16:
      status = f.fmi2SetBoolean(c, arr(vr), n, arr(booleans));
      break;
    case 17:
      status = f.fmi2SetString(c, arr(vr), n, arr(strings));
      break;
    case 18: {
      fmi2FMUstate s = chance(30) ? anyState(slot) : nullptr;
      const bool fresh = s == nullptr;
      status = f.fmi2GetFMUstate(c, chance(5) ? nullptr : &s);
      if (fresh && s != nullptr) slot.states.push_back(s);
      break;
    }
    case 19:
      status = f.fmi2SetFMUstate(c, anyState(slot));
      break;
    case 20: {
      if (slot.states.empty() || c == nullptr) {
        fmi2FMUstate none = nullptr;
        status = f.fmi2FreeFMUstate(c, chance(50) ? &none : nullptr);
        break;
      }
      const size_t k = below(slot.states.size());
      status = f.fmi2FreeFMUstate(c, &slot.states[k]);
      EXPECT_EQ(slot.states[k], nullptr);
      slot.states.erase(slot.states.begin() + static_cast<long>(k));
      break;
    }
    case 21: {
      size_t size = 0;
      status = f.fmi2SerializedFMUstateSize(c, anyState(slot), chance(5) ? nullptr : &size);
      break;
    }
    case 22: {
      Bytes buffer(good.size());
      const size_t size = chance(80) ? buffer.size() : below(buffer.size());
      status =
          f.fmi2SerializeFMUstate(c, anyState(slot), chance(5) ? nullptr : buffer.data(), size);
      break;
    }
    case 23: {
      const Bytes image = chance(20) ? good : hostileImage(good);
      fmi2FMUstate s = chance(30) ? anyState(slot) : nullptr;
      const bool fresh = s == nullptr;
      status = f.fmi2DeSerializeFMUstate(c, chance(5) ? nullptr : image.data(), image.size(),
                                         chance(5) ? nullptr : &s);
      if (fresh && s != nullptr) slot.states.push_back(s);
      break;
    }
    case 24: {
      const size_t known = hostileCount();
      std::array<double, kArray> unknown{};
      std::array<fmi2ValueReference, kArray> knownRefs{};
      for (auto &r : knownRefs) r = hostileReference();
      status = f.fmi2GetDirectionalDerivative(c, arr(vr), n, arr(knownRefs), known, arr(reals),
                                              arr(unknown));
      break;
    }
    case 25:
      status = f.fmi2EnterEventMode(c);
      break;
    case 26: {
      fmi2EventInfo info{};
      status = f.fmi2NewDiscreteStates(c, chance(5) ? nullptr : &info);
      break;
    }
    case 27:
      status = f.fmi2EnterContinuousTimeMode(c);
      break;
    case 28: {
      fmi2Boolean event = fmi2False;
      fmi2Boolean terminate = fmi2False;
      status = f.fmi2CompletedIntegratorStep(c, hostileBoolean(), chance(5) ? nullptr : &event,
                                             &terminate);
      break;
    }
    case 29:
      status = f.fmi2SetTime(c, hostileReal(t));
      break;
    case 30:
      status = f.fmi2SetContinuousStates(c, arr(reals), n);
      break;
    case 31:
      status = f.fmi2GetDerivatives(c, arr(reals), n);
      break;
    case 32:
      status = f.fmi2GetEventIndicators(c, arr(reals), n);
      break;
    case 33:
      status = f.fmi2GetContinuousStates(c, arr(reals), n);
      break;
    case 34:
      status = f.fmi2GetNominalsOfContinuousStates(c, arr(reals), n);
      break;
    case 35:
      status = f.fmi2SetRealInputDerivatives(c, arr(vr), n, arr(orders), arr(reals));
      break;
    case 36:
      status = f.fmi2GetRealOutputDerivatives(c, arr(vr), n, arr(orders), arr(reals));
      break;
    case 37: {
      const double point = chance(70) ? t : hostileReal(t);
      const double step = chance(60) ? 0.125 * static_cast<double>(below(9)) : hostileReal(t);
      status = f.fmi2DoStep(c, point, step, hostileBoolean());
      break;
    }
    case 38:
      status = f.fmi2CancelStep(c);
      break;
    case 39: {
      fmi2Status value = fmi2OK;
      status = f.fmi2GetStatus(c, hostileKind(), chance(10) ? nullptr : &value);
      break;
    }
    case 40: {
      double value = 0.0;
      status = f.fmi2GetRealStatus(c, hostileKind(), chance(10) ? nullptr : &value);
      break;
    }
    case 41: {
      fmi2Integer value = 0;
      status = f.fmi2GetIntegerStatus(c, hostileKind(), chance(10) ? nullptr : &value);
      break;
    }
    case 42: {
      fmi2Boolean value = fmi2False;
      status = f.fmi2GetBooleanStatus(c, hostileKind(), chance(10) ? nullptr : &value);
      break;
    }
    default: {
      fmi2String value = nullptr;
      status = f.fmi2GetStringStatus(c, hostileKind(), chance(10) ? nullptr : &value);
      break;
    }
    }
    fmihost::failAllocation(0);
    if (c == nullptr && function >= 2 && function != 3 && function != 4) {
      EXPECT_EQ(status, fmi2Error) << "call " << call << ", function " << function;
    }
    if (checked && status != fmi2OK) {
      const auto messages = host_.messages();
      bool said = false;
      for (size_t k = messagesBefore; k < messages.size(); ++k) {
        if (messages[k].status != fmi2OK) said = true;
      }
      if (!said) {
        ++silentRefusals;
        if (firstSilent.empty()) {
          firstSilent = fmihost::fmi2FunctionNames()[static_cast<size_t>(function)] + " -> " +
                        fmihost::statusName(status) + " at call " + std::to_string(call);
        }
      }
    }
  }
  EXPECT_EQ(silentRefusals, 0u) << firstSilent;
  for (Slot &s : slots) {
    if (s.c != nullptr) freeSlot(s);
  }
  host_.clearMessages();
}

} // namespace
