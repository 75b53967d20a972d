// Time and sample events, the memory argument, the resources query and the
// runtime clock.
#include "source/dsblock5/events.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "model/ModelInstanceData.h"
#include "source/clocale/clocale_io.h"
#include "source/dsblock5/modulepath.h"
#include "source/dsblock5/runcontrol.h"
#include "source/kernel.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"

namespace {

// Relative tolerances: candidates of one time event (6 units of the last
// place of 1.0, scaled by |t| + DUSER[3]), ticks of a sample (scaled by |t|
// + |start| of the sample), and the time relation (whose scale the caller
// gives).
constexpr double kRegisterTolerance = 1.3322676295501878e-15;
static_assert(kRegisterTolerance == 6.0 * std::numeric_limits<double>::epsilon());
constexpr double kSampleTolerance = 5e-14;
constexpr double kRelationTolerance = 4e-14;

// The time scale is the largest start of any clock, so it may lie far above
// the times of events near zero.  It widens the tolerance of a candidate (and
// of the time relation) by at most 2^-32 of the candidate itself (about 2^20 units in its last
// place): events that lie microseconds apart near zero stay apart, however
// far away some clock starts.
constexpr double kRegisterReach = 0x1p-32;

// DUSER[2] at or above this value means that no time event is pending.
constexpr double kNoTimeEvent = 1e30;

// Corrections applied to the estimated tick number; the estimate is off by
// one or two at most for any finite time and interval.
constexpr int kTickCorrections = 64;

constexpr const char *kIntervalMessage = "Sample did not have positive sample interval";

ModelInstanceData *orDefault(ModelInstanceData *instance) {
  return instance != nullptr ? instance : getUnboundInstanceData();
}

// The instance's IUSER, or the kernel context's when it has none (may be
// null).
int32_t *instanceIUSER(const ModelInstanceData *d) {
  return d->iuser != nullptr ? d->iuser : getIUSER();
}

// The bookkeeping of sample index; an index outside the table is a model
// error.
SampleBookkeeping &entryAt(SampleTable table, int32_t index) {
  if (index < 0 || index >= table.count || table.entries == nullptr) {
    char text[200];
    snprintfC(text, sizeof text, "Sample index %d is not one of the %d samples of the model.",
              static_cast<int>(index), static_cast<int>(table.count));
    raiseModelError(text);
  }
  return table.entries[index];
}

// Time of tick n.
double tickTime(double n, double start, double interval) { return (n - 1.0) * interval + start; }

// The neighbouring tick numbers; beyond 2^53 the next representable value.
double tickAfter(double n) {
  const double up = n + 1.0;
  return up > n ? up : std::nextafter(n, std::numeric_limits<double>::infinity());
}
double tickBefore(double n) {
  const double down = n - 1.0;
  return down < n ? down : std::nextafter(n, -std::numeric_limits<double>::infinity());
}

// The smallest tick number n >= from whose time lies beyond limit: the
// number a count-up from `from` stops at.  Tick times grow with n for a
// positive interval, so the number is estimated from the time and then
// corrected, instead of counting every tick that was passed.
double firstTickBeyond(double from, double limit, double start, double interval) {
  if (!(tickTime(from, start, interval) <= limit)) return from;
  double n = std::floor((limit - start) / interval) + 2.0;
  if (!(n > from)) n = tickAfter(from);
  for (int k = 0; k < kTickCorrections && tickBefore(n) > from &&
                  tickTime(tickBefore(n), start, interval) > limit;
       ++k)
    n = tickBefore(n);
  for (int k = 0; k < kTickCorrections && tickTime(n, start, interval) <= limit; ++k)
    n = tickAfter(n);
  return n;
}

// How far beyond t a tick still counts as reached: the rounding that the
// tick times (start + (n - 1)*interval) and t carry, which grows with |t| and
// with the clock's own start.  Other clocks do not widen it: a clock that
// starts far away has no part in the rounding of this one's ticks.  Where
// the time grid resolves the ticks (an interval of more than two units in
// the last place of the larger of |t| and |start|), the tolerance stays
// below half an interval, so that reaching one tick never passes the next;
// ticks closer than that fall onto the same few grid times and are passed
// together.
double sampleTolerance(double t, double start, double interval) {
  const double magnitude = std::fabs(t) + std::fabs(start);
  const double tol = magnitude * kSampleTolerance;
  const double larger = std::max(std::fabs(t), std::fabs(start));
  const double spacing = std::nextafter(larger, std::numeric_limits<double>::infinity()) - larger;
  if (interval > 2.0 * spacing) return std::min(tol, 0.5 * interval);
  return tol;
}

// The tick set-up: the time scale grows to |start|, and the next tick becomes
// the first one at or after max(t, start) (with mode 0 only when it lies
// further on).
void setUpTick(SampleBookkeeping &s, double *D, double t, double start, double interval,
               int32_t mode) {
  if (D != nullptr) D[kDuserTimeScale] = std::max(D[kDuserTimeScale], std::fabs(start));
  const double n = sampleTickCount(std::max(t, start), start, interval);
  if (mode != 0 || n > s.sampleNextTick) s.sampleNextTick = n;
}

// Moves the working tick past t (within the sample tolerance) and commits it
// in an event call.  True when a tick was reached.
bool reachTicks(SampleBookkeeping &s, const ModelInstanceData *d, double t, double start,
                double interval) {
  const double limit = t + sampleTolerance(t, start, interval);
  const bool reached = tickTime(s.sampleNextTick, start, interval) <= limit;
  s.sampleLastTick = firstTickBeyond(s.sampleNextTick, limit, start, interval);
  if (d->eventFlag != 0) s.sampleNextTick = s.sampleLastTick;
  return reached;
}

bool eventLoggingOn(const ModelInstanceData *d) {
  const int32_t *I = instanceIUSER(d);
  if (I == nullptr) return false;
  const int32_t options = I[kIuserOptions];
  return (d->initialCallPending == 0 && (options & kOptionLogEvents) != 0) ||
         (d->initialCallPending != 0 && (options & kOptionLogInitialEvents) != 0);
}

void logSampleEvent(const ModelInstanceData *d, double start, double interval, double t) {
  if (!eventLoggingOn(d)) return;
  char clockText[100];
  snprintfC(clockText, sizeof clockText, "sample(%g,%g)", start, interval);
  char text[120];
  snprintfC(text, sizeof text, "Sample event (%.60s) at time:", clockText);
  logTextValue(text, t);
}

// The end of an evaluated sample call: the clock is active, its next tick is
// registered as a time event at next, and the call is the clock's event
// (logged when event logging is on) when a tick was reached in the first
// iteration.
int32_t sampleResult(SampleBookkeeping &s, const ModelInstanceData *d, double *D, double t,
                     double start, double interval, bool reached, double next) {
  s.sampleActive = 1;
  registerTimeEvent(next, D);
  const int32_t result = reached && d->iteration == 1 ? 1 : 0;
  if (result != 0) logSampleEvent(d, start, interval, t);
  return result;
}

// The start of elapsedSinceFirstCall's clock; -infinity until the first call.
constexpr double kClockNotStarted = -std::numeric_limits<double>::infinity();
std::atomic<double> firstCallStart{kClockNotStarted};

std::atomic<RuntimeClockCallback> clockCallback{nullptr};

} // namespace

SampleTable sampleTableOf(ModelInstanceData *) { return SampleTable{nullptr, 0}; }

void clearSampleActivity(SampleTable table) {
  for (int32_t k = 0; k < table.count && table.entries != nullptr; ++k)
    table.entries[k].sampleActive = 0;
}

RuntimeClockCallback setRuntimeClockCallback(RuntimeClockCallback callback) {
  return clockCallback.exchange(callback);
}

int32_t sampleIn(SampleTable table, ModelInstanceData *instance, double t, double start,
                 double interval, int32_t index, int32_t mode, int32_t evaluate) {
  if (!(interval > 0.0)) raiseModelError(kIntervalMessage);
  ModelInstanceData *d = orDefault(instance);
  SampleBookkeeping &s = entryAt(table, index);
  double *D = getInstanceDUSER(d);
  if (mode != 0 || (evaluate != 0 && s.sampleNextTick == 0.0)) {
    if (mode == 2) return 0;
    setUpTick(s, D, t, start, interval, mode);
  }
  if (evaluate == 0) return 0;
  const bool reached = reachTicks(s, d, t, start, interval);
  return sampleResult(s, d, D, t, start, interval, reached,
                      tickTime(s.sampleLastTick, start, interval));
}

int32_t sampleSubIn(SampleTable table, ModelInstanceData *instance, double t, double start,
                    double interval, int32_t shift, int32_t factor, int32_t index, int32_t mode,
                    int32_t evaluate) {
  if (!(interval > 0.0) || factor <= 0) raiseModelError(kIntervalMessage);
  ModelInstanceData *d = orDefault(instance);
  SampleBookkeeping &s = entryAt(table, index);
  double *D = getInstanceDUSER(d);
  if (mode != 2 && (mode != 0 || (evaluate != 0 && s.sampleNextTick == 0.0)))
    setUpTick(s, D, t, start, interval, mode);
  if (evaluate == 0) return 0;
  bool reached = reachTicks(s, d, t, start, interval);
  // The base tick just passed has the zero-based number lastTick - 2; the
  // sub-sampled clock takes the base ticks g, g + factor, g + 2*factor, ...
  const double f = factor;
  const double g = f - static_cast<double>(shift) - 1.0;
  const double last = s.sampleLastTick;
  const double k = std::floor((0.1 + last - 2.0 - g) / f);
  reached = reached && f * k + g == last - 2.0 && k >= 0.0;
  return sampleResult(s, d, D, t, start, interval, reached, (f + f * k + g) * interval + start);
}

int32_t sampleModelIn(SampleTable table, ModelInstanceData *instance, double t, double start,
                      double interval, int32_t index, int32_t mode, int32_t evaluate) {
  // A clock that does not advance would never let its ticks be passed.
  if (!(interval > 0.0)) raiseModelError(kIntervalMessage);
  ModelInstanceData *d = orDefault(instance);
  SampleBookkeeping &s = entryAt(table, index);
  double *D = getInstanceDUSER(d);
  if (mode != 0 || (evaluate != 0 && s.sampleInitialized == 0)) {
    setUpTick(s, D, t, start, interval, mode);
    s.sampleInitialized = 1;
  }
  if (evaluate == 0) return 0;
  const bool reached = reachTicks(s, d, t, start, interval);
  return sampleResult(s, d, D, t, start, interval, reached,
                      tickTime(s.sampleLastTick, start, interval));
}

double integerTimeEventIn(SampleTable table, int32_t divide, double a, ModelInstanceData *instance,
                          double time, int32_t *changed, int32_t *eventOccurred, int32_t index,
                          int32_t logOn) {
  ModelInstanceData *d = orDefault(instance);
  SampleBookkeeping &s = entryAt(table, index);
  const double v = s.sampleNextTick;
  if (changed == nullptr) return 0.0;
  const double c = divide != 0 ? time / a : time * a;
  double r = v > 0.0 ? v - 1.0 : v;
  if (v == 0.0 || r > c || c >= r + 1.0) {
    if (eventOccurred != nullptr) *eventOccurred = 1;
    if (logOn != 0) logTextValue("Time event at time:", time);
    *changed = 1;
    r = std::floor(c);
    s.sampleLastTick = r >= 0.0 ? r + 1.0 : r;
    if (d->eventFlag != 0) s.sampleNextTick = s.sampleLastTick;
  }
  // The time at which the integer part next changes; moved just past it
  // when rounding would still give r there.
  const double m = a > 0.0 ? r + 1.0 : r;
  double next = divide != 0 ? m * a : m / a;
  if (std::floor(divide != 0 ? next / a : next * a) == r)
    next = std::nextafter(next, std::numeric_limits<double>::infinity()) +
           std::fabs(divide != 0 ? 1.0 / a : a) * 1e-20;
  registerTimeEvent(next, getInstanceDUSER(d));
  return r;
}

extern "C" {

void registerTimeEvent(double t, double *D) {
  if (D == nullptr) return;
  const double tol = std::min((std::fabs(t) + D[kDuserTimeScale]) * kRegisterTolerance,
                              std::fabs(t) * kRegisterReach);
  double &next = D[kDuserNextTimeEvent];
  double &earliest = D[kDuserEarliestCandidate];
  if (next >= kNoTimeEvent) earliest = next;
  if (t >= next + tol) return;
  if (earliest > t) {
    earliest = t;
    if (next > t + tol) next = t;
  } else if (t <= earliest + tol && t > next) {
    next = t;
  }
}

void registerTimeEventCurrent(double t) {
  ThreadContext *context = getThreadContext();
  ModelInstanceData *bound = context != nullptr ? context->currentInstance : nullptr;
  registerTimeEvent(t, getInstanceDUSER(orDefault(bound)));
}

double sampleTickCount(double t, double start, double interval) {
  return std::ceil((t - start) / interval) + 1.0;
}

int32_t sample(ModelInstanceData *instance, double t, double start, double interval, int32_t index,
               int32_t mode, int32_t evaluate) {
  return sampleIn(sampleTableOf(orDefault(instance)), instance, t, start, interval, index, mode,
                  evaluate);
}

int32_t sampleSub(ModelInstanceData *instance, double t, double start, double interval,
                  int32_t shift, int32_t factor, int32_t index, int32_t mode, int32_t evaluate) {
  return sampleSubIn(sampleTableOf(orDefault(instance)), instance, t, start, interval, shift,
                     factor, index, mode, evaluate);
}

int32_t sampleModel(ModelInstanceData *instance, double t, double start, double interval,
                    int32_t index, int32_t mode, int32_t evaluate) {
  return sampleModelIn(sampleTableOf(orDefault(instance)), instance, t, start, interval, index,
                       mode, evaluate);
}

int32_t timeEvent(double t0, int32_t, double *duser, double time, double scale, int32_t *changed,
                  int32_t *eventOccurred, int32_t logOn, int32_t markChanged, int32_t *state) {
  if (changed == nullptr || state == nullptr) return 0;
  // The scale widens the tolerance by at most 2^-32 of the times compared,
  // as in the registration: a far time scale must not make time >= 1e-6 true
  // at time 0, nor two relations that the time grid tells apart true together.
  const double tol = std::min((std::fabs(time) + scale) * kRelationTolerance,
                              std::max(std::fabs(time), std::fabs(t0)) * kRegisterReach);
  if (time < t0 - tol) {
    registerTimeEvent(t0, duser);
    if (*state == 1) {
      if (eventOccurred != nullptr) *eventOccurred = 1;
      *state = 0;
      if (markChanged != 0) *changed = 1;
    }
  } else if (*state == 0) {
    if (eventOccurred != nullptr) *eventOccurred = 1;
    *state = 1;
    if (logOn != 0) logTextValue("Time event at time:", time);
    if (markChanged != 0) *changed = 1;
  }
  return 0;
}

double integerTimeEvent(int32_t divide, double a, ModelInstanceData *instance, double time,
                        int32_t *changed, int32_t *eventOccurred, int32_t index, int32_t logOn) {
  return integerTimeEventIn(sampleTableOf(orDefault(instance)), divide, a, instance, time, changed,
                            eventOccurred, index, logOn);
}

double getMemory(double *memory, int32_t firstSize, int32_t secondSize) {
  if ((firstSize == 1 && secondSize == 1) || memory == nullptr)
    raiseModelError("Memory argument to getMemory must be a vector.");
  return memory[0];
}

double putMemory(int32_t store, double *memory, int32_t firstSize, int32_t secondSize,
                 double value) {
  if ((firstSize == 1 && secondSize == 1) || memory == nullptr)
    raiseModelError("Memory argument to putMemory must be a vector.");
  if (store != 0) memory[0] = value;
  return 0.0;
}

const char *getModelResourcePath() { return getResourcePath(nullptr); }

double runtimeClock(double *start, int32_t elapsed) {
  if (RuntimeClockCallback callback = clockCallback.load()) return callback(start, elapsed);
  const double now = clockValue();
  if (elapsed == 0) {
    if (start != nullptr) *start = now;
    return now;
  }
  return (now - (start != nullptr ? *start : 0.0)) * 0.001;
}

double elapsedSinceFirstCall() {
  double start = firstCallStart.load();
  if (start == kClockNotStarted) {
    double own = 0.0;
    const double value = runtimeClock(&own, 0);
    if (firstCallStart.compare_exchange_strong(start, own)) return value;
    // Another thread started the clock first: start now holds its value.
  }
  return runtimeClock(&start, 1);
}

} // extern "C"
