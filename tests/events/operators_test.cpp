// The small model operators: smooth splice, animation codes, processor clock
// and the external-object table of the instance under evaluation.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/model_interface.h"
#include "source/dsblock5/runcontrol.h"
#include "source/matrixop.h"
#include "source/operators.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(Splice, WeightRunsFromZeroToOneAcrossTheTransition) {
  struct Case {
    double x, deltax, weight;
  };
  const Case cases[] = {
      {0.0, 1.0, 0.5},  {1.0, 1.0, 1.0}, {-1.0, 1.0, 0.0},   {2.0, 1.0, 1.0},
      {-2.0, 1.0, 0.0}, {0.0, 0.0, 0.0}, {1e-300, 0.0, 1.0}, {-1e-300, 0.0, 0.0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + " " + std::to_string(c.deltax));
    EXPECT_EQ(spliceWeight(c.x, c.deltax), c.weight);
  }
  EXPECT_EQ(spliceWeight(0.5, -1.0), spliceWeight(-0.5, 1.0));
  EXPECT_GT(spliceWeight(0.5, 1.0), 0.5);
  EXPECT_LT(spliceWeight(0.5, 1.0), 1.0);
  EXPECT_NEAR(spliceWeight(0.5, 1.0) + spliceWeight(-0.5, 1.0), 1.0, 1e-15);
}

TEST(Splice, WeightDerivativeMatchesTheWeightAlongAPath) {
  EXPECT_DOUBLE_EQ(spliceWeightDer(0.0, 1.0, 1.0, 0.0), 0.7853981633974483);
  EXPECT_EQ(spliceWeightDer(1.0, 1.0, 1.0, 0.0), 0.0);
  EXPECT_EQ(spliceWeightDer(-3.0, 1.0, 1.0, 0.0), 0.0);
  EXPECT_EQ(spliceWeightDer(0.0, 0.0, 1.0, 1.0), 0.0);
  // x(t) = x0 + dx*t, deltax(t) = d0 + dd*t: a central difference of the
  // weight along the path.
  struct Case {
    double x0, d0, dx, dd;
  };
  const Case cases[] = {{0.3, 1.0, 1.0, 0.0}, {-0.4, 2.0, 0.5, 0.3}, {0.2, -1.0, -1.0, 0.2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x0);
    const double e = 1e-6;
    const double difference = (spliceWeight(c.x0 + c.dx * e, c.d0 + c.dd * e) -
                               spliceWeight(c.x0 - c.dx * e, c.d0 - c.dd * e)) /
                              (2.0 * e);
    EXPECT_NEAR(spliceWeightDer(c.x0, c.d0, c.dx, c.dd), difference, 1e-7);
  }
}

TEST(Splice, DerivativeUsesOnlyTheBranchesThatCarryWeight) {
  // Outside the transition only one branch counts, even when the other's
  // derivative is not finite.
  EXPECT_EQ(spliceDer(1.0, 2.0, 2.0, 1.0, 3.0, kNaN, 1.0, 0.0), 3.0);
  EXPECT_EQ(spliceDer(1.0, 2.0, -2.0, 1.0, kInf, 4.0, 1.0, 0.0), 4.0);
  // Inside: s*dpos + (1 - s)*dneg + (pos - neg)*ds.
  const double s = spliceWeight(0.2, 1.0);
  const double ds = spliceWeightDer(0.2, 1.0, 0.5, 0.0);
  EXPECT_DOUBLE_EQ(spliceDer(5.0, 1.0, 0.2, 1.0, 3.0, 4.0, 0.5, 0.0),
                   s * 3.0 + (1.0 - s) * 4.0 + 4.0 * ds);
}

TEST(ShapeCode, NamedShapesAndShapesGivenByNumber) {
  struct Case {
    const char *text;
    double code;
  };
  const Case cases[] = {
      {"box", 101},
      {"sphere", 102},
      {"cylinder", 103},
      {"cone", 104},
      {"pipe", 105},
      {"beam", 106},
      {"wirebox", 107},
      {"gearwheel", 108},
      {"vector", 109},
      {"pipecylinder", 110},
      {"spring", 111},
      {"tire", 112},
      {"tyre", 112},
      {"7", 207},
      {"  -3", 197},
      {"+12abc", 212},
      {"Box", 200},
      {"", 200},
      {"cone ", 200},
      {"x7", 200},
      {"99999999999", 200.0 + INT_MAX},
      {"-99999999999", 200.0 + INT_MIN},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(shapeCode(c.text), c.code);
  }
  EXPECT_EQ(shapeCode(nullptr), 200.0);
}

TEST(PackedMaterial, PacksTheTruncatedChannelsIntoOneDecimalCode) {
  struct Case {
    double red, green, blue, specular, code;
  };
  const Case cases[] = {
      {1, 0, 0, 0, 9900000},
      {0.5, 0.5, 0.5, 0.5, 49 * 100000 + 49 * 1000 + 49 * 10 + 4},
      {0, 1, 0, 1, 99000 + 9},
      {0, 0, 1, 0, 990},
      {2, -1, 0.125, 5, 9900000 + 0 + 120 + 9},
      {kNaN, kNaN, kNaN, kNaN, 0},
      {kInf, -kInf, 1e300, -1e300, 9900990},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(packedMaterial(c.red, c.green, c.blue, c.specular), c.code);
  }
}

TEST(ClockValue, AddsTheClockOffset) {
  const double plain = clockValue();
  EXPECT_GE(plain, 0.0);
  clockOffset = 1e9;
  const double moved = clockValue();
  clockOffset = 0.0;
  EXPECT_GE(moved, 1e9 + plain);
  EXPECT_LE(moved, 1e9 + clockValue());
}

TEST(ExternalObjectTable, IsThatOfTheBoundInstance) {
  std::unique_ptr<ModelInstanceData> record(new ModelInstanceData);
  initInstanceData(record.get());
  setCurrentInstance(record.get());
  EXPECT_EQ(getCurrentExternalObjectTable(), record->externalObjects);
  setCurrentInstance(nullptr);
  EXPECT_EQ(getCurrentExternalObjectTable(), defaultInstanceData.externalObjects);
}

} // namespace
