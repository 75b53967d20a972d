// Every refusal leaves the instance as it was.  For each export and each
// state in which it is refused, in both kinds, the instance's complete state
// (its FMU-state image: time, states, inputs, outputs, state code and every
// other field) is the same before and after the refused call, and the call
// answers the status of its row, the same in every state that refuses it
// (never fmi2OK).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"
#include "tests/fmi/state_image_layout.h"

namespace {

using e2e::fmi;
using Bytes = std::vector<fmi2Byte>;
using Call = std::function<fmi2Status(fmi2Component)>;

// The states an instance of each kind is brought to: 0 instantiated,
// 1 initialization mode, 3 event mode, 5 event iteration done,
// 6 continuous time (Co-Simulation: stepped to t = 0.5), 7 terminated.
const std::vector<int> kModelExchangeStates = {0, 1, 3, 5, 6, 7};
const std::vector<int> kCoSimulationStates = {0, 1, 6, 7};

struct Row {
  const char *name;
  fmi2Status status; // what the refused call answers
  Call call;
  std::set<int> refusedME; // states in which a Model Exchange instance refuses it
  std::set<int> refusedCS; // states in which a Co-Simulation instance refuses it
};

const std::set<int> kAll = {0, 1, 3, 5, 6, 7};

fmi2ValueReference vrLevel = e2e::vrLevel;
fmi2ValueReference vrInput = e2e::vrInputRate;
fmi2ValueReference vrOutput = e2e::vrOutflow;
fmi2ValueReference vrGravity = e2e::vrGravity;

// Deserializes the instance's own image with the next output time put
// behind the state's time (an image that made the next step loop for ever).
fmi2Status deserializeStrayImage(fmi2Component c) {
  const fmihost::Fmi2Functions &f = fmi();
  fmi2FMUstate s = nullptr;
  size_t size = 0;
  if (f.fmi2GetFMUstate(c, &s) != fmi2OK || f.fmi2SerializedFMUstateSize(c, s, &size) != fmi2OK) {
    return fmi2OK; // fails the row
  }
  Bytes image(size);
  const fmi2Status serialized = f.fmi2SerializeFMUstate(c, s, image.data(), size);
  (void)f.fmi2FreeFMUstate(c, &s);
  if (serialized != fmi2OK) return fmi2OK;
  double time = 0.0;
  std::memcpy(&time, image.data() + fmitest::kTimeOffset, sizeof time);
  const double behind = time - 1.0;
  std::memcpy(image.data() + fmitest::kNextOutputOffset, &behind, sizeof behind);
  fmi2FMUstate loaded = nullptr;
  return f.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &loaded);
}

std::vector<Row> rows() {
  const fmihost::Fmi2Functions &f = fmi();
  return {
      {"fmi2EnterInitializationMode",
       fmi2Warning,
       [&](fmi2Component c) { return f.fmi2EnterInitializationMode(c); },
       {1, 3, 5, 6, 7},
       {1, 6, 7}},
      {"fmi2ExitInitializationMode",
       fmi2Warning,
       [&](fmi2Component c) { return f.fmi2ExitInitializationMode(c); },
       {0, 3, 5, 6, 7},
       {0, 6, 7}},
      {"fmi2EnterEventMode",
       fmi2Warning,
       [&](fmi2Component c) { return f.fmi2EnterEventMode(c); },
       {0, 1, 3, 5, 7},
       {0, 1, 7}},
      {"fmi2NewDiscreteStates",
       fmi2Warning,
       [&](fmi2Component c) {
         fmi2EventInfo info{};
         return f.fmi2NewDiscreteStates(c, &info);
       },
       {0, 1, 6, 7},
       {0, 1, 7}},
      {"fmi2EnterContinuousTimeMode",
       fmi2Warning,
       [&](fmi2Component c) { return f.fmi2EnterContinuousTimeMode(c); },
       {0, 1, 3, 6, 7},
       {0, 1, 6, 7}},
      {"fmi2SetTime",
       fmi2Warning,
       [&](fmi2Component c) { return f.fmi2SetTime(c, 4.0); },
       {1, 3, 5, 7},
       {1, 7}},
      {"fmi2GetDerivatives",
       fmi2Warning,
       [&](fmi2Component c) {
         double d = 0.0;
         return f.fmi2GetDerivatives(c, &d, 1);
       },
       {0},
       {0}},
      {"fmi2GetEventIndicators",
       fmi2Warning,
       [&](fmi2Component c) {
         double z = 0.0;
         return f.fmi2GetEventIndicators(c, &z, 0);
       },
       {0, 1},
       {0, 1}},
      {"fmi2GetContinuousStates",
       fmi2Warning,
       [&](fmi2Component c) {
         double x = 0.0;
         return f.fmi2GetContinuousStates(c, &x, 1);
       },
       {0},
       {0}},
      {"fmi2Terminate", fmi2Warning, [&](fmi2Component c) { return f.fmi2Terminate(c); }, {7}, {7}},
      {"fmi2GetReal",
       fmi2Warning,
       [&](fmi2Component c) {
         double v = 0.0;
         return f.fmi2GetReal(c, &vrLevel, 1, &v);
       },
       {0},
       {0}},
      {"fmi2GetInteger",
       fmi2Warning,
       [&](fmi2Component c) {
         fmi2Integer v = 0;
         return f.fmi2GetInteger(c, &vrLevel, 0, &v);
       },
       {0},
       {0}},
      {"fmi2GetBoolean",
       fmi2Warning,
       [&](fmi2Component c) {
         fmi2Boolean v = 0;
         return f.fmi2GetBoolean(c, &vrLevel, 0, &v);
       },
       {0},
       {0}},
      {"fmi2GetString",
       fmi2Warning,
       [&](fmi2Component c) {
         fmi2String v = nullptr;
         return f.fmi2GetString(c, &vrLevel, 0, &v);
       },
       {0},
       {0}},
      {"fmi2DoStep",
       fmi2Error,
       [&](fmi2Component c) { return f.fmi2DoStep(c, 0.5, 0.25, fmi2True); },
       kAll,
       {0, 1, 7}},
      {"fmi2DoStep at a wrong point",
       fmi2Error,
       [&](fmi2Component c) { return f.fmi2DoStep(c, 0.25, 0.25, fmi2True); },
       kAll,
       {6}},
      {"fmi2DoStep with a negative step",
       fmi2Error,
       [&](fmi2Component c) { return f.fmi2DoStep(c, 0.5, -1.0, fmi2True); },
       kAll,
       {6}},
      {"fmi2SetRealInputDerivatives",
       fmi2Warning,
       [&](fmi2Component c) {
         const fmi2Integer order = 1;
         const double value = 1.0;
         return f.fmi2SetRealInputDerivatives(c, &vrInput, 1, &order, &value);
       },
       kAll,
       {0, 7}},
      {"fmi2SetRealInputDerivatives of an output",
       fmi2Warning,
       [&](fmi2Component c) {
         const fmi2Integer order = 1;
         const double value = 1.0;
         return f.fmi2SetRealInputDerivatives(c, &vrOutput, 1, &order, &value);
       },
       kAll,
       {0, 1, 6, 7}},
      {"fmi2GetRealOutputDerivatives",
       fmi2Warning,
       [&](fmi2Component c) {
         const fmi2Integer order = 1;
         double value = 0.0;
         return f.fmi2GetRealOutputDerivatives(c, &vrOutput, 1, &order, &value);
       },
       kAll,
       {0, 7}},
      {"fmi2CancelStep", fmi2Discard, [&](fmi2Component c) { return f.fmi2CancelStep(c); }, kAll,
       kAll},
      {"fmi2GetStatus", fmi2Discard,
       [&](fmi2Component c) {
         fmi2Status s = fmi2OK;
         return f.fmi2GetStatus(c, fmi2DoStepStatus, &s);
       },
       kAll, kAll},
      {"fmi2GetRealStatus of an unknown kind", fmi2Discard,
       [&](fmi2Component c) {
         double v = 0.0;
         return f.fmi2GetRealStatus(c, fmi2DoStepStatus, &v);
       },
       kAll, kAll},
      {"fmi2GetIntegerStatus", fmi2Discard,
       [&](fmi2Component c) {
         fmi2Integer v = 0;
         return f.fmi2GetIntegerStatus(c, fmi2PendingStatus, &v);
       },
       kAll, kAll},
      {"fmi2GetBooleanStatus of an unknown kind", fmi2Discard,
       [&](fmi2Component c) {
         fmi2Boolean v = 0;
         return f.fmi2GetBooleanStatus(c, fmi2DoStepStatus, &v);
       },
       kAll, kAll},
      {"fmi2GetStringStatus", fmi2Discard,
       [&](fmi2Component c) {
         fmi2String v = nullptr;
         return f.fmi2GetStringStatus(c, fmi2PendingStatus, &v);
       },
       kAll, kAll},
      {"fmi2SetFMUstate of null", fmi2Error,
       [&](fmi2Component c) { return f.fmi2SetFMUstate(c, nullptr); }, kAll, kAll},
      {"fmi2GetFMUstate into null", fmi2Error,
       [&](fmi2Component c) { return f.fmi2GetFMUstate(c, nullptr); }, kAll, kAll},
      {"fmi2DeSerializeFMUstate of garbage", fmi2Error,
       [&](fmi2Component c) {
         const fmi2Byte garbage[16] = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
         fmi2FMUstate s = nullptr;
         return f.fmi2DeSerializeFMUstate(c, garbage, sizeof garbage, &s);
       },
       kAll, kAll},
      {"fmi2DeSerializeFMUstate of an image with the next output time behind", fmi2Error,
       deserializeStrayImage, kAll, kAll},
      {"fmi2SetupExperiment with a start time that is not a number", fmi2Error,
       [&](fmi2Component c) {
         return f.fmi2SetupExperiment(c, fmi2False, 0.0, NAN, fmi2False, 0.0);
       },
       kAll, kAll},
      {"fmi2SetupExperiment with an infinite stop time", fmi2Error,
       [&](fmi2Component c) {
         return f.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2True, INFINITY);
       },
       kAll, kAll},
      {"fmi2SetTime to a time that is not a number", fmi2Error,
       [&](fmi2Component c) { return f.fmi2SetTime(c, NAN); }, kAll, kAll},
      {"fmi2SetupExperiment after fmi2EnterInitializationMode",
       fmi2Error,
       [&](fmi2Component c) {
         return f.fmi2SetupExperiment(c, fmi2False, 0.0, 0.125, fmi2True, 0.75);
       },
       {1, 3, 5, 6, 7},
       {1, 6, 7}},
      {"fmi2SetReal of the constant g", fmi2Error,
       [&](fmi2Component c) {
         const double value = 12.2625;
         return f.fmi2SetReal(c, &vrGravity, 1, &value);
       },
       kAll, kAll},
      {"fmi2SetReal of the fixed parameter initialLevel after initialization",
       fmi2Error,
       [&](fmi2Component c) {
         const fmi2ValueReference vr[2] = {e2e::vrHoleSurface, e2e::vrInitialLevel};
         const double values[2] = {0.25, 4.0};
         return f.fmi2SetReal(c, vr, 2, values);
       },
       {3, 5, 6, 7},
       {6, 7}},
  };
}

class RefusalTable : public e2e::UnitTest {
protected:
  // A fresh instance of the kind in the given state.
  void bring(fmi2Type kind, int state) {
    free();
    host_.clearMessages();
    ASSERT_NE(instantiate(kind), nullptr);
    const fmihost::Fmi2Functions &f = fmi();
    ASSERT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    if (state == 0) return;
    ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
    if (state == 1) return;
    ASSERT_EQ(f.fmi2ExitInitializationMode(c_), fmi2OK);
    if (kind == fmi2CoSimulation) {
      ASSERT_EQ(f.fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK);
    } else {
      if (state == 3) return;
      fmi2EventInfo info{};
      ASSERT_EQ(f.fmi2NewDiscreteStates(c_, &info), fmi2OK);
      if (state == 5) return;
      ASSERT_EQ(f.fmi2EnterContinuousTimeMode(c_), fmi2OK);
      const double x = 2.5;
      ASSERT_EQ(f.fmi2SetTime(c_, 0.5), fmi2OK);
      ASSERT_EQ(f.fmi2SetContinuousStates(c_, &x, 1), fmi2OK);
    }
    if (state == 6) return;
    ASSERT_EQ(f.fmi2Terminate(c_), fmi2OK);
  }

  // The instance's complete state, as the bytes of its FMU-state image.
  Bytes snapshot() {
    const fmihost::Fmi2Functions &f = fmi();
    fmi2FMUstate s = nullptr;
    EXPECT_EQ(f.fmi2GetFMUstate(c_, &s), fmi2OK) << host_.dump();
    size_t size = 0;
    EXPECT_EQ(f.fmi2SerializedFMUstateSize(c_, s, &size), fmi2OK);
    Bytes image(size);
    EXPECT_EQ(f.fmi2SerializeFMUstate(c_, s, image.data(), image.size()), fmi2OK);
    EXPECT_EQ(f.fmi2FreeFMUstate(c_, &s), fmi2OK);
    return image;
  }
};

TEST_F(RefusalTable, EveryRefusalLeavesTheInstanceUnchanged) {
  for (const fmi2Type kind : {fmi2ModelExchange, fmi2CoSimulation}) {
    const bool cs = kind == fmi2CoSimulation;
    for (const int state : cs ? kCoSimulationStates : kModelExchangeStates) {
      for (const Row &row : rows()) {
        const std::set<int> &refused = cs ? row.refusedCS : row.refusedME;
        if (refused.count(state) == 0) continue;
        SCOPED_TRACE(std::string(row.name) + (cs ? ", Co-Simulation" : ", Model Exchange") +
                     ", state " + std::to_string(state));
        bring(kind, state);
        if (HasFatalFailure()) return;
        const Bytes before = snapshot();
        const fmi2Status status = row.call(c_);
        EXPECT_EQ(status, row.status) << host_.dump();
        EXPECT_TRUE(before == snapshot()) << host_.dump();
        // Every refusal says why.
        bool said = false;
        for (const auto &m : host_.messages())
          if (m.status != fmi2OK) said = true;
        EXPECT_TRUE(said) << host_.dump();
      }
    }
  }
}

} // namespace
