// Module path, resources folder and the loader of the model's external
// libraries, on the platform's module queries (platform/module.h).

#include "source/dsblock5/modulepath.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "model/ModelInstanceData.h"
#include "platform/module.h"
#include "platform/module_scope.h"

namespace {

char modulePathBuffer[kModulePathBufferSize];
// Holds the derived folder or the one set by setDefaultResourcePath.
char defaultResourceBuffer[kModulePathBufferSize];
// Null while no default folder is set; otherwise defaultResourceBuffer.
const char *defaultResourcePath = nullptr;
// The default has not yet been derived from the module file.
int resourcePathPending = 1;

constexpr char kFallbackResourcePath[] = "VantrelResources/";
constexpr char kResourcesFolder[] = "resources/";

const void *ownCodeAddress() { return reinterpret_cast<const void *>(&getModuleBase); }

bool endsInSeparator(const char *text, std::size_t length) {
  return length > 0 && (text[length - 1] == '/' || text[length - 1] == '\\');
}

// Copies at most limit characters of path into buffer and appends '/'
// unless the kept text ends in a separator; buffer holds limit + 2 bytes.
void storeFolder(char *buffer, const char *path, std::size_t limit) {
  std::size_t length = strnlen(path, limit);
  std::memcpy(buffer, path, length);
  if (!endsInSeparator(buffer, length)) buffer[length++] = '/';
  buffer[length] = '\0';
}

} // namespace

const char *getModulePath() {
  // The module's file does not change while it is loaded: its name is read
  // once, at the first query, and never written again, so that instances
  // created on several threads at once only read the buffer.
  static const bool read = [] {
    modulePathBuffer[0] = '\0';
    platform::moduleFileName(ownCodeAddress(), modulePathBuffer, sizeof modulePathBuffer);
    return true;
  }();
  (void)read;
  return modulePathBuffer;
}

const void *getModuleBase() { return platform::moduleBase(ownCodeAddress()); }

bool deriveResourcePath(char *buffer, std::size_t size) {
  if (size == 0) return false;
  if (buffer[0] == '\0') return false;
  // Drop the file name and the two folders above it; the third separator
  // from the end stays.  Fewer separators end the cutting early, and the
  // root folder is its own parent: its separator always stays.
  for (int cut = 0; cut < 3; ++cut) {
    char *separator = std::strrchr(buffer, '/');
    if (separator == nullptr) break;
    if (separator == buffer) {
      buffer[1] = '\0';
      break;
    }
    separator[cut < 2 ? 0 : 1] = '\0';
  }
  const std::size_t length = std::strlen(buffer);
  if (length + sizeof kResourcesFolder > size) {
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer + length, kResourcesFolder, sizeof kResourcesFolder);
  return true;
}

const char *getResourcePath(ModelInstanceData *instance) {
  if (instance != nullptr && instance->resourcePath[0] != '\0') return instance->resourcePath;
  if (resourcePathPending != 0 && defaultResourcePath == nullptr) {
    resourcePathPending = 0;
    defaultResourceBuffer[0] = '\0';
    if (platform::moduleFileName(ownCodeAddress(), defaultResourceBuffer,
                                 sizeof defaultResourceBuffer) != 0 &&
        deriveResourcePath(defaultResourceBuffer, sizeof defaultResourceBuffer)) {
      defaultResourcePath = defaultResourceBuffer;
    }
  }
  return defaultResourcePath != nullptr ? defaultResourcePath : kFallbackResourcePath;
}

void setResourcePath(ModelInstanceData *instance, const char *path) {
  const bool given = path != nullptr && path[0] != '\0';
  if (instance != nullptr) {
    instance->resourcePath[0] = '\0';
    if (given) storeFolder(instance->resourcePath, path, sizeof instance->resourcePath - 2);
    return;
  }
  if (!given) {
    defaultResourcePath = nullptr;
    return;
  }
  storeFolder(defaultResourceBuffer, path, sizeof defaultResourceBuffer - 2);
  defaultResourcePath = defaultResourceBuffer;
}

void setDefaultResourcePath(const char *path) { setResourcePath(nullptr, path); }

char16_t *utf8ToWide(const char *text) {
  const std::size_t length = std::strlen(text);
  auto *wide = static_cast<char16_t *>(std::malloc(2 * length + 2));
  if (wide == nullptr) return nullptr;
  const auto *in = reinterpret_cast<const unsigned char *>(text);
  char16_t *out = wide;
  while (*in != 0) {
    const unsigned lead = *in;
    if (lead < 0x80) {
      *out++ = static_cast<char16_t>(lead);
      in += 1;
    } else if ((lead & 0xE0) == 0xC0) {
      if (in[1] == 0) break;
      *out++ = static_cast<char16_t>(((lead & 0x1F) << 6) | (in[1] & 0x3F));
      in += 2;
    } else {
      if (in[1] == 0 || in[2] == 0) break;
      *out++ =
          static_cast<char16_t>(((lead & 0x0F) << 12) | ((in[1] & 0x3F) << 6) | (in[2] & 0x3F));
      in += 3;
    }
  }
  *out = 0;
  return wide;
}

namespace {

// The file to load for one library name: "./" names (also written ".\")
// from the module's folder when the module path is known.
std::string libraryFile(const char *name, const char *modulePath) {
  const bool local = name[0] == '.' && (name[1] == '/' || name[1] == '\\');
  if (!local) return name;
  if (modulePath == nullptr || modulePath[0] == '\0') return std::string("./") + (name + 2);
  const char *separator = std::strrchr(modulePath, '/');
  std::string file;
  if (separator != nullptr) file.assign(modulePath, separator + 1);
  return file + (name + 2);
}

} // namespace

// The handle array holds one handle per name and, in the slot after the last
// name, the unit's own handle that keeps its exports (the utility functions
// of external C code, ModelicaError and the rest) in the global scope while
// the libraries are loaded: a library binds to them when it is loaded.
void loadExternalLibraries(const char **names, void ***handles, int load, const char *modulePath) {
  if (handles == nullptr) return;
  std::size_t count = 0;
  while (names != nullptr && names[count] != nullptr) ++count;
  if (load == 0) {
    if (*handles == nullptr) return;
    for (std::size_t i = 0; i < count; ++i) {
      platform::moduleRelease((*handles)[i]);
      (*handles)[i] = nullptr;
    }
    platform::moduleRelease((*handles)[count]);
    std::free(*handles);
    *handles = nullptr;
    return;
  }
  if (count == 0) return;
  if (*handles == nullptr) {
    *handles = static_cast<void **>(std::calloc(count + 1, sizeof(void *)));
    if (*handles == nullptr) return;
  }
  void **shared = &(*handles)[count];
  if (*shared == nullptr) *shared = platform::moduleShareSymbols(ownCodeAddress());
  for (std::size_t i = 0; i < count; ++i) {
    if ((*handles)[i] != nullptr) continue;
    try {
      (*handles)[i] = platform::moduleLoad(libraryFile(names[i], modulePath).c_str());
    } catch (const std::bad_alloc &) {
      // No room for the file name: this library stays unloaded.
    }
  }
}
