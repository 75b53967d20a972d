// The per-thread record: its lookup and creation, the time and status word of
// the evaluation under way, and the creation and release of its buffers.
//
// The record of a thread lives in the platform's per-thread slot, which
// releases it (buffers first) when the thread ends; the library destructor at
// the end of this file releases the records of all threads still alive and
// the cached "C" locale when the library is unloaded.  Nothing here reports:
// the messages, the error path and the allocators (matrixop.cpp) all stand on
// this file.
#include "source/matrixop.h"

#include "platform/heap.h"
#include "platform/threadslot.h"
#include "source/clocale/clocale_io.h"

#include <atomic>

namespace {

// Bytes of the four typed per-thread buffers.
constexpr std::size_t kRealBytes = RealbufferSize * sizeof(double);
constexpr std::size_t kIntegerBytes = IntegerbufferSize * sizeof(int);
constexpr std::size_t kSizeBytes = SizebufferSize * sizeof(int);
constexpr std::size_t kStringBytes = StringbufferSize * sizeof(char *);

void releaseThreadRecord(void *value) {
  auto *context = static_cast<ThreadContext *>(value);
  freeThreadBuffers(context);
  platform::heapFree(context);
}

// Time and status word of the record that serves while no instance is bound
// (registered at load); written once, atomic so that a late registration
// races with nothing.
std::atomic<const double *> unboundTime{nullptr};
std::atomic<int32_t *> unboundStatus{nullptr};

// Status word of a thread that evaluates with neither a bound instance nor a
// registered record (a runtime linked without a model).
thread_local int32_t unregisteredStatus = 0;

} // namespace

// ---- thread record -------------------------------------------------------------

ThreadContext *findThreadContext() {
  return static_cast<ThreadContext *>(platform::threadSlotGet());
}

ThreadContext *getThreadContext() {
  if (auto *context = findThreadContext()) return context;
  if (!platform::threadSlotOpen(releaseThreadRecord)) return nullptr;
  auto *context = static_cast<ThreadContext *>(platform::heapAllocZeroed(1, sizeof(ThreadContext)));
  if (context == nullptr) return nullptr;
  if (!platform::threadSlotSet(context)) {
    platform::heapFree(context);
    return nullptr;
  }
  return context;
}

// ---- the evaluation under way --------------------------------------------------

void setUnboundEvaluation(const double *time, int32_t *status) {
  unboundTime.store(time, std::memory_order_release);
  unboundStatus.store(status, std::memory_order_release);
}

double getCurrentTime() {
  ThreadContext *context = getThreadContext();
  if (context != nullptr && context->currentTime != nullptr) return *context->currentTime;
  const double *time = unboundTime.load(std::memory_order_acquire);
  return time != nullptr ? *time : 0.0;
}

int32_t *getStatusPointer() {
  ThreadContext *context = getThreadContext();
  if (context != nullptr && context->currentStatus != nullptr) return context->currentStatus;
  int32_t *status = unboundStatus.load(std::memory_order_acquire);
  return status != nullptr ? status : &unregisteredStatus;
}

// ---- buffers -------------------------------------------------------------------

void initThreadBuffers() {
  ThreadContext *context = getThreadContext();
  if (context == nullptr || context->EndRealbuffer != nullptr) return;
  // The four typed buffers (4.5 MB) are large blocks: only the pages an
  // evaluation writes become resident.
  auto *reals = static_cast<double *>(platform::takeLargeZeroed(kRealBytes));
  auto *integers = static_cast<int *>(platform::takeLargeZeroed(kIntegerBytes));
  auto *sizes = static_cast<int *>(platform::takeLargeZeroed(kSizeBytes));
  auto *strings = static_cast<char **>(platform::takeLargeZeroed(kStringBytes));
  auto *characters = static_cast<char *>(platform::heapAllocZeroed(SimplestringSize, 1));
  if (!reals || !integers || !sizes || !strings || !characters) {
    // Keep none: the allocators then report their buffer as exhausted.
    platform::releaseLarge(reals, kRealBytes);
    platform::releaseLarge(integers, kIntegerBytes);
    platform::releaseLarge(sizes, kSizeBytes);
    platform::releaseLarge(strings, kStringBytes);
    platform::heapFree(characters);
    return;
  }
  context->EndRealbuffer = reals + RealbufferSize;
  context->EndIntegerbuffer = integers + IntegerbufferSize;
  context->EndSizebuffer = sizes + SizebufferSize;
  context->EndStringbuffer = strings + StringbufferSize;
  context->currentMark.place = {reals, integers, sizes, strings};
  context->currentMark.savedPlace = context->currentMark.place;
  context->startMark = context->currentMark;
  context->simplestring = characters;
  context->stringmark = characters;
  context->Endsimplestring = characters + SimplestringSize;
}

void freeThreadBuffers(ThreadContext *context) {
  if (context == nullptr || context->EndRealbuffer == nullptr) return;
  platform::releaseLarge(context->startMark.place.Realbuffer, kRealBytes);
  platform::releaseLarge(context->startMark.place.Integerbuffer, kIntegerBytes);
  platform::releaseLarge(context->startMark.place.Sizebuffer, kSizeBytes);
  platform::releaseLarge(context->startMark.place.Stringbuffer, kStringBytes);
  platform::heapFree(context->simplestring);
  context->startMark = MemoryMark{};
  context->currentMark = MemoryMark{};
  context->stringmark = nullptr;
  context->simplestring = nullptr;
  context->Endsimplestring = nullptr;
  context->EndRealbuffer = nullptr;
  context->EndIntegerbuffer = nullptr;
  context->EndSizebuffer = nullptr;
  context->EndStringbuffer = nullptr;
}

void releaseThreadBuffers() { freeThreadBuffers(getThreadContext()); }

// ---- unload --------------------------------------------------------------------

// Runs when the library is unloaded (or the program ends): releases the
// records and buffers of every thread that still has one, then the "C"
// locale object.
__attribute__((destructor)) static void releaseRuntimeAtUnload() {
  platform::threadSlotClose();
  releaseCLocale();
}
