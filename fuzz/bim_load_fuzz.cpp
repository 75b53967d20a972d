// libFuzzer target: any bytes as an image, loaded from memory into one of a
// few maps and unpacked completely, then cut into images by the memory
// gather.  Built with -DUNIT_FUZZ_SEEDS it is instead a program that writes a
// seed corpus of valid images (argument: the corpus folder).
//
// Input: byte 0 selects the map (low bits) and BIM_ALLOW_EXCESS (bit 7); the
// rest is the image.
#include "bim/bim.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Row {
  char c;
  int32_t i;
  char *s;
  double f;
};

// The variables of every map.
struct Vars {
  int32_t i;
  uint32_t u;
  char c;
  char *s[3];
  double f;
  int64_t I;
  uint64_t U;
  int16_t j;
  uint16_t v[2];
  bim_binary b;
  int32_t ai;
  char *as;
  bim_binary ab;
  double af;
  Row rows[3];
  double mat[6];
};

constexpr int kMaps = 4;
const char *const kFormats[kMaps] = {"iucs#fIUjvB", "A(isBA(fv#))", "S(cisf)#f##", "sA(s)"};

bim_element *mapVars(int k, Vars &x) {
  switch (k) {
  case 0:
    return bim_map(kFormats[0], &x.i, &x.u, &x.c, x.s, 3, &x.f, &x.I, &x.U, &x.j, x.v, &x.b);
  case 1:
    return bim_map(kFormats[1], &x.ai, &x.as, &x.ab, &x.af, x.v, 2);
  case 2:
    return bim_map(kFormats[2], x.rows, 3, x.mat, 2, 3);
  default:
    return bim_map(kFormats[3], &x.s[0], &x.as);
  }
}

} // namespace

#ifndef UNIT_FUZZ_SEEDS

namespace {

// Frees what unpacking handed out.
void release(Vars &x) {
  for (char *&s : x.s) {
    std::free(s);
    s = nullptr;
  }
  for (Row &r : x.rows) {
    std::free(r.s);
    r.s = nullptr;
  }
  std::free(x.as);
  x.as = nullptr;
  std::free(x.b.address);
  std::free(x.ab.address);
  x.b = x.ab = bim_binary{};
}

int quiet(const char *, ...) { return 0; }

int ignoreImage(void *, size_t, void *) { return 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  bim_active_hooks.report = quiet;
  int k = data[0] % kMaps;
  int mode = BIM_TO_MEMORY | ((data[0] & 0x80) ? BIM_ALLOW_EXCESS : 0);
  Vars x{};
  bim_element *m = mapVars(k, x);
  if (!m) std::abort();
  if (bim_load(m, mode, data + 1, size - 1) == 0) {
    if (bim_unpack(m, 0) != 1) std::abort(); // a checked image always unpacks
    release(x);
    if (k == 1 || k == 3) {
      while (bim_unpack(m, 1) > 0) {
        release(x);
        if (k == 1)
          while (bim_unpack(m, 2) > 0) release(x);
      }
    }
  }
  release(x);
  bim_destroy(m);

  bim_partial *partial = nullptr;
  size_t chunk = 1 + data[0] % 13;
  for (size_t at = 1; at < size; at += chunk) {
    size_t n = size - at < chunk ? size - at : chunk;
    if (bim_mem_gather(data + at, n, &partial, ignoreImage, nullptr) < 0) break;
  }
  if (partial) {
    std::free(partial->address);
    std::free(partial);
  }
  return 0;
}

#else

// Writes a few packed images of every map, each with its selector byte.
int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
    return 2;
  }
  int written = 0;
  for (int k = 0; k < kMaps; ++k) {
    for (int variant = 0; variant < 3; ++variant) {
      Vars x{};
      bim_element *m = mapVars(k, x);
      char text[] = "seed", empty[] = "";
      char bytes[] = {1, 2, 3, 4};
      x.i = variant;
      x.s[0] = text;
      x.s[1] = variant ? empty : nullptr;
      x.as = variant == 2 ? nullptr : text;
      x.b = x.ab = bim_binary{bytes, uint32_t(variant)};
      for (Row &r : x.rows) r = Row{'r', variant, variant ? text : empty, 0.5};
      for (int e = 0; e < variant + 1 && (k == 1 || k == 3); ++e) {
        for (int n = 0; k == 1 && n < variant; ++n)
          if (bim_pack(m, 2) != 0) return 1;
        if (bim_pack(m, 1) != 0) return 1;
      }
      if (bim_pack(m, 0) != 0) return 1;
      void *image = nullptr;
      size_t length = 0;
      if (bim_dump(m, BIM_TO_MEMORY, &image, &length) != 0) return 1;
      std::string path =
          std::string(argv[1]) + "/seed-" + std::to_string(k) + "-" + std::to_string(variant);
      FILE *f = std::fopen(path.c_str(), "wb");
      if (!f) return 1;
      unsigned char selector = static_cast<unsigned char>(k | (variant == 1 ? 0x80 : 0));
      std::fwrite(&selector, 1, 1, f);
      std::fwrite(image, 1, length, f);
      std::fclose(f);
      std::free(image);
      bim_destroy(m);
      ++written;
    }
  }
  std::printf("%d seed images written\n", written);
  return 0;
}

#endif
