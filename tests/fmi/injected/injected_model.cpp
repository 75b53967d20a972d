// Injected model code for the test build of the unit: runtime calls as
// generated model code makes them, run before the vessel's equations.
#include "tests/fmi/injected/injected_model.h"

#include <atomic>

#include "source/ModelicaUtilities.h"
#include "source/dsblock5/model_interface.h"
#include "source/runtime.h"
#include "source/runtime_messages.h"

void vesselEquations_(int32_t *request, int32_t *computedLevel, double *time, double *X,
                      void *reserved, double *U, double *DP, int32_t *IP, int32_t *LP, double *F,
                      double *Y, double *W, double *Z, double *DUSER, int32_t *IUSER,
                      char **strings, ModelInstanceData *instance, int32_t *QiErr);

namespace {

std::atomic<int> injectedKind{kInjectNothing};
std::atomic<double> injectedFrom{0.0};

void runInjected(int kind, ModelInstanceData *d) {
  switch (kind) {
  case kInjectRealsThenError:
    (void)allocRealbuffer(1000);
    ModelicaError("injected failure");
  case kInjectStringThenError:
    (void)ModelicaAllocateString(2000);
    ModelicaError("injected failure");
  case kInjectError:
    ModelicaError("injected failure");
  case kInjectFortyMessages:
    for (int i = 0; i < 40; ++i) ModelicaFormatMessage("message %02d of 40.\n", i);
    return;
  case kInjectWarningThenErrorInFrame: {
    ThreadContext *context = getThreadContext();
    FunctionStackEntry frame{"injectedFunction", context->functionStack};
    context->functionStack = &frame;
    runtimeAssertLevel(0, "injected warning condition", "injected warning", 1, nullptr);
    ModelicaError("injected failure in a frame");
  }
  case kInjectEndlessPasses:
    d->needPass = 1;
    return;
  case kInjectTerminate:
    terminateModel("injected end of the run");
    return;
  default:
    return;
  }
}

} // namespace

extern "C" __attribute__((visibility("default"))) void injectModelCode(int kind, double fromTime) {
  injectedFrom.store(fromTime);
  injectedKind.store(kind);
}

void dsequations_(int32_t *request, int32_t *computedLevel, double *time, double *X, void *reserved,
                  double *U, double *DP, int32_t *IP, int32_t *LP, double *F, double *Y, double *W,
                  double *Z, double *DUSER, int32_t *IUSER, char **strings, ModelInstanceData *d,
                  int32_t *QiErr) {
  if (*time >= injectedFrom.load()) runInjected(injectedKind.load(), d);
  vesselEquations_(request, computedLevel, time, X, reserved, U, DP, IP, LP, F, Y, W, Z, DUSER,
                   IUSER, strings, d, QiErr);
}
