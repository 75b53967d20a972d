#pragma once
// The error path of model evaluation.
//
// A model error, failed assertion or external-function error (runtimeReport at
// an error level, runtime_messages.h) first sends its report lines, then sets
// the status word of the instance under evaluation to 1, then throws
// ModelErrorSignal.  The evaluation entry arms an ErrorRecoveryScope and runs
// the equations through it; the scope catches the signal, puts the thread's
// function-name stack back to its value at arming (so no entry points into a
// finished frame) and reports that the error path was taken.  Nothing else is
// reset here: the evaluation driver gives the evaluation memory of a failed
// evaluation back itself.
//
// Raised with no recovery point armed (for example while an FMU state is
// created outside any evaluation): the report is still formatted and logged
// and the status word set, and the signal still propagates up the C++ frames
// to the nearest catcher.  Callers outside an evaluation that can reach the
// error path run the call through ErrorRecoveryScope::run themselves and turn
// a false result into their own failure; every fmi2 export also ends in a
// catch-all that returns fmi2Error, so the signal never leaves the library.
//
// The signal is not derived from std::exception, so handlers for standard
// exceptions do not swallow it.

#include "source/matrixop.h"

#include <exception>
#include <utility>

// Thrown by the error path; carries the level of the report.
class ModelErrorSignal {
public:
  explicit ModelErrorSignal(int level) : level_(level) {}
  int level() const { return level_; }

private:
  int level_;
};

// The recovery point of the calling thread while it lives.  Constructing it
// arms it (the thread's previous recovery point is kept); destroying it
// restores the previous one.  Scopes nest.
class ErrorRecoveryScope {
public:
  ErrorRecoveryScope();
  // The same for a caller that holds the calling thread's record already
  // (null when the thread has none: the scope then arms nothing).  Inline:
  // the driver arms one at every evaluation.
  explicit ErrorRecoveryScope(ThreadContext *context)
      : context_(context), previous_(nullptr), stackAtEntry_(nullptr) {
    if (context_ != nullptr) {
      previous_ = context_->errorJump;
      stackAtEntry_ = context_->functionStack;
      context_->errorJump = this;
    }
  }
  ~ErrorRecoveryScope() {
    if (context_ != nullptr) context_->errorJump = previous_;
  }
  ErrorRecoveryScope(const ErrorRecoveryScope &) = delete;
  ErrorRecoveryScope &operator=(const ErrorRecoveryScope &) = delete;

  // Runs body(); returns true when it completed, false when the error path
  // unwound out of it (the function-name stack is then back at its value at
  // arming).  Other exceptions pass through.
  template <class Body> [[nodiscard]] bool run(Body &&body) {
    try {
      std::forward<Body>(body)();
      return true;
    } catch (const ModelErrorSignal &) {
      recover();
      return false;
    }
  }

  // For callers that catch ModelErrorSignal themselves: puts the function-name
  // stack back to its value at arming.
  void recover();

  // The function-name stack at arming.
  FunctionStackEntry *stackAtEntry() const { return stackAtEntry_; }

private:
  ThreadContext *context_;
  ErrorRecoveryScope *previous_;
  FunctionStackEntry *stackAtEntry_;
};

// True while the calling thread has an armed recovery point.
bool errorRecoveryArmed();

// The error path's final step: sets the status word, then throws.  Used by
// runtimeReport; exposed for the few callers that report by other means.
[[noreturn]] void unwindToRecoveryPoint(int level);
