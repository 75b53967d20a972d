// The evaluation driver: the one entry through which the model's equations
// are evaluated, with its event iteration, homotopy fallback, re-entrance
// guard and error recovery.  The operators that generated code calls and the
// accessors of the instance under evaluation are in runcontrol.h.
#pragma once

#include <cstdint>

#include "model/ModelInstanceData.h"

// QiErr codes of the driver.
inline constexpr int32_t kQiErrOk = 0;
inline constexpr int32_t kQiErrError = 1;
inline constexpr int32_t kQiErrDelayAllocation = -500;
inline constexpr int32_t kQiErrHomotopyStep = -996;
inline constexpr int32_t kQiErrHomotopyStart = -997;
inline constexpr int32_t kQiErrRunControl = -998;
inline constexpr int32_t kQiErrTerminated = -999;

// The codes that count as success: 0 and -995 to -990.
constexpr bool qiErrIsSuccess(int32_t qiErr) {
  return qiErr == kQiErrOk || (qiErr >= -995 && qiErr <= -990);
}

// Request codes.
inline constexpr int32_t kRequestInitial = 0;
inline constexpr int32_t kRequestOutputs = 1;
inline constexpr int32_t kRequestDerivatives = 2;
inline constexpr int32_t kRequestAuxiliaries = 3;
inline constexpr int32_t kRequestEverything = 4;
inline constexpr int32_t kRequestEvent = 5;
inline constexpr int32_t kRequestTerminal = 7;

// Evaluates the equations of `instance` (not null) for *request.  The
// outcome is in *QiErr; the function always returns 0.  The arrays belong
// to the caller.  The calling thread's instance binding is the same after
// the call as before it.
int dsblockInstance_(int32_t *request, int32_t *computedLevel, double *time, double *X,
                     void *reserved, double *U, double *DP, int32_t *IP, int32_t *LP, double *F,
                     double *Y, double *W, double *Z, double *DUSER, int32_t *IUSER, char **strings,
                     ModelInstanceData *instance, int32_t *QiErr);

// dsblockInstance_ for a caller that holds the calling thread's record
// already (context: what getThreadContext gives the thread, null when it has
// none): the same evaluation without looking the record up again.
struct ThreadContext;
int dsblockInstanceIn(ThreadContext *context, int32_t *request, int32_t *computedLevel,
                      double *time, double *X, void *reserved, double *U, double *DP, int32_t *IP,
                      int32_t *LP, double *F, double *Y, double *W, double *Z, double *DUSER,
                      int32_t *IUSER, char **strings, ModelInstanceData *instance, int32_t *QiErr);

// dsblockInstance_ on defaultInstanceData.
int dsblock_(int32_t *request, int32_t *computedLevel, double *time, double *X, void *reserved,
             double *U, double *DP, int32_t *IP, int32_t *LP, double *F, double *Y, double *W,
             double *Z, double *DUSER, int32_t *IUSER, char **strings, int32_t *QiErr);

// Process-wide copies of the first eleven model counts, written once, by the
// first initial call in the process (numExtra1 and numExtra2 stay 0).
extern ModelDimensions kernelDimensions;
