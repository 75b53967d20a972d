#pragma once
// Delay buffers and the spatial distribution operator.
//
// Each delay slot of a model instance owns one DelayBuffer (the record is in
// model/ModelInstanceData.h): a ring of coordinate/value points kept in
// coordinate order from the front slot `first` to the back slot `last`.
// The rings serve a quantity transported along a unit-length domain whose
// inflow end moves with a travelled distance x: new points enter at one end,
// values are read by linear interpolation at the other, and the ring keeps
// within its capacity by merging close points and dropping the points that
// matter least.
//
// Slots run circularly (after size - 1 comes 0).  A ring whose times is null
// has no storage: every operation on it passes its inputs through or does
// nothing.  Ring blocks come from the standard heap and belong to the record
// that points to them.

#include <cstddef>
#include <cstdint>

#include "model/ModelInstanceData.h"

// Slots of every ring the driver allocates.
extern int32_t Buffersize;

// For each of the count records: one zero-filled block of 2*size doubles,
// times := the block, values := block + size, size := size (the other fields
// are kept; a block the record held before is released).  Returns 0 on
// success.  A size below 1 cannot be allocated.  When a block cannot be
// allocated the message is logged as an error, the rings allocated by this
// call are freed again (last first) with their records cleared, and 1 is
// returned; nothing is raised, so the call is safe outside an evaluation.
[[nodiscard]] int32_t allocDelayBuffers(DelayBuffer *table, int32_t count, int32_t size);

// Copies count rings into destination, reallocating a destination block
// whose size differs; every field follows the source except that times keeps
// the destination's own block (values := times + size).  Returns 0, or 1
// when an allocation fails: the destination is then left fully empty (every
// block freed, every record cleared).
[[nodiscard]] int32_t copyDelayBuffers(DelayBuffer *destination, const DelayBuffer *source,
                                       int32_t count);

// Frees each record's block and clears the whole record.
void freeDelayBuffers(DelayBuffer *table, int32_t count);

// Fills ring row with the unit profile starting at start, n/10 cell points
// plus four edge points, all with value.  Returns 1.  A point count that
// does not fit the ring is a failed runtime assertion.
int32_t spatialInitRing(DelayBuffer *table, int32_t row, int32_t n, double start, double value);

// Adds the point for coordinate c: at the front with value in0 when
// positiveVelocity is set, else at the back (coordinate c + 1, value in1).
void spatialStore(DelayBuffer *table, double in0, double in1, double c, int32_t positiveVelocity,
                  int32_t row);

// Reads ring row at the outflow end: *out1 (positiveVelocity, at c + 1) or
// *out0 (else, at c) gets the interpolated value, the other output its input.
void spatialLookup(DelayBuffer *table, double in0, double in1, double c, int32_t positiveVelocity,
                   int32_t row, double *out0, double *out1);

// spatialStore when store is set, then spatialLookup.
void spatialEvaluate(DelayBuffer *table, double in0, double in1, double c, int32_t positiveVelocity,
                     int32_t row, double *out0, double *out1, int32_t store);

// The two outputs of the spatial distribution operator, in this order.
struct SpatialDistributionOutputs {
  double out0;
  double out1;
};

// spatialEvaluate with c := -x.
SpatialDistributionOutputs spatialDistribution(DelayBuffer *table, int32_t row, double in0,
                                               double in1, double x, int32_t positiveVelocity,
                                               int32_t store);

// Builds ring row from an initial profile given as the shape and elements of
// two arrays (the fields of a RealArray).  Returns the result of
// spatialInitRing.
int32_t spatialDistributionInitProfile(DelayBuffer *table, int32_t row, int32_t n, double x,
                                       int32_t pointsNdims, const int32_t *pointsDims,
                                       const double *points, int32_t valuesNdims,
                                       const int32_t *valuesDims, const double *values);

// The operator's initialisation over the runtime's array records: any record
// with the fields ndims, dims and data (RealArray).  The int32 argument is
// not used.
template <class RealArrayRecord>
int32_t spatialDistributionInit(DelayBuffer *table, int32_t row, int32_t n, double x, int32_t,
                                RealArrayRecord initialPoints, RealArrayRecord initialValues) {
  return spatialDistributionInitProfile(table, row, n, x, initialPoints.ndims, initialPoints.dims,
                                        initialPoints.data, initialValues.ndims, initialValues.dims,
                                        initialValues.data);
}

// Returns toConvert; a value outside 1 to maxEnumValue is a failed runtime
// assertion with the given message.
int32_t integerToEnumeration(int32_t toConvert, int32_t maxEnumValue, const char *message);

// Replaces the allocation of ring blocks (count*size zero-filled bytes,
// released with platform::releaseLarge); null restores
// platform::takeLargeZeroed.  Tests use it to make an allocation fail.
using DelayBlockAllocator = void *(*)(std::size_t count, std::size_t size);
void setDelayBlockAllocator(DelayBlockAllocator allocator);
