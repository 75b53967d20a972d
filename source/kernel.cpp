// Kernel context, kernel writer and the fixed-length printing functions.
#include "source/kernel.h"

#include "source/clocale/clocale_io.h"
#include "source/runtime_messages.h"

#include <algorithm>
#include <cstring>

KernelContext defaultKernelContext = {nullptr, nullptr, "?????", "?????", 0,
                                      0,       nullptr, nullptr, nullptr};
KernelContext *currentKernelContext = nullptr;

KernelContext *getKernelContext() {
  return currentKernelContext != nullptr ? currentKernelContext : &defaultKernelContext;
}

// ---- work arrays -----------------------------------------------------------

double *getDUSER() { return getKernelContext()->DUSER; }

int *getIUSER() { return getKernelContext()->IUSER; }

void setUserArrays(double *duser, int *iuser) {
  KernelContext *context = getKernelContext();
  context->DUSER = duser;
  context->IUSER = iuser;
}

void releaseUserArrays(const double *duser, const int *iuser) {
  KernelContext *context = getKernelContext();
  if (context->DUSER == duser && context->IUSER == iuser) {
    context->DUSER = nullptr;
    context->IUSER = nullptr;
  }
}

// ---- writers ---------------------------------------------------------------

int kernelWrite(int type, const char *text) {
  KernelContext *context = getKernelContext();
  if (context->messageCallback != nullptr) return context->messageCallback(type, text);
  if (context->suppressOutput != 0) return 0;
  std::FILE *stream = (type == 1 || type == 2) ? context->errorStream : context->outputStream;
  if (stream == nullptr || text == nullptr) return 0;
  if (context->prefixLines != 0) {
    // Every line, the first and each after a line feed that is not the last
    // character, is preceded by the source and " | ".
    const char *source = context->messageSource != nullptr ? context->messageSource : "";
    const char *line = text;
    do {
      const char *end = std::strchr(line, '\n');
      const char *next = end != nullptr ? end + 1 : line + std::strlen(line);
      fprintfC(stream, "%s | %.*s", source, static_cast<int>(next - line), line);
      line = next;
    } while (*line != '\0');
    return 0;
  }
  fprintfC(stream, "%s", text);
  fprintfC(stdout, "%s", text);
  return 0;
}

void kernelMessage(int type, const char *text) {
  if (type == 1 || type == 2) {
    const char *source = getKernelContext()->messageSource;
    char header[500];
    snprintfC(header, sizeof header,
              type == 1 ? "\n... Warning message from %s\n" : "\n... Error message from %s\n",
              source != nullptr ? source : "");
    kernelWrite(type, header);
  }
  kernelWrite(type, text);
  if (type != 0) kernelWrite(type, "\n");
}

void kernelMessageFixed(const int *type, const char *text, int length) {
  // The copy ends at the text's terminator when that comes first; the rest of
  // the buffer stays zero, so the line feed then lies behind the terminator.
  char buffer[1000] = {};
  int count = std::clamp(length, 0, 998);
  if (text != nullptr) strncpy(buffer, text, static_cast<std::size_t>(count));
  buffer[count] = '\n';
  buffer[count + 1] = '\0';
  kernelMessage(type != nullptr ? *type : 0, buffer);
}

int kernelInfoFixed(const char *text, int length) {
  const int type = 0;
  kernelMessageFixed(&type, text, length);
  return 0;
}

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
