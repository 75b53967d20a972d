// File-system functions and directory streams.
//
// Names go to the system unchanged: '/' is the separator and '\' an ordinary
// character.  The directory streams are the native ones, wrapped so that a
// stream counts the entries it has found in a wide counter (a folder of any
// size is listed whole) and keeps the errno conventions of the interface.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "modelica/modelica_internal.h"
#include "platform/sys.h"
#include "source/clocale/clocale_io.h"

using platform::sys;

using modelica::OwnedStream;
using modelica::systemErrorText;

namespace {

// Mode bits of new directories, before the process's umask.
constexpr mode_t kDirectoryMode = 0777;
// Size of the buffers of full path names and of the working directory,
// terminator included.
constexpr std::size_t kPathBufferSize = 1024;
constexpr std::size_t kCopyBlockSize = 512;

int examineKind(const char *name) {
  struct stat info;
  if (sys.stat(name, &info) != 0) return 0;
  if (S_ISREG(info.st_mode)) return FileKindRegular;
  if (S_ISDIR(info.st_mode)) return FileKindDirectory;
  return FileKindOther;
}

[[noreturn]] void cannotCopy(const char *oldName, int err) {
  ModelicaFormatError("\"%s\" cannot be copied:\n%s", oldName, systemErrorText(err));
}

// ---- temporary names --------------------------------------------------------------
//
// Temporary names lie in a folder private to the process, made with mkdtemp
// (mode 0700) under TMPDIR, else /tmp, by the first request: no other user
// can create a file under a name handed out, and a process-wide counter
// numbers the names, so no two requests get the same one.  The folder's
// record is published with one compare-exchange, without a lock: of two
// threads that make a folder at once, the loser removes its own and takes the
// winner's, and a failed attempt leaves nothing behind, so a later request
// tries again.  A process made by fork inherits its parent's record and makes
// a folder of its own, so that it neither shares names with its parent nor
// removes the parent's folder.

// Room behind the folder's path for "/tmp" and a counter.
constexpr std::size_t kNameRoom = 32;

struct TemporaryFolder {
  pid_t owner;                // the process that made the folder
  TemporaryFolder *inherited; // the record inherited through fork, or null
  char path[kPathBufferSize - kNameRoom];
};

std::atomic<TemporaryFolder *> temporaryFolder{nullptr};
std::atomic<unsigned long> temporaryCount{0};

[[noreturn]] void noTemporaryName(int err) {
  ModelicaFormatError("Not possible to get temporary filename\n%s", systemErrorText(err));
}

// The calling process's folder of temporary names, made when it has none.
const TemporaryFolder &processTemporaryFolder() {
  const pid_t self = sys.getpid();
  TemporaryFolder *current = temporaryFolder.load(std::memory_order_acquire);
  if (current != nullptr && current->owner == self) return *current;

  const char *base = sys.getenv("TMPDIR");
  if (base == nullptr || base[0] == '\0') base = "/tmp";
  static constexpr char kPattern[] = "modelica-XXXXXX";
  const std::size_t baseLength = std::strlen(base);
  const bool slash = base[baseLength - 1] == '/';
  std::unique_ptr<TemporaryFolder> made(new (std::nothrow) TemporaryFolder);
  if (made == nullptr) noTemporaryName(ENOMEM);
  if (baseLength + (slash ? 0 : 1) + sizeof kPattern > sizeof made->path) {
    noTemporaryName(ENAMETOOLONG);
  }
  std::memcpy(made->path, base, baseLength);
  std::size_t at = baseLength;
  if (!slash) made->path[at++] = '/';
  std::memcpy(made->path + at, kPattern, sizeof kPattern);
  if (sys.mkdtemp(made->path) == nullptr) noTemporaryName(errno);
  made->owner = self;
  made->inherited = current;
  if (temporaryFolder.compare_exchange_strong(current, made.get(), std::memory_order_acq_rel,
                                              std::memory_order_acquire)) {
    return *made.release();
  }
  // Another thread of the process was first; current is its record.
  sys.rmdir(made->path);
  return *current;
}

} // namespace

void modelica::releaseTemporaryFolder() {
  TemporaryFolder *folder = temporaryFolder.exchange(nullptr, std::memory_order_acq_rel);
  const pid_t self = sys.getpid();
  while (folder != nullptr) {
    // rmdir removes only an empty folder.
    if (folder->owner == self) sys.rmdir(folder->path);
    TemporaryFolder *inherited = folder->inherited;
    delete folder;
    folder = inherited;
  }
}

namespace {

// Runs when the library is unloaded (or the program ends).
__attribute__((destructor)) void removeTemporaryFolderAtUnload() {
  modelica::releaseTemporaryFolder();
}

} // namespace

extern "C" {

// ---- file functions ---------------------------------------------------------------

void makeDirectory(const char *directoryName) {
  if (sys.mkdir(directoryName, kDirectoryMode) != 0) {
    const int err = errno;
    ModelicaFormatError("Not possible to create new directory\n\"%s\":\n%s", directoryName,
                        systemErrorText(err));
  }
}

void removeDirectory(const char *directoryName) {
  if (sys.rmdir(directoryName) != 0) {
    const int err = errno;
    ModelicaFormatError("Not possible to remove directory\n\"%s\":\n%s", directoryName,
                        systemErrorText(err));
  }
}

int statFileKind(const char *name) {
  int kind = examineKind(name);
  if (kind != 0) return kind;
  // "file/" or "dir/": the name without its final separator.  There are no
  // drive names on this platform.
  const std::size_t length = std::strlen(name);
  if (length > 1 && name[length - 1] == '/') {
    try {
      const std::string bare(name, length - 1);
      kind = examineKind(bare.c_str());
    } catch (const std::bad_alloc &) {
      // Without memory the first examination stands.
    }
  }
  return kind != 0 ? kind : FileKindNone;
}

int fileStat(const char *name) { return statFileKind(name); }

// Removing, renaming and copying drop the open-file cache's entries of the
// names they change (and of the file they move, under any name), so that no
// cached stream outlives the file its name designated.

void renameFile(const char *oldName, const char *newName) {
  struct stat before;
  const bool known = sys.stat(oldName, &before) == 0;
  if (sys.renameNoReplace(oldName, newName) != 0) {
    const int err = errno;
    ModelicaFormatError("renaming \"%s\" to \"%s\" failed:\n%s", oldName, newName,
                        systemErrorText(err));
  }
  modelica::dropStaleCacheEntries(oldName, known ? &before : nullptr);
  modelica::dropStaleCacheEntries(newName, nullptr);
}

void removeFile(const char *fileName) {
  struct stat before;
  const bool known = sys.stat(fileName, &before) == 0;
  if (sys.unlink(fileName) != 0) {
    const int err = errno;
    ModelicaFormatError("Not possible to remove file \"%s\":\n%s", fileName, systemErrorText(err));
  }
  modelica::dropStaleCacheEntries(fileName, known ? &before : nullptr);
}

void copyFile(const char *oldName, const char *newName) {
  switch (statFileKind(oldName)) {
  case FileKindNone:
    ModelicaFormatError("\"%s\" cannot be copied\nbecause it does not exist", oldName);
  case FileKindDirectory:
    ModelicaFormatError("\"%s\" cannot be copied\nbecause it is a directory", oldName);
  case FileKindOther:
    ModelicaFormatError("\"%s\" cannot be copied\nbecause it is not a regular file", oldName);
  default:
    break;
  }
  if (statFileKind(newName) != FileKindNone) {
    ModelicaFormatError("\"%s\" cannot be copied\nbecause the target \"%s\" exists", oldName,
                        newName);
  }
  OwnedStream source(sys.fopen(oldName, "rbe"));
  if (!source) cannotCopy(oldName, errno);
  // "x": a target that appeared since the check above is not overwritten.
  OwnedStream target(sys.fopen(newName, "wbxe"));
  if (!target) {
    const int err = errno;
    source.reset();
    ModelicaFormatError("\"%s\" cannot be copied to \"%s\":\n%s", oldName, newName,
                        systemErrorText(err));
  }
  // The name designates the new file from here on.
  modelica::dropStaleCacheEntries(newName, nullptr);
  char block[kCopyBlockSize] = {};
  bool written = true;
  // A read error ends the reading like the end of the file; it must not pass
  // for a complete copy.
  int readError = 0;
  for (;;) {
    errno = 0;
    const std::size_t n = sys.fread(block, 1, sizeof block, source.get());
    if (n == 0) {
      if (sys.ferror(source.get()) != 0) readError = errno != 0 ? errno : EIO;
      break;
    }
    if (sys.fwrite(block, 1, n, target.get()) < n) {
      written = false;
      break;
    }
  }
  source.reset();
  // Buffered data reaches the file at the close, where a full disk shows.
  if (sys.fclose(target.release()) != 0) written = false;
  if (!written || readError != 0) {
    // The target was created above; a partial copy does not stay behind.
    sys.unlink(newName);
    if (!written) ModelicaFormatError("Error writing to file \"%s\".", newName);
    cannotCopy(oldName, readError);
  }
}

void readDirectory(const char *directory, int nNames, const char **names) {
  DirectoryStream *stream = openDirectory(directory);
  if (stream == nullptr) {
    const int err = errno;
    ModelicaFormatError("1: Not possible to get file names of \"%s\":\n%s", directory,
                        systemErrorText(err));
  }
  int count = 0;
  errno = 0;
  while (DirectoryEntry *entry = readDirectoryEntry(stream)) {
    if (std::strcmp(entry->name, ".") == 0 || std::strcmp(entry->name, "..") == 0) continue;
    if (count >= nNames) {
      closeDirectory(stream);
      ModelicaFormatError("Not possible to get file names of \"%s\":\nMore files in this "
                          "directory as reported by nFiles (= %i)",
                          directory, nNames);
    }
    char *copy = ModelicaAllocateStringWithErrorReturn(entry->namlen);
    if (copy == nullptr) {
      const int err = errno;
      closeDirectory(stream);
      if (err == 0) {
        ModelicaFormatError("Not possible to get file names of \"%s\":\nNot enough storage",
                            directory);
      }
      ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory,
                          systemErrorText(err));
    }
    std::memcpy(copy, entry->name, entry->namlen);
    names[count++] = copy;
  }
  const int err = errno;
  if (err != 0) {
    closeDirectory(stream);
    ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory,
                        systemErrorText(err));
  }
  if (count != nNames) {
    closeDirectory(stream);
    ModelicaFormatError("Not possible to get file names of \"%s\":\nLess files (= %d) found as "
                        "defined by argument nNames (= %d)",
                        directory, count, nNames);
  }
  if (closeDirectory(stream) != 0) {
    const int closeErr = errno;
    ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory,
                        systemErrorText(closeErr));
  }
}

int countDirectoryEntries(const char *directory) {
  DirectoryStream *stream = openDirectory(directory);
  if (stream == nullptr) {
    const int err = errno;
    ModelicaFormatError("Not possible to get number of files in \"%s\":\n%s", directory,
                        systemErrorText(err));
  }
  long count = 0;
  errno = 0;
  while (DirectoryEntry *entry = readDirectoryEntry(stream)) {
    if (std::strcmp(entry->name, ".") != 0 && std::strcmp(entry->name, "..") != 0) ++count;
  }
  const int err = errno;
  closeDirectory(stream);
  if (err != 0) {
    errno = err;
    ModelicaFormatError("Not possible to get number of files in \"%s\":\n%s", directory,
                        systemErrorText(err));
  }
  // More entries than an int holds cannot be counted in the result.
  if (count > INT_MAX) {
    ModelicaFormatError("Not possible to get number of files in \"%s\":\n%s", directory,
                        systemErrorText(EOVERFLOW));
  }
  return static_cast<int>(count);
}

const char *fullPathName(const char *name) {
  // The absolute form by text, as the name need not exist: the working
  // directory (already free of "." and ".." and of links) followed by name,
  // then "." dropped and ".." taking back one component (never above "/").
  std::vector<std::string> parts;
  std::string path;
  int err = 0;
  try {
    if (name[0] != '/') {
      char cwd[kPathBufferSize];
      if (sys.getcwd(cwd, sizeof cwd) == nullptr) {
        err = errno;
      } else {
        path = cwd;
        path += '/';
      }
    }
    if (err == 0) {
      path += name;
      std::size_t at = 0;
      while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(at, end - at);
        if (part == "..") {
          if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
          parts.push_back(part);
        }
        at = end + 1;
      }
      path.clear();
      for (const std::string &part : parts) {
        path += '/';
        path += part;
      }
      if (path.empty()) path = "/";
      if (path.back() != '/' && name[0] != '\0' && name[std::strlen(name) - 1] == '/') path += '/';
      if (path.size() >= kPathBufferSize) err = ENAMETOOLONG;
    }
  } catch (const std::bad_alloc &) {
    err = ENOMEM;
  }
  if (err != 0) {
    ModelicaFormatError("Not possible to construct full path name of \"%s\"\n%s", name,
                        systemErrorText(err));
  }
  char *result = ModelicaAllocateString(path.size());
  std::memcpy(result, path.data(), path.size());
  return result;
}

const char *temporaryFileName() {
  const char *folder = processTemporaryFolder().path;
  char name[kPathBufferSize];
  struct stat info;
  int length = 0;
  do {
    const unsigned long number = temporaryCount.fetch_add(1, std::memory_order_relaxed) + 1;
    length = snprintfC(name, sizeof name, "%s/tmp%lu", folder, number);
  } while (sys.stat(name, &info) == 0); // passes over names the process has used meanwhile
  char *result = ModelicaAllocateString(static_cast<std::size_t>(length));
  std::memcpy(result, name, static_cast<std::size_t>(length));
  return result;
}

void slashesToForward(char *text) {
  for (; *text != '\0'; ++text) {
    if (*text == '\\') *text = '/';
  }
}

void slashesToBackward(char *text) {
  for (; *text != '\0'; ++text) {
    if (*text == '/') *text = '\\';
  }
}

} // extern "C"

// ---- directory streams ------------------------------------------------------------

struct DirectoryStream {
  DIR *dir;             // the native stream; null only while being set up
  DirectoryEntry entry; // the entry last delivered
  long position;        // -1 finished, 0 not started, else entries found
  dirent *pending;      // found but not yet delivered (the first after opening)
};

namespace {

// Finds the next native entry; counts it.  Null at the end (errno as left by
// the system: 0 at a plain end).
dirent *findNext(DirectoryStream *stream) {
  dirent *found = sys.readdir(stream->dir);
  if (found == nullptr) {
    stream->position = -1;
    return nullptr;
  }
  ++stream->position;
  return found;
}

DirectoryEntry *deliver(DirectoryStream *stream, dirent *found) {
  stream->entry.name = found->d_name;
  stream->entry.namlen = static_cast<std::uint16_t>(std::strlen(found->d_name));
  return &stream->entry;
}

} // namespace

extern "C" {

DirectoryStream *openDirectory(const char *name) {
  errno = 0;
  if (name == nullptr) {
    errno = EFAULT;
    return nullptr;
  }
  if (name[0] == '\0') {
    errno = ENOTDIR;
    return nullptr;
  }
  struct stat info;
  if (sys.stat(name, &info) != 0) {
    errno = ENOENT;
    return nullptr;
  }
  if (!S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    return nullptr;
  }
  auto *stream = static_cast<DirectoryStream *>(sys.malloc(sizeof(DirectoryStream)));
  if (stream == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  *stream = DirectoryStream{};
  stream->dir = sys.opendir(name);
  if (stream->dir == nullptr) {
    const int err = errno;
    sys.free(stream);
    errno = err;
    return nullptr;
  }
  errno = 0;
  stream->pending = findNext(stream);
  return stream;
}

DirectoryEntry *readDirectoryEntry(DirectoryStream *stream) {
  errno = 0;
  if (stream == nullptr) {
    errno = EFAULT;
    return nullptr;
  }
  if (stream->dir == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  if (stream->position == -1) return nullptr;
  if (stream->pending != nullptr) {
    dirent *found = stream->pending;
    stream->pending = nullptr;
    return deliver(stream, found);
  }
  dirent *found = findNext(stream);
  return found != nullptr ? deliver(stream, found) : nullptr;
}

int closeDirectory(DirectoryStream *stream) {
  errno = 0;
  if (stream == nullptr) {
    errno = EFAULT;
    return -1;
  }
  const int result = stream->dir != nullptr ? sys.closedir(stream->dir) : 0;
  const int err = errno;
  sys.free(stream);
  errno = err;
  return result;
}

void rewindDirectory(DirectoryStream *stream) {
  errno = 0;
  if (stream == nullptr) {
    errno = EFAULT;
    return;
  }
  sys.rewinddir(stream->dir);
  stream->pending = nullptr;
  stream->position = 0;
}

long tellDirectory(DirectoryStream *stream) {
  errno = 0;
  if (stream == nullptr) {
    errno = EFAULT;
    return -1;
  }
  return stream->position;
}

void seekDirectory(DirectoryStream *stream, long position) {
  errno = 0;
  if (stream == nullptr) {
    errno = EFAULT;
    return;
  }
  if (position < -1) {
    errno = EINVAL;
    return;
  }
  if (position == -1) {
    stream->pending = nullptr;
    stream->position = -1;
    return;
  }
  rewindDirectory(stream);
  while (stream->position != -1 && stream->position < position) {
    if (findNext(stream) == nullptr) break;
  }
}

} // extern "C"
