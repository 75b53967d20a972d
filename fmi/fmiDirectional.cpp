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
// The six work arrays belong to the instance, come from its allocateMemory,
// only grow, and are released by fmi2FreeInstance.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "fmi/fmi2.h"
#include "fmi/fmiEvaluate.h"
#include "fmi/fmiGuarded.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiLog.h"
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
  do {
    if (!reserveGroup(c, c->knownCapacity, c->knownBase, c->knownPlus, c->knownMinus, nKnown) ||
        !reserveGroup(c, c->unknownCapacity, c->unknownBase, c->unknownPlus, c->unknownMinus,
                      nUnknown)) {
      fmiLog(c, c->instanceName, fmi2Error, "", "%s: memory allocation failed", kName);
      result = fmi2Error;
      break;
    }
    result = fmiGetReal(c, vKnown, nKnown, c->knownBase);
    if (result != fmi2OK) break;
    result = fmiGetReal(c, vUnknown, nUnknown, c->unknownBase);
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

  derivativeFlag = 0;
  if (result == fmi2Error && !refused) return fmiTerminateOnError(c);
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
