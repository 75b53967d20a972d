// A host whose logger throws (a C++ host's bug) cannot make an exception
// leave the unit: each of the 44 functions returns, with the same status as
// for a host whose logger records, and nothing leaks.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using e2e::fmi;

void throwingLogger(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String, ...) {
  throw std::runtime_error("host logger failed");
}

struct Step {
  const char *name;
  std::function<int(fmi2Component &)> call; // the status (or 0/1 for the other results)
};

fmi2ValueReference vrLevel = e2e::vrLevel;
fmi2ValueReference vrInput = e2e::vrInputRate;
fmi2ValueReference vrOutflow = e2e::vrOutflow;
fmi2ValueReference vrState = e2e::vrState;

// Every function of the kind, in an order a host may call them.
std::vector<Step> lifecycle(fmi2Type kind, const fmi2CallbackFunctions *callbacks) {
  const fmihost::Fmi2Functions &f = fmi();
  auto state = std::make_shared<fmi2FMUstate>(nullptr);
  auto image = std::make_shared<std::vector<fmi2Byte>>();
  std::vector<Step> steps = {
      {"fmi2GetTypesPlatform",
       [&](fmi2Component &) { return f.fmi2GetTypesPlatform() != nullptr; }},
      {"fmi2GetVersion", [&](fmi2Component &) { return f.fmi2GetVersion() != nullptr; }},
      {"fmi2Instantiate",
       [&f, kind, callbacks](fmi2Component &c) {
         c = f.fmi2Instantiate("thrower", kind, FMI_MODEL_GUID, nullptr, callbacks, fmi2False,
                               fmi2True);
         return c != nullptr;
       }},
      {"fmi2SetDebugLogging",
       [&](fmi2Component &c) { return f.fmi2SetDebugLogging(c, fmi2True, 0, nullptr); }},
      {"fmi2SetupExperiment",
       [&](fmi2Component &c) { return f.fmi2SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0); }},
      {"fmi2SetReal",
       [&](fmi2Component &c) {
         const double v = 0.2;
         return f.fmi2SetReal(c, &vrInput, 1, &v);
       }},
      {"fmi2EnterInitializationMode",
       [&](fmi2Component &c) { return f.fmi2EnterInitializationMode(c); }},
      {"fmi2ExitInitializationMode",
       [&](fmi2Component &c) { return f.fmi2ExitInitializationMode(c); }},
      {"fmi2GetReal",
       [&](fmi2Component &c) {
         double v = 0;
         return f.fmi2GetReal(c, &vrLevel, 1, &v);
       }},
      {"fmi2GetInteger",
       [&](fmi2Component &c) {
         fmi2Integer v = 0;
         return f.fmi2GetInteger(c, &vrLevel, 1, &v);
       }},
      {"fmi2GetBoolean",
       [&](fmi2Component &c) {
         fmi2Boolean v = 0;
         return f.fmi2GetBoolean(c, &vrLevel, 1, &v);
       }},
      {"fmi2GetString",
       [&](fmi2Component &c) {
         fmi2String v = nullptr;
         return f.fmi2GetString(c, &vrLevel, 1, &v);
       }},
      {"fmi2SetInteger",
       [&](fmi2Component &c) {
         const fmi2Integer v = 1;
         return f.fmi2SetInteger(c, &vrLevel, 1, &v);
       }},
      {"fmi2SetBoolean",
       [&](fmi2Component &c) {
         const fmi2Boolean v = 1;
         return f.fmi2SetBoolean(c, &vrLevel, 1, &v);
       }},
      {"fmi2SetString",
       [&](fmi2Component &c) {
         const fmi2String v = "x";
         return f.fmi2SetString(c, &vrLevel, 1, &v);
       }},
      {"fmi2GetFMUstate",
       [&f, state](fmi2Component &c) { return f.fmi2GetFMUstate(c, state.get()); }},
      {"fmi2SerializedFMUstateSize",
       [&f, state, image](fmi2Component &c) {
         size_t size = 0;
         const fmi2Status s = f.fmi2SerializedFMUstateSize(c, *state, &size);
         image->resize(size);
         return s;
       }},
      {"fmi2SerializeFMUstate",
       [&f, state, image](fmi2Component &c) {
         return f.fmi2SerializeFMUstate(c, *state, image->data(), image->size());
       }},
      {"fmi2DeSerializeFMUstate",
       [&f, state, image](fmi2Component &c) {
         return f.fmi2DeSerializeFMUstate(c, image->data(), image->size(), state.get());
       }},
      {"fmi2SetFMUstate", [&f, state](fmi2Component &c) { return f.fmi2SetFMUstate(c, *state); }},
      {"fmi2FreeFMUstate",
       [&f, state](fmi2Component &c) { return f.fmi2FreeFMUstate(c, state.get()); }},
      {"fmi2GetDirectionalDerivative",
       [&](fmi2Component &c) {
         const double seed = 1.0;
         double out = 0.0;
         return f.fmi2GetDirectionalDerivative(c, &vrOutflow, 1, &vrState, 1, &seed, &out);
       }},
  };
  if (kind == fmi2ModelExchange) {
    const std::vector<Step> me = {
        {"fmi2NewDiscreteStates",
         [&](fmi2Component &c) {
           fmi2EventInfo info{};
           return f.fmi2NewDiscreteStates(c, &info);
         }},
        {"fmi2EnterContinuousTimeMode",
         [&](fmi2Component &c) { return f.fmi2EnterContinuousTimeMode(c); }},
        {"fmi2SetTime", [&](fmi2Component &c) { return f.fmi2SetTime(c, 0.5); }},
        {"fmi2SetContinuousStates",
         [&](fmi2Component &c) {
           const double x = 2.0;
           return f.fmi2SetContinuousStates(c, &x, 1);
         }},
        {"fmi2GetDerivatives",
         [&](fmi2Component &c) {
           double d = 0;
           return f.fmi2GetDerivatives(c, &d, 1);
         }},
        {"fmi2GetEventIndicators",
         [&](fmi2Component &c) {
           double z = 0;
           return f.fmi2GetEventIndicators(c, &z, 0);
         }},
        {"fmi2GetContinuousStates",
         [&](fmi2Component &c) {
           double x = 0;
           return f.fmi2GetContinuousStates(c, &x, 1);
         }},
        {"fmi2GetNominalsOfContinuousStates",
         [&](fmi2Component &c) {
           double n = 0;
           return f.fmi2GetNominalsOfContinuousStates(c, &n, 1);
         }},
        {"fmi2CompletedIntegratorStep",
         [&](fmi2Component &c) {
           fmi2Boolean enter = 0, stop = 0;
           return f.fmi2CompletedIntegratorStep(c, fmi2True, &enter, &stop);
         }},
        {"fmi2EnterEventMode", [&](fmi2Component &c) { return f.fmi2EnterEventMode(c); }},
    };
    steps.insert(steps.end(), me.begin(), me.end());
  } else {
    const std::vector<Step> cs = {
        {"fmi2SetRealInputDerivatives",
         [&](fmi2Component &c) {
           const fmi2Integer order = 1;
           const double v = 0.1;
           return f.fmi2SetRealInputDerivatives(c, &vrInput, 1, &order, &v);
         }},
        {"fmi2DoStep", [&](fmi2Component &c) { return f.fmi2DoStep(c, 0.0, 0.5, fmi2True); }},
        {"fmi2GetRealOutputDerivatives",
         [&](fmi2Component &c) {
           const fmi2Integer order = 1;
           double v = 0;
           return f.fmi2GetRealOutputDerivatives(c, &vrOutflow, 1, &order, &v);
         }},
        {"fmi2CancelStep", [&](fmi2Component &c) { return f.fmi2CancelStep(c); }},
        {"fmi2GetStatus",
         [&](fmi2Component &c) {
           fmi2Status s = fmi2OK;
           return f.fmi2GetStatus(c, fmi2DoStepStatus, &s);
         }},
        {"fmi2GetRealStatus",
         [&](fmi2Component &c) {
           double t = 0;
           return f.fmi2GetRealStatus(c, fmi2LastSuccessfulTime, &t);
         }},
        {"fmi2GetIntegerStatus",
         [&](fmi2Component &c) {
           fmi2Integer v = 0;
           return f.fmi2GetIntegerStatus(c, fmi2PendingStatus, &v);
         }},
        {"fmi2GetBooleanStatus",
         [&](fmi2Component &c) {
           fmi2Boolean v = 0;
           return f.fmi2GetBooleanStatus(c, fmi2Terminated, &v);
         }},
        {"fmi2GetStringStatus",
         [&](fmi2Component &c) {
           fmi2String v = nullptr;
           return f.fmi2GetStringStatus(c, fmi2PendingStatus, &v);
         }},
    };
    steps.insert(steps.end(), cs.begin(), cs.end());
  }
  const std::vector<Step> end = {
      {"fmi2Terminate", [&](fmi2Component &c) { return f.fmi2Terminate(c); }},
      {"fmi2Reset", [&](fmi2Component &c) { return f.fmi2Reset(c); }},
      {"fmi2FreeInstance",
       [&](fmi2Component &c) {
         f.fmi2FreeInstance(c);
         c = nullptr;
         return 0;
       }},
  };
  steps.insert(steps.end(), end.begin(), end.end());
  return steps;
}

// The results of the life cycle under the given callbacks; no exception may
// come out of any call.
std::vector<int> run(fmi2Type kind, const fmi2CallbackFunctions *callbacks,
                     std::vector<std::string> *names = nullptr) {
  std::vector<int> results;
  fmi2Component c = nullptr;
  for (const Step &step : lifecycle(kind, callbacks)) {
    SCOPED_TRACE(step.name);
    int result = -1;
    EXPECT_NO_THROW(result = step.call(c));
    results.push_back(result);
    if (names != nullptr) names->push_back(step.name);
  }
  if (c != nullptr) fmi().fmi2FreeInstance(c);
  return results;
}

TEST(ThrowingLogger, EveryFunctionReturnsAsWithARecordingLogger) {
  std::vector<std::string> covered;
  for (const fmi2Type kind : {fmi2ModelExchange, fmi2CoSimulation}) {
    SCOPED_TRACE(kind == fmi2CoSimulation ? "Co-Simulation" : "Model Exchange");
    fmihost::HostCallbacks recording;
    const std::vector<int> expected = run(kind, &recording.functions(), &covered);

    const size_t liveBefore = fmihost::liveBlocks();
    const fmi2CallbackFunctions throwing = {throwingLogger, fmihost::allocateMemory,
                                            fmihost::freeMemory, nullptr, nullptr};
    const std::vector<int> results = run(kind, &throwing);
    EXPECT_EQ(results, expected);
    EXPECT_EQ(fmihost::liveBlocks(), liveBefore) << "blocks leaked";
  }
  // All 44 functions were called.
  std::sort(covered.begin(), covered.end());
  covered.erase(std::unique(covered.begin(), covered.end()), covered.end());
  EXPECT_EQ(covered.size(), 44u);
}

} // namespace
