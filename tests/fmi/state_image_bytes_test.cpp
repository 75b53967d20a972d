// The bytes of FMU-state images: equal states give equal images, whatever
// the heap layout of the process that writes them, in this process and in
// another; and a fixed run gives the same image bytes as when this test was
// written, which pins the image format.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using e2e::fmi;
using Bytes = std::vector<fmi2Byte>;

constexpr const char *kOutputVariable = "UNIT_FIXED_IMAGE_OUTPUT";
constexpr const char *kKindVariable = "UNIT_FIXED_IMAGE_KIND";

// The image of the state after a fixed run: Co-Simulation 4 steps of 0.25 s
// from the defaults; Model Exchange at t = 1 with level 2 and the derivatives
// read.
Bytes fixedRunImage(fmi2Type kind) {
  fmihost::HostCallbacks host;
  fmihost::ScopedInstance c(fmi(), fmi().fmi2Instantiate("fixed", kind, FMI_MODEL_GUID,
                                                         "file:///fixed/resources",
                                                         &host.functions(), fmi2False, fmi2False));
  if (!c) return {};
  const fmihost::Fmi2Functions &f = fmi();
  EXPECT_EQ(f.fmi2SetupExperiment(c.get(), fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  EXPECT_EQ(f.fmi2EnterInitializationMode(c.get()), fmi2OK);
  EXPECT_EQ(f.fmi2ExitInitializationMode(c.get()), fmi2OK);
  if (kind == fmi2CoSimulation) {
    for (int k = 0; k < 4; ++k) EXPECT_EQ(f.fmi2DoStep(c.get(), 0.25 * k, 0.25, fmi2True), fmi2OK);
  } else {
    fmi2EventInfo info{};
    EXPECT_EQ(f.fmi2NewDiscreteStates(c.get(), &info), fmi2OK);
    EXPECT_EQ(f.fmi2EnterContinuousTimeMode(c.get()), fmi2OK);
    const double x = 2.0;
    double der = NAN;
    EXPECT_EQ(f.fmi2SetTime(c.get(), 1.0), fmi2OK);
    EXPECT_EQ(f.fmi2SetContinuousStates(c.get(), &x, 1), fmi2OK);
    EXPECT_EQ(f.fmi2GetDerivatives(c.get(), &der, 1), fmi2OK);
  }
  fmi2FMUstate s = nullptr;
  EXPECT_EQ(f.fmi2GetFMUstate(c.get(), &s), fmi2OK);
  size_t size = 0;
  EXPECT_EQ(f.fmi2SerializedFMUstateSize(c.get(), s, &size), fmi2OK);
  Bytes image(size);
  EXPECT_EQ(f.fmi2SerializeFMUstate(c.get(), s, image.data(), image.size()), fmi2OK);
  EXPECT_EQ(f.fmi2FreeFMUstate(c.get(), &s), fmi2OK);
  if (kind == fmi2CoSimulation) {
    EXPECT_EQ(f.fmi2Terminate(c.get()), fmi2OK);
  }
  return image;
}

uint64_t fnv1a(const Bytes &bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (fmi2Byte b : bytes) {
    h ^= static_cast<unsigned char>(b);
    h *= 0x100000001b3ull;
  }
  return h;
}

class ImageBytes : public ::testing::TestWithParam<fmi2Type> {};

TEST_P(ImageBytes, EqualStatesGiveEqualImagesWhateverTheHeap) {
  const Bytes first = fixedRunImage(GetParam());
  ASSERT_FALSE(first.empty());
  // Other blocks now sit where the first run's records were.
  std::vector<std::unique_ptr<char[]>> ballast;
  for (int i = 0; i < 64; ++i) ballast.emplace_back(new char[4096 + 64 * i]);
  const Bytes second = fixedRunImage(GetParam());
  ASSERT_EQ(first.size(), second.size());
  size_t differing = 0;
  for (size_t i = 0; i < first.size(); ++i) differing += first[i] != second[i] ? 1 : 0;
  EXPECT_EQ(differing, 0u);
}

// The child's side: writes the fixed run's image; skipped unless started by
// the test below.
TEST(ImageBytesChild, WriteFixedRunImage) {
  const char *output = std::getenv(kOutputVariable);
  const char *kind = std::getenv(kKindVariable);
  if (output == nullptr || kind == nullptr) GTEST_SKIP() << "started by ImageBytes only";
  const Bytes image = fixedRunImage(static_cast<fmi2Type>(std::atoi(kind)));
  std::ofstream out(output, std::ios::binary);
  out.write(reinterpret_cast<const char *>(image.data()),
            static_cast<std::streamsize>(image.size()));
}

TEST_P(ImageBytes, AnotherProcessWritesTheSameImage) {
  const Bytes mine = fixedRunImage(GetParam());
  const std::string base = ::testing::TempDir() + "fixed_image_" + std::to_string(getpid());
  const std::string output = base + ".bin";
  const std::string log = base + ".log";
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string command = std::string(kOutputVariable) + "='" + output + "' " + kKindVariable +
                              "=" + std::to_string(static_cast<int>(GetParam())) + " '" + self +
                              "' --gtest_filter=ImageBytesChild.WriteFixedRunImage > '" + log +
                              "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(output, std::ios::binary);
  const Bytes theirs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(theirs == mine) << "sizes " << theirs.size() << " and " << mine.size();
  std::remove(output.c_str());
  std::remove(log.c_str());
}

TEST_P(ImageBytes, FixedRunGivesThePinnedImage) {
  const Bytes image = fixedRunImage(GetParam());
  const uint64_t expected =
      GetParam() == fmi2CoSimulation ? 0xdbd1e58ed7bd1ef8ull : 0xdf7c17c8e369b795ull;
  EXPECT_EQ(fnv1a(image), expected)
      << std::hex << "0x" << fnv1a(image) << std::dec << ", " << image.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(BothKinds, ImageBytes,
                         ::testing::Values(fmi2ModelExchange, fmi2CoSimulation),
                         [](const auto &kind) {
                           return kind.param == fmi2CoSimulation ? "CoSimulation" : "ModelExchange";
                         });

} // namespace
