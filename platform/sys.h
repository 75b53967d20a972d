#pragma once
// The system calls of the external functions, the matrix files and the
// serializer (files, directories, streams, memory mappings and descriptors,
// working directory, environment, clock, process id and the heap of the
// open-file cache), behind one record so that tests can make any of them
// fail.  Defaults: the POSIX and C library calls of the same name, with one
// stand-in: renameNoReplace renames only when the new name does not exist yet.
// Process-wide; tests swap a field and put it back (SystemCallOverride,
// tests/support/system_calls.h), never while other threads use the record.

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <ctime>

namespace platform {

struct SystemCalls {
  // Files and directories.
  int (*mkdir)(const char *path, mode_t mode);
  int (*rmdir)(const char *path);
  int (*stat)(const char *path, struct stat *info);
  int (*renameNoReplace)(const char *oldName, const char *newName);
  int (*rename)(const char *oldName, const char *newName); // replaces newName
  int (*unlink)(const char *path);
  char *(*mkdtemp)(char *pattern);
  DIR *(*opendir)(const char *path);
  struct dirent *(*readdir)(DIR *dir);
  void (*rewinddir)(DIR *dir);
  int (*closedir)(DIR *dir);
  // Streams.
  std::FILE *(*fopen)(const char *path, const char *mode);
  int (*fclose)(std::FILE *stream);
  int (*fileno)(std::FILE *stream);
  int (*fstat)(int fd, struct stat *info);
  int (*getc)(std::FILE *stream);
  int (*ferror)(std::FILE *stream);
  std::size_t (*fread)(void *buffer, std::size_t size, std::size_t count, std::FILE *stream);
  std::size_t (*fwrite)(const void *buffer, std::size_t size, std::size_t count, std::FILE *stream);
  int (*fseek)(std::FILE *stream, long offset, int whence);
  int (*fgetpos)(std::FILE *stream, fpos_t *position);
  int (*fsetpos)(std::FILE *stream, const fpos_t *position);
  int (*fflush)(std::FILE *stream);
  // Memory mappings and descriptors (the serializer's file and descriptor
  // modes).
  void *(*mmap)(void *hint, std::size_t length, int protection, int flags, int fd, off_t offset);
  int (*msync)(void *address, std::size_t length, int flags);
  int (*munmap)(void *address, std::size_t length);
  ssize_t (*read)(int fd, void *buffer, std::size_t count);
  ssize_t (*write)(int fd, const void *buffer, std::size_t count);
  int (*ftruncate)(int fd, off_t length);
  int (*fsync)(int fd);
  // Working directory and environment.
  char *(*getcwd)(char *buffer, std::size_t size);
  int (*chdir)(const char *path);
  char *(*getenv)(const char *name);
  int (*setenv)(const char *name, const char *value, int overwrite);
  int (*unsetenv)(const char *name);
  // Clock and process.
  int (*clock_gettime)(clockid_t clock, struct timespec *now);
  struct tm *(*localtime_r)(const time_t *seconds, struct tm *result);
  pid_t (*getpid)();
  // Heap of the open-file cache.
  void *(*malloc)(std::size_t size);
  void (*free)(void *block);
};

extern SystemCalls sys;

// The record with every default (for putting a field back).
const SystemCalls &defaultSystemCalls();

} // namespace platform
