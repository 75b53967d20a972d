// Private helpers of the serializer: the failure path, allocation through the
// hooks, the type table, bounded readers and writers and the walk over a
// children list that expands repeated structures.
#pragma once

#include "bim/bim.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "images are written in the machine's byte order, which must be little-endian");

// A failure that ends the current call.  It never leaves the serializer: every
// entry point catches it and returns -1 or null.
struct bim_failure {};

// Passes the formatted message to the fatal hook, then ends the current call.
[[noreturn]] void bim_fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Allocation through the hooks; failures end the call with "out of memory\n".
void *bim_alloc(size_t size);
void *bim_alloc_zero(size_t size);
void *bim_grow(void *address, size_t size);
inline void bim_release(void *address) {
  if (address) bim_active_hooks.free(address);
}
char *bim_copy_string(const char *text); // null stays null

// Runs body; a bim_failure becomes fallback.
template <class R, class F> R bim_guarded(R fallback, F &&body) {
  try {
    return body();
  } catch (const bim_failure &) {
    return fallback;
  }
}

// Bytes per item of each type code (for s the pointer slot of the map) and
// the alignment of a structure field of that type.
struct bim_type_entry {
  char letter;
  size_t size;
  size_t align;
};
inline constexpr bim_type_entry bim_type_table[13] = {
    {'r', 0, 1}, {'i', 4, 4}, {'u', 4, 4}, {'c', 1, 1}, {'s', sizeof(char *), alignof(char *)},
    {'A', 0, 1}, {'B', 0, 1}, {'f', 8, 8}, {'I', 8, 8}, {'U', 8, 8},
    {'j', 2, 2}, {'v', 2, 2}, {'#', 0, 1}};

inline bool bim_is_fixed(int32_t type) {
  switch (type) {
  case BIM_INT32:
  case BIM_UINT32:
  case BIM_BYTE:
  case BIM_DOUBLE:
  case BIM_INT64:
  case BIM_UINT64:
  case BIM_INT16:
  case BIM_UINT16:
    return true;
  default:
    return false;
  }
}
inline size_t bim_item_size(int32_t type) {
  if (type < 0 || type > 12) bim_fail("unsupported format character\n");
  return bim_type_table[type].size;
}
// Bytes a field takes in an element block of an A element.
inline size_t bim_block_bytes(const bim_element *e) {
  switch (e->type) {
  case BIM_STRING:
    return size_t(e->count) * sizeof(char *);
  case BIM_BINARY:
    return sizeof(bim_binary *);
  case BIM_ARRAY:
    return sizeof(bim_array_info *);
  default:
    return size_t(e->count) * bim_item_size(e->type);
  }
}

inline bool bim_is_root(const bim_element *e) {
  return e && e->type == BIM_ROOT && !e->parent && e->data;
}
inline bim_root_info *bim_info(bim_element *root) {
  return static_cast<bim_root_info *>(root->data);
}

// Visits every element of a children list in format order; the fields of a
// repeated structure are visited once per repetition (rep 0 in place, then
// rep 1, 2, ... when the repetition element is reached), with the stride that
// separates the structures in memory.
template <class F> void bim_walk(bim_element *first, F &&visit) {
  for (bim_element *e = first; e; e = e->next) {
    if (e->type == BIM_REPEAT) {
      auto *rep = static_cast<bim_repeat_info *>(e->data);
      if (!rep) continue;
      for (int32_t it = 1; it < e->count; ++it)
        for (bim_element *f = rep->firstField; f && f != e; f = f->next) visit(f, it, rep->stride);
    } else {
      visit(e, int32_t{0}, size_t{0});
    }
  }
}

// Reads an image between two bounds; every read is checked against the end.
struct bim_reader {
  const unsigned char *pos;
  const unsigned char *end;
  bool swap;       // integers are big-endian
  bool withoutNul; // string lengths count no NUL

  size_t left() const { return size_t(end - pos); }
  bool skip(size_t n) {
    if (n > left()) return false;
    pos += n;
    return true;
  }
  bool u32(uint32_t &value) {
    if (left() < 4) return false;
    std::memcpy(&value, pos, 4);
    if (swap) value = __builtin_bswap32(value);
    pos += 4;
    return true;
  }
  // Characters that follow a string length L.
  uint64_t chars(uint32_t length) const {
    if (withoutNul) return length;
    return length < 2 ? 0 : uint64_t(length) - 1;
  }
};

// Writes an image into a buffer of known length.
struct bim_writer {
  unsigned char *pos;
  unsigned char *end;

  void bytes(const void *from, size_t n) {
    if (n > size_t(end - pos)) bim_fail("internal error in bim_write_image\n");
    if (n) std::memcpy(pos, from, n);
    pos += n;
  }
  void u32(uint32_t value) { bytes(&value, 4); }
};

// Shared between the parts of the serializer.
bool bim_serlen_children(bim_element *first, bim_reader &r);
bool bim_serlen_array(bim_element *array, bim_reader &r);
const unsigned char *bim_data_start(bim_element *root);
// Writes the image of the root's packed values, or with fromVariables of
// the mapped variables (BIM_FROM_VARIABLES).
void bim_write_image(bim_element *root, unsigned char *buffer, size_t length, bool fromVariables);
void bim_release_loaded(bim_element *root);
void bim_release_array(bim_element *array, bim_array_info *record);
bim_element *bim_array_at(bim_element *root, int index);
uint64_t bim_ser_osz_checked(bim_element *root, bool fromVariables);

// Writes all of buffer to fd, repeating interrupted, partial and would-block
// writes; false with errno set, the bytes written before it in *written.
bool bim_write_all(int fd, const unsigned char *buffer, size_t length, size_t *written);

// File layer.  bim_write_output_file writes an image to a new file and
// renames it over name (0, or -1 reported with the earlier file unchanged);
// bim_read_input_file reads a regular file into memory of the image record's
// own (0, or -1 reported); bim_release_input_file releases that memory.
int bim_write_output_file(const char *name, const unsigned char *image, size_t length);
int bim_read_input_file(const char *name, bim_image_record *image);
int bim_release_input_file(bim_image_record *image);
