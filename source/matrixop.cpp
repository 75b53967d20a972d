// Per-thread record, evaluation buffers, marks and the persistent buffers.
//
// The record of a thread lives in the platform's per-thread slot, which
// releases it (buffers first) when the thread ends; the library destructor at
// the end of this file releases the records of all threads still alive and
// the cached "C" locale when the library is unloaded.
//
// Allocation is a bump of one position with one room test.  The test compares
// the request with the room left (bound minus position), so no pointer beyond
// the buffer is ever formed; a failed request leaves the buffer exhausted
// (position at the bound) until the next restoreMark, resetMarks or
// endEvaluation, so every further request from it fails as well, and reports
// the buffer's failed assertion, which does not return.
#include "source/matrixop.h"

#include "platform/heap.h"
#include "platform/threadslot.h"
#include "source/clocale/clocale_io.h"
#include "source/runtime_messages.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>

namespace {

// Bytes of the four typed per-thread buffers.
constexpr std::size_t kRealBytes = RealbufferSize * sizeof(double);
constexpr std::size_t kIntegerBytes = IntegerbufferSize * sizeof(int);
constexpr std::size_t kSizeBytes = SizebufferSize * sizeof(int);
constexpr std::size_t kStringBytes = StringbufferSize * sizeof(char *);

} // namespace

namespace {

// ---- failure texts of the allocators ----------------------------------------

constexpr const char *kRealMessage =
    "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can change the memory size by setting the variable "
    "Advanced.RealBufferSize.";
constexpr const char *kIntegerMessage =
    "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
    "pralix/source/matrixop.";
constexpr const char *kSizeMessage =
    "Out of memory for array dimensions\nIt could due to too many matrices, infinite "
    "recursion, or uninitialized variables.\nYou can increase the size of 'Sizebuffer' in "
    "pralix/source/matrixop.";
constexpr const char *kStringMessage =
    "Out of memory for strings\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Stringbuffer' in "
    "pralix/source/matrixop.";
constexpr const char *kRoomMessage = "Room to allocate string";

// ---- persistent buffers ------------------------------------------------------

double RealbufferNon[RealbufferNonSize];
int IntegerbufferNon[IntegerbufferNonSize];
int SizebufferNon[SizebufferNonSize];
char *StringbufferNon[StringbufferNonSize];
char persistentStringArea[PersistentStringAreaSize];

// ---- thread record -----------------------------------------------------------

void releaseThreadRecord(void *value) {
  auto *context = static_cast<ThreadContext *>(value);
  freeThreadBuffers(context);
  platform::heapFree(context);
}

// Whether p lies in [begin, end).  The pointers may belong to different
// objects, so the comparison goes through std::less.
bool inside(const char *p, const char *begin, const char *end) {
  std::less<const char *> less;
  return p != nullptr && begin != nullptr && !less(p, begin) && less(p, end);
}

// The calling thread's record with its buffers; null when either cannot be
// had.
ThreadContext *contextWithBuffers() {
  ThreadContext *context = getThreadContext();
  if (context == nullptr) return nullptr;
  if (context->EndRealbuffer == nullptr) initThreadBuffers();
  return context->EndRealbuffer != nullptr ? context : nullptr;
}

// Bump allocation of n elements from position below bound.
template <class T>
T *bump(T *&position, T *bound, int n, const char *condition, const char *message) {
  if (n < 0 || position == nullptr || n >= bound - position) {
    if (position != nullptr) position = bound;
    runtimeAssert(0, condition, message);
    std::abort(); // not reached: the failed assertion does not return
  }
  T *result = position;
  position += n;
  return result;
}

} // namespace

MemoryMark currentMarkNon = {{RealbufferNon, IntegerbufferNon, SizebufferNon, StringbufferNon},
                             {RealbufferNon, IntegerbufferNon, SizebufferNon, StringbufferNon}};
char *startstringmarkNon = persistentStringArea;
double *const EndRealbufferNon = RealbufferNon + RealbufferNonSize;
int *const EndIntegerbufferNon = IntegerbufferNon + IntegerbufferNonSize;
int *const EndSizebufferNon = SizebufferNon + SizebufferNonSize;
char **const EndStringbufferNon = StringbufferNon + StringbufferNonSize;
char *const EndpersistentStringArea = persistentStringArea + PersistentStringAreaSize;

double *RealbufferNonStart() { return RealbufferNon; }
int *IntegerbufferNonStart() { return IntegerbufferNon; }
int *SizebufferNonStart() { return SizebufferNon; }
char **StringbufferNonStart() { return StringbufferNon; }
char *persistentStringAreaStart() { return persistentStringArea; }

ThreadContext *findThreadContext() {
  return static_cast<ThreadContext *>(platform::threadSlotGet());
}

ThreadContext *getThreadContext() {
  if (auto *context = findThreadContext()) return context;
  if (!platform::threadSlotOpen(releaseThreadRecord)) return nullptr;
  auto *context = static_cast<ThreadContext *>(platform::heapAllocZeroed(1, sizeof(ThreadContext)));
  if (context == nullptr) return nullptr;
  if (!platform::threadSlotSet(context)) {
    platform::heapFree(context);
    return nullptr;
  }
  return context;
}

ThreadContext *setCurrentInstance(ModelInstanceData *instance) {
  ThreadContext *context = getThreadContext();
  if (context != nullptr) context->currentInstance = instance;
  return context;
}

// ---- buffers -------------------------------------------------------------------

void initThreadBuffers() {
  ThreadContext *context = getThreadContext();
  if (context == nullptr || context->EndRealbuffer != nullptr) return;
  // The four typed buffers (4.5 MB) are large blocks: only the pages an
  // evaluation writes become resident.
  auto *reals = static_cast<double *>(platform::takeLargeZeroed(kRealBytes));
  auto *integers = static_cast<int *>(platform::takeLargeZeroed(kIntegerBytes));
  auto *sizes = static_cast<int *>(platform::takeLargeZeroed(kSizeBytes));
  auto *strings = static_cast<char **>(platform::takeLargeZeroed(kStringBytes));
  auto *characters = static_cast<char *>(platform::heapAllocZeroed(SimplestringSize, 1));
  if (!reals || !integers || !sizes || !strings || !characters) {
    // Keep none: the allocators then report their buffer as exhausted.
    platform::releaseLarge(reals, kRealBytes);
    platform::releaseLarge(integers, kIntegerBytes);
    platform::releaseLarge(sizes, kSizeBytes);
    platform::releaseLarge(strings, kStringBytes);
    platform::heapFree(characters);
    return;
  }
  context->EndRealbuffer = reals + RealbufferSize;
  context->EndIntegerbuffer = integers + IntegerbufferSize;
  context->EndSizebuffer = sizes + SizebufferSize;
  context->EndStringbuffer = strings + StringbufferSize;
  context->currentMark.place = {reals, integers, sizes, strings};
  context->currentMark.savedPlace = context->currentMark.place;
  context->startMark = context->currentMark;
  context->simplestring = characters;
  context->stringmark = characters;
  context->Endsimplestring = characters + SimplestringSize;
}

void freeThreadBuffers(ThreadContext *context) {
  if (context == nullptr || context->EndRealbuffer == nullptr) return;
  platform::releaseLarge(context->startMark.place.Realbuffer, kRealBytes);
  platform::releaseLarge(context->startMark.place.Integerbuffer, kIntegerBytes);
  platform::releaseLarge(context->startMark.place.Sizebuffer, kSizeBytes);
  platform::releaseLarge(context->startMark.place.Stringbuffer, kStringBytes);
  platform::heapFree(context->simplestring);
  context->startMark = MemoryMark{};
  context->currentMark = MemoryMark{};
  context->stringmark = nullptr;
  context->simplestring = nullptr;
  context->Endsimplestring = nullptr;
  context->EndRealbuffer = nullptr;
  context->EndIntegerbuffer = nullptr;
  context->EndSizebuffer = nullptr;
  context->EndStringbuffer = nullptr;
}

void releaseThreadBuffers() { freeThreadBuffers(getThreadContext()); }

// ---- allocation ----------------------------------------------------------------

double *allocRealbuffer(int n) {
  ThreadContext *c = contextWithBuffers();
  double *none = nullptr;
  return bump(c ? c->currentMark.place.Realbuffer : none, c ? c->EndRealbuffer : nullptr, n,
              "currentMark.place.Realbuffer<EndRealbuffer", kRealMessage);
}

int *allocIntegerbuffer(int n) {
  ThreadContext *c = contextWithBuffers();
  int *none = nullptr;
  return bump(c ? c->currentMark.place.Integerbuffer : none, c ? c->EndIntegerbuffer : nullptr, n,
              "currentMark.place.Integerbuffer<EndIntegerbuffer", kIntegerMessage);
}

int *allocSizebuffer(int n) {
  ThreadContext *c = contextWithBuffers();
  int *none = nullptr;
  return bump(c ? c->currentMark.place.Sizebuffer : none, c ? c->EndSizebuffer : nullptr, n,
              "currentMark.place.Sizebuffer<EndSizebuffer", kSizeMessage);
}

char **allocStringbuffer(int n) {
  ThreadContext *c = contextWithBuffers();
  char **none = nullptr;
  return bump(c ? c->currentMark.place.Stringbuffer : none, c ? c->EndStringbuffer : nullptr, n,
              "currentMark.place.Stringbuffer<EndStringbuffer", kStringMessage);
}

char *allocSimplestring(int len) {
  ThreadContext *c = contextWithBuffers();
  // The test comes first and the position does not move on failure.  The
  // request is compared with the room, so the test cannot wrap.
  if (c == nullptr || len < 0 || len >= (c->Endsimplestring - c->stringmark) - 1) {
    runtimeAssert(0, "stringmark+len+1<Endsimplestring", kRoomMessage);
    std::abort(); // not reached
  }
  char *result = c->stringmark;
  c->stringmark += len + 1;
  return result;
}

double *allocRealbufferNon(int n) {
  return bump(currentMarkNon.place.Realbuffer, EndRealbufferNon, n,
              "currentMarkNon.place.Realbuffer<EndRealbufferNon", kRealMessage);
}

int *allocIntegerbufferNon(int n) {
  return bump(currentMarkNon.place.Integerbuffer, EndIntegerbufferNon, n,
              "currentMarkNon.place.Integerbuffer<EndIntegerbufferNon", kIntegerMessage);
}

int *allocSizebufferNon(int n) {
  return bump(currentMarkNon.place.Sizebuffer, EndSizebufferNon, n,
              "currentMarkNon.place.Sizebuffer<EndSizebufferNon", kSizeMessage);
}

char **allocStringbufferNon(int n) {
  return bump(currentMarkNon.place.Stringbuffer, EndStringbufferNon, n,
              "currentMarkNon.place.Stringbuffer<EndStringbufferNon", kStringMessage);
}

char *copyStringToNon(const char *str) {
  ThreadContext *c = findThreadContext();
  if (c == nullptr || !inside(str, c->simplestring, c->Endsimplestring))
    return const_cast<char *>(str);
  // The length is bounded by the area, so an unterminated text cannot lead
  // the copy out of it.
  std::size_t n = strnlen(str, static_cast<std::size_t>(c->Endsimplestring - str));
  if (static_cast<std::ptrdiff_t>(n) >= (EndpersistentStringArea - startstringmarkNon) - 1) {
    runtimeAssert(0, "startstringmarkNon+n+1<EndpersistentStringArea", kRoomMessage);
    std::abort(); // not reached
  }
  char *copy = startstringmarkNon;
  std::memcpy(copy, str, n);
  copy[n] = '\0';
  startstringmarkNon += n + 1;
  return copy;
}

// ---- marks ---------------------------------------------------------------------

MemoryMark saveMark() {
  ThreadContext *c = contextWithBuffers();
  if (c == nullptr) return MemoryMark{};
  MemoryMark result = c->currentMark;
  c->currentMark.savedPlace = c->currentMark.place;
  return result;
}

void saveMarkPlace(BufferPlace *out) {
  MemoryMark mark = saveMark();
  if (out != nullptr) *out = mark.place;
}

void releaseToSavedPlace() {
  if (ThreadContext *c = contextWithBuffers()) c->currentMark.place = c->currentMark.savedPlace;
}

void restoreMark(MemoryMark mark) {
  if (ThreadContext *c = contextWithBuffers()) c->currentMark = mark;
}

void resetMarks() {
  if (ThreadContext *c = contextWithBuffers()) {
    c->currentMark = c->startMark;
    c->stringmark = c->simplestring;
  }
}

char *getStringMark() {
  ThreadContext *c = contextWithBuffers();
  return c != nullptr ? c->stringmark : nullptr;
}

void setStringMark(char *p) {
  ThreadContext *c = contextWithBuffers();
  if (c != nullptr && p != nullptr) c->stringmark = p;
}

const char *releaseStringsKeeping(const char *str, char *mark) {
  ThreadContext *c = contextWithBuffers();
  if (c == nullptr || mark == nullptr) return str;
  if (!inside(str, mark, c->stringmark)) {
    c->stringmark = mark;
    return str;
  }
  std::size_t room = static_cast<std::size_t>(c->stringmark - str);
  std::size_t n = strnlen(str, room) + 1;
  if (n > room) return str; // the string reaches beyond the allocated part
  std::memmove(mark, str, n);
  c->stringmark = mark + n;
  return mark;
}

void endEvaluation() {
  if (ThreadContext *c = contextWithBuffers()) {
    c->currentMark = c->startMark;
    c->stringmark = c->simplestring;
    c->functionStack = nullptr;
    c->externalCallState = 0;
  } else if (ThreadContext *bare = getThreadContext()) {
    bare->functionStack = nullptr;
    bare->externalCallState = 0;
  }
}

MarkGuard::MarkGuard() : mark_(saveMark()), uncaught_(std::uncaught_exceptions()) {}

MarkGuard::~MarkGuard() {
  if (std::uncaught_exceptions() == uncaught_) restoreMark(mark_);
}

// ---- unload --------------------------------------------------------------------

// Runs when the library is unloaded (or the program ends): releases the
// records and buffers of every thread that still has one, then the "C"
// locale object.
__attribute__((destructor)) static void releaseRuntimeAtUnload() {
  platform::threadSlotClose();
  releaseCLocale();
}
