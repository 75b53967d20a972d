#pragma once
// Test support of the runtime core: a stand-in for the driver's accessors of
// the instance under evaluation (time and status word, one pair per thread),
// and a message hook that records every (text, emit, level).
#include <gtest/gtest.h>

#include <string>
#include <vector>

struct CapturedMessage {
  std::string text;
  int emit;
  int level;
  bool operator==(const CapturedMessage &) const = default;
};

// The calling thread's stand-in instance.
struct FakeInstance {
  double time = 0.0;
  int status = 0;
};
FakeInstance &fakeInstance();

// Messages of all threads since the last clearMessages().
std::vector<CapturedMessage> capturedMessages();
std::vector<std::string> capturedTexts();
void clearMessages();

// Installs the capturing hook, clears the captured messages, resets the
// calling thread's stand-in instance, the kernel context and the thread's
// buffers (endEvaluation).
class RuntimeTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
};

std::ostream &operator<<(std::ostream &out, const CapturedMessage &m);
