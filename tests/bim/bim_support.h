// Test support for the serializer: a fixture that captures every report,
// fault injection through the allocation hooks, and a builder for crafted
// images.
#pragma once

#include "bim/bim.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace bimtest {

inline std::vector<std::string> &reports() {
  static std::vector<std::string> r;
  return r;
}

inline int captureReport(const char *format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  reports().push_back(text);
  return 0;
}

// Allocation that fails on call number failAt (1-based; 0 never fails).
struct FailingAlloc {
  static inline long calls = 0;
  static inline long failAt = 0;
  static bool fail() { return ++calls == failAt; }
  static void *malloc(size_t n) { return fail() ? nullptr : std::malloc(n); }
  static void *realloc(void *p, size_t n) { return fail() ? nullptr : std::realloc(p, n); }
};

// Every test runs with a capturing report hook and gets the defaults back.
class BimTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = bim_active_hooks;
    bim_active_hooks.report = captureReport;
    reports().clear();
  }
  void TearDown() override { bim_active_hooks = saved_; }

  static bool reported(const std::string &text) {
    for (const auto &r : reports())
      if (r == text) return true;
    return false;
  }
  static std::string allReports() {
    std::string all;
    for (const auto &r : reports()) all += "[" + r + "]";
    return all;
  }
  static void failAllocationAt(long n) {
    FailingAlloc::calls = 0;
    FailingAlloc::failAt = n;
    bim_active_hooks.malloc = FailingAlloc::malloc;
    bim_active_hooks.realloc = FailingAlloc::realloc;
  }

private:
  bim_hooks saved_{};
};

// Builds images byte by byte, in either byte order.
class ImageBuilder {
public:
  explicit ImageBuilder(unsigned flags = 2, bool bigEndian = false) : big_(bigEndian) {
    bytes_ = {'b', 'i', 'm', static_cast<uint8_t>(flags | (bigEndian ? 1 : 0)), 0, 0, 0, 0};
  }
  ImageBuilder &format(const char *f) {
    raw(f, std::strlen(f) + 1);
    return *this;
  }
  ImageBuilder &u32(uint32_t v) { return item(&v, 4); }
  ImageBuilder &u16(uint16_t v) { return item(&v, 2); }
  ImageBuilder &u64(uint64_t v) { return item(&v, 8); }
  ImageBuilder &f64(double v) { return item(&v, 8); }
  ImageBuilder &byte(uint8_t v) { return raw(&v, 1); }
  ImageBuilder &chars(const char *s) { return raw(s, std::strlen(s)); }
  ImageBuilder &raw(const void *p, size_t n) {
    auto *b = static_cast<const uint8_t *>(p);
    bytes_.insert(bytes_.end(), b, b + n);
    return *this;
  }
  // The image with its length field set to its size.
  std::vector<uint8_t> done() const {
    std::vector<uint8_t> out = bytes_;
    uint32_t n = static_cast<uint32_t>(out.size());
    if (big_) n = __builtin_bswap32(n);
    std::memcpy(out.data() + 4, &n, 4);
    return out;
  }

private:
  ImageBuilder &item(const void *p, size_t n) {
    uint8_t b[8];
    std::memcpy(b, p, n);
    if (big_)
      for (size_t k = 0; k < n / 2; ++k) std::swap(b[k], b[n - 1 - k]);
    return raw(b, n);
  }
  std::vector<uint8_t> bytes_;
  bool big_;
};

inline void setLengthField(std::vector<uint8_t> &image, uint32_t n) {
  std::memcpy(image.data() + 4, &n, 4);
}

// Points the map's image record at bytes, for bim_check_image.
inline void recordImage(bim_element *root, const std::vector<uint8_t> &bytes) {
  auto *info = static_cast<bim_root_info *>(root->data);
  info->image = bim_image_record{-1, const_cast<uint8_t *>(bytes.data()), bytes.size()};
}
inline void clearImage(bim_element *root) {
  static_cast<bim_root_info *>(root->data)->image = bim_image_record{-1, nullptr, 0};
}

} // namespace bimtest
