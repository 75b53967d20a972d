#pragma once
// The utility interface that external functions use to report messages,
// warnings and errors and to allocate result strings.  Messages and warnings
// are appended to the pending text of the instance under evaluation (level 0),
// not logged at once; errors are model errors and never return.  Formatted
// texts are cut at 3999 characters.  Allocated strings live in the calling
// thread's character area until the evaluation completes.

#include <cstdarg>
#include <cstddef>

// The names keep C linkage, as external C code declares them, and are
// exported from the unit beside the fmi2 functions so that a model's external
// libraries bind to them.  Protected visibility: exported, while the unit's
// own calls still bind to its own definitions, whatever else the process
// defines under these names.
#define MODELICA_UTILITY __attribute__((visibility("protected")))

extern "C" {

MODELICA_UTILITY void ModelicaMessage(const char *string);
MODELICA_UTILITY void ModelicaFormatMessage(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
MODELICA_UTILITY void ModelicaVFormatMessage(const char *format, va_list args);
MODELICA_UTILITY void ModelicaWarning(const char *string);
MODELICA_UTILITY void ModelicaFormatWarning(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
MODELICA_UTILITY void ModelicaVFormatWarning(const char *format, va_list args);
[[noreturn]] MODELICA_UTILITY void ModelicaError(const char *string);
[[noreturn]] MODELICA_UTILITY void ModelicaFormatError(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
[[noreturn]] MODELICA_UTILITY void ModelicaVFormatError(const char *format, va_list args);
// len characters plus the terminator (character len is set to it); a full
// area is the model error "Room to allocate string".
MODELICA_UTILITY char *ModelicaAllocateString(std::size_t len);
// As ModelicaAllocateString, but returns null when the area has no room.
MODELICA_UTILITY char *ModelicaAllocateStringWithErrorReturn(std::size_t len);

} // extern "C"
