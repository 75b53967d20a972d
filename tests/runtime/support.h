#pragma once
// Test support of the runtime core: an instance record bound to the test's
// thread as the instance under evaluation (its time and status word are what
// reports print and set), and a message hook that records every (text, emit,
// level).
#include <gtest/gtest.h>

#include "model/ModelInstanceData.h"

#include <string>
#include <vector>

struct CapturedMessage {
  std::string text;
  int emit;
  int level;
  bool operator==(const CapturedMessage &) const = default;
};

// The calling thread's instance record (zero-filled at first use).  The
// fixture binds it to the test's thread.
ModelInstanceData &fakeInstance();

// Messages of all threads since the last clearMessages().
std::vector<CapturedMessage> capturedMessages();
std::vector<std::string> capturedTexts();
void clearMessages();

// Installs the capturing hook, clears the captured messages, zero-fills the
// calling thread's instance record and binds it, resets the kernel context
// and the thread's buffers (endEvaluation).
class RuntimeTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
};

std::ostream &operator<<(std::ostream &out, const CapturedMessage &m);
