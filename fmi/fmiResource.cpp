// Resource locations are URIs; only local "file:" URIs name a folder that
// the runtime can use.  The three spellings a host produces for a local path
// ("file:/p", "file:///p", "file://localhost/p") all give the path p with its
// leading '/', and percent escapes are decoded.
#include "fmi/fmiResource.h"

#include <cstring>

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

} // namespace

bool fmiResourceFolder(const char *location, char *out, size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  if (location == nullptr || std::strncmp(location, "file:", 5) != 0) return false;
  const char *path = location + 5;
  if (std::strncmp(path, "//", 2) == 0) {
    const char *authority = path + 2;
    const char *slash = std::strchr(authority, '/');
    if (slash == nullptr) return false;
    const size_t length = static_cast<size_t>(slash - authority);
    if (length != 0 && !(length == 9 && std::strncmp(authority, "localhost", 9) == 0)) {
      return false; // a file on another host
    }
    path = slash;
  }
  if (path[0] != '/') return false;
  size_t n = 0;
  for (const char *s = path; *s != '\0' && n + 1 < size; ++s) {
    int high = -1, low = -1;
    if (*s == '%' && (high = hexValue(s[1])) >= 0 && (low = hexValue(s[2])) >= 0 &&
        (high | low) != 0) {
      out[n++] = static_cast<char>(high * 16 + low);
      s += 2;
    } else {
      out[n++] = *s; // a '%' without two hex digits (or "%00") stays as it is
    }
  }
  out[n] = '\0';
  return true;
}
