// Evaluation buffers, marks and the persistent buffers.  The thread's record
// itself, with the creation and release of its buffers, is in
// thread_context.cpp.
//
// Allocation is a bump of one position with one room test.  The test compares
// the request with the room left (bound minus position), so no pointer beyond
// the buffer is ever formed; a failed request leaves the buffer exhausted
// (position at the bound) until the next restoreMark, resetMarks or
// endEvaluation, so every further request from it fails as well, and reports
// the buffer's failed assertion, which does not return.
#include "source/matrixop.h"

#include "platform/threadslot.h"
#include "source/runtime_messages.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>

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

// Whether p lies in [begin, end).  The pointers may belong to different
// objects, so the comparison goes through std::less.
bool inside(const char *p, const char *begin, const char *end) {
  std::less<const char *> less;
  return p != nullptr && begin != nullptr && !less(p, begin) && less(p, end);
}

// The calling thread's record with its buffers; null when either cannot be
// had.  Every allocation, mark and completed evaluation comes here, so the
// record is taken from the platform's slot in place, and only a thread that
// has none yet goes to getThreadContext to create it.
ThreadContext *contextWithBuffers() {
  auto *context = static_cast<ThreadContext *>(platform::threadSlotGet());
  if (context == nullptr) context = getThreadContext();
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
