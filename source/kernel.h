#pragma once
// Kernel context and the kernel's own text output.
//
// KernelContext is the process-wide record of the simulation kernel: where
// its text goes (two streams, a callback, a line prefix, a suppress flag) and
// the DUSER / IUSER work arrays of the most recently instantiated instance,
// which error reports, sample events and time events consult.  Every accessor
// resolves the context at each call: currentKernelContext when set, otherwise
// defaultKernelContext.  Nothing in the unit sets the streams or the
// callback, so text of a non-zero type goes nowhere, while text of type 0
// printed by the fixed-length functions reaches the host through logText.
// The context is unsynchronised.

#include <cstdio>

// Receives all kernel text when set; type 0 message, 1 warning, 2 error.
using KernelMessageCallback = int (*)(int type, const char *text);

struct KernelContext {
  std::FILE *outputStream;               // text of type 0 and of types other than 1, 2
  std::FILE *errorStream;                // text of types 1 and 2
  const char *nameText;                  // a second name text; nothing reads it
  const char *messageSource;             // printed in warning and error headers and line prefixes
  int prefixLines;                       // non-zero: each line starts with messageSource " | "
  int suppressOutput;                    // non-zero: nothing is written to the streams
  double *DUSER;                         // DUSER of the last instantiated instance
  int *IUSER;                            // IUSER of the last instantiated instance
  KernelMessageCallback messageCallback; // when set, receives all kernel text
};

extern KernelContext defaultKernelContext;
extern KernelContext *currentKernelContext;
// currentKernelContext when set, else &defaultKernelContext.
KernelContext *getKernelContext();

// ---- work arrays -----------------------------------------------------------

double *getDUSER();
int *getIUSER();
// Called for every new instance right after its DUSER and IUSER exist.
void setUserArrays(double *duser, int *iuser);
// Called when an instance is freed: when the context still holds exactly this
// pair, both pointers become null (so nothing reads freed arrays; a report
// then prints unconditionally).  Another instance's pair is left alone.
void releaseUserArrays(const double *duser, const int *iuser);

// ---- writers ---------------------------------------------------------------

// The kernel writer: the callback's result when a callback is set, else 0.
int kernelWrite(int type, const char *text);
// Header for types 1 and 2, the text, and "\n" for a non-zero type.
void kernelMessage(int type, const char *text);
// At most min(length, 998) characters of text (a negative length counts as
// 0), a line feed after those positions, then kernelMessage(*type, ...).
void kernelMessageFixed(const int *type, const char *text, int length);
// kernelMessageFixed with type 0; returns 0.
int kernelInfoFixed(const char *text, int length);

// ---- fixed-length printing -------------------------------------------------

// Copies at most min(dstSize - 2, srcLength) characters (stopping at a
// terminator), drops trailing blanks but keeps a first one, terminates dst;
// returns the length of the result.  dstSize must be at least 2.
int copyFixedString(const char *src, int srcLength, char *dst, int dstSize);
// Type 0 lines go through logText; other types through kernelWrite(type, line)
// and kernelWrite(type, "\n").
void kernelPrintText(int type, const char *text);
void kernelPrintFixed(int type, const char *text, int length);
void kernelPrintInt(int type, const char *text, const int *value, int length);
void kernelPrintReal(int type, const char *text, const double *value, int length);
// Trimmed text followed by " %d"; always through logText.
void logFixedInt(const char *text, const int *value, int length);
