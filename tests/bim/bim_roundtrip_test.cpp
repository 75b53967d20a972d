// Round trips of every element type through every transport: memory, a
// caller's buffer, a file and a pipe give back identical data.
#include "tests/bim/bim_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <optional>

namespace {

using namespace bimtest;

struct Row {
  char c;
  int32_t i;
  char *s;
  double f;
};

// The variables of one map: scalars of every type, a string array, a binary
// block, an array whose elements hold a nested array, a repeated structure and
// a 2-by-3 matrix.
struct Sample {
  int32_t i;
  uint32_t u;
  char c;
  char *s[2];
  double f;
  int64_t I;
  uint64_t U;
  int16_t j;
  uint16_t v;
  bim_binary b;
  int32_t ai; // outer array element
  char *as;
  bim_binary ab;
  double af; // nested array element
  uint16_t av[2];
  Row rows[3];
  double mat[6];
};

constexpr const char *kFormat = "iucs#fIUjvBA(isBA(fv#))S(cisf)#f##";

bim_element *mapSample(Sample &x) {
  return bim_map(kFormat, &x.i, &x.u, &x.c, x.s, 2, &x.f, &x.I, &x.U, &x.j, &x.v, &x.b, &x.ai,
                 &x.as, &x.ab, &x.af, x.av, 2, x.rows, 3, x.mat, 2, 3);
}

struct Inner {
  double af;
  uint16_t av0, av1;
  bool operator==(const Inner &o) const {
    return std::memcmp(&af, &o.af, sizeof af) == 0 && av0 == o.av0 && av1 == o.av1;
  }
};
struct Outer {
  int32_t ai;
  std::optional<std::string> as;
  std::string ab;
  std::vector<Inner> inner;
  bool operator==(const Outer &) const = default;
};

// What the test expects back, as plain values.
struct Values {
  int32_t i = -7;
  uint32_t u = 0xFFFFFFF0u;
  char c = 'q';
  std::optional<std::string> s0 = "hello", s1 = std::nullopt;
  double f = -0.0;
  int64_t I = std::numeric_limits<int64_t>::min();
  uint64_t U = 0x0123456789ABCDEFull;
  int16_t j = -32768;
  uint16_t v = 65535;
  std::string b = std::string("bin\0ary", 7);
  std::vector<Outer> outer = {{1, "one", "x", {{1.5, 1, 2}, {2.5, 3, 4}}},
                              {2, std::nullopt, "", {}},
                              {3, "", std::string(300, 'z'), {{std::nan(""), 0, 65535}}}};
  Row rows[3] = {{'a', 10, nullptr, 0.25}, {'b', 20, nullptr, 1e300}, {'c', 30, nullptr, -1}};
  std::optional<std::string> rowStrings[3] = {"r0", std::nullopt, ""};
  double mat[6] = {1, 2, 3, 4, 5, 6};
};

char *cstr(const std::optional<std::string> &s) {
  return s ? const_cast<char *>(s->c_str()) : nullptr;
}

// Packs the values into a new map (its variables live in x).
bim_element *packSample(Sample &x, const Values &w) {
  x = Sample{};
  bim_element *m = mapSample(x);
  EXPECT_NE(m, nullptr);
  for (const Outer &o : w.outer) {
    for (const Inner &n : o.inner) {
      x.af = n.af;
      x.av[0] = n.av0;
      x.av[1] = n.av1;
      EXPECT_EQ(bim_pack(m, 2), 0);
    }
    x.ai = o.ai;
    x.as = cstr(o.as);
    x.ab = bim_binary{const_cast<char *>(o.ab.data()), static_cast<uint32_t>(o.ab.size())};
    EXPECT_EQ(bim_pack(m, 1), 0);
  }
  x.i = w.i;
  x.u = w.u;
  x.c = w.c;
  x.s[0] = cstr(w.s0);
  x.s[1] = cstr(w.s1);
  x.f = w.f;
  x.I = w.I;
  x.U = w.U;
  x.j = w.j;
  x.v = w.v;
  x.b = bim_binary{const_cast<char *>(w.b.data()), static_cast<uint32_t>(w.b.size())};
  for (int k = 0; k < 3; ++k) {
    x.rows[k] = w.rows[k];
    x.rows[k].s = cstr(w.rowStrings[k]);
  }
  std::memcpy(x.mat, w.mat, sizeof x.mat);
  EXPECT_EQ(bim_pack(m, 0), 0);
  return m;
}

std::optional<std::string> take(char *&s) {
  std::optional<std::string> r;
  if (s) r = std::string(s);
  std::free(s);
  s = nullptr;
  return r;
}
std::string take(bim_binary &b) {
  std::string r = b.size ? std::string(static_cast<char *>(b.address), b.size) : std::string();
  if (b.size == 0) {
    EXPECT_EQ(b.address, nullptr);
  }
  std::free(b.address);
  b = bim_binary{};
  return r;
}

// Unpacks a loaded map whose variables are y into plain values.
Values unpackSample(bim_element *m, Sample &y) {
  Values got;
  EXPECT_EQ(bim_unpack(m, 0), 1);
  got.i = y.i;
  got.u = y.u;
  got.c = y.c;
  got.s0 = take(y.s[0]);
  got.s1 = take(y.s[1]);
  got.f = y.f;
  got.I = y.I;
  got.U = y.U;
  got.j = y.j;
  got.v = y.v;
  got.b = take(y.b);
  for (int k = 0; k < 3; ++k) {
    got.rowStrings[k] = take(y.rows[k].s);
    got.rows[k] = y.rows[k];
  }
  std::memcpy(got.mat, y.mat, sizeof got.mat);
  got.outer.clear();
  int expectLeft = -1;
  for (int left; (left = bim_unpack(m, 1)) > 0;) {
    if (expectLeft >= 0) {
      EXPECT_EQ(left, expectLeft);
    }
    expectLeft = left - 1;
    Outer o{y.ai, take(y.as), take(y.ab), {}};
    for (int inner; (inner = bim_unpack(m, 2)) > 0;) o.inner.push_back({y.af, y.av[0], y.av[1]});
    got.outer.push_back(o);
  }
  EXPECT_EQ(bim_unpack(m, 1), 0);
  return got;
}

void expectSame(const Values &a, const Values &b) {
  EXPECT_EQ(a.i, b.i);
  EXPECT_EQ(a.u, b.u);
  EXPECT_EQ(a.c, b.c);
  EXPECT_EQ(a.s0, b.s0);
  EXPECT_EQ(a.s1, b.s1);
  EXPECT_EQ(std::memcmp(&a.f, &b.f, sizeof a.f), 0);
  EXPECT_EQ(a.I, b.I);
  EXPECT_EQ(a.U, b.U);
  EXPECT_EQ(a.j, b.j);
  EXPECT_EQ(a.v, b.v);
  EXPECT_EQ(a.b, b.b);
  EXPECT_EQ(a.outer, b.outer);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(a.rows[k].c, b.rows[k].c);
    EXPECT_EQ(a.rows[k].i, b.rows[k].i);
    EXPECT_EQ(a.rows[k].f, b.rows[k].f);
    EXPECT_EQ(a.rowStrings[k], b.rowStrings[k]);
  }
  EXPECT_EQ(std::memcmp(a.mat, b.mat, sizeof a.mat), 0);
}

std::string tempPath(const char *name) {
  return ::testing::TempDir() + "bim_" + std::to_string(::getpid()) + "_" + name;
}

class BimRoundTrip : public BimTest {};

TEST_F(BimRoundTrip, EveryTransportGivesBackIdenticalData) {
  enum Transport { Memory, CallerBuffer, File, Pipe, PackedMapItself };
  const struct {
    Transport transport;
    const char *name;
  } cases[] = {{Memory, "memory"},
               {CallerBuffer, "caller buffer"},
               {File, "file"},
               {Pipe, "pipe"},
               {PackedMapItself, "unpack of a packed map"}};
  const Values want;
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    Sample x{}, y{};
    bim_element *packed = packSample(x, want);
    ASSERT_NE(packed, nullptr);
    size_t size = 0;
    ASSERT_EQ(bim_dump(packed, BIM_SIZE_ONLY, &size), 0);
    bim_element *loaded = mapSample(y);
    ASSERT_NE(loaded, nullptr);
    void *buffer = nullptr;
    std::vector<uint8_t> caller;
    std::string path = tempPath("roundtrip.bim");
    switch (tc.transport) {
    case Memory: {
      size_t length = 0;
      ASSERT_EQ(bim_dump(packed, BIM_TO_MEMORY, &buffer, &length), 0);
      EXPECT_EQ(length, size);
      ASSERT_EQ(bim_load(loaded, BIM_TO_MEMORY, buffer, length), 0);
      break;
    }
    case CallerBuffer:
      caller.assign(size + 8, 0xAA);
      ASSERT_EQ(bim_dump(packed, BIM_TO_MEMORY | BIM_CALLER_BUFFER, caller.data(), size), 0);
      EXPECT_EQ(std::vector<uint8_t>(caller.end() - 8, caller.end()),
                std::vector<uint8_t>(8, 0xAA));
      ASSERT_EQ(bim_load(loaded, BIM_TO_MEMORY, caller.data(), size), 0);
      break;
    case File: {
      ASSERT_EQ(bim_dump(packed, BIM_TO_FILE, path.c_str()), 0);
      struct stat st;
      ASSERT_EQ(::stat(path.c_str(), &st), 0);
      EXPECT_EQ(size_t(st.st_size), size);
      ASSERT_EQ(bim_load(loaded, BIM_TO_FILE, path.c_str()), 0);
      break;
    }
    case Pipe: {
      int fds[2];
      ASSERT_EQ(::pipe(fds), 0);
      ASSERT_EQ(bim_dump(packed, BIM_TO_FD, fds[1]), 0);
      ::close(fds[1]);
      ASSERT_EQ(bim_load(loaded, BIM_TO_FD, fds[0]), 0);
      ::close(fds[0]);
      break;
    }
    case PackedMapItself:
      bim_destroy(loaded);
      loaded = packed;
      packed = nullptr;
      break;
    }
    Values got = unpackSample(loaded, tc.transport == PackedMapItself ? x : y);
    expectSame(got, want);
    EXPECT_EQ(allReports(), "");
    bim_destroy(loaded);
    bim_destroy(packed);
    std::free(buffer);
    ::unlink(path.c_str());
  }
}

TEST_F(BimRoundTrip, SizeOnlyIsExactlyWhatIsWrittenAndABufferOneShortIsRefused) {
  Sample x{};
  bim_element *m = packSample(x, Values{});
  size_t size = 0;
  ASSERT_EQ(bim_dump(m, BIM_SIZE_ONLY, &size), 0);
  EXPECT_EQ(bim_ser_osz(m), int64_t(size));
  std::vector<uint8_t> exact(size), shorter(size - 1);
  EXPECT_EQ(bim_dump(m, BIM_TO_MEMORY | BIM_CALLER_BUFFER, exact.data(), exact.size()), 0);
  EXPECT_EQ(bim_dump(m, BIM_TO_MEMORY | BIM_CALLER_BUFFER, shorter.data(), shorter.size()), -1);
  EXPECT_EQ(allReports(),
            "[bim_dump: buffer too small, need " + std::to_string(size) + " bytes\n]");
  // The length field holds the size.
  uint32_t field;
  std::memcpy(&field, exact.data() + 4, 4);
  EXPECT_EQ(field, size);
  bim_destroy(m);
}

// The structures of S(...) follow the C layout: fields aligned to their type,
// the stride rounded up to the largest one; the image holds them unpadded.
TEST_F(BimRoundTrip, StructuresFollowTheCLayoutAndAreWrittenWithoutPadding) {
  struct CI {
    char c;
    int32_t i;
  } ci{'x', 0x01020304};
  struct CF {
    char c;
    double f;
  } cf{'y', 2.0};
  struct IC {
    int32_t i;
    char c;
  } ic[2] = {{5, 'a'}, {6, 'b'}};
  struct CS {
    char c;
    char *s;
  } cs{'z', const_cast<char *>("ok")};
  static_assert(sizeof(IC) == 8 && offsetof(CI, i) == 4 && offsetof(CF, f) == 8);
  bim_element *m = bim_map("S(ci)S(cf)S(ic)#S(cs)", &ci, &cf, ic, 2, &cs);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(bim_pack(m, 0), 0);
  void *image = nullptr;
  size_t length = 0;
  ASSERT_EQ(bim_dump(m, BIM_TO_MEMORY, &image, &length), 0);
  std::vector<uint8_t> want = ImageBuilder(2)
                                  .format("S(ci)S(cf)S(ic)#S(cs)")
                                  .u32(2)
                                  .byte('x')
                                  .u32(0x01020304)
                                  .byte('y')
                                  .f64(2.0)
                                  .u32(5)
                                  .byte('a')
                                  .u32(6)
                                  .byte('b')
                                  .byte('z')
                                  .u32(3)
                                  .chars("ok")
                                  .done();
  EXPECT_EQ(
      std::vector<uint8_t>(static_cast<uint8_t *>(image), static_cast<uint8_t *>(image) + length),
      want);
  std::free(image);
  bim_destroy(m);
}

// An image written big-endian (flag bit 0) or with string lengths that count
// no NUL (flag bit 1 clear) reads back the same values; the load keeps both
// marks for the unpacking.
TEST_F(BimRoundTrip, ImagesOfTheOtherByteOrderAndLengthStyleUnpackTheSameValues) {
  for (bool big : {false, true}) {
    for (bool withNul : {true, false}) {
      SCOPED_TRACE(std::string(big ? "big-endian" : "little-endian") +
                   (withNul ? ", lengths with NUL" : ", lengths without NUL"));
      ImageBuilder b(withNul ? 2 : 0, big);
      b.format("ij#sA(vI)fB").u32(2).u32(0x11223344).u16(0x5566).u16(0x7788);
      b.u32(withNul ? 4 : 3).chars("abc");
      b.u32(2).u16(1).u64(0x0102030405060708ull).u16(2).u64(9);
      b.f64(3.5).u32(2).raw("\x01\x02", 2);
      std::vector<uint8_t> image = b.done();
      int32_t i = 0;
      int16_t j[2] = {};
      char *s = nullptr;
      uint16_t av = 0;
      int64_t aI = 0;
      double f = 0;
      bim_binary bin{};
      bim_element *m = bim_map("ij#sA(vI)fB", &i, j, 2, &s, &av, &aI, &f, &bin);
      ASSERT_NE(m, nullptr);
      ASSERT_EQ(bim_load(m, BIM_TO_MEMORY, image.data(), image.size()), 0) << allReports();
      ASSERT_EQ(bim_unpack(m, 0), 1);
      EXPECT_EQ(uint32_t(i), 0x11223344u);
      EXPECT_EQ(uint16_t(j[0]), 0x5566);
      EXPECT_EQ(uint16_t(j[1]), 0x7788);
      ASSERT_NE(s, nullptr);
      EXPECT_STREQ(s, "abc");
      EXPECT_EQ(f, 3.5);
      ASSERT_EQ(bin.size, 2u);
      EXPECT_EQ(std::memcmp(bin.address, "\x01\x02", 2), 0);
      EXPECT_EQ(bim_unpack(m, 1), 2);
      EXPECT_EQ(av, 1);
      EXPECT_EQ(aI, 0x0102030405060708ll);
      EXPECT_EQ(bim_unpack(m, 1), 1);
      EXPECT_EQ(av, 2);
      EXPECT_EQ(aI, 9);
      EXPECT_EQ(bim_unpack(m, 1), 0);
      std::free(s);
      std::free(bin.address);
      bim_destroy(m);
    }
  }
}

TEST_F(BimRoundTrip, NullAndEmptyStringsDifferAndEmptyArraysTakeFourBytes) {
  char *s[2] = {nullptr, const_cast<char *>("")};
  int32_t a = 0;
  bim_element *m = bim_map("s#A(i)", s, 2, &a);
  ASSERT_EQ(bim_pack(m, 0), 0);
  std::vector<uint8_t> image(size_t(bim_ser_osz(m)));
  ASSERT_EQ(bim_dump(m, BIM_TO_MEMORY | BIM_CALLER_BUFFER, image.data(), image.size()), 0);
  EXPECT_EQ(image, ImageBuilder(2).format("s#A(i)").u32(2).u32(0).u32(1).u32(0).done());
  s[0] = const_cast<char *>("stale");
  s[1] = nullptr;
  ASSERT_EQ(bim_unpack(m, 0), 1); // through an internal dump and load
  EXPECT_EQ(s[0], nullptr);
  ASSERT_NE(s[1], nullptr);
  EXPECT_STREQ(s[1], "");
  std::free(s[1]);
  EXPECT_EQ(bim_unpack(m, 1), 0);
  bim_destroy(m);
}

TEST_F(BimRoundTrip, RepackingReplacesTheCopiesAndPackingALoadedMapEmptiesIt) {
  char text[8] = "first";
  char *s = text;
  bim_element *m = bim_map("s", &s);
  ASSERT_EQ(bim_pack(m, 0), 0);
  std::strcpy(text, "second");
  ASSERT_EQ(bim_pack(m, 0), 0); // the copy of "first" is freed (ASan checks)
  std::vector<uint8_t> image(size_t(bim_ser_osz(m)));
  ASSERT_EQ(bim_dump(m, BIM_TO_MEMORY | BIM_CALLER_BUFFER, image.data(), image.size()), 0);
  EXPECT_EQ(image, ImageBuilder(2).format("s").u32(7).chars("second").done());
  ASSERT_EQ(bim_load(m, BIM_TO_MEMORY, image.data(), image.size()), 0);
  size_t size = 0;
  EXPECT_EQ(bim_dump(m, BIM_SIZE_ONLY, &size), -1);
  EXPECT_EQ(allReports(), "[error: bim_dump called for a loaded bim\n]");
  ASSERT_EQ(bim_pack(m, 0), 0);
  EXPECT_EQ(bim_dump(m, BIM_SIZE_ONLY, &size), 0);
  EXPECT_EQ(size, image.size());
  bim_destroy(m);
}

// The one format of the FMU states: scalars, eleven counted arrays (one of
// strings ending in a null), two work arrays as structures, the model data as
// a block and the delay buffers; serialized into a caller's buffer.
TEST_F(BimRoundTrip, TheFmuStateFormatSurvivesSerializationIntoAHostBuffer) {
  static constexpr const char *kStateFormat =
      "ifif#f#f#f#f#f#f#f#f#f#s#fiiiiiiiiiiiUfiS(ffffff)S(iiiiiiiiiiiii)Bf#";
  struct State {
    int32_t toleranceDefined, loggingOn, ints[11], useState;
    double tolerance, time, nextOutputTime;
    uint64_t steps;
    std::vector<double> arrays[10];
    char *strings[3];
    double duser[6];
    int32_t iuser[14];
    bim_binary runtime;
    std::vector<double> delays;
  };
  const int counts[10] = {2, 2, 4, 2, 3, 1, 5, 2, 1, 1};
  auto mapState = [&](State &r) {
    for (int k = 0; k < 10; ++k) r.arrays[k].resize(size_t(counts[k]));
    r.delays.resize(40);
    auto a = [&](int k) { return r.arrays[k].data(); };
    return bim_map(kStateFormat, &r.toleranceDefined, &r.tolerance, &r.loggingOn, a(0), counts[0],
                   a(1), counts[1], a(2), counts[2], a(3), counts[3], a(4), counts[4], a(5),
                   counts[5], a(6), counts[6], a(7), counts[7], a(8), counts[8], a(9), counts[9],
                   r.strings, 3, &r.time, &r.ints[0], &r.ints[1], &r.ints[2], &r.ints[3],
                   &r.ints[4], &r.ints[5], &r.ints[6], &r.ints[7], &r.ints[8], &r.ints[9],
                   &r.ints[10], &r.steps, &r.nextOutputTime, &r.useState, r.duser, r.iuser,
                   &r.runtime, r.delays.data(), 40);
  };
  State a{}, b{};
  bim_element *out = mapState(a);
  ASSERT_NE(out, nullptr);
  a.toleranceDefined = 1;
  a.tolerance = 1e-5;
  a.loggingOn = 1;
  for (int k = 0; k < 10; ++k)
    for (size_t n = 0; n < a.arrays[k].size(); ++n) a.arrays[k][n] = k * 10.0 + double(n);
  char s0[] = "first", s1[] = "";
  a.strings[0] = s0;
  a.strings[1] = s1;
  for (int k = 0; k < 11; ++k) a.ints[k] = k - 5;
  a.time = 2.5;
  a.steps = 1234567890123ull;
  a.nextOutputTime = 3;
  a.useState = 1;
  for (int k = 0; k < 6; ++k) a.duser[k] = 0.5 * k;
  for (int k = 0; k < 14; ++k) a.iuser[k] = 100 + k;
  unsigned char model[100];
  for (int k = 0; k < 100; ++k) model[k] = static_cast<unsigned char>(k * 7);
  a.runtime = bim_binary{model, sizeof model};
  for (size_t n = 0; n < a.delays.size(); ++n) a.delays[n] = -double(n);
  ASSERT_EQ(bim_pack(out, 0), 0);
  size_t size = 0;
  ASSERT_EQ(bim_dump(out, BIM_SIZE_ONLY, &size), 0);
  std::vector<char> host(size + 3, 'h');
  ASSERT_EQ(bim_dump(out, BIM_TO_MEMORY | BIM_CALLER_BUFFER, host.data(), host.size()), 0);
  bim_destroy(out);

  bim_element *in = mapState(b);
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(bim_load(in, BIM_TO_MEMORY, host.data(), size), 0) << allReports();
  ASSERT_EQ(bim_unpack(in, 0), 1);
  bim_destroy(in);
  EXPECT_EQ(b.toleranceDefined, 1);
  EXPECT_EQ(b.tolerance, 1e-5);
  EXPECT_EQ(b.loggingOn, 1);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(b.arrays[k], a.arrays[k]) << k;
  EXPECT_STREQ(b.strings[0], "first");
  EXPECT_STREQ(b.strings[1], "");
  EXPECT_EQ(b.strings[2], nullptr);
  EXPECT_EQ(std::memcmp(b.ints, a.ints, sizeof a.ints), 0);
  EXPECT_EQ(b.time, 2.5);
  EXPECT_EQ(b.steps, a.steps);
  EXPECT_EQ(b.nextOutputTime, 3);
  EXPECT_EQ(b.useState, 1);
  EXPECT_EQ(std::memcmp(b.duser, a.duser, sizeof a.duser), 0);
  EXPECT_EQ(std::memcmp(b.iuser, a.iuser, 13 * sizeof(int32_t)), 0);
  EXPECT_EQ(b.iuser[13], 0); // only 13 of the 14 are in the image
  ASSERT_EQ(b.runtime.size, sizeof model);
  EXPECT_EQ(std::memcmp(b.runtime.address, model, sizeof model), 0);
  EXPECT_EQ(b.delays, a.delays);
  for (char *s : b.strings) std::free(s);
  std::free(b.runtime.address);
}

} // namespace
