// The host-side test support itself: the behaviours the end-to-end suites
// rely on when they judge the unit (formatting, counting, failure injection,
// clear failure on a library without the exports).
#include "tests/support/fmi_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

using fmihost::HostCallbacks;

TEST(HostLogger, FormatsTheMessageWithItsArgumentsAndKeepsTheEnvironment) {
  HostCallbacks host;
  host.functions().logger(host.functions().componentEnvironment, "inst", fmi2Warning, "cat",
                          "%s=%d (%.2f) 100%%", "n", 42, 1.5);
  host.functions().logger(host.functions().componentEnvironment, nullptr, fmi2OK, nullptr, "plain");
  auto m = host.messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].componentEnvironment, &host);
  EXPECT_EQ(m[0].instanceName, "inst");
  EXPECT_EQ(m[0].status, fmi2Warning);
  EXPECT_EQ(m[0].category, "cat");
  EXPECT_EQ(m[0].message, "n=42 (1.50) 100%");
  EXPECT_EQ(m[1].instanceName, "");
  EXPECT_EQ(m[1].category, "");
  EXPECT_TRUE(host.hasMessage("plain", fmi2OK));
  EXPECT_FALSE(host.hasMessage("plain", fmi2Error));
}

TEST(HostLogger, MessagesForAnUnknownEnvironmentAreKeptApart) {
  HostCallbacks host;
  fmihost::clearStrayMessages();
  int other = 0;
  HostCallbacks::logger(&other, "x", fmi2Error, "c", "lost %d", 7);
  EXPECT_TRUE(host.messages().empty());
  auto strays = fmihost::strayMessages();
  ASSERT_EQ(strays.size(), 1u);
  EXPECT_EQ(strays[0].componentEnvironment, &other);
  EXPECT_EQ(strays[0].message, "lost 7");
}

TEST(HostAllocator, ZeroFillsCountsLiveBlocksAndRejectsForeignFrees) {
  const std::size_t before = fmihost::liveBlocks();
  fmihost::resetAllocationCounts();
  auto *p = static_cast<unsigned char *>(fmihost::allocateMemory(10, 8));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 80; ++i) ASSERT_EQ(p[i], 0) << i;
  void *empty = fmihost::allocateMemory(0, 8);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(fmihost::allocateMemory(static_cast<std::size_t>(-1) / 2, 4), nullptr);
  EXPECT_EQ(fmihost::liveBlocks(), before + 2);
  EXPECT_EQ(fmihost::allocationCalls(), 3u);

  fmihost::freeMemory(p);
  fmihost::freeMemory(p); // twice
  int local = 0;
  fmihost::freeMemory(&local); // never handed out
  fmihost::freeMemory(nullptr);
  fmihost::freeMemory(empty);
  EXPECT_EQ(fmihost::badFrees(), 2u);
  EXPECT_EQ(fmihost::liveBlocks(), before);
}

TEST(HostAllocator, FailsExactlyTheNthCallOnce) {
  for (std::size_t n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    fmihost::failAllocation(n);
    std::vector<void *> got;
    for (std::size_t i = 1; i <= 4; ++i) got.push_back(fmihost::allocateMemory(1, 16));
    for (std::size_t i = 1; i <= 4; ++i) EXPECT_EQ(got[i - 1] == nullptr, i == n) << i;
    for (void *p : got) fmihost::freeMemory(p);
  }
  fmihost::failAllocation(0);
  void *p = fmihost::allocateMemory(1, 1);
  EXPECT_NE(p, nullptr);
  fmihost::freeMemory(p);
}

TEST(HostLibrary, FailsClearlyWhenTheLibraryOrAnExportIsMissing) {
  try {
    fmihost::Fmi2Library lib("/nonexistent/lib.so");
    FAIL() << "no exception";
  } catch (const std::runtime_error &e) {
    EXPECT_THAT(e.what(), testing::HasSubstr("/nonexistent/lib.so"));
  }
  try {
    fmihost::Fmi2Library lib("libm.so.6"); // loads, but has no fmi2 function
    FAIL() << "no exception";
  } catch (const std::runtime_error &e) {
    EXPECT_THAT(e.what(), testing::HasSubstr("does not export: fmi2GetTypesPlatform, "));
    EXPECT_THAT(e.what(), testing::HasSubstr("fmi2GetStringStatus"));
  }
  EXPECT_EQ(fmihost::fmi2FunctionNames().size(), 44u);
}

} // namespace
