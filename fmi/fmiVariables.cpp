// Variable access by value reference.
//
// A value reference names a value array of the instance, an index in it and
// the evaluation level a read needs (fmiValueReference.h).  Integer and
// Boolean variables live in the same double arrays as Real ones.  Getters
// evaluate on demand; setters only store and mark the instance as changed.
// Every index is checked against its array: a reference outside it is
// refused like one of an unknown category.  What the model declares about a
// variable's variability limits its setting further: a constant is never
// set, a fixed parameter only before the end of initialization.
//
// In Initialization Mode a value set since the last evaluation is a new
// parameter, input or start value, and the values there are the ones the
// initialization computes from it: a read after such a set evaluates the
// initialization again, as fmi2EnterInitializationMode did.
#include "fmi/fmiVariables.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

#include "fmi/fmiEvaluate.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiSolverBase.h"
#include "fmi/fmiStateMachine.h"
#include "fmi/fmiValueReference.h"
#include "model/ModelInstanceData.h"
#include "model/model_data.h"
#include "source/runtime.h"

namespace {

constexpr size_t kStringTextMax = kFmiStringBufferSize - 1;

struct ValueArray {
  double *data;
  uint32_t count;
};

// The array a numeric reference of this category addresses (null for
// categories without one).
ValueArray numericArray(fmiInstance *c, fmiCategory category) {
  switch (category) {
  case fmiCategory::Parameter:
  case fmiCategory::ParameterReadOnly:
    return {c->p, c->np};
  case fmiCategory::State:
    return {c->x, c->nx};
  case fmiCategory::StateDerivative:
    return {c->xdot, c->nx};
  case fmiCategory::Output:
    return {c->y, c->ny};
  case fmiCategory::Input:
  case fmiCategory::InputReadOnly:
    return {c->u, c->nu};
  case fmiCategory::Auxiliary:
    return {c->w, c->nw};
  case fmiCategory::Extra11:
  case fmiCategory::Extra12:
    return {c->extra1, c->nExtra1};
  default:
    return {nullptr, 0};
  }
}

// The stored double a numeric read returns, or null when the reference
// cannot be read.
const double *readable(fmiInstance *c, fmi2ValueReference vr) {
  const fmiCategory category = fmiReferenceCategory(vr);
  if (category == fmiCategory::Time) return vr == fmiTimeReference ? &c->time : nullptr;
  const ValueArray a = numericArray(c, category);
  const uint32_t index = fmiReferenceIndex(vr);
  if (a.data == nullptr || index >= a.count) return nullptr;
  return &a.data[index];
}

enum class WriteCheck { Accepted, MayNotChange, CannotSet };

WriteCheck writable(fmiInstance *c, fmi2ValueReference vr, double **target) {
  const fmiCategory category = fmiReferenceCategory(vr);
  const ValueArray a = numericArray(c, category);
  const uint32_t index = fmiReferenceIndex(vr);
  if (a.data == nullptr || index >= a.count) return WriteCheck::CannotSet;
  *target = &a.data[index];
  switch (category) {
  case fmiCategory::StateDerivative:
  case fmiCategory::Output:
    return c->state == fmiStateInstantiated ? WriteCheck::Accepted : WriteCheck::MayNotChange;
  case fmiCategory::Auxiliary:
    return c->state == fmiStateInstantiated || c->state == fmiStateInitializationMode ||
                   c->iuser[kIuserInlineSetting] != 0 || c->useStateInDerivative != 0
               ? WriteCheck::Accepted
               : WriteCheck::MayNotChange;
  case fmiCategory::InputReadOnly:
  case fmiCategory::ParameterReadOnly:
    return WriteCheck::MayNotChange;
  default:
    return WriteCheck::Accepted;
  }
}

bool listed(std::span<const uint32_t> variables, fmi2ValueReference vr) {
  return std::find(variables.begin(), variables.end(), fmiReferenceVariable(vr)) != variables.end();
}

// Setting refusals of a whole call: a set of a constant in any state, or of
// a fixed parameter once initialization is over.
enum class VariabilityCheck { Settable, Constant, FixedAfterInitialization };

VariabilityCheck variability(const fmiInstance *c, fmi2ValueReference vr) {
  if (listed(constantReferences, vr)) return VariabilityCheck::Constant;
  const bool initializing =
      c->state == fmiStateInstantiated || c->state == fmiStateInitializationMode;
  if (!initializing && listed(fixedParameterReferences, vr)) {
    return VariabilityCheck::FixedAfterInitialization;
  }
  return VariabilityCheck::Settable;
}

void countChange(fmiInstance *c) {
  // The change count is only compared for equality: it wraps.
  int32_t &count = c->iuser[kIuserChangeCount];
  count = static_cast<int32_t>(static_cast<uint32_t>(count) + 1u);
}

uint32_t neededLevel(const fmi2ValueReference vr[], size_t nvr) {
  uint32_t level = 0;
  for (size_t i = 0; i < nvr; ++i) level = std::max(level, fmiReferenceLevel(vr[i]));
  return level;
}

// Truncation toward zero; values outside the 32-bit range saturate and a
// NaN reads as 0.
int32_t toInteger(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// The three numeric families differ in their value type, their message
// prefix and letter, and whether a model error is discarded.
struct RealKind {
  using Value = fmi2Real;
  static constexpr fmiFunction getter = fmiFunction::GetReal;
  static constexpr const char *getFailed = "fmiGetReal: dsblock_ failed, QiErr = %d";
  static constexpr const char *cannotGet = "fmiGetReal: cannot get #r%u#";
  static constexpr const char *got = "fmiGetReal: #r%u# = %g";
  static constexpr const char *mayNotChange =
      "fmiSetReal: may not change #r%u# at this stage, setting of variable ignored";
  static constexpr const char *cannotSet = "fmiSetReal: cannot set #r%u#  ";
  static constexpr const char *set = "fmiSetReal: #r%u# = %g";
  static constexpr const char *constant =
      "fmiSetReal: may not change constant #r%u#, setting of variable ignored";
  static constexpr const char *fixedAfterInitialization =
      "fmiSetReal: may not change fixed parameter #r%u# after initialization, setting of "
      "variable ignored";
  static constexpr bool discardModelError = true;
  static Value fromStored(double v) { return v; }
};

struct IntegerKind {
  using Value = fmi2Integer;
  static constexpr fmiFunction getter = fmiFunction::GetInteger;
  static constexpr const char *getFailed = "fmiGetInteger: dsblock_ failed, QiErr = %d";
  static constexpr const char *cannotGet = "fmiGetInteger: cannot get #i%u#";
  static constexpr const char *got = "fmiGetInteger: #i%u# = %g";
  static constexpr const char *mayNotChange =
      "fmiSetInteger: may not change #i%u# at this stage, setting of variable ignored";
  static constexpr const char *cannotSet = "fmiSetInteger: cannot set #i%u#  ";
  static constexpr const char *set = "fmiSetInteger: #i%u# = %g";
  static constexpr const char *constant =
      "fmiSetInteger: may not change constant #i%u#, setting of variable ignored";
  static constexpr const char *fixedAfterInitialization =
      "fmiSetInteger: may not change fixed parameter #i%u# after initialization, setting of "
      "variable ignored";
  static constexpr bool discardModelError = false;
  static Value fromStored(double v) { return toInteger(v); }
};

struct BooleanKind {
  using Value = fmi2Boolean;
  static constexpr fmiFunction getter = fmiFunction::GetBoolean;
  static constexpr const char *getFailed = "fmiGetBoolean: dsblock_ failed, QiErr = %d";
  static constexpr const char *cannotGet = "fmiGetBoolean: cannot get #b%u#";
  static constexpr const char *got = "fmiGetBoolean: #b%u# = %g";
  static constexpr const char *mayNotChange =
      "fmiSetBoolean: may not change #b%u# at this stage, setting of variable ignored";
  static constexpr const char *cannotSet = "fmiSetBoolean: cannot set #b%u#  ";
  static constexpr const char *set = "fmiSetBoolean: #b%u# = %g";
  static constexpr const char *constant =
      "fmiSetBoolean: may not change constant #b%u#, setting of variable ignored";
  static constexpr const char *fixedAfterInitialization =
      "fmiSetBoolean: may not change fixed parameter #b%u# after initialization, setting of "
      "variable ignored";
  static constexpr bool discardModelError = false;
  static Value fromStored(double v) { return toInteger(v); }
};

// True in Initialization Mode when a value was set since the last
// evaluation: the initialization is to be evaluated again before a read.
bool initializationDue(const fmiInstance *c) {
  return c->state == fmiStateInitializationMode && c->valuesChanged != 0;
}

template <typename Kind>
fmi2Status getNumeric(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                      typename Kind::Value value[]) {
  const uint32_t level = neededLevel(vr, nvr);
  if (!fmiCheckState(c, Kind::getter)) return fmi2Warning;
  // (A forced evaluation there is an initialization too.)
  const bool initializing =
      initializationDue(c) || (c->state == fmiStateInitializationMode && c->forceEvaluation != 0);
  const bool due =
      initializing ||
      (c->computedLevel < static_cast<int32_t>(level) && c->state != fmiStateInitializationMode) ||
      c->forceEvaluation != 0;
  // A terminated instance keeps the values it ended with; only the forced
  // evaluations of a directional derivative compute there (and that call
  // puts the instance back as it was).
  if (due && (c->state != fmiStateTerminated || c->forceEvaluation != 0)) {
    const int32_t request =
        c->forceEvaluation != 0 && level < 1 ? kRequestAuxiliaries : static_cast<int32_t>(level);
    const int32_t qiErr =
        initializing ? fmiEvaluateInitialization(c) : fmiEvaluate(c, request, nullptr, nullptr);
    if (qiErr == kQiErrTerminated) return fmiEndedByModel(c, fmiFunctionName(Kind::getter));
    if (qiErr != 0) {
      const fmi2Status status =
          Kind::discardModelError && qiErr == kQiErrError ? fmi2Discard : fmi2Error;
      fmiLog(c, c->instanceName, status, "", Kind::getFailed, static_cast<int>(qiErr));
      return status == fmi2Discard ? fmi2Discard : fmiTerminateOnError(c);
    }
  }
  for (size_t i = 0; i < nvr; ++i) {
    const double *stored = readable(c, vr[i]);
    if (stored == nullptr) {
      fmiLog(c, c->instanceName, fmi2Warning, "", Kind::cannotGet, vr[i]);
      return fmi2Warning;
    }
    value[i] = Kind::fromStored(*stored);
    if (fmiLogDelivers(c, fmi2OK)) {
      fmiLog(c, c->instanceName, fmi2OK, "", Kind::got, vr[i], static_cast<double>(value[i]));
    }
  }
  return fmi2OK;
}

void markChanged(fmiInstance *c) {
  c->computedLevel = 0;
  c->valuesChanged = 1;
  c->jacobianOutdated = 1;
}

// A refused reference ends the call; the values stored before it stay stored
// and mark the instance as changed like a complete call, so that no getter
// returns results computed from the old values.
template <typename Kind>
fmi2Status setNumeric(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                      const typename Kind::Value value[]) {
  // A variable whose variability forbids the set refuses the whole call
  // before any value is stored.
  for (size_t i = 0; i < nvr; ++i) {
    const VariabilityCheck check = variability(c, vr[i]);
    if (check == VariabilityCheck::Settable) continue;
    fmiLog(c, c->instanceName, fmi2Error, "",
           check == VariabilityCheck::Constant ? Kind::constant : Kind::fixedAfterInitialization,
           vr[i]);
    return fmi2Error;
  }
  bool changed = false;
  for (size_t i = 0; i < nvr; ++i) {
    double *target = nullptr;
    const WriteCheck check = writable(c, vr[i], &target);
    if (check != WriteCheck::Accepted) {
      fmiLog(c, c->instanceName, fmi2Warning, "",
             check == WriteCheck::MayNotChange ? Kind::mayNotChange : Kind::cannotSet, vr[i]);
      if (changed) markChanged(c);
      return fmi2Warning;
    }
    const double v = static_cast<double>(value[i]);
    if (!(*target == v)) { // a NaN on either side counts as a change
      *target = v;
      changed = true;
      const fmiCategory category = fmiReferenceCategory(vr[i]);
      if (category == fmiCategory::Parameter) {
        countChange(c);
      } else if (category == fmiCategory::Input && c->fmuType == fmi2CoSimulation &&
                 c->iuser[kIuserDerivativeEvaluation] == 0) {
        // (A perturbation of the directional derivative is no new input:
        // it is undone before that call returns, and the base of the input
        // extrapolation, which the integrator's data hold, stays.)
        fmiSetInputBase(c, static_cast<int32_t>(fmiReferenceIndex(vr[i])));
        c->inputsChanged = 1;
      }
    }
    if (fmiLogDelivers(c, fmi2OK)) fmiLog(c, c->instanceName, fmi2OK, "", Kind::set, vr[i], v);
  }
  if (changed) markChanged(c);
  return fmi2OK;
}

bool isStringCategory(fmiCategory category) {
  return category == fmiCategory::String || category == fmiCategory::StringReadOnly;
}

} // namespace

int32_t fmiRefreshInitialization(fmiInstance *c, const char *name) {
  if (!initializationDue(c)) return 0;
  const int32_t qiErr = fmiEvaluateInitialization(c);
  // The model's request to end the run is no failure; the reader says so.
  if (qiErr != 0 && qiErr != kQiErrTerminated && name != nullptr) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: dsblock_ failed, QiErr = %d", name,
           static_cast<int>(qiErr));
  }
  return qiErr;
}

fmi2Status fmiGetReal(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
  return getNumeric<RealKind>(c, vr, nvr, value);
}

fmi2Status fmiGetInteger(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                         fmi2Integer value[]) {
  return getNumeric<IntegerKind>(c, vr, nvr, value);
}

fmi2Status fmiGetBoolean(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                         fmi2Boolean value[]) {
  return getNumeric<BooleanKind>(c, vr, nvr, value);
}

fmi2Status fmiSetReal(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                      const fmi2Real value[]) {
  return setNumeric<RealKind>(c, vr, nvr, value);
}

fmi2Status fmiSetInteger(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Integer value[]) {
  return setNumeric<IntegerKind>(c, vr, nvr, value);
}

fmi2Status fmiSetBoolean(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Boolean value[]) {
  return setNumeric<BooleanKind>(c, vr, nvr, value);
}

fmi2Status fmiGetString(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                        fmi2String value[]) {
  const char *name = fmiFunctionName(fmiFunction::GetString);
  const uint32_t level = neededLevel(vr, nvr);
  if (!fmiCheckState(c, fmiFunction::GetString)) return fmi2Warning;
  const bool initializing = initializationDue(c);
  if (initializing || c->computedLevel < static_cast<int32_t>(level)) {
    const int32_t qiErr = initializing
                              ? fmiEvaluateInitialization(c)
                              : fmiEvaluate(c, static_cast<int32_t>(level), nullptr, nullptr);
    if (qiErr == kQiErrTerminated) return fmiEndedByModel(c, name);
    if (qiErr != 0) {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s: dsblock_ failed, QiErr = %d", name,
             static_cast<int>(qiErr));
      return fmiTerminateOnError(c);
    }
  }
  for (size_t i = 0; i < nvr; ++i) {
    const uint32_t index = fmiReferenceIndex(vr[i]);
    if (!isStringCategory(fmiReferenceCategory(vr[i])) || index >= c->nstr) {
      fmiLog(c, c->instanceName, fmi2Warning, "", "%s: cannot get #s%u#", name, vr[i]);
      return fmi2Warning;
    }
    value[i] = c->strings[index];
    fmiLog(c, c->instanceName, fmi2OK, "", "%s: #s%u# = %s", name, vr[i], value[i]);
  }
  return fmi2OK;
}

fmi2Status fmiSetString(fmiInstance *c, const fmi2ValueReference vr[], size_t nvr,
                        const fmi2String value[]) {
  const char *name = fmiFunctionName(fmiFunction::SetString);
  for (size_t i = 0; i < nvr; ++i) {
    const uint32_t index = fmiReferenceIndex(vr[i]);
    if (fmiReferenceCategory(vr[i]) != fmiCategory::String || index >= c->nstr) {
      fmiLog(c, c->instanceName, fmi2Warning, "", "%s: cannot set #s%u#  ", name, vr[i]);
      return fmi2Warning;
    }
    const char *text = value[i] != nullptr ? value[i] : "";
    char *buffer = c->strings[index];
    const size_t n = strnlen(text, kStringTextMax);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    buffer[kStringTextMax] = '\0';
    countChange(c);
    fmiLog(c, c->instanceName, fmi2OK, "", "%s: #s%u# = %s", name, vr[i], text);
  }
  return fmi2OK;
}
