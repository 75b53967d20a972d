// fmi2GetDirectionalDerivative is a read: an instance that takes a
// directional derivative goes on exactly as its twin that does not, in every
// state the call runs in, for every kind of known, in both kinds.  The twins
// are compared by their FMU-state images right after the call, then by every
// status and value the host reads over several further steps (or, after
// terminate, at once) and by their images at the end.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using namespace e2e;
using Bytes = std::vector<fmi2Byte>;

// Where the derivative is taken.
enum class Stage {
  Initialization, // in Initialization Mode
  EventMode,      // Model Exchange: right after initialization
  EventDone,      // Model Exchange: event iteration converged
  Running,        // Co-Simulation after two steps; Model Exchange in continuous time
  Terminated,     // after the steps, terminated
};

const char *stageName(Stage s) {
  switch (s) {
  case Stage::Initialization:
    return "Initialization";
  case Stage::EventMode:
    return "EventMode";
  case Stage::EventDone:
    return "EventDone";
  case Stage::Running:
    return "Running";
  case Stage::Terminated:
    return "Terminated";
  }
  return "?";
}

struct Case {
  fmi2Type kind;
  Stage stage;
  const char *knownName;
  fmi2ValueReference known;
};

void PrintTo(const Case &k, std::ostream *os) {
  *os << (k.kind == fmi2CoSimulation ? "Co-Simulation, " : "Model Exchange, ") << stageName(k.stage)
      << ", known " << k.knownName;
}

// Where two images differ: the offsets of their first differing bytes.
std::string differences(const Bytes &a, const Bytes &b) {
  if (a.size() != b.size())
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
  std::string text;
  int shown = 0;
  for (size_t i = 0; i < a.size() && shown < 8; ++i) {
    if (a[i] != b[i]) {
      text += " " + std::to_string(i);
      ++shown;
    }
  }
  return text.empty() ? "none" : "bytes" + text;
}

// What a host sees of an instance: the statuses of its calls and every value
// it reads, bit for bit.
struct Trace {
  std::vector<int> statuses;
  std::vector<double> values;
  bool operator==(const Trace &other) const {
    return statuses == other.statuses && values.size() == other.values.size() &&
           std::memcmp(values.data(), other.values.data(), values.size() * sizeof(double)) == 0;
  }
};

constexpr double kStep = 0.5;

// One instance with a host record of its own.
class Twin {
public:
  explicit Twin(fmi2Type kind) : kind_(kind) {
    c_ = fmi().fmi2Instantiate("tank", kind, FMI_MODEL_GUID, nullptr, &host_.functions(), fmi2False,
                               fmi2True);
    EXPECT_NE(c_, nullptr);
  }
  ~Twin() {
    if (c_ != nullptr) fmi().fmi2FreeInstance(c_);
  }
  Twin(const Twin &) = delete;
  Twin &operator=(const Twin &) = delete;

  fmi2Component c() const { return c_; }
  std::string dump() const { return host_.dump(); }

  // From instantiation to the stage, with the defaults.
  void bringTo(Stage stage) {
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << dump();
    if (stage == Stage::Initialization) return;
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << dump();
    if (kind_ == fmi2CoSimulation) {
      for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(fmi().fmi2DoStep(c_, time_, kStep, fmi2True), fmi2OK) << dump();
        time_ += kStep;
      }
    } else {
      if (stage == Stage::EventMode) return;
      fmi2EventInfo info{};
      ASSERT_EQ(fmi().fmi2NewDiscreteStates(c_, &info), fmi2OK) << dump();
      if (stage == Stage::EventDone) return;
      ASSERT_EQ(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK) << dump();
      Trace ignored;
      for (int i = 0; i < 2; ++i) eulerStep(ignored);
    }
    if (stage == Stage::Terminated) {
      ASSERT_EQ(fmi().fmi2Terminate(c_), fmi2OK) << dump();
    }
  }

  // What a host does next from the stage, and what it reads on the way.
  Trace goOn(Stage stage) {
    Trace trace;
    readAll(trace);
    if (stage == Stage::Terminated) return trace;
    if (stage == Stage::Initialization) {
      trace.statuses.push_back(fmi().fmi2ExitInitializationMode(c_));
      readAll(trace);
    }
    if (kind_ == fmi2CoSimulation) {
      for (int i = 0; i < 4; ++i) {
        trace.statuses.push_back(fmi().fmi2DoStep(c_, time_, kStep, fmi2True));
        time_ += kStep;
        readAll(trace);
      }
      return trace;
    }
    if (stage != Stage::Running) {
      if (stage != Stage::EventDone) {
        fmi2EventInfo info{};
        trace.statuses.push_back(fmi().fmi2NewDiscreteStates(c_, &info));
        trace.statuses.push_back(info.newDiscreteStatesNeeded);
        trace.statuses.push_back(info.valuesOfContinuousStatesChanged);
        readAll(trace);
      }
      trace.statuses.push_back(fmi().fmi2EnterContinuousTimeMode(c_));
    }
    for (int i = 0; i < 4; ++i) eulerStep(trace);
    return trace;
  }

  // The instance's complete state, as the bytes of its FMU-state image.
  Bytes image() {
    fmi2FMUstate s = nullptr;
    EXPECT_EQ(fmi().fmi2GetFMUstate(c_, &s), fmi2OK) << dump();
    size_t size = 0;
    EXPECT_EQ(fmi().fmi2SerializedFMUstateSize(c_, s, &size), fmi2OK);
    Bytes bytes(size);
    EXPECT_EQ(fmi().fmi2SerializeFMUstate(c_, s, bytes.data(), bytes.size()), fmi2OK);
    EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &s), fmi2OK);
    return bytes;
  }

private:
  // Every variable, and in Model Exchange the states and their derivatives.
  void readAll(Trace &trace) {
    const fmi2ValueReference refs[] = {vrLevel,        vrOutflow,   vrDerivative,  vrAuxDerivative,
                                       vrState,        vrInputRate, vrHoleSurface, vrVornSurface,
                                       vrInitialLevel, vrGravity,   vrTime};
    double values[std::size(refs)] = {};
    trace.statuses.push_back(fmi().fmi2GetReal(c_, refs, std::size(refs), values));
    trace.values.insert(trace.values.end(), std::begin(values), std::end(values));
    if (kind_ != fmi2ModelExchange) return;
    double x = 0.0;
    double dx = 0.0;
    trace.statuses.push_back(fmi().fmi2GetContinuousStates(c_, &x, 1));
    trace.statuses.push_back(fmi().fmi2GetDerivatives(c_, &dx, 1));
    trace.values.push_back(x);
    trace.values.push_back(dx);
  }

  // One explicit Euler step of the host in continuous-time mode.
  void eulerStep(Trace &trace) {
    readAll(trace);
    double x = 0.0;
    double dx = 0.0;
    trace.statuses.push_back(fmi().fmi2GetContinuousStates(c_, &x, 1));
    trace.statuses.push_back(fmi().fmi2GetDerivatives(c_, &dx, 1));
    time_ += kStep;
    x += kStep * dx;
    trace.statuses.push_back(fmi().fmi2SetTime(c_, time_));
    trace.statuses.push_back(fmi().fmi2SetContinuousStates(c_, &x, 1));
    fmi2Boolean enterEventMode = fmi2True;
    fmi2Boolean terminate = fmi2True;
    trace.statuses.push_back(
        fmi().fmi2CompletedIntegratorStep(c_, fmi2True, &enterEventMode, &terminate));
    trace.statuses.push_back(enterEventMode);
    trace.statuses.push_back(terminate);
  }

  fmi2Type kind_;
  fmihost::HostCallbacks host_;
  fmi2Component c_ = nullptr;
  double time_ = 0.0;
};

class DirectionalDerivativeIsARead : public UnitTest, public ::testing::WithParamInterface<Case> {};

TEST_P(DirectionalDerivativeIsARead, TheInstanceGoesOnAsItsTwin) {
  const Case &k = GetParam();
  Twin taker(k.kind);
  Twin twin(k.kind);
  taker.bringTo(k.stage);
  twin.bringTo(k.stage);
  ASSERT_FALSE(HasFatalFailure());

  const fmi2ValueReference unknowns[] = {vrLevel, vrOutflow, vrDerivative};
  const double seed = 1.0;
  double d[std::size(unknowns)] = {};
  ASSERT_EQ(fmi().fmi2GetDirectionalDerivative(taker.c(), unknowns, std::size(unknowns), &k.known,
                                               1, &seed, d),
            fmi2OK)
      << taker.dump();
  Bytes mine = taker.image();
  Bytes theirs = twin.image();
  EXPECT_TRUE(mine == theirs) << "right after the call: " << differences(mine, theirs);
  EXPECT_TRUE(taker.goOn(k.stage) == twin.goOn(k.stage));
  mine = taker.image();
  theirs = twin.image();
  EXPECT_TRUE(mine == theirs) << "at the end: " << differences(mine, theirs);
}

std::vector<Case> allCases() {
  const struct {
    fmi2Type kind;
    Stage stage;
  } stages[] = {
      {fmi2ModelExchange, Stage::Initialization}, {fmi2ModelExchange, Stage::EventMode},
      {fmi2ModelExchange, Stage::EventDone},      {fmi2ModelExchange, Stage::Running},
      {fmi2ModelExchange, Stage::Terminated},     {fmi2CoSimulation, Stage::Initialization},
      {fmi2CoSimulation, Stage::Running},         {fmi2CoSimulation, Stage::Terminated},
  };
  std::vector<Case> cases;
  for (const auto &s : stages) {
    cases.push_back({s.kind, s.stage, "inputRate", vrInputRate});
    cases.push_back({s.kind, s.stage, "level", vrState});
    cases.push_back({s.kind, s.stage, "holeSurface", vrHoleSurface});
    if (s.stage == Stage::Initialization) {
      cases.push_back({s.kind, s.stage, "initialLevel", vrInitialLevel});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(StatesAndKnowns, DirectionalDerivativeIsARead,
                         ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case> &p) {
                           return std::string(p.param.kind == fmi2CoSimulation ? "CS" : "ME") +
                                  "_" + stageName(p.param.stage) + "_" + p.param.knownName;
                         });

} // namespace
