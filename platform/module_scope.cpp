// The global scope of the POSIX dynamic loader (dladdr1, dlopen with
// RTLD_NOLOAD | RTLD_GLOBAL).

#include "platform/module_scope.h"

#include <dlfcn.h>
#include <link.h>

namespace platform {

void *moduleShareSymbols(const void *codeAddress) {
  Dl_info info{};
  link_map *map = nullptr;
  if (dladdr1(codeAddress, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP) == 0 ||
      map == nullptr) {
    return nullptr;
  }
  // The loader names the main program with an empty string.
  if (map->l_name == nullptr || map->l_name[0] == '\0') return nullptr;
  // The name the module was loaded by finds it again; nothing new is loaded.
  // Only the base namespace has a global scope: a copy loaded into another
  // one (dlmopen) shares nothing.
  void *self = dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);
  if (self == nullptr) return nullptr;
  Lmid_t namespaceId = LM_ID_BASE;
  const bool base = dlinfo(self, RTLD_DI_LMID, &namespaceId) == 0 && namespaceId == LM_ID_BASE;
  dlclose(self);
  if (!base) return nullptr;
  return dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
}

} // namespace platform
