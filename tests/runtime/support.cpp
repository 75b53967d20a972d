#include "tests/runtime/support.h"

#include "source/kernel.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"

#include <mutex>
#include <ostream>

namespace {

std::mutex capturedLock;
std::vector<CapturedMessage> captured;

void captureHook(const char *text, int emit, int level) {
  std::lock_guard<std::mutex> lock(capturedLock);
  captured.push_back({text, emit, level});
}

} // namespace

// The driver's accessors, answered from the thread's stand-in instance.
double getCurrentTime() { return fakeInstance().time; }
int *getStatusPointer() { return &fakeInstance().status; }

FakeInstance &fakeInstance() {
  thread_local FakeInstance instance;
  return instance;
}

std::vector<CapturedMessage> capturedMessages() {
  std::lock_guard<std::mutex> lock(capturedLock);
  return captured;
}

std::vector<std::string> capturedTexts() {
  std::vector<std::string> texts;
  for (const auto &m : capturedMessages()) texts.push_back(m.text);
  return texts;
}

void clearMessages() {
  std::lock_guard<std::mutex> lock(capturedLock);
  captured.clear();
}

void RuntimeTest::SetUp() {
  setRuntimeMessageHook(captureHook);
  fakeInstance() = FakeInstance{};
  defaultKernelContext = KernelContext{nullptr, nullptr, "?????", "?????", 0, 0,
                                       nullptr, nullptr, nullptr};
  currentKernelContext = nullptr;
  endEvaluation();
  clearMessages();
}

void RuntimeTest::TearDown() {
  endEvaluation();
  setRuntimeMessageHook(nullptr);
}

std::ostream &operator<<(std::ostream &out, const CapturedMessage &m) {
  return out << "{\"" << m.text << "\", emit " << m.emit << ", level " << m.level << "}";
}
