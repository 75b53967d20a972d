#pragma once
// A small sampled model, linked into the event tests in place of the
// generated model.  Each instance has a periodic clock (sample index 0) and
// an integer part of time/quarter that changes at time events (sample index
// 1, reported through relationChanged), so that the driver runs its event
// iteration over both.  The equations record every sample event and every
// change of the integer part seen in an event call.
//
// The instance record is a ModelInstanceData followed by the model's own
// sample bookkeeping, as a generated record with samples carries them; the
// driver is handed the address of its first member.
#include <cstdint>
#include <memory>
#include <vector>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/events.h"

inline constexpr int kSampledModelTicks = 64;

struct SampledInstance {
  ModelInstanceData data;       // the record the driver evaluates
  SampleBookkeeping samples[2]; // [0] the clock, [1] the integer part

  // Model parameters.
  double start;    // first tick
  double interval; // clock period
  double quarter;  // divisor of the integer part
  double slope;    // state derivative before any scaling

  // What the equations saw in event calls.
  int32_t ticks;                        // sample events
  double tickTimes[kSampledModelTicks]; // their times (the first ones)
  int32_t integerChanges;               // changes of the integer part
  double integerPart;                   // the integer part at the last call

  // The instance's arrays as the FMI layer keeps them.
  double DUSER[kDuserSize];
  int32_t IUSER[kIuserSize];
  double time;
  double X[1];
  double F[1];
  double Y[2];
  double W[2];
  double Z[2];
  int32_t computedLevel;

  // The record owns its delay rings from the initial call on.
  ~SampledInstance() { resetInstanceData(&data); }
};

// A fresh instance: the record from the template, its own work arrays
// (DUSER as dssettings_ leaves it), the given clock.
std::unique_ptr<SampledInstance> makeSampledInstance(double start, double interval, double quarter);

// One call of dsblockInstance_ for the instance at time t; returns QiErr.
int32_t evaluateSampled(SampledInstance &m, int32_t request, double t);

// Event calls at every next time event the instance registers, up to tEnd;
// the event times in order.  Stops at the first call that fails.
std::vector<double> continueSampledEvents(SampledInstance &m, double tEnd);

// The initial call at t0 followed by continueSampledEvents; t0 first.
std::vector<double> runSampledEvents(SampledInstance &m, double t0, double tEnd);
