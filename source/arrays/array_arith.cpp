// Element-wise arithmetic and reductions, written once over Real and Integer
// records with the arithmetic of each element type:
//   - Real: IEEE doubles.  This file is compiled without contraction and
//     without fast-math, so every sum and product is rounded as written and
//     the reductions keep their storage order (no reassociation into
//     vector lanes).
//   - Integer: 32-bit two's complement that wraps (array_private.h), so no
//     signed overflow occurs; the compiler is free to vectorize these loops.
// Each result element depends only on the operands at the same position, so
// a result may be the very array a or b.
#include "source/arrays/array_arith.h"

#include "source/arrays/array_private.h"

#include <cfloat>
#include <climits>
#include <cmath>

using namespace arrays;

namespace {

// ---- the range of each element type ---------------------------------------------

template <class T> struct Limits;
template <> struct Limits<double> {
  static constexpr double lowest = -DBL_MAX;
  static constexpr double highest = DBL_MAX;
};
template <> struct Limits<int> {
  static constexpr int lowest = INT_MIN;
  static constexpr int highest = INT_MAX;
};

// ---- element-wise ----------------------------------------------------------------

template <class A> const char *argumentsCondition() {
  return typed<A>("RealMatchingSizes(a,b)", "IntegerMatchingSizes(a,b)", "");
}
template <class A> const char *resultCondition() {
  return typed<A>("RealMatchingSizes(res,a)", "IntegerMatchingSizes(res,a)", "");
}

// res[k] := op(a[k], b[k]) after the operands' and then the result's shape
// test.
template <class A, class Op>
A combineInto(const A &res, const A &a, const A &b, Op op, const char *argumentsMessage,
              const char *resultMessage) {
  require(sameShape(a, b), argumentsCondition<A>(), argumentsMessage);
  require(sameShape(res, a), resultCondition<A>(), resultMessage);
  const int n = count(a);
  Element<A> *r = res.data;
  const Element<A> *x = a.data;
  const Element<A> *y = b.data;
  for (int k = 0; k < n; ++k) r[k] = op(x[k], y[k]);
  return res;
}

// res[k] := op(a[k]) after the result's shape test.
template <class A, class Op> A mapInto(const A &res, const A &a, Op op, const char *message) {
  require(sameShape(res, a), resultCondition<A>(), message);
  const int n = count(a);
  Element<A> *r = res.data;
  const Element<A> *x = a.data;
  for (int k = 0; k < n; ++k) r[k] = op(x[k]);
  return res;
}

constexpr const char *kAddArguments = "Add of arrays require arguments of matching size";
constexpr const char *kAddResult = "Add of arrays require result of matching size";
constexpr const char *kSubtractArguments = "Subtract of arrays require arguments of matching size";
constexpr const char *kSubtractResult = "Subtract of arrays require result of matching size";
constexpr const char *kScaleResult = "Array times scalar require result of matching size";
constexpr const char *kNegateResult = "Negating a matrix require result of matching size";

template <class A> A addInto(const A &res, const A &a, const A &b) {
  return combineInto(
      res, a, b, [](auto x, auto y) { return numeric::add(x, y); }, kAddArguments, kAddResult);
}

template <class A> A subtractInto(const A &res, const A &a, const A &b) {
  return combineInto(
      res, a, b, [](auto x, auto y) { return numeric::sub(x, y); }, kSubtractArguments,
      kSubtractResult);
}

template <class A> A scaleInto(const A &res, const A &a, Element<A> t) {
  return mapInto(
      res, a, [t](auto x) { return numeric::mul(x, t); }, kScaleResult);
}

template <class A> A negateInto(const A &res, const A &a) {
  return mapInto(
      res, a, [](auto x) { return numeric::neg(x); }, kNegateResult);
}

// ---- reductions ----------------------------------------------------------------------
// One running value from the seed, element by element in storage order.

template <class A, class Step> Element<A> reduce(const A &a, Element<A> seed, Step step) {
  const int n = count(a);
  const Element<A> *x = a.data;
  Element<A> s = seed;
  for (int k = 0; k < n; ++k) s = step(s, x[k]);
  return s;
}

template <class A> Element<A> sum(const A &a) {
  return reduce(a, Element<A>{0}, [](auto s, auto x) { return numeric::add(s, x); });
}

// A NaN element takes the subtracting branch.
template <class A> Element<A> sumAbs(const A &a) {
  return reduce(a, Element<A>{0},
                [](auto s, auto x) { return x > 0 ? numeric::add(s, x) : numeric::sub(s, x); });
}

template <class A> Element<A> productOf(const A &a) {
  return reduce(a, Element<A>{1}, [](auto s, auto x) { return numeric::mul(s, x); });
}

// A NaN element compares false and never replaces the running value.
template <class A> Element<A> maxOf(const A &a) {
  return reduce(a, Limits<Element<A>>::lowest, [](auto s, auto x) { return x > s ? x : s; });
}

template <class A> Element<A> minOf(const A &a) {
  return reduce(a, Limits<Element<A>>::highest, [](auto s, auto x) { return x < s ? x : s; });
}

} // namespace

// ---- element-wise ------------------------------------------------------------------------

RealArray RealAddInto(RealArray res, RealArray a, RealArray b) { return addInto(res, a, b); }
IntegerArray IntegerAddInto(IntegerArray res, IntegerArray a, IntegerArray b) {
  return addInto(res, a, b);
}
RealArray RealAdd(RealArray a, RealArray b) { return addInto(allocateLike(a), a, b); }
IntegerArray IntegerAdd(IntegerArray a, IntegerArray b) { return addInto(allocateLike(a), a, b); }

RealArray RealSubtractInto(RealArray res, RealArray a, RealArray b) {
  return subtractInto(res, a, b);
}
IntegerArray IntegerSubtractInto(IntegerArray res, IntegerArray a, IntegerArray b) {
  return subtractInto(res, a, b);
}
RealArray RealSubtract(RealArray a, RealArray b) { return subtractInto(allocateLike(a), a, b); }
IntegerArray IntegerSubtract(IntegerArray a, IntegerArray b) {
  return subtractInto(allocateLike(a), a, b);
}

RealArray RealScaleInto(RealArray res, RealArray a, double t) { return scaleInto(res, a, t); }
IntegerArray IntegerScaleInto(IntegerArray res, IntegerArray a, int t) {
  return scaleInto(res, a, t);
}
RealArray RealScale(RealArray a, double t) { return scaleInto(allocateLike(a), a, t); }
IntegerArray IntegerScale(IntegerArray a, int t) { return scaleInto(allocateLike(a), a, t); }

RealArray RealNegateInto(RealArray res, RealArray a) { return negateInto(res, a); }
IntegerArray IntegerNegateInto(IntegerArray res, IntegerArray a) { return negateInto(res, a); }
RealArray RealNegate(RealArray a) { return negateInto(allocateLike(a), a); }
IntegerArray IntegerNegate(IntegerArray a) { return negateInto(allocateLike(a), a); }

// The reciprocal is taken once: every element is a[k] * (1/t), which may
// differ from a[k] / t in the last bit.
RealArray RealScaleDiv(RealArray a, double t) {
  require(t != 0, "t!=0", "Division by zero in function RealScaleDiv");
  return RealScale(a, 1 / t);
}

// ---- reductions ----------------------------------------------------------------------------

double RealSum(RealArray a) { return sum(a); }
int IntegerSum(IntegerArray a) { return sum(a); }
double RealSumAbs(RealArray a) { return sumAbs(a); }
int IntegerSumAbs(IntegerArray a) { return sumAbs(a); }
double RealMax(RealArray a) { return maxOf(a); }
int IntegerMax(IntegerArray a) { return maxOf(a); }
double RealMin(RealArray a) { return minOf(a); }
int IntegerMin(IntegerArray a) { return minOf(a); }
double RealProduct(RealArray a) { return productOf(a); }
int IntegerProduct(IntegerArray a) { return productOf(a); }

// Only the element counts are compared: a 2x3 array and a 6-vector match.
double RealDiff(RealArray a, RealArray b) {
  const int max_elem = count(a);
  require(max_elem == count(b), "max_elem==RealNrElements(b)", "Diff");
  double s = 0;
  for (int k = 0; k < max_elem; ++k) {
    const double c = (a.data[k] - b.data[k]) / (std::fabs(a.data[k]) + 1);
    s = c > 0 ? s + c : s - c;
  }
  return s;
}

// ---- conversions -----------------------------------------------------------------------------

RealArray RealFromInteger(IntegerArray a) {
  const int n = count(a);
  const RealArray r{a.ndims, a.dims, elements<RealArray>(n)};
  for (int k = 0; k < n; ++k) r.data[k] = a.data[k];
  return r;
}

IntegerArray RealToInteger(RealArray a) {
  const int n = count(a);
  const IntegerArray r{a.ndims, a.dims, elements<IntegerArray>(n)};
  for (int k = 0; k < n; ++k) r.data[k] = wholeToInt(std::floor(a.data[k]));
  return r;
}
