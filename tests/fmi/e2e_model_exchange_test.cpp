// Initialization, event handling, the continuous-time functions and the
// state machine of a Model Exchange instance, driven through the loaded unit.
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using e2e::fmi;

class ModelExchange : public e2e::UnitTest {};

double exactLevel(double t) {
  const double root = std::sqrt(3.0) - 0.1 * std::sqrt(19.62) / 4.0 * t;
  return root * root;
}

// The host's fixed-step RK4 from t = 0 to 10 s with h = 0.01: the levels at
// every step.  Returns an empty vector after a failed call.
std::vector<double> runRk4(fmi2Component c) {
  const auto &f = fmi();
  const double h = 0.01;
  std::vector<double> levels;
  double x = 0.0;
  if (f.fmi2GetContinuousStates(c, &x, 1) != fmi2OK) return {};
  auto derivative = [&](double t, double state, double *dx) {
    return f.fmi2SetTime(c, t) == fmi2OK && f.fmi2SetContinuousStates(c, &state, 1) == fmi2OK &&
           f.fmi2GetDerivatives(c, dx, 1) == fmi2OK;
  };
  for (int i = 0; i < 1000; ++i) {
    const double t = i * h;
    double k1, k2, k3, k4;
    if (!derivative(t, x, &k1) || !derivative(t + h / 2, x + h / 2 * k1, &k2) ||
        !derivative(t + h / 2, x + h / 2 * k2, &k3) || !derivative(t + h, x + h * k3, &k4)) {
      return {};
    }
    x += h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
    fmi2Boolean enterEventMode = fmi2True, terminate = fmi2True;
    if (f.fmi2SetTime(c, t + h) != fmi2OK || f.fmi2SetContinuousStates(c, &x, 1) != fmi2OK ||
        f.fmi2CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate) != fmi2OK ||
        enterEventMode != fmi2False || terminate != fmi2False) {
      return {};
    }
    double level = NAN;
    const fmi2ValueReference vr = e2e::vrLevel;
    if (f.fmi2GetReal(c, &vr, 1, &level) != fmi2OK) return {};
    levels.push_back(level);
  }
  return levels;
}

TEST_F(ModelExchange, InitializationGivesTheStartValues) {
  instantiate();
  ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  auto m = host_.messages();
  EXPECT_TRUE(host_.hasMessage("fmi2EnterInitializationMode...", fmi2OK));
  EXPECT_EQ(last().message, "fmi2EnterInitializationMode completed");
  ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 3.0);
  EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), e2e::kOutflow0);
  EXPECT_DOUBLE_EQ(real(e2e::vrState), 3.0);
  EXPECT_DOUBLE_EQ(real(e2e::vrGravity), 9.81);
  EXPECT_DOUBLE_EQ(real(e2e::vrDerivative), -e2e::kOutflow0 / 2.0);
  EXPECT_DOUBLE_EQ(real(e2e::vrAuxDerivative), -e2e::kOutflow0 / 2.0);
  double dx = 0;
  ASSERT_EQ(fmi().fmi2GetDerivatives(c_, &dx, 1), fmi2OK);
  EXPECT_DOUBLE_EQ(dx, -e2e::kOutflow0 / 2.0);
  double nominal = 0;
  ASSERT_EQ(fmi().fmi2GetNominalsOfContinuousStates(c_, &nominal, 1), fmi2OK);
  EXPECT_EQ(nominal, 1.0); // the model gives none (0 inside), reported as FMI's 1.0
}

// The trace of every call of a Model Exchange run, in order: entry and
// end lines as the host sees them with logging on.
TEST_F(ModelExchange, EveryCallIsTraced) {
  const auto &f = fmi();
  ASSERT_NE(instantiate(), nullptr);
  fmi2EventInfo info{};
  double v = 3.0;
  fmi2Boolean enter = 0, stop = 0;
  ASSERT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(f.fmi2ExitInitializationMode(c_), fmi2OK);
  ASSERT_EQ(f.fmi2NewDiscreteStates(c_, &info), fmi2OK);
  ASSERT_EQ(f.fmi2EnterContinuousTimeMode(c_), fmi2OK);
  ASSERT_EQ(f.fmi2SetTime(c_, 0.25), fmi2OK);
  ASSERT_EQ(f.fmi2SetContinuousStates(c_, &v, 1), fmi2OK);
  ASSERT_EQ(f.fmi2GetDerivatives(c_, &v, 1), fmi2OK);
  ASSERT_EQ(f.fmi2GetEventIndicators(c_, &v, 0), fmi2OK);
  ASSERT_EQ(f.fmi2GetContinuousStates(c_, &v, 1), fmi2OK);
  ASSERT_EQ(f.fmi2GetNominalsOfContinuousStates(c_, &v, 1), fmi2OK);
  ASSERT_EQ(f.fmi2CompletedIntegratorStep(c_, fmi2True, &enter, &stop), fmi2OK);
  ASSERT_EQ(f.fmi2EnterEventMode(c_), fmi2OK);
  ASSERT_EQ(f.fmi2Terminate(c_), fmi2OK);
  ASSERT_EQ(f.fmi2Reset(c_), fmi2OK);
  free();
  const std::vector<std::string> expected = {
      "fmi2Instantiate completed",
      "fmi2SetupExperiment: startTime is set to 0",
      "fmi2EnterInitializationMode...",
      "fmi2EnterInitializationMode completed",
      "fmi2ExitInitializationMode...",
      "fmi2ExitInitializationMode completed",
      "fmi2NewDiscreteStates...",
      "fmi2NewDiscreteStates completed",
      "fmi2EnterContinuousTimeMode...",
      "fmi2EnterContinuousTimeMode done",
      "fmi2SetTime to 0.25",
      "fmi2SetContinuousStates",
      "fmi2GetDerivatives",
      "fmi2GetEventIndicators",
      "fmi2GetContinuousStates",
      "fmi2GetNominalsOfContinuousStates",
      "fmi2CompletedIntegratorStep",
      "fmi2EnterEventMode...",
      "fmi2EnterEventMode done",
      "fmi2Terminate",
      "fmi2Reset...",
      "fmi2Reset completed",
      "fmiFreeModelInstance",
  };
  std::vector<std::string> seen;
  for (const auto &m : host_.messages()) {
    EXPECT_EQ(m.status, fmi2OK) << m.message;
    EXPECT_EQ(m.instanceName, "tank");
    seen.push_back(m.message);
  }
  EXPECT_EQ(seen, expected) << host_.dump();
}

TEST_F(ModelExchange, Rk4RunFollowsTheExactSolution) {
  continuousTime(false);
  const std::vector<double> levels = runRk4(c_);
  ASSERT_EQ(levels.size(), 1000u) << host_.dump();
  for (size_t i = 0; i < levels.size(); ++i) {
    const double t = static_cast<double>(i + 1) * 0.01;
    ASSERT_NEAR(levels[i], exactLevel(t), 1e-6) << "t = " << t;
  }
  EXPECT_EQ(real(e2e::vrTime), 10.0);
  EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK);
}

TEST_F(ModelExchange, EventIterationReportsNoTimeEvent) {
  initialized();
  fmi2EventInfo info{};
  info.nextEventTime = -1.0;
  info.valuesOfContinuousStatesChanged = fmi2True;
  ASSERT_EQ(fmi().fmi2NewDiscreteStates(c_, &info), fmi2OK);
  EXPECT_EQ(last().message, "fmi2NewDiscreteStates completed");
  EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2False);
  EXPECT_EQ(info.terminateSimulation, fmi2False);
  EXPECT_EQ(info.nominalsOfContinuousStatesChanged, fmi2False);
  EXPECT_EQ(info.valuesOfContinuousStatesChanged, fmi2False);
  EXPECT_EQ(info.nextEventTimeDefined, fmi2False);
  EXPECT_EQ(info.nextEventTime, -1.0); // left as it was
  // A second round trip through event mode.
  ASSERT_EQ(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK);
  EXPECT_EQ(last().message, "fmi2EnterContinuousTimeMode done");
  ASSERT_EQ(fmi().fmi2EnterEventMode(c_), fmi2OK);
  EXPECT_EQ(last().message, "fmi2EnterEventMode done");
  ASSERT_EQ(fmi().fmi2NewDiscreteStates(c_, &info), fmi2OK);
  ASSERT_EQ(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 3.0);
}

// Each call in a state that does not accept it is refused with its warning
// and leaves the state as it was.
TEST_F(ModelExchange, CallsInTheWrongStateAreRefused) {
  enum Reach { Instantiated, Initialization, Event, EventDone, Continuous, Terminated };
  struct Case {
    const char *label;
    Reach reach;
    std::function<fmi2Status(fmi2Component)> call;
    std::string message;
  };
  double v = 0;
  fmi2Integer i = 0;
  fmi2String s = nullptr;
  const fmi2ValueReference level = e2e::vrLevel;
  const fmi2ValueReference str = 0x08000000;
  fmi2EventInfo info{};
  const auto &f = fmi();
  const std::vector<Case> cases = {
      {"exit init in 0", Instantiated, f.fmi2ExitInitializationMode,
       "fmi2ExitInitializationMode: may only called in initialization mode"},
      {"event mode in 0", Instantiated, f.fmi2EnterEventMode,
       "fmi2EnterEventMode: may only be called in continuous time mode"},
      {"derivatives in 0", Instantiated,
       [&](fmi2Component c) { return f.fmi2GetDerivatives(c, &v, 1); },
       "fmi2GetDerivatives: fmi2EnterInitializationMode must be called before calling "
       "fmi2GetDerivatives"},
      {"states in 0", Instantiated,
       [&](fmi2Component c) { return f.fmi2GetContinuousStates(c, &v, 1); },
       "fmi2GetContinuousStates: fmiEnterInitializationMode must be called before calling "
       "fmi2GetContinuousStates"},
      {"real in 0", Instantiated, [&](fmi2Component c) { return f.fmi2GetReal(c, &level, 1, &v); },
       "fmiGetReal: Not allowed before call of fmi2EnterInitializationMode"},
      {"integer in 0", Instantiated,
       [&](fmi2Component c) { return f.fmi2GetInteger(c, &level, 1, &i); },
       "fmiGetInteger: Not allowed before call of fmi2EnterInitializationMode"},
      {"boolean in 0", Instantiated,
       [&](fmi2Component c) { return f.fmi2GetBoolean(c, &level, 1, &i); },
       "fmiGetBoolean: Not allowed before call of fmi2EnterInitializationMode"},
      {"string in 0", Instantiated,
       [&](fmi2Component c) { return f.fmi2GetString(c, &str, 1, &s); },
       "fmi2GetString: Not allowed before call of fmi2EnterInitializationMode"},
      {"init in 1", Initialization, f.fmi2EnterInitializationMode,
       "model cannot be initialized in current state(1)"},
      {"indicators in 1", Initialization,
       [&](fmi2Component c) { return f.fmi2GetEventIndicators(c, &v, 0); },
       "fmi2GetEventIndicators: fmi2ExitInitializationMode must be called before calling "
       "fmi2GetEventIndicators"},
      {"continuous in 3", Event, f.fmi2EnterContinuousTimeMode,
       "fmi2EnterContinuousTimeMode: may only be called when exited event mode"},
      {"set time in 3", Event, [&](fmi2Component c) { return f.fmi2SetTime(c, 1.0); },
       "fmi2SetTime: not allowed in this state"},
      {"set time in 5", EventDone, [&](fmi2Component c) { return f.fmi2SetTime(c, 1.0); },
       "fmi2SetTime: only allowed for discrete models when not in continuous time mode"},
      {"discrete states in 6", Continuous,
       [&](fmi2Component c) { return f.fmi2NewDiscreteStates(c, &info); },
       "fmi2NewDiscreteStates: may only be called in event mode"},
      {"exit init in 6", Continuous, f.fmi2ExitInitializationMode,
       "fmi2ExitInitializationMode: may only called in initialization mode"},
      {"terminate in 7", Terminated, f.fmi2Terminate,
       "fmi2Terminate: already terminated, ignoring call"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.label);
    instantiate();
    if (k.reach >= Initialization) {
      ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
    }
    if (k.reach >= Event) {
      ASSERT_EQ(f.fmi2ExitInitializationMode(c_), fmi2OK);
    }
    if (k.reach >= EventDone) {
      ASSERT_EQ(f.fmi2NewDiscreteStates(c_, &info), fmi2OK);
    }
    if (k.reach >= Continuous) {
      ASSERT_EQ(f.fmi2EnterContinuousTimeMode(c_), fmi2OK);
    }
    if (k.reach >= Terminated) {
      ASSERT_EQ(f.fmi2Terminate(c_), fmi2OK);
    }
    host_.clearMessages();
    EXPECT_EQ(k.call(c_), fmi2Warning);
    // The refusal is the only warning and the last message (an entry trace
    // may come before it).
    size_t warnings = 0;
    for (const auto &m : host_.messages()) warnings += m.status != fmi2OK ? 1 : 0;
    EXPECT_EQ(warnings, 1u) << host_.dump();
    EXPECT_EQ(last().message, k.message);
    EXPECT_EQ(last().status, fmi2Warning);
    // Still in the same state: a call that only that state accepts goes through.
    switch (k.reach) {
    case Instantiated:
      EXPECT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
      break;
    case Initialization:
      EXPECT_EQ(f.fmi2ExitInitializationMode(c_), fmi2OK);
      break;
    case Event:
      EXPECT_EQ(f.fmi2NewDiscreteStates(c_, &info), fmi2OK);
      break;
    case EventDone:
      EXPECT_EQ(f.fmi2EnterContinuousTimeMode(c_), fmi2OK);
      break;
    case Continuous:
      EXPECT_EQ(f.fmi2EnterEventMode(c_), fmi2OK);
      break;
    case Terminated:
      EXPECT_EQ(f.fmi2Reset(c_), fmi2OK);
      break;
    }
    free();
  }
}

TEST_F(ModelExchange, WrongCountsCopyTheSmallerCount) {
  continuousTime();
  const double x[3] = {2.0, 7.0, 7.0};
  EXPECT_EQ(fmi().fmi2SetContinuousStates(c_, x, 3), fmi2Warning);
  EXPECT_TRUE(host_.hasMessage("fmi2SetContinuousStates: argument nx = 3 is incorrect, should be 1",
                               fmi2Warning));
  double out[3] = {-1, -1, -1};
  EXPECT_EQ(fmi().fmi2GetContinuousStates(c_, out, 3), fmi2Warning);
  EXPECT_EQ(out[0], 2.0);
  EXPECT_EQ(out[1], -1.0);
  EXPECT_EQ(fmi().fmi2GetEventIndicators(c_, out, 0), fmi2OK);
  EXPECT_EQ(fmi().fmi2GetEventIndicators(c_, out, 2), fmi2Warning);
  EXPECT_TRUE(host_.hasMessage("fmi2GetEventIndicators: argument ni = 2 is incorrect, should be 0",
                               fmi2Warning));
  EXPECT_EQ(out[0], 2.0);
  // Null arrays with a count are refused before anything is read.
  EXPECT_EQ(fmi().fmi2SetContinuousStates(c_, nullptr, 1), fmi2Error);
  EXPECT_EQ(last().status, fmi2Error);
  EXPECT_EQ(fmi().fmi2GetDerivatives(c_, nullptr, 1), fmi2Error);
  EXPECT_EQ(fmi().fmi2NewDiscreteStates(c_, nullptr), fmi2Error);
  fmi2Boolean flag = 0;
  EXPECT_EQ(fmi().fmi2CompletedIntegratorStep(c_, fmi2True, nullptr, &flag), fmi2Error);
}

// A model error (square root of a negative level) in the evaluation of a
// reader: Real values, derivatives and event indicators are discarded and
// leave the instance usable; Integer and Boolean reads terminate it.
TEST_F(ModelExchange, ModelErrorIsDiscardedForRealsAndFatalForIntegers) {
  struct Case {
    const char *label;
    std::function<fmi2Status(fmi2Component)> call;
    fmi2Status status;
    std::string message;
    fmi2Status messageStatus;
  };
  const auto &f = fmi();
  const fmi2ValueReference outflow = e2e::vrOutflow;
  double v = 0;
  fmi2Integer i = 0;
  const std::vector<Case> cases = {
      {"derivatives", [&](fmi2Component c) { return f.fmi2GetDerivatives(c, &v, 1); }, fmi2Discard,
       "fmi2GetDerivatives: dsblock_ failed, QiErr = 1", fmi2Error},
      {"event indicators", [&](fmi2Component c) { return f.fmi2GetEventIndicators(c, &v, 0); },
       fmi2Discard, "fmi2GetEventIndicators: dsblock_ failed, QiErr = 1", fmi2Error},
      {"real", [&](fmi2Component c) { return f.fmi2GetReal(c, &outflow, 1, &v); }, fmi2Discard,
       "fmiGetReal: dsblock_ failed, QiErr = 1", fmi2Discard},
      {"integer", [&](fmi2Component c) { return f.fmi2GetInteger(c, &outflow, 1, &i); }, fmi2Error,
       "fmiGetInteger: dsblock_ failed, QiErr = 1", fmi2Error},
      {"boolean", [&](fmi2Component c) { return f.fmi2GetBoolean(c, &outflow, 1, &i); }, fmi2Error,
       "fmiGetBoolean: dsblock_ failed, QiErr = 1", fmi2Error},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.label);
    continuousTime();
    const double negative = -1.0;
    ASSERT_EQ(f.fmi2SetContinuousStates(c_, &negative, 1), fmi2OK);
    host_.clearMessages();
    EXPECT_EQ(k.call(c_), k.status);
    EXPECT_TRUE(host_.hasMessage(k.message, k.messageStatus)) << host_.dump();
    EXPECT_TRUE(host_.hasMessage("Model error - sqrt", fmi2Error)) << host_.dump();
    if (k.status == fmi2Discard) {
      // Still in continuous-time mode: valid states give valid results.
      const double three = 3.0;
      ASSERT_EQ(f.fmi2SetContinuousStates(c_, &three, 1), fmi2OK);
      EXPECT_EQ(k.call(c_), fmi2OK) << host_.dump();
      double dx = 0;
      ASSERT_EQ(f.fmi2GetDerivatives(c_, &dx, 1), fmi2OK);
      EXPECT_DOUBLE_EQ(dx, -e2e::kOutflow0 / 2.0);
    } else {
      EXPECT_EQ(f.fmi2Terminate(c_), fmi2Warning);
      EXPECT_EQ(last().message, "fmi2Terminate: already terminated, ignoring call");
    }
    free();
  }
}

// A model error during initialization (square root of a negative start
// level): the failure, the hint about external data, and a terminated
// instance that a second initialization does not revive.
TEST_F(ModelExchange, AFailedInitializationTerminatesTheInstance) {
  instantiate();
  const fmi2ValueReference initialLevel = e2e::vrInitialLevel;
  const double negative = -1.0;
  ASSERT_EQ(fmi().fmi2SetReal(c_, &initialLevel, 1, &negative), fmi2OK);
  host_.clearMessages();
  EXPECT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2Error);
  auto m = host_.messages();
  ASSERT_GE(m.size(), 2u) << host_.dump();
  EXPECT_EQ(m[m.size() - 2].message, "fmiInitialize: dsblock_ failed, QiErr = 1");
  EXPECT_EQ(m[m.size() - 2].status, fmi2Error);
  EXPECT_EQ(m.back().message,
            "Unless otherwise indicated by error messages, possible errors are (non-exhaustive):\n"
            "The model references external data that is not present on the target machine, at "
            "least not with the same location.\n");
  EXPECT_EQ(m.back().status, fmi2Error);
  EXPECT_FALSE(host_.hasMessage("fmi2EnterInitializationMode completed"));
  EXPECT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2Warning);
  EXPECT_EQ(last().message, "model cannot be initialized in current state(7)");
  EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2Warning);
  EXPECT_EQ(last().message, "fmi2Terminate: already terminated, ignoring call");
}

TEST_F(ModelExchange, TerminateAfterAFailedEvaluationSkipsTheTerminalSection) {
  continuousTime();
  const double negative = -1.0;
  ASSERT_EQ(fmi().fmi2SetContinuousStates(c_, &negative, 1), fmi2OK);
  double dx = 0;
  ASSERT_EQ(fmi().fmi2GetDerivatives(c_, &dx, 1), fmi2Discard);
  host_.clearMessages();
  EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK);
  EXPECT_FALSE(host_.hasMessage("terminal section")) << host_.dump();
  EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2Warning);
}

// Two instances integrated at the same time on two threads give exactly the
// results of the same runs one after the other.  (Instantiation and release
// stay on the main thread, as a host does them.)
TEST_F(ModelExchange, TwoThreadsGiveTheSequentialResults) {
  const auto &f = fmi();
  auto create = [&](fmihost::HostCallbacks &host, const char *name) {
    return f.fmi2Instantiate(name, fmi2ModelExchange, FMI_MODEL_GUID, nullptr, &host.functions(),
                             fmi2False, fmi2True);
  };
  auto run = [&](fmi2Component c, double inputRate, std::vector<double> *levels) {
    const fmi2ValueReference input = e2e::vrInputRate;
    fmi2EventInfo info{};
    if (f.fmi2SetReal(c, &input, 1, &inputRate) == fmi2OK &&
        f.fmi2EnterInitializationMode(c) == fmi2OK && f.fmi2ExitInitializationMode(c) == fmi2OK &&
        f.fmi2NewDiscreteStates(c, &info) == fmi2OK && f.fmi2EnterContinuousTimeMode(c) == fmi2OK) {
      *levels = runRk4(c);
    }
  };
  fmihost::HostCallbacks hostA, hostB;
  std::vector<double> seqA, seqB, parA, parB;
  fmi2Component a = create(hostA, "a");
  fmi2Component b = create(hostB, "b");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  run(a, 0.0, &seqA);
  run(b, 0.05, &seqB);
  ASSERT_EQ(seqA.size(), 1000u) << hostA.dump();
  ASSERT_EQ(seqB.size(), 1000u) << hostB.dump();
  ASSERT_EQ(f.fmi2Reset(a), fmi2OK);
  ASSERT_EQ(f.fmi2Reset(b), fmi2OK);
  hostA.clearMessages();
  hostB.clearMessages();
  std::thread ta(run, a, 0.0, &parA);
  std::thread tb(run, b, 0.05, &parB);
  ta.join();
  tb.join();
  f.fmi2FreeInstance(a);
  f.fmi2FreeInstance(b);
  EXPECT_EQ(parA, seqA);
  EXPECT_EQ(parB, seqB);
  EXPECT_NE(seqA, seqB);
  EXPECT_FALSE(hostA.messages().empty());
  for (const auto &m : hostA.messages()) ASSERT_EQ(m.instanceName, "a") << m.message;
  for (const auto &m : hostB.messages()) ASSERT_EQ(m.instanceName, "b") << m.message;
}

} // namespace
