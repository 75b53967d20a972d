// Maps: parsing a format string into an element tree, packing the mapped
// variables into the map, and releasing what a map owns.
//
// Every allocation goes through bim_active_hooks.  A failure inside a call
// (out of memory, a bad '#' count) is reported through the fatal hook and
// unwinds to the entry point, which returns -1 or null; the tree stays
// consistent at every point where that can happen, so bim_destroy can always
// release it.
#include "bim/bim_internal.h"

#include "source/clocale/clocale_io.h"
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

int bim_default_report(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  vfprintfC(stdout, format, ap);
  va_end(ap);
  std::fflush(stdout);
  return 0;
}

void bim_default_fatal(const char *format, ...) {
  char text[100];
  va_list ap;
  va_start(ap, format);
  vsnprintfFullC(text, sizeof text, format, ap);
  va_end(ap);
  bim_active_hooks.report("%s", text);
}

bim_hooks bim_active_hooks = {bim_default_report, std::malloc,       std::realloc,
                              std::free,          bim_default_fatal, BIM_DEFAULT_GATHER_LIMIT};

void bim_fail(const char *format, ...) {
  char text[512];
  va_list ap;
  va_start(ap, format);
  vsnprintfFullC(text, sizeof text, format, ap);
  va_end(ap);
  bim_active_hooks.fatal("%s", text);
  throw bim_failure{};
}

void *bim_alloc(size_t size) {
  void *p = bim_active_hooks.malloc(size ? size : 1);
  if (!p) bim_fail("out of memory\n");
  return p;
}

void *bim_alloc_zero(size_t size) {
  void *p = bim_alloc(size);
  std::memset(p, 0, size ? size : 1);
  return p;
}

void *bim_grow(void *address, size_t size) {
  void *p = bim_active_hooks.realloc(address, size ? size : 1);
  if (!p) bim_fail("out of memory\n");
  return p;
}

char *bim_copy_string(const char *text) {
  if (!text) return nullptr;
  size_t n = std::strlen(text) + 1;
  char *copy = static_cast<char *>(bim_alloc(n));
  std::memcpy(copy, text, n);
  return copy;
}

// ---------------------------------------------------------------------------
// Tree building
// ---------------------------------------------------------------------------

static bim_element *bim_new_element(bim_element *parent) {
  auto *e = static_cast<bim_element *>(bim_alloc_zero(sizeof(bim_element)));
  e->count = 1;
  e->parent = parent;
  return e;
}

static void bim_append_child(bim_element *parent, bim_element *child) {
  if (!parent->children) {
    parent->children = child;
    child->prev = child;
  } else {
    bim_element *last = parent->children->prev;
    last->next = child;
    child->prev = last;
    parent->children->prev = child;
  }
}

static void bim_zero_tail(bim_element *e, size_t oldBytes, size_t newBytes) {
  if (newBytes > oldBytes)
    std::memset(static_cast<char *>(e->data) + oldBytes, 0, newBytes - oldBytes);
}

static size_t bim_unit(const bim_element *e) {
  return e->type == BIM_STRING ? sizeof(char *) : bim_item_size(e->type);
}

static int32_t bim_multiply_count(int32_t a, int32_t b) {
  int64_t p = int64_t(a) * int64_t(b);
  if (p > INT32_MAX) bim_fail("out of memory\n");
  return int32_t(p);
}

// Where the next field of a structure goes: after the previous field, rounded
// up to the field's alignment (the C layout of the structure).
static char *bim_struct_field_address(char *base, const bim_element *previous, size_t align) {
  if (!previous) return base;
  size_t end = size_t(static_cast<char *>(previous->address) - base) +
               bim_unit(previous) * size_t(previous->count);
  return base + (end + align - 1) / align * align;
}

namespace {

// What a '#' may follow.
enum class Last { None, Field, StructClose };

struct Parser {
  bim_element *root = nullptr;
  bim_element *parent = nullptr; // root or the open A element
  bool expectParen = false;      // after A, S or $
  char pendingOpen = 0;          // which of A, S, $ waits for its (
  bool justOpened = false;       // a ( with nothing inside yet
  bool inStruct = false;
  int dollarDepth = 0;
  char *structBase = nullptr;
  bim_element *structFirst = nullptr; // first field of the open structure
  bim_element *structPrev = nullptr;  // last field laid out so far
  size_t structAlign = 1;
  Last last = Last::None;
  bim_element *lastElement = nullptr; // the element a '#' multiplies
  bim_element *lastRepeat = nullptr;  // repetition element of the closed S
  int hashRun = 0;
  int arrayDepth = 0; // A elements open around the current position

  bim_root_info *info() { return bim_info(root); }

  void addFixedCount(int32_t n) {
    bim_root_info *ri = info();
    ri->fixedCounts = static_cast<int32_t *>(
        bim_grow(ri->fixedCounts, sizeof(int32_t) * (size_t(ri->fixedCountNumber) + 1)));
    ri->fixedCounts[ri->fixedCountNumber++] = n;
    root->serializedSize += 4;
  }

  void growParentElement(size_t bytes) {
    if (parent->type == BIM_ARRAY)
      static_cast<bim_array_info *>(parent->data)->elementSize += bytes;
  }

  bim_element *addElement(int32_t type) {
    bim_element *e = bim_new_element(parent);
    e->type = type;
    bim_append_child(parent, e);
    justOpened = false;
    return e;
  }

  void field(int32_t type, va_list &ap) {
    bim_element *e = addElement(type);
    size_t unit = bim_unit(e);
    if (inStruct) {
      e->address = bim_struct_field_address(structBase, structPrev, bim_type_table[type].align);
      if (!structFirst) structFirst = e;
      structPrev = e;
      if (bim_type_table[type].align > structAlign) structAlign = bim_type_table[type].align;
    } else {
      e->address = va_arg(ap, void *);
    }
    e->data = bim_alloc_zero(unit);
    growParentElement(unit);
    last = Last::Field;
    lastElement = e;
  }

  // '#' after a scalar or s: the element holds count times as many items.
  void multiplyField(int32_t n) {
    bim_element *e = lastElement;
    size_t unit = bim_unit(e);
    int32_t count = bim_multiply_count(e->count, n);
    size_t oldBytes = unit * size_t(e->count);
    e->data = bim_grow(e->data, unit * size_t(count));
    bim_zero_tail(e, oldBytes, unit * size_t(count));
    growParentElement(unit * size_t(count - e->count));
    e->count = count;
  }

  // '#' after the ) of a structure: a repetition element after its fields;
  // every field gets storage for all repetitions before the count changes.
  void repeatStruct(int32_t n, size_t stride, bim_element *first) {
    int32_t oldReps = lastRepeat ? lastRepeat->count : 1;
    int32_t reps = bim_multiply_count(oldReps, n);
    for (bim_element *f = first; f && f != lastRepeat; f = f->next) {
      size_t unit = bim_unit(f);
      size_t per = unit * size_t(f->count);
      bim_multiply_count(f->count, reps); // the field's items must stay countable
      f->data = bim_grow(f->data, per * size_t(reps));
      bim_zero_tail(f, per * size_t(oldReps), per * size_t(reps));
      growParentElement(per * size_t(reps - oldReps));
    }
    if (!lastRepeat) {
      bim_element *r = addElement(BIM_REPEAT);
      auto *ri = static_cast<bim_repeat_info *>(bim_alloc_zero(sizeof(bim_repeat_info)));
      ri->stride = stride;
      ri->firstField = first;
      r->data = ri;
      lastRepeat = r;
    }
    lastRepeat->count = reps;
  }

  size_t closedStride = 0;
  bim_element *closedFirst = nullptr;

  // false on a syntax error.
  bool step(char c, va_list &ap) {
    if (c != '#') hashRun = 0;
    if (expectParen && c != '(') return false;
    switch (c) {
    case 'i':
    case 'u':
    case 'c':
    case 's':
    case 'f':
    case 'I':
    case 'U':
    case 'j':
    case 'v': {
      static constexpr const char letters[] = "riucsABfIUjv";
      field(int32_t(std::strchr(letters, c) - letters), ap);
      return true;
    }
    case 'B': {
      if (inStruct) return false;
      bim_element *e = addElement(BIM_BINARY);
      e->address = va_arg(ap, void *);
      e->data = bim_alloc_zero(sizeof(bim_binary *));
      growParentElement(sizeof(bim_binary *));
      last = Last::None;
      return true;
    }
    case 'A': {
      if (inStruct) return false;
      if (arrayDepth == BIM_MAX_ARRAY_DEPTH) {
        bim_active_hooks.report("arrays nested deeper than %d levels\n", BIM_MAX_ARRAY_DEPTH);
        return false;
      }
      ++arrayDepth;
      bim_element *e = addElement(BIM_ARRAY);
      e->data = bim_alloc_zero(sizeof(bim_array_info));
      auto *entry = static_cast<bim_array_index *>(bim_alloc_zero(sizeof(bim_array_index)));
      entry->element = e;
      bim_root_info *ri = info();
      if (!ri->arrayIndex) {
        ri->arrayIndex = entry;
        entry->prev = entry;
      } else {
        bim_array_index *tail = ri->arrayIndex->prev;
        tail->next = entry;
        entry->prev = tail;
        ri->arrayIndex->prev = entry;
      }
      growParentElement(sizeof(bim_array_info *));
      parent = e;
      expectParen = true;
      pendingOpen = 'A';
      last = Last::None;
      return true;
    }
    case 'S':
      if (inStruct) return false;
      structBase = static_cast<char *>(va_arg(ap, void *));
      structFirst = structPrev = nullptr;
      structAlign = 1;
      expectParen = true;
      pendingOpen = 'S';
      justOpened = false;
      return true;
    case '$':
      if (!inStruct) return false;
      expectParen = true;
      pendingOpen = '$';
      return true;
    case '(':
      if (!expectParen) return false;
      expectParen = false;
      justOpened = true;
      if (pendingOpen == 'S') inStruct = true;
      if (pendingOpen == '$') ++dollarDepth;
      last = Last::None;
      return true;
    case ')':
      if (justOpened) return false;
      if (dollarDepth > 0) {
        --dollarDepth;
        last = Last::None;
      } else if (inStruct) {
        inStruct = false;
        size_t end = size_t(static_cast<char *>(structPrev->address) - structBase) +
                     bim_unit(structPrev) * size_t(structPrev->count);
        closedStride = (end + structAlign - 1) / structAlign * structAlign;
        closedFirst = structFirst;
        lastRepeat = nullptr;
        last = Last::StructClose;
      } else if (parent != root) {
        parent = parent->parent;
        --arrayDepth;
        last = Last::None;
      } else {
        return false;
      }
      return true;
    case '#': {
      if (last == Last::None) return false;
      if (++hashRun > 10) bim_fail("contiguous # exceeds hardcoded limit\n");
      int n = va_arg(ap, int);
      if (n < 1) bim_fail("non-positive iteration count %d\n", n);
      if (last == Last::Field)
        multiplyField(n);
      else
        repeatStruct(n, closedStride, closedFirst);
      addFixedCount(n);
      return true;
    }
    default:
      bim_active_hooks.report("unsupported option %c\n", c);
      return false;
    }
  }
};

} // namespace

static void bim_free_tree(bim_element *root);

// bim_map's body.  The root, or null after a parse error (reported).
static bim_element *bim_parse_format(const char *format, va_list &ap) {
  Parser p;
  try {
    if (!format) {
      bim_active_hooks.report("failed to parse %s\n", "(null)");
      return nullptr;
    }
    p.root = bim_new_element(nullptr);
    p.root->type = BIM_ROOT;
    p.root->data = bim_alloc_zero(sizeof(bim_root_info));
    bim_info(p.root)->image.descriptor = -1;
    p.root->serializedSize = std::strlen(format) + 9;
    p.parent = p.root;
    bool ok = true;
    for (const char *c = format; *c && ok; ++c) ok = p.step(*c, ap);
    if (ok && (p.expectParen || p.inStruct || p.parent != p.root)) ok = false;
    if (!ok) {
      bim_active_hooks.report("failed to parse %s\n", format);
      bim_free_tree(p.root);
      return nullptr;
    }
    bim_info(p.root)->format = bim_copy_string(format);
    return p.root;
  } catch (const bim_failure &) {
    bim_free_tree(p.root);
    return nullptr;
  }
}

bim_element *bim_map(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  bim_element *root = bim_parse_format(format, ap);
  va_end(ap);
  return root;
}

bim_element *bim_array_at(bim_element *root, int index) {
  if (index < 1) return nullptr;
  bim_array_index *entry = bim_info(root)->arrayIndex;
  for (int i = 1; entry && i < index; ++i) entry = entry->next;
  return entry ? entry->element : nullptr;
}

// ---------------------------------------------------------------------------
// Release
// ---------------------------------------------------------------------------

static void bim_free_binary(bim_binary *b) {
  if (!b) return;
  bim_release(b->address);
  bim_release(b);
}

// Frees what the element blocks of an array record own and empties the
// record (keeping its elementSize).
static void bim_release_blocks(bim_element *array, bim_array_info *record) {
  for (bim_array_block *block = record->firstBlock; block;) {
    size_t cursor = 0;
    bim_walk(array->children, [&](bim_element *f, int32_t, size_t) {
      unsigned char *slot = block->data + cursor;
      if (f->type == BIM_STRING) {
        for (int32_t k = 0; k < f->count; ++k) {
          char *s;
          std::memcpy(&s, slot + size_t(k) * sizeof s, sizeof s);
          bim_release(s);
        }
      } else if (f->type == BIM_BINARY) {
        bim_binary *b;
        std::memcpy(&b, slot, sizeof b);
        bim_free_binary(b);
      } else if (f->type == BIM_ARRAY) {
        bim_array_info *nested;
        std::memcpy(&nested, slot, sizeof nested);
        if (nested) bim_release_array(f, nested);
      }
      cursor += bim_block_bytes(f);
    });
    bim_array_block *next = block->next;
    bim_release(block);
    block = next;
  }
  size_t elementSize = record->elementSize;
  *record = bim_array_info{};
  record->elementSize = elementSize;
}

void bim_release_array(bim_element *array, bim_array_info *record) {
  bim_release_blocks(array, record);
  bim_release(record);
}

// Frees the string copies, binary copies and array elements that a children
// list holds; with destroy also the storage and the elements themselves.
static void bim_release_children(bim_element *first, bool destroy) {
  bim_walk(first, [&](bim_element *e, int32_t rep, size_t) {
    if (e->type == BIM_STRING && e->data) {
      char **slots = static_cast<char **>(e->data) + size_t(rep) * size_t(e->count);
      for (int32_t k = 0; k < e->count; ++k) {
        bim_release(slots[k]);
        slots[k] = nullptr;
      }
    } else if (e->type == BIM_BINARY && e->data) {
      auto **slot = static_cast<bim_binary **>(e->data);
      bim_free_binary(*slot);
      *slot = nullptr;
    } else if (e->type == BIM_ARRAY && e->data) {
      bim_release_blocks(e, static_cast<bim_array_info *>(e->data));
      bim_release_children(e->children, destroy);
    }
  });
  if (!destroy) return;
  for (bim_element *e = first; e;) {
    bim_element *next = e->next;
    if (e->type == BIM_ARRAY && !e->data) bim_release_children(e->children, true);
    bim_release(e->data);
    bim_release(e);
    e = next;
  }
}

void bim_release_loaded(bim_element *root) {
  bim_root_info *ri = bim_info(root);
  if (ri->flags & BIM_LOADED_FROM_FILE) {
    bim_release_input_file(&ri->image);
  } else if (ri->flags & BIM_IMAGE_OWNED) {
    bim_release(ri->image.address);
  }
  ri->image = bim_image_record{-1, nullptr, 0};
  bim_release_children(root->children, false);
  ri->flags = 0;
}

static void bim_free_tree(bim_element *root) {
  if (!root) return;
  bim_root_info *ri = bim_info(root);
  if (ri) {
    bim_release_loaded(root);
    for (bim_array_index *entry = ri->arrayIndex; entry;) {
      bim_array_index *next = entry->next;
      bim_release(entry);
      entry = next;
    }
    bim_release(ri->format);
    bim_release(ri->fixedCounts);
  }
  bim_release_children(root->children, true);
  bim_release(ri);
  bim_release(root);
}

void bim_destroy(bim_element *root) {
  if (!bim_is_root(root)) return;
  bim_guarded(0, [&] {
    bim_free_tree(root);
    return 0;
  });
}

// ---------------------------------------------------------------------------
// Pack
// ---------------------------------------------------------------------------

// Image bytes of one element block whose fields are all empty (zero values,
// null strings, no binary, empty nested arrays): what a new block adds.
static uint64_t bim_empty_block_size(bim_element *array) {
  uint64_t n = 0;
  bim_walk(array->children, [&](bim_element *f, int32_t, size_t) {
    if (bim_is_fixed(f->type))
      n += uint64_t(f->count) * bim_item_size(f->type);
    else if (f->type == BIM_STRING)
      n += 4 * uint64_t(f->count);
    else
      n += 4; // B size or nested A count
  });
  return n;
}

static bim_binary *bim_copy_binary(const void *mapped) {
  bim_binary source;
  std::memcpy(&source, mapped, sizeof source);
  auto *copy = static_cast<bim_binary *>(bim_alloc_zero(sizeof(bim_binary)));
  if (source.size && source.address) {
    try {
      copy->address = bim_alloc(source.size);
    } catch (const bim_failure &) {
      bim_release(copy);
      throw;
    }
    std::memcpy(copy->address, source.address, source.size);
    copy->size = source.size;
  }
  return copy;
}

// Copies the children of the root (block null) or the fields of one new
// element block of array.
static void bim_pack_children(bim_element *owner, bim_array_block *block) {
  size_t cursor = 0;
  bim_array_info *record = block ? static_cast<bim_array_info *>(owner->data) : nullptr;
  bim_walk(owner->children, [&](bim_element *e, int32_t rep, size_t stride) {
    unsigned char *slot = block ? block->data + cursor : nullptr;
    if (block && cursor + bim_block_bytes(e) > record->elementSize)
      bim_fail("internal error in bim_pack\n");
    auto *mapped = static_cast<unsigned char *>(e->address) + size_t(rep) * stride;
    if (bim_is_fixed(e->type)) {
      size_t n = size_t(e->count) * bim_item_size(e->type);
      std::memcpy(static_cast<unsigned char *>(e->data) + size_t(rep) * n, mapped, n);
      if (block) std::memcpy(slot, mapped, n);
    } else if (e->type == BIM_STRING) {
      char **storage = static_cast<char **>(e->data) + size_t(rep) * size_t(e->count);
      for (int32_t k = 0; k < e->count; ++k) {
        const char *source;
        std::memcpy(&source, mapped + size_t(k) * sizeof(char *), sizeof source);
        char *copy = bim_copy_string(source);
        if (block) {
          std::memcpy(slot + size_t(k) * sizeof copy, &copy, sizeof copy);
          if (copy) owner->serializedSize += std::strlen(copy);
          bim_release(storage[k]);
          storage[k] = nullptr;
        } else {
          bim_release(storage[k]);
          storage[k] = copy;
        }
      }
    } else if (e->type == BIM_BINARY) {
      bim_binary *copy = bim_copy_binary(mapped);
      auto **storage = static_cast<bim_binary **>(e->data);
      if (block) {
        std::memcpy(slot, &copy, sizeof copy);
        owner->serializedSize += copy->size;
      } else {
        bim_free_binary(*storage);
        *storage = copy;
      }
    } else if (e->type == BIM_ARRAY) {
      if (block) {
        auto *current = static_cast<bim_array_info *>(e->data);
        auto *fresh = static_cast<bim_array_info *>(bim_alloc_zero(sizeof(bim_array_info)));
        fresh->elementSize = current->elementSize;
        std::memcpy(slot, &current, sizeof current);
        e->data = fresh;
        owner->serializedSize += e->serializedSize;
        e->serializedSize = 0;
      }
    } else {
      bim_fail("unsupported format character\n");
    }
    if (block) cursor += bim_block_bytes(e);
  });
}

// A new zeroed element block at the end of the array.  It counts with its
// empty size at once, so that the map stays consistent (and dumpable) when
// packing one of its fields fails.
static bim_array_block *bim_append_element(bim_element *array) {
  auto *record = static_cast<bim_array_info *>(array->data);
  if (record->elementCount == UINT32_MAX) bim_fail("out of memory\n");
  auto *block =
      static_cast<bim_array_block *>(bim_alloc_zero(sizeof(bim_array_block) + record->elementSize));
  block->data = reinterpret_cast<unsigned char *>(block + 1);
  if (record->lastBlock)
    record->lastBlock->next = block;
  else
    record->firstBlock = block;
  record->lastBlock = block;
  record->elementCount += 1;
  array->serializedSize += bim_empty_block_size(array);
  return block;
}

int bim_pack(bim_element *root, int index) {
  return bim_guarded(-1, [&] {
    bim_element *array = nullptr;
    if (!bim_is_root(root) || index < 0 || (index > 0 && !(array = bim_array_at(root, index)))) {
      bim_active_hooks.report("invalid index %d to bim_pack\n", index);
      return -1;
    }
    bim_root_info *ri = bim_info(root);
    if (ri->flags & BIM_LOADED) bim_release_loaded(root);
    ri->flags |= BIM_PACKED;
    if (!array) {
      bim_pack_children(root, nullptr);
      return 0;
    }
    bim_pack_children(array, bim_append_element(array));
    return 0;
  });
}
