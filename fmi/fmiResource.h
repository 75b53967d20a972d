// The resources folder of an instance from the host's resource location.
#pragma once

#include <cstddef>

// Accepts "file:" with an optional "//" authority that is empty or
// "localhost", followed by an absolute POSIX path; "%XX" escapes are
// decoded.  Writes the path (leading '/' kept, at most size-1 characters)
// into out and returns true; returns false (out empty) for any other
// location, a null one included.
[[nodiscard]] bool fmiResourceFolder(const char *location, char *out, size_t size);
