// The generated vessel model: a liquid level that rises with the input
// inputRate and falls by outflow through a hole,
//   der(level) = (inputRate - holeSurface*sqrt(19.62*level)) / vornSurface.
//
// dsequations_ is one function for every purpose: a sequence of sections,
// each guarded by a test on the instance's event and demand state, serves
// the initial call, event passes and the demand levels 1 (outputs),
// 2 (derivatives) and 3 (auxiliaries).  Each test's result is kept in
// sectionFlag before its section runs, as generated code does.
#include "model/model.h"

#include <climits>
#include <cmath>

#include "source/runtime.h"

namespace {

// sqrt(e) only for e >= 0; a negative or NaN argument is a model error.
double guardedSqrt(double e, const char *text) {
  if (!(e >= 0.0)) {
    modelFunctionError(text, e, "sqrt");
    return 0.0;
  }
  return std::sqrt(e);
}

double guardedDivide(double a, const char *aText, double b, const char *bText) {
  if (b == 0.0) {
    modelDivisionError(aText, a, bText, b);
    return 0.0;
  }
  return a / b;
}

double guardedReciprocal(double b, const char *bText) {
  if (b == 0.0) {
    modelReciprocalError(bText, b);
    return 0.0;
  }
  return 1.0 / b;
}

// Test A: a relation changed or the call is initial, before the one-pass
// phases.  An initial call without changed relations asks for another pass.
bool testA(ModelInstanceData *d) {
  bool change = d->relationChanged != 0;
  if (!change && d->initial == 1) {
    d->needPass = 1;
    change = true;
  }
  return change && d->eventPhase < 3;
}

// Test B: initial sections (skipped while initial changes are counted).
bool testB(ModelInstanceData *d, const int32_t *IUSER) {
  if (d->relationChanged != 0) return d->relationChanged == 2;
  if (d->initial == 1 && IUSER[kIuserCountInitialChanges] == 0) {
    d->needPass = 1;
    return true;
  }
  return false;
}

// Test C: the end of the initial part.
bool testC(ModelInstanceData *d) {
  if (d->relationChanged != 0) return d->relationChanged == 2;
  if (d->initial == 1) {
    d->needPass = 1;
    return true;
  }
  return false;
}

// Test H: no homotopy under way, or its simplified problem.
bool testH(const ModelInstanceData *d) { return d->inHomotopy == 0 || d->lambda <= 0.0; }

// Test Lk: level k is demanded and not yet computed, or an event call, or
// everything is demanded; never with eventPhase -1.
bool testLevel(const ModelInstanceData *d, int32_t k, int32_t request, int32_t computedLevel) {
  return ((request >= k && computedLevel < k) || d->eventFlag != 0 || request == 4) &&
         d->eventPhase != -1;
}

inline bool flag(ModelInstanceData *d, bool value) {
  d->sectionFlag = value ? 1 : 0;
  return value;
}

} // namespace

void dsequations_(int32_t *request, int32_t *computedLevel, double *time, double *X, void *reserved,
                  double *U, double *DP, int32_t *IP, int32_t *LP, double *F, double *Y, double *W,
                  double *Z, double *DUSER, int32_t *IUSER, char **strings, ModelInstanceData *d,
                  int32_t *QiErr) {
  const ModelHookArgs args{time, X, reserved, U, DP, IP, LP, F, Y, W, Z, DUSER, IUSER, strings, d};
  const double &vornSurface = DP[0];
  const double &holeSurface = DP[1];
  const double &initialLevel = DP[2];

  d->sectionFlag = 1;
  if (flag(d, testA(d))) {
    *computedLevel = 0;
    W[0] = 9.81;
    if (d->inHomotopy == 0) args.restartHook(1);
  }
  // Parameter section (empty in this model).
  d->sectionFlag = (d->parametersChanged != 0 && (d->inHomotopy == 0 || d->lambda == 0.0)) ? 1 : 0;
  if (flag(d, testA(d))) *computedLevel = 0;
  if (flag(d, testA(d))) *computedLevel = 0;
  if (flag(d, testA(d) && testH(d))) *computedLevel = 0;
  // Initial values.
  if (flag(d, testB(d, IUSER) && testH(d) && d->eventPhase < 3)) {
    *computedLevel = 0;
    X[0] = initialLevel;
    Y[0] = initialLevel;
    const double r = guardedSqrt(initialLevel * 19.62, "19.62*initialLevel");
    Y[1] = holeSurface * r;
  }
  if (flag(d, testA(d))) {
    *computedLevel = 0;
    if (d->inHomotopy == 0) args.restartHook(1);
  }
  d->sectionFlag = 1;
  args.sectionHook(0, 0);
  if (flag(d, testA(d))) *computedLevel = 0;
  if (flag(d, testB(d, IUSER))) {
    *computedLevel = 0;
    X[0] = initialLevel;
  }
  if (flag(d, testA(d))) *computedLevel = 0;
  // Initial derivative and outputs.
  if (flag(d, testB(d, IUSER))) {
    *computedLevel = 0;
    double r = guardedSqrt(19.62 * X[0], "19.62*_StatesForOutputs.level");
    const double n = U[0] - DP[1] * r;
    F[0] = guardedDivide(n, "inputRate-holeSurface*sqrt(19.62*_StatesForOutputs.level)", DP[0],
                         "vornSurface");
    r = guardedSqrt(19.62 * X[0], "19.62*_StatesForOutputs.level");
    Y[1] = DP[1] * r;
    Y[0] = X[0];
  }
  if (flag(d, testA(d))) *computedLevel = 0;
  // End of the initial part.
  const int32_t inlineStep =
      (d->inlineIntegration != 0 && IUSER[kIuserIntegratorWord] != 0 && *request == 4) ? 1 : 0;
  if (flag(d, testC(d))) {
    *computedLevel = 0;
    d->initial = 0;
    args.sectionHook(2, inlineStep);
    d->initial = 1;
    if (d->inHomotopy != 0) {
      if (d->lambda < 1.0) {
        // A homotopy step ends the evaluation here.
        if (d->status == 0) d->status = -996;
        *QiErr = d->status;
        return;
      }
      d->inHomotopy = 0;
      d->lambda = 1.0;
    }
  }
  // Outputs and derivative.
  if (flag(d, testLevel(d, 1, *request, *computedLevel))) {
    *computedLevel = 1;
    const double r = guardedSqrt(19.62 * X[0], "19.62*_StatesForOutputs.level");
    d->expressionCache[0] = r;
    Y[1] = holeSurface * r;
    Y[0] = X[0];
    if (d->parametersChanged != 0)
      d->expressionCache[1] = guardedReciprocal(vornSurface, "vornSurface");
    F[0] = d->expressionCache[1] * (U[0] - holeSurface * d->expressionCache[0]);
    W[1] = F[0];
  }
  if (flag(d, testLevel(d, 2, *request, *computedLevel))) *computedLevel = 2;
  if (flag(d, testLevel(d, 3, *request, *computedLevel))) *computedLevel = 3;
  d->sectionFlag = 1;
  args.sectionHook(1, inlineStep);
  endEvaluation();
  if (d->status != 0) *QiErr = d->status;
}

// ---------------------------------------------------------------------------
// Sizes.
// ---------------------------------------------------------------------------
namespace {
constexpr ModelDimensions kDimensions{1, 0, 1, 2, 2, 3, 0, 0, 0, 0, 0, 0, 0};

void put(int32_t *out, int32_t value) {
  if (out != nullptr) *out = value;
}
} // namespace

void dsvarsizes_(int32_t *nx, int32_t *dim2, int32_t *nu, int32_t *ny, int32_t *nw, int32_t *np,
                 int32_t *nstr, int32_t *nzpairs, int32_t *nrel) {
  put(nx, kDimensions.nx);
  put(dim2, kDimensions.dim2);
  put(nu, kDimensions.nu);
  put(ny, kDimensions.ny);
  put(nw, kDimensions.nw);
  put(np, kDimensions.np);
  put(nstr, kDimensions.nstr);
  put(nzpairs, kDimensions.nzpairs);
  put(nrel, kDimensions.nrel);
}

void dskernelsizes_(int32_t *nx, int32_t *dim2, int32_t *nu, int32_t *ny, int32_t *nw, int32_t *np,
                    int32_t *nstr, int32_t *nzpairs, int32_t *nrel, int32_t *dim10,
                    int32_t *dim11) {
  dsvarsizes_(nx, dim2, nu, ny, nw, np, nstr, nzpairs, nrel);
  put(dim10, kDimensions.dim10);
  put(dim11, kDimensions.dim11);
}

void dsinstancesizes_(int32_t *nx, int32_t *dim2, int32_t *nu, int32_t *ny, int32_t *nw,
                      int32_t *np, int32_t *nstr, int32_t *nzpairs, int32_t *nrel, int32_t *dim10,
                      int32_t *dim11, int32_t *numExtra1, int32_t *numExtra2) {
  dskernelsizes_(nx, dim2, nu, ny, nw, np, nstr, nzpairs, nrel, dim10, dim11);
  put(numExtra1, kDimensions.numExtra1);
  put(numExtra2, kDimensions.numExtra2);
}

void dsextrasizes_(int32_t *c1, int32_t *c2, int32_t *c3, int32_t *c4, int32_t *c5, int32_t *c6,
                   int32_t *c7, int32_t *c8, int32_t *c9, int32_t *c10) {
  put(c1, 0);
  put(c2, 0);
  put(c3, 0);
  put(c4, 0);
  put(c5, 0);
  put(c6, 2);
  put(c7, 0);
  put(c8, 0);
  put(c9, 0);
  put(c10, 0);
}

namespace {
// The clear-lists of the model are empty; the driver zeroes nothing.
int32_t clearList1[1];
int32_t clearList2[1];
int32_t clearList3[1];
} // namespace

void dsclearlists_(int32_t *count, int32_t **list1, int32_t **list2, int32_t **list3,
                   int32_t *zero) {
  put(count, 0);
  if (list1 != nullptr) *list1 = clearList1;
  if (list2 != nullptr) *list2 = clearList2;
  if (list3 != nullptr) *list3 = clearList3;
  put(zero, 0);
}

int32_t dsstructcount_(int32_t kind) {
  switch (kind) {
  case 2:
  case 3:
    return 1;
  case 6:
    return 15;
  default:
    return 0;
  }
}

double dszerovalue_(void *) { return 0.0; }

// ---------------------------------------------------------------------------
// Start values and settings.
// ---------------------------------------------------------------------------
void declare_(double *states, double *parameters, double *inputs, double *nominals, char **,
              int32_t *, int32_t, void *) {
  if (parameters != nullptr) {
    parameters[0] = 2.0; // vornSurface
    parameters[1] = 0.1; // holeSurface
    parameters[2] = 3.0; // initialLevel
  }
  if (states != nullptr) states[0] = 0.0;
  if (inputs != nullptr) inputs[0] = 0.0;
  if (nominals != nullptr) nominals[0] = 0.0;
}

void declareVariables_(double *states, double *parameters, double *inputs, char **stringStarts,
                       int32_t *QiErr, int32_t mode, void *resultContext) {
  declare_(states, parameters, inputs, nullptr, stringStarts, QiErr, mode, resultContext);
}

void declareStart_(double *states, double *parameters, double *inputs, char **stringStarts,
                   int32_t *QiErr) {
  declare_(states, parameters, inputs, nullptr, stringStarts, QiErr, 0, nullptr);
}

void dssettings_(double *DUSER, int32_t *IUSER) {
  DUSER[kDuserFixedStep] = 0.0;
  DUSER[kDuserStepScale] = 1.0;
  DUSER[kDuserTimeScale] = 0.0;
  DUSER[kDuserOutputInterval] = 0.0;
  IUSER[kIuserInlineSetting] = 0;
}

// ---------------------------------------------------------------------------
// Hooks.
// ---------------------------------------------------------------------------
void dsrestarthook_(double *, double *, void *, double *, double *, int32_t *, int32_t *, double *,
                    double *, double *, double *, double *, int32_t *, char **, ModelInstanceData *,
                    int32_t) {}

void dssectionhook_(double *, double *, void *, double *, double *, int32_t *, int32_t *, double *,
                    double *, double *, double *, double *, int32_t *, char **, ModelInstanceData *,
                    int32_t, int32_t) {}

void dsdefaultsectionhook_(double *time, double *X, void *reserved, double *U, double *DP,
                           int32_t *IP, int32_t *LP, double *F, double *Y, double *W, double *Z,
                           double *DUSER, int32_t *IUSER, char **strings, int32_t section,
                           int32_t initialValue, int32_t eventFlagValue, int32_t inlineStep) {
  // The most negative word has no positive counterpart; it becomes the
  // largest one.
  int32_t &callWord = IUSER[kIuserCallWord];
  if (callWord < 0) callWord = callWord == INT32_MIN ? INT32_MAX : -callWord;
  defaultInstanceData.initial = initialValue;
  defaultInstanceData.eventFlag = eventFlagValue;
  dssectionhook_(time, X, reserved, U, DP, IP, LP, F, Y, W, Z, DUSER, IUSER, strings,
                 &defaultInstanceData, section, inlineStep);
}

void dsemptyhook_() {}
int32_t dszerohook_() { return 0; }

// ---------------------------------------------------------------------------
// Sparse solver stubs and constant functions.
// ---------------------------------------------------------------------------
int32_t OdeSlsSetSparseJacFn(void *, ...) { return -1; }
int32_t OdeSlsGetNumJacEvals(void *, ...) { return -1; }
int32_t OdeSparse(void *, ...) { return -1; }

int32_t dsconst01_() { return 0; }
int32_t dsconst02_() { return 1; }
int32_t dsconst03_() { return 0; }
int32_t dsconst04_() { return 0; }
int32_t dsconst05_() { return 0; }
int32_t dsconst06_() { return 0; }
int32_t dsconst07_() { return 1; }
double dsconst08_() { return -1.0; }
int32_t dsconst09_() { return 1; }
int32_t dsconst10_() { return 1; }
int32_t dsconst11_() { return 1; }
int32_t dsconst12_() { return 1; }
int32_t dsconst13_() { return 1; }
int32_t dsconst14_() { return 1; }
int32_t dsconst15_() { return 1; }
int32_t dsconst16_() { return 1; }
void dsprocedure1_() {}
void dsprocedure2_() {}
