// Delay rings: allocation, copy and release per instance, and the spatial
// distribution operator's storing and interpolating of ring points.

#include "source/dsblock5/delay.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/heap.h"
#include "source/clocale/clocale_io.h"
#include "source/runtime_messages.h"

int32_t Buffersize = 20000;

namespace {

DelayBlockAllocator blockAllocator = nullptr;

std::size_t blockBytes(int32_t size) { return 2 * static_cast<std::size_t>(size) * sizeof(double); }

// A ring block is a large block of the platform (pages resident only once
// written): 2*size doubles.
double *allocateBlock(int32_t size) {
  const std::size_t doubles = 2 * static_cast<std::size_t>(size);
  void *block = blockAllocator != nullptr ? blockAllocator(doubles, sizeof(double))
                                          : platform::takeLargeZeroed(blockBytes(size));
  return static_cast<double *>(block);
}

// Releases the block of a ring of the given size (null does nothing).
void releaseBlock(double *block, int32_t size) { platform::releaseLarge(block, blockBytes(size)); }

void clearRecord(DelayBuffer &ring) {
  releaseBlock(ring.times, ring.size);
  std::memset(&ring, 0, sizeof ring);
}

// Circular slot arithmetic of one ring.
int32_t nextSlot(const DelayBuffer &ring, int32_t k) { return k + 1 < ring.size ? k + 1 : 0; }
int32_t prevSlot(const DelayBuffer &ring, int32_t k) { return k > 0 ? k - 1 : ring.size - 1; }

// A new front point (coordinate c, value v): the slot that receives it.
int32_t frontSlotForStore(DelayBuffer &ring, double c, double v) {
  double *t = ring.times;
  double *val = ring.values;
  const double size = ring.size;
  if (c < t[ring.first]) {
    // Normal flow: the point goes in front of the ring.
    const int32_t second = nextSlot(ring, ring.first);
    if (std::fabs(t[second] - c) < 1.4 / size) return ring.first;
    const int32_t free = prevSlot(ring, ring.first);
    if (free == ring.last) {
      // Full ring: overwrite the front when the back point matters more
      // than the front pair, else drop the back point.
      if (std::fabs(v - val[ring.last]) * 0.7 / size >
          std::fabs(v - val[ring.first]) + std::fabs(v - val[second])) {
        return ring.first;
      }
      const int32_t newLast = prevSlot(ring, ring.last);
      if (ring.current == ring.last) ring.current = newLast;
      ring.last = newLast;
    }
    return free;
  }
  // Reversed flow: discard the front points that lie below c.
  int32_t i = ring.first;
  if (c > t[i] && i != ring.last) {
    int32_t j = nextSlot(ring, i);
    while (c > t[j]) {
      if (nextSlot(ring, j) == ring.last) {
        t[j] = c + 1e-8; // guard point just above c
        break;
      }
      if (ring.current == i) ring.current = j;
      i = j;
      j = nextSlot(ring, j);
      if (i == ring.last) break;
    }
  }
  return i;
}

// The mirror image at the back for the point (coordinate e = c + 1, value v).
int32_t backSlotForStore(DelayBuffer &ring, double c, double e, double v) {
  double *t = ring.times;
  double *val = ring.values;
  const double size = ring.size;
  if (t[ring.last] < e) {
    const int32_t second = prevSlot(ring, ring.last);
    if (std::fabs(t[second] - e) < 1.4 / size) return ring.last;
    const int32_t free = nextSlot(ring, ring.last);
    if (free == ring.first) {
      if (std::fabs(v - val[ring.first]) * 0.7 / size >
          std::fabs(v - val[ring.last]) + std::fabs(v - val[second])) {
        return ring.last;
      }
      const int32_t newFirst = nextSlot(ring, ring.first);
      if (ring.current == ring.first) ring.current = newFirst;
      ring.first = newFirst;
    }
    return free;
  }
  int32_t i = ring.last;
  if (t[i] > e && i != ring.first) {
    int32_t j = prevSlot(ring, i);
    while (t[j] > e) {
      if (prevSlot(ring, j) == ring.first) {
        t[j] = c + 0.999999999; // guard point just below e
        break;
      }
      if (ring.current == i) ring.current = j;
      i = j;
      j = prevSlot(ring, j);
      if (i == ring.first) break;
    }
  }
  return i;
}

} // namespace

void setDelayBlockAllocator(DelayBlockAllocator allocator) { blockAllocator = allocator; }

int32_t allocDelayBuffers(DelayBuffer *table, int32_t count, int32_t size) {
  for (int32_t k = 0; k < count; ++k) {
    double *block = size > 0 ? allocateBlock(size) : nullptr;
    if (block == nullptr) {
      char text[300];
      snprintfC(text, sizeof text,
                "Failed to allocate memory for delay.\n You might decrease the number of "
                "delays\n  or the 'double Buffersize=%d;' in pralix/source/dsblock5\n",
                static_cast<int>(size));
      logTextLevel(2, text);
      for (int32_t done = k - 1; done >= 0; --done) clearRecord(table[done]);
      return 1;
    }
    releaseBlock(table[k].times, table[k].size);
    table[k].times = block;
    table[k].values = block + size;
    table[k].size = size;
  }
  return 0;
}

int32_t copyDelayBuffers(DelayBuffer *destination, const DelayBuffer *source, int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    DelayBuffer &to = destination[k];
    const DelayBuffer &from = source[k];
    if (&to == &from) continue;
    if (from.times == nullptr) {
      clearRecord(to);
      to = from;
      to.values = nullptr;
      continue;
    }
    double *block = to.times;
    if (block == nullptr || to.size != from.size) {
      releaseBlock(block, to.size);
      to.times = nullptr;
      block = allocateBlock(from.size);
      if (block == nullptr) {
        freeDelayBuffers(destination, count);
        return 1;
      }
    }
    std::memcpy(block, from.times, 2 * static_cast<std::size_t>(from.size) * sizeof(double));
    to = from;
    to.times = block;
    to.values = block + from.size;
  }
  return 0;
}

void freeDelayBuffers(DelayBuffer *table, int32_t count) {
  for (int32_t k = 0; k < count; ++k) clearRecord(table[k]);
}

int32_t spatialInitRing(DelayBuffer *table, int32_t row, int32_t n, double start, double value) {
  DelayBuffer &ring = table[row];
  if (ring.times == nullptr) return 1;
  const int32_t m = n / 10;
  const bool fits = n >= 0 && m <= ring.size - 4;
  if (!fits) {
    runtimeAssert(0, "n >= 0 && n/10 + 4 <= size",
                  "The number of points of the spatial distribution does not fit its buffer.");
    return 1;
  }
  double *t = ring.times;
  ring.scale = 1.0;
  ring.first = 0;
  ring.current = 1;
  ring.last = m + 3;
  t[0] = start;
  t[1] = start + 1e-9;
  for (int32_t j = 0; j < m; ++j) t[2 + j] = start + (j + 0.5) / m;
  t[m + 2] = start + 1 - 1e-9;
  t[m + 3] = start + 1;
  for (int32_t k = 0; k <= m + 3; ++k) ring.values[k] = value;
  return 1;
}

void spatialStore(DelayBuffer *table, double in0, double in1, double c, int32_t positiveVelocity,
                  int32_t row) {
  DelayBuffer &ring = table[row];
  if (ring.times == nullptr) return;
  if (positiveVelocity != 0) {
    const int32_t slot = frontSlotForStore(ring, c, in0);
    ring.first = slot;
    ring.times[slot] = c;
    ring.values[slot] = in0;
  } else {
    const double e = c + 1;
    const int32_t slot = backSlotForStore(ring, c, e, in1);
    ring.last = slot;
    ring.times[slot] = e;
    ring.values[slot] = in1;
  }
}

void spatialLookup(DelayBuffer *table, double in0, double in1, double c, int32_t positiveVelocity,
                   int32_t row, double *out0, double *out1) {
  DelayBuffer &ring = table[row];
  *out0 = in0;
  *out1 = in1;
  if (ring.times == nullptr) return;
  const bool positive = positiveVelocity != 0;
  const double x = positive ? c + 1 : c;
  const double *t = ring.times;
  int32_t i = ring.current == ring.first ? nextSlot(ring, ring.first) : ring.current;
  while ((positive ? x > t[i] : x >= t[i]) && i != ring.last) i = nextSlot(ring, i);
  while (prevSlot(ring, i) != ring.first &&
         (positive ? x < t[prevSlot(ring, i)] : x <= t[prevSlot(ring, i)])) {
    i = prevSlot(ring, i);
  }
  ring.current = i;
  const int32_t p = prevSlot(ring, i);
  const double *v = ring.values;
  double result;
  if (x <= t[p]) {
    result = v[p];
  } else if (x >= t[i]) {
    result = v[i];
  } else {
    result = v[p] + (x - t[p]) * (v[i] - v[p]) / (t[i] - t[p]);
  }
  (positive ? *out1 : *out0) = result;
}

void spatialEvaluate(DelayBuffer *table, double in0, double in1, double c, int32_t positiveVelocity,
                     int32_t row, double *out0, double *out1, int32_t store) {
  if (store != 0) spatialStore(table, in0, in1, c, positiveVelocity, row);
  spatialLookup(table, in0, in1, c, positiveVelocity, row, out0, out1);
}

SpatialDistributionOutputs spatialDistribution(DelayBuffer *table, int32_t row, double in0,
                                               double in1, double x, int32_t positiveVelocity,
                                               int32_t store) {
  SpatialDistributionOutputs result{};
  spatialEvaluate(table, in0, in1, -x, positiveVelocity, row, &result.out0, &result.out1, store);
  return result;
}

int32_t spatialDistributionInitProfile(DelayBuffer *table, int32_t row, int32_t n, double x,
                                       int32_t pointsNdims, const int32_t *pointsDims,
                                       const double *points, int32_t valuesNdims,
                                       const int32_t *valuesDims, const double *values) {
  if (pointsNdims != 1) {
    runtimeAssert(0, "initialPoints.ndims==1", "Initial Points should be a vector");
    return 1;
  }
  if (valuesNdims != 1) {
    runtimeAssert(0, "initialValues.ndims==1", "Initial Values should be a vector");
    return 1;
  }
  if (pointsDims[0] != valuesDims[0]) {
    runtimeAssert(0, "initialPoints.dims[0]==initialValues.dims[0]",
                  "Initial Points and Values should have size");
    return 1;
  }
  const int32_t k = pointsDims[0];
  if (k <= 0) return spatialInitRing(table, row, n, x, 0.0);
  int32_t result = spatialInitRing(table, row, n, x + points[k - 1], values[k - 1]);
  double out0 = 0.0;
  double out1 = 0.0;
  for (int32_t i = k - 2; i >= 0; --i) {
    const double coordinate = x + points[i];
    const double value = values[i];
    if (i == 0 && points[0] == 0 && k > 1 && points[1] > 1e-13) {
      spatialEvaluate(table, value, value, coordinate + 1e-13, 1, row, &out0, &out1, 1);
    }
    spatialEvaluate(table, value, value, coordinate, 1, row, &out0, &out1, 1);
  }
  return result;
}

int32_t integerToEnumeration(int32_t toConvert, int32_t maxEnumValue, const char *message) {
  runtimeAssert(toConvert >= 1 && toConvert <= maxEnumValue,
                "toConvert >= 1 && toConvert <= maxEnumValue", message);
  return toConvert;
}
