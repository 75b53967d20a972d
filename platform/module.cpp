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

// The working folder at the time the module was loaded: a loader name that
// is relative was taken against it, whatever folder is current later.
char loadFolder[PATH_MAX + 1];

__attribute__((constructor)) void keepLoadFolder() {
  if (getcwd(loadFolder, sizeof loadFolder) == nullptr) loadFolder[0] = '\0';
}

// The loader's name made absolute without following links: a relative name
// is put after the folder of the load, with its "." parts and repeated
// separators left out.  A symbolic link keeps the name it was loaded by.
std::size_t absoluteName(const char *name, char *buffer, std::size_t size) {
  if (name[0] == '/' || loadFolder[0] != '/') return copyWhole(name, buffer, size);
  char joined[2 * PATH_MAX + 2];
  std::size_t n = std::strlen(loadFolder);
  std::memcpy(joined, loadFolder, n);
  const char *p = name;
  while (*p != '\0') {
    while (*p == '/') ++p;
    const char *end = p;
    while (*end != '\0' && *end != '/') ++end;
    const std::size_t part = static_cast<std::size_t>(end - p);
    const bool dot = part == 1 && p[0] == '.';
    if (part > 0 && !dot) {
      if (n + 1 + part + 1 > sizeof joined) {
        buffer[0] = '\0';
        return 0;
      }
      if (n == 0 || joined[n - 1] != '/') joined[n++] = '/';
      std::memcpy(joined + n, p, part);
      n += part;
    }
    p = end;
  }
  joined[n] = '\0';
  return copyWhole(joined, buffer, size);
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
  return absoluteName(name, buffer, size);
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
