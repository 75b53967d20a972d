// The recovery point of the error path (see error_path.h).
#include "source/error_path.h"

#include "source/runtime_messages.h"

ErrorRecoveryScope::ErrorRecoveryScope() : ErrorRecoveryScope(getThreadContext()) {}

void ErrorRecoveryScope::recover() {
  if (context_ != nullptr) context_->functionStack = stackAtEntry_;
}

bool errorRecoveryArmed() {
  ThreadContext *context = findThreadContext();
  return context != nullptr && context->errorJump != nullptr;
}

void unwindToRecoveryPoint(int level) {
  if (int *status = getStatusPointer()) *status = 1;
  throw ModelErrorSignal(level);
}
