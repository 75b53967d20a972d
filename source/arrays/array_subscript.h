#pragma once
/* Subscripting and subscripted assignment.
 *
 * Generated code reads a part of an array (a[2, :], a[1:3, v], a[i]) with
 * Subscript and writes into a part of an array (out[2:4, :] := b) with
 * SubscriptAssign.  Subscripts are 1-based and travel as a variable argument
 * list of tagged words: each subscript is its kind (an int) followed by its
 * payload, and the list ends with the kind SubscriptEnd:
 *
 *   SubscriptColon       no payload          the whole dimension
 *   SubscriptRange       start, stop         start, start+1, ..., stop
 *   SubscriptStepRange   start, step, stop   start, start+step, ... up to stop
 *                                            (downward for a negative step)
 *   SubscriptVector      an IntegerArray     the listed positions, in order,
 *                        (by value)          repeats allowed
 *   SubscriptScalar      index               one position; the dimension is
 *                                            dropped from the result
 *   SubscriptEnd         no payload          ends the list
 *
 * Subscript k applies to dimension k; dimensions after the last subscript are
 * taken whole.  A range whose count is 0 or less is empty and its bounds are
 * not tested; otherwise its start and stop must both lie in 1..size.  A step
 * of 0 fails.  Counts are computed in 64 bits.
 *
 * Every check runs before anything is written: a failed check is a runtime
 * assertion (a model error that does not return), and the destination of a
 * SubscriptAssign is then unchanged.  Subscript takes its result from the
 * calling thread's buffers only after the checks of the list and of the
 * result's element count.  SubscriptAssign copies its source before anything
 * else, so the source may share storage with the destination.  String
 * elements are pointers: reading and writing copy the pointers, never the
 * characters.
 *
 * This header compiles as C11 and as C++; all functions have C linkage. */

#include <stdarg.h>

#include "source/arrays/array_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- subscript kinds and their decoded form ----------------------------- */

enum {
  SubscriptColon = 0,
  SubscriptRange = 1,
  SubscriptStepRange = 2,
  SubscriptVector = 3,
  SubscriptScalar = 4,
  SubscriptEnd = 5
};

/* Capacity of the decoded records of one call: at most 95 subscripts and the
 * end record. */
enum { num_VA_handler = 100 };

/* start, step and stop of a range (step 1 for SubscriptRange); a scalar
 * subscript keeps its index in start. */
typedef struct SubscriptRangeWords {
  int start;
  int step;
  int stop;
} SubscriptRangeWords;

/* One decoded subscript: its kind and an overlay of its payload. */
typedef struct DecodedSubscript {
  int kind; /* SubscriptColon ... SubscriptEnd */
  union {
    SubscriptRangeWords range; /* ranges and scalars */
    IntegerArray vector;       /* SubscriptVector: the caller's index vector */
  };
} DecodedSubscript;

/* ---- reading and writing parts of arrays -------------------------------- */

/* A new array of the elements of a that the tagged subscripts select. */
RealArray RealSubscript(RealArray a, ...);
IntegerArray IntegerSubscript(IntegerArray a, ...);
StringArray StringSubscript(StringArray a, ...);

/* out[subscripts] := a.  The source comes first, the destination second. */
void RealSubscriptAssign(RealArray a, RealArray out, ...);
void IntegerSubscriptAssign(IntegerArray a, IntegerArray out, ...);
void StringSubscriptAssign(StringArray a, StringArray out, ...);

/* ---- the parts of the two operations ----------------------------------- */

/* Decodes the tagged list (from its current position, up to and including
 * the end record) into records[0 ..] and returns records.  list must be a
 * list started (va_start or va_copy) in the caller's own frame.  A record index k
 * with k + 4 >= capacity fails with "Out of memory for va_list"; a capacity
 * of 0 or less decodes nothing.  An unknown kind fails. */
DecodedSubscript *SubscriptsFromVA(va_list *list, DecodedSubscript *records, int capacity);

/* The recursive walks over checked, decoded subscripts, the first of them at
 * subscript (a null pointer does nothing).  Offsets count runs of runLength
 * elements.
 *   Gather:  dest (the result) is walked densely, src by the subscripts.
 *   Scatter: dest (the destination) is walked by the subscripts, src densely;
 *            a position written twice keeps the later value. */
void RealSubscriptGather(RealArray dest, int destOffset, int destDim, RealArray src, int srcOffset,
                         int srcDim, int runLength, const DecodedSubscript *subscript);
void IntegerSubscriptGather(IntegerArray dest, int destOffset, int destDim, IntegerArray src,
                            int srcOffset, int srcDim, int runLength,
                            const DecodedSubscript *subscript);
void StringSubscriptGather(StringArray dest, int destOffset, int destDim, StringArray src,
                           int srcOffset, int srcDim, int runLength,
                           const DecodedSubscript *subscript);
void RealSubscriptScatter(RealArray dest, int destOffset, int destDim, RealArray src, int srcOffset,
                          int srcDim, int runLength, const DecodedSubscript *subscript);
void IntegerSubscriptScatter(IntegerArray dest, int destOffset, int destDim, IntegerArray src,
                             int srcOffset, int srcDim, int runLength,
                             const DecodedSubscript *subscript);
void StringSubscriptScatter(StringArray dest, int destOffset, int destDim, StringArray src,
                            int srcOffset, int srcDim, int runLength,
                            const DecodedSubscript *subscript);

#ifdef __cplusplus
}
#endif
