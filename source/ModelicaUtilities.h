#pragma once
// The utility interface that external functions use to report messages,
// warnings and errors and to allocate result strings.  Messages and warnings
// are appended to the pending text of the instance under evaluation (level 0),
// not logged at once; errors are model errors and never return.  Formatted
// texts are cut at 3999 characters.  Allocated strings live in the calling
// thread's character area until the evaluation completes.

#include <cstdarg>
#include <cstddef>

void ModelicaMessage(const char *string);
void ModelicaFormatMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));
void ModelicaVFormatMessage(const char *format, va_list args);
void ModelicaWarning(const char *string);
void ModelicaFormatWarning(const char *format, ...) __attribute__((format(printf, 1, 2)));
void ModelicaVFormatWarning(const char *format, va_list args);
[[noreturn]] void ModelicaError(const char *string);
[[noreturn]] void ModelicaFormatError(const char *format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void ModelicaVFormatError(const char *format, va_list args);
// len characters plus the terminator (character len is set to it); a full
// area is the model error "Room to allocate string".
char *ModelicaAllocateString(std::size_t len);
// As ModelicaAllocateString, but returns null when the area has no room.
char *ModelicaAllocateStringWithErrorReturn(std::size_t len);
