// POSIX stand-ins for the module queries and the library loader.

#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// Copies text into buffer when it fits with its terminator; else empties it.
std::size_t copyWhole(const char *text, char *buffer, std::size_t size) {
  const std::size_t length = std::strlen(text);
  if (length + 1 > size) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, text, length + 1);
  return length;
}

} // namespace

std::size_t moduleFileName(const void *codeAddress, char *buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = '\0';
  Dl_info info{};
  link_map *map = nullptr;
  if (dladdr1(codeAddress, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP) == 0) {
    return 0;
  }
  // The loader names the main program with an empty string.
  const char *name = map != nullptr ? map->l_name : info.dli_fname;
  if (name == nullptr || name[0] == '\0') {
    char exe[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return 0;
    exe[n] = '\0';
    return copyWhole(exe, buffer, size);
  }
  char *resolved = realpath(name, nullptr);
  if (resolved == nullptr) return copyWhole(name, buffer, size);
  const std::size_t length = copyWhole(resolved, buffer, size);
  std::free(resolved);
  return length;
}

const void *moduleBase(const void *codeAddress) {
  Dl_info info{};
  if (dladdr(codeAddress, &info) == 0) return nullptr;
  return info.dli_fbase;
}

void *moduleLoad(const char *file) {
  if (file == nullptr || file[0] == '\0') return nullptr;
  return dlopen(file, RTLD_NOW | RTLD_LOCAL);
}

void moduleRelease(void *handle) {
  if (handle != nullptr) dlclose(handle);
}

} // namespace platform
