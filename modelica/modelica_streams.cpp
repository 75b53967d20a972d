// Stream functions and the open-file cache.
//
// Models read files line by line in a loop over line numbers, so the reading
// stream of each file stays open between calls in a process-wide table keyed
// by file name (uthash), together with the number of lines read through it:
// asking for the next line continues where the last call stopped, an earlier
// line rewinds.  A caller takes a stream out of the table while it reads
// (the entry holds null meanwhile) and hands it back afterwards, so the table
// lock is held only for the lookups, never for reading.
//
// A cached stream is used only while its file is still the one it was
// opened on and unchanged since the stream was handed back: the entry keeps
// the file's identity (device and inode), size and modification and change
// times, and the name is examined anew before each use; any difference
// closes the stream and the file is opened again, as reading it from the
// start would.  The library's own operations that make entries stale
// (removing, renaming and copying files, changing the working directory)
// drop them at once.
//
// The table runs out of memory softly: an entry that cannot be stored is not
// stored and its stream is closed; the next call opens the file again.  All
// of the table's memory comes from the system-call record, so that tests can
// make any of its allocations fail.

#include <cerrno>
#include <cstring>
#include <mutex>

#include "modelica/modelica_internal.h"
#include "platform/sys.h"

#define HASH_NONFATAL_OOM 1
#define uthash_malloc(size) platform::sys.malloc(size)
#define uthash_free(block, size) platform::sys.free(block)
// Set by a failed insertion; only cacheStream inserts, with addFailed in scope.
#define uthash_nonfatal_oom(element) (addFailed = true)
// Never reached with the non-fatal treatment above; an error, never an exit.
#define uthash_fatal(message) ModelicaError(message)
#include <uthash.h>

using platform::sys;

namespace {

// What tells a file apart from its earlier self.
struct FileStamp {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  timespec changed;
};

FileStamp stampOf(const struct stat &info) {
  return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool sameTime(const timespec &a, const timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool sameStamp(const FileStamp &a, const FileStamp &b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         sameTime(a.modified, b.modified) && sameTime(a.changed, b.changed);
}

struct OpenFileEntry {
  char *fileName;    // heap copy of the name; the key
  std::FILE *stream; // reading stream, null while a caller holds it
  int line;          // lines read through stream: it stands at line + 1
  FileStamp stamp;   // the file of stream when it was handed back
  UT_hash_handle hh; // table link
};

std::mutex cacheLock;
OpenFileEntry *OpenFileCache = nullptr; // guarded by cacheLock

// Lines of at most this many characters are kept while they are read; a
// longer one is read again from its start, straight into its string.
constexpr std::size_t kShortLine = 200;

OpenFileEntry *findEntry(const char *fileName) {
  OpenFileEntry *entry = nullptr;
  HASH_FIND_STR(OpenFileCache, fileName, entry);
  return entry;
}

void freeEntry(OpenFileEntry *entry) {
  sys.free(entry->fileName);
  sys.free(entry);
}

// Reads characters up to and including a line feed, n times; stops early at
// the end of the file.
void passOverLines(std::FILE *stream, int n) {
  for (int i = 0; i < n; ++i) {
    int c;
    while ((c = sys.getc(stream)) != EOF && c != '\n') {}
    if (c == EOF) return;
  }
}

// Every cached stream is closed when the library goes.
struct CacheRelease {
  ~CacheRelease() {
    std::lock_guard<std::mutex> lock(cacheLock);
    OpenFileEntry *entry = nullptr;
    OpenFileEntry *next = nullptr;
    HASH_ITER(hh, OpenFileCache, entry, next) {
      HASH_DEL(OpenFileCache, entry);
      if (entry->stream != nullptr) sys.fclose(entry->stream);
      freeEntry(entry);
    }
  }
} cacheRelease;

// Closes and removes every entry that stale says is stale.  The streams are
// closed under the lock: they are only read streams, and no list of them
// needs storage that could run out.
template <class Stale> void dropEntriesWhere(Stale stale) {
  std::lock_guard<std::mutex> lock(cacheLock);
  OpenFileEntry *entry = nullptr;
  OpenFileEntry *next = nullptr;
  HASH_ITER(hh, OpenFileCache, entry, next) {
    if (!stale(static_cast<const OpenFileEntry &>(*entry))) continue;
    HASH_DEL(OpenFileCache, entry);
    if (entry->stream != nullptr) sys.fclose(entry->stream);
    freeEntry(entry);
  }
}

enum class LineStatus { ok, atEnd, noMemory, seekFailed, shortRead, readFailed };

struct LineRead {
  LineStatus status;
  int error;  // errno of a failed repositioning, short read or read
  char *text; // the line (status ok)
};

// Reads the line at the stream's position into a new string without its line
// end (a line feed, with a carriage return before it dropped).  atEnd: the
// stream held no further character.
LineRead readOneLine(std::FILE *stream) {
  fpos_t start;
  const bool positioned = sys.fgetpos(stream, &start) == 0;
  const int positionError = positioned ? 0 : errno;
  char kept[kShortLine];
  std::size_t count = 0;
  int last = 0;
  int c;
  errno = 0;
  while ((c = sys.getc(stream)) != EOF && c != '\n') {
    if (count < kShortLine) kept[count] = static_cast<char>(c);
    ++count;
    last = c;
  }
  if (c == EOF && sys.ferror(stream) != 0) {
    return {LineStatus::readFailed, errno != 0 ? errno : EIO, nullptr};
  }
  if (c == EOF && count == 0) return {LineStatus::atEnd, 0, nullptr};
  if (count != 0 && last == '\r') --count;
  char *text = ModelicaAllocateStringWithErrorReturn(count);
  if (text == nullptr) return {LineStatus::noMemory, 0, nullptr};
  if (count <= kShortLine) {
    std::memcpy(text, kept, count);
    return {LineStatus::ok, 0, text};
  }
  if (!positioned) return {LineStatus::seekFailed, positionError, nullptr};
  if (sys.fsetpos(stream, &start) != 0) {
    return {LineStatus::seekFailed, errno != 0 ? errno : EIO, nullptr};
  }
  errno = 0;
  if (sys.fread(text, 1, count, stream) != count) {
    return {LineStatus::shortRead, errno != 0 ? errno : EIO, nullptr};
  }
  // The rest of the line end, so that the stream stands after the line feed.
  while ((c = sys.getc(stream)) != EOF && c != '\n') {}
  return {LineStatus::ok, 0, text};
}

} // namespace

namespace modelica {

std::FILE *openStreamForReading(const char *fileName) {
  std::FILE *stream = sys.fopen(fileName, "re");
  if (stream == nullptr) return nullptr;
  // A directory opens on this platform, but it is no file to read.
  struct stat info;
  if (sys.fstat(sys.fileno(stream), &info) == 0 && S_ISDIR(info.st_mode)) {
    sys.fclose(stream);
    errno = EISDIR;
    return nullptr;
  }
  return stream;
}

void cacheStream(std::FILE *stream, const char *fileName, int line) {
  if (fileName == nullptr) {
    if (stream != nullptr) sys.fclose(stream);
    return;
  }
  // A stream whose file cannot be examined could never be checked before
  // its next use: it is not kept.
  struct stat info;
  if (stream != nullptr && sys.fstat(sys.fileno(stream), &info) != 0) {
    sys.fclose(stream);
    return;
  }
  const FileStamp stamp = stream != nullptr ? stampOf(info) : FileStamp{};
  std::FILE *unused = nullptr;
  {
    std::lock_guard<std::mutex> lock(cacheLock);
    if (OpenFileEntry *entry = findEntry(fileName)) {
      unused = entry->stream;
      entry->stream = stream;
      entry->line = line;
      entry->stamp = stamp;
    } else {
      const std::size_t length = std::strlen(fileName);
      entry = static_cast<OpenFileEntry *>(sys.malloc(sizeof(OpenFileEntry)));
      char *name = static_cast<char *>(sys.malloc(length + 1));
      bool addFailed = entry == nullptr || name == nullptr;
      if (!addFailed) {
        std::memcpy(name, fileName, length + 1);
        *entry = OpenFileEntry{};
        entry->fileName = name;
        entry->stream = stream;
        entry->line = line;
        entry->stamp = stamp;
        HASH_ADD_KEYPTR(hh, OpenFileCache, entry->fileName, length, entry);
      }
      if (addFailed) {
        sys.free(name);
        sys.free(entry);
        unused = stream;
      }
    }
  }
  if (unused != nullptr) sys.fclose(unused);
}

OwnedStream openCachedForReading(const char *fileName, int skipLines) {
  std::FILE *stream = nullptr;
  int line = 0;
  FileStamp stamp{};
  {
    std::lock_guard<std::mutex> lock(cacheLock);
    if (OpenFileEntry *entry = findEntry(fileName)) {
      stream = entry->stream;
      line = entry->line;
      stamp = entry->stamp;
      entry->stream = nullptr;
    }
  }
  OwnedStream owned(stream);
  if (owned) {
    // The name may designate another file by now, or the file may have
    // changed: then the stream's position and buffer tell nothing.
    struct stat info;
    if (sys.stat(fileName, &info) != 0 || !sameStamp(stampOf(info), stamp)) owned.reset();
  }
  if (owned) {
    if (skipLines > 0 && skipLines >= line) {
      passOverLines(owned.get(), skipLines - line);
      return owned;
    }
    if (sys.fseek(owned.get(), 0, SEEK_SET) == 0) {
      passOverLines(owned.get(), skipLines);
      return owned;
    }
    owned.reset();
  }
  owned.reset(openStreamForReading(fileName));
  if (!owned) {
    const int err = errno;
    ModelicaFormatError("Not possible to open file \"%s\" for reading:\n%s\n", fileName,
                        systemErrorText(err));
  }
  passOverLines(owned.get(), skipLines);
  return owned;
}

void closeCachedFile(const char *fileName) {
  OpenFileEntry *entry = nullptr;
  {
    std::lock_guard<std::mutex> lock(cacheLock);
    entry = findEntry(fileName);
    if (entry != nullptr) HASH_DEL(OpenFileCache, entry);
  }
  if (entry == nullptr) return;
  if (entry->stream != nullptr) sys.fclose(entry->stream);
  freeEntry(entry);
}

void dropStaleCacheEntries(const char *fileName, const struct stat *before) {
  dropEntriesWhere([&](const OpenFileEntry &entry) {
    const bool sameFile = before != nullptr && entry.stamp.device == before->st_dev &&
                          entry.stamp.inode == before->st_ino;
    return sameFile || std::strcmp(entry.fileName, fileName) == 0;
  });
}

void dropRelativeCacheEntries() {
  dropEntriesWhere([](const OpenFileEntry &entry) { return entry.fileName[0] != '/'; });
}

OwnedStream openForAppend(const char *fileName) {
  if (fileName[0] == '\0')
    ModelicaError("fileName is an empty string.\nOpening of file is aborted\n");
  closeCachedFile(fileName);
  OwnedStream stream(sys.fopen(fileName, "ae"));
  if (!stream) {
    const int err = errno;
    ModelicaFormatError("Not possible to open file \"%s\" for writing:\n%s\n", fileName,
                        systemErrorText(err));
  }
  return stream;
}

int cachedFileCount() {
  std::lock_guard<std::mutex> lock(cacheLock);
  return static_cast<int>(HASH_COUNT(OpenFileCache));
}

int cachedFileLine(const char *fileName) {
  std::lock_guard<std::mutex> lock(cacheLock);
  const OpenFileEntry *entry = findEntry(fileName);
  if (entry == nullptr) return -1;
  return entry->stream != nullptr ? entry->line : -2;
}

} // namespace modelica

using modelica::OwnedStream;
using modelica::systemErrorText;

extern "C" {

void printToFile(const char *string, const char *fileName) {
  if (fileName[0] == '\0') {
    ModelicaFormatMessage("%s\n", string);
    return;
  }
  OwnedStream stream = modelica::openForAppend(fileName);
  const std::size_t length = std::strlen(string);
  errno = 0;
  bool written = sys.fwrite(string, 1, length, stream.get()) == length &&
                 sys.fwrite("\n", 1, 1, stream.get()) == 1;
  int err = errno;
  if (written) {
    // The text reaches the file at the close, where a full disk shows.
    errno = 0;
    written = sys.fclose(stream.release()) == 0;
    err = errno;
  }
  if (!written) {
    stream.reset();
    ModelicaFormatError("Error when writing string to file \"%s\":\n%s\n", fileName,
                        systemErrorText(err != 0 ? err : EIO));
  }
}

int countLines(const char *fileName) {
  OwnedStream stream = modelica::openCachedForReading(fileName, 0);
  // A line counts at its first character.
  int count = 0;
  int previous = '\n';
  int c;
  errno = 0;
  while ((c = sys.getc(stream.get())) != EOF) {
    if (previous == '\n') ++count;
    previous = c;
  }
  if (sys.ferror(stream.get()) != 0) {
    const int err = errno != 0 ? errno : EIO;
    stream.reset();
    ModelicaFormatError("Error when reading line %lu from file\n\"%s\":\n%s\n",
                        static_cast<unsigned long>(count) + (previous == '\n' ? 1 : 0), fileName,
                        systemErrorText(err));
  }
  return count;
}

void readFile(const char *fileName, const char **strings, std::size_t nLines) {
  OwnedStream stream = modelica::openCachedForReading(fileName, 0);
  for (std::size_t i = 1; i <= nLines; ++i) {
    LineRead read = readOneLine(stream.get());
    const auto number = static_cast<unsigned long>(i);
    switch (read.status) {
    case LineStatus::ok:
      break;
    case LineStatus::atEnd:
      // Lines beyond the end (the file shrank since it was counted) are empty.
      read.text = ModelicaAllocateStringWithErrorReturn(0);
      if (read.text != nullptr) break;
      [[fallthrough]];
    case LineStatus::noMemory:
      stream.reset();
      ModelicaFormatError("Not enough memory to allocate string for reading line %lu from "
                          "file\n\"%s\".\n(this file contains %lu lines)\n",
                          number, fileName, static_cast<unsigned long>(nLines));
    case LineStatus::shortRead:
      stream.reset();
      ModelicaFormatError("Error when reading line %lu from file\n\"%s\"\n", number, fileName);
    case LineStatus::seekFailed:
    case LineStatus::readFailed:
      stream.reset();
      ModelicaFormatError("Error when reading line %lu from file\n\"%s\":\n%s\n", number, fileName,
                          systemErrorText(read.error));
    }
    strings[i - 1] = read.text;
  }
}

const char *readLine(const char *fileName, int lineNumber, int *endOfFile) {
  if (lineNumber < 1) {
    // Refused before the cache is touched: there is no line 0, and a stream
    // handed back under it would stand one line off its count.
    ModelicaFormatError("Error when reading line %i from file\n\"%s\":\n%s", lineNumber, fileName,
                        systemErrorText(EINVAL));
  }
  OwnedStream stream = modelica::openCachedForReading(fileName, lineNumber - 1);
  const LineRead read = readOneLine(stream.get());
  if (read.status == LineStatus::ok) {
    modelica::cacheStream(stream.release(), fileName, lineNumber);
    *endOfFile = 0;
    return read.text;
  }
  stream.reset();
  modelica::closeCachedFile(fileName);
  if (read.status == LineStatus::atEnd) {
    *endOfFile = 1;
    return ModelicaAllocateString(0);
  }
  const char *reason = read.status == LineStatus::noMemory
                           ? "Not enough memory to allocate string for reading line."
                           : systemErrorText(read.error);
  ModelicaFormatError("Error when reading line %i from file\n\"%s\":\n%s", lineNumber, fileName,
                      reason);
}

void closeFile(const char *fileName) { modelica::closeCachedFile(fileName); }

} // extern "C"
