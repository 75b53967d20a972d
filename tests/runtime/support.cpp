#include "tests/runtime/support.h"

#include "source/dsblock5/runcontrol.h"
#include "source/kernel.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <ostream>

namespace {

std::mutex capturedLock;
std::vector<CapturedMessage> captured;

void captureHook(const char *text, int emit, int level) {
  std::lock_guard<std::mutex> lock(capturedLock);
  captured.push_back({text, emit, level});
}

struct FreeRecord {
  void operator()(ModelInstanceData *record) const { std::free(record); }
};

} // namespace

ModelInstanceData &fakeInstance() {
  thread_local std::unique_ptr<ModelInstanceData, FreeRecord> record{
      static_cast<ModelInstanceData *>(std::calloc(1, sizeof(ModelInstanceData)))};
  return *record;
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
  std::memset(static_cast<void *>(&fakeInstance()), 0, sizeof(ModelInstanceData));
  setCurrentInstance(&fakeInstance());
  defaultKernelContext =
      KernelContext{nullptr, nullptr, "?????", "?????", 0, 0, nullptr, nullptr, nullptr};
  currentKernelContext = nullptr;
  endEvaluation();
  clearMessages();
}

void RuntimeTest::TearDown() {
  endEvaluation();
  setCurrentInstance(nullptr);
  setRuntimeMessageHook(nullptr);
}

std::ostream &operator<<(std::ostream &out, const CapturedMessage &m) {
  return out << "{\"" << m.text << "\", emit " << m.emit << ", level " << m.level << "}";
}
