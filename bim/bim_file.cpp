// File mapping for the file modes of bim_dump and bim_load: an image is
// written straight into a shared writable mapping of the output file and read
// straight out of a private read-only mapping of the input file.
//
// The system calls go through the platform's system-call record
// (platform::sys) so that tests can make them fail.
#include "bim/bim_internal.h"
#include "platform/sys.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

// Files of this size or more are refused: image lengths are 32-bit and the
// image record of a file load is read as a signed size elsewhere.
static constexpr off_t bim_file_limit = off_t{1} << 31;

int bim_map_output_file(const char *name, size_t length, void **address) {
  // 0666 before the umask, as any file the process creates.
  int fd = ::open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    int err = errno;
    bim_active_hooks.report("Couldn't open file %s: %s\n", name, std::strerror(err));
    return -1;
  }
  void *p = platform::sys.mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    int err = errno;
    bim_active_hooks.report("Failed to mmap %s: %s\n", name, std::strerror(err));
    ::close(fd);
    return -1;
  }
  if (platform::sys.ftruncate(fd, off_t(length)) != 0) {
    int err = errno;
    bim_active_hooks.report("ftruncate failed: %s\n", std::strerror(err));
    platform::sys.munmap(p, length);
    ::close(fd);
    return -1;
  }
  *address = p;
  return fd;
}

int bim_map_input_file(const char *name, bim_image_record *image) {
  int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    bim_active_hooks.report("Couldn't open file %s: %s\n", name, std::strerror(err));
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    bim_active_hooks.report("Couldn't stat file %s: %s\n", name, std::strerror(err));
    return -1;
  }
  void *p = MAP_FAILED;
  int err = EFBIG;
  if (st.st_size < bim_file_limit) {
    p = platform::sys.mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    err = errno;
  }
  if (p == MAP_FAILED) {
    ::close(fd);
    bim_active_hooks.report("Failed to mmap %s: %s\n", name, std::strerror(err));
    return -1;
  }
  *image = bim_image_record{fd, p, size_t(st.st_size)};
  return 0;
}

int bim_unmap_input_file(bim_image_record *image) {
  if (image->address && platform::sys.munmap(image->address, image->size) != 0) {
    int err = errno;
    bim_active_hooks.report("Failed to munmap: %s\n", std::strerror(err));
  }
  if (image->descriptor >= 0) ::close(image->descriptor);
  image->descriptor = -1;
  image->address = nullptr;
  image->size = 0;
  return 0;
}
