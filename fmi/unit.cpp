// The shared library's own translation unit.  The fmi2 exports come from the
// FMI layer (linked whole); nothing else is exported.

namespace __gnu_cxx {
// The C++ runtime linked into this library frees its own allocations here
// (the exception-handling emergency pool, allocated at load).
void __freeres() noexcept;
}  // namespace __gnu_cxx

namespace {

// A host that loads and unloads the unit per run would otherwise lose the
// C++ runtime's load-time pool at every unload.  Runs when the library is
// unloaded or the process ends, after every exception of the unit is over.
__attribute__((destructor)) void releaseCxxRuntimeAtUnload() { __gnu_cxx::__freeres(); }

}  // namespace
