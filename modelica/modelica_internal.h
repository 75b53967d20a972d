#pragma once
// Private helpers of the external functions, and the open-file cache's own
// operations (exposed for the tests).

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "modelica/modelica.h"

namespace modelica {

// The system's description of errnum, in English whatever locale the host
// has set; safe to call from several threads.
const char *systemErrorText(int errnum);

// Closes a stream through the system-call record.
struct StreamCloser {
  void operator()(std::FILE *stream) const;
};
// A stream owned by the current call: closed when the owner goes, also when
// an error unwinds past it.
using OwnedStream = std::unique_ptr<std::FILE, StreamCloser>;

// Opens fileName for reading ("r"); a directory is refused with EISDIR.
// Null with errno set on failure.
std::FILE *openStreamForReading(const char *fileName);

// Removes the process's folder of temporary names when it is empty and
// forgets it, so that the next temporaryFileName makes a new one.  Runs at
// unload; a folder that another process made (inherited through fork) is
// left alone.
void releaseTemporaryFolder();

// ---- open-file cache ------------------------------------------------------------
// One entry per file name: its reading stream (null while a caller holds it)
// and the number of lines read through that stream.  A lock guards the table;
// the streams are read without it, by the one caller that took them out.

// Hands stream back to the cache as fileName's stream after `line` lines.
// With a null fileName, or when the entry cannot be stored for lack of
// memory, the stream is closed.  When the entry already holds a stream
// (handed back meanwhile by another thread), that older one is closed.
void cacheStream(std::FILE *stream, const char *fileName, int line);

// Takes fileName's stream out of the cache (or opens the file) and passes
// over skipLines lines from its start; a cached stream that already stands
// at or before that line continues from where it is.  Failure to open is
// the error "Not possible to open file ... for reading".
OwnedStream openCachedForReading(const char *fileName, int skipLines);

// Closes and removes fileName's entry; nothing without one.
void closeCachedFile(const char *fileName);

// Drops the entries that a change of fileName made stale: the entry of that
// name, and with `before` (the file's stat from before the change) every
// entry whose stream is on that file under another name.
void dropStaleCacheEntries(const char *fileName, const struct stat *before);

// Drops the entries of relative names, whose files change with the working
// directory.
void dropRelativeCacheEntries();

// Opens fileName for appending after closing its cached reading stream;
// an empty name and failure to open are errors.
OwnedStream openForAppend(const char *fileName);

// For tests: number of entries, and the line count of fileName's entry
// (-1 without an entry; -2 when its stream is out).
int cachedFileCount();
int cachedFileLine(const char *fileName);

} // namespace modelica
