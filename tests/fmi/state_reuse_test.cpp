// Records that are used again end up exactly as new ones: one sequence of
// saves, steps, restores, resets and deserializations is driven twice, once
// saving and deserializing into the same state records again and again, once
// into a new record every time, and after every step the images of the
// instance and of every state must be the same to the byte in both runs.
//
// The sequence also moves a delay ring that holds points (from a crafted
// image: this model has no delay of its own) through the states and the
// instance and back to an empty one, so that ring contents left behind in a
// reused record would show.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "tests/fmi/fmi_e2e.h"

namespace {

using namespace e2e;
using Bytes = std::vector<fmi2Byte>;

constexpr size_t kRingBytes = 2 * 20000 * sizeof(double);

// The model data block is followed by the ring contents, which end the image.
size_t blockOffset(const Bytes &image) {
  return image.size() - kRingBytes - sizeof(ModelInstanceData);
}

template <typename T> void put(Bytes &image, size_t at, T value) {
  std::memcpy(image.data() + at, &value, sizeof value);
}

// image with its ring holding points: the profile spatialInitRing makes for
// n = 0 (four points of value 5 from 0 to 1), and one stale point beyond the
// back slot, as a ring keeps after dropping points.
Bytes withRingInUse(Bytes image) {
  const size_t ring = blockOffset(image) + offsetof(ModelInstanceData, delayBuffers);
  put(image, ring + offsetof(DelayBuffer, scale), 1.0);
  put(image, ring + offsetof(DelayBuffer, first), int32_t{0});
  put(image, ring + offsetof(DelayBuffer, current), int32_t{1});
  put(image, ring + offsetof(DelayBuffer, last), int32_t{3});
  const size_t times = image.size() - kRingBytes;
  const size_t values = times + kRingBytes / 2;
  const double coordinates[] = {0.0, 1e-9, 1.0 - 1e-9, 1.0, 0.0, 0.0, 0.0, 0.75};
  for (size_t k = 0; k < std::size(coordinates); ++k) {
    put(image, times + 8 * k, coordinates[k]);
    put(image, values + 8 * k, k < 4 ? 5.0 : k == 7 ? 2.0 : 0.0);
  }
  return image;
}

// One instance driven by the sequence, with numbered state slots.  With
// reuse, a slot's record is created once and then saved and deserialized
// into; without, every save and deserialization goes into a new record.
class Driver {
public:
  Driver(fmihost::HostCallbacks &host, fmi2Type kind, bool reuse)
      : kind_(kind), reuse_(reuse),
        c_(fmi().fmi2Instantiate(reuse ? "reused" : "fresh", kind, FMI_MODEL_GUID,
                                 "file:///reuse/resources", &host.functions(), fmi2False,
                                 fmi2False)) {
    EXPECT_NE(c_, nullptr);
  }
  ~Driver() {
    for (auto &[slot, s] : slots_) EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &s), fmi2OK);
    if (kind_ == fmi2CoSimulation) (void)fmi().fmi2Terminate(c_);
    fmi().fmi2FreeInstance(c_);
  }
  Driver(const Driver &) = delete;
  Driver &operator=(const Driver &) = delete;

  // Set up, initialized and (Model Exchange) in continuous-time mode at t = 0.
  void initialize() {
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
    if (kind_ == fmi2ModelExchange) {
      fmi2EventInfo info{};
      ASSERT_EQ(fmi().fmi2NewDiscreteStates(c_, &info), fmi2OK);
      ASSERT_EQ(fmi().fmi2EnterContinuousTimeMode(c_), fmi2OK);
    }
  }
  // A communication step of h from t (Model Exchange: an explicit Euler step
  // driven here).
  void step(double t, double h) {
    if (kind_ == fmi2CoSimulation) {
      ASSERT_EQ(fmi().fmi2DoStep(c_, t, h, fmi2True), fmi2OK);
      return;
    }
    double x = NAN;
    double der = NAN;
    ASSERT_EQ(fmi().fmi2GetContinuousStates(c_, &x, 1), fmi2OK);
    ASSERT_EQ(fmi().fmi2GetDerivatives(c_, &der, 1), fmi2OK);
    x += h * der;
    ASSERT_EQ(fmi().fmi2SetTime(c_, t + h), fmi2OK);
    ASSERT_EQ(fmi().fmi2SetContinuousStates(c_, &x, 1), fmi2OK);
  }
  void setInput(double rate) { ASSERT_EQ(fmi().fmi2SetReal(c_, &vrInputRate, 1, &rate), fmi2OK); }
  void reset() { ASSERT_EQ(fmi().fmi2Reset(c_), fmi2OK); }

  void save(int slot) {
    fmi2FMUstate &s = record(slot);
    ASSERT_EQ(fmi().fmi2GetFMUstate(c_, &s), fmi2OK);
  }
  void restore(int slot) { ASSERT_EQ(fmi().fmi2SetFMUstate(c_, slots_.at(slot)), fmi2OK); }
  void load(int slot, const Bytes &image) {
    fmi2FMUstate &s = record(slot);
    ASSERT_EQ(fmi().fmi2DeSerializeFMUstate(c_, image.data(), image.size(), &s), fmi2OK);
  }
  Bytes image(int slot) { return serialize(slots_.at(slot)); }

  // The image of the instance (saved into a new record) and of every slot.
  std::vector<Bytes> images() {
    std::vector<Bytes> all;
    fmi2FMUstate now = nullptr;
    EXPECT_EQ(fmi().fmi2GetFMUstate(c_, &now), fmi2OK);
    all.push_back(serialize(now));
    EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &now), fmi2OK);
    for (const auto &[slot, s] : slots_) all.push_back(serialize(s));
    return all;
  }

private:
  fmi2FMUstate &record(int slot) {
    fmi2FMUstate &s = slots_[slot];
    if (!reuse_ && s != nullptr) {
      EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &s), fmi2OK);
    }
    return s;
  }
  Bytes serialize(fmi2FMUstate s) {
    size_t size = 0;
    EXPECT_EQ(fmi().fmi2SerializedFMUstateSize(c_, s, &size), fmi2OK);
    Bytes image(size);
    EXPECT_EQ(fmi().fmi2SerializeFMUstate(c_, s, image.data(), image.size()), fmi2OK);
    return image;
  }

  fmi2Type kind_;
  bool reuse_;
  fmi2Component c_;
  std::map<int, fmi2FMUstate> slots_;
};

// The sequence; checkpoint() after each step that a reused record could get
// wrong.
void drive(Driver &d, const std::function<void(const char *)> &checkpoint) {
  d.save(0); // before initialization
  d.initialize();
  d.step(0.0, 0.25);
  checkpoint("initialized and stepped");
  d.save(1);
  d.step(0.25, 0.25);
  d.setInput(0.5);
  d.step(0.5, 0.25);
  d.save(1);
  checkpoint("saved again into the same record");
  d.restore(0);
  checkpoint("restored to before initialization");
  d.initialize();
  d.step(0.0, 0.5);
  d.save(0);
  checkpoint("the record of the state before initialization saved into");
  d.restore(1);
  d.step(0.75, 0.25);
  checkpoint("restored and stepped");
  d.load(2, d.image(1));
  d.load(1, d.image(0));
  checkpoint("deserialized into a new and an existing record");

  const Bytes plain = d.image(2);
  d.load(2, withRingInUse(plain));
  d.restore(2);
  d.save(0);
  checkpoint("a ring holding points through a state, the instance and another state");
  d.step(0.75, 0.25);
  d.load(2, plain);
  d.restore(2);
  d.save(0);
  checkpoint("the ring emptied again in the states and the instance");

  d.reset();
  d.save(1);
  checkpoint("reset");
  d.initialize();
  d.step(0.0, 0.25);
  d.restore(1);
  d.save(2);
  checkpoint("initialized, restored to the reset state and saved");
}

class StateReuse : public UnitTest, public ::testing::WithParamInterface<fmi2Type> {};

TEST_P(StateReuse, ReusedRecordsEndUpAsNewOnes) {
  std::vector<std::string> names;
  std::vector<std::vector<Bytes>> reused;
  std::vector<std::vector<Bytes>> fresh;
  {
    Driver d(host_, GetParam(), true);
    drive(d, [&](const char *name) {
      names.push_back(name);
      reused.push_back(d.images());
    });
  }
  {
    Driver d(host_, GetParam(), false);
    drive(d, [&](const char *) { fresh.push_back(d.images()); });
  }
  ASSERT_FALSE(HasFailure()) << host_.dump();
  ASSERT_EQ(reused.size(), fresh.size());
  for (size_t k = 0; k < reused.size(); ++k) {
    SCOPED_TRACE(names[k]);
    ASSERT_EQ(reused[k].size(), fresh[k].size());
    for (size_t i = 0; i < reused[k].size(); ++i) {
      SCOPED_TRACE(i == 0 ? std::string("the instance") : "state " + std::to_string(i - 1));
      EXPECT_TRUE(reused[k][i] == fresh[k][i]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothKinds, StateReuse,
                         ::testing::Values(fmi2ModelExchange, fmi2CoSimulation),
                         [](const auto &kind) {
                           return kind.param == fmi2CoSimulation ? "CoSimulation" : "ModelExchange";
                         });

// The reserved block and the work area hold nothing (no code reads or writes
// them but to clear the work area): every image of the unit has zeros there,
// and an image from elsewhere with other bytes there loads the same state.
TEST_F(UnitTest, BytesWhereTheRecordHoldsNothingAreNotTakenOver) {
  Driver d(host_, fmi2ModelExchange, true);
  d.initialize();
  d.step(0.0, 0.5);
  d.save(0);
  const Bytes image = d.image(0);
  const size_t block = blockOffset(image);
  const size_t regions[] = {offsetof(ModelInstanceData, reservedBlock),
                            offsetof(ModelInstanceData, reservedBlock) + 400000,
                            offsetof(ModelInstanceData, reservedValue),
                            offsetof(ModelInstanceData, workArea),
                            offsetof(ModelInstanceData, workArea) + 8 * (kWorkAreaSize - 1)};
  Bytes foreign = image;
  for (size_t at : regions) {
    EXPECT_EQ(image[block + at], 0);
    put(foreign, block + at, 1.5);
  }
  d.load(1, foreign);
  EXPECT_TRUE(d.image(1) == image);
  d.restore(1);
  d.save(2);
  EXPECT_TRUE(d.image(2) == image);
}

} // namespace
