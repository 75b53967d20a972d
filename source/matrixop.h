#pragma once
// Per-thread runtime record and evaluation memory.
//
// Every thread that evaluates a model owns one ThreadContext: the stack of
// function names for error reports, the recovery point of the error path, the
// instance under evaluation with the addresses of its time and status word,
// and four typed bump buffers plus a character area for the temporaries of
// one evaluation.  The buffers are created at the thread's first allocation
// or mark operation and released wholesale when an evaluation completes
// (endEvaluation) or back to a saved mark (restoreMark).
// A thread that only asks for its record gets the zero-filled record and no
// buffers.  The record and its buffers go when the thread ends and when the
// library is unloaded (platform/threadslot.h).
//
// Beside them stand the persistent "Non" buffers: process-wide, only ever
// allocated from, never released, shared by all threads without a lock (safe
// only while one thread at a time allocates from them).
//
// Allocation failures never return: they are the failed runtime assertion of
// the buffer (runtime_messages.h), which unwinds to the recovery point of the
// evaluation (error_path.h).  Counts are elements, not bytes; a negative count
// fails the same way as an oversized one.

#include <cstddef>
#include <cstdint>

struct ModelInstanceData;
class ErrorRecoveryScope;

// A node of the function-name stack; lives in the frame of the function that
// pushed it.  The runtime never allocates or frees entries.
struct FunctionStackEntry {
  const char *name;         // function name printed by error reports
  FunctionStackEntry *next; // next outer entry, null at the bottom
};

// One position in each of the four per-thread (or persistent) buffers.
struct BufferPlace {
  double *Realbuffer;
  int *Integerbuffer;
  int *Sizebuffer;
  char **Stringbuffer;
};

// A plain value: keep the one saveMark returns and hand it to restoreMark.
// The string position (stringmark) is not part of a mark.
struct MemoryMark {
  BufferPlace place;      // next free slot of each buffer
  BufferPlace savedPlace; // place at the last saveMark
};

struct ThreadContext {
  FunctionStackEntry *functionStack; // innermost call first; null when empty
  int externalCallState;             // kept by external-function call wrappers
  MemoryMark startMark;              // both places at the buffer starts
  MemoryMark currentMark;            // positions of the four buffers
  char *stringmark;                  // next free character of simplestring
  char *simplestring;                // start of the character area
  char *Endsimplestring;             // one past the character area
  double *EndRealbuffer;             // null: the buffers are not allocated
  int *EndIntegerbuffer;
  int *EndSizebuffer;
  char **EndStringbuffer;
  ErrorRecoveryScope *errorJump;      // armed recovery point, null when none
  ModelInstanceData *currentInstance; // null: defaultInstanceData serves
  // The time and status word of currentInstance, bound with it (bindInstance,
  // runcontrol.h), so that reports and the error path read them without
  // knowing the instance record; null while no instance is bound.
  const double *currentTime;
  int32_t *currentStatus;
};

// Sizes of the per-thread buffers (elements).
inline constexpr int RealbufferSize = 500000;
inline constexpr int IntegerbufferSize = 50000;
inline constexpr int SizebufferSize = 50000;
inline constexpr int StringbufferSize = 10000;
inline constexpr int SimplestringSize = 10000;

// Sizes of the persistent buffers (elements).
inline constexpr int RealbufferNonSize = 70000;
inline constexpr int IntegerbufferNonSize = 500000;
inline constexpr int SizebufferNonSize = 500000;
inline constexpr int StringbufferNonSize = 10000;
inline constexpr int PersistentStringAreaSize = 100000;

// ---- thread record ---------------------------------------------------------

// The calling thread's record, created zero-filled at the first call (no
// buffers).  Null only when the record cannot be allocated or the library is
// being unloaded; every operation below then does nothing, and the allocators
// fail with their buffer's message.
ThreadContext *getThreadContext();

// The calling thread's record if it has one; never creates it.
ThreadContext *findThreadContext();

// ---- the evaluation under way ---------------------------------------------

// time of the calling thread's instance under evaluation; while none is
// bound, that of the record registered with setUnboundEvaluation, else 0.
double getCurrentTime();
// Address of the status word of that instance; while none is bound, that of
// the registered record, else a word of the calling thread.
int32_t *getStatusPointer();
// Registers the time and status word of the record that serves while no
// instance is bound (setUnboundInstanceData, runcontrol.h, does it).
void setUnboundEvaluation(const double *time, int32_t *status);

// ---- buffers ---------------------------------------------------------------

// Allocates the calling thread's buffers (zero-filled) unless it has them.
// When one cannot be allocated, none is kept (EndRealbuffer stays null).
void initThreadBuffers();

// Frees the record's buffers and nulls every position, start and bound;
// functionStack, externalCallState, errorJump and currentInstance stay.
void freeThreadBuffers(ThreadContext *context);

// freeThreadBuffers on the calling thread's record; the next use allocates
// fresh buffers.  Called when an instance is freed.
void releaseThreadBuffers();

// ---- allocation (never return on failure) ----------------------------------

double *allocRealbuffer(int n);
int *allocIntegerbuffer(int n);
int *allocSizebuffer(int n);
char **allocStringbuffer(int n);
// len + 1 characters; the caller writes the characters and the terminator.
char *allocSimplestring(int len);

double *allocRealbufferNon(int n);
int *allocIntegerbufferNon(int n);
int *allocSizebufferNon(int n);
char **allocStringbufferNon(int n);

// A string of the calling thread's character area is copied (with its
// terminator) to the persistent character area and the copy returned; any
// other string (a literal, an already persistent one) is returned unchanged.
char *copyStringToNon(const char *str);

// Moves the characters of every element of a String array (a record with
// ndims, dims and data, row-major) that lies in the calling thread's
// character area to the persistent area, through copyStringToNon.  The
// pointer array and the sizes stay where they are; since the data is shared,
// the caller's array sees the new pointers too.  Returns a copy of the header.
template <class StringArrayRecord> StringArrayRecord StringElementsToNon(StringArrayRecord a) {
  long long count = 1;
  for (int k = 0; k < a.ndims; ++k) count *= a.dims[k];
  for (long long i = 0; i < count; ++i) a.data[i] = copyStringToNon(a.data[i]);
  return a;
}

// ---- marks -----------------------------------------------------------------

// Returns currentMark, then currentMark.savedPlace := currentMark.place.
MemoryMark saveMark();
// saveMark, storing only the returned place into *out (nothing for null).
void saveMarkPlace(BufferPlace *out);
// currentMark.place := currentMark.savedPlace.
void releaseToSavedPlace();
// currentMark := mark: releases everything allocated since its saveMark.
void restoreMark(MemoryMark mark);
// currentMark := startMark; stringmark := simplestring.
void resetMarks();
char *getStringMark();
void setStringMark(char *p); // ignored for null
// Releases the character area back to mark while keeping str: when str lies
// in the released part it is moved down to mark and mark is returned.
const char *releaseStringsKeeping(const char *str, char *mark);
// Last call of every completed evaluation: resetMarks, empty function-name
// stack, externalCallState := 0.
void endEvaluation();

// RAII form of saveMark / restoreMark: the temporaries allocated while the
// guard lives are released when it goes.  Not released when the error path
// unwinds through it (dismissed automatically), since temporaries of a failed
// evaluation stay until the next completed one.
class MarkGuard {
public:
  MarkGuard();
  ~MarkGuard();
  MarkGuard(const MarkGuard &) = delete;
  MarkGuard &operator=(const MarkGuard &) = delete;
  const MemoryMark &mark() const { return mark_; }

private:
  MemoryMark mark_;
  int uncaught_;
};

// ---- persistent buffers (process-wide) -------------------------------------

extern MemoryMark currentMarkNon;
extern char *startstringmarkNon;
// Start and one-past-end of the persistent buffers.
double *RealbufferNonStart();
int *IntegerbufferNonStart();
int *SizebufferNonStart();
char **StringbufferNonStart();
char *persistentStringAreaStart();
extern double *const EndRealbufferNon;
extern int *const EndIntegerbufferNon;
extern int *const EndSizebufferNon;
extern char **const EndStringbufferNon;
extern char *const EndpersistentStringArea;
