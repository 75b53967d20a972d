// Serial vectors and their operations.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "integrator/ode.h"

namespace {

OdeVectorSerialContent *content(OdeVector v) {
  return static_cast<OdeVectorSerialContent *>(v->content);
}

// A serial vector holding the given values, released with the holder.
struct Vec {
  OdeVector v;
  explicit Vec(std::vector<double> values) : v(OdeVecNew_Serial(static_cast<int>(values.size()))) {
    for (size_t i = 0; i < values.size(); ++i) OdeVecGetData(v)[i] = values[i];
  }
  ~Vec() { OdeVecDispose(v); }
  Vec(const Vec &) = delete;
  Vec &operator=(const Vec &) = delete;
  double operator[](int i) const { return OdeVecGetData(v)[i]; }
  operator OdeVector() const { return v; }
};

} // namespace

TEST(OdeVector, ConstructorsAndOwnership) {
  OdeVector none = OdeVecNew_Serial(0);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(content(none)->data, nullptr);
  EXPECT_EQ(content(none)->ownsData, 0);
  OdeVecDispose(none);

  double owned[3] = {1.0, 2.0, 3.0};
  OdeVector made = OdeVecMake_Serial(0, owned);
  EXPECT_EQ(content(made)->data, nullptr);
  OdeVecDispose(made);

  made = OdeVecMake_Serial(3, owned);
  EXPECT_EQ(OdeVecGetData(made), owned);
  EXPECT_EQ(content(made)->ownsData, 0);
  OdeVecFill(7.0, made);
  OdeVecDispose_Serial(made);
  EXPECT_EQ(owned[2], 7.0); // the caller's array is left alone

  OdeVector fresh = OdeVecNew_Serial(4);
  EXPECT_EQ(content(fresh)->ownsData, 1);
  EXPECT_EQ(content(fresh)->length, 4);
  OdeVector dup = OdeVecDuplicate(fresh);
  EXPECT_EQ(content(dup)->length, 4);
  EXPECT_EQ(content(dup)->ownsData, 1);
  EXPECT_NE(OdeVecGetData(dup), OdeVecGetData(fresh));
  EXPECT_NE(dup->ops, fresh->ops); // every vector has its own table
  EXPECT_EQ(dup->ops->combine, fresh->ops->combine);
  OdeVector empty = OdeVecDuplicateEmpty(fresh);
  EXPECT_EQ(content(empty)->data, nullptr);
  EXPECT_EQ(content(empty)->length, 4);
  EXPECT_EQ(OdeVecDuplicateEmpty(nullptr), nullptr);
  long realWords = 0, intWords = 0;
  OdeVecStorageSize(fresh, &realWords, &intWords);
  EXPECT_EQ(realWords, 4);
  EXPECT_EQ(intWords, 1);
  // Re-pointing keeps ownsData; the own array comes back before disposal.
  double *own = OdeVecGetData(fresh);
  OdeVecSetData(owned, fresh);
  EXPECT_EQ(OdeVecGetData(fresh), owned);
  OdeVecSetData(own, fresh);
  OdeVecDispose(empty);
  OdeVecDispose(dup);
  OdeVecDispose(fresh);
  OdeVecDispose(nullptr);
}

TEST(OdeVector, LinearCombinationCases) {
  struct Case {
    double a, b;
    double expected0; // for x = (3, ...), y = (5, ...)
  };
  const Case cases[] = {
      {1, 1, 8},  {1, -1, -2}, {-1, 1, 2}, {1, 2, 13},  {2, 1, 11},
      {-1, 2, 7}, {2, -1, 1},  {2, 2, 16}, {2, -2, -4}, {3, 4, 29},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "a=" << c.a << " b=" << c.b);
    Vec x({3.0, 0.5}), y({5.0, 0.25}), z({0.0, 0.0});
    OdeVecCombine(c.a, x, c.b, y, z);
    EXPECT_EQ(z[0], c.expected0);
    EXPECT_EQ(z[1], c.a * 0.5 + c.b * 0.25);
  }
  // In place on y (b = 1) and on x (a = 1).
  Vec x({3.0}), y({5.0});
  OdeVecCombine(2.0, x, 1.0, y, y);
  EXPECT_EQ(y[0], 11.0);
  OdeVecCombine(1.0, x, -1.0, y, x);
  EXPECT_EQ(x[0], -8.0);
}

TEST(OdeVector, ElementOperations) {
  Vec x({2.0, -4.0, 0.0}), y({4.0, 2.0, 1.0}), z({9.0, 9.0, 9.0});
  OdeVecMultiply(x, y, z);
  EXPECT_EQ(z[1], -8.0);
  OdeVecDivide(x, y, z);
  EXPECT_EQ(z[0], 0.5);
  OdeVecAbsolute(x, z);
  EXPECT_EQ(z[1], 4.0);
  OdeVecReciprocal(y, z);
  EXPECT_EQ(z[0], 0.25);
  OdeVecAddScalar(x, 1.5, z);
  EXPECT_EQ(z[2], 1.5);
  OdeVecMulScalar(-1.0, x, z);
  EXPECT_TRUE(std::signbit(z[2])); // 0 becomes -0
  EXPECT_EQ(z[1], 4.0);
  OdeVecMulScalar(1.0, x, z);
  EXPECT_EQ(z[0], 2.0);
  OdeVecMulScalar(3.0, x, x);
  EXPECT_EQ(x[0], 6.0);

  Vec r({2.0, 0.0, 4.0}), out({7.0, 7.0, 7.0});
  EXPECT_EQ(OdeVecReciprocalChecked(r, out), 0);
  EXPECT_EQ(out[0], 0.5);
  EXPECT_EQ(out[1], 7.0);
  EXPECT_EQ(out[2], 0.25);

  Vec t({0.5, -2.0, std::nan("")}), mask({9.0, 9.0, 9.0});
  OdeVecThreshold(1.0, t, mask);
  EXPECT_EQ(mask[0], 0.0);
  EXPECT_EQ(mask[1], 1.0);
  EXPECT_EQ(mask[2], 0.0);
}

TEST(OdeVector, Reductions) {
  Vec x({3.0, -4.0}), w({2.0, 0.5});
  EXPECT_EQ(OdeVecInnerProduct(x, w), 4.0);
  EXPECT_EQ(OdeVecMaxAbs(x), 4.0);
  EXPECT_EQ(OdeVecWeightedRms(x, w), std::sqrt((36.0 + 4.0) / 2.0));
  EXPECT_EQ(OdeVecWeightedL2(x, w), std::sqrt(40.0));
  EXPECT_EQ(OdeVecMinElement(x), -4.0);
  EXPECT_EQ(OdeVecAbsSum(x), 7.0);
  Vec id({1.0, 0.0});
  EXPECT_EQ(OdeVecWeightedRmsMasked(x, w, id), std::sqrt(36.0 / 2.0));
  Vec num({1.0, 6.0}), denZero({0.0, 0.0}), den({4.0, 2.0});
  EXPECT_EQ(OdeVecSmallestQuotient(num, denZero), std::numeric_limits<double>::max());
  EXPECT_EQ(OdeVecSmallestQuotient(num, den), 0.25);
  OdeVector empty = OdeVecNew_Serial(0);
  EXPECT_EQ(OdeVecMaxAbs(empty), 0.0);
  EXPECT_EQ(OdeVecSmallestQuotient(empty, empty), std::numeric_limits<double>::max());
  OdeVecDispose(empty);
}

TEST(OdeVector, ConstraintMask) {
  struct Case {
    double c, x;
    int violates;
  };
  const Case cases[] = {
      {2.0, 0.0, 1},  {2.0, 1.0, 0},  {-2.0, 0.0, 1}, {-2.0, -1.0, 0}, {1.0, 0.0, 0},
      {1.0, -1.0, 1}, {-1.0, 1.0, 1}, {0.0, -5.0, 0}, {0.3, -5.0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "c=" << c.c << " x=" << c.x);
    Vec cv({c.c}), xv({c.x}), m({5.0});
    EXPECT_EQ(OdeVecConstraintMask(cv, xv, m), c.violates ? 0 : 1);
    EXPECT_EQ(m[0], c.violates ? 1.0 : 0.0);
  }
}
