// The image check and hostile images: every result code from a crafted image,
// the loaders' reports, and images cut or corrupted anywhere refused without
// a crash.
#include "tests/bim/bim_support.h"

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using namespace bimtest;

using Image = std::vector<uint8_t>;

// The map "is#A(cs)B" with two strings, one array element and a block.
struct Target {
  int32_t i = 0;
  char *s[2] = {};
  char c = 0;
  char *as = nullptr;
  bim_binary b{};
  bim_element *map = bim_map("is#A(cs)B", &i, s, 2, &c, &as, &b);
  ~Target() {
    bim_destroy(map);
    std::free(s[0]);
    std::free(s[1]);
    std::free(as);
    std::free(b.address);
  }
};

// Offsets in the valid image: counts at 18, data from 22.
constexpr size_t kCount = 18, kString0 = 26, kArray = 36, kArrayString = 41, kBinary = 46;

Image validImage() {
  return ImageBuilder(2)
      .format("is#A(cs)B")
      .u32(2)
      .u32(7)
      .u32(3)
      .chars("ab")
      .u32(0)
      .u32(1)
      .byte('x')
      .u32(2)
      .chars("y")
      .u32(2)
      .raw("zz", 2)
      .done();
}

void put32(Image &image, size_t at, uint32_t v) { std::memcpy(image.data() + at, &v, 4); }

class BimCheck : public BimTest {};

TEST_F(BimCheck, ACraftedImageGivesEachResultCodeAndTheLoadersReportIt) {
  ASSERT_EQ(validImage().size(), 52u);
  const struct {
    const char *name;
    std::function<void(Image &)> craft;
    int allowExcess;
    int code;
  } cases[] = {
      {"valid", [](Image &) {}, 0, 0},
      {"shorter than 9 bytes", [](Image &m) { m.resize(8); }, 0, -1},
      {"no magic", [](Image &m) { m[1] = 'a'; }, 0, -2},
      {"length field differs", [](Image &m) { put32(m, 4, 53); }, 0, -3},
      {"longer than its length field", [](Image &m) { m.push_back(0); }, 0, -3},
      {"longer than its length field, excess allowed", [](Image &m) { m.push_back(0); }, 1, 0},
      {"character outside the alphabet", [](Image &m) { m[10] = 'x'; }, 0, -4},
      {"format without its NUL",
       [](Image &m) {
         m.resize(17);
         put32(m, 4, 17);
       },
       0, -5},
      {"other format", [](Image &m) { m[8] = 'u'; }, 0, -6},
      {"array lengths mismatch", [](Image &m) { put32(m, kCount, 3); }, 0, -7},
      {"huge fixed count", [](Image &m) { put32(m, kCount, 0xFFFFFFFF); }, 0, -7},
      {"negative fixed count", [](Image &m) { put32(m, kCount, 0x80000000); }, 0, -7},
      {"huge string length", [](Image &m) { put32(m, kString0, 0xFFFFFFFF); }, 0, -8},
      {"negative string length", [](Image &m) { put32(m, kString0, 0x80000000); }, 0, -8},
      {"string one past the end", [](Image &m) { put32(m, kString0, 28); }, 0, -8},
      {"huge array count", [](Image &m) { put32(m, kArray, 0xFFFFFFFF); }, 0, -8},
      {"negative array count", [](Image &m) { put32(m, kArray, 0x80000000); }, 0, -8},
      {"one element more than the data", [](Image &m) { put32(m, kArray, 2); }, 0, -8},
      {"huge string length in an element", [](Image &m) { put32(m, kArrayString, 0xFFFFFFFE); }, 0,
       -8},
      {"huge binary size", [](Image &m) { put32(m, kBinary, 0xFFFFFFFF); }, 0, -8},
      {"binary one past the end", [](Image &m) { put32(m, kBinary, 3); }, 0, -8},
      {"data ends early",
       [](Image &m) {
         m.resize(48);
         put32(m, 4, 48);
       },
       0, -8},
      {"bytes after the data",
       [](Image &m) {
         m.push_back(0);
         put32(m, 4, 53);
       },
       0, -9},
      {"counts reach beyond the image",
       [](Image &m) {
         m.resize(20);
         put32(m, 4, 20);
       },
       0, -10},
      {"unknown flag bit", [](Image &m) { m[3] = 6; }, 0, -11},
      {"big-endian flag on a little-endian image", [](Image &m) { m[3] = 3; }, 1, -7},
  };
  const std::string file = ::testing::TempDir() + "bim_check_" + std::to_string(::getpid());
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    Image image = validImage();
    tc.craft(image);
    Target t;
    ASSERT_NE(t.map, nullptr);
    recordImage(t.map, image);
    EXPECT_EQ(bim_check_image(t.map, tc.allowExcess), tc.code);
    clearImage(t.map);

    int mode = BIM_TO_MEMORY | (tc.allowExcess ? BIM_ALLOW_EXCESS : 0);
    reports().clear();
    EXPECT_EQ(bim_load(t.map, mode, image.data(), image.size()), tc.code ? -1 : 0);
    const char *memoryText = tc.code == 0    ? ""
                             : tc.code == -6 ? "[format signature mismatch\n]"
                                             : "[not a valid bim file\n]";
    EXPECT_EQ(allReports(), memoryText);
    if (tc.code) {
      EXPECT_EQ(bim_unpack(t.map, 0), -1); // the map stays empty
    }

    FILE *f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
    reports().clear();
    mode = BIM_TO_FILE | (tc.allowExcess ? BIM_ALLOW_EXCESS : 0);
    EXPECT_EQ(bim_load(t.map, mode, file.c_str()), tc.code ? -1 : 0);
    std::string fileText = tc.code == 0    ? ""
                           : tc.code == -6 ? "[" + file + ": format signature mismatch\n]"
                           : tc.code == -7 ? "[" + file + ": array lengths mismatch\n]"
                                           : "[" + file + ": not a valid bim file\n]";
    EXPECT_EQ(allReports(), fileText);
    if (tc.code == 0) {
      EXPECT_EQ(bim_unpack(t.map, 0), 1);
      EXPECT_EQ(t.i, 7);
      EXPECT_STREQ(t.s[0], "ab");
      EXPECT_EQ(t.s[1], nullptr);
      EXPECT_EQ(bim_unpack(t.map, 1), 1);
      EXPECT_EQ(t.c, 'x');
      EXPECT_STREQ(t.as, "y");
    }
  }
  ::unlink(file.c_str());
}

// Counts of nested arrays are bounded like every other field.
TEST_F(BimCheck, NestedArrayCountsPastTheEndAreRefused) {
  for (uint32_t inner : {2u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(inner);
    reports().clear();
    Image image = ImageBuilder(0).format("A(A(i))").u32(1).u32(inner).u32(5).done();
    int32_t v = 0;
    bim_element *m = bim_map("A(A(i))", &v);
    recordImage(m, image);
    EXPECT_EQ(bim_check_image(m, 0), -8);
    clearImage(m);
    EXPECT_EQ(bim_load(m, BIM_TO_MEMORY, image.data(), image.size()), -1);
    EXPECT_EQ(allReports(), "[not a valid bim file\n]");
    bim_destroy(m);
  }
}

// Every prefix of a valid image (with its length field made to match) and
// every byte set to 0x00, 0x7F or 0xFF in turn: the load succeeds or fails,
// never reads outside the image, and what it unpacks can be freed.
TEST_F(BimCheck, ImagesCutOrCorruptedAnywhereAreHandledSafely) {
  const Image valid = validImage();
  std::vector<Image> images;
  for (size_t n = 0; n < valid.size(); ++n) {
    Image cut(valid.begin(), valid.begin() + long(n));
    if (n >= 8) put32(cut, 4, uint32_t(n));
    images.push_back(cut);
  }
  for (size_t at = 0; at < valid.size(); ++at)
    for (uint8_t v : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0xFF}}) {
      Image bad = valid;
      bad[at] = v;
      images.push_back(bad);
    }
  int loaded = 0;
  for (const Image &image : images) {
    // An exact-size heap copy, so that ASan sees any read past the end.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[std::max<size_t>(image.size(), 1)]);
    if (!image.empty()) std::memcpy(copy.get(), image.data(), image.size());
    Target t;
    for (int mode : {BIM_TO_MEMORY, BIM_TO_MEMORY | BIM_ALLOW_EXCESS}) {
      if (bim_load(t.map, mode, copy.get(), image.size()) != 0) continue;
      ++loaded;
      EXPECT_EQ(bim_unpack(t.map, 0), 1);
      while (bim_unpack(t.map, 1) > 0) {
        std::free(t.as);
        t.as = nullptr;
      }
      for (char *&s : t.s) {
        std::free(s);
        s = nullptr;
      }
      std::free(t.b.address);
      t.b = bim_binary{};
    }
  }
  EXPECT_GT(loaded, 0); // the corruptions of plain data bytes still load
}

} // namespace
