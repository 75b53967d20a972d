#include "tests/support/fmi_host.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unordered_set>

namespace fmihost {

const std::vector<std::string> &fmi2FunctionNames() {
  static const std::vector<std::string> names = {
#define FMIHOST_NAME(name, use) #name,
      FMI2_FUNCTIONS(FMIHOST_NAME)
#undef FMIHOST_NAME
  };
  return names;
}

// ---- Loading ----------------------------------------------------------------

// Loaded as hosts load a unit: the library is unmapped again when the last
// handle is closed, so whatever it fails to release at unload shows as lost.
Fmi2Library::Fmi2Library(const std::string &path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char *why = dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (why ? why : "unknown error"));
  }
  const std::string missing = fmi2::lookUpFunctions(handle_, fmi, [](fmi2::Use) { return true; });
  if (!missing.empty()) {
    dlclose(handle_);
    handle_ = nullptr;
    throw std::runtime_error(path + " does not export: " + missing);
  }
}

Fmi2Library::~Fmi2Library() {
  if (handle_) dlclose(handle_);
}

// ---- Logger -----------------------------------------------------------------
// The live HostCallbacks objects, so that the logger only ever treats a
// componentEnvironment as a HostCallbacks when it really is one.

namespace {

std::mutex registryMutex;
std::unordered_set<const HostCallbacks *> &registry() {
  static std::unordered_set<const HostCallbacks *> live;
  return live;
}

std::mutex strayMutex;
std::vector<LogRecord> &strays() {
  static std::vector<LogRecord> list;
  return list;
}

std::string vformat(const char *format, va_list args) {
  if (!format) return {};
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return std::string("<unformattable: ") + format + ">";
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

} // namespace

HostCallbacks::HostCallbacks(bool withStepFinished)
    : functions_{&HostCallbacks::logger, &fmihost::allocateMemory, &fmihost::freeMemory,
                 withStepFinished ? &HostCallbacks::stepFinished : nullptr, this} {
  std::lock_guard lock(registryMutex);
  registry().insert(this);
}

HostCallbacks::~HostCallbacks() {
  std::lock_guard lock(registryMutex);
  registry().erase(this);
}

void HostCallbacks::logger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                           fmi2String category, fmi2String message, ...) {
  LogRecord r;
  r.componentEnvironment = env;
  r.instanceName = instanceName ? instanceName : "";
  r.status = status;
  r.category = category ? category : "";
  va_list args;
  va_start(args, message);
  r.message = vformat(message, args);
  va_end(args);

  std::lock_guard lock(registryMutex);
  auto *self = static_cast<HostCallbacks *>(env);
  if (registry().count(self)) {
    self->record(std::move(r));
  } else {
    std::lock_guard strayLock(strayMutex);
    strays().push_back(std::move(r));
  }
}

void HostCallbacks::stepFinished(fmi2ComponentEnvironment env, fmi2Status status) {
  std::lock_guard lock(registryMutex);
  auto *self = static_cast<HostCallbacks *>(env);
  if (registry().count(self)) {
    std::lock_guard own(self->mutex_);
    self->stepFinished_.push_back(status);
  }
}

void HostCallbacks::record(LogRecord r) {
  std::lock_guard lock(mutex_);
  messages_.push_back(std::move(r));
}

std::vector<LogRecord> HostCallbacks::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

void HostCallbacks::clearMessages() {
  std::lock_guard lock(mutex_);
  messages_.clear();
}

bool HostCallbacks::hasMessage(std::string_view text) const {
  std::lock_guard lock(mutex_);
  for (const LogRecord &r : messages_)
    if (r.message.find(text) != std::string::npos) return true;
  return false;
}

bool HostCallbacks::hasMessage(std::string_view text, fmi2Status status) const {
  std::lock_guard lock(mutex_);
  for (const LogRecord &r : messages_)
    if (r.status == status && r.message.find(text) != std::string::npos) return true;
  return false;
}

std::string HostCallbacks::dump() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const LogRecord &r : messages_)
    out += statusName(r.status) + "|" + r.category + "|" + r.message + "\n";
  return out;
}

std::vector<fmi2Status> HostCallbacks::stepFinishedCalls() const {
  std::lock_guard lock(mutex_);
  return stepFinished_;
}

std::vector<LogRecord> strayMessages() {
  std::lock_guard lock(strayMutex);
  return strays();
}

void clearStrayMessages() {
  std::lock_guard lock(strayMutex);
  strays().clear();
}

// ---- Allocator ----------------------------------------------------------------

namespace {

struct AllocatorState {
  std::mutex mutex;
  std::unordered_set<void *> live;
  std::size_t calls = 0;
  std::size_t badFrees = 0;
  std::size_t failIn = 0; // 0: never; else the calls left until the one that fails
};

AllocatorState &allocator() {
  static AllocatorState *state = new AllocatorState; // never destroyed: usable at exit
  return *state;
}

} // namespace

void *allocateMemory(std::size_t nobj, std::size_t size) {
  AllocatorState &a = allocator();
  std::lock_guard lock(a.mutex);
  ++a.calls;
  if (a.failIn != 0 && --a.failIn == 0) return nullptr;
  if (size != 0 && nobj > static_cast<std::size_t>(-1) / size) return nullptr;
  std::size_t bytes = nobj * size;
  void *p = std::calloc(bytes ? bytes : 1, 1);
  if (p) a.live.insert(p);
  return p;
}

void freeMemory(void *obj) {
  if (!obj) return;
  AllocatorState &a = allocator();
  std::lock_guard lock(a.mutex);
  if (a.live.erase(obj) == 0) {
    ++a.badFrees;
    return;
  }
  std::free(obj);
}

std::size_t liveBlocks() {
  AllocatorState &a = allocator();
  std::lock_guard lock(a.mutex);
  return a.live.size();
}

std::size_t allocationCalls() {
  AllocatorState &a = allocator();
  std::lock_guard lock(a.mutex);
  return a.calls;
}

std::size_t badFrees() {
  AllocatorState &a = allocator();
  std::lock_guard lock(a.mutex);
  return a.badFrees;
}

void resetAllocationCounts() {
  AllocatorState &a = allocator();
  std::lock_guard lock(a.mutex);
  a.calls = 0;
  a.badFrees = 0;
}

void failAllocation(std::size_t n) {
  AllocatorState &a = allocator();
  std::lock_guard lock(a.mutex);
  a.failIn = n;
}

} // namespace fmihost
