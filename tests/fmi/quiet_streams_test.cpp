// The unit writes nothing to the process's standard output and error: a
// host may write its own results there.  While images are refused and
// allocations fail at every point of whole lifecycles of both kinds, file
// descriptors 1 and 2 stay empty, and what the serializer has to say
// reaches the host's logger instead.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/fmi/captured_streams.h"
#include "tests/fmi/fmi_e2e.h"

namespace {

using e2e::fmi;
using Bytes = std::vector<fmi2Byte>;

class QuietStreams : public e2e::UnitTest {
protected:
  // The image of a Co-Simulation instance stepped to t = 0.5.
  Bytes steppedImage() {
    const fmihost::Fmi2Functions &f = fmi();
    instantiate(fmi2CoSimulation);
    fmi2FMUstate s = nullptr;
    size_t size = 0;
    Bytes image;
    if (c_ != nullptr && f.fmi2SetupExperiment(c_, fmi2False, 0.0, 0.0, fmi2False, 0.0) == fmi2OK &&
        f.fmi2EnterInitializationMode(c_) == fmi2OK && f.fmi2ExitInitializationMode(c_) == fmi2OK &&
        f.fmi2DoStep(c_, 0.0, 0.5, fmi2True) == fmi2OK && f.fmi2GetFMUstate(c_, &s) == fmi2OK &&
        f.fmi2SerializedFMUstateSize(c_, s, &size) == fmi2OK) {
      image.resize(size);
      if (f.fmi2SerializeFMUstate(c_, s, image.data(), size) != fmi2OK) image.clear();
    }
    (void)f.fmi2FreeFMUstate(c_, &s);
    return image;
  }
  bool logged(const std::string &text, fmi2Status status) const {
    const auto m = host_.messages();
    return std::any_of(m.begin(), m.end(), [&](const fmihost::LogRecord &r) {
      return r.message == text && r.status == status;
    });
  }
};

// One whole lifecycle of an instance of the kind, every call's status
// ignored: a failing allocation may end it anywhere.
void lifecycle(fmi2Type kind, fmihost::HostCallbacks &host, const Bytes &image) {
  const fmihost::Fmi2Functions &f = fmi();
  fmi2Component c = f.fmi2Instantiate("life", kind, FMI_MODEL_GUID, nullptr, &host.functions(),
                                      fmi2False, fmi2True);
  if (c == nullptr) return;
  (void)f.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0);
  (void)f.fmi2EnterInitializationMode(c);
  (void)f.fmi2ExitInitializationMode(c);
  if (kind == fmi2CoSimulation) {
    (void)f.fmi2DoStep(c, 0.0, 0.5, fmi2True);
  } else {
    fmi2EventInfo info{};
    double dx = 0.0;
    (void)f.fmi2NewDiscreteStates(c, &info);
    (void)f.fmi2EnterContinuousTimeMode(c);
    (void)f.fmi2GetDerivatives(c, &dx, 1);
    (void)f.fmi2SetTime(c, 0.5);
  }
  fmi2FMUstate saved = nullptr;
  fmi2FMUstate loaded = nullptr;
  size_t size = 0;
  (void)f.fmi2GetFMUstate(c, &saved);
  (void)f.fmi2SerializedFMUstateSize(c, saved, &size);
  Bytes bytes(size == 0 ? 1 : size);
  (void)f.fmi2SerializeFMUstate(c, saved, bytes.data(), size);
  (void)f.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &loaded);
  (void)f.fmi2SetFMUstate(c, loaded);
  (void)f.fmi2FreeFMUstate(c, &saved);
  (void)f.fmi2FreeFMUstate(c, &loaded);
  (void)f.fmi2Terminate(c);
  if (f.fmi2Reset(c) == fmi2Fatal) return; // the instance is released already
  f.fmi2FreeInstance(c);
}

TEST_F(QuietStreams, RefusedImagesAndFailedAllocationsWriteNothingToFd1Or2) {
  const Bytes good = steppedImage();
  ASSERT_FALSE(good.empty()) << host_.dump();
  std::string captured;
  size_t lifecycles = 0;
  {
    fmitest::CapturedStreams streams;
    const fmihost::Fmi2Functions &f = fmi();
    host_.clearMessages();

    // Images that are refused: foreign bytes, cut, grown, with another
    // format or random damage.
    std::vector<Bytes> broken = {
        Bytes(4096, static_cast<fmi2Byte>(0x5A)),
        Bytes(good.begin(), good.begin() + 8),
        Bytes(good.begin(), good.end() - 1),
        [&] {
          Bytes b = good;
          b.push_back(0);
          return b;
        }(),
        [&] {
          Bytes b = good;
          b[8] = 'u';
          return b;
        }(),
    };
    std::mt19937 random(14u);
    for (int round = 0; round < 100; ++round) {
      Bytes b = good;
      const size_t at = std::uniform_int_distribution<size_t>(0, 4096)(random);
      const uint32_t value = static_cast<uint32_t>(random());
      std::memcpy(b.data() + at, &value, sizeof value);
      broken.push_back(std::move(b));
    }
    for (const Bytes &image : broken) {
      fmi2FMUstate s = nullptr;
      if (f.fmi2DeSerializeFMUstate(c_, image.data(), image.size(), &s) == fmi2OK) {
        (void)f.fmi2FreeFMUstate(c_, &s);
      }
    }
    // A buffer too short for the image.
    fmi2FMUstate s = nullptr;
    Bytes shortBuffer(good.size() - 1);
    (void)f.fmi2GetFMUstate(c_, &s);
    (void)f.fmi2SerializeFMUstate(c_, s, shortBuffer.data(), shortBuffer.size());
    (void)f.fmi2FreeFMUstate(c_, &s);

    // Every allocation of whole lifecycles of both kinds fails in turn.
    for (const fmi2Type kind : {fmi2ModelExchange, fmi2CoSimulation}) {
      for (size_t n = 1; n < 1000; ++n) {
        fmihost::HostCallbacks host;
        fmihost::resetAllocationCounts();
        fmihost::failAllocation(n);
        lifecycle(kind, host, good);
        fmihost::failAllocation(0);
        ++lifecycles;
        if (fmihost::allocationCalls() < n) break; // no call failed: all points done
      }
    }
    captured = streams.release();
  }
  EXPECT_EQ(captured, "");
  EXPECT_GT(lifecycles, 20u);
  // What the serializer said went to the logger, with the calling function.
  EXPECT_TRUE(logged("fmi2SerializeFMUstate: not a valid bim file", fmi2Warning)) << host_.dump();
  EXPECT_TRUE(logged("fmi2SerializeFMUstate: bim_dump: buffer too small, need " +
                         std::to_string(good.size()) + " bytes",
                     fmi2Warning))
      << host_.dump();
  EXPECT_TRUE(logged("fmi2SerializeFMUstate: bim_load failed", fmi2Error)) << host_.dump();
}

} // namespace
