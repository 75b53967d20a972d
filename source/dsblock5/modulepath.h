#pragma once
// Where the unit lies and what it loads: the module's own file name, the
// resources folder (per instance, process-wide default, or derived from the
// module's location) and the model's external function libraries.
//
// The process-wide buffers here are changed without locks: the module path
// is written once, at its first query; the default resources folder is
// written when it is set or first derived.
//
// Paths on this platform use '/'.  A folder derived from the module file is
// the folder two levels above the module's own folder followed by
// "resources/": <unit>/binaries/linux64/vornwin3264.so gives <unit>/resources/.

#include <cstddef>

struct ModelInstanceData;

// Size of the process-wide path buffers, terminator included.
inline constexpr std::size_t kModulePathBufferSize = 1000;

// Full file name of the module that holds the runtime (the unit's shared
// library, or the executable it is linked into).  Never null; empty when the
// name cannot be read or is longer than the buffer.  The name is read into
// the process-wide buffer that it returns once, at the first call; later
// calls (from any thread) only return it.
const char *getModulePath();

// Load address of the module that holds the runtime's code.
const void *getModuleBase();

// The resources folder: the instance's own when it has one, else the
// process-wide default (derived from the module file at the first query
// that finds none set), else "VantrelResources/".
const char *getResourcePath(ModelInstanceData *instance);

// Stores a resources folder and makes it end in a separator.  For an
// instance at most 1022 characters are kept (the field holds 1024 bytes);
// a null or empty path clears the instance's folder.  For a null instance
// the text becomes the process-wide default, at most 998 characters of it;
// a null or empty path removes the default.
void setResourcePath(ModelInstanceData *instance, const char *path);
// setResourcePath with a null instance.
void setDefaultResourcePath(const char *path);

// Turns the module file name held in buffer (size bytes) into the resources
// folder in place.  Returns false, with buffer emptied, when the name is
// empty or the folder does not fit.
[[nodiscard]] bool deriveResourcePath(char *buffer, std::size_t size);

// A newly allocated (std::malloc) UTF-16 copy of text, 2*strlen(text) + 2
// bytes; null when the allocation fails.  The caller frees it.  Characters
// beyond U+FFFF are not formed and continuation bytes are not checked.
char16_t *utf8ToWide(const char *text);

// load 1: loads every library of names (null-terminated) into *handles,
// allocating the zero-filled handle array (standard heap) when *handles is
// null; a handle already set is not loaded again.  A name that begins with
// "./" (or ".\") is taken from the folder of modulePath when that is not
// empty; any other name is loaded as given.  A library that cannot be
// loaded leaves its handle null, and a failed array allocation loads
// nothing; neither is reported.
// While libraries are loaded the unit's own module stays in the process's
// global scope (one more handle, kept in the array after the names'), so that
// they bind to its exported utility functions (ModelicaError and the rest).
// load 0: releases every handle, frees the array and sets *handles to null.
void loadExternalLibraries(const char **names, void ***handles, int load, const char *modulePath);
