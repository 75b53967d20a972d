// The utility interface of external functions on the runtime's message path
// and character area.  Formatted texts go through 4000-byte buffers in the
// "C" locale; a longer text is cut and stays terminated.
#include "source/ModelicaUtilities.h"

#include "source/clocale/clocale_io.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"

#include <climits>
#include <cstdlib>

namespace {

constexpr std::size_t kFormatBufferSize = 4000;

void formatInto(char (&buffer)[kFormatBufferSize], const char *format, va_list args) {
  (void)vsnprintfC(buffer, sizeof buffer, format, args);
}

} // namespace

void ModelicaMessage(const char *string) { appendPendingText(string); }

void ModelicaFormatMessage(const char *format, ...) {
  char text[kFormatBufferSize];
  va_list args;
  va_start(args, format);
  formatInto(text, format, args);
  va_end(args);
  appendPendingText(text);
}

void ModelicaVFormatMessage(const char *format, va_list args) {
  char text[kFormatBufferSize];
  formatInto(text, format, args);
  ModelicaFormatMessage("%s", text);
}

void ModelicaWarning(const char *string) { ModelicaFormatWarning("%s", string); }

void ModelicaFormatWarning(const char *format, ...) {
  va_list args;
  va_start(args, format);
  ModelicaVFormatWarning(format, args);
  va_end(args);
}

void ModelicaVFormatWarning(const char *format, va_list args) {
  char text[kFormatBufferSize];
  formatInto(text, format, args);
  ModelicaFormatMessage("Warning: %s\n", text);
}

void ModelicaError(const char *string) { raiseModelError(string); }

void ModelicaFormatError(const char *format, ...) {
  char text[kFormatBufferSize];
  va_list args;
  va_start(args, format);
  formatInto(text, format, args);
  va_end(args);
  raiseModelError(text);
}

void ModelicaVFormatError(const char *format, va_list args) {
  char text[kFormatBufferSize];
  formatInto(text, format, args);
  ModelicaFormatError("%s", text);
}

char *ModelicaAllocateString(std::size_t len) {
  // A length beyond int cannot fit the area; it fails as a full area does.
  char *string =
      allocSimplestring(len > static_cast<std::size_t>(INT_MAX) ? -1 : static_cast<int>(len));
  string[len] = '\0';
  return string;
}

char *ModelicaAllocateStringWithErrorReturn(std::size_t len) {
  ThreadContext *context = getThreadContext();
  if (context == nullptr) return nullptr;
  initThreadBuffers();
  if (context->EndRealbuffer == nullptr) return nullptr;
  std::size_t room = static_cast<std::size_t>(context->Endsimplestring - context->stringmark);
  // stringmark + len + 1 < Endsimplestring, without forming the pointer.
  if (len >= room || len + 1 >= room) return nullptr;
  return ModelicaAllocateString(len);
}
