// The shared library's own translation unit.  The fmi2 exports come from the
// FMI layer (linked whole); nothing else is exported.
