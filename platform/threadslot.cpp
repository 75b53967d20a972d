// The per-thread slot on a POSIX thread-specific data key.  The key's
// destructor releases a thread's value when the thread ends; the registry of
// live values lets threadSlotClose release the values of threads that are
// still alive when the library goes away.  Only trivially destructible
// statics are used: the slot must still work while the process runs its
// exit-time destructors.
#include "platform/threadslot.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>

namespace platform {
namespace {

enum SlotState : int { kNotCreated = 0, kOpen = 1, kClosed = 2, kFailed = 3 };

pthread_mutex_t slotLock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<int> slotState{kNotCreated};
pthread_key_t slotKey;
ThreadValueRelease releaseValue = nullptr;

// The values of live threads (guarded by slotLock).
void **registry = nullptr;
int registryCount = 0;
int registryCapacity = 0;

class Locked {
public:
  Locked() { pthread_mutex_lock(&slotLock); }
  ~Locked() { pthread_mutex_unlock(&slotLock); }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;
};

// Removes value from the registry; whether it was there.  Lock held.
bool unregister(void *value) {
  for (int i = 0; i < registryCount; ++i) {
    if (registry[i] == value) {
      registry[i] = registry[--registryCount];
      return true;
    }
  }
  return false;
}

// Adds value to the registry; false when there is no memory.  Lock held.
bool enlist(void *value) {
  if (registryCount == registryCapacity) {
    int capacity = registryCapacity == 0 ? 16 : 2 * registryCapacity;
    void *grown = std::realloc(registry, sizeof(void *) * static_cast<std::size_t>(capacity));
    if (grown == nullptr) return false;
    registry = static_cast<void **>(grown);
    registryCapacity = capacity;
  }
  registry[registryCount++] = value;
  return true;
}

// Called by the thread library when a thread with a value ends.  A value the
// registry no longer holds was already released by threadSlotClose.
void onThreadEnd(void *value) {
  Locked lock;
  if (unregister(value) && releaseValue != nullptr) releaseValue(value);
}

bool ensureOpen() {
  int state = slotState.load(std::memory_order_acquire);
  if (state != kNotCreated) return state == kOpen;
  Locked lock;
  state = slotState.load(std::memory_order_relaxed);
  if (state == kNotCreated) {
    state = pthread_key_create(&slotKey, onThreadEnd) == 0 ? kOpen : kFailed;
    slotState.store(state, std::memory_order_release);
  }
  return state == kOpen;
}

} // namespace

bool threadSlotOpen(ThreadValueRelease release) {
  {
    Locked lock;
    if (releaseValue == nullptr && slotState.load(std::memory_order_relaxed) == kNotCreated)
      releaseValue = release;
  }
  return ensureOpen();
}

void *threadSlotGet() {
  if (slotState.load(std::memory_order_acquire) != kOpen) return nullptr;
  return pthread_getspecific(slotKey);
}

bool threadSlotSet(void *value) {
  if (!ensureOpen()) return false;
  Locked lock;
  if (slotState.load(std::memory_order_relaxed) != kOpen) return false;
  void *old = pthread_getspecific(slotKey);
  if (old == value) return true;
  if (value != nullptr && !enlist(value)) return false;
  if (pthread_setspecific(slotKey, value) != 0) {
    if (value != nullptr) unregister(value);
    return false;
  }
  if (old != nullptr) unregister(old);
  return true;
}

void threadSlotClose() {
  Locked lock;
  if (slotState.load(std::memory_order_relaxed) != kOpen) return;
  pthread_key_delete(slotKey);
  slotState.store(kClosed, std::memory_order_release);
  for (int i = 0; i < registryCount; ++i) {
    if (releaseValue != nullptr) releaseValue(registry[i]);
  }
  std::free(registry);
  registry = nullptr;
  registryCount = 0;
  registryCapacity = 0;
}

int threadSlotCount() {
  Locked lock;
  return registryCount;
}

} // namespace platform
