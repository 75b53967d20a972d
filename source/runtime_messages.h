#pragma once
// Runtime messages, assertions and model errors.
//
// Every text of the runtime goes through one process-wide message hook
// (setRuntimeMessageHook); the FMI layer installs its fmiRuntimeMessage there,
// tests install a capturing hook.  Without a hook the text is dropped.
// Levels: 0 message, 1 warning, any other value error.  Emit 1 logs at once,
// emit 0 appends to the pending text of the instance under evaluation.
//
// Numbers in these texts are formatted in the "C" locale whatever locale the
// host has set (clocale_io.h), and every text is formatted into a bounded
// buffer.
//
// An error (runtimeReport at a level other than 1) reports its lines, sets the
// status word of the instance under evaluation to 1 and never returns: it
// unwinds to the calling thread's recovery point (error_path.h).

#include <cstdarg>

// ---- message hook ----------------------------------------------------------

using RuntimeMessageFn = void (*)(const char *text, int emit, int level);
// The same hook with a result that no caller uses.
using RuntimeMessageIntFn = int (*)(const char *text, int emit, int level);

// Installs the process-wide hook (null removes it); returns the previous one
// when it was installed as a RuntimeMessageFn, else null.
RuntimeMessageFn setRuntimeMessageHook(RuntimeMessageFn hook);
void setRuntimeMessageHook(RuntimeMessageIntFn hook);
void setRuntimeMessageHook(decltype(nullptr));

// ---- log lines -------------------------------------------------------------

void logText(const char *text);                 // emit 1, level 0
void logTextLevel(int level, const char *text); // emit 1
void appendPendingText(const char *text);       // emit 0, level 0
void logTextValue(const char *text, double value);
// "%.160s %.16G"
void logTextValueLevel(int level, const char *text, double value);
// logTextValue; returns 0 for use inside expressions.
int logTextValueZero(const char *text, double value);
// "%.160s %i"
void logTextInt(const char *text, int value);
// "  %.160s[%i, %i] = %G"
void logMatrixElement(const char *name, int row, int column, double value);
// name = {v1, v2, ...} on one line of at most 1999 characters.
void logVector(const char *name, const double *values, int n);
// Column-major values, element (i, j) at (i-1) + leadingDimension*(j-1).
void logMatrix(const char *name, const double *values, int rows, int columns, int leadingDimension);
// *count += 1, then row *count of the column-major matrix := source (padded
// with zeros beyond sourceCount).
void appendMatrixRow(double *matrix, int leadingDimension, int n, int *count, const double *source,
                     int sourceCount);

// ---- reports, errors, assertions -------------------------------------------

// Level 1: reports the warning and returns 0.  Any other level: reports the
// error, sets the status word to 1 and unwinds; never returns.  Bit 0x400 of
// the option word (IUSER[1] of the kernel context) suppresses the printing.
double runtimeReport(const char *text, int level);
// runtimeReport(text, 2).
[[noreturn]] double raiseModelError(const char *text);
// When ok is 0: "  %.400s\n  Failed condition: %.400s" as a model error.
void runtimeAssert(int ok, const char *condition, const char *message);
// Level 1 reports a warning (once per *onceFlag when given); other levels
// raise the model error.
void runtimeAssertLevel(int ok, const char *condition, const char *message, int level,
                        int *onceFlag);
[[noreturn]] double modelDivisionError(const char *numeratorText, double numerator,
                                       const char *denominatorText, double denominator);
[[noreturn]] double modelReciprocalError(const char *denominatorText, double denominator);
[[noreturn]] double modelFunctionError(const char *argumentText, double argument,
                                       const char *functionName);
