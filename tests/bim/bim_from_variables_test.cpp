// Dumping straight from the mapped variables (BIM_FROM_VARIABLES): the image
// is the one that bim_pack followed by bim_dump writes, in every mode, and the
// map's packed values are neither used nor changed.
#include "tests/bim/bim_support.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

using namespace bimtest;

using Image = std::vector<uint8_t>;

// Every kind of element: scalars of each width, a fixed array, Strings (one
// null, one empty), a structure repeated twice, a binary block and an A
// element with two packed elements.
struct Variables {
  int32_t i = -7;
  uint32_t u = 7;
  char c = 'q';
  double f[3] = {0.5, -1.25, 1e300};
  int64_t big = -(int64_t{1} << 40);
  uint16_t small = 65535;
  const char *s[3] = {"text", nullptr, ""};
  struct Pair {
    double d;
    int32_t k;
  } pairs[2] = {{1.5, 3}, {-2.5, 4}};
  unsigned char bytes[5] = {1, 2, 3, 4, 5};
  bim_binary block{bytes, sizeof bytes};
  int32_t element = 0;
  const char *elementText = nullptr;
};

constexpr const char kFormat[] = "iucf#Ivs#S(fi)#BA(is)";

struct Mapped {
  Variables v;
  bim_element *map = bim_map(kFormat, &v.i, &v.u, &v.c, v.f, 3, &v.big, &v.small, v.s, 3, v.pairs,
                             2, &v.block, &v.element, &v.elementText);
  Mapped() {
    for (int32_t k : {11, 12}) {
      v.element = k;
      v.elementText = k == 11 ? "first" : nullptr;
      EXPECT_EQ(bim_pack(map, 1), 0);
    }
  }
  ~Mapped() { bim_destroy(map); }
  Mapped(const Mapped &) = delete;
  Mapped &operator=(const Mapped &) = delete;
};

Image dumpToMemory(bim_element *map, int extra) {
  void *buffer = nullptr;
  size_t length = 0;
  EXPECT_EQ(bim_dump(map, BIM_TO_MEMORY | extra, &buffer, &length), 0);
  Image image(static_cast<uint8_t *>(buffer), static_cast<uint8_t *>(buffer) + length);
  bim_active_hooks.free(buffer);
  return image;
}

// The image that bim_pack followed by bim_dump writes, from a map of its own.
Image packedImage(void (*change)(Variables &)) {
  Mapped m;
  change(m.v);
  EXPECT_EQ(bim_pack(m.map, 0), 0);
  return dumpToMemory(m.map, 0);
}

class BimFromVariables : public BimTest {};

TEST_F(BimFromVariables, EveryModeWritesThePackedImage) {
  const struct {
    const char *what;
    void (*change)(Variables &);
  } cases[] = {
      {"as mapped", [](Variables &) {}},
      {"no binary block",
       [](Variables &v) {
         v.block = bim_binary{nullptr, 0};
       }},
      {"block size without an address",
       [](Variables &v) {
         v.block = bim_binary{nullptr, 4};
       }},
      {"block address with size 0", [](Variables &v) { v.block.size = 0; }},
      {"all Strings null", [](Variables &v) { v.s[0] = v.s[1] = v.s[2] = nullptr; }},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.what);
    const Image expected = packedImage(k.change);
    ASSERT_FALSE(expected.empty());

    Mapped m;
    k.change(m.v);
    size_t length = 0;
    ASSERT_EQ(bim_dump(m.map, BIM_SIZE_ONLY | BIM_FROM_VARIABLES, &length), 0);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(dumpToMemory(m.map, BIM_FROM_VARIABLES), expected);

    Image buffer(expected.size() + 4, 0xEE);
    ASSERT_EQ(bim_dump(m.map, BIM_TO_MEMORY | BIM_CALLER_BUFFER | BIM_FROM_VARIABLES,
                       static_cast<void *>(buffer.data()), buffer.size()),
              0);
    EXPECT_EQ(Image(buffer.begin(), buffer.begin() + expected.size()), expected);
    EXPECT_EQ(buffer.back(), 0xEE);
    EXPECT_NE(bim_dump(m.map, BIM_TO_MEMORY | BIM_CALLER_BUFFER | BIM_FROM_VARIABLES,
                       static_cast<void *>(buffer.data()), expected.size() - 1),
              0);
    EXPECT_TRUE(reported("bim_dump: buffer too small, need " + std::to_string(expected.size()) +
                         " bytes\n"))
        << allReports();

    const std::string file =
        ::testing::TempDir() + "bim_from_variables_" + std::to_string(getpid()) + ".bim";
    ASSERT_EQ(bim_dump(m.map, BIM_TO_FILE | BIM_FROM_VARIABLES, file.c_str()), 0);
    Mapped loaded;
    ASSERT_EQ(bim_load(loaded.map, BIM_TO_FILE, file.c_str()), 0) << allReports();
    std::remove(file.c_str());
    EXPECT_EQ(bim_unpack(loaded.map, 0), 1);
    EXPECT_EQ(loaded.v.pairs[1].k, 4);
    EXPECT_EQ(loaded.v.f[2], 1e300);
    std::free(const_cast<char *>(loaded.v.s[0]));
    std::free(const_cast<char *>(loaded.v.s[1]));
    std::free(const_cast<char *>(loaded.v.s[2]));
    std::free(loaded.v.block.address);
  }
}

TEST_F(BimFromVariables, PackedValuesAreNeitherUsedNorChanged) {
  Mapped m;
  ASSERT_EQ(bim_pack(m.map, 0), 0);
  const Image packed = dumpToMemory(m.map, 0);
  m.v.i = 99;
  m.v.f[1] = 3.0;
  m.v.s[0] = "other";
  m.v.bytes[0] = 9;
  const Image now = dumpToMemory(m.map, BIM_FROM_VARIABLES);
  EXPECT_NE(now, packed);
  EXPECT_EQ(now, packedImage([](Variables &v) {
              v.i = 99;
              v.f[1] = 3.0;
              v.s[0] = "other";
              v.bytes[0] = 9;
            }));
  EXPECT_EQ(dumpToMemory(m.map, 0), packed);
}

TEST_F(BimFromVariables, ALoadedMapIsRefusedAsByEveryDump) {
  const Image image = packedImage([](Variables &) {});
  Mapped m;
  ASSERT_EQ(bim_load(m.map, BIM_TO_MEMORY, image.data(), image.size()), 0);
  size_t length = 0;
  EXPECT_EQ(bim_dump(m.map, BIM_SIZE_ONLY | BIM_FROM_VARIABLES, &length), -1);
  EXPECT_TRUE(reported("error: bim_dump called for a loaded bim\n")) << allReports();
}

} // namespace
