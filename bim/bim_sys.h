// The system calls of the serializer's file and descriptor modes, behind one
// record so that tests can make them fail.  Defaults: the POSIX calls.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct bim_system_calls {
  void *(*mmap)(void *hint, size_t length, int protection, int flags, int fd, off_t offset);
  int (*msync)(void *address, size_t length, int flags);
  int (*munmap)(void *address, size_t length);
  ssize_t (*write)(int fd, const void *buffer, size_t count);
  ssize_t (*read)(int fd, void *buffer, size_t count);
  int (*ftruncate)(int fd, off_t length);
};

extern bim_system_calls bim_sys;
