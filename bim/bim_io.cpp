// Dump, load and unpack: images between a map and memory, files and
// descriptors.
//
// A load checks the whole image (bim_check_image) before anything else reads
// it; unpacking then reads only what the check has measured, and still checks
// every read against the image end.
#include "bim/bim_internal.h"
#include "platform/sys.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>

// ---------------------------------------------------------------------------
// Dump
// ---------------------------------------------------------------------------

// Waits until fd can take (events POLLOUT) or give (POLLIN) data again.
static void bim_wait_fd(int fd, short events) {
  pollfd p{fd, events, 0};
  ::poll(&p, 1, -1);
}

bool bim_write_all(int fd, const unsigned char *buffer, size_t length, size_t *written) {
  *written = 0;
  while (*written < length) {
    ssize_t n = platform::sys.write(fd, buffer + *written, length - *written);
    if (n > 0) {
      *written += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      bim_wait_fd(fd, POLLOUT);
    } else {
      if (n == 0) errno = EIO; // no progress: give up rather than spin
      return false;
    }
  }
  return true;
}

// Frees a buffer from the malloc hook at the end of a scope.
struct bim_buffer_guard {
  void *address;
  ~bim_buffer_guard() { bim_release(address); }
};

static int bim_dump_to_file(bim_element *root, const char *name, size_t length,
                            bool fromVariables) {
  bim_buffer_guard buffer{bim_alloc(length)};
  auto *bytes = static_cast<unsigned char *>(buffer.address);
  bim_write_image(root, bytes, length, fromVariables);
  return bim_write_output_file(name, bytes, length);
}

static int bim_dump_to_fd(bim_element *root, int fd, size_t length, bool fromVariables) {
  bim_buffer_guard buffer{bim_alloc(length)};
  auto *bytes = static_cast<unsigned char *>(buffer.address);
  bim_write_image(root, bytes, length, fromVariables);
  size_t written;
  if (bim_write_all(fd, bytes, length, &written)) return 0;
  int err = errno;
  bim_active_hooks.report("error writing to fd %d: %s\n", fd, std::strerror(err));
  // A regular file gets back the length it had before this call.
  struct stat st;
  if (written > 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    off_t end = ::lseek(fd, 0, SEEK_CUR);
    off_t start = end - off_t(written);
    if (end < 0 || platform::sys.ftruncate(fd, start) != 0 || ::lseek(fd, start, SEEK_SET) < 0) {
      err = errno;
      bim_active_hooks.report("can't rewind: %s\n", std::strerror(err));
    }
  }
  return -1;
}

static int bim_dump_checked(bim_element *root, int mode, va_list &ap) {
  if (bim_is_root(root) && (bim_info(root)->flags & BIM_LOADED)) {
    bim_active_hooks.report("error: bim_dump called for a loaded bim\n");
    return -1;
  }
  const bool fromVariables = (mode & BIM_FROM_VARIABLES) != 0;
  uint64_t length = bim_ser_osz_checked(root, fromVariables);
  if (length > UINT32_MAX) {
    bim_active_hooks.report("bim_dump: image of %llu bytes exceeds the 32-bit length field\n",
                            static_cast<unsigned long long>(length));
    return -1;
  }
  if (mode & BIM_TO_FILE) {
    const char *name = va_arg(ap, const char *);
    return bim_dump_to_file(root, name, size_t(length), fromVariables);
  }
  if (mode & BIM_TO_FD) {
    int fd = va_arg(ap, int);
    return bim_dump_to_fd(root, fd, size_t(length), fromVariables);
  }
  if (mode & BIM_TO_MEMORY) {
    if (mode & BIM_CALLER_BUFFER) {
      void *buffer = va_arg(ap, void *);
      size_t size = va_arg(ap, size_t);
      if (!buffer || size < length) {
        bim_active_hooks.report("bim_dump: buffer too small, need %d bytes\n", int(length));
        return -1;
      }
      bim_write_image(root, static_cast<unsigned char *>(buffer), size_t(length), fromVariables);
      return 0;
    }
    void **out = va_arg(ap, void **);
    size_t *outLength = va_arg(ap, size_t *);
    bim_buffer_guard buffer{bim_alloc(size_t(length))};
    bim_write_image(root, static_cast<unsigned char *>(buffer.address), size_t(length),
                    fromVariables);
    *out = buffer.address;
    *outLength = size_t(length);
    buffer.address = nullptr;
    return 0;
  }
  if (mode & BIM_SIZE_ONLY) {
    size_t *outLength = va_arg(ap, size_t *);
    *outLength = size_t(length);
    return 0;
  }
  bim_active_hooks.report("unsupported bim_dump mode %d\n", mode);
  return -1;
}

int bim_dump(bim_element *root, int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  int result = bim_guarded(-1, [&] { return bim_dump_checked(root, mode, ap); });
  va_end(ap);
  return result;
}

// ---------------------------------------------------------------------------
// Load
// ---------------------------------------------------------------------------

// Sets the element count and read position of every top-level A element.
static void unpackA0(bim_element *root) {
  bim_root_info *ri = bim_info(root);
  bim_reader r{bim_data_start(root),
               static_cast<const unsigned char *>(ri->image.address) + ri->image.size,
               (ri->flags & BIM_SWAP) != 0, (ri->flags & BIM_LENGTHS_WITHOUT_NUL) != 0};
  bim_walk(root->children, [&](bim_element *e, int32_t, size_t) {
    if (e->type == BIM_ARRAY) {
      auto *record = static_cast<bim_array_info *>(e->data);
      bim_reader at = r;
      uint32_t n;
      if (!at.u32(n) || !bim_serlen_array(e, r)) bim_fail("internal error in unpackA0\n");
      record->elementCount = n;
      record->readPosition = at.pos;
    } else {
      bool ok = true;
      if (bim_is_fixed(e->type)) {
        ok = r.skip(size_t(e->count) * bim_item_size(e->type));
      } else if (e->type == BIM_STRING) {
        for (int32_t k = 0; k < e->count && ok; ++k) {
          uint32_t length;
          ok = r.u32(length) && r.skip(r.chars(length));
        }
      } else if (e->type == BIM_BINARY) {
        uint32_t size;
        ok = r.u32(size) && r.skip(size);
      }
      if (!ok) bim_fail("internal error in unpackA0\n");
    }
  });
}

static int bim_load_memory(bim_element *root, void *address, size_t size, int mode) {
  bim_root_info *ri = bim_info(root);
  ri->image = bim_image_record{-1, address, size};
  int code = bim_check_image(root, mode & BIM_ALLOW_EXCESS);
  if (code != 0) {
    bim_active_hooks.report(code == -6 ? "format signature mismatch\n" : "not a valid bim file\n");
    ri->image = bim_image_record{-1, nullptr, 0};
    if (mode & BIM_OWN_BUFFER) bim_release(address);
    return -1;
  }
  ri->flags = (ri->flags & (BIM_SWAP | BIM_LENGTHS_WITHOUT_NUL)) | BIM_LOADED |
              BIM_LOADED_FROM_MEMORY | ((mode & BIM_OWN_BUFFER) ? BIM_IMAGE_OWNED : 0);
  unpackA0(root);
  return 0;
}

static int bim_load_file(bim_element *root, const char *name, int mode) {
  bim_root_info *ri = bim_info(root);
  if (bim_read_input_file(name, &ri->image) != 0) {
    bim_active_hooks.report("bim_load failed for file %s\n", name);
    return -1;
  }
  int code = bim_check_image(root, mode & BIM_ALLOW_EXCESS);
  if (code != 0) {
    if (code == -6)
      bim_active_hooks.report("%s: format signature mismatch\n", name);
    else if (code == -7)
      bim_active_hooks.report("%s: array lengths mismatch\n", name);
    else
      bim_active_hooks.report("%s: not a valid bim file\n", name);
    bim_release_input_file(&ri->image);
    return -1;
  }
  ri->flags =
      (ri->flags & (BIM_SWAP | BIM_LENGTHS_WITHOUT_NUL)) | BIM_LOADED | BIM_LOADED_FROM_FILE;
  unpackA0(root);
  return 0;
}

static int bim_load_checked(bim_element *root, int mode, va_list &ap) {
  int kind = (mode & BIM_TO_FILE)     ? BIM_TO_FILE
             : (mode & BIM_TO_MEMORY) ? BIM_TO_MEMORY
             : (mode & BIM_TO_FD)     ? BIM_TO_FD
                                      : 0;
  if (!kind) {
    bim_active_hooks.report("unsupported bim_load mode %d\n", mode);
    return -1;
  }
  // Arguments first, so that an owned buffer is freed whatever happens.
  const char *name = nullptr;
  void *address = nullptr;
  size_t size = 0;
  int fd = -1;
  if (kind == BIM_TO_FILE) {
    name = va_arg(ap, const char *);
  } else if (kind == BIM_TO_MEMORY) {
    address = va_arg(ap, void *);
    size = va_arg(ap, size_t);
  } else {
    fd = va_arg(ap, int);
  }
  if (!bim_is_root(root)) {
    bim_active_hooks.report("error: bim_load to non-root node\n");
    if (kind == BIM_TO_MEMORY && (mode & BIM_OWN_BUFFER)) bim_release(address);
    return -1;
  }
  bim_root_info *ri = bim_info(root);
  if (ri->flags & (BIM_PACKED | BIM_LOADED)) bim_release_loaded(root);
  if (kind == BIM_TO_FILE) return bim_load_file(root, name, mode);
  if (kind == BIM_TO_MEMORY) return bim_load_memory(root, address, size, mode);
  void *image = nullptr;
  size_t length = 0;
  if (bim_gather_fd_blocking(fd, &image, &length) <= 0) return -1;
  return bim_load_memory(root, image, length, BIM_TO_MEMORY | BIM_OWN_BUFFER);
}

int bim_load(bim_element *root, int mode, ...) {
  va_list ap;
  va_start(ap, mode);
  int result = bim_guarded(-1, [&] { return bim_load_checked(root, mode, ap); });
  va_end(ap);
  return result;
}

// ---------------------------------------------------------------------------
// Unpack
// ---------------------------------------------------------------------------

static void bim_unpack_element(bim_element *e, int32_t rep, size_t stride, bim_reader &r) {
  auto *mapped = static_cast<unsigned char *>(e->address) + size_t(rep) * stride;
  if (bim_is_fixed(e->type)) {
    size_t item = bim_item_size(e->type);
    size_t n = size_t(e->count) * item;
    if (n > r.left()) bim_fail("internal error in unpack\n");
    if (r.swap && item > 1) {
      for (size_t k = 0; k < n; k += item)
        for (size_t b = 0; b < item; ++b) mapped[k + b] = r.pos[k + item - 1 - b];
    } else {
      std::memcpy(mapped, r.pos, n);
    }
    r.pos += n;
    return;
  }
  switch (e->type) {
  case BIM_STRING:
    for (int32_t k = 0; k < e->count; ++k) {
      uint32_t length;
      if (!r.u32(length)) bim_fail("internal error in unpack\n");
      uint64_t stored = uint64_t(length) + (r.withoutNul ? 1 : 0);
      char *s = nullptr;
      if (stored > 0) {
        uint64_t chars = stored - 1;
        if (chars > r.left()) bim_fail("internal error in unpack\n");
        s = static_cast<char *>(bim_alloc(size_t(stored)));
        std::memcpy(s, r.pos, size_t(chars));
        s[chars] = '\0';
        r.pos += chars;
      }
      std::memcpy(mapped + size_t(k) * sizeof s, &s, sizeof s);
    }
    return;
  case BIM_BINARY: {
    uint32_t size;
    if (!r.u32(size) || size > r.left()) bim_fail("internal error in unpack\n");
    bim_binary b{nullptr, 0};
    if (size) {
      b.address = bim_alloc(size);
      std::memcpy(b.address, r.pos, size);
      b.size = size;
    }
    r.pos += size;
    std::memcpy(mapped, &b, sizeof b);
    return;
  }
  case BIM_ARRAY: {
    auto *record = static_cast<bim_array_info *>(e->data);
    bim_reader at = r;
    uint32_t n;
    if (!at.u32(n) || !bim_serlen_array(e, r)) bim_fail("internal error in unpack\n");
    record->elementCount = n;
    record->readPosition = at.pos;
    return;
  }
  default:
    bim_fail("unsupported format character\n");
  }
}

static int bim_unpack_checked(bim_element *root, int index) {
  bim_element *array = nullptr;
  if (!bim_is_root(root) || index < 0 || (index > 0 && !(array = bim_array_at(root, index)))) {
    bim_active_hooks.report("invalid index %d to bim_unpack\n", index);
    return -1;
  }
  bim_root_info *ri = bim_info(root);
  if ((ri->flags & BIM_PACKED) && !(ri->flags & BIM_LOADED)) {
    void *image = nullptr;
    size_t length = 0;
    if (bim_dump(root, BIM_TO_MEMORY, &image, &length) != 0) return -1;
    if (bim_load(root, BIM_TO_MEMORY | BIM_OWN_BUFFER, image, length) != 0) return -1;
  }
  if (!(ri->flags & BIM_LOADED)) {
    bim_active_hooks.report("error: bim_unpack called for a bim without image\n");
    return -1;
  }
  bim_reader r{nullptr, static_cast<const unsigned char *>(ri->image.address) + ri->image.size,
               (ri->flags & BIM_SWAP) != 0, (ri->flags & BIM_LENGTHS_WITHOUT_NUL) != 0};
  bim_element *owner = root;
  int result = 1;
  bim_array_info *record = nullptr;
  if (!array) {
    r.pos = bim_data_start(root);
  } else {
    record = static_cast<bim_array_info *>(array->data);
    if (record->elementCount == 0) return 0;
    if (!record->readPosition) bim_fail("must unpack parent of node before node itself\n");
    result = record->elementCount > uint32_t(INT32_MAX) ? INT32_MAX : int(record->elementCount);
    r.pos = record->readPosition;
    owner = array;
  }
  bim_walk(owner->children, [&](bim_element *e, int32_t rep, size_t stride) {
    bim_unpack_element(e, rep, stride, r);
  });
  // Only an element that was delivered counts: after a failure (an
  // allocation) the next call delivers the same element again.
  if (record) {
    record->elementCount -= 1;
    record->readPosition = r.pos;
  }
  return result;
}

int bim_unpack(bim_element *root, int index) {
  return bim_guarded(-1, [&] { return bim_unpack_checked(root, index); });
}
