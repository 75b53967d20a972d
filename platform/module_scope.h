#pragma once
// Making a loaded module's exported names visible to the libraries that are
// loaded after it.
//
// A host loads the unit with RTLD_LOCAL: its exports are found through the
// host's handle only, and a library that the unit loads later cannot bind to
// them.  Reopening the module with RTLD_GLOBAL adds it to the process's global
// scope, the scope every later library searches first.  This is done only
// while the unit has libraries of its own to load, and the reference that it
// takes is released with them, so that the host can still unload the unit.

namespace platform {

// Adds the module that holds codeAddress to the global scope and returns a
// handle of it, to be released with moduleRelease (platform/module.h) after
// the libraries that need its names.  Null when the module is the main
// program (whose exports are global already), lies in a namespace of its
// own (loaded with dlmopen: only the base namespace has a global scope) or
// cannot be reopened.
void *moduleShareSymbols(const void *codeAddress);

} // namespace platform
