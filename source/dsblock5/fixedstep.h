#pragma once
// The fixed-step event approach.
//
// With a fixed integration step h (fixed-step mode, IUSER[0] not 0) events
// would only be noticed on the grid.  After every completed evaluation the
// driver hands the event indicators and the next time event to this
// approach: it keeps a short history of the indicators, predicts at which
// fraction of the coming step an indicator crosses zero or a time event falls
// due, and when that fraction is below 1 it shortens the coming step to it and
// lengthens the following one to the rest of two steps, so that the event is
// hit and the grid regained after two steps.  The shortening works by
// scaling: the state derivatives are multiplied by the factor of the step
// (an explicit step of length h then advances the states by the scaled step)
// and the factor is published in DUSER[1].  No prediction is made inside a
// pending pair of steps.
//
// The record of the approach (h, the time of the last event call, the scaled
// step) lives in the instance; the window of the pending pair of steps lives
// in a FixedStepWindow.  The driver uses one window per evaluating thread, so
// two threads that each evaluate their own instance never share one; on one
// thread an initial call of any instance starts the window afresh.

#include <cstdint>

struct ModelInstanceData;

// The window of the approach.
struct FixedStepWindow {
  double lastPointTime = -1e30;     // time of the last evaluation seen
  double gridBaseTime = 0.0;        // base time of the current interval
  double earlierPointTime = 0.0;    // the point before the last; -1e30: fewer known
  double intervalRatio = 1.0;       // length of the last interval in units of h
  double previousIntervalRatio = 0; // length of the interval before it
  double bestFraction = 0.0;        // predicted event fraction of the coming step (0 none)
  double secondFraction = 0.0;      // 2 - bestFraction: factor of the following step
  double window1End = -1e30;        // end of the shortened step
  double window2End = -1e30;        // end of the following step
};

// The indicators the approach watches in one record: relation k (indicators
// 2k - 2 and 2k - 1) takes part while relationFlags[k] is set.
struct FixedStepIndicators {
  const int32_t *relationFlags; // entry k for relation k; entry 0 unused
  double *history;              // per indicator Z0 (current, masked), Z1, Z2, Z3
  int32_t pairs;                // relations covered by both arrays
};

// The indicators of a record that the approach can watch.  The vessel
// model's record has no relations and keeps no indicator history, so only
// time events shorten its steps; a record with an indicator history answers
// it here, with pairs at most nzpairs.
FixedStepIndicators fixedStepIndicatorsOf(ModelInstanceData *record, int32_t nzpairs);

// The calling thread's window.
FixedStepWindow &threadFixedStepWindow();

// One evaluation at time t: learns h, keeps the history, predicts, and sets
// DUSER[1], the instance's fixedStepScaledSize and F[0 .. nF - 1] to the
// factor of the step that t lies in.  Z holds 2*indicators.pairs values.
void fixedStepEventsIn(FixedStepWindow &window, FixedStepIndicators indicators,
                       ModelInstanceData *instance, double t, int32_t initial, int32_t eventFlag,
                       const double *Z, double *F, int32_t nF, double *DUSER);

// The driver's call at the end of every completed call in fixed-step mode,
// with nF the state count when IUSER[0] is 1 and 0 otherwise (then only
// DUSER[1] carries the factor).  Uses the calling thread's window.
void fixedStepEvents(ModelInstanceData *instance, double t, int32_t initial, int32_t eventFlag,
                     const double *Z, int32_t nzpairs, double *F, int32_t nF, double *DUSER,
                     int32_t *IUSER);
