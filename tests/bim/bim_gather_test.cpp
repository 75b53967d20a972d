// Gathering images out of streams: blocking and non-blocking descriptors and
// memory chunks, with hostile length fields and streams that end early.
#include "tests/bim/bim_support.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace bimtest;

using Bytes = std::vector<uint8_t>;

// Three small valid images back to back (one of them big-endian).
Bytes image(uint32_t value, bool big = false) {
  return ImageBuilder(0, big).format("u").u32(value).done();
}
Bytes stream() {
  Bytes s;
  for (const Bytes &b : {image(1), image(2, true), image(3)}) s.insert(s.end(), b.begin(), b.end());
  return s;
}

struct Collected {
  std::vector<Bytes> images;
  int abortAt = 0; // the callback fails on this image (1-based)
};
int collect(void *p, size_t n, void *data) {
  auto *c = static_cast<Collected *>(data);
  c->images.emplace_back(static_cast<uint8_t *>(p), static_cast<uint8_t *>(p) + n);
  return int(c->images.size()) == c->abortAt ? -1 : 0;
}

struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    r = fds[0];
    w = fds[1];
  }
  void send(const Bytes &b) { EXPECT_EQ(::write(w, b.data(), b.size()), ssize_t(b.size())); }
  void closeWriter() {
    ::close(w);
    w = -1;
  }
  ~Pipe() {
    if (r >= 0) ::close(r);
    if (w >= 0) ::close(w);
  }
};

class BimGather : public BimTest {};

TEST_F(BimGather, BlockingGatherReadsImageByImageUntilTheEnd) {
  Pipe p;
  p.send(stream());
  p.closeWriter();
  const Bytes want[] = {image(1), image(2, true), image(3)};
  for (const Bytes &w : want) {
    void *got = nullptr;
    size_t length = 0;
    ASSERT_EQ(bim_gather(BIM_GATHER_BLOCKING_FD, p.r, &got, &length), 1);
    EXPECT_EQ(Bytes(static_cast<uint8_t *>(got), static_cast<uint8_t *>(got) + length), w);
    std::free(got);
  }
  void *got = nullptr;
  size_t length = 0;
  EXPECT_EQ(bim_gather_fd_blocking(p.r, &got, &length), 0);
  EXPECT_EQ(allReports(), "");
}

TEST_F(BimGather, BlockingGatherRefusesHostileAndTruncatedStreams) {
  Bytes tooLong = image(1);
  setLengthField(tooLong, 0x7FFFFFFF);
  Bytes zero = image(1), eight = image(1);
  setLengthField(zero, 0);
  setLengthField(eight, 8);
  Bytes cutBody = image(1);
  cutBody.pop_back();
  const struct {
    const char *name;
    Bytes input;
    int result;
    std::string report;
  } cases[] = {
      {"not bim", {'x', 'i', 'm', 0, 9, 0, 0, 0}, -1, "bim_gather_fd_blocking: non-bim input\n"},
      {"ends inside the preamble", {'b', 'i', 'm'}, -1, "internal error\n"},
      {"ends inside the image", cutBody, -1, "internal error\n"},
      {"length 0", zero, -3, "bim prefix invalid\n"},
      {"length below the header", eight, -3, "bim prefix invalid\n"},
      {"above the limit", tooLong, -2,
       "bim exceeds max length " + std::to_string(BIM_DEFAULT_GATHER_LIMIT) + "\n"},
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    reports().clear();
    Pipe p;
    p.send(tc.input);
    p.closeWriter();
    void *got = nullptr;
    size_t length = 0;
    EXPECT_EQ(bim_gather_fd_blocking(p.r, &got, &length), tc.result);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(allReports(), "[" + tc.report + "]");
    // bim_load from the descriptor fails the same way.
    Pipe q;
    q.send(tc.input);
    q.closeWriter();
    uint32_t u = 0;
    bim_element *m = bim_map("u", &u);
    EXPECT_EQ(bim_load(m, BIM_TO_FD, q.r), -1);
    bim_destroy(m);
  }
  reports().clear();
  void *got = nullptr;
  size_t length = 0;
  EXPECT_EQ(bim_gather_fd_blocking(-1, &got, &length), -1);
  EXPECT_EQ(allReports(), "[bim_gather_fd_blocking failed: Bad file descriptor\n]");
}

TEST_F(BimGather, NonBlockingGatherKeepsThePartialImageUntilTheRestArrives) {
  Pipe p;
  ASSERT_EQ(::fcntl(p.r, F_SETFL, O_NONBLOCK), 0);
  Bytes s = stream();
  Collected c;
  bim_partial *partial = nullptr;
  p.send(Bytes(s.begin(), s.begin() + 17)); // the first image and 3 bytes
  EXPECT_EQ(bim_gather(BIM_GATHER_NONBLOCKING_FD, p.r, &partial, collect, &c), 1);
  ASSERT_EQ(c.images.size(), 1u);
  ASSERT_NE(partial, nullptr);
  EXPECT_EQ(partial->length, 3u);
  p.send(Bytes(s.begin() + 17, s.end()));
  EXPECT_EQ(bim_fd_gather(p.r, &partial, collect, &c), 1);
  EXPECT_EQ(partial, nullptr);
  p.closeWriter();
  EXPECT_EQ(bim_fd_gather(p.r, &partial, collect, &c), 0);
  EXPECT_EQ(c.images, (std::vector<Bytes>{image(1), image(2, true), image(3)}));
  EXPECT_EQ(allReports(), "");
}

TEST_F(BimGather, NonBlockingGatherFailuresFreeThePartialImage) {
  Bytes s = stream();
  const struct {
    const char *name;
    Bytes input;
    int abortAt;
    int result;
    const char *report;
  } cases[] = {
      {"ends inside an image", Bytes(s.begin(), s.end() - 1), 0, -1,
       "bim_gather: partial bim image precedes EOF\n"},
      {"callback aborts", s, 2, -4, "bim_fd_gather aborted by app callback\n"},
      {"garbage after an image",
       [&] {
         Bytes b = image(1);
         b.insert(b.end(), 9, 'x');
         return b;
       }(),
       0, -3, "bim prefix invalid\n"},
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    reports().clear();
    Pipe p;
    p.send(tc.input);
    p.closeWriter();
    Collected c;
    c.abortAt = tc.abortAt;
    bim_partial *partial = nullptr;
    EXPECT_EQ(bim_fd_gather(p.r, &partial, collect, &c), tc.result);
    EXPECT_EQ(partial, nullptr);
    EXPECT_EQ(allReports(), std::string("[") + tc.report + "]");
  }
  reports().clear();
  bim_partial *partial = nullptr;
  EXPECT_EQ(bim_fd_gather(-1, &partial, collect, nullptr), -1);
  EXPECT_EQ(allReports(), "[bim_gather failed: Bad file descriptor\n]");
}

// The stream cut into chunks of every size gives the same three images; the
// limit holds each image, not the bytes that one round joins.
TEST_F(BimGather, MemoryGatherGivesTheSameImagesForEveryChunkSize) {
  const Bytes s = stream();
  bim_active_hooks.gatherLimit = image(1).size();
  for (size_t chunk = 1; chunk <= s.size(); ++chunk) {
    SCOPED_TRACE(chunk);
    Collected c;
    bim_partial *partial = nullptr;
    for (size_t at = 0; at < s.size(); at += chunk) {
      size_t n = std::min(chunk, s.size() - at);
      ASSERT_EQ(bim_gather(BIM_GATHER_MEMORY, s.data() + at, n, &partial, collect, &c), 1);
    }
    EXPECT_EQ(partial, nullptr);
    EXPECT_EQ(c.images, (std::vector<Bytes>{image(1), image(2, true), image(3)}));
  }
}

TEST_F(BimGather, MemoryGatherRefusesHostileLengthsAndHonoursTheLimit) {
  Bytes zero = image(1), big = image(1);
  setLengthField(zero, 0);
  setLengthField(big, 1000);
  const struct {
    const char *name;
    Bytes input;
    size_t limit;
    int abortAt;
    int result;
    std::string report;
  } cases[] = {
      {"length 0", zero, BIM_DEFAULT_GATHER_LIMIT, 0, -3, "bim prefix invalid\n"},
      {"no magic", Bytes(9, 'x'), BIM_DEFAULT_GATHER_LIMIT, 0, -3, "bim prefix invalid\n"},
      {"above a set limit", big, 999, 0, -2, "bim exceeds max length 999\n"},
      {"no limit", big, 0, 0, 1, ""},
      {"callback aborts", stream(), BIM_DEFAULT_GATHER_LIMIT, 1, -4,
       "bim_mem_gather aborted by app callback\n"},
  };
  for (const auto &tc : cases) {
    SCOPED_TRACE(tc.name);
    reports().clear();
    bim_active_hooks.gatherLimit = tc.limit;
    Collected c;
    c.abortAt = tc.abortAt;
    bim_partial *partial = nullptr;
    // A pending partial image is freed by a failure too.
    ASSERT_EQ(bim_mem_gather(tc.input.data(), 4, &partial, collect, &c), 1);
    EXPECT_EQ(bim_mem_gather(tc.input.data() + 4, tc.input.size() - 4, &partial, collect, &c),
              tc.result);
    EXPECT_EQ(allReports(), tc.report.empty() ? "" : "[" + tc.report + "]");
    if (tc.result < 0) {
      EXPECT_EQ(partial, nullptr);
    }
    if (partial) {
      std::free(partial->address);
      std::free(partial);
    }
  }
  reports().clear();
  EXPECT_EQ(bim_gather(7), -1);
  EXPECT_EQ(allReports(), "[unsupported bim_gather mode 7\n]");
}

} // namespace
