// The per-thread slot: one value per thread, released when its thread ends
// and, for threads still alive, when the slot is closed.
#include "platform/threadslot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<int> released{0};

void countRelease(void *value) {
  released.fetch_add(1);
  delete static_cast<int *>(value);
}

class ThreadSlotTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(platform::threadSlotOpen(countRelease)); }
};

TEST_F(ThreadSlotTest, EachThreadSeesOnlyItsOwnValue) {
  int *mine = new int(1);
  ASSERT_TRUE(platform::threadSlotSet(mine));
  void *other = &mine;
  std::thread([&] {
    other = platform::threadSlotGet();
    int *theirs = new int(2);
    EXPECT_TRUE(platform::threadSlotSet(theirs));
    EXPECT_EQ(platform::threadSlotGet(), theirs);
  }).join();
  EXPECT_EQ(other, nullptr) << "a new thread starts without a value";
  EXPECT_EQ(platform::threadSlotGet(), mine);
  ASSERT_TRUE(platform::threadSlotSet(nullptr)); // clearing hands the value back
  EXPECT_EQ(platform::threadSlotGet(), nullptr);
  delete mine;
}

TEST_F(ThreadSlotTest, EndingThreadReleasesItsValueOnceAndIdleThreadsNothing) {
  const int before = released.load();
  const int heldBefore = platform::threadSlotCount();
  std::thread([] {}).join();
  EXPECT_EQ(released.load(), before) << "a thread without a value releases nothing";

  std::barrier sync(3);
  auto worker = [&] {
    ASSERT_TRUE(platform::threadSlotSet(new int(3)));
    sync.arrive_and_wait();
    sync.arrive_and_wait(); // held until the count was checked
  };
  std::thread a(worker), b(worker);
  sync.arrive_and_wait();
  EXPECT_EQ(platform::threadSlotCount(), heldBefore + 2);
  sync.arrive_and_wait();
  a.join();
  b.join();
  EXPECT_EQ(released.load(), before + 2);
  EXPECT_EQ(platform::threadSlotCount(), heldBefore);
}

// Closing is final for the process, so it runs in a child process.
[[noreturn]] void closeWithALiveThread() {
  const int before = released.load();
  if (!platform::threadSlotSet(new int(4))) std::_Exit(10);
  std::atomic<bool> stop{false};
  std::atomic<bool> ready{false};
  std::thread alive([&] {
    if (!platform::threadSlotSet(new int(5))) std::_Exit(11);
    ready = true;
    while (!stop) std::this_thread::yield();
  });
  while (!ready) std::this_thread::yield();
  platform::threadSlotClose();
  const int afterClose = released.load() - before;
  stop = true;
  alive.join(); // its end must not release the value again
  int *late = new int(6);
  const bool closed = platform::threadSlotGet() == nullptr && !platform::threadSlotSet(late) &&
                      platform::threadSlotCount() == 0;
  delete late;
  std::_Exit(afterClose == 2 && released.load() - before == 2 && closed ? 0 : 1);
}

TEST_F(ThreadSlotTest, CloseReleasesTheValuesOfLiveThreads) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(closeWithALiveThread(), ::testing::ExitedWithCode(0), "");
}

} // namespace
