// What hosts rely on at the edges of the FMI layer, through the loaded unit
// in both kinds: FMU-state calls that run out of memory leave the instance
// as a twin that never made the call; in Initialization Mode the values
// follow what is set there; fixed parameters and constants are refused when
// the model does not let them change; the experiment is set up only before
// initialization; the unit keeps its own copy of the host's callback record;
// and a reset right after instantiation declares the start values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using e2e::fmi;
using Bytes = std::vector<fmi2Byte>;

const char *kindName(fmi2Type kind) {
  return kind == fmi2CoSimulation ? "CoSimulation" : "ModelExchange";
}

std::string ref(char letter, fmi2ValueReference vr) {
  return std::string("#") + letter + std::to_string(vr) + "#";
}

// Every variable of the model that a read can reach once initialized.
const std::vector<fmi2ValueReference> kAllVariables = {
    e2e::vrTime,         e2e::vrState,     e2e::vrVornSurface,  e2e::vrHoleSurface,
    e2e::vrInitialLevel, e2e::vrInputRate, e2e::vrLevel,        e2e::vrOutflow,
    e2e::vrDerivative,   e2e::vrGravity,   e2e::vrAuxDerivative};

// The outflow for a level: holeSurface 0.1, g 9.81.
double outflowAt(double level) { return 0.1 * std::sqrt(19.62 * level); }

fmi2Status setReal(fmi2Component c, fmi2ValueReference vr, double v) {
  return fmi().fmi2SetReal(c, &vr, 1, &v);
}

double getReal(fmi2Component c, fmi2ValueReference vr) {
  double v = NAN;
  EXPECT_EQ(fmi().fmi2GetReal(c, &vr, 1, &v), fmi2OK);
  return v;
}

// The complete state of an instance as a host can see it: every variable
// and the bytes of its FMU-state image.
struct Fingerprint {
  std::vector<double> values;
  Bytes image;
};

Fingerprint fingerprint(fmi2Component c) {
  const fmihost::Fmi2Functions &f = fmi();
  Fingerprint p;
  p.values.assign(kAllVariables.size(), NAN);
  EXPECT_EQ(f.fmi2GetReal(c, kAllVariables.data(), kAllVariables.size(), p.values.data()), fmi2OK);
  fmi2FMUstate s = nullptr;
  EXPECT_EQ(f.fmi2GetFMUstate(c, &s), fmi2OK);
  size_t size = 0;
  EXPECT_EQ(f.fmi2SerializedFMUstateSize(c, s, &size), fmi2OK);
  p.image.resize(size);
  EXPECT_EQ(f.fmi2SerializeFMUstate(c, s, p.image.data(), size), fmi2OK);
  EXPECT_EQ(f.fmi2FreeFMUstate(c, &s), fmi2OK);
  return p;
}

// Bit for bit: the same doubles (as bytes) and the same image.
void expectTwins(const Fingerprint &a, const Fingerprint &b) {
  ASSERT_EQ(a.values.size(), b.values.size());
  for (size_t i = 0; i < a.values.size(); ++i) {
    EXPECT_EQ(std::memcmp(&a.values[i], &b.values[i], sizeof(double)), 0)
        << "variable " << i << ": " << a.values[i] << " != " << b.values[i];
  }
  EXPECT_TRUE(a.image == b.image) << "the FMU-state images differ";
}

// Set up and initialized with the defaults (Model Exchange: the event
// iteration done, in continuous-time mode).
void initialize(fmi2Component c, fmi2Type kind) {
  const fmihost::Fmi2Functions &f = fmi();
  ASSERT_EQ(f.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(f.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(f.fmi2ExitInitializationMode(c), fmi2OK);
  if (kind == fmi2ModelExchange) {
    fmi2EventInfo info{};
    ASSERT_EQ(f.fmi2NewDiscreteStates(c, &info), fmi2OK);
    ASSERT_EQ(f.fmi2EnterContinuousTimeMode(c), fmi2OK);
  }
}

// Four steps of 0.25 s from the instance's time, with an inflow set first:
// Co-Simulation by fmi2DoStep, Model Exchange by the host's Euler steps and
// an event after them.
void advance(fmi2Component c, fmi2Type kind) {
  const fmihost::Fmi2Functions &f = fmi();
  ASSERT_EQ(setReal(c, e2e::vrInputRate, 0.05), fmi2OK);
  double t = getReal(c, e2e::vrTime);
  for (int k = 0; k < 4; ++k, t += 0.25) {
    if (kind == fmi2CoSimulation) {
      ASSERT_EQ(f.fmi2DoStep(c, t, 0.25, fmi2True), fmi2OK);
      continue;
    }
    double x = NAN;
    double dx = NAN;
    ASSERT_EQ(f.fmi2GetContinuousStates(c, &x, 1), fmi2OK);
    ASSERT_EQ(f.fmi2GetDerivatives(c, &dx, 1), fmi2OK);
    ASSERT_EQ(f.fmi2SetTime(c, t + 0.25), fmi2OK);
    x += 0.25 * dx;
    ASSERT_EQ(f.fmi2SetContinuousStates(c, &x, 1), fmi2OK);
    fmi2Boolean enterEventMode = fmi2False;
    fmi2Boolean terminate = fmi2False;
    ASSERT_EQ(f.fmi2CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate), fmi2OK);
  }
  if (kind == fmi2ModelExchange) {
    ASSERT_EQ(f.fmi2EnterEventMode(c), fmi2OK);
    ASSERT_EQ(setReal(c, e2e::vrHoleSurface, 0.12), fmi2OK);
    fmi2EventInfo info{};
    ASSERT_EQ(f.fmi2NewDiscreteStates(c, &info), fmi2OK);
    ASSERT_EQ(f.fmi2EnterContinuousTimeMode(c), fmi2OK);
  }
}

class LayerFaults : public e2e::UnitTest, public ::testing::WithParamInterface<fmi2Type> {
protected:
  fmi2Type kind() const { return GetParam(); }
  void TearDown() override {
    if (c_ != nullptr && kind() == fmi2CoSimulation) (void)fmi().fmi2Terminate(c_);
    e2e::UnitTest::TearDown();
  }
};

// ---- FMU-state calls out of memory ----------------------------------------------------

// One instance of a twin pair with the FMU state it saved at t = 0.5 and
// that state's image.
struct Twin {
  fmihost::HostCallbacks host;
  fmi2Component c = nullptr;
  fmi2FMUstate state = nullptr;
  Bytes image;

  void start(fmi2Type kind) {
    c = fmi().fmi2Instantiate("twin", kind, FMI_MODEL_GUID, nullptr, &host.functions(), fmi2False,
                              fmi2True);
    ASSERT_NE(c, nullptr);
    initialize(c, kind);
    advance(c, kind);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_EQ(fmi().fmi2GetFMUstate(c, &state), fmi2OK) << host.dump();
    size_t size = 0;
    ASSERT_EQ(fmi().fmi2SerializedFMUstateSize(c, state, &size), fmi2OK);
    image.resize(size);
    ASSERT_EQ(fmi().fmi2SerializeFMUstate(c, state, image.data(), size), fmi2OK);
  }
  void stop() {
    if (c == nullptr) return;
    if (state != nullptr) {
      EXPECT_EQ(fmi().fmi2FreeFMUstate(c, &state), fmi2OK);
    }
    (void)fmi().fmi2Terminate(c);
    fmi().fmi2FreeInstance(c);
    c = nullptr;
  }
};

struct StateOperation {
  const char *what;
  // Applied to both twins after the start: true when it resets them.
  bool reset;
  // The call made on one twin only.
  std::function<fmi2Status(Twin &)> call;
  // Whether the call takes host memory (so that some allocation fails).
  bool allocatesME;
  bool allocatesCS;
};

// A call that makes a new record: it has one exactly when it succeeds; the
// record is released again.
fmi2Status intoNewRecord(Twin &t, const std::function<fmi2Status(fmi2FMUstate *)> &call) {
  fmi2FMUstate s = nullptr;
  const fmi2Status status = call(&s);
  EXPECT_EQ(status == fmi2OK, s != nullptr);
  if (s != nullptr) {
    EXPECT_EQ(fmi().fmi2FreeFMUstate(t.c, &s), fmi2OK);
  }
  return status;
}

std::vector<StateOperation> stateOperations() {
  const fmihost::Fmi2Functions &f = fmi();
  return {
      {"fmi2GetFMUstate into a new record", false,
       [&](Twin &t) {
         return intoNewRecord(t, [&](fmi2FMUstate *s) { return f.fmi2GetFMUstate(t.c, s); });
       },
       true, true},
      {"fmi2GetFMUstate into the saved record", false,
       [&](Twin &t) { return f.fmi2GetFMUstate(t.c, &t.state); }, false, false},
      {"fmi2SetFMUstate", false, [&](Twin &t) { return f.fmi2SetFMUstate(t.c, t.state); }, false,
       false},
      {"fmi2SetFMUstate after fmi2Reset", true,
       [&](Twin &t) { return f.fmi2SetFMUstate(t.c, t.state); }, false, true},
      {"fmi2SerializeFMUstate", false,
       [&](Twin &t) {
         Bytes buffer(t.image.size());
         return f.fmi2SerializeFMUstate(t.c, t.state, buffer.data(), buffer.size());
       },
       false, false},
      {"fmi2DeSerializeFMUstate into a new record", false,
       [&](Twin &t) {
         return intoNewRecord(t, [&](fmi2FMUstate *s) {
           return f.fmi2DeSerializeFMUstate(t.c, t.image.data(), t.image.size(), s);
         });
       },
       true, true},
      {"fmi2DeSerializeFMUstate into the saved record", false,
       [&](Twin &t) {
         fmi2FMUstate into = t.state;
         const fmi2Status status =
             f.fmi2DeSerializeFMUstate(t.c, t.image.data(), t.image.size(), &into);
         EXPECT_EQ(into, t.state);
         return status;
       },
       true, true},
  };
}

// Every host allocation of each FMU-state call, made to fail in turn on one
// of two instances that were driven alike: the call answers fmi2Error with
// its message and releases what it took, and the instance then runs on
// exactly as its twin, which never made the call.
TEST_P(LayerFaults, FailedStateCallLeavesTheInstanceAsItsTwin) {
  for (const StateOperation &op : stateOperations()) {
    SCOPED_TRACE(op.what);
    size_t failures = 0;
    for (size_t n = 1;; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n));
      ASSERT_LT(n, 60u);
      Twin a;
      Twin b;
      a.start(kind());
      b.start(kind());
      if (HasFatalFailure()) return;
      // Moved on from the saved point, so that a restore changes something.
      advance(a.c, kind());
      advance(b.c, kind());
      if (op.reset) {
        ASSERT_EQ(fmi().fmi2Reset(a.c), fmi2OK);
        ASSERT_EQ(fmi().fmi2Reset(b.c), fmi2OK);
      }
      a.host.clearMessages();
      const size_t blocks = fmihost::liveBlocks();
      fmihost::failAllocation(n);
      const fmi2Status status = op.call(a);
      fmihost::failAllocation(0);
      if (status == fmi2OK) {
        a.stop();
        b.stop();
        break;
      }
      ++failures;
      EXPECT_EQ(status, fmi2Error) << a.host.dump();
      EXPECT_TRUE(a.host.hasMessage("", fmi2Error)) << a.host.dump();
      EXPECT_EQ(fmihost::liveBlocks(), blocks) << "the failed call kept memory";
      if (op.reset) {
        initialize(a.c, kind());
        initialize(b.c, kind());
      }
      advance(a.c, kind());
      advance(b.c, kind());
      expectTwins(fingerprint(a.c), fingerprint(b.c));
      a.stop();
      b.stop();
      if (HasFailure()) return;
    }
    const bool allocates = kind() == fmi2CoSimulation ? op.allocatesCS : op.allocatesME;
    if (allocates) {
      EXPECT_GT(failures, 0u);
    }
  }
}

// ---- Initialization Mode ---------------------------------------------------------------

// After a set of initialLevel in Initialization Mode the reads, the
// derivatives and the directional derivatives are those of the
// initialization from the new value, bit for bit the values of an instance
// that had the value before it entered Initialization Mode.
TEST_P(LayerFaults, InitializationModeValuesFollowASetInitialLevel) {
  const fmihost::Fmi2Functions &f = fmi();
  fmihost::HostCallbacks twinHost;
  fmihost::ScopedInstance twin(fmi(),
                               f.fmi2Instantiate("twin", kind(), FMI_MODEL_GUID, nullptr,
                                                 &twinHost.functions(), fmi2False, fmi2False));
  ASSERT_TRUE(twin);
  ASSERT_EQ(f.fmi2SetupExperiment(twin.get(), fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(setReal(twin.get(), e2e::vrInitialLevel, 5.0), fmi2OK);
  ASSERT_EQ(f.fmi2EnterInitializationMode(twin.get()), fmi2OK);

  ASSERT_NE(instantiate(kind()), nullptr);
  ASSERT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
  EXPECT_EQ(real(e2e::vrLevel), 3.0);
  ASSERT_EQ(setReal(c_, e2e::vrInitialLevel, 5.0), fmi2OK);

  // The outputs first, in one call (the first read after the set).
  const fmi2ValueReference outputs[2] = {e2e::vrLevel, e2e::vrOutflow};
  double y[2] = {NAN, NAN};
  ASSERT_EQ(f.fmi2GetReal(c_, outputs, 2, y), fmi2OK) << host_.dump();
  EXPECT_EQ(y[0], 5.0);
  EXPECT_DOUBLE_EQ(y[1], outflowAt(5.0));

  const fmi2ValueReference known = e2e::vrInitialLevel;
  const double seed = 1.0;
  double d[2] = {NAN, NAN};
  ASSERT_EQ(f.fmi2GetDirectionalDerivative(c_, outputs, 2, &known, 1, &seed, d), fmi2OK)
      << host_.dump();
  EXPECT_NEAR(d[0], 1.0, 1e-9);
  EXPECT_NEAR(d[1], 0.1 * 19.62 / (2.0 * std::sqrt(19.62 * 5.0)), 1e-9); // 0.0990
  EXPECT_NEAR(d[1], 0.0990, 5e-5);
  EXPECT_EQ(real(e2e::vrInitialLevel), 5.0); // set back

  if (kind() == fmi2ModelExchange) {
    ASSERT_EQ(setReal(c_, e2e::vrInitialLevel, 4.0), fmi2OK);
    double x = NAN;
    ASSERT_EQ(f.fmi2GetContinuousStates(c_, &x, 1), fmi2OK);
    EXPECT_EQ(x, 4.0);
    ASSERT_EQ(setReal(c_, e2e::vrInitialLevel, 5.0), fmi2OK);
    double dx = NAN;
    double twinDx = NAN;
    ASSERT_EQ(f.fmi2GetDerivatives(c_, &dx, 1), fmi2OK);
    ASSERT_EQ(f.fmi2GetDerivatives(twin.get(), &twinDx, 1), fmi2OK);
    EXPECT_EQ(dx, twinDx);
    EXPECT_DOUBLE_EQ(dx, -outflowAt(5.0) / 2.0);
  }

  // As the twin, in Initialization Mode and after it.
  ASSERT_EQ(setReal(c_, e2e::vrHoleSurface, 0.2), fmi2OK);
  ASSERT_EQ(setReal(twin.get(), e2e::vrHoleSurface, 0.2), fmi2OK);
  std::vector<double> mine(kAllVariables.size(), NAN);
  std::vector<double> theirs(kAllVariables.size(), NAN);
  ASSERT_EQ(f.fmi2GetReal(c_, kAllVariables.data(), kAllVariables.size(), mine.data()), fmi2OK);
  ASSERT_EQ(f.fmi2GetReal(twin.get(), kAllVariables.data(), kAllVariables.size(), theirs.data()),
            fmi2OK);
  EXPECT_EQ(mine, theirs);
  EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), 2.0 * outflowAt(5.0));
  for (fmi2Component c : {c_, twin.get()}) {
    ASSERT_EQ(f.fmi2ExitInitializationMode(c), fmi2OK);
    if (kind() == fmi2CoSimulation) {
      ASSERT_EQ(f.fmi2DoStep(c, 0.0, 1.0, fmi2True), fmi2OK);
    }
  }
  EXPECT_EQ(fingerprint(c_).values, fingerprint(twin.get()).values);
  if (kind() == fmi2CoSimulation) {
    EXPECT_EQ(f.fmi2Terminate(twin.get()), fmi2OK);
  }
}

// ---- Fixed parameters and constants -------------------------------------------------------

// initialLevel is fixed: set before the end of initialization, refused
// after it in every setter with fmi2Error and its message, and nothing of
// the call is stored.  The tunable parameters stay settable.
TEST_P(LayerFaults, FixedParameterIsRefusedAfterInitialization) {
  const fmihost::Fmi2Functions &f = fmi();
  ASSERT_NE(instantiate(kind()), nullptr);
  ASSERT_EQ(setReal(c_, e2e::vrInitialLevel, 4.0), fmi2OK); // instantiated
  initialize(c_, kind());
  EXPECT_EQ(real(e2e::vrLevel), 4.0);
  const double outflow = real(e2e::vrOutflow);

  host_.clearMessages();
  EXPECT_EQ(setReal(c_, e2e::vrInitialLevel, 5.0), fmi2Error);
  EXPECT_EQ(last().message, "fmiSetReal: may not change fixed parameter " +
                                ref('r', e2e::vrInitialLevel) +
                                " after initialization, setting of variable ignored");
  EXPECT_EQ(last().status, fmi2Error);
  const fmi2Integer five = 5;
  EXPECT_EQ(f.fmi2SetInteger(c_, &e2e::vrInitialLevel, 1, &five), fmi2Error);
  EXPECT_EQ(last().message, "fmiSetInteger: may not change fixed parameter " +
                                ref('i', e2e::vrInitialLevel) +
                                " after initialization, setting of variable ignored");
  EXPECT_EQ(f.fmi2SetBoolean(c_, &e2e::vrInitialLevel, 1, &five), fmi2Error);
  EXPECT_EQ(last().message, "fmiSetBoolean: may not change fixed parameter " +
                                ref('b', e2e::vrInitialLevel) +
                                " after initialization, setting of variable ignored");
  // With a tunable parameter before it in the same call: nothing is stored.
  const fmi2ValueReference both[2] = {e2e::vrVornSurface, e2e::vrInitialLevel};
  const double values[2] = {1.0, 5.0};
  EXPECT_EQ(f.fmi2SetReal(c_, both, 2, values), fmi2Error);
  EXPECT_EQ(real(e2e::vrVornSurface), 2.0);
  EXPECT_EQ(real(e2e::vrInitialLevel), 4.0);
  EXPECT_EQ(real(e2e::vrLevel), 4.0);
  EXPECT_EQ(real(e2e::vrOutflow), outflow);

  // A directional derivative along it is refused the same way, and the
  // instance goes on.
  const fmi2ValueReference unknown = e2e::vrOutflow;
  const double seed = 1.0;
  double d = NAN;
  EXPECT_EQ(f.fmi2GetDirectionalDerivative(c_, &unknown, 1, &e2e::vrInitialLevel, 1, &seed, &d),
            fmi2Error);
  EXPECT_EQ(d, 0.0);

  // The tunable ones are taken.
  EXPECT_EQ(setReal(c_, e2e::vrHoleSurface, 0.2), fmi2OK);
  EXPECT_EQ(setReal(c_, e2e::vrVornSurface, 2.5), fmi2OK);
  EXPECT_EQ(real(e2e::vrHoleSurface), 0.2);
  EXPECT_EQ(real(e2e::vrVornSurface), 2.5);
  if (kind() == fmi2CoSimulation) {
    ASSERT_EQ(f.fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK) << host_.dump();
    EXPECT_LT(real(e2e::vrLevel), 4.0);
  } else {
    EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), 2.0 * outflow);
  }

  // After a reset the start is open again.
  ASSERT_EQ(f.fmi2Reset(c_), fmi2OK);
  EXPECT_EQ(setReal(c_, e2e::vrInitialLevel, 5.0), fmi2OK);
  initialize(c_, kind());
  EXPECT_EQ(real(e2e::vrLevel), 5.0);
}

// The constant g is never set: in every state, in every setter and under
// every level of its reference, fmi2Error with its message, and it keeps
// the value the equations use.
TEST_P(LayerFaults, ConstantIsNeverSet) {
  const fmihost::Fmi2Functions &f = fmi();
  ASSERT_NE(instantiate(kind()), nullptr);
  const fmi2ValueReference gAtLevel1 = e2e::vrGravity | 0x10000000u;
  const auto refused = [&](const char *where) {
    SCOPED_TRACE(where);
    for (const fmi2ValueReference vr : {e2e::vrGravity, gAtLevel1}) {
      host_.clearMessages();
      EXPECT_EQ(setReal(c_, vr, 12.2625), fmi2Error);
      EXPECT_EQ(last().message, "fmiSetReal: may not change constant " + ref('r', vr) +
                                    ", setting of variable ignored");
      EXPECT_EQ(last().status, fmi2Error);
      const fmi2Integer twelve = 12;
      EXPECT_EQ(f.fmi2SetInteger(c_, &vr, 1, &twelve), fmi2Error);
      EXPECT_EQ(last().message, "fmiSetInteger: may not change constant " + ref('i', vr) +
                                    ", setting of variable ignored");
      EXPECT_EQ(f.fmi2SetBoolean(c_, &vr, 1, &twelve), fmi2Error);
    }
  };
  refused("instantiated");
  ASSERT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
  refused("initialization mode");
  EXPECT_EQ(real(e2e::vrGravity), 9.81);
  ASSERT_EQ(f.fmi2ExitInitializationMode(c_), fmi2OK);
  if (kind() == fmi2CoSimulation) {
    ASSERT_EQ(f.fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK);
  }
  refused("initialized");
  EXPECT_EQ(real(e2e::vrGravity), 9.81);
  ASSERT_EQ(f.fmi2Terminate(c_), fmi2OK);
  refused("terminated");
  EXPECT_EQ(real(e2e::vrGravity), 9.81);
}

// ---- The experiment ---------------------------------------------------------------------

// fmi2SetupExperiment is refused from fmi2EnterInitializationMode on, also
// when terminated or after a failure, and changes nothing; before it, and
// again after fmi2Reset, it sets the start time.
TEST_P(LayerFaults, ExperimentIsSetUpOnlyBeforeInitialization) {
  const fmihost::Fmi2Functions &f = fmi();
  const std::string refusal =
      "fmi2SetupExperiment: may only be called before fmi2EnterInitializationMode, ignoring call";
  ASSERT_NE(instantiate(kind()), nullptr);
  ASSERT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.25, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
  EXPECT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.25, fmi2False, 0.0), fmi2Error);
  EXPECT_EQ(last().message, refusal);
  EXPECT_EQ(last().status, fmi2Error);
  EXPECT_EQ(real(e2e::vrTime), 0.0);
  ASSERT_EQ(f.fmi2ExitInitializationMode(c_), fmi2OK);
  if (kind() == fmi2CoSimulation) {
    ASSERT_EQ(f.fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK);
  } else {
    fmi2EventInfo info{};
    ASSERT_EQ(f.fmi2NewDiscreteStates(c_, &info), fmi2OK);
    ASSERT_EQ(f.fmi2EnterContinuousTimeMode(c_), fmi2OK);
    ASSERT_EQ(f.fmi2SetTime(c_, 0.5), fmi2OK);
  }
  EXPECT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2True, 0.75), fmi2Error);
  EXPECT_EQ(last().message, refusal);
  EXPECT_EQ(real(e2e::vrTime), 0.5);
  if (kind() == fmi2CoSimulation) {
    double t = NAN;
    ASSERT_EQ(f.fmi2GetRealStatus(c_, fmi2LastSuccessfulTime, &t), fmi2OK);
    EXPECT_EQ(t, 0.5);
    // No stop time was taken: the step past 0.75 goes through.
    EXPECT_EQ(f.fmi2DoStep(c_, 0.5, 0.5, fmi2True), fmi2OK) << host_.dump();
    EXPECT_EQ(real(e2e::vrTime), 1.0);
  }
  ASSERT_EQ(f.fmi2Terminate(c_), fmi2OK);
  EXPECT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2Error);
  EXPECT_EQ(last().message, refusal);

  // After a reset: as before the first initialization.
  ASSERT_EQ(f.fmi2Reset(c_), fmi2OK);
  host_.clearMessages();
  EXPECT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.25, fmi2False, 0.0), fmi2OK);
  EXPECT_EQ(last().message, "fmi2SetupExperiment: startTime is set to 0.25");
  ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
  EXPECT_EQ(real(e2e::vrTime), 0.25);

  // An initialization that failed leaves a terminated instance, which
  // refuses it too.
  ASSERT_EQ(f.fmi2Reset(c_), fmi2OK);
  ASSERT_EQ(setReal(c_, e2e::vrInitialLevel, -1.0), fmi2OK);
  ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2Error);
  EXPECT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2Error);
  EXPECT_EQ(last().message, refusal);
}

// ---- The callback record ------------------------------------------------------------------

// A logger, an allocator and a release that must never be called.
int poisonCalls = 0;
void poisonLogger(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String, ...) {
  ++poisonCalls;
}
void *poisonAllocate(size_t, size_t) {
  ++poisonCalls;
  return nullptr;
}
void poisonFree(void *) { ++poisonCalls; }

// The record is the host's only during fmi2Instantiate: a host that reuses
// its memory afterwards (here with callbacks that must not be called) still
// has every message and every block of the instance go through the record
// it passed, for the instance's whole life.
TEST_P(LayerFaults, UnitKeepsItsOwnCopyOfTheCallbackRecord) {
  const fmihost::Fmi2Functions &f = fmi();
  poisonCalls = 0;
  alignas(fmi2CallbackFunctions) unsigned char storage[sizeof(fmi2CallbackFunctions)];
  auto *record = ::new (storage) fmi2CallbackFunctions(host_.functions());
  c_ = f.fmi2Instantiate("tank", kind(), FMI_MODEL_GUID, nullptr, record, fmi2False, fmi2True);
  ASSERT_NE(c_, nullptr);
  record->~fmi2CallbackFunctions();
  ::new (storage) fmi2CallbackFunctions{poisonLogger, poisonAllocate, poisonFree, nullptr, nullptr};

  host_.clearMessages();
  initialize(c_, kind());
  advance(c_, kind());
  fmi2FMUstate s = nullptr;
  ASSERT_EQ(f.fmi2GetFMUstate(c_, &s), fmi2OK);
  size_t size = 0;
  ASSERT_EQ(f.fmi2SerializedFMUstateSize(c_, s, &size), fmi2OK);
  Bytes image(size);
  ASSERT_EQ(f.fmi2SerializeFMUstate(c_, s, image.data(), size), fmi2OK);
  ASSERT_EQ(f.fmi2DeSerializeFMUstate(c_, image.data(), size, &s), fmi2OK);
  ASSERT_EQ(f.fmi2SetFMUstate(c_, s), fmi2OK);
  ASSERT_EQ(f.fmi2FreeFMUstate(c_, &s), fmi2OK);
  const fmi2ValueReference unknown = e2e::vrOutflow;
  const double seed = 1.0;
  double d = NAN;
  ASSERT_EQ(f.fmi2GetDirectionalDerivative(c_, &unknown, 1, &e2e::vrState, 1, &seed, &d), fmi2OK);
  EXPECT_EQ(setReal(c_, e2e::vrGravity, 1.0), fmi2Error);
  ASSERT_EQ(f.fmi2Terminate(c_), fmi2OK);
  ASSERT_EQ(f.fmi2Reset(c_), fmi2OK);
  free();
  EXPECT_EQ(poisonCalls, 0);
  EXPECT_TRUE(host_.hasMessage("fmi2Reset completed", fmi2OK)) << host_.dump();
  EXPECT_TRUE(host_.hasMessage("fmiSetReal: may not change constant", fmi2Error));
  EXPECT_TRUE(host_.hasMessage("fmiFreeModelInstance", fmi2OK));
}

// ---- Reset right after instantiation ------------------------------------------------------

// A reset of an instance that was never initialized declares the start
// values, as a reset after termination does, and nothing else: the
// experiment set up before it stays.
TEST_P(LayerFaults, ResetRightAfterInstantiationDeclaresTheStartValues) {
  const fmihost::Fmi2Functions &f = fmi();
  ASSERT_NE(instantiate(kind()), nullptr);
  ASSERT_EQ(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.5, fmi2False, 0.0), fmi2OK);
  ASSERT_EQ(setReal(c_, e2e::vrVornSurface, 2.5), fmi2OK);
  ASSERT_EQ(setReal(c_, e2e::vrInputRate, 0.3), fmi2OK);
  host_.clearMessages();
  ASSERT_EQ(f.fmi2Reset(c_), fmi2OK);
  EXPECT_EQ(last().message, "fmi2Reset completed");
  EXPECT_FALSE(host_.hasMessage("fmi2Terminate")) << host_.dump();
  ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
  ASSERT_EQ(f.fmi2ExitInitializationMode(c_), fmi2OK);
  EXPECT_EQ(real(e2e::vrVornSurface), 2.0);
  EXPECT_EQ(real(e2e::vrInputRate), 0.0);
  EXPECT_EQ(real(e2e::vrTime), 0.5);
  EXPECT_DOUBLE_EQ(real(e2e::vrDerivative), -e2e::kOutflow0 / 2.0);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, LayerFaults,
                         ::testing::Values(fmi2ModelExchange, fmi2CoSimulation),
                         [](const ::testing::TestParamInfo<fmi2Type> &kind) {
                           return std::string(kindName(kind.param));
                         });

} // namespace
