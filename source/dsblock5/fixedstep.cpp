// The fixed-step event approach: prediction of events within the coming
// fixed step and the scaling of the steps around them.
#include "source/dsblock5/fixedstep.h"

#include <algorithm>
#include <cmath>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/runcontrol.h"

namespace {

// Offsets added to the predicted fractions: the crossing is aimed a little
// beyond the estimate, so that the shortened step ends just past it.
constexpr double kLinearOffset = 1.0 - 0.8;
static_assert(kLinearOffset == 0.19999999999999996);
constexpr double kQuadraticOffset = 1.04 - 1.0;
static_assert(kQuadraticOffset == 0.040000000000000036);

// Window ends, just short of one and two steps.
constexpr double kWindow1 = 0.9999999999;
constexpr double kWindow2 = 1.9999999999;

thread_local FixedStepWindow threadWindow;

bool takesPart(const FixedStepIndicators &ind, int32_t i) {
  return ind.relationFlags != nullptr && ind.relationFlags[i / 2 + 1] != 0;
}

// The fraction of the coming step at which indicator i is predicted to cross
// zero; 0 when no crossing is expected.
double crossingFraction(const FixedStepWindow &w, const FixedStepIndicators &ind, int32_t i,
                        const double *Z) {
  const double *hist = ind.history + 4 * i;
  const double z = Z[i];
  const double z1 = hist[1];
  const double z2 = hist[2];
  const double z3 = hist[3];
  const double r = w.intervalRatio;
  const double rp = w.previousIntervalRatio;
  const double g = (z - z1) / r; // slope per step h
  const int32_t pair = i / 2;
  if (!((2.0 * 1.2 * g + z) * z < 0.0) || !takesPart(ind, i) ||
      !(Z[2 * pair] * Z[2 * pair + 1] > 0.0))
    return 0.0;
  double f = -z / g + kLinearOffset;
  // Quadratic refinement through the last three points, when the values
  // approached zero between the last two of them.
  const bool approached = z1 > 0.0 ? z2 > z1 : z1 > z2;
  if (w.earlierPointTime > -1e30 && approached) {
    const double wsum = r + rp;
    const double d = r * wsum * rp;
    const double a = (wsum * wsum * (z1 - z) - r * r * (z2 - z)) / d;
    const double b = (-wsum * (z1 - z) + r * (z2 - z)) / d;
    const double q = 4.0 * z * b;
    const bool approachedBefore = z1 > 0.0 ? z3 > z2 : z2 > z3;
    const double v = approachedBefore ? 0.4 : 0.7;
    const double disc = a * a - (q > 0.0 ? (1.0 + v) * q : (1.0 - v) * q);
    if (disc >= 0.0) {
      const double s = a > 0.0 ? 1.0 : -1.0;
      const double root = disc > 0.0 ? std::sqrt(disc) : 0.0;
      const double f2 = 2.0 * z / (a + s * root) + kQuadraticOffset;
      if (-0.5 < f2 && f2 < 2.5) f = f2;
    }
  }
  return f;
}

} // namespace

FixedStepIndicators fixedStepIndicatorsOf(ModelInstanceData *record, int32_t) {
  return FixedStepIndicators{record != nullptr ? record->relationFlags : nullptr, nullptr, 0};
}

FixedStepWindow &threadFixedStepWindow() { return threadWindow; }

void fixedStepEventsIn(FixedStepWindow &w, FixedStepIndicators ind, ModelInstanceData *instance,
                       double t, int32_t initial, int32_t eventFlag, const double *Z, double *F,
                       int32_t nF, double *DUSER) {
  ModelInstanceData *d = instance != nullptr ? instance : getUnboundInstanceData();
  const int32_t count = ind.history != nullptr && Z != nullptr ? 2 * std::max(ind.pairs, 0) : 0;

  if (initial != 0) {
    d->fixedStepSize = 0.0;
    d->fixedStepLastTime = 1e30;
    w.window1End = w.window2End = -1e30;
    w.gridBaseTime = t;
    w.lastPointTime = -1e30;
    w.earlierPointTime = t;
    w.previousIntervalRatio = 1.0;
    w.bestFraction = 1.0;
    w.secondFraction = 1.0;
    w.intervalRatio = 1.0;
    // Values of an earlier run are not points of this one: the first
    // prediction after an initial call must see no history beyond its own.
    std::fill(ind.history, ind.history + 4 * count, 0.0);
  }
  if (d->fixedStepSize == 0.0 && t > d->fixedStepLastTime)
    d->fixedStepSize = t - d->fixedStepLastTime;
  if (eventFlag != 0) d->fixedStepLastTime = t;
  const double h = d->fixedStepSize;

  if (t > w.lastPointTime) {
    w.earlierPointTime = w.lastPointTime;
    w.previousIntervalRatio = w.intervalRatio;
    if (h != 0.0) {
      const double e = (w.window1End <= t && t < w.window2End) ? w.window1End : t;
      w.intervalRatio = (e - w.gridBaseTime) / h;
    }
    for (int32_t i = 0; i < count; ++i) {
      double *hist = ind.history + 4 * i;
      hist[3] = hist[2];
      hist[2] = hist[1];
      hist[1] = hist[0];
    }
  }
  for (int32_t i = 0; i < count; ++i) ind.history[4 * i] = takesPart(ind, i) ? Z[i] : 0.0;

  if (h != 0.0 && t >= w.window2End) {
    double best = 0.0;
    if (DUSER != nullptr) {
      const double c = (DUSER[kDuserNextTimeEvent] - t) / h;
      if (0.0 < c && c < 2.0 && c > best) best = c;
    }
    for (int32_t i = 0; i < count; ++i) {
      const double f = crossingFraction(w, ind, i, Z);
      if (0.0 < f && f < 2.0 && f > best) best = f;
    }
    w.bestFraction = best;
    if (best != 1e30 && best != 0.0 && best < 1.0) {
      w.bestFraction = std::max(best, 0.0);
      w.secondFraction = 2.0 - w.bestFraction;
      w.window1End = t + kWindow1 * h;
      w.window2End = t + kWindow2 * h;
    } else {
      w.secondFraction = 1.0;
      w.window1End = w.window2End = t;
    }
  }

  w.lastPointTime = t;
  w.gridBaseTime = t;
  d->fixedStepScaledSize = h;
  if (DUSER != nullptr) DUSER[kDuserStepScale] = 1.0;
  double factor = 1.0;
  if (t < w.window1End) {
    factor = w.bestFraction;
  } else if (t < w.window2End) {
    factor = w.secondFraction;
    w.gridBaseTime = w.window1End;
  } else {
    return;
  }
  if (DUSER != nullptr) DUSER[kDuserStepScale] = factor;
  d->fixedStepScaledSize = h * factor;
  if (F != nullptr)
    for (int32_t j = 0; j < nF; ++j) F[j] *= factor;
}

void fixedStepEvents(ModelInstanceData *instance, double t, int32_t initial, int32_t eventFlag,
                     const double *Z, int32_t nzpairs, double *F, int32_t nF, double *DUSER,
                     int32_t *) {
  fixedStepEventsIn(threadFixedStepWindow(), fixedStepIndicatorsOf(instance, nzpairs), instance, t,
                    initial, eventFlag, Z, F, nF, DUSER);
}
