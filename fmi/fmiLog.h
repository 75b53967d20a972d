// Messages of the FMI layer to the host's logger, and the layer's record of
// the calling thread (fmi/fmiLog.cpp).
#pragma once

#include "fmi/fmi2.h"
#include "fmi/fmiInstance.h"

struct ThreadContext;

// ---- Messages to the host logger --------------------------------------------
// Every message of the layer goes through fmiLog with category "" and a status;
// messages of status fmi2OK are dropped while loggingOn is 0.  The logger
// receives the pending text followed by the formatted text (at most 1022
// characters together) with every '%' doubled, and no further arguments.
//
// Whether a message of status reaches the host at all.  fmiLog asks first;
// the traces of calls a host makes at every step ask before they call it, so
// that a message the host did not ask for costs no call and no formatting.
inline bool fmiLogDelivers(const fmiInstance *instance, fmi2Status status) {
  return status != fmi2OK || instance->loggingOn != 0;
}
void fmiLog(fmiInstance *instance, fmi2String instanceName, fmi2Status status, fmi2String category,
            const char *format, ...) __attribute__((format(printf, 5, 6)));
// Appends formatted text to the instance's pending text.  When it does not
// fit, the pending text is delivered first as a message of its own (at
// status), and a text longer than the whole area is delivered on its own, so
// nothing is lost and the order stays.
void fmiAppendPending(fmiInstance *instance, fmi2String instanceName, fmi2Status status,
                      fmi2String category, const char *format, ...)
    __attribute__((format(printf, 5, 6)));
// The runtime's message hook: '#' doubled, level 0/1/other -> OK/Warning/Error,
// delivered for the instance under evaluation on the calling thread, dropped
// when there is none.
void fmiRuntimeMessage(const char *text, int emit, int level);

// ---- The calling thread ---------------------------------------------------------
// The export whose body runs on a thread: its instance and its name.
struct fmiCall {
  fmiInstance *instance;
  const char *name;
};

// The layer's record of the calling thread.  The guards of fmi/fmiGuarded.h
// look it up once per export, set its call and leave it in the export's
// instance (`thread`) while the body runs; the evaluations of the call reach
// it there, and through it the runtime's record of the thread, which is
// looked up at the first evaluation and kept until the export ends.  Each
// export puts back what it found, so nothing of a call outlives it, and a
// record is only ever reached from its own thread.
struct fmiThreadState {
  fmiCall call;            // the export under way; both null outside one
  fmiInstance *evaluating; // the instance whose evaluation runs; null outside one
  ThreadContext *runtime;  // the runtime's record during an export, once looked up; else null
};

// The calling thread's layer record (never null).
fmiThreadState *fmiThisThread();
// The record for work on instance: the one its export left in it, or else
// the calling thread's looked up.
inline fmiThreadState *fmiThreadOf(const fmiInstance *instance) {
  return instance->thread != nullptr ? instance->thread : fmiThisThread();
}
// The runtime's record of the thread of state (null when it cannot be had):
// looked up once per export, then kept in state until the export ends.
ThreadContext *fmiRuntimeRecord(fmiThreadState *state);
// The instance whose evaluation runs on the calling thread (null outside).
fmiInstance *fmiGetEvaluatingInstance();
void fmiSetEvaluatingInstance(fmiInstance *instance);

// Text of a library inside the unit (the serializer, the integrator) that
// has no instance of its own to report to: "<name>: <text>" to the logger of
// the export under way on the calling thread, dropped outside one.  Trailing
// line feeds of text are left out.
void fmiReportToCaller(fmi2Status status, const char *text);

// Installs, once per process, the hooks through which the serializer's and
// the integrator's reports reach the host's logger (fmiReportToCaller)
// instead of the process's standard output and error streams.
void fmiInstallReportHooks();

// A message through the host's callback record when there is no instance
// (fmi2Instantiate refusing its arguments); nothing when the record or its
// logger is null.
void fmiLogWithoutInstance(const fmi2CallbackFunctions *functions, fmi2String instanceName,
                           fmi2Status status, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
