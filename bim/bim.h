// Typed binary images described by format strings.
//
// A map (bim_map) ties a format string to program variables.  bim_pack copies
// the variables' values into the map, bim_dump writes them as one contiguous
// image (to memory, a caller's buffer, a file or a descriptor, or only reports
// its length), bim_load checks an image and takes it into a map, and
// bim_unpack copies the loaded values back into the mapped variables.
//
// Image layout (all integers little-endian, no padding):
//   "bim" | flags (1 byte) | total length (u32) | format string and NUL |
//   one u32 count per '#' | the data of the elements in format order.
// Flag bit 0: integers stored big-endian (never written here, honoured when
// read); bit 1: string lengths include the NUL and 0 is a null string (set
// exactly when the format contains 's').
//
// Format letters: i u (32-bit), c (byte), s (string), f (double), I U (64-bit),
// j v (16-bit); '#' after a letter or after S(...) takes an int count; B takes
// the address of a bim_binary; A(...) is a variable-length array packed and
// unpacked one element at a time; S(...) takes the base address of a
// structure whose fields follow the C layout; $(...) groups fields inside S.
//
// Images come from outside the process, so nothing read from one is trusted:
// every length and count is bounded by the bytes that remain.  A failure never
// ends the process: it is reported through bim_active_hooks.report (standard
// output by default) and the call returns -1 or null.
//
// Not thread-safe: the hooks record is process-wide, a map belongs to one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Mode bits of bim_dump and bim_load; the first one present (in the order
// file, descriptor, memory, size for dump; file, memory, descriptor for load)
// selects the mode.
//
// Variable arguments, with the types they are read as:
//   bim_dump BIM_TO_FILE                      const char *fileName
//   bim_dump BIM_TO_FD                        int descriptor
//   bim_dump BIM_TO_MEMORY                    void **buffer, size_t *length
//            (a new buffer from the malloc hook; the caller frees it with the
//            free hook)
//   bim_dump BIM_TO_MEMORY|BIM_CALLER_BUFFER  void *buffer, size_t size
//   bim_dump BIM_SIZE_ONLY                    size_t *length
//   bim_load BIM_TO_FILE                      const char *fileName
//   bim_load BIM_TO_MEMORY                    const void *address, size_t size
//            (with BIM_OWN_BUFFER the map frees the buffer with the free hook,
//            also when the load fails)
//   bim_load BIM_TO_FD                        int descriptor
//
// Files.  bim_dump BIM_TO_FILE writes the image to a new file beside the
// named one ("<name>.tmp<pid>.<n>") and renames it over the name once every
// byte is written and flushed.  When the dump fails (-1, reported with the
// system's reason: a full file system, a file-size limit, an I/O error), an
// earlier file of that name survives unchanged and the new file is removed;
// only a process that dies during the dump can leave the new file behind.  A
// symbolic link is followed (the file it names gets the image), an existing
// file keeps its permission bits, and a name that exists but is no regular
// file is refused.  bim_load BIM_TO_FILE reads a regular file of at most
// UINT32_MAX bytes (the longest image bim_dump writes) completely into memory
// that the map owns: changes to the file after the load do not reach the
// loaded image.  Anything that is not a regular file (a FIFO, a device, a
// directory) is refused without waiting.
//
// BIM_FROM_VARIABLES (bim_dump, with any of its modes) writes the image of
// the mapped variables as they are now: what bim_pack(root, 0) followed by
// bim_dump would write, without copying the values into the map first (the
// map's packed values are neither used nor changed).  The elements of A
// elements come from their packed element blocks, as always.
// ---------------------------------------------------------------------------
constexpr int BIM_TO_FILE = 0x1;
constexpr int BIM_TO_MEMORY = 0x2;
constexpr int BIM_CALLER_BUFFER = 0x4;
constexpr int BIM_ALLOW_EXCESS = 0x8;
constexpr int BIM_TO_FD = 0x10;
constexpr int BIM_OWN_BUFFER = 0x20;
constexpr int BIM_FROM_VARIABLES = 0x40;
constexpr int BIM_SIZE_ONLY = 0x100;

// Flags of bim_root_info.
constexpr int32_t BIM_PACKED = 0x200;
constexpr int32_t BIM_LOADED = 0x400;
constexpr int32_t BIM_SWAP = 0x800;
constexpr int32_t BIM_LENGTHS_WITHOUT_NUL = 0x1000;
constexpr int32_t BIM_LOADED_FROM_FILE = 0x1;
constexpr int32_t BIM_LOADED_FROM_MEMORY = 0x2;
constexpr int32_t BIM_IMAGE_OWNED = 0x20;

// Gather modes of bim_gather.
constexpr int BIM_GATHER_BLOCKING_FD = 1;
constexpr int BIM_GATHER_NONBLOCKING_FD = 2;
constexpr int BIM_GATHER_MEMORY = 3;

// The deepest nesting of A(...) that bim_map accepts (A(i) is 1 deep); a
// deeper format is refused as a parse error.  Every walk over the element
// tree and over the arrays of an image recurses once per level.
constexpr int BIM_MAX_ARRAY_DEPTH = 64;

// The largest image the gathers accept unless gatherLimit is changed.
constexpr size_t BIM_DEFAULT_GATHER_LIMIT = size_t{64} << 20;

// Element type codes (the index into the type table).
enum bim_type : int32_t {
  BIM_ROOT = 0,
  BIM_INT32 = 1,   // i
  BIM_UINT32 = 2,  // u
  BIM_BYTE = 3,    // c
  BIM_STRING = 4,  // s
  BIM_ARRAY = 5,   // A
  BIM_BINARY = 6,  // B
  BIM_DOUBLE = 7,  // f
  BIM_INT64 = 8,   // I
  BIM_UINT64 = 9,  // U
  BIM_INT16 = 10,  // j
  BIM_UINT16 = 11, // v
  BIM_REPEAT = 12, // # after S(...)
};

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// The fixed start of every image (8 bytes, no padding); the format string
// with its NUL, one u32 per '#' and the data follow it.
struct bim_image {
  char magic[3];   // "bim"
  uint8_t flags;   // bit 0: integers big-endian; bit 1: string lengths count the NUL
  uint32_t length; // total length of the image, this header included
};
static_assert(sizeof(bim_image) == 8 && offsetof(bim_image, length) == 4);

// A binary block: what a B element maps.  bim_unpack fills it with a new
// buffer from the malloc hook (null for size 0) that the caller frees.
struct bim_binary {
  void *address; // the bytes
  uint32_t size; // their number
};

// One node of a map; the root is the handle that bim_map returns.
struct bim_element {
  int32_t type;            // bim_type code
  void *address;           // mapped variable; null for root, A and repetition
  void *data;              // storage owned by the element
  int32_t count;           // items (product of the '#' counts); repetitions
  uint64_t serializedSize; // root: header, format and counts; A: packed bytes
  bim_element *children;   // first child
  bim_element *next;       // next sibling
  bim_element *prev;       // previous sibling; the first child's is the last
  bim_element *parent;     // null for the root
};

// One element block of an A element: elementSize bytes follow the header.
struct bim_array_block {
  bim_array_block *next;
  unsigned char *data; // the block's own bytes (right after this header)
};

// Storage of an A element: the elements packed so far, or the place of the
// next element to unpack.
struct bim_array_info {
  uint32_t elementCount; // packed, or left to unpack
  size_t elementSize;    // bytes of one block
  bim_array_block *firstBlock;
  bim_array_block *lastBlock;
  const unsigned char *readPosition; // next element in the loaded image
};

// Storage of a repetition element (S(...)#).
struct bim_repeat_info {
  size_t stride;           // bytes from one structure to the next in memory
  bim_element *firstField; // the structure's first field
  int32_t iteration;       // 0 between operations
};

// One entry of the list of a map's A elements (1-based places for pack and
// unpack); the first entry's prev is the last entry.
struct bim_array_index {
  bim_element *element;
  bim_array_index *next;
  bim_array_index *prev;
};

// The loaded or mapped image of a map.
struct bim_image_record {
  int descriptor; // -1 (a file load keeps no descriptor: it reads the file)
  void *address;
  size_t size;
};

// The root's storage.
struct bim_root_info {
  int32_t flags; // BIM_PACKED, BIM_LOADED, BIM_SWAP, ... and the load mode
  bim_array_index *arrayIndex;
  bim_image_record image;
  char *format;         // copy of the format string
  int32_t *fixedCounts; // the '#' counts in order of appearance
  int32_t fixedCountNumber;
};

// A partial image that the non-blocking and memory gathers keep between calls
// (allocated with the malloc hook; start with a null pointer).
struct bim_partial {
  unsigned char *address;
  size_t length;
};

// Called by the gathers for each complete image, which stays valid only
// during the call; a negative result aborts the gather.
using bim_gather_callback = int (*)(void *image, size_t length, void *data);

// Allocation and messages of the serializer.  fatal reports a failure that
// ends the current call: when it returns, the call gives up and returns -1 or
// null (the default never ends the process).
struct bim_hooks {
  int (*report)(const char *format, ...);
  void *(*malloc)(size_t size);
  void *(*realloc)(void *address, size_t size);
  void (*free)(void *address);
  void (*fatal)(const char *format, ...);
  size_t gatherLimit; // largest image the gathers accept; 0 for no limit
};

// The hooks in use: {bim_default_report, malloc, realloc, free,
// bim_default_fatal, BIM_DEFAULT_GATHER_LIMIT}.
extern bim_hooks bim_active_hooks;

// Prints the formatted text to standard output; returns 0.
int bim_default_report(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Formats at most 99 characters and passes them to the report hook as "%s".
void bim_default_fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));

// ---------------------------------------------------------------------------
// Maps
// ---------------------------------------------------------------------------

// Parses format and maps the variables that follow; the root, or null after a
// parse error or a bad '#' count.  Release with bim_destroy.
bim_element *bim_map(const char *format, ...);
// Index 0 copies the root's elements; index i > 0 appends one element to the
// i-th A element of the format.  0, or -1.
[[nodiscard]] int bim_pack(bim_element *root, int index);
// Releases the map and everything it owns (not the mapped variables, not the
// strings and blocks that bim_unpack handed out).
void bim_destroy(bim_element *root);

// ---------------------------------------------------------------------------
// Images
// ---------------------------------------------------------------------------

// The length of the image that bim_dump would write now, or -1.
int64_t bim_ser_osz(bim_element *root);
// Byte length of the data of node (the root or an A element) that starts at
// position in the loaded image: 0 with *length, or -1 when it runs past the
// image end.
[[nodiscard]] int bim_serlen(bim_element *root, bim_element *node, const unsigned char *position,
                             size_t *length);
// Checks the image recorded in the root (address and size): 0 or -1 .. -11.
[[nodiscard]] int bim_check_image(bim_element *root, int allowExcess);

// Writes the packed map (see the mode table above): 0 or -1.
[[nodiscard]] int bim_dump(bim_element *root, int mode, ...);
// Checks an image and takes it into the map: 0 or -1.
[[nodiscard]] int bim_load(bim_element *root, int mode, ...);
// Index 0: copies the root's values into the mapped variables, result 1.
// Index of an A element: the next element of it, result the number of
// elements left before the call (0: none left, nothing read).  -1 on error;
// an element that failed (an allocation) stays the next one, so a call after
// the failure delivers it and every element after it.
// Strings and binary blocks are new buffers from the malloc hook that the
// caller frees; earlier pointers in the mapped variables are overwritten.
[[nodiscard]] int bim_unpack(bim_element *root, int index);

// ---------------------------------------------------------------------------
// Gathering images out of byte streams
// ---------------------------------------------------------------------------

// bim_gather(BIM_GATHER_BLOCKING_FD, fd, &image, &length),
// bim_gather(BIM_GATHER_NONBLOCKING_FD, fd, &partial, callback, data),
// bim_gather(BIM_GATHER_MEMORY, address, length, &partial, callback, data).
[[nodiscard]] int bim_gather(int mode, ...);
// Reads one image: 1 with a new buffer (malloc hook, caller frees) and its
// length, 0 at the end of input, negative on error (also for a stream that
// ends inside an image).
[[nodiscard]] int bim_gather_fd_blocking(int fd, void **image, size_t *length);
// Reads a non-blocking descriptor until it would block (1) or ends (0; -1
// when it ends inside an image), handing each complete image to callback.
[[nodiscard]] int bim_fd_gather(int fd, bim_partial **partial, bim_gather_callback callback,
                                void *data);
// One chunk of a byte stream: complete images go to callback, the rest is
// kept in *partial for the next call; 1, or negative on error.
[[nodiscard]] int bim_mem_gather(const void *address, size_t length, bim_partial **partial,
                                 bim_gather_callback callback, void *data);
