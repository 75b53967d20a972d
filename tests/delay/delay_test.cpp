// Delay rings: allocation, copy and release with injected allocation
// failures, and the spatial distribution operator's ring storage and
// interpolation.

#include "source/dsblock5/delay.h"

#include "platform/heap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "source/error_path.h"
#include "source/runtime_messages.h"

namespace {

struct Message {
  std::string text;
  int level;
};
std::vector<Message> messages;

void captureMessage(const char *text, int, int level) { messages.push_back({text, level}); }

bool anyMessage(const std::string &text, int level) {
  for (const Message &m : messages)
    if (m.text == text && m.level == level) return true;
  return false;
}

// Ring blocks from calloc, except that call number failAt fails.
int allocationCalls = 0;
int failAt = 0;
void *failingAllocator(std::size_t count, std::size_t size) {
  return ++allocationCalls == failAt ? nullptr : platform::takeLargeZeroed(count * size);
}

bool isEmpty(const DelayBuffer &ring) {
  DelayBuffer zero{};
  return std::memcmp(&ring, &zero, sizeof ring) == 0;
}

// A table of rings that frees itself; messages are captured meanwhile.
template <int N> struct Rings {
  DelayBuffer table[N]{};
  Rings() {
    messages.clear();
    setRuntimeMessageHook(&captureMessage);
  }
  ~Rings() {
    freeDelayBuffers(table, N);
    setDelayBlockAllocator(nullptr);
    setRuntimeMessageHook(nullptr);
  }
  DelayBuffer &operator[](int k) { return table[k]; }
};

// Runs body through a recovery point; false when it raised a model error.
template <class Body> bool completes(Body body) {
  ErrorRecoveryScope scope;
  return scope.run(body);
}

TEST(DelayBuffers, AllocateZeroFilledBlocksAndFreeClearsTheRecords) {
  Rings<2> rings;
  rings[1].first = 7;
  ASSERT_EQ(allocDelayBuffers(rings.table, 2, 50), 0);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    ASSERT_NE(rings[k].times, nullptr);
    EXPECT_EQ(rings[k].values, rings[k].times + 50);
    EXPECT_EQ(rings[k].size, 50);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(rings[k].times[i], 0.0);
  }
  EXPECT_EQ(rings[1].first, 7); // the other fields are kept
  freeDelayBuffers(rings.table, 2);
  EXPECT_TRUE(isEmpty(rings[0]));
  EXPECT_TRUE(isEmpty(rings[1]));
  EXPECT_EQ(Buffersize, 20000);
}

TEST(DelayBuffers, FailedAllocationLogsReleasesAndReportsFailure) {
  // No recovery point is armed: the failure must come back as a result.
  for (failAt = 1; failAt <= 4; ++failAt) {
    SCOPED_TRACE(failAt);
    Rings<3> rings;
    allocationCalls = 0;
    setDelayBlockAllocator(&failingAllocator);
    const int32_t result = allocDelayBuffers(rings.table, 3, 10);
    if (failAt == 4) {
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(messages.empty());
      continue;
    }
    EXPECT_EQ(result, 1);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(isEmpty(rings[k])) << k;
    EXPECT_TRUE(anyMessage("Failed to allocate memory for delay.\n You might decrease the "
                           "number of delays\n  or the 'double Buffersize=10;' in "
                           "pralix/source/dsblock5\n",
                           2));
  }
}

TEST(DelayBuffers, CopyGivesTheDestinationItsOwnBlockWithTheSourceContents) {
  Rings<3> source;
  Rings<3> destination;
  ASSERT_EQ(allocDelayBuffers(source.table, 2, 40), 0);
  spatialInitRing(source.table, 0, 100, 2.0, 5.0);
  source[1].times[3] = 1.5;
  source[1].first = 2;
  // Destination ring 0 has another size, ring 1 the same, ring 2 none.
  ASSERT_EQ(allocDelayBuffers(destination.table, 1, 30), 0);
  ASSERT_EQ(allocDelayBuffers(destination.table + 1, 2, 40), 0);

  ASSERT_EQ(copyDelayBuffers(destination.table, source.table, 3), 0);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const DelayBuffer &from = source[k];
    const DelayBuffer &to = destination[k];
    ASSERT_NE(to.times, nullptr);
    EXPECT_NE(to.times, from.times);
    EXPECT_EQ(to.values, to.times + from.size);
    EXPECT_EQ(std::memcmp(to.times, from.times, 2 * 40 * sizeof(double)), 0);
    EXPECT_EQ(to.scale, from.scale);
    EXPECT_EQ(to.size, from.size);
    EXPECT_EQ(to.first, from.first);
    EXPECT_EQ(to.current, from.current);
    EXPECT_EQ(to.last, from.last);
  }
  // A source ring without storage leaves the destination ring without.
  EXPECT_TRUE(isEmpty(destination[2]));
}

TEST(DelayBuffers, FailedCopyLeavesTheDestinationFullyEmpty) {
  for (failAt = 1; failAt <= 2; ++failAt) {
    SCOPED_TRACE(failAt);
    Rings<2> source;
    Rings<2> destination;
    ASSERT_EQ(allocDelayBuffers(source.table, 2, 20), 0);
    ASSERT_EQ(allocDelayBuffers(destination.table, 2, 10), 0);
    allocationCalls = 0;
    setDelayBlockAllocator(&failingAllocator);
    EXPECT_EQ(copyDelayBuffers(destination.table, source.table, 2), 1);
    EXPECT_TRUE(isEmpty(destination[0]));
    EXPECT_TRUE(isEmpty(destination[1]));
  }
}

TEST(SpatialRing, InitialisationLaysOutTheUnitProfile) {
  Rings<1> rings;
  ASSERT_EQ(allocDelayBuffers(rings.table, 1, Buffersize), 0);
  EXPECT_EQ(spatialInitRing(rings.table, 0, 100, 0.0, 5.0), 1);
  const DelayBuffer &ring = rings[0];
  EXPECT_EQ(ring.first, 0);
  EXPECT_EQ(ring.current, 1);
  EXPECT_EQ(ring.last, 13);
  EXPECT_EQ(ring.scale, 1.0);
  std::vector<double> expected = {0.0, 1e-9};
  for (int j = 0; j < 10; ++j) expected.push_back(0.05 + 0.1 * j);
  expected.push_back(1 - 1e-9);
  expected.push_back(1.0);
  for (int k = 0; k <= 13; ++k) {
    EXPECT_NEAR(ring.times[k], expected[k], 1e-15) << k;
    EXPECT_EQ(ring.values[k], 5.0) << k;
  }
  for (double c : {-3.0, -1.0, -0.4, 0.0, 0.7, 2.0}) {
    for (int positive : {0, 1}) {
      double out0 = 0, out1 = 0;
      spatialLookup(rings.table, 1.0, 2.0, c, positive, 0, &out0, &out1);
      EXPECT_EQ(positive ? out1 : out0, 5.0) << c;
      EXPECT_EQ(positive ? out0 : out1, positive ? 1.0 : 2.0) << c;
    }
  }
}

TEST(SpatialRing, PointCountThatDoesNotFitIsRefused) {
  struct Case {
    int32_t n;
    bool fits;
  };
  // A ring of 20 slots holds n/10 + 4 points for n up to 169.
  const Case cases[] = {{169, true}, {170, false}, {0, true}, {-10, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.n);
    Rings<1> rings;
    ASSERT_EQ(allocDelayBuffers(rings.table, 1, 20), 0);
    rings[0].last = -1;
    EXPECT_EQ(completes([&] { spatialInitRing(rings.table, 0, c.n, 0.0, 1.0); }), c.fits);
    if (c.fits) {
      EXPECT_EQ(rings[0].last, c.n / 10 + 3);
    } else {
      EXPECT_EQ(rings[0].last, -1); // the ring is not touched
      EXPECT_TRUE(anyMessage("  The number of points of the spatial distribution does not "
                             "fit its buffer.\n  Failed condition: n >= 0 && n/10 + 4 <= size",
                             2));
    }
  }
}

TEST(SpatialRing, RingWithoutStoragePassesItsInputsThrough) {
  Rings<1> rings;
  EXPECT_EQ(spatialInitRing(rings.table, 0, 100, 0.0, 5.0), 1);
  spatialStore(rings.table, 1.0, 2.0, -0.5, 1, 0);
  double out0 = 0, out1 = 0;
  spatialEvaluate(rings.table, 3.0, 4.0, -0.5, 0, 0, &out0, &out1, 1);
  EXPECT_EQ(out0, 3.0);
  EXPECT_EQ(out1, 4.0);
  const SpatialDistributionOutputs outputs =
      spatialDistribution(rings.table, 0, 6.0, 7.0, 0.2, 1, 1);
  EXPECT_EQ(outputs.out0, 6.0);
  EXPECT_EQ(outputs.out1, 7.0);
  EXPECT_TRUE(isEmpty(rings[0]));
}

// The fields of a RealArray.
struct Array {
  int32_t ndims;
  int32_t *dims;
  double *data;
};

TEST(SpatialRing, LookupInterpolatesLinearlyAndHoldsTheEndValues) {
  Rings<1> rings;
  ASSERT_EQ(allocDelayBuffers(rings.table, 1, Buffersize), 0);
  int32_t length = 3;
  double points[] = {0.0, 0.25, 1.0};
  double values[] = {1.0, 2.0, 5.0};
  ASSERT_EQ(spatialDistributionInit(rings.table, 0, 100, 0.0, 0, Array{1, &length, points},
                                    Array{1, &length, values}),
            1);
  // The profile is linear between the points and constant (5)
  // over the unit that the last point spans.
  struct Case {
    double at;
    double value;
  };
  const Case cases[] = {{0.5, 3.0},  {0.125, 1.5}, {1.7, 5.0}, {0.25, 2.0},
                        {-2.0, 1.0}, {0.0, 1.0},   {4.0, 5.0}, {0.999, 4.996}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.at);
    double out0 = 0, out1 = 0;
    spatialLookup(rings.table, -1.0, -2.0, c.at - 1, 1, 0, &out0, &out1);
    EXPECT_NEAR(out1, c.value, 1e-9);
    EXPECT_EQ(out0, -1.0);
    spatialLookup(rings.table, -1.0, -2.0, c.at, 0, 0, &out0, &out1);
    EXPECT_NEAR(out0, c.value, 1e-9);
    EXPECT_EQ(out1, -2.0);
  }
}

TEST(SpatialRing, InflowTravelsOneUnitToTheOutflow) {
  Rings<1> rings;
  ASSERT_EQ(allocDelayBuffers(rings.table, 1, Buffersize), 0);
  spatialInitRing(rings.table, 0, 100, 0.0, 5.0);
  // From x = 0.5 on the inflow carries 3; the outflow reads at 1 - x.
  struct Step {
    double x;
    double outflow;
  };
  const Step steps[] = {{0.5, 5.0}, {1.0, 5.0}, {1.25, 4.0}, {1.5, 3.0}, {2.0, 3.0}};
  for (const Step &s : steps) {
    SCOPED_TRACE(s.x);
    const SpatialDistributionOutputs out = spatialDistribution(rings.table, 0, 3.0, 9.0, s.x, 1, 1);
    EXPECT_EQ(out.out0, 3.0);
    EXPECT_NEAR(out.out1, s.outflow, 1e-9);
  }
  // Against the flow the inflow enters at the back and is read at -x.
  Rings<1> reverse;
  ASSERT_EQ(allocDelayBuffers(reverse.table, 1, Buffersize), 0);
  spatialInitRing(reverse.table, 0, 100, 0.0, 5.0);
  const Step back[] = {{-0.5, 5.0}, {-1.25, 7.0}, {-1.5, 9.0}};
  for (const Step &s : back) {
    SCOPED_TRACE(s.x);
    const SpatialDistributionOutputs out =
        spatialDistribution(reverse.table, 0, 3.0, 9.0, s.x, 0, 1);
    EXPECT_NEAR(out.out0, s.outflow, 1e-9);
    EXPECT_EQ(out.out1, 9.0);
  }
}

TEST(SpatialRing, CloseFrontPointsMerge) {
  Rings<1> rings;
  ASSERT_EQ(allocDelayBuffers(rings.table, 1, Buffersize), 0);
  spatialInitRing(rings.table, 0, 100, 0.0, 5.0);
  // 1e-5 from the second point (1e-9) lies within 1.4/20000.
  spatialStore(rings.table, 2.0, 0.0, -1e-5, 1, 0);
  EXPECT_EQ(rings[0].first, 0);
  EXPECT_EQ(rings[0].times[0], -1e-5);
  EXPECT_EQ(rings[0].values[0], 2.0);
  spatialStore(rings.table, 3.0, 0.0, -0.01, 1, 0);
  EXPECT_EQ(rings[0].first, Buffersize - 1);
  EXPECT_EQ(rings[0].times[Buffersize - 1], -0.01);
}

TEST(SpatialRing, FullRingOverwritesTheFrontOrDropsTheBack) {
  Rings<1> rings;
  ASSERT_EQ(allocDelayBuffers(rings.table, 1, 8), 0);
  spatialInitRing(rings.table, 0, 0, 0.0, 5.0); // slots 0..3, value 5
  for (int k = 1; k <= 4; ++k) spatialStore(rings.table, 1.0, 0.0, -k, 1, 0);
  DelayBuffer &ring = rings[0];
  ASSERT_EQ(ring.first, 4);
  ASSERT_EQ(ring.last, 3); // full: the free slot before first is last

  // The back differs by 4 from a new value equal to the front pair:
  // 4*0.7/8 > 0, so the front is overwritten.
  spatialStore(rings.table, 1.0, 0.0, -5.0, 1, 0);
  EXPECT_EQ(ring.first, 4);
  EXPECT_EQ(ring.last, 3);
  EXPECT_EQ(ring.times[4], -5.0);

  // Otherwise the back point is dropped, and the search hint follows it.
  double out0 = 0, out1 = 0;
  spatialLookup(rings.table, 0.0, 0.0, 0.0, 1, 0, &out0, &out1);
  ASSERT_EQ(ring.current, 3);
  spatialStore(rings.table, 9.0, 0.0, -6.0, 1, 0);
  EXPECT_EQ(ring.first, 3);
  EXPECT_EQ(ring.last, 2);
  EXPECT_EQ(ring.current, 2);
  EXPECT_EQ(ring.times[3], -6.0);
  for (int32_t slot : {ring.first, ring.current, ring.last}) {
    EXPECT_GE(slot, 0);
    EXPECT_LT(slot, ring.size);
  }
  // Coordinates still increase from the front to the back.
  for (int32_t k = ring.first; k != ring.last; k = (k + 1) % ring.size)
    EXPECT_LT(ring.times[k], ring.times[(k + 1) % ring.size]) << k;
}

TEST(SpatialRing, ReversedFlowDiscardsFrontPointsAndLookupStillBrackets) {
  Rings<1> rings;
  ASSERT_EQ(allocDelayBuffers(rings.table, 1, Buffersize), 0);
  spatialInitRing(rings.table, 0, 100, 0.0, 5.0);
  spatialStore(rings.table, 7.0, 0.0, 0.12, 1, 0);
  DelayBuffer &ring = rings[0];
  EXPECT_EQ(ring.first, 2); // 0 and 1e-9 lie below 0.12
  EXPECT_EQ(ring.current, 2);
  EXPECT_EQ(ring.times[2], 0.12);
  double out0 = 0, out1 = 0;
  spatialLookup(rings.table, 0.0, 0.0, 0.13 - 1, 1, 0, &out0, &out1);
  EXPECT_NEAR(out1, 7.0 + 0.01 * (5.0 - 7.0) / 0.03, 1e-9);
  spatialLookup(rings.table, 0.0, 0.0, 0.0 - 1, 1, 0, &out0, &out1);
  EXPECT_EQ(out1, 7.0);
}

TEST(SpatialDistributionInit, ChecksTheProfileArrays) {
  struct Case {
    int32_t pointsNdims, valuesNdims, pointsLength, valuesLength;
    const char *text;
  };
  const Case cases[] = {
      {2, 1, 2, 2,
       "  Initial Points should be a vector\n  Failed condition: initialPoints.ndims==1"},
      {1, 0, 2, 2,
       "  Initial Values should be a vector\n  Failed condition: initialValues.ndims==1"},
      {1, 1, 2, 3,
       "  Initial Points and Values should have size\n  Failed condition: "
       "initialPoints.dims[0]==initialValues.dims[0]"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Rings<1> rings;
    ASSERT_EQ(allocDelayBuffers(rings.table, 1, 100), 0);
    double data[3] = {0.0, 0.5, 1.0};
    int32_t pointsDims[2] = {c.pointsLength, 1};
    int32_t valuesDims[2] = {c.valuesLength, 1};
    EXPECT_FALSE(completes([&] {
      spatialDistributionInit(rings.table, 0, 100, 0.0, 0, Array{c.pointsNdims, pointsDims, data},
                              Array{c.valuesNdims, valuesDims, data});
    }));
    EXPECT_TRUE(anyMessage(c.text, 2));
  }
  // An empty profile starts the ring at x with the value 0.
  Rings<1> rings;
  ASSERT_EQ(allocDelayBuffers(rings.table, 1, 100), 0);
  int32_t none = 0;
  double unused = 9.0;
  EXPECT_EQ(spatialDistributionInit(rings.table, 0, 100, 3.0, 0, Array{1, &none, &unused},
                                    Array{1, &none, &unused}),
            1);
  EXPECT_EQ(rings[0].times[0], 3.0);
  EXPECT_EQ(rings[0].values[0], 0.0);
}

TEST(IntegerToEnumeration, AcceptsOneToTheLargestValue) {
  struct Case {
    int32_t value;
    bool valid;
  };
  const Case cases[] = {{0, false}, {1, true}, {3, true}, {4, false}, {-2, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    Rings<1> capture;
    int32_t result = 0;
    EXPECT_EQ(completes([&] { result = integerToEnumeration(c.value, 3, "Colour out of range"); }),
              c.valid);
    if (c.valid)
      EXPECT_EQ(result, c.value);
    else
      EXPECT_TRUE(anyMessage("  Colour out of range\n  Failed condition: toConvert >= 1 && "
                             "toConvert <= maxEnumValue",
                             2));
  }
}

} // namespace
