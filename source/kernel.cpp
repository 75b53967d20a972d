// Kernel context and the kernel writer.  The fixed-length printing
// functions, whose lines of type 0 go out as runtime messages, are in
// kernel_print.cpp: the messages read the option word of this context.
#include "source/kernel.h"

#include "source/clocale/clocale_io.h"

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
