// Internal result generation: an instance writes its own simulation result
// into a trajectory file (matrix files, MAT version 4) in the current folder.
//
// Nothing in the unit sets `resultGenerationOn`, so in normal use none of
// this runs and no file is written; the FMI functions call the entries below
// at fixed places, and every entry does nothing unless the switch is on (and
// set-up succeeded).
//
// Sample points (time, p, x, xdot, y, u, w) are kept in a ring of up to 384
// points in host memory and written in blocks, so that points a host makes
// invalid by restoring an earlier FMU state can still be discarded.  Points
// are written in time order; a point at or before the last written one is
// dropped with a warning.
//
// Failures never end the process and never write to the standard streams:
// a failed set-up switches result generation off with a warning; a full ring
// whose extension fails keeps the points it has as its ring; a file that
// cannot be written further is reported once and then closed as it is.
//
// Memory: the record, the point records and their value arrays come from the
// host's allocateMemory; the trajectory and its matrices from the standard
// heap (the matrix files release them).  Threads: one instance at a time, as
// every FMI call; the counter that numbers file names is atomic.
//
// The records of result generation and its trajectory writer, which only
// fmi/fmiResult.cpp and its tests use, are in fmi/fmiResultWriter.h.
#pragma once

#include <cstdint>

#include "fmi/fmi2.h"

struct fmiInstance;

// ---- entries called by the FMI functions ---------------------------------------------
// Each does nothing unless resultGenerationOn is 1 and the record exists,
// except fmiResultSetup (called when the switch is on) and fmiResultFinish
// (whenever a record exists).

// Sets up result generation at the end of initialization: the record, the
// ring, the file name, the file with its header, and the first point.  A
// failure switches it off with "Failed to setup result generation, skipping it".
void fmiResultSetup(fmiInstance *instance);
// Stores the point at the instance time: kind 1 always (events, mode
// changes), kind 0 when the sampling rule asks for it.
void fmiResultStore(fmiInstance *instance, int32_t kind);
// Writes every buffered point to the file.
void fmiResultFlush(fmiInstance *instance);
// Offers a final point, writes everything, closes the file and releases the
// record (resultGeneration := null, the output grid ends).
void fmiResultFinish(fmiInstance *instance);

// Co-Simulation: fmi2DoStep's noSetFMUStatePriorToCurrentPoint for the step
// that starts.
void fmiResultBeginStep(fmiInstance *instance, fmi2Boolean noSetFMUStatePriorToCurrentPoint);
// Co-Simulation: fmiResultStore, then fmiResultFlush when the running step
// said no earlier FMU state will be restored.
void fmiResultSample(fmiInstance *instance, int32_t kind);
// Co-Simulation: after the integrator reached target without a step event:
// a point of kind 0 when target is the next output time but not the next
// time event (fmiResultSample).
void fmiResultOutputPoint(fmiInstance *instance, double target);
// Model Exchange fmi2CompletedIntegratorStep: store kind 0, then flush when
// no earlier FMU state will be restored.
void fmiResultCompletedStep(fmiInstance *instance, fmi2Boolean noSetFMUStatePriorToCurrentPoint);
// After an FMU state was restored: buffered points later than the restored
// time are discarded and the output grid follows the restored next output time.
void fmiResultRestored(fmiInstance *instance);
