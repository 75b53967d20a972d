// Cutting images out of byte streams (pipes, sockets, memory chunks).
//
// A stream comes from outside the process: a length field below the header
// size is refused (it could never advance the scan), every image is held to
// gatherLimit before anything is allocated for it, and a stream that ends
// inside an image is a failure, not a clean end.
#include "bim/bim_internal.h"
#include "platform/sys.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>

static constexpr size_t bim_header_size = sizeof(bim_image) + 1; // and the format NUL

// The length field of an image whose first 8 bytes are at p.
static uint32_t bim_length_field(const unsigned char *p) {
  bim_image header;
  std::memcpy(&header, p, sizeof header);
  return (header.flags & 1) ? __builtin_bswap32(header.length) : header.length;
}

static int bim_limit_for_message() {
  size_t limit = bim_active_hooks.gatherLimit;
  return limit > size_t(INT_MAX) ? INT_MAX : int(limit);
}

static bool bim_over_limit(uint64_t length) {
  return bim_active_hooks.gatherLimit != 0 && length > bim_active_hooks.gatherLimit;
}

// Reads up to n bytes, repeating interrupted reads and waiting while a read
// would block: the bytes read (short only at the end of input), or -1.
static ssize_t bim_read_full(int fd, unsigned char *into, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = platform::sys.read(fd, into + got, n - got);
    if (r > 0) {
      got += size_t(r);
    } else if (r == 0) {
      break;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, -1);
    } else {
      return -1;
    }
  }
  return ssize_t(got);
}

static int bim_gather_fd_blocking_checked(int fd, void **image, size_t *length) {
  unsigned char preamble[sizeof(bim_image)];
  ssize_t got = bim_read_full(fd, preamble, sizeof preamble);
  if (got < 0) {
    int err = errno;
    bim_active_hooks.report("bim_gather_fd_blocking failed: %s\n", std::strerror(err));
    return -1;
  }
  if (got == 0) return 0;
  if (size_t(got) < sizeof preamble) {
    bim_active_hooks.report("internal error\n");
    return -1;
  }
  if (std::memcmp(preamble, "bim", 3) != 0) {
    bim_active_hooks.report("bim_gather_fd_blocking: non-bim input\n");
    return -1;
  }
  uint32_t total = bim_length_field(preamble);
  if (total < bim_header_size) {
    bim_active_hooks.report("bim prefix invalid\n");
    return -3;
  }
  if (bim_over_limit(total)) {
    bim_active_hooks.report("bim exceeds max length %d\n", bim_limit_for_message());
    return -2;
  }
  auto *buffer = static_cast<unsigned char *>(bim_alloc(total));
  std::memcpy(buffer, preamble, sizeof preamble);
  got = bim_read_full(fd, buffer + sizeof preamble, total - sizeof preamble);
  if (got < 0) {
    int err = errno;
    bim_active_hooks.report("bim_gather_fd_blocking failed: %s\n", std::strerror(err));
    bim_release(buffer);
    return -1;
  }
  if (size_t(got) < total - sizeof preamble) {
    bim_active_hooks.report("internal error\n"); // the input ends inside the image
    bim_release(buffer);
    return -1;
  }
  *image = buffer;
  *length = total;
  return 1;
}

int bim_gather_fd_blocking(int fd, void **image, size_t *length) {
  return bim_guarded(-1, [&] { return bim_gather_fd_blocking_checked(fd, image, length); });
}

static void bim_drop_partial(bim_partial **partial) {
  if (*partial) {
    bim_release((*partial)->address);
    bim_release(*partial);
    *partial = nullptr;
  }
}

// One round: the pending partial image and the new bytes are joined, complete
// images go to the callback, the rest becomes the new partial image.
static int bim_gather_round(const unsigned char *chunk, size_t n, bim_partial **partial,
                            bim_gather_callback callback, void *data, const char *abortText) {
  const unsigned char *bytes = chunk;
  size_t length = n;
  if (*partial && (*partial)->length) {
    bim_partial *p = *partial;
    if (n > SIZE_MAX - p->length) bim_fail("out of memory\n");
    p->address = static_cast<unsigned char *>(bim_grow(p->address, p->length + n));
    if (n) std::memcpy(p->address + p->length, chunk, n);
    p->length += n;
    bytes = p->address;
    length = p->length;
  }
  size_t pos = 0;
  while (length - pos >= bim_header_size) {
    const unsigned char *at = bytes + pos;
    uint32_t total = std::memcmp(at, "bim", 3) == 0 ? bim_length_field(at) : 0;
    if (total < bim_header_size) {
      bim_active_hooks.report("bim prefix invalid\n");
      bim_drop_partial(partial);
      return -3;
    }
    if (bim_over_limit(total)) {
      bim_active_hooks.report("bim exceeds max length %d\n", bim_limit_for_message());
      bim_drop_partial(partial);
      return -2;
    }
    if (length - pos < total) break;
    if (callback && callback(const_cast<unsigned char *>(at), total, data) < 0) {
      bim_active_hooks.report("%s", abortText);
      bim_drop_partial(partial);
      return -4;
    }
    pos += total;
  }
  size_t rest = length - pos;
  if (rest == 0) {
    bim_drop_partial(partial);
    return 1;
  }
  // The rest moves to the front of the partial image (a copy of it).
  auto *kept = static_cast<unsigned char *>(bim_alloc(rest));
  std::memcpy(kept, bytes + pos, rest);
  if (!*partial) {
    try {
      *partial = static_cast<bim_partial *>(bim_alloc_zero(sizeof(bim_partial)));
    } catch (const bim_failure &) {
      bim_release(kept);
      throw;
    }
  }
  bim_release((*partial)->address);
  (*partial)->address = kept;
  (*partial)->length = rest;
  return 1;
}

static int bim_fd_gather_checked(int fd, bim_partial **partial, bim_gather_callback callback,
                                 void *data) {
  unsigned char chunk[8192];
  for (;;) {
    ssize_t n = platform::sys.read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 1;
      int err = errno;
      bim_active_hooks.report("bim_gather failed: %s\n", std::strerror(err));
      bim_drop_partial(partial);
      return -1;
    }
    if (n == 0) {
      if (*partial && (*partial)->length) {
        bim_active_hooks.report("bim_gather: partial bim image precedes EOF\n");
        bim_drop_partial(partial);
        return -1;
      }
      bim_drop_partial(partial);
      return 0;
    }
    int r = bim_gather_round(chunk, size_t(n), partial, callback, data,
                             "bim_fd_gather aborted by app callback\n");
    if (r < 0) return r;
  }
}

int bim_fd_gather(int fd, bim_partial **partial, bim_gather_callback callback, void *data) {
  return bim_guarded(-1, [&] {
    try {
      return bim_fd_gather_checked(fd, partial, callback, data);
    } catch (const bim_failure &) {
      bim_drop_partial(partial);
      throw;
    }
  });
}

int bim_mem_gather(const void *address, size_t length, bim_partial **partial,
                   bim_gather_callback callback, void *data) {
  return bim_guarded(-1, [&] {
    try {
      return bim_gather_round(static_cast<const unsigned char *>(address), address ? length : 0,
                              partial, callback, data, "bim_mem_gather aborted by app callback\n");
    } catch (const bim_failure &) {
      bim_drop_partial(partial);
      throw;
    }
  });
}

int bim_gather(int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  int result = bim_guarded(-1, [&] {
    switch (mode) {
    case BIM_GATHER_BLOCKING_FD: {
      int fd = va_arg(ap, int);
      void **image = va_arg(ap, void **);
      size_t *length = va_arg(ap, size_t *);
      return bim_gather_fd_blocking(fd, image, length);
    }
    case BIM_GATHER_NONBLOCKING_FD: {
      int fd = va_arg(ap, int);
      bim_partial **partial = va_arg(ap, bim_partial **);
      auto callback = va_arg(ap, bim_gather_callback);
      void *data = va_arg(ap, void *);
      return bim_fd_gather(fd, partial, callback, data);
    }
    case BIM_GATHER_MEMORY: {
      const void *address = va_arg(ap, const void *);
      size_t length = va_arg(ap, size_t);
      bim_partial **partial = va_arg(ap, bim_partial **);
      auto callback = va_arg(ap, bim_gather_callback);
      void *data = va_arg(ap, void *);
      return bim_mem_gather(address, length, partial, callback, data);
    }
    default:
      bim_fail("unsupported bim_gather mode %d\n", mode);
    }
  });
  va_end(ap);
  return result;
}
