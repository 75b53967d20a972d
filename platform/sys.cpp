// Defaults of the system calls of the external functions, the matrix files and
// the serializer.

#include "platform/sys.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

// rename that refuses an existing new name (EEXIST) instead of replacing it.
// The atomic form is used where the file system has it; elsewhere the name is
// examined first (a target created in between is then replaced).
int renameNoReplaceDefault(const char *oldName, const char *newName) {
  if (::renameat2(AT_FDCWD, oldName, AT_FDCWD, newName, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  struct stat info;
  if (::lstat(newName, &info) == 0) {
    errno = EEXIST;
    return -1;
  }
  return std::rename(oldName, newName);
}

int statDefault(const char *path, struct stat *info) { return ::stat(path, info); }
int fstatDefault(int fd, struct stat *info) { return ::fstat(fd, info); }
int getcDefault(std::FILE *stream) { return std::getc(stream); }
int filenoDefault(std::FILE *stream) { return ::fileno(stream); }
int ferrorDefault(std::FILE *stream) { return std::ferror(stream); }
pid_t getpidDefault() { return ::getpid(); }

constexpr SystemCalls defaults = {
    .mkdir = ::mkdir,
    .rmdir = ::rmdir,
    .stat = statDefault,
    .renameNoReplace = renameNoReplaceDefault,
    .rename = std::rename,
    .unlink = ::unlink,
    .mkdtemp = ::mkdtemp,
    .opendir = ::opendir,
    .readdir = ::readdir,
    .rewinddir = ::rewinddir,
    .closedir = ::closedir,
    .fopen = std::fopen,
    .fclose = std::fclose,
    .fileno = filenoDefault,
    .fstat = fstatDefault,
    .getc = getcDefault,
    .ferror = ferrorDefault,
    .fread = std::fread,
    .fwrite = std::fwrite,
    .fseek = std::fseek,
    .fgetpos = std::fgetpos,
    .fsetpos = std::fsetpos,
    .fflush = std::fflush,
    .mmap = ::mmap,
    .msync = ::msync,
    .munmap = ::munmap,
    .read = ::read,
    .write = ::write,
    .ftruncate = ::ftruncate,
    .fsync = ::fsync,
    .getcwd = ::getcwd,
    .chdir = ::chdir,
    .getenv = std::getenv,
    .setenv = ::setenv,
    .unsetenv = ::unsetenv,
    .clock_gettime = ::clock_gettime,
    .localtime_r = ::localtime_r,
    .getpid = getpidDefault,
    .malloc = std::malloc,
    .free = std::free,
};

} // namespace

SystemCalls sys = defaults;

const SystemCalls &defaultSystemCalls() { return defaults; }

} // namespace platform
