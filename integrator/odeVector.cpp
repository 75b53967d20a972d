// Serial vectors and the generic vector entry points.
//
// The integrator never touches elements itself: it calls the operations of a
// vector's own table.  The serial implementation keeps the case order of the
// linear combination and the scaling, since the cases can differ in the last
// bits; reductions run strictly in index order.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "integrator/ode_impl.h"

namespace {

OdeVectorSerialContent *content(OdeVector v) {
  return static_cast<OdeVectorSerialContent *>(v->content);
}
int len(OdeVector v) { return content(v)->length; }
double *dat(OdeVector v) { return content(v)->data; }

// A vector record of the given length with its own copy of ops and no data
// (record, ops and content are allocated in that order).
OdeVector newEmpty(int length, const OdeVectorOps &ops) {
  auto *v = static_cast<OdeVectorRecord *>(odeAlloc(sizeof(OdeVectorRecord)));
  if (v == nullptr) {
    return nullptr;
  }
  auto *o = static_cast<OdeVectorOps *>(odeAlloc(sizeof(OdeVectorOps)));
  if (o == nullptr) {
    std::free(v);
    return nullptr;
  }
  std::memcpy(o, &ops, sizeof(OdeVectorOps));
  auto *c = static_cast<OdeVectorSerialContent *>(odeAlloc(sizeof(OdeVectorSerialContent)));
  if (c == nullptr) {
    std::free(o);
    std::free(v);
    return nullptr;
  }
  c->length = length;
  c->ownsData = 0;
  c->data = nullptr;
  v->content = c;
  v->ops = o;
  return v;
}

// newEmpty with data of its own (none for a length of 0).
OdeVector newOwning(int length, const OdeVectorOps &ops) {
  OdeVector v = newEmpty(length, ops);
  if (v == nullptr) {
    return nullptr;
  }
  if (length > 0) {
    auto *d = static_cast<double *>(odeAlloc(sizeof(double) * static_cast<size_t>(length)));
    if (d == nullptr) {
      OdeVecDispose_Serial(v);
      return nullptr;
    }
    content(v)->data = d;
    content(v)->ownsData = 1;
  }
  return v;
}

OdeVector serialDuplicateEmpty(OdeVector w) {
  if (w == nullptr) {
    return nullptr;
  }
  return newEmpty(len(w), *w->ops);
}

OdeVector serialDuplicate(OdeVector w) {
  if (w == nullptr) {
    return nullptr;
  }
  return newOwning(len(w), *w->ops);
}

void serialStorageSize(OdeVector v, long *realWords, long *integerWords) {
  *realWords = len(v);
  *integerWords = 1;
}

double *serialGetData(OdeVector v) { return dat(v); }

void serialSetData(double *data, OdeVector v) {
  if (len(v) > 0) {
    content(v)->data = data;
  }
}

// v := c*u + v, with the cases c = 1 and c = -1 apart.
void accumulate(double c, OdeVector u, OdeVector v) {
  int n = len(u);
  const double *ud = dat(u);
  double *vd = dat(v);
  if (c == 1.0) {
    for (int i = 0; i < n; ++i) vd[i] = vd[i] + ud[i];
  } else if (c == -1.0) {
    for (int i = 0; i < n; ++i) vd[i] = vd[i] - ud[i];
  } else {
    for (int i = 0; i < n; ++i) vd[i] = c * ud[i] + vd[i];
  }
}

void serialCombine(double a, OdeVector x, double b, OdeVector y, OdeVector z) {
  if (b == 1.0 && z == y) {
    accumulate(a, x, y);
    return;
  }
  if (a == 1.0 && z == x) {
    accumulate(b, y, x);
    return;
  }
  int n = len(x);
  const double *xd = dat(x);
  const double *yd = dat(y);
  double *zd = dat(z);
  if (a == 1.0 && b == 1.0) {
    for (int i = 0; i < n; ++i) zd[i] = xd[i] + yd[i];
  } else if (a == 1.0 && b == -1.0) {
    for (int i = 0; i < n; ++i) zd[i] = xd[i] - yd[i];
  } else if (a == -1.0 && b == 1.0) {
    for (int i = 0; i < n; ++i) zd[i] = yd[i] - xd[i];
  } else if (a == 1.0) {
    for (int i = 0; i < n; ++i) zd[i] = b * yd[i] + xd[i];
  } else if (b == 1.0) {
    for (int i = 0; i < n; ++i) zd[i] = a * xd[i] + yd[i];
  } else if (a == -1.0) {
    for (int i = 0; i < n; ++i) zd[i] = b * yd[i] - xd[i];
  } else if (b == -1.0) {
    for (int i = 0; i < n; ++i) zd[i] = a * xd[i] - yd[i];
  } else if (a == b) {
    for (int i = 0; i < n; ++i) zd[i] = a * (xd[i] + yd[i]);
  } else if (a == -b) {
    for (int i = 0; i < n; ++i) zd[i] = a * (xd[i] - yd[i]);
  } else {
    for (int i = 0; i < n; ++i) zd[i] = a * xd[i] + b * yd[i];
  }
}

void serialFill(double c, OdeVector z) {
  int n = len(z);
  double *zd = dat(z);
  for (int i = 0; i < n; ++i) zd[i] = c;
}

void serialMultiply(OdeVector x, OdeVector y, OdeVector z) {
  int n = len(x);
  const double *xd = dat(x);
  const double *yd = dat(y);
  double *zd = dat(z);
  for (int i = 0; i < n; ++i) zd[i] = xd[i] * yd[i];
}

void serialDivide(OdeVector x, OdeVector y, OdeVector z) {
  int n = len(x);
  const double *xd = dat(x);
  const double *yd = dat(y);
  double *zd = dat(z);
  for (int i = 0; i < n; ++i) zd[i] = xd[i] / yd[i];
}

void serialMulScalar(double c, OdeVector x, OdeVector z) {
  int n = len(x);
  double *xd = dat(x);
  double *zd = dat(z);
  if (z == x) {
    for (int i = 0; i < n; ++i) xd[i] = xd[i] * c;
  } else if (c == 1.0) {
    for (int i = 0; i < n; ++i) zd[i] = xd[i];
  } else if (c == -1.0) {
    for (int i = 0; i < n; ++i) zd[i] = -xd[i];
  } else {
    for (int i = 0; i < n; ++i) zd[i] = c * xd[i];
  }
}

void serialAbsolute(OdeVector x, OdeVector z) {
  int n = len(x);
  const double *xd = dat(x);
  double *zd = dat(z);
  for (int i = 0; i < n; ++i) zd[i] = std::fabs(xd[i]);
}

void serialReciprocal(OdeVector x, OdeVector z) {
  int n = len(x);
  const double *xd = dat(x);
  double *zd = dat(z);
  for (int i = 0; i < n; ++i) zd[i] = 1.0 / xd[i];
}

void serialAddScalar(OdeVector x, double b, OdeVector z) {
  int n = len(x);
  const double *xd = dat(x);
  double *zd = dat(z);
  for (int i = 0; i < n; ++i) zd[i] = xd[i] + b;
}

double serialInnerProduct(OdeVector x, OdeVector y) {
  int n = len(x);
  const double *xd = dat(x);
  const double *yd = dat(y);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += xd[i] * yd[i];
  return sum;
}

double serialMaxAbs(OdeVector x) {
  int n = len(x);
  const double *xd = dat(x);
  double m = 0.0;
  for (int i = 0; i < n; ++i) {
    double a = std::fabs(xd[i]);
    if (a > m) m = a;
  }
  return m;
}

// The sum of (x[i]*w[i])^2 in index order.
double weightedSquareSum(OdeVector x, OdeVector w) {
  int n = len(x);
  const double *xd = dat(x);
  const double *wd = dat(w);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    double p = xd[i] * wd[i];
    sum += p * p;
  }
  return sum;
}

double serialWeightedRms(OdeVector x, OdeVector w) {
  return odeSafeSqrt(weightedSquareSum(x, w) / len(x));
}

double serialWeightedRmsMasked(OdeVector x, OdeVector w, OdeVector id) {
  int n = len(x);
  const double *xd = dat(x);
  const double *wd = dat(w);
  const double *idd = dat(id);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    if (idd[i] > 0.0) {
      double p = xd[i] * wd[i];
      sum += p * p;
    }
  }
  return odeSafeSqrt(sum / n);
}

double serialMinElement(OdeVector x) {
  int n = len(x);
  const double *xd = dat(x);
  double m = xd[0];
  for (int i = 1; i < n; ++i) {
    if (xd[i] < m) m = xd[i];
  }
  return m;
}

double serialWeightedL2(OdeVector x, OdeVector w) { return odeSafeSqrt(weightedSquareSum(x, w)); }

double serialAbsSum(OdeVector x) {
  int n = len(x);
  const double *xd = dat(x);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += std::fabs(xd[i]);
  return sum;
}

void serialThreshold(double c, OdeVector x, OdeVector z) {
  int n = len(x);
  const double *xd = dat(x);
  double *zd = dat(z);
  for (int i = 0; i < n; ++i) zd[i] = (std::fabs(xd[i]) >= c) ? 1.0 : 0.0;
}

int serialReciprocalChecked(OdeVector x, OdeVector z) {
  int n = len(x);
  const double *xd = dat(x);
  double *zd = dat(z);
  int ok = 1;
  for (int i = 0; i < n; ++i) {
    if (xd[i] == 0.0) {
      ok = 0;
    } else {
      zd[i] = 1.0 / xd[i];
    }
  }
  return ok;
}

int serialConstraintMask(OdeVector c, OdeVector x, OdeVector m) {
  int n = len(x);
  const double *cd = dat(c);
  const double *xd = dat(x);
  double *md = dat(m);
  int ok = 1;
  for (int i = 0; i < n; ++i) {
    md[i] = 0.0;
    if (cd[i] == 0.0) continue;
    bool violates = false;
    if (cd[i] > 1.5 || cd[i] < -1.5) {
      violates = xd[i] * cd[i] <= 0.0;
    } else if (cd[i] > 0.5 || cd[i] < -0.5) {
      violates = xd[i] * cd[i] < 0.0;
    }
    if (violates) {
      ok = 0;
      md[i] = 1.0;
    }
  }
  return ok;
}

double serialSmallestQuotient(OdeVector num, OdeVector denom) {
  int n = len(num);
  const double *nd = dat(num);
  const double *dd = dat(denom);
  double m = std::numeric_limits<double>::max();
  for (int i = 0; i < n; ++i) {
    if (dd[i] == 0.0) continue;
    double q = nd[i] / dd[i];
    if (!(m < q)) m = q;
  }
  return m;
}

constexpr OdeVectorOps serialOps = {
    serialDuplicate,
    serialDuplicateEmpty,
    OdeVecDispose_Serial,
    serialStorageSize,
    serialGetData,
    serialSetData,
    serialCombine,
    serialFill,
    serialMultiply,
    serialDivide,
    serialMulScalar,
    serialAbsolute,
    serialReciprocal,
    serialAddScalar,
    serialInnerProduct,
    serialMaxAbs,
    serialWeightedRms,
    serialWeightedRmsMasked,
    serialMinElement,
    serialWeightedL2,
    serialAbsSum,
    serialThreshold,
    serialReciprocalChecked,
    serialConstraintMask,
    serialSmallestQuotient,
};

} // namespace

// ---------------------------------------------------------------------------
// Serial constructors
// ---------------------------------------------------------------------------

OdeVector OdeVecNewEmpty_Serial(int length) { return newEmpty(length, serialOps); }

OdeVector OdeVecNew_Serial(int length) { return newOwning(length, serialOps); }

OdeVector OdeVecMake_Serial(int length, double *data) {
  OdeVector v = OdeVecNewEmpty_Serial(length);
  if (v == nullptr) {
    return nullptr;
  }
  if (length > 0) {
    content(v)->data = data;
  }
  return v;
}

void OdeVecDispose_Serial(OdeVector v) {
  if (v == nullptr) {
    return;
  }
  OdeVectorSerialContent *c = content(v);
  if (c != nullptr) {
    if (c->ownsData == 1) {
      std::free(c->data);
    }
    std::free(c);
  }
  std::free(v->ops);
  std::free(v);
}

// ---------------------------------------------------------------------------
// Generic entry points
// ---------------------------------------------------------------------------

OdeVector OdeVecDuplicate(OdeVector w) { return w->ops->duplicate(w); }
OdeVector OdeVecDuplicateEmpty(OdeVector w) {
  return w == nullptr ? nullptr : w->ops->duplicateEmpty(w);
}
void OdeVecDispose(OdeVector v) {
  if (v != nullptr) v->ops->dispose(v);
}
void OdeVecStorageSize(OdeVector v, long *realWords, long *integerWords) {
  v->ops->storageSize(v, realWords, integerWords);
}
double *OdeVecGetData(OdeVector v) { return v->ops->getData(v); }
void OdeVecSetData(double *data, OdeVector v) { v->ops->setData(data, v); }
void OdeVecCombine(double a, OdeVector x, double b, OdeVector y, OdeVector z) {
  z->ops->combine(a, x, b, y, z);
}
void OdeVecFill(double c, OdeVector z) { z->ops->fill(c, z); }
void OdeVecMultiply(OdeVector x, OdeVector y, OdeVector z) { z->ops->multiply(x, y, z); }
void OdeVecDivide(OdeVector x, OdeVector y, OdeVector z) { z->ops->divide(x, y, z); }
void OdeVecMulScalar(double c, OdeVector x, OdeVector z) { z->ops->mulScalar(c, x, z); }
void OdeVecAbsolute(OdeVector x, OdeVector z) { z->ops->absolute(x, z); }
void OdeVecReciprocal(OdeVector x, OdeVector z) { z->ops->reciprocal(x, z); }
void OdeVecAddScalar(OdeVector x, double b, OdeVector z) { z->ops->addScalar(x, b, z); }
double OdeVecInnerProduct(OdeVector x, OdeVector y) { return x->ops->innerProduct(x, y); }
double OdeVecMaxAbs(OdeVector x) { return x->ops->maxAbs(x); }
double OdeVecWeightedRms(OdeVector x, OdeVector w) { return x->ops->weightedRms(x, w); }
double OdeVecWeightedRmsMasked(OdeVector x, OdeVector w, OdeVector id) {
  return x->ops->weightedRmsMasked(x, w, id);
}
double OdeVecMinElement(OdeVector x) { return x->ops->minElement(x); }
double OdeVecWeightedL2(OdeVector x, OdeVector w) { return x->ops->weightedL2(x, w); }
double OdeVecAbsSum(OdeVector x) { return x->ops->absSum(x); }
void OdeVecThreshold(double c, OdeVector x, OdeVector z) { z->ops->threshold(c, x, z); }
int OdeVecReciprocalChecked(OdeVector x, OdeVector z) { return z->ops->reciprocalChecked(x, z); }
int OdeVecConstraintMask(OdeVector c, OdeVector x, OdeVector m) {
  return m->ops->constraintMask(c, x, m);
}
double OdeVecSmallestQuotient(OdeVector num, OdeVector denom) {
  return num->ops->smallestQuotient(num, denom);
}
