// The shared library's own translation unit.  The fmi2 exports come from the
// FMI layer (linked whole); nothing else is exported.

namespace __gnu_cxx {
// The C++ runtime linked into this library frees its own allocations here
// (the exception-handling emergency pool, allocated at load).
void __freeres() noexcept;
} // namespace __gnu_cxx

namespace {

// A host that loads and unloads the unit per run would otherwise lose the
// C++ runtime's load-time pool at every unload.  Runs when the library is
// unloaded or the process ends, after every exception of the unit is over.
__attribute__((destructor)) void releaseCxxRuntimeAtUnload() { __gnu_cxx::__freeres(); }

} // namespace

namespace {

// The unit carries its own copy of the C++ runtime and its unwinder, whose
// register tables are set up by the first exception the copy raises.  An
// exception that a C++ host throws through the unit (its logger failing) is
// unwound by the host's unwinder but passes the unit's frames under the
// unit's copy, which must then be ready: one exception at load makes it so.
__attribute__((constructor)) void prepareUnwinderAtLoad() {
  try {
    throw 0;
  } catch (...) {}
}

} // namespace
