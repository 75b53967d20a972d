// The directional derivative by finite differences.
//
// The unit has no analytic Jacobian: fmi2GetDirectionalDerivative perturbs
// the knowns by +-h along the seed through the ordinary setters, reads the
// unknowns on both sides with forced evaluations and takes the central
// difference.  When one side is discarded by the model (a model error in the
// perturbed point) the other side gives a one-sided difference; any other
// failure of a side is the call's result.  On every path after the first
// perturbation the knowns are set back to their values from before the call,
// and IUSER element 3 (derivative evaluation) is 1 only while the call runs.
// Knowns that may not be set at all (the setter refuses the whole call with
// fmi2Error and stores nothing) end the call with that refusal, and the
// instance goes on unchanged.
//
// The call is a read: the perturbed sets and evaluations leave their marks
// (values computed at the perturbed points, the changed flags that restart
// a Co-Simulation integrator, the change count, the model's evaluation
// state), so the instance is saved into its snapshot record before the
// first read and copied back from it before the call returns.  Afterwards
// the instance is exactly what it was, and the next step, or the next read
// in Model Exchange, is that of an instance that made no call.  Only a call
// that terminates the instance keeps its end.
//
// A terminated instance keeps the values it ended with, and its getters do
// not evaluate; there the base and both sides are evaluated all the same
// (forced), so the call returns the derivative at the point where the
// instance ended, or fails where the model cannot evaluate that point (after
// a step that failed), and never differences of stored values.
//
// The six work arrays and the snapshot record belong to the instance, come
// from its allocateMemory, only grow (the record is made at first use), and
// are released by fmi2FreeInstance.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "fmi/fmi2.h"
#include "fmi/fmiEvaluate.h"
#include "fmi/fmiGuarded.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiState.h"
#include "fmi/fmiVariables.h"
#include "model/ModelInstanceData.h"

namespace {

constexpr const char *kName = "fmi2GetDirectionalDerivative";
constexpr double kInitialStepBound = 1e6;
constexpr double kRelativePerturbation = 1e-5;

void releaseBlock(fmiInstance *c, double *&block) {
  if (block != nullptr) c->functions->freeMemory(block);
  block = nullptr;
}

// Makes the three arrays of one group hold at least n doubles.  A failure
// leaves the group empty (all three null, capacity 0), so that a later call
// never trusts a capacity whose arrays are missing.
[[nodiscard]] bool reserveGroup(fmiInstance *c, uint32_t &capacity, double *&a, double *&b,
                                double *&d, size_t n) {
  if (capacity >= n && a != nullptr && b != nullptr && d != nullptr) return true;
  if (n > UINT32_MAX) return false;
  releaseBlock(c, a);
  releaseBlock(c, b);
  releaseBlock(c, d);
  capacity = 0;
  a = static_cast<double *>(c->functions->allocateMemory(n, sizeof(double)));
  b = static_cast<double *>(c->functions->allocateMemory(n, sizeof(double)));
  d = static_cast<double *>(c->functions->allocateMemory(n, sizeof(double)));
  if (a == nullptr || b == nullptr || d == nullptr) {
    releaseBlock(c, a);
    releaseBlock(c, b);
    releaseBlock(c, d);
    return false;
  }
  capacity = static_cast<uint32_t>(n);
  return true;
}

// Saves the instance into its snapshot record, made at first use (and anew
// when the instance's counts no longer fit it).  False when memory is short.
[[nodiscard]] bool saveSnapshot(fmiInstance *c) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (c->derivativeState == nullptr && fmiCreateStateRecord(&c->derivativeState, c) != fmi2OK) {
      return false;
    }
    const int copied = fmiCopyInstanceRecord(c, c->derivativeState, c->functions);
    if (copied == 0) return true;
    fmiReleaseStateRecord(c, c->derivativeState);
    c->derivativeState = nullptr;
    if (copied == 1) return false;
  }
  return false;
}

// Puts the instance back as saveSnapshot found it, with the two outcomes of
// the last evaluation that the record does not hold.  False when memory is
// short (the instance's delay rings could not be given back).
[[nodiscard]] bool restoreSnapshot(fmiInstance *c, int32_t lastQiErr, int32_t noSolverReinit) {
  c->lastQiErr = lastQiErr;
  c->noSolverReinit = noSolverReinit;
  return fmiCopyInstanceRecord(c->derivativeState, c, c->functions) == 0;
}

// The worse of two results in the order OK < Warning < Discard < Error < Fatal.
fmi2Status worse(fmi2Status a, fmi2Status b) { return a > b ? a : b; }

fmi2Status directionalDerivative(fmiInstance *c, const fmi2ValueReference vUnknown[],
                                 size_t nUnknown, const fmi2ValueReference vKnown[], size_t nKnown,
                                 const fmi2Real dvKnown[], fmi2Real dvUnknown[]) {
  fmiLog(c, c->instanceName, fmi2OK, "", "%s", kName);
  fmiLog(c, c->instanceName, fmi2OK, "", "fmi2GetDirectionalDerivative");
  std::fill_n(dvUnknown, nUnknown, 0.0);
  if (nKnown == 0 || nUnknown == 0) return fmi2OK;

  int32_t &derivativeFlag = c->iuser[kIuserDerivativeEvaluation];
  derivativeFlag = 1;
  fmi2Status result = fmi2OK;
  bool refused = false;
  bool saved = false;
  const int32_t lastQiErr = c->lastQiErr;
  const int32_t noSolverReinit = c->noSolverReinit;
  do {
    if (!reserveGroup(c, c->knownCapacity, c->knownBase, c->knownPlus, c->knownMinus, nKnown) ||
        !reserveGroup(c, c->unknownCapacity, c->unknownBase, c->unknownPlus, c->unknownMinus,
                      nUnknown) ||
        !saveSnapshot(c)) {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s: memory allocation failed", kName);
      result = fmi2Error;
      break;
    }
    saved = true;
    result = fmiGetReal(c, vKnown, nKnown, c->knownBase);
    if (result != fmi2OK) break;
    // A terminated instance reads its stored values without evaluating;
    // the derivative is taken at the point where it ended, so the base of a
    // one-sided difference is evaluated there too (and fails where the
    // model cannot evaluate that point).
    c->forceEvaluation = c->state == fmiStateTerminated ? 1 : 0;
    result = fmiGetReal(c, vUnknown, nUnknown, c->unknownBase);
    c->forceEvaluation = 0;
    if (result != fmi2OK) break;

    // Knowns with a zero seed do not limit the step.
    double h = kInitialStepBound;
    for (size_t j = 0; j < nKnown; ++j) {
      if (dvKnown[j] != 0.0) {
        h = std::min(h, (std::fabs(c->knownBase[j]) + 1.0) * kRelativePerturbation /
                            std::fabs(dvKnown[j]));
      }
    }
    for (size_t j = 0; j < nKnown; ++j) {
      const double delta = dvKnown[j] != 0.0 ? h * dvKnown[j] : 0.0;
      c->knownPlus[j] = c->knownBase[j] + delta;
      c->knownMinus[j] = c->knownBase[j] - delta;
    }

    // From here on the knowns may differ from their base values: every exit
    // goes through the restore below.
    fmi2Status plus = fmiSetReal(c, vKnown, nKnown, c->knownPlus);
    if (plus == fmi2Error) {
      // A known that the model does not let be set now (a constant, a fixed
      // parameter after initialization) refuses the whole set: nothing has
      // changed, and the refusal is the call's result.
      result = plus;
      refused = true;
      break;
    }
    fmi2Status minus = fmi2OK;
    if (plus == fmi2OK) {
      c->forceEvaluation = 1;
      plus = fmiGetReal(c, vUnknown, nUnknown, c->unknownPlus);
      c->forceEvaluation = 0;
      minus = fmiSetReal(c, vKnown, nKnown, c->knownMinus);
      if (minus == fmi2OK) {
        c->forceEvaluation = 1;
        minus = fmiGetReal(c, vUnknown, nUnknown, c->unknownMinus);
        c->forceEvaluation = 0;
      } else {
        // A refused perturbation is the call's result, not a failed side.
        plus = minus;
      }
    }

    const bool plusOk = plus == fmi2OK;
    const bool minusOk = minus == fmi2OK;
    if (plusOk && minusOk) {
      for (size_t i = 0; i < nUnknown; ++i) {
        dvUnknown[i] = (c->unknownPlus[i] - c->unknownMinus[i]) / (2.0 * h);
      }
    } else if (plusOk && minus == fmi2Discard) {
      for (size_t i = 0; i < nUnknown; ++i) {
        dvUnknown[i] = (c->unknownPlus[i] - c->unknownBase[i]) / h;
      }
    } else if (minusOk && plus == fmi2Discard) {
      for (size_t i = 0; i < nUnknown; ++i) {
        dvUnknown[i] = (c->unknownBase[i] - c->unknownMinus[i]) / h;
      }
    } else {
      // Both sides discarded: the minus side's result; any other failure of
      // a side (a refused perturbation, an error) is the result itself.
      result = (plus == fmi2Discard && minus == fmi2Discard) ? minus : worse(plus, minus);
    }

    const fmi2Status restored = fmiSetReal(c, vKnown, nKnown, c->knownBase);
    if (result == fmi2OK) {
      result = restored;
    } else {
      std::fill_n(dvUnknown, nUnknown, 0.0);
      result = worse(result, restored);
    }
  } while (false);

  // Everything but a failure that ends the instance (an error of a read has
  // terminated it already) leaves the instance as the call found it.
  const bool terminating = result == fmi2Error && !refused;
  if (saved && !terminating && !restoreSnapshot(c, lastQiErr, noSolverReinit)) {
    fmiLog(c, c->instanceName, fmi2Error, "", "%s: memory allocation failed", kName);
    derivativeFlag = 0;
    return fmiTerminateOnError(c);
  }
  derivativeFlag = 0;
  if (terminating) return fmiTerminateOnError(c);
  return result;
}

} // namespace

extern "C" {

fmi2Status fmi2GetDirectionalDerivative(fmi2Component component,
                                        const fmi2ValueReference vUnknown_ref[], size_t nUnknown,
                                        const fmi2ValueReference vKnown_ref[], size_t nKnown,
                                        const fmi2Real dvKnown[], fmi2Real dvUnknown[]) {
  return fmiGuarded(component, kName, [&](fmiInstance *c) {
    const struct {
      const char *name;
      const void *pointer;
      size_t count;
    } arguments[] = {{"vUnknown_ref", vUnknown_ref, nUnknown},
                     {"vKnown_ref", vKnown_ref, nKnown},
                     {"dvKnown", dvKnown, nKnown},
                     {"dvUnknown", dvUnknown, nUnknown}};
    for (const auto &a : arguments) {
      if (a.pointer == nullptr && a.count != 0) {
        fmiLog(c, c->instanceName, fmi2Error, "", "%s: invalid argument %s = NULL", kName, a.name);
        return fmi2Error;
      }
    }
    try {
      return directionalDerivative(c, vUnknown_ref, nUnknown, vKnown_ref, nKnown, dvKnown,
                                   dvUnknown);
    } catch (...) {
      // The perturbation flags must not outlive the call.
      c->forceEvaluation = 0;
      if (c->iuser != nullptr) c->iuser[kIuserDerivativeEvaluation] = 0;
      throw;
    }
  });
}

} // extern "C"
