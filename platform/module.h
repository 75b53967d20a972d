#pragma once
// The loaded module that holds a given code address, and loading and
// releasing of shared libraries, on the POSIX dynamic loader (dladdr,
// dlopen, dlclose).  These stand in for the module-handle, module-file-name,
// memory-query and library-load calls of a DLL.
//
// There is no process-wide library search folder here: a library in a known
// folder is loaded by its full path, and dlopen itself searches only for a
// bare file name.

#include <cstddef>

namespace platform {

// Writes the full file name of the module (shared library or executable)
// that contains codeAddress into buffer (size bytes, terminated).  The name
// is absolute and names the file as it was loaded: a relative loader name is
// taken against the working folder at the time this code was loaded, links
// are not followed, and the main program is named by /proc/self/exe.  Returns the length written,
// or 0 with buffer emptied when the module is unknown or the name does not fit in size - 1
// characters; a name is never cut.
std::size_t moduleFileName(const void *codeAddress, char *buffer, std::size_t size);

// Load address of the module that contains codeAddress, or null.
const void *moduleBase(const void *codeAddress);

// Loads the library file (full path, relative path or bare name as dlopen
// takes it), resolving all symbols now and keeping them local to the handle.
// Returns the handle, or null when the library cannot be loaded.
void *moduleLoad(const char *file);

// Releases one handle of moduleLoad; null is ignored.
void moduleRelease(void *handle);

} // namespace platform
