// Format strings: what parses, what is refused and with which report, the '#'
// counts, and array elements handed out one at a time.
#include "tests/bim/bim_support.h"

namespace {

using namespace bimtest;

class BimFormat : public BimTest {};

// Formats without '#' counts: every letter takes at most one pointer, so a
// row of spare pointers serves them all.
TEST_F(BimFormat, FormatsParseOrAreRefusedByTheGrammar) {
  const struct {
    const char *format;
    bool parses;
    const char *firstReport; // before "failed to parse ..."
  } cases[] = {
      {"", true, nullptr},
      {"iucsfIUjv", true, nullptr},
      {"B", true, nullptr},
      {"A(i)", true, nullptr},
      {"A(iA(sB)f)", true, nullptr},
      {"S(ci)", true, nullptr},
      {"S(c$(if)s)", true, nullptr},
      {"A(S(ci)i)", true, nullptr},
      {"x", false, "unsupported option x\n"},
      {"i d", false, "unsupported option  \n"},
      {"A", false, nullptr},
      {"Ai", false, nullptr},
      {"AA(i)", false, nullptr},
      {"AS(i)", false, nullptr},
      {"S", false, nullptr},
      {"Si", false, nullptr},
      {"$(i)", false, nullptr},
      {"S(A(i))", false, nullptr},
      {"S(B)", false, nullptr},
      {"S(S(i))", false, nullptr},
      {"(i)", false, nullptr},
      {"i(", false, nullptr},
      {")", false, nullptr},
      {"i)", false, nullptr},
      {"A()", false, nullptr},
      {"S()", false, nullptr},
      {"S($())", false, nullptr},
      {"S(i", false, nullptr},
      {"A(i", false, nullptr},
      {"A(S(i)", false, nullptr},
      {"#", false, nullptr},
      {"B#", false, nullptr},
      {"A(i)#", false, nullptr},
      {"A(#i)", false, nullptr},
      {"S(#i)", false, nullptr},
  };
  char spare[64] = {};
  void *p = spare;
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.format);
    reports().clear();
    bim_element *m = bim_map(tc.format, p, p, p, p, p, p, p, p, p, p, p, p);
    if (tc.parses) {
      EXPECT_NE(m, nullptr);
      EXPECT_EQ(allReports(), "");
    } else {
      EXPECT_EQ(m, nullptr);
      std::string want = std::string("[failed to parse ") + tc.format + "\n]";
      if (tc.firstReport) want = "[" + std::string(tc.firstReport) + "]" + want;
      EXPECT_EQ(allReports(), want);
    }
    bim_destroy(m);
  }
}

// A bad count is a failed call, reported through the fatal hook, never the
// end of the process.
TEST_F(BimFormat, CountsBelowOneAndAnEleventhHashAreRefused) {
  int v[1] = {};
  EXPECT_EQ(bim_map("i#", v, 0), nullptr);
  EXPECT_EQ(allReports(), "[non-positive iteration count 0\n]");
  reports().clear();
  EXPECT_EQ(bim_map("S(i)#", v, -3), nullptr);
  EXPECT_EQ(allReports(), "[non-positive iteration count -3\n]");

  reports().clear();
  static int32_t big[1024];
  bim_element *ten = bim_map("i##########", big, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2);
  ASSERT_NE(ten, nullptr);
  EXPECT_EQ(bim_ser_osz(ten), int64_t(9 + 11 + 4 * 10 + 4 * 32));
  bim_destroy(ten);
  EXPECT_EQ(bim_map("i###########", big, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), nullptr);
  EXPECT_EQ(allReports(), "[contiguous # exceeds hardcoded limit\n]");
}

TEST_F(BimFormat, ConsecutiveCountsMultiplyAndAreCarriedInTheImage) {
  char *s[12] = {};
  for (int k = 0; k < 12; ++k) s[k] = const_cast<char *>(k % 2 ? "o" : "e");
  bim_element *m = bim_map("s##", s, 3, 4);
  ASSERT_EQ(bim_pack(m, 0), 0);
  std::vector<uint8_t> image(size_t(bim_ser_osz(m)));
  ASSERT_EQ(bim_dump(m, BIM_TO_MEMORY | BIM_CALLER_BUFFER, image.data(), image.size()), 0);
  ImageBuilder want(2);
  want.format("s##").u32(3).u32(4);
  for (int k = 0; k < 12; ++k) want.u32(2).chars(k % 2 ? "o" : "e");
  EXPECT_EQ(image, want.done());
  bim_destroy(m);
}

TEST_F(BimFormat, AnArrayHandsOutItsElementsOnceInOrder) {
  int32_t a = 0;
  bim_element *m = bim_map("A(i)", &a);
  for (int32_t k : {10, 20, 30}) {
    a = k;
    ASSERT_EQ(bim_pack(m, 1), 0);
  }
  ASSERT_EQ(bim_pack(m, 0), 0);
  ASSERT_EQ(bim_unpack(m, 0), 1);
  for (int32_t want : {3, 2, 1}) {
    EXPECT_EQ(bim_unpack(m, 1), want);
    EXPECT_EQ(a, 10 * (4 - want));
  }
  EXPECT_EQ(bim_unpack(m, 1), 0);
  // Index 0 again starts from the data start and hands the array out anew.
  ASSERT_EQ(bim_unpack(m, 0), 1);
  EXPECT_EQ(bim_unpack(m, 1), 3);
  bim_destroy(m);
}

TEST_F(BimFormat, BadIndicesAndHandlesAreRefused) {
  int32_t a = 0, b = 0;
  bim_element *m = bim_map("iA(iA(i))", &a, &b, &b);
  ASSERT_NE(m, nullptr);
  const struct {
    bim_element *handle;
    int index;
  } cases[] = {{m, 3}, {m, -1}, {m->children, 0}, {nullptr, 0}};
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.index);
    reports().clear();
    EXPECT_EQ(bim_pack(tc.handle, tc.index), -1);
    EXPECT_EQ(bim_unpack(tc.handle, tc.index), -1);
    std::string n = std::to_string(tc.index);
    EXPECT_EQ(allReports(),
              "[invalid index " + n + " to bim_pack\n][invalid index " + n + " to bim_unpack\n]");
  }
  reports().clear();
  EXPECT_EQ(bim_ser_osz(m->children), -1);
  size_t size = 0;
  EXPECT_EQ(bim_dump(m->children, BIM_SIZE_ONLY, &size), -1);
  EXPECT_EQ(allReports(), "[internal error: bim_ser_osz on non-root node\n]"
                          "[internal error: bim_ser_osz on non-root node\n]");
  reports().clear();
  EXPECT_EQ(bim_unpack(m, 0), -1); // nothing packed or loaded
  EXPECT_EQ(allReports(), "[error: bim_unpack called for a bim without image\n]");
  reports().clear();
  EXPECT_EQ(bim_load(m->children, BIM_TO_MEMORY, &a, sizeof a), -1);
  EXPECT_EQ(bim_load(m, 0x40), -1);
  EXPECT_EQ(bim_dump(m, 0x40), -1);
  EXPECT_EQ(allReports(), "[error: bim_load to non-root node\n][unsupported bim_load mode 64\n]"
                          "[unsupported bim_dump mode 64\n]");
  bim_destroy(m);
}

TEST_F(BimFormat, DefaultHooksWriteToStandardOutputAndFatalTextIsCutTo99Characters) {
  bim_active_hooks.report = bim_default_report;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(bim_pack(nullptr, 7), -1);
  bim_default_fatal("%s", std::string(150, 'x').c_str());
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "invalid index 7 to bim_pack\n" + std::string(99, 'x'));
}

// Every allocation of a map's life fails once in turn: the call reports
// "out of memory\n" and returns -1 or null, nothing leaks (ASan), and the
// map can still be destroyed.
TEST_F(BimFormat, AnAllocationFailureAnywhereIsAFailedCall) {
  static char text[] = "text", other[] = "other", bytes[] = {1, 2, 3};
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    failAllocationAt(n);
    reports().clear();
    int32_t i = 4, ai = 1;
    double af = 2;
    char *s = text, *as = other;
    bim_binary b{bytes, 3};
    struct Row {
      char c;
      char *t;
    } row[2] = {{'a', text}, {'b', nullptr}};
    bool ok = false;
    bim_element *m = bim_map("isBS(cs)#A(iA(f)s)", &i, &s, &b, row, 2, &ai, &af, &as);
    if (m) {
      void *image = nullptr;
      size_t length = 0;
      // The owned image is freed by the map, also when the load fails.
      ok = bim_pack(m, 2) == 0 && bim_pack(m, 1) == 0 && bim_pack(m, 0) == 0 &&
           bim_dump(m, BIM_TO_MEMORY, &image, &length) == 0 &&
           bim_load(m, BIM_TO_MEMORY | BIM_OWN_BUFFER, image, length) == 0 &&
           bim_unpack(m, 0) == 1 && bim_unpack(m, 1) == 1 && bim_unpack(m, 2) == 1;
      bim_destroy(m);
    }
    // What unpacking handed out belongs to the caller.
    if (s != text) std::free(s);
    if (as != other) std::free(as);
    if (b.address != bytes) std::free(b.address);
    if (row[0].t != text) std::free(row[0].t);
    if (ok) {
      EXPECT_EQ(allReports(), "");
      EXPECT_EQ(i, 4);
      EXPECT_EQ(af, 2);
      break;
    }
    EXPECT_EQ(allReports(), "[out of memory\n]");
    ASSERT_LT(n, 500);
  }
}

std::string nested(int depth, const char *inner, bool closed) {
  std::string f;
  for (int k = 0; k < depth; ++k) f += "A(";
  f += inner;
  if (closed) f += std::string(size_t(depth), ')');
  return f;
}

// Formats nest arrays up to BIM_MAX_ARRAY_DEPTH; deeper ones are refused
// while parsing, whether they are well formed or not, so that no walk over
// the tree (releasing, measuring, writing) recurses without bound.
TEST_F(BimFormat, ArraysNestedDeeperThanTheLimitAreRefused) {
  const struct {
    int depth;
    bool closed;
  } refused[] = {{BIM_MAX_ARRAY_DEPTH + 1, true}, {100000, true}, {100000, false}};
  for (const auto &tc : refused) {
    SCOPED_TRACE(tc.depth);
    reports().clear();
    const std::string format = nested(tc.depth, "i", tc.closed);
    int32_t i = 0;
    bim_element *m = bim_map(format.c_str(), &i);
    EXPECT_EQ(m, nullptr);
    if (m) continue; // destroying it could overflow the stack
    ASSERT_EQ(reports().size(), 2u);
    EXPECT_EQ(reports()[0],
              "arrays nested deeper than " + std::to_string(BIM_MAX_ARRAY_DEPTH) + " levels\n");
    EXPECT_TRUE(reports()[1].starts_with("failed to parse A(A(")) << reports()[1];
  }

  // At the limit: one element in every level, through an image and back.
  reports().clear();
  const std::string format = nested(BIM_MAX_ARRAY_DEPTH, "i", true);
  int32_t i = 7;
  bim_element *m = bim_map(format.c_str(), &i);
  ASSERT_NE(m, nullptr);
  for (int index = BIM_MAX_ARRAY_DEPTH; index >= 1; --index) ASSERT_EQ(bim_pack(m, index), 0);
  ASSERT_EQ(bim_pack(m, 0), 0);
  void *image = nullptr;
  size_t length = 0;
  ASSERT_EQ(bim_dump(m, BIM_TO_MEMORY, &image, &length), 0);
  EXPECT_EQ(length, 9 + format.size() + 4 * size_t(BIM_MAX_ARRAY_DEPTH) + 4);
  ASSERT_EQ(bim_load(m, BIM_TO_MEMORY | BIM_OWN_BUFFER, image, length), 0);
  i = 0;
  ASSERT_EQ(bim_unpack(m, 0), 1);
  for (int index = 1; index <= BIM_MAX_ARRAY_DEPTH; ++index) ASSERT_EQ(bim_unpack(m, index), 1);
  EXPECT_EQ(i, 7);
  bim_destroy(m);
  EXPECT_EQ(allReports(), "");
}

// An element whose unpacking fails (here its string's allocation) is not
// used up: the next call delivers it, and then every element after it.
TEST_F(BimFormat, AnUnpackAfterAFailedAllocationDeliversEveryElementLeft) {
  char *s = nullptr;
  bim_element *m = bim_map("A(s)", &s);
  ASSERT_NE(m, nullptr);
  for (const char *text : {"one", "two", "three"}) {
    s = const_cast<char *>(text);
    ASSERT_EQ(bim_pack(m, 1), 0);
  }
  ASSERT_EQ(bim_pack(m, 0), 0);
  ASSERT_EQ(bim_unpack(m, 0), 1);
  s = nullptr;
  ASSERT_EQ(bim_unpack(m, 1), 3);
  EXPECT_STREQ(s, "one");
  std::free(s);
  s = nullptr;

  const bim_hooks working = bim_active_hooks;
  failAllocationAt(1);
  EXPECT_EQ(bim_unpack(m, 1), -1);
  EXPECT_EQ(allReports(), "[out of memory\n]");
  EXPECT_EQ(s, nullptr);
  bim_active_hooks = working;

  for (const auto &[left, text] : {std::pair{2, "two"}, std::pair{1, "three"}}) {
    SCOPED_TRACE(text);
    ASSERT_EQ(bim_unpack(m, 1), left);
    EXPECT_STREQ(s, text);
    std::free(s);
    s = nullptr;
  }
  EXPECT_EQ(bim_unpack(m, 1), 0);
  EXPECT_EQ(s, nullptr);
  bim_destroy(m);
}

} // namespace
