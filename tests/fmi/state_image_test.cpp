// Byte images of FMU states through the loaded unit: their size and layout,
// serialization into host buffers, deserialization into other instances and
// other processes, and the refusal of broken and foreign images.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "tests/fmi/fmi_e2e.h"

namespace {

using namespace e2e;
using Bytes = std::vector<fmi2Byte>;

// The image layout of the vessel (nx 1, np 3, nu 1, ny 2, nw 2, no event
// indicators, no extra arrays, no Strings): the header, the format, twelve
// counts, then the fields in format order.
constexpr char kFormat[] = "ifif#f#f#f#f#f#f#f#f#f#s#fiiiiiiiiiiiUfiS(ffffff)S(iiiiiiiiiiiii)Bf#";
constexpr size_t kDataStart = 8 + sizeof kFormat + 4 * 12;
constexpr size_t kValueDoubles = 2 + 2 + 4 + 2 + 3 + 3 + 1 + 2 + 1 + 1;
constexpr size_t kTimeOffset = kDataStart + 16 + 8 * kValueDoubles + 4;
constexpr size_t kStateOffset = kTimeOffset + 8 + 4; // after computedLevel
constexpr size_t kResultGenerationOffset = kStateOffset + 8;
constexpr size_t kSwitchOffset = kTimeOffset + 8 + 11 * 4 + 8 + 8; // useStateInDerivative
constexpr size_t kBlockSizeOffset = kTimeOffset + 8 + 11 * 4 + 8 + 8 + 4 + 48 + 52;
constexpr size_t kBlockOffset = kBlockSizeOffset + 4;
constexpr size_t kDelayDoubles = 2 * 20000;
constexpr size_t kImageSize = kBlockOffset + sizeof(ModelInstanceData) + 8 * kDelayDoubles;

uint32_t readU32(const Bytes &b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
void writeI32(Bytes &b, size_t at, int32_t v) { std::memcpy(b.data() + at, &v, 4); }

class StateImageTest : public UnitTest {
protected:
  void TearDown() override {
    for (auto &[c, s] : owned_) EXPECT_EQ(fmi().fmi2FreeFMUstate(c, &s), fmi2OK);
    owned_.clear();
    if (other_ != nullptr) fmi().fmi2FreeInstance(other_);
    other_ = nullptr;
    UnitTest::TearDown();
  }
  fmi2Component otherInstance(fmi2Type type = fmi2ModelExchange) {
    other_ = fmi().fmi2Instantiate("other", type, FMI_MODEL_GUID, nullptr, &host_.functions(),
                                   fmi2False, fmi2True);
    EXPECT_NE(other_, nullptr);
    return other_;
  }
  // A state of instance c, released at the end of the test.
  fmi2FMUstate save(fmi2Component c) {
    fmi2FMUstate s = nullptr;
    EXPECT_EQ(fmi().fmi2GetFMUstate(c, &s), fmi2OK) << host_.dump();
    owned_.push_back({c, s});
    return s;
  }
  Bytes serialize(fmi2Component c, fmi2FMUstate s) {
    size_t size = 0;
    EXPECT_EQ(fmi().fmi2SerializedFMUstateSize(c, s, &size), fmi2OK) << host_.dump();
    Bytes image(size);
    EXPECT_EQ(fmi().fmi2SerializeFMUstate(c, s, image.data(), image.size()), fmi2OK)
        << host_.dump();
    return image;
  }
  std::vector<double> snapshot(fmi2Component c) {
    const fmi2ValueReference refs[] = {vrTime,        vrState,        vrVornSurface,
                                       vrHoleSurface, vrInitialLevel, vrInputRate,
                                       vrDerivative,  vrLevel,        vrOutflow};
    std::vector<double> v(std::size(refs), NAN);
    EXPECT_EQ(fmi().fmi2GetReal(c, refs, v.size(), v.data()), fmi2OK) << host_.dump();
    return v;
  }
  // A Model Exchange instance at t = 0.5, level 2.5, inputRate 0.25.
  void movedInstance() {
    continuousTime();
    const double x = 2.5;
    const double rate = 0.25;
    ASSERT_EQ(fmi().fmi2SetTime(c_, 0.5), fmi2OK);
    ASSERT_EQ(fmi().fmi2SetContinuousStates(c_, &x, 1), fmi2OK);
    ASSERT_EQ(fmi().fmi2SetReal(c_, &vrInputRate, 1, &rate), fmi2OK);
  }

  std::vector<std::pair<fmi2Component, fmi2FMUstate>> owned_;
  fmi2Component other_ = nullptr;
};

TEST_F(StateImageTest, SizeIsTheSameForEveryStateAndInstance) {
  movedInstance();
  const fmi2FMUstate a = save(c_);
  size_t sizeA = 0;
  ASSERT_EQ(fmi().fmi2SerializedFMUstateSize(c_, a, &sizeA), fmi2OK);
  EXPECT_EQ(sizeA, kImageSize);

  fmi2Component o = otherInstance();
  const fmi2FMUstate b = save(o); // saved before initialization
  size_t sizeB = 0;
  ASSERT_EQ(fmi().fmi2SerializedFMUstateSize(o, b, &sizeB), fmi2OK);
  EXPECT_EQ(sizeB, sizeA);
  EXPECT_EQ(serialize(o, b).size(), serialize(c_, a).size());

  const Bytes image = serialize(c_, a);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(image.data()), 3), "bim");
  EXPECT_EQ(readU32(image, 4), kImageSize);
  EXPECT_STREQ(reinterpret_cast<const char *>(image.data() + 8), kFormat);
  EXPECT_EQ(readU32(image, kBlockSizeOffset), sizeof(ModelInstanceData));
  double time = NAN;
  std::memcpy(&time, image.data() + kTimeOffset, 8);
  EXPECT_EQ(time, 0.5);
}

TEST_F(StateImageTest, BufferOneByteShortIsRefused) {
  movedInstance();
  const fmi2FMUstate s = save(c_);
  size_t size = 0;
  ASSERT_EQ(fmi().fmi2SerializedFMUstateSize(c_, s, &size), fmi2OK);
  Bytes buffer(size + 16, static_cast<fmi2Byte>(0xAB));
  host_.clearMessages();
  EXPECT_EQ(fmi().fmi2SerializeFMUstate(c_, s, buffer.data(), size - 1), fmi2Error);
  EXPECT_EQ(last().message, "fmi2SerializeFMUstate: bim_dump failed");
  EXPECT_EQ(last().status, fmi2Error);
  // The serializer's own report reaches the logger, not standard output.
  const std::string report =
      "fmi2SerializeFMUstate: bim_dump: buffer too small, need " + std::to_string(size) + " bytes";
  const auto messages = host_.messages();
  EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const fmihost::LogRecord &m) {
    return m.message == report && m.status == fmi2Warning;
  })) << host_.dump();
  // A longer buffer: the bytes beyond the image are left alone.
  ASSERT_EQ(fmi().fmi2SerializeFMUstate(c_, s, buffer.data(), buffer.size()), fmi2OK);
  for (size_t i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], static_cast<fmi2Byte>(0xAB));
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), serialize(c_, s));
}

TEST_F(StateImageTest, NullArgumentsAreRefused) {
  movedInstance();
  const fmi2FMUstate s = save(c_);
  size_t size = 0;
  Bytes buffer(16);
  fmi2FMUstate none = nullptr;
  struct Case {
    const char *message;
    fmi2Status status;
  };
  const Case cases[] = {
      {"fmi2SerializedFMUstateSize: FMUstate == NULL",
       fmi().fmi2SerializedFMUstateSize(c_, nullptr, &size)},
      {"fmi2SerializedFMUstateSize: size == NULL",
       fmi().fmi2SerializedFMUstateSize(c_, s, nullptr)},
      {"fmi2SerializeFMUstate: FMUstate == NULL",
       fmi().fmi2SerializeFMUstate(c_, nullptr, buffer.data(), buffer.size())},
      {"fmi2SerializeFMUstate: serializedState == NULL",
       fmi().fmi2SerializeFMUstate(c_, s, nullptr, 16)},
      {"fmi2SerializeFMUstate: serializedState == NULL",
       fmi().fmi2DeSerializeFMUstate(c_, nullptr, 16, &none)},
      {"fmi2SerializeFMUstate: FMUstate == NULL",
       fmi().fmi2DeSerializeFMUstate(c_, buffer.data(), buffer.size(), nullptr)},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.message);
    EXPECT_EQ(k.status, fmi2Error);
    EXPECT_TRUE(host_.hasMessage(k.message, fmi2Error)) << host_.dump();
  }
}

TEST_F(StateImageTest, DeserializedStateRestoresAnotherInstance) {
  movedInstance();
  const std::vector<double> saved = snapshot(c_);
  const Bytes image = serialize(c_, save(c_));

  fmi2Component o = otherInstance();
  fmi2FMUstate fresh = nullptr;
  ASSERT_EQ(fmi().fmi2DeSerializeFMUstate(o, image.data(), image.size(), &fresh), fmi2OK)
      << host_.dump();
  ASSERT_NE(fresh, nullptr);
  owned_.push_back({o, fresh});
  ASSERT_EQ(fmi().fmi2SetFMUstate(o, fresh), fmi2OK) << host_.dump();
  EXPECT_EQ(snapshot(o), saved);
  // The image of the deserialized state is the image it came from, except
  // in the model data block, whose pointers are bound to the new record.
  const Bytes again = serialize(o, fresh);
  ASSERT_EQ(again.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + kBlockOffset, again.begin()));
  const size_t blockEnd = kBlockOffset + sizeof(ModelInstanceData);
  EXPECT_TRUE(std::equal(image.begin() + blockEnd, image.end(), again.begin() + blockEnd));

  // Deserializing into an existing record overwrites it.
  const fmi2FMUstate existing = save(c_);
  double x = 1.0;
  ASSERT_EQ(fmi().fmi2SetContinuousStates(c_, &x, 1), fmi2OK);
  fmi2FMUstate into = existing;
  ASSERT_EQ(fmi().fmi2DeSerializeFMUstate(c_, image.data(), image.size(), &into), fmi2OK);
  EXPECT_EQ(into, existing);
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, into), fmi2OK);
  EXPECT_EQ(snapshot(c_), saved);
}

// Broken and foreign images: each is refused with an error, the host's
// pointer stays null, nothing is allocated for good, and an existing record
// keeps its content.
TEST_F(StateImageTest, BrokenImagesChangeNothing) {
  movedInstance();
  const std::vector<double> before = snapshot(c_);
  const fmi2FMUstate kept = save(c_);
  const Bytes good = serialize(c_, kept);
  ASSERT_EQ(good.size(), kImageSize);

  const auto shrunkBlock = [&] {
    // A well-formed image whose model data block is 8 bytes short.
    Bytes b = good;
    b.erase(b.begin() + kBlockOffset, b.begin() + kBlockOffset + 8);
    writeI32(b, 4, static_cast<int32_t>(b.size()));
    writeI32(b, kBlockSizeOffset, static_cast<int32_t>(sizeof(ModelInstanceData) - 8));
    return b;
  };
  const auto patched = [&](size_t at, int32_t value) {
    Bytes b = good;
    writeI32(b, at, value);
    return b;
  };
  const size_t ringOffset = kBlockOffset + offsetof(ModelInstanceData, delayBuffers);
  const char *const load = "fmi2SerializeFMUstate: bim_load failed";
  const char *const unpack = "fmi2SerializeFMUstate: bim_unpack failed";
  struct Case {
    const char *what;
    Bytes image;
    const char *message;
  };
  std::vector<Case> cases = {
      {"truncated by one byte", Bytes(good.begin(), good.end() - 1), load},
      {"grown by one byte",
       [&] {
         Bytes b = good;
         b.push_back(0);
         return b;
       }(),
       load},
      {"magic flipped",
       [&] {
         Bytes b = good;
         b[0] ^= 0x20;
         return b;
       }(),
       load},
      {"unknown flag",
       [&] {
         Bytes b = good;
         b[3] |= 4;
         return b;
       }(),
       load},
      {"length field", patched(4, static_cast<int32_t>(good.size() + 1)), load},
      {"other format",
       [&] {
         Bytes b = good;
         b[8] = 'u';
         return b;
       }(),
       load},
      {"other array count", patched(8 + sizeof kFormat, 3), load},
      {"block length field", patched(kBlockSizeOffset, 100), load},
      {"block of another size", shrunkBlock(), unpack},
      {"state code 2", patched(kStateOffset, 2), unpack},
      {"state code 99", patched(kStateOffset, 99), unpack},
      {"result generation on", patched(kResultGenerationOffset, 1), unpack},
      {"states inside the directional derivative", patched(kSwitchOffset, 1), unpack},
      {"ring slot outside", patched(ringOffset + offsetof(DelayBuffer, first), 20000), unpack},
      {"ring of another size", patched(ringOffset + offsetof(DelayBuffer, size), 10), unpack},
      {"empty", Bytes{}, load},
      {"header only", Bytes(good.begin(), good.begin() + 8), load},
      {"foreign bytes", Bytes(4096, static_cast<fmi2Byte>(0x5A)), load},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    const size_t blocks = fmihost::liveBlocks();
    host_.clearMessages();
    fmi2FMUstate s = nullptr;
    const fmi2Byte byte = 0;
    const fmi2Byte *data = k.image.empty() ? &byte : k.image.data();
    EXPECT_EQ(fmi().fmi2DeSerializeFMUstate(c_, data, k.image.size(), &s), fmi2Error);
    EXPECT_EQ(s, nullptr);
    EXPECT_TRUE(host_.hasMessage(k.message, fmi2Error)) << host_.dump();
    EXPECT_EQ(fmihost::liveBlocks(), blocks);

    fmi2FMUstate into = kept;
    EXPECT_EQ(fmi().fmi2DeSerializeFMUstate(c_, data, k.image.size(), &into), fmi2Error);
    EXPECT_EQ(into, kept);
    EXPECT_EQ(serialize(c_, kept), good);
    EXPECT_EQ(snapshot(c_), before);
  }
}

// Every allocation of the three functions, made to fail in turn.  A scratch
// allocation is reported as "out of memory", a failing creation of a new
// record as "memory allocation failed"; either leaves the instance running.
// Nothing leaks and the host's pointer stays as it was.
TEST_F(StateImageTest, AllocationFailuresAreReported) {
  movedInstance();
  const fmi2FMUstate s = save(c_);
  const Bytes image = serialize(c_, s);
  Bytes buffer(image.size());
  struct Operation {
    const char *what;
    bool createsRecord;
    std::function<fmi2Status(fmi2Component, fmi2FMUstate *)> run;
  };
  const Operation operations[] = {
      {"serialize", false,
       [&](fmi2Component c, fmi2FMUstate *) {
         return fmi().fmi2SerializeFMUstate(c, s, buffer.data(), buffer.size());
       }},
      {"deserialize into an existing record", false,
       [&](fmi2Component c, fmi2FMUstate *) {
         fmi2FMUstate into = s;
         const fmi2Status status =
             fmi().fmi2DeSerializeFMUstate(c, image.data(), image.size(), &into);
         EXPECT_EQ(into, s);
         return status;
       }},
      {"deserialize into a new record", true,
       [&](fmi2Component c, fmi2FMUstate *fresh) {
         return fmi().fmi2DeSerializeFMUstate(c, image.data(), image.size(), fresh);
       }},
  };
  for (const Operation &op : operations) {
    SCOPED_TRACE(op.what);
    for (size_t n = 1;; ++n) {
      SCOPED_TRACE(n);
      ASSERT_LT(n, 100u);
      // New records are made by a second instance, which a failure may end.
      fmihost::ScopedInstance o(fmi(), op.createsRecord ? otherInstance() : nullptr);
      other_ = nullptr;
      fmi2Component target = op.createsRecord ? o.get() : c_;
      const size_t blocks = fmihost::liveBlocks();
      host_.clearMessages();
      fmi2FMUstate fresh = nullptr;
      fmihost::failAllocation(n);
      const fmi2Status status = op.run(target, &fresh);
      fmihost::failAllocation(0);
      if (status == fmi2OK) {
        EXPECT_EQ(fmi().fmi2FreeFMUstate(target, &fresh), fmi2OK);
        break;
      }
      EXPECT_EQ(status, fmi2Error);
      EXPECT_EQ(fresh, nullptr);
      EXPECT_EQ(fmihost::liveBlocks(), blocks);
      if (host_.hasMessage("memory allocation failed", fmi2Error)) {
        EXPECT_TRUE(op.createsRecord);
      } else {
        EXPECT_TRUE(host_.hasMessage("out of memory", fmi2Error)) << host_.dump();
      }
      if (op.createsRecord) {
        EXPECT_EQ(fmi().fmi2Terminate(target), fmi2OK); // not terminated by the failure
      } else {
        double x = NAN;
        EXPECT_EQ(fmi().fmi2GetContinuousStates(target, &x, 1), fmi2OK); // still running
      }
    }
  }
  EXPECT_EQ(serialize(c_, s), image);
}

// Random damage to a good image, seeded: every result is a usable state or
// a refusal, never a crash, a leak or undefined behaviour (run under the
// sanitizers).
TEST_F(StateImageTest, MutatedImagesAreHandled) {
  movedInstance();
  const Bytes good = serialize(c_, save(c_));
  fmi2Component target = otherInstance();
  std::mt19937 random(20261210u);
  const auto uniform = [&](size_t n) {
    return std::uniform_int_distribution<size_t>(0, n - 1)(random);
  };
  size_t accepted = 0;
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    Bytes image = good;
    const int edits = 1 + static_cast<int>(uniform(3));
    for (int e = 0; e < edits; ++e) {
      // Half of the edits hit the header, the counts and the scalar fields.
      const size_t at = uniform(2) == 0 ? uniform(std::min<size_t>(kBlockOffset + 64, image.size()))
                                        : uniform(image.size());
      switch (uniform(5)) {
      case 0:
        image[at] ^= static_cast<fmi2Byte>(1u << uniform(8));
        break;
      case 1:
        image[at] = static_cast<fmi2Byte>(uniform(256));
        break;
      case 2:
        image.resize(at);
        break;
      case 3:
        image.insert(image.begin() + at, uniform(16) + 1, static_cast<fmi2Byte>(uniform(256)));
        break;
      default:
        if (at + 4 <= image.size()) writeI32(image, at, static_cast<int32_t>(random()));
      }
      if (image.empty()) image.push_back(0);
    }
    fmi2FMUstate s = nullptr;
    const fmi2Status status = fmi().fmi2DeSerializeFMUstate(target, image.data(), image.size(), &s);
    if (status != fmi2OK) {
      EXPECT_EQ(status, fmi2Error);
      EXPECT_EQ(s, nullptr);
      continue;
    }
    ++accepted;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(fmi().fmi2SetFMUstate(target, s), fmi2OK);
    EXPECT_EQ(fmi().fmi2FreeFMUstate(target, &s), fmi2OK);
  }
  EXPECT_GT(accepted, 0u); // some edits only change values
  host_.clearMessages();
}

// ---- A second process ---------------------------------------------------------
//
// The parent saves a run at t = 1, writes the image to a file and continues
// from the restored state; a child process (this executable again, selected
// by a gtest filter, with the files named in the environment) deserializes
// the image into a fresh instance, restores it and continues the same way.
// Both trajectories must be the same to the bit.

constexpr const char *kImageVariable = "UNIT_STATE_IMAGE";
constexpr const char *kKindVariable = "UNIT_STATE_KIND";
constexpr const char *kOutputVariable = "UNIT_STATE_OUTPUT";

// From the restored state at t = 1 to t = 2: Model Exchange by explicit
// Euler steps of 0.125 driven here, Co-Simulation by steps of 0.25.  The
// levels at the step ends.
std::vector<double> continueRun(fmi2Component c, fmi2Type kind) {
  std::vector<double> levels;
  const fmihost::Fmi2Functions &f = fmi();
  if (kind == fmi2CoSimulation) {
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(f.fmi2DoStep(c, 1.0 + 0.25 * k, 0.25, fmi2True), fmi2OK);
      double level = NAN;
      EXPECT_EQ(f.fmi2GetReal(c, &vrLevel, 1, &level), fmi2OK);
      levels.push_back(level);
    }
    return levels;
  }
  double x = NAN;
  EXPECT_EQ(f.fmi2GetContinuousStates(c, &x, 1), fmi2OK);
  for (int k = 0; k < 8; ++k) {
    double der = NAN;
    EXPECT_EQ(f.fmi2GetDerivatives(c, &der, 1), fmi2OK);
    x += 0.125 * der;
    EXPECT_EQ(f.fmi2SetTime(c, 1.0 + 0.125 * (k + 1)), fmi2OK);
    EXPECT_EQ(f.fmi2SetContinuousStates(c, &x, 1), fmi2OK);
    fmi2Boolean enterEventMode = fmi2False;
    fmi2Boolean terminate = fmi2False;
    EXPECT_EQ(f.fmi2CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate), fmi2OK);
    double level = NAN;
    EXPECT_EQ(f.fmi2GetReal(c, &vrLevel, 1, &level), fmi2OK);
    levels.push_back(level);
  }
  return levels;
}

// The child's side; skipped unless started by the parent.
TEST(StateImageChild, ContinueFromImage) {
  const char *imagePath = std::getenv(kImageVariable);
  const char *kindText = std::getenv(kKindVariable);
  const char *outputPath = std::getenv(kOutputVariable);
  if (imagePath == nullptr || kindText == nullptr || outputPath == nullptr) {
    GTEST_SKIP() << "started by StateImageProcess only";
  }
  const auto kind = static_cast<fmi2Type>(std::atoi(kindText));
  std::ifstream in(imagePath, std::ios::binary);
  const Bytes image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(image.empty());

  fmihost::HostCallbacks host;
  fmihost::ScopedInstance c(fmi(), fmi().fmi2Instantiate("child", kind, FMI_MODEL_GUID, nullptr,
                                                         &host.functions(), fmi2False, fmi2True));
  ASSERT_TRUE(c);
  fmi2FMUstate s = nullptr;
  ASSERT_EQ(fmi().fmi2DeSerializeFMUstate(c.get(), image.data(), image.size(), &s), fmi2OK)
      << host.dump();
  ASSERT_EQ(fmi().fmi2SetFMUstate(c.get(), s), fmi2OK) << host.dump();
  EXPECT_EQ(fmi().fmi2FreeFMUstate(c.get(), &s), fmi2OK);
  const std::vector<double> levels = continueRun(c.get(), kind);
  std::ofstream out(outputPath, std::ios::binary);
  out.write(reinterpret_cast<const char *>(levels.data()),
            static_cast<std::streamsize>(levels.size() * sizeof(double)));
  if (kind == fmi2CoSimulation) {
    EXPECT_EQ(fmi().fmi2Terminate(c.get()), fmi2OK);
  }
}

class StateImageProcess : public StateImageTest, public ::testing::WithParamInterface<fmi2Type> {};

TEST_P(StateImageProcess, TrajectoryContinuesInAFreshProcess) {
  const fmi2Type kind = GetParam();
  if (kind == fmi2CoSimulation) {
    instantiate(fmi2CoSimulation);
    ASSERT_EQ(fmi().fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
    ASSERT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK);
    for (int k = 0; k < 4; ++k) ASSERT_EQ(fmi().fmi2DoStep(c_, 0.25 * k, 0.25, fmi2True), fmi2OK);
  } else {
    continuousTime();
    const double x = 2.0;
    ASSERT_EQ(fmi().fmi2SetTime(c_, 1.0), fmi2OK);
    ASSERT_EQ(fmi().fmi2SetContinuousStates(c_, &x, 1), fmi2OK);
  }
  const fmi2FMUstate s = save(c_);
  const Bytes image = serialize(c_, s);

  const std::string base = ::testing::TempDir() + "state_image_" + std::to_string(getpid()) + "_" +
                           std::to_string(static_cast<int>(kind));
  const std::string imagePath = base + ".bin";
  const std::string outputPath = base + ".out";
  const std::string logPath = base + ".log";
  {
    std::ofstream out(imagePath, std::ios::binary);
    out.write(reinterpret_cast<const char *>(image.data()),
              static_cast<std::streamsize>(image.size()));
  }
  ASSERT_EQ(fmi().fmi2SetFMUstate(c_, s), fmi2OK);
  const std::vector<double> expected = continueRun(c_, kind);
  if (kind == fmi2CoSimulation) {
    EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK);
  }

  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string command =
      std::string(kImageVariable) + "='" + imagePath + "' " + kKindVariable + "=" +
      std::to_string(static_cast<int>(kind)) + " " + kOutputVariable + "='" + outputPath + "' '" +
      self + "' --gtest_filter=StateImageChild.ContinueFromImage > '" + logPath + "' 2>&1";
  const int rc = std::system(command.c_str());
  std::ifstream log(logPath);
  const std::string childLog((std::istreambuf_iterator<char>(log)),
                             std::istreambuf_iterator<char>());
  ASSERT_EQ(rc, 0) << childLog;

  std::ifstream in(outputPath, std::ios::binary);
  std::vector<double> levels(expected.size(), NAN);
  in.read(reinterpret_cast<char *>(levels.data()),
          static_cast<std::streamsize>(levels.size() * sizeof(double)));
  ASSERT_TRUE(in) << childLog;
  EXPECT_EQ(levels, expected);
  std::remove(imagePath.c_str());
  std::remove(outputPath.c_str());
  std::remove(logPath.c_str());
}

INSTANTIATE_TEST_SUITE_P(BothKinds, StateImageProcess,
                         ::testing::Values(fmi2ModelExchange, fmi2CoSimulation),
                         [](const auto &kind) {
                           return kind.param == fmi2CoSimulation ? "CoSimulation" : "ModelExchange";
                         });

} // namespace
