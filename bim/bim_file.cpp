// Files for the file modes of bim_dump and bim_load.
//
// A dump writes the image to a new file next to the target and renames it
// over the target only when every byte is written and flushed: a dump that
// fails (a full file system, a file-size limit, an I/O error) leaves an
// earlier file of that name as it was, and ends no process, which writing
// through a shared mapping of the target would (SIGBUS when the blocks
// cannot be allocated).
//
// A load reads the whole file into memory of its own (an anonymous mapping)
// and the map keeps that copy: what bim_unpack reads later is the image that
// bim_check_image accepted, whatever happens to the file after the load.  A
// mapping of the file itself would follow later changes of the file, and
// reading past a truncation would end the process with SIGBUS.
//
// The system calls go through the platform's system-call record
// (platform::sys) so that tests can make them fail.
#include "bim/bim_internal.h"
#include "platform/sys.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// The largest file a load accepts: the largest image a dump writes (image
// lengths are 32-bit).
static constexpr off_t bim_file_limit = off_t{UINT32_MAX};

// At most this many bytes per read call (Linux reads less than 2 GiB at once).
static constexpr size_t bim_read_chunk = size_t{1} << 30;

// ---------------------------------------------------------------------------
// Dump
// ---------------------------------------------------------------------------

// A name for the new file beside target that no other file has yet: the
// process id and a counter make it unique among this process's dumps, and
// O_EXCL against everything else.  The descriptor, or -1 with errno set.
static int bim_create_temporary(const std::string &target, std::string *temporary) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = target + ".tmp" + std::to_string(platform::sys.getpid()) + "." +
                 std::to_string(counter.fetch_add(1));
    // 0666 before the umask, as any file the process creates.
    int fd = ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

int bim_write_output_file(const char *name, const unsigned char *image, size_t length) {
  // The file that the name leads to: a symbolic link keeps pointing at the
  // file with the new image, and an existing file keeps its permissions.
  std::string target = name;
  bool existed = false;
  mode_t keepMode = 0;
  struct stat st;
  if (platform::sys.stat(name, &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      bim_active_hooks.report("%s: not a regular file\n", name);
      return -1;
    }
    existed = true;
    keepMode = st.st_mode & 07777;
    if (char *resolved = ::realpath(name, nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  std::string temporary;
  int fd = bim_create_temporary(target, &temporary);
  if (fd < 0) {
    int err = errno;
    bim_active_hooks.report("Couldn't open file %s: %s\n", name, std::strerror(err));
    return -1;
  }
  if (existed) (void)::fchmod(fd, keepMode);
  size_t written = 0;
  bool ok = bim_write_all(fd, image, length, &written) && platform::sys.fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) { // a file system may report a failed write here
    ok = false;
    err = errno;
  }
  if (!ok) {
    bim_active_hooks.report("error writing to %s: %s\n", name, std::strerror(err));
    platform::sys.unlink(temporary.c_str());
    return -1;
  }
  if (platform::sys.rename(temporary.c_str(), target.c_str()) != 0) {
    err = errno;
    bim_active_hooks.report("Couldn't rename %s to %s: %s\n", temporary.c_str(), name,
                            std::strerror(err));
    platform::sys.unlink(temporary.c_str());
    return -1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Load
// ---------------------------------------------------------------------------

// Reads size bytes from fd into buffer; false with errno set on a read error,
// or with EIO when the file ends early (it shrank since it was measured).
static bool bim_read_all(int fd, unsigned char *buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    size_t want = size - done < bim_read_chunk ? size - done : bim_read_chunk;
    ssize_t n = platform::sys.read(fd, buffer + done, want);
    if (n > 0) {
      done += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0) errno = EIO;
      return false;
    }
  }
  return true;
}

int bim_read_input_file(const char *name, bim_image_record *image) {
  // O_NONBLOCK: opening a FIFO without a writer would wait for one.
  int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    bim_active_hooks.report("Couldn't open file %s: %s\n", name, std::strerror(err));
    return -1;
  }
  struct stat st;
  if (platform::sys.fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    bim_active_hooks.report("Couldn't stat file %s: %s\n", name, std::strerror(err));
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    bim_active_hooks.report("%s: not a regular file\n", name);
    return -1;
  }
  // A size of 0 fails here as well: no mapping has length 0.
  void *p = MAP_FAILED;
  int err = EFBIG;
  if (st.st_size <= bim_file_limit) {
    p = platform::sys.mmap(nullptr, size_t(st.st_size), PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    err = errno;
  }
  if (p == MAP_FAILED) {
    ::close(fd);
    bim_active_hooks.report("Failed to mmap %s: %s\n", name, std::strerror(err));
    return -1;
  }
  const size_t size = size_t(st.st_size);
  if (!bim_read_all(fd, static_cast<unsigned char *>(p), size)) {
    err = errno;
    ::close(fd);
    platform::sys.munmap(p, size);
    bim_active_hooks.report("Couldn't read file %s: %s\n", name, std::strerror(err));
    return -1;
  }
  ::close(fd);
  *image = bim_image_record{-1, p, size};
  return 0;
}

int bim_release_input_file(bim_image_record *image) {
  if (image->address && platform::sys.munmap(image->address, image->size) != 0) {
    int err = errno;
    bim_active_hooks.report("Failed to munmap: %s\n", std::strerror(err));
  }
  image->descriptor = -1;
  image->address = nullptr;
  image->size = 0;
  return 0;
}
