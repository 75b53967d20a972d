// The image: its length, the check that every image passes before it is
// read, measuring data inside a loaded image, and writing an image.
//
// An image comes from outside the process.  Every length and count read from
// it is unsigned and compared with the bytes that remain before it is used,
// so no image makes the reader run past its end, loop without progress or
// allocate more than the image could describe.
#include "bim/bim_internal.h"

// ---------------------------------------------------------------------------
// The values an image is written from
// ---------------------------------------------------------------------------

// The root's values: the copies that bim_pack made, or (BIM_FROM_VARIABLES)
// the mapped variables as they are now, read as bim_pack would read them.
// Elements of A elements always come from their packed element blocks.
namespace {

struct bim_root_values {
  bool fromVariables;

  static const unsigned char *mapped(const bim_element *e, int32_t rep, size_t stride) {
    return static_cast<const unsigned char *>(e->address) + size_t(rep) * stride;
  }
  // The bytes of a fixed-size element.
  const unsigned char *fixed(const bim_element *e, int32_t rep, size_t stride) const {
    if (fromVariables) return mapped(e, rep, stride);
    size_t n = size_t(e->count) * bim_item_size(e->type);
    return static_cast<const unsigned char *>(e->data) + size_t(rep) * n;
  }
  // String k of an s element (null for a null string).
  const char *string(const bim_element *e, int32_t rep, size_t stride, int32_t k) const {
    if (!fromVariables)
      return static_cast<char **>(e->data)[size_t(rep) * size_t(e->count) + size_t(k)];
    const char *s;
    std::memcpy(&s, mapped(e, rep, stride) + size_t(k) * sizeof s, sizeof s);
    return s;
  }
  // The block of a B element; size 0 for none.
  bim_binary binary(const bim_element *e) const {
    if (!fromVariables) {
      const bim_binary *b = *static_cast<bim_binary **>(e->data);
      return b ? *b : bim_binary{nullptr, 0};
    }
    bim_binary b;
    std::memcpy(&b, e->address, sizeof b);
    return b.size && b.address ? b : bim_binary{nullptr, 0};
  }
};

} // namespace

// ---------------------------------------------------------------------------
// Length of the image of a packed map
// ---------------------------------------------------------------------------

static uint64_t bim_image_length(bim_element *root, bim_root_values values) {
  if (!bim_is_root(root)) bim_fail("internal error: bim_ser_osz on non-root node\n");
  uint64_t length = root->serializedSize;
  bim_walk(root->children, [&](bim_element *e, int32_t rep, size_t stride) {
    if (bim_is_fixed(e->type)) {
      length += uint64_t(e->count) * bim_item_size(e->type);
    } else if (e->type == BIM_STRING) {
      for (int32_t k = 0; k < e->count; ++k) {
        const char *s = values.string(e, rep, stride, k);
        length += 4 + (s ? std::strlen(s) : 0);
      }
    } else if (e->type == BIM_BINARY) {
      length += 4 + uint64_t(values.binary(e).size);
    } else if (e->type == BIM_ARRAY) {
      length += 4 + e->serializedSize;
    } else {
      bim_fail("unsupported format character\n");
    }
  });
  return length;
}

uint64_t bim_ser_osz_checked(bim_element *root, bool fromVariables) {
  return bim_image_length(root, bim_root_values{fromVariables});
}

int64_t bim_ser_osz(bim_element *root) {
  return bim_guarded(int64_t{-1}, [&] { return int64_t(bim_ser_osz_checked(root, false)); });
}

// ---------------------------------------------------------------------------
// Measuring data inside an image
// ---------------------------------------------------------------------------

// Moves the reader over the data of one element (one repetition of it).
static bool bim_serlen_element(bim_element *e, bim_reader &r) {
  if (bim_is_fixed(e->type)) return r.skip(size_t(e->count) * bim_item_size(e->type));
  switch (e->type) {
  case BIM_STRING:
    for (int32_t k = 0; k < e->count; ++k) {
      uint32_t length;
      if (!r.u32(length) || !r.skip(r.chars(length))) return false;
    }
    return true;
  case BIM_BINARY: {
    uint32_t size;
    return r.u32(size) && r.skip(size);
  }
  case BIM_ARRAY:
    return bim_serlen_array(e, r);
  default:
    bim_fail("internal error in bim_serlen\n");
  }
}

bool bim_serlen_children(bim_element *first, bim_reader &r) {
  bool ok = true;
  bim_walk(first, [&](bim_element *e, int32_t, size_t) {
    if (ok) ok = bim_serlen_element(e, r);
  });
  return ok;
}

bool bim_serlen_array(bim_element *array, bim_reader &r) {
  uint32_t n;
  if (!r.u32(n)) return false;
  // Every element takes at least one byte: a larger count cannot fit.
  if (n > r.left()) return false;
  for (uint32_t i = 0; i < n; ++i)
    if (!bim_serlen_children(array->children, r)) return false;
  return true;
}

static bim_reader bim_image_reader(bim_element *root, const unsigned char *position) {
  bim_root_info *ri = bim_info(root);
  auto *end = static_cast<const unsigned char *>(ri->image.address) + ri->image.size;
  return bim_reader{position, end, (ri->flags & BIM_SWAP) != 0,
                    (ri->flags & BIM_LENGTHS_WITHOUT_NUL) != 0};
}

int bim_serlen(bim_element *root, bim_element *node, const unsigned char *position,
               size_t *length) {
  return bim_guarded(-1, [&] {
    if (!bim_is_root(root) || !node) bim_fail("internal error in bim_serlen\n");
    bim_root_info *ri = bim_info(root);
    auto *begin = static_cast<const unsigned char *>(ri->image.address);
    if (!begin || position < begin || position > begin + ri->image.size) return -1;
    bim_reader r = bim_image_reader(root, position);
    bool ok;
    if (node == root)
      ok = bim_serlen_children(root->children, r);
    else if (node->type == BIM_ARRAY)
      ok = bim_serlen_array(node, r);
    else
      bim_fail("internal error in bim_serlen\n");
    if (!ok) return -1;
    *length = size_t(r.pos - position);
    return 0;
  });
}

// ---------------------------------------------------------------------------
// The check
// ---------------------------------------------------------------------------

const unsigned char *bim_data_start(bim_element *root) {
  bim_root_info *ri = bim_info(root);
  return static_cast<const unsigned char *>(ri->image.address) + 8 + std::strlen(ri->format) + 1 +
         4 * size_t(ri->fixedCountNumber);
}

static int bim_check_checked(bim_element *root, int allowExcess) {
  static constexpr char allowed[] = "AS($)BiucsfIUjv#";
  bim_root_info *ri = bim_info(root);
  auto *image = static_cast<const unsigned char *>(ri->image.address);
  size_t size = image ? ri->image.size : 0;
  ri->flags &= ~(BIM_SWAP | BIM_LENGTHS_WITHOUT_NUL); // marks of an earlier check
  if (size < 9) return -1;
  if (std::memcmp(image, "bim", 3) != 0) return -2;
  unsigned flags = image[3];
  if (flags & 1) ri->flags |= BIM_SWAP;
  if (flags > 3) return -11;
  if (!(flags & 2)) ri->flags |= BIM_LENGTHS_WITHOUT_NUL;
  bim_reader r{image + 4, image + size, (flags & 1) != 0, !(flags & 2)};
  uint32_t lengthField = 0;
  r.u32(lengthField);
  if (lengthField != size && !allowExcess) return -3;
  size_t hashes = 0;
  for (;;) {
    if (r.left() == 0) return -5;
    char c = char(*r.pos++);
    if (c == '\0') break;
    if (!std::strchr(allowed, c)) return -4;
    if (c == '#') ++hashes;
  }
  if (std::strcmp(reinterpret_cast<const char *>(image + 8), ri->format) != 0) return -6;
  if (hashes * 4 > r.left()) return -10;
  for (size_t k = 0; k < hashes; ++k) {
    uint32_t count = 0;
    r.u32(count);
    if (k >= size_t(ri->fixedCountNumber) || count != uint32_t(ri->fixedCounts[k])) return -7;
  }
  if (!bim_serlen_children(root->children, r)) return -8;
  size_t total = size_t(r.pos - image);
  if (allowExcess ? total > size : total != size) return -9;
  return 0;
}

int bim_check_image(bim_element *root, int allowExcess) {
  if (!bim_is_root(root)) return -1;
  return bim_guarded(-8, [&] { return bim_check_checked(root, allowExcess); });
}

// ---------------------------------------------------------------------------
// Writing an image
// ---------------------------------------------------------------------------

static void bim_write_string(bim_writer &w, const char *s) {
  if (!s) {
    w.u32(0);
    return;
  }
  size_t n = std::strlen(s);
  w.u32(uint32_t(n + 1));
  w.bytes(s, n);
}

static void bim_write_binary(bim_writer &w, const bim_binary *b) {
  if (!b) {
    w.u32(0);
    return;
  }
  w.u32(b->size);
  w.bytes(b->address, b->size);
}

// The element count, then every element block in the order packed.
static void bim_write_array_elements(bim_writer &w, bim_element *array,
                                     const bim_array_info *record) {
  if (!record) {
    w.u32(0);
    return;
  }
  w.u32(record->elementCount);
  for (bim_array_block *block = record->firstBlock; block; block = block->next) {
    size_t cursor = 0;
    bim_walk(array->children, [&](bim_element *f, int32_t, size_t) {
      const unsigned char *slot = block->data + cursor;
      if (bim_is_fixed(f->type)) {
        w.bytes(slot, size_t(f->count) * bim_item_size(f->type));
      } else if (f->type == BIM_STRING) {
        for (int32_t k = 0; k < f->count; ++k) {
          const char *s;
          std::memcpy(&s, slot + size_t(k) * sizeof s, sizeof s);
          bim_write_string(w, s);
        }
      } else if (f->type == BIM_BINARY) {
        const bim_binary *b;
        std::memcpy(&b, slot, sizeof b);
        bim_write_binary(w, b);
      } else if (f->type == BIM_ARRAY) {
        const bim_array_info *nested;
        std::memcpy(&nested, slot, sizeof nested);
        bim_write_array_elements(w, f, nested);
      } else {
        bim_fail("unsupported format character\n");
      }
      cursor += bim_block_bytes(f);
    });
  }
}

void bim_write_image(bim_element *root, unsigned char *buffer, size_t length, bool fromVariables) {
  const bim_root_values values{fromVariables};
  bim_root_info *ri = bim_info(root);
  bim_writer w{buffer, buffer + length};
  bim_image header{
      {'b', 'i', 'm'}, uint8_t(std::strchr(ri->format, 's') ? 2 : 0), uint32_t(length)};
  w.bytes(&header, sizeof header);
  w.bytes(ri->format, std::strlen(ri->format) + 1);
  for (int32_t k = 0; k < ri->fixedCountNumber; ++k) w.u32(uint32_t(ri->fixedCounts[k]));
  bim_walk(root->children, [&](bim_element *e, int32_t rep, size_t stride) {
    if (bim_is_fixed(e->type)) {
      w.bytes(values.fixed(e, rep, stride), size_t(e->count) * bim_item_size(e->type));
    } else if (e->type == BIM_STRING) {
      for (int32_t k = 0; k < e->count; ++k) bim_write_string(w, values.string(e, rep, stride, k));
    } else if (e->type == BIM_BINARY) {
      const bim_binary b = values.binary(e);
      bim_write_binary(w, &b);
    } else if (e->type == BIM_ARRAY) {
      bim_write_array_elements(w, e, static_cast<bim_array_info *>(e->data));
    } else {
      bim_fail("unsupported format character\n");
    }
  });
  if (w.pos != w.end) bim_fail("internal error in bim_write_image\n");
}
