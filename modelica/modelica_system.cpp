// Working directory, environment, time and process id.
//
// The working directory and the environment belong to the whole process.
// The environment is read and changed here under one lock, so that two
// threads of the unit never read a value while the other replaces it (code
// outside the unit that changes the environment is not covered by it).

#include <cerrno>
#include <cstring>
#include <mutex>

#include "modelica/modelica_internal.h"
#include "platform/sys.h"

using modelica::systemErrorText;
using platform::sys;

namespace {

constexpr std::size_t kPathBufferSize = 1024;

std::mutex environmentLock;

} // namespace

extern "C" {

void changeDirectory(const char *directory) {
  if (sys.chdir(directory) != 0) {
    const int err = errno;
    ModelicaFormatError("Not possible to change current working directory to\n\"%s\":\n%s",
                        directory, systemErrorText(err));
  }
  // Relative names of the open-file cache now designate other files.
  modelica::dropRelativeCacheEntries();
}

const char *getCurrentDirectory() {
  char buffer[kPathBufferSize];
  if (sys.getcwd(buffer, sizeof buffer) == nullptr) {
    const int err = errno;
    ModelicaFormatError("Not possible to get current working directory:\n%s", systemErrorText(err));
  }
  const std::size_t length = std::strlen(buffer);
  char *result = ModelicaAllocateString(length);
  std::memcpy(result, buffer, length);
  return result;
}

void ModelicaInternal_getenv(const char *name, int convertToSlash, const char **content,
                             int *exist) {
  // A heap copy of the value, taken under the lock, as the value itself may
  // be replaced by another thread once the lock is released.
  char *value = nullptr;
  std::size_t size = 0;
  // A name with '=' (or none at all) names no variable, as setting one
  // refuses it; the system's lookup would match it against the start of
  // another variable's "name=value" entry and answer the rest of its value.
  const bool validName = name[0] != '\0' && std::strchr(name, '=') == nullptr;
  if (validName) {
    std::lock_guard<std::mutex> lock(environmentLock);
    if (const char *found = sys.getenv(name)) {
      size = std::strlen(found) + 1;
      value = static_cast<char *>(sys.malloc(size));
      if (value != nullptr) std::memcpy(value, found, size);
    }
  }
  if (value == nullptr) {
    if (size != 0) {
      ModelicaFormatError("Not enough memory to allocate string for copying environment "
                          "variable \"%s\".\n",
                          name);
    }
    *content = ModelicaAllocateString(0);
    *exist = 0;
    return;
  }
  char *copy = ModelicaAllocateStringWithErrorReturn(size - 1);
  if (copy == nullptr) {
    sys.free(value);
    ModelicaFormatError("Not enough memory to allocate string for copying environment "
                        "variable \"%s\".\n",
                        name);
  }
  std::memcpy(copy, value, size);
  sys.free(value);
  if (convertToSlash == 1) slashesToForward(copy);
  *content = copy;
  *exist = 1;
}

void setEnvironmentVariable(const char *name, const char *content, int convertFromSlash) {
  char *converted = nullptr;
  if (convertFromSlash == 1) {
    const std::size_t size = std::strlen(content) + 1;
    converted = static_cast<char *>(sys.malloc(size));
    if (converted == nullptr) ModelicaError("Memory allocation error\n");
    std::memcpy(converted, content, size);
    slashesToBackward(converted);
    content = converted;
  }
  int result;
  {
    std::lock_guard<std::mutex> lock(environmentLock);
    // An empty value removes the variable, so that it reads as undefined
    // afterwards, as on the platform this interface comes from.
    result = content[0] == '\0' ? sys.unsetenv(name) : sys.setenv(name, content, 1);
  }
  const int err = errno;
  sys.free(converted);
  if (result != 0) {
    ModelicaFormatError("Not possible to set environment variable:\n%s", systemErrorText(err));
  }
}

void getTime(int *ms, int *sec, int *min, int *hour, int *mday, int *mon, int *year) {
  // Seconds and milliseconds from one reading, so that they belong to the
  // same instant.
  struct timespec now;
  if (sys.clock_gettime(CLOCK_REALTIME, &now) != 0) {
    const int err = errno;
    ModelicaFormatError("Not possible to get the time:\n%s", systemErrorText(err));
  }
  struct tm local;
  if (sys.localtime_r(&now.tv_sec, &local) == nullptr) {
    const int err = errno != 0 ? errno : EOVERFLOW;
    ModelicaFormatError("Not possible to get the time:\n%s", systemErrorText(err));
  }
  *ms = static_cast<int>(now.tv_nsec / 1000000);
  *sec = local.tm_sec;
  *min = local.tm_min;
  *hour = local.tm_hour;
  *mday = local.tm_mday;
  *mon = local.tm_mon + 1;
  *year = local.tm_year + 1900;
}

int getProcessId() { return static_cast<int>(sys.getpid()); }

} // extern "C"
