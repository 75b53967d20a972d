#pragma once
// Time and sample events, and the small model-level services that share
// their source: the memory argument, the resources query and the clock.
//
// Generated code announces a future time event by lowering DUSER[2] (the
// next time event); the driver raises it to 1e100 at the start of every
// event call and the model registers its candidates again while it is
// evaluated.  Candidates closer together than a tolerance become one event at
// the latest of them, so that one event covers them all.
//
// Every operator here that takes an instance registers into that instance's
// own DUSER and reads its own IUSER; only an instance without work arrays
// falls back to the pair of the kernel context (kernel.h).  Two instances
// therefore never steer each other's time events, and no instance writes
// into the arrays of another, which may already be freed.  Without any pair
// nothing is registered.
//
// Sample bookkeeping.  A sample's next tick moves only in event calls
// (eventFlag set): outside events the operators work on the working value
// sampleLastTick alone, so a tick that a plain evaluation already reaches is
// still seen by the event call at that time; in an event call the working
// value is committed at once, so the later passes of the same event find the
// tick taken and an integer that changed is not reported again.  The next
// tick is found in a bounded number of steps however many ticks lie between
// the stored one and the current time.
//
// The functions generated model code calls have C linkage and may raise a
// model error (runtime_messages.h).

#include <cstdint>

#include "source/operators.h"

struct ModelInstanceData;

// One sample's bookkeeping in an instance record.  Tick n of a sample lies at
// start + (n - 1)*interval.
struct SampleBookkeeping {
  double sampleNextTick;     // number of the next tick; 0: not yet set
  double sampleLastTick;     // working tick number of the current evaluation
  int32_t sampleInitialized; // the model's sample check has set the tick
  int32_t sampleActive;      // evaluated in this event; cleared at event calls
};

// The samples of one instance record.
struct SampleTable {
  SampleBookkeeping *entries; // count entries, null when count is 0
  int32_t count;
};

// The sample table of a record.  The vessel model's record holds no samples,
// so its table is empty: a model with samples keeps them in its record and
// answers them here.
SampleTable sampleTableOf(ModelInstanceData *record);

// sampleActive := 0 for every sample of the table.
void clearSampleActivity(SampleTable table);

// The clock callback: answers runtimeClock for the same arguments when set.
using RuntimeClockCallback = double (*)(double *start, int32_t elapsed);
// Installs the process-wide clock callback (null removes it); returns the
// previous one.  Nothing in the unit installs one.
RuntimeClockCallback setRuntimeClockCallback(RuntimeClockCallback callback);

// The sample operators on an explicit table (the C entries below use the
// record's own table).  An index outside the table is a model error.
int32_t sampleIn(SampleTable table, ModelInstanceData *instance, double t, double start,
                 double interval, int32_t index, int32_t mode, int32_t evaluate);
int32_t sampleSubIn(SampleTable table, ModelInstanceData *instance, double t, double start,
                    double interval, int32_t shift, int32_t factor, int32_t index, int32_t mode,
                    int32_t evaluate);
int32_t sampleModelIn(SampleTable table, ModelInstanceData *instance, double t, double start,
                      double interval, int32_t index, int32_t mode, int32_t evaluate);
double integerTimeEventIn(SampleTable table, int32_t divide, double a, ModelInstanceData *instance,
                          double time, int32_t *changed, int32_t *eventOccurred, int32_t index,
                          int32_t logOn);

extern "C" {

// Offers t as a time event to duser (DUSER[2] next event, DUSER[3] time
// scale, DUSER[5] earliest candidate); nothing for a null duser.
void registerTimeEvent(double t, double *duser);
// registerTimeEvent into the DUSER of the instance bound to the calling
// thread (defaultInstanceData when none is bound).
void registerTimeEventCurrent(double t);

// ceil((t - start)/interval) + 1: the number of the first tick at or after t.
double sampleTickCount(double t, double start, double interval);

// 1 when a tick of the clock (start, interval) is reached in the first pass
// of an event iteration, else 0.  mode 0 sets the tick at the first
// evaluation, 1 sets it anew, 2 returns 0.  A non-positive interval is a
// model error.
int32_t sample(ModelInstanceData *instance, double t, double start, double interval, int32_t index,
               int32_t mode, int32_t evaluate);
// As sample, but true only on every factor-th base tick, shifted by shift;
// mode 2 skips the tick set-up but evaluates.
int32_t sampleSub(ModelInstanceData *instance, double t, double start, double interval,
                  int32_t shift, int32_t factor, int32_t index, int32_t mode, int32_t evaluate);
// The generated model's own sample check: first use is told by
// sampleInitialized; no mode 2.
int32_t sampleModel(ModelInstanceData *instance, double t, double start, double interval,
                    int32_t index, int32_t mode, int32_t evaluate);

// The relation time >= t0 into *state (0 false, 1 true), with the tolerance
// (|time| + scale)*4e-14, but at most 2^-32 of the larger of |time| and |t0|
// (a far scale does not make a time event near zero true before it is
// reached); while false, t0 is registered into duser.  Returns
// 0; nothing when changed or state is null.  The second argument is unused.
int32_t timeEvent(double t0, int32_t ignored, double *duser, double time, double scale,
                  int32_t *changed, int32_t *eventOccurred, int32_t logOn, int32_t markChanged,
                  int32_t *state);

// The integer part of time/a (divide not 0) or time*a, with a time event at
// its next change.  The stored value of sample index is the integer r
// encoded as r + 1 for r >= 0 and r for negative r (0: not yet set).
double integerTimeEvent(int32_t divide, double a, ModelInstanceData *instance, double time,
                        int32_t *changed, int32_t *eventOccurred, int32_t index, int32_t logOn);

// memory[0]; a memory argument of sizes 1 and 1 (or none) is a model error.
double getMemory(double *memory, int32_t firstSize, int32_t secondSize);
// memory[0] := value when store is not 0; returns 0.  A memory argument of
// sizes 1 and 1 (or none) is a model error.
double putMemory(int32_t store, double *memory, int32_t firstSize, int32_t secondSize,
                 double value);

// The resources folder without an instance (modulepath.h).
const char *getModelResourcePath();

// elapsed 0: the clock value in milliseconds (also stored into *start when
// given); otherwise the seconds since *start (since 0 for a null start).
// The clock callback answers instead when one is installed.
double runtimeClock(double *start, int32_t elapsed);
// The first call in the process starts the clock and returns its raw value;
// later calls return the seconds since then.
double elapsedSinceFirstCall();

} // extern "C"
