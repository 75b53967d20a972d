// The kernel's fixed-length printing: trimmed texts, with a number, as lines
// of the kernel's text output; lines of type 0 go out as runtime messages
// (logText), the others through the kernel writer (kernel.cpp).
#include "source/kernel.h"

#include "source/clocale/clocale_io.h"
#include "source/runtime_messages.h"

#include <algorithm>

// ---- fixed-length printing -------------------------------------------------

int copyFixedString(const char *src, int srcLength, char *dst, int dstSize) {
  if (dst == nullptr || dstSize <= 0) return 0;
  int limit = std::min(dstSize - 2, srcLength);
  int n = 0;
  if (src != nullptr) {
    while (n < limit && src[n] != '\0') {
      dst[n] = src[n];
      ++n;
    }
  }
  while (n > 1 && dst[n - 1] == ' ') --n;
  dst[n] = '\0';
  return n;
}

namespace {

void deliverLine(int type, const char *line) {
  if (type == 0) {
    logText(line);
    return;
  }
  kernelWrite(type, line);
  kernelWrite(type, "\n");
}

} // namespace

void kernelPrintText(int type, const char *text) { deliverLine(type, text); }

void kernelPrintFixed(int type, const char *text, int length) {
  char line[200];
  copyFixedString(text, length, line, 200);
  deliverLine(type, line);
}

void kernelPrintInt(int type, const char *text, const int *value, int length) {
  char line[200];
  int n = copyFixedString(text, length, line, 185);
  snprintfC(line + n, sizeof line - static_cast<std::size_t>(n), " %d", *value);
  deliverLine(type, line);
}

void kernelPrintReal(int type, const char *text, const double *value, int length) {
  char line[200];
  int n = copyFixedString(text, length, line, 180);
  snprintfC(line + n, sizeof line - static_cast<std::size_t>(n), " %G", *value);
  deliverLine(type, line);
}

void logFixedInt(const char *text, const int *value, int length) {
  char line[200];
  int n = copyFixedString(text, length, line, 185);
  snprintfC(line + n, sizeof line - static_cast<std::size_t>(n), " %d", *value);
  logText(line);
}
