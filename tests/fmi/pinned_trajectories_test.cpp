// Full trajectories of fixed host runs, pinned: both kinds, communication
// steps of 1, 0.01 and 0.001 s over 10 s, one run whose input changes at
// every point and one with two changes of tunable parameters, each with
// logging on and off.  A run is summed up in hashes of
//   - values: the status of every call and every value the host reads at
//     every communication point (the bits of each double), in order;
//   - messages: every message the logger receives (instance name, status,
//     category, text), the processor time of the statistics report left out;
//   - images: the serialized FMU state after initialization, in the middle of
//     the run and at its end;
// and, for Co-Simulation, the integrator's internal steps and right-hand-side
// evaluations from the statistics report at terminate.  The pinned figures
// are those of the unit when the cost of a Co-Simulation step was cut: the
// saving must change none of them.  The Model Exchange images are those
// since the directional derivative (taken at every point) became a read:
// the images of the same runs without it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/fmi/cs_support.h"

namespace {

using e2e::fmi;

constexpr double kEnd = 10.0;

enum class Variant { Input, Parameters };

struct Run {
  fmi2Type kind;
  double step;
  Variant variant;
  bool loggingOn;
};

struct Digest {
  uint64_t values = 0;
  uint64_t messages = 0;
  uint64_t images = 0;
  int internalSteps = -1; // Co-Simulation only
  int rhsEvaluations = -1;
};

// 64-bit FNV-1a over everything added, in order.
class Fnv {
public:
  void bytes(const void *data, size_t n) {
    const auto *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < n; ++i) {
      h_ ^= p[i];
      h_ *= 0x100000001b3ull;
    }
  }
  void real(double v) { bytes(&v, sizeof v); }
  void integer(int64_t v) { bytes(&v, sizeof v); }
  void text(const std::string &s) {
    integer(static_cast<int64_t>(s.size()));
    bytes(s.data(), s.size());
  }
  uint64_t value() const { return h_; }

private:
  uint64_t h_ = 0xcbf29ce484222325ull;
};

// The number after "<label> ... : " in the statistics report, -1 when absent.
int reportField(const std::string &report, const char *label) {
  const size_t at = report.find(label);
  if (at == std::string::npos) return -1;
  const size_t colon = report.find(": ", at);
  return colon == std::string::npos ? -1 : std::atoi(report.c_str() + colon + 2);
}

// One host run as a master or an integrating host makes it.
class TrajectoryRun {
public:
  explicit TrajectoryRun(const Run &run) : run_(run) {}

  Digest go() {
    const fmihost::Fmi2Functions &f = fmi();
    c_ = f.fmi2Instantiate("pinned", run_.kind, FMI_MODEL_GUID, nullptr, &host_.functions(),
                           fmi2False, run_.loggingOn ? fmi2True : fmi2False);
    EXPECT_NE(c_, nullptr);
    if (c_ == nullptr) return {};
    fmihost::ScopedInstance owner(f, c_);
    call(f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2True, kEnd));
    call(f.fmi2EnterInitializationMode(c_));
    call(f.fmi2ExitInitializationMode(c_));
    if (run_.kind == fmi2ModelExchange) {
      fmi2EventInfo info{};
      call(f.fmi2NewDiscreteStates(c_, &info));
      eventInfo(info);
      call(f.fmi2EnterContinuousTimeMode(c_));
    }
    image();
    const int points = static_cast<int>(std::lround(kEnd / run_.step));
    for (int k = 0; k < points; ++k) {
      if (run_.kind == fmi2CoSimulation) {
        coSimulationPoint(k, points);
      } else {
        modelExchangePoint(k, points);
      }
      if (k == points / 2) image();
      drainMessages();
    }
    image();
    // The statistics report goes out only while logging is on.
    if (!run_.loggingOn) {
      EXPECT_EQ(f.fmi2SetDebugLogging(c_, fmi2True, 0, nullptr), fmi2OK);
    }
    call(f.fmi2Terminate(c_));
    drainMessages();
    digest_.values = values_.value();
    digest_.messages = messages_.value();
    digest_.images = images_.value();
    return digest_;
  }

private:
  static constexpr fmi2ValueReference kAll[] = {
      e2e::vrVornSurface, e2e::vrHoleSurface,   e2e::vrInitialLevel, e2e::vrInputRate,
      e2e::vrLevel,       e2e::vrOutflow,       e2e::vrState,        e2e::vrDerivative,
      e2e::vrGravity,     e2e::vrAuxDerivative, e2e::vrTime};
  static constexpr fmi2ValueReference kOutputs[] = {e2e::vrLevel, e2e::vrOutflow};

  static double rate(double t) { return 0.05 + 0.05 * std::sin(t); }

  void call(fmi2Status status) { values_.integer(status); }

  void eventInfo(const fmi2EventInfo &info) {
    values_.integer(info.newDiscreteStatesNeeded);
    values_.integer(info.terminateSimulation);
    values_.integer(info.nominalsOfContinuousStatesChanged);
    values_.integer(info.valuesOfContinuousStatesChanged);
    values_.integer(info.nextEventTimeDefined);
    if (info.nextEventTimeDefined) values_.real(info.nextEventTime);
  }

  void readReals(const fmi2ValueReference *vr, size_t n) {
    std::vector<double> v(n, NAN);
    call(fmi().fmi2GetReal(c_, vr, n, v.data()));
    for (double x : v) values_.real(x);
  }

  void setReal(fmi2ValueReference vr, double v) { call(fmi().fmi2SetReal(c_, &vr, 1, &v)); }

  // The changes of the parameter run: holeSurface half-way, vornSurface at
  // three quarters.
  bool parameterChange(int k, int points, fmi2ValueReference *vr, double *value) const {
    if (run_.variant != Variant::Parameters) return false;
    if (k == points / 2) {
      *vr = e2e::vrHoleSurface;
      *value = 0.07;
      return true;
    }
    if (k == 3 * points / 4) {
      *vr = e2e::vrVornSurface;
      *value = 2.5;
      return true;
    }
    return false;
  }

  void coSimulationPoint(int k, int points) {
    const fmihost::Fmi2Functions &f = fmi();
    const double t = k * run_.step;
    if (run_.variant == Variant::Input) {
      setReal(e2e::vrInputRate, rate(t));
      if (k % 4 == 0) {
        const fmi2ValueReference vr = e2e::vrInputRate;
        const fmi2Integer order = 1;
        const double slope = 0.05 * std::cos(t);
        call(f.fmi2SetRealInputDerivatives(c_, &vr, 1, &order, &slope));
      }
      // Reads between a set and the step at every other point.
      if (k % 2 == 1) readReals(kOutputs, 2);
    }
    fmi2ValueReference vr = 0;
    double value = 0.0;
    if (parameterChange(k, points, &vr, &value)) setReal(vr, value);
    call(f.fmi2DoStep(c_, t, run_.step, fmi2True));
    readReals(kAll, std::size(kAll));
    double last = NAN;
    call(f.fmi2GetRealStatus(c_, fmi2LastSuccessfulTime, &last));
    values_.real(last);
    fmi2Boolean terminated = fmi2True;
    call(f.fmi2GetBooleanStatus(c_, fmi2Terminated, &terminated));
    values_.integer(terminated);
    const fmi2Integer orders[] = {1, 1};
    double slopes[2] = {NAN, NAN};
    call(f.fmi2GetRealOutputDerivatives(c_, kOutputs, 2, orders, slopes));
    values_.real(slopes[0]);
    values_.real(slopes[1]);
  }

  // Explicit Euler of the host; parameters change in event mode.
  void modelExchangePoint(int k, int points) {
    const fmihost::Fmi2Functions &f = fmi();
    const double t = k * run_.step;
    if (run_.variant == Variant::Input) setReal(e2e::vrInputRate, rate(t));
    fmi2ValueReference vr = 0;
    double value = 0.0;
    if (parameterChange(k, points, &vr, &value)) {
      call(f.fmi2EnterEventMode(c_));
      setReal(vr, value);
      fmi2EventInfo info{};
      call(f.fmi2NewDiscreteStates(c_, &info));
      eventInfo(info);
      call(f.fmi2EnterContinuousTimeMode(c_));
    }
    double x = NAN;
    double dx = NAN;
    call(f.fmi2GetContinuousStates(c_, &x, 1));
    call(f.fmi2GetDerivatives(c_, &dx, 1));
    values_.real(x);
    values_.real(dx);
    readReals(kAll, std::size(kAll));
    const fmi2ValueReference unknown = e2e::vrDerivative;
    const fmi2ValueReference known = e2e::vrState;
    const double seed = 1.0;
    double d = NAN;
    call(f.fmi2GetDirectionalDerivative(c_, &unknown, 1, &known, 1, &seed, &d));
    values_.real(d);
    const double next = x + run_.step * dx;
    call(f.fmi2SetTime(c_, (k + 1) * run_.step));
    call(f.fmi2SetContinuousStates(c_, &next, 1));
    fmi2Boolean event = fmi2True;
    fmi2Boolean terminate = fmi2True;
    call(f.fmi2CompletedIntegratorStep(c_, fmi2True, &event, &terminate));
    values_.integer(event);
    values_.integer(terminate);
  }

  void image() {
    const fmihost::Fmi2Functions &f = fmi();
    fmi2FMUstate s = nullptr;
    call(f.fmi2GetFMUstate(c_, &s));
    size_t size = 0;
    call(f.fmi2SerializedFMUstateSize(c_, s, &size));
    std::vector<fmi2Byte> bytes(size);
    call(f.fmi2SerializeFMUstate(c_, s, bytes.data(), bytes.size()));
    call(f.fmi2FreeFMUstate(c_, &s));
    images_.integer(static_cast<int64_t>(size));
    images_.bytes(bytes.data(), bytes.size());
  }

  void drainMessages() {
    for (const auto &m : host_.messages()) {
      messages_.text(m.instanceName);
      messages_.integer(m.status);
      messages_.text(m.category);
      messages_.text(cs::withoutProcessorTime(m.message));
      if (m.message.rfind("Integrator Statistics\n", 0) == 0) {
        digest_.internalSteps = reportField(m.message, "Number of internal steps");
        digest_.rhsEvaluations = reportField(m.message, "Number of f function evaluations");
      }
    }
    host_.clearMessages();
  }

  Run run_;
  fmihost::HostCallbacks host_;
  fmi2Component c_ = nullptr;
  Fnv values_;
  Fnv messages_;
  Fnv images_;
  Digest digest_;
};

// What a run of one kind, step and variant must give.  The values and the
// integrator's work do not depend on logging; the messages do, and the
// images hold the logging switch.
struct Pinned {
  fmi2Type kind;
  double step;
  Variant variant;
  uint64_t values;
  int internalSteps;
  int rhsEvaluations;
  uint64_t messagesLoggingOn;
  uint64_t imagesLoggingOn;
  uint64_t messagesLoggingOff;
  uint64_t imagesLoggingOff;
};

// clang-format off
const Pinned kPinned[] = {
    {fmi2CoSimulation, 1.0, Variant::Input, 0x4f545acf270ab85bull, 91, 179,
     0xc121c5c5d7107dccull, 0xc3bfdd9263d7bab6ull, 0xc05945c9df43cf2full, 0x727f99734d3d4e25ull},
    {fmi2CoSimulation, 1.0, Variant::Parameters, 0xe89d7edacec6854cull, 33, 57,
     0xb19e81f199e5e9ebull, 0xf8d0cc84aadc21b3ull, 0xaaf31b06ae308687ull, 0xabfb76bcb6177a50ull},
    {fmi2CoSimulation, 0.01, Variant::Input, 0x864c86b8ebf9b13eull, 2072, 6714,
     0x3cdb25a651c07376ull, 0x2af72c93bf1a517eull, 0x89c9fac4cbc50294ull, 0x31b54abc2a586011ull},
    {fmi2CoSimulation, 0.01, Variant::Parameters, 0x3158cddc02efe8f2ull, 33, 52,
     0xd6b1a8d8c6f98bffull, 0x621e0432e82d2cefull, 0x9b55c0c313c200bbull, 0x278d9c890661ecb8ull},
    {fmi2CoSimulation, 0.001, Variant::Input, 0xf5fe3b8c82c970feull, 20072, 60072,
     0x77723a99477e3eddull, 0xc87e6ed244dbd7f4ull, 0xa52397066f2a216bull, 0x6ec7a3ad549d3c53ull},
    {fmi2CoSimulation, 0.001, Variant::Parameters, 0x36581032504cffd1ull, 34, 46,
     0xa9ba93999c761078ull, 0xd774f03f6671ac75ull, 0xc0fd1e8ca56add9bull, 0x8c7182a12a1614a6ull},
    {fmi2ModelExchange, 1.0, Variant::Input, 0xffa12a31ddf96f72ull, -1, -1,
     0x2ba06398ec19b95dull, 0x71e669b680375f48ull, 0x59acbc3377ff899dull, 0x89204e7c2450d2bbull},
    {fmi2ModelExchange, 1.0, Variant::Parameters, 0xb5217ea3d2dd8bcdull, -1, -1,
     0xcf839f7cabb79276ull, 0xd17bfed868027475ull, 0x59acbc3377ff899dull, 0x0373a9edf175985eull},
    {fmi2ModelExchange, 0.01, Variant::Input, 0x8cc869fbbd202e6cull, -1, -1,
     0xbf1672efd66f7996ull, 0xd9e0f70b6080aebdull, 0x59acbc3377ff899dull, 0x418d5932786bc66eull},
    {fmi2ModelExchange, 0.01, Variant::Parameters, 0xdc0fe624a37a4281ull, -1, -1,
     0x49ff4b3571ba8152ull, 0x80c545ab410f5f4eull, 0x59acbc3377ff899dull, 0x19a460ec13798bcdull},
    {fmi2ModelExchange, 0.001, Variant::Input, 0x0c9c98b007add49cull, -1, -1,
     0xd509c888b6304e26ull, 0xd7ced73b5e90d103ull, 0x59acbc3377ff899dull, 0xefbd1c64d2c42ed0ull},
    {fmi2ModelExchange, 0.001, Variant::Parameters, 0x2f6711b1f10df159ull, -1, -1,
     0xc6d0c12141d27d3dull, 0xcb38197750c14aa5ull, 0x59acbc3377ff899dull, 0x9594b89abf2b98a6ull},
};
// clang-format on

using Case = std::tuple<Pinned, bool>;

std::string name(const ::testing::TestParamInfo<Case> &info) {
  const Pinned &p = std::get<0>(info.param);
  std::string s = p.kind == fmi2CoSimulation ? "CoSimulation" : "ModelExchange";
  s += p.step == 1.0 ? "_1s" : p.step == 0.01 ? "_10ms" : "_1ms";
  s += p.variant == Variant::Input ? "_Input" : "_Parameters";
  s += std::get<1>(info.param) ? "_LoggingOn" : "_LoggingOff";
  return s;
}

class PinnedTrajectory : public e2e::UnitTest, public ::testing::WithParamInterface<Case> {};

TEST_P(PinnedTrajectory, RunGivesThePinnedValuesMessagesImagesAndIntegratorWork) {
  const auto &[p, loggingOn] = GetParam();
  const Digest d = TrajectoryRun({p.kind, p.step, p.variant, loggingOn}).go();
  EXPECT_EQ(d.values, p.values) << std::hex << "0x" << d.values;
  EXPECT_EQ(d.internalSteps, p.internalSteps);
  EXPECT_EQ(d.rhsEvaluations, p.rhsEvaluations);
  const uint64_t messages = loggingOn ? p.messagesLoggingOn : p.messagesLoggingOff;
  const uint64_t images = loggingOn ? p.imagesLoggingOn : p.imagesLoggingOff;
  EXPECT_EQ(d.messages, messages) << std::hex << "0x" << d.messages;
  EXPECT_EQ(d.images, images) << std::hex << "0x" << d.images;
}

INSTANTIATE_TEST_SUITE_P(Runs, PinnedTrajectory,
                         ::testing::Combine(::testing::ValuesIn(kPinned), ::testing::Bool()), name);

} // namespace
