// libFuzzer target: FMU-state images, deserialized by an initialized
// instance, restored into it, and the instance then stepped and read in its
// kind.  The FMI layer is linked in directly (its fmi2 functions, with the
// host's side written here: a zero-filling allocator and a logger that
// formats every message and drops it).  Built with -DUNIT_FUZZ_SEEDS it is
// instead a program that writes a seed corpus (argument: the corpus folder).
//
// A real image is larger than the inputs libFuzzer makes (1.2 MB), so an
// input describes an image as bytes laid over one of a few real images that
// the unit makes at start-up (both kinds, each instantiated, initialized,
// stepped and terminated):
//   byte 0  bit 0: the kind (Co-Simulation when set), which is also the kind
//           of the real image; bits 1-3: the step size after the restore
//           (0.125 times the value; an odd value also deserializes into an
//           existing record instead of a new one); bits 4-5: which of the
//           kind's four real
//           images; bits 6-7: where the rest of the input goes:
//           0 over the image's start, 1 over its end, 2 as the whole image
//           (foreign or cut images), 3 over the offset in bytes 1 to 4
//           (little-endian, modulo the image's length)
//   then    the bytes.
// The seeds are the beginnings and ends of the real images, and one cut
// image, so that mutations start from what the unit writes.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fmi/fmi2.h"
#include "model/model_data.h"

namespace {

using Bytes = std::vector<fmi2Byte>;

void *allocateMemory(size_t nobj, size_t size) {
  return std::calloc(nobj == 0 ? 1 : nobj, size == 0 ? 1 : size);
}

void freeMemory(void *obj) { std::free(obj); }

// Formats the message with the arguments as a host would, and drops it.
void logger(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String message, ...) {
  char text[2048];
  va_list args;
  va_start(args, message);
  std::vsnprintf(text, sizeof text, message, args);
  va_end(args);
}

const fmi2CallbackFunctions kCallbacks = {logger, allocateMemory, freeMemory, nullptr, nullptr};

// The image of the instance's current state, empty on failure.
Bytes imageOf(fmi2Component c) {
  fmi2FMUstate state = nullptr;
  size_t length = 0;
  Bytes image;
  if (fmi2GetFMUstate(c, &state) == fmi2OK &&
      fmi2SerializedFMUstateSize(c, state, &length) == fmi2OK) {
    image.resize(length);
    if (fmi2SerializeFMUstate(c, state, image.data(), image.size()) != fmi2OK) image.clear();
  }
  (void)fmi2FreeFMUstate(c, &state);
  return image;
}

// The four real images of the kind: instantiated, initialized, stepped to
// t = 0.5 (Model Exchange: continuous time at t = 0.5, level 2.5),
// terminated.  Made once per process; the program ends when the unit
// cannot make them.
const std::vector<Bytes> &realImages(fmi2Type kind) {
  static std::vector<Bytes> images[2];
  std::vector<Bytes> &list = images[kind == fmi2CoSimulation ? 1 : 0];
  if (!list.empty()) return list;
  fmi2Component c =
      fmi2Instantiate("seed", kind, FMI_MODEL_GUID, nullptr, &kCallbacks, fmi2False, fmi2False);
  if (c == nullptr) std::abort();
  list.push_back(imageOf(c));
  bool ok = fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0) == fmi2OK &&
            fmi2EnterInitializationMode(c) == fmi2OK && fmi2ExitInitializationMode(c) == fmi2OK;
  list.push_back(imageOf(c));
  if (kind == fmi2CoSimulation) {
    ok = ok && fmi2DoStep(c, 0.0, 0.5, fmi2True) == fmi2OK;
  } else {
    fmi2EventInfo info{};
    const double x = 2.5;
    ok = ok && fmi2NewDiscreteStates(c, &info) == fmi2OK &&
         fmi2EnterContinuousTimeMode(c) == fmi2OK && fmi2SetTime(c, 0.5) == fmi2OK &&
         fmi2SetContinuousStates(c, &x, 1) == fmi2OK;
  }
  list.push_back(imageOf(c));
  ok = ok && fmi2Terminate(c) == fmi2OK;
  list.push_back(imageOf(c));
  fmi2FreeInstance(c);
  for (const Bytes &image : list) ok = ok && !image.empty();
  if (!ok) std::abort();
  return list;
}

} // namespace

#ifndef UNIT_FUZZ_SEEDS

namespace {

const fmi2ValueReference kReferences[] = {0x01000000, 0x01000001, 0x01000002, 0x05000000,
                                          0x14000000, 0x14000001, 0x02000000, 0x13000000,
                                          0x06000000, 0x16000001, 0xFFFFFFFF};

// The image an input describes.
Bytes describedImage(const uint8_t *data, size_t size) {
  const fmi2Type kind = (data[0] & 1) != 0 ? fmi2CoSimulation : fmi2ModelExchange;
  const Bytes &base = realImages(kind)[(data[0] >> 4) & 3];
  const int placement = data[0] >> 6;
  const uint8_t *bytes = data + 1;
  size_t count = size - 1;
  if (placement == 2) return Bytes(bytes, bytes + count);
  size_t at = 0;
  if (placement == 3) {
    if (count < 4) return base;
    uint32_t offset = 0;
    std::memcpy(&offset, bytes, 4);
    at = offset % base.size();
    bytes += 4;
    count -= 4;
  }
  Bytes image = base;
  if (count > image.size()) count = image.size();
  if (placement == 1) at = image.size() - count;
  if (at + count > image.size()) count = image.size() - at;
  std::memcpy(image.data() + at, bytes, count);
  return image;
}

// An initialized instance of the kind (Co-Simulation: stepped to 0.5), made
// once, and a state of it taken then, to which every input first returns it.
struct Prepared {
  fmi2Component c = nullptr;
  fmi2FMUstate start = nullptr;
  fmi2FMUstate existing = nullptr; // a record that images are deserialized into
};

Prepared &prepared(fmi2Type kind) {
  static Prepared instances[2];
  Prepared &p = instances[kind == fmi2CoSimulation ? 1 : 0];
  if (p.c != nullptr) return p;
  p.c = fmi2Instantiate("fuzz", kind, FMI_MODEL_GUID, nullptr, &kCallbacks, fmi2False, fmi2False);
  if (p.c == nullptr || fmi2SetupExperiment(p.c, fmi2False, 0.0, 0.0, fmi2False, 0.0) != fmi2OK ||
      fmi2EnterInitializationMode(p.c) != fmi2OK || fmi2ExitInitializationMode(p.c) != fmi2OK ||
      (kind == fmi2CoSimulation && fmi2DoStep(p.c, 0.0, 0.5, fmi2True) != fmi2OK) ||
      fmi2GetFMUstate(p.c, &p.start) != fmi2OK || fmi2GetFMUstate(p.c, &p.existing) != fmi2OK) {
    std::abort();
  }
  return p;
}

void readEverything(fmi2Component c) {
  constexpr size_t n = sizeof kReferences / sizeof kReferences[0];
  double reals[n];
  (void)fmi2GetReal(c, kReferences, n, reals);
  double x[2];
  (void)fmi2GetContinuousStates(c, x, 1);
  (void)fmi2GetDerivatives(c, x, 1);
  (void)fmi2GetEventIndicators(c, x, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const fmi2Type kind = (data[0] & 1) != 0 ? fmi2CoSimulation : fmi2ModelExchange;
  const int stepCode = (data[0] >> 1) & 7;
  const double step = 0.125 * stepCode;
  const bool intoExisting = stepCode % 2 == 1;
  const Bytes image = describedImage(data, size);
  const Prepared &p = prepared(kind);
  fmi2Component c = p.c;
  if (fmi2SetFMUstate(c, p.start) != fmi2OK) std::abort();

  fmi2FMUstate state = intoExisting ? p.existing : nullptr;
  const fmi2Byte none = 0;
  const fmi2Status loaded =
      fmi2DeSerializeFMUstate(c, image.empty() ? &none : image.data(), image.size(), &state);
  if (loaded != fmi2OK) {
    // Refused: no state made, an existing record kept.
    if (loaded != fmi2Error || state != (intoExisting ? p.existing : nullptr)) std::abort();
    return 0;
  }
  if (state == nullptr || (intoExisting && state != p.existing)) std::abort();
  if (fmi2SetFMUstate(c, state) == fmi2OK) {
    double time = 0.0;
    if (kind == fmi2CoSimulation) {
      for (int k = 0; k < 3; ++k) {
        (void)fmi2GetRealStatus(c, fmi2LastSuccessfulTime, &time);
        if (fmi2DoStep(c, time, step, fmi2True) != fmi2OK) break;
        readEverything(c);
      }
    } else {
      fmi2EventInfo info{};
      fmi2Boolean enterEventMode = fmi2False;
      fmi2Boolean terminate = fmi2False;
      (void)fmi2GetReal(c, &kReferences[10], 1, &time);
      readEverything(c);
      (void)fmi2NewDiscreteStates(c, &info);
      (void)fmi2EnterContinuousTimeMode(c);
      (void)fmi2SetTime(c, time + step);
      readEverything(c);
      (void)fmi2CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate);
      (void)fmi2EnterEventMode(c);
      (void)fmi2NewDiscreteStates(c, &info);
    }
  }
  // A state that was accepted serializes again.
  size_t length = 0;
  if (fmi2SerializedFMUstateSize(c, state, &length) != fmi2OK) std::abort();
  Bytes again(length);
  if (fmi2SerializeFMUstate(c, state, again.data(), again.size()) != fmi2OK) std::abort();
  if (!intoExisting) (void)fmi2FreeFMUstate(c, &state);
  return 0;
}

#else

namespace {

bool writeSeed(const std::string &path, uint8_t selector, const fmi2Byte *bytes, size_t count) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(&selector, 1, 1, f);
  std::fwrite(bytes, 1, count, f);
  return std::fclose(f) == 0;
}

} // namespace

// For each real image: its first 4096 bytes laid over its start, its last
// 4096 bytes laid over its end; and each image cut after 4096 bytes.
int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
    return 2;
  }
  constexpr size_t kSeedBytes = 4096;
  const std::string folder = argv[1];
  int written = 0;
  for (const fmi2Type kind : {fmi2ModelExchange, fmi2CoSimulation}) {
    const std::vector<Bytes> &images = realImages(kind);
    for (size_t k = 0; k < images.size(); ++k) {
      const Bytes &image = images[k];
      const uint8_t base =
          static_cast<uint8_t>((kind == fmi2CoSimulation ? 1 : 0) | (2 << 1) | (k << 4));
      const std::string name =
          folder + "/" + (kind == fmi2CoSimulation ? "cs" : "me") + "-" + std::to_string(k);
      if (!writeSeed(name + "-start", base, image.data(), kSeedBytes) ||
          !writeSeed(name + "-end", base | 0x40, image.data() + image.size() - kSeedBytes,
                     kSeedBytes) ||
          !writeSeed(name + "-cut", base | 0x80, image.data(), kSeedBytes)) {
        return 1;
      }
      written += 3;
    }
  }
  std::printf("%d seeds written\n", written);
  return 0;
}

#endif
