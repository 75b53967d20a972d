// One internal step: predict the Nordsieck history, set the method
// coefficients, correct by functional or Newton iteration, test the local
// error, and on success update the history and plan the next step.
//
// The order of the floating-point operations follows the method's
// definition exactly; every vector operation goes through the vector's own
// table, so the step works for any vector implementation.
#include <algorithm>
#include <cmath>

#include "integrator/ode_impl.h"

namespace {

// Internal results of the corrector and the recovery logic.
constexpr int CORR_CONVERGED = 0;
constexpr int CORR_CONV_FAIL = 4;
constexpr int CORR_TRY_AGAIN = 5; // retry with a fresh linear set-up
constexpr int CORR_RHS_RECVR = 9;

// Attempt states passed to the Newton corrector.
constexpr int ATTEMPT_FIRST = 6;
constexpr int ATTEMPT_CONV_FAIL = 7;
constexpr int ATTEMPT_ERR_FAIL = 8;

// Outcomes of judging an attempt.
constexpr int DO_ERROR_TEST = 1;
constexpr int PREDICT_AGAIN = 2;
constexpr int TRY_AGAIN = 3;

constexpr double ADDON = 0.000001;

double wrms(OdeMemory *mem, OdeVector v) { return OdeVecWeightedRms(v, mem->ewt); }

// ---------------------------------------------------------------------------
// Prediction
// ---------------------------------------------------------------------------

void odePredictHistory(OdeMemory *mem) {
  OdeVector *zn = mem->history;
  mem->tcur = mem->tcur + mem->h;
  for (int k = 1; k <= mem->order; ++k) {
    for (int j = mem->order; j >= k; --j) {
      OdeVecCombine(1.0, zn[j - 1], 1.0, zn[j], zn[j - 1]);
    }
  }
}

void odeUndoPrediction(OdeMemory *mem, double savedT) {
  OdeVector *zn = mem->history;
  mem->tcur = savedT;
  for (int k = 1; k <= mem->order; ++k) {
    for (int j = mem->order; j >= k; --j) {
      OdeVecCombine(1.0, zn[j - 1], -1.0, zn[j], zn[j - 1]);
    }
  }
}

// ---------------------------------------------------------------------------
// Method coefficients
// ---------------------------------------------------------------------------

// Sum over i = 0..n of (-1)^i a[i]/(i + k); 0 for n < 0.
double odeAlternatingSum(int n, const double *a, int k) {
  if (n < 0) {
    return 0.0;
  }
  double sum = 0.0;
  double sign = 1.0;
  for (int i = 0; i <= n; ++i) {
    sum += sign * (a[i] / (i + k));
    sign = -sign;
  }
  return sum;
}

double odeAdamsPolyStart(OdeMemory *mem, double m[]) {
  int q = mem->order;
  double *tq = mem->testQuantities;
  double h = mem->h;
  double hsum = h;
  m[0] = 1.0;
  for (int i = 1; i <= q; ++i) m[i] = 0.0;
  for (int j = 1; j < q; ++j) {
    if (j == q - 1 && mem->orderWait == 1) {
      double sum = odeAlternatingSum(q - 2, m, 2);
      tq[1] = q * sum / m[q - 2];
    }
    double xiInv = h / hsum;
    for (int i = j; i >= 1; --i) m[i] += m[i - 1] * xiInv;
    hsum += mem->stepHistory[j];
  }
  return hsum;
}

void odeAdamsTestQuantities(OdeMemory *mem, double m[], const double M[], double hsum) {
  int q = mem->order;
  double *l = mem->polyCoeffs;
  double *tq = mem->testQuantities;
  double M0inv = 1.0 / M[0];
  l[0] = 1.0;
  for (int i = 1; i <= q; ++i) l[i] = (m[i - 1] / i) * M0inv;
  double xi = hsum / mem->h;
  double xiInv = 1.0 / xi;
  tq[2] = M[1] * M0inv / xi;
  tq[5] = xi / l[q];
  if (mem->orderWait == 1) {
    for (int i = q; i >= 1; --i) m[i] += m[i - 1] * xiInv;
    double M2 = odeAlternatingSum(q, m, 2);
    tq[3] = M2 * M0inv / mem->orderPlus1;
  }
  tq[4] = mem->nonlinConvCoef / tq[2];
}

void odeAdamsCoefficients(OdeMemory *mem) {
  double *l = mem->polyCoeffs;
  double *tq = mem->testQuantities;
  if (mem->order == 1) {
    l[0] = l[1] = 1.0;
    tq[1] = tq[5] = 1.0;
    tq[2] = 0.5;
    tq[3] = 1.0 / 12.0;
    tq[4] = mem->nonlinConvCoef / tq[2];
    return;
  }
  double m[ODE_HISTORY_LENGTH + 1];
  double hsum = odeAdamsPolyStart(mem, m);
  double M[2];
  M[0] = odeAlternatingSum(mem->order - 1, m, 1);
  M[1] = odeAlternatingSum(mem->order - 1, m, 2);
  odeAdamsTestQuantities(mem, m, M, hsum);
}

void odeBdfTestQuantities(OdeMemory *mem, double hsum, double alpha0, double alpha0Hat,
                          double xiInv, double xistarInv) {
  int q = mem->order;
  double *l = mem->polyCoeffs;
  double *tq = mem->testQuantities;
  double A1 = 1.0 - alpha0Hat + alpha0;
  double A2 = 1.0 + q * A1;
  tq[2] = std::fabs(A1 / (alpha0 * A2));
  tq[5] = std::fabs(A2 * xistarInv / (l[q] * xiInv));
  if (mem->orderWait == 1) {
    if (q > 1) {
      double C = xistarInv / l[q];
      double A3 = alpha0 + 1.0 / q;
      double A4 = alpha0Hat + xiInv;
      double Cpinv = (1.0 - A4 + A3) / A3;
      tq[1] = std::fabs(C * Cpinv);
    } else {
      tq[1] = 1.0;
    }
    double xi2 = mem->h / (hsum + mem->stepHistory[q]);
    double A5 = alpha0 - 1.0 / (q + 1);
    double A6 = alpha0Hat - xi2;
    double Cppinv = (1.0 - A6 + A5) / A2;
    tq[3] = std::fabs(Cppinv / (xi2 * (q + 2) * A5));
  }
  tq[4] = mem->nonlinConvCoef / tq[2];
}

void odeBdfCoefficients(OdeMemory *mem) {
  int q = mem->order;
  double *l = mem->polyCoeffs;
  const double *tau = mem->stepHistory;
  double h = mem->h;
  l[0] = l[1] = 1.0;
  double xiInv = 1.0;
  double xistarInv = 1.0;
  for (int i = 2; i <= q; ++i) l[i] = 0.0;
  double alpha0 = -1.0;
  double alpha0Hat = -1.0;
  double hsum = h;
  if (q > 1) {
    for (int j = 2; j < q; ++j) {
      hsum += tau[j - 1];
      xiInv = h / hsum;
      alpha0 -= 1.0 / j;
      for (int i = j; i >= 1; --i) l[i] += l[i - 1] * xiInv;
    }
    alpha0 -= 1.0 / q;
    xistarInv = -l[1] - alpha0;
    hsum += tau[q - 1];
    xiInv = h / hsum;
    alpha0Hat = -l[1] - xiInv;
    for (int i = q; i >= 1; --i) l[i] += l[i - 1] * xistarInv;
  }
  odeBdfTestQuantities(mem, hsum, alpha0, alpha0Hat, xiInv, xistarInv);
}

// ---------------------------------------------------------------------------
// History changes
// ---------------------------------------------------------------------------

void odeScaleHistory(OdeMemory *mem) {
  double eta = mem->stepRatio;
  double factor = eta;
  for (int j = 1; j <= mem->order; ++j) {
    OdeVecMulScalar(factor, mem->history[j], mem->history[j]);
    factor = factor * eta;
  }
  mem->h = mem->hScale * eta;
  mem->plannedH = mem->h;
  mem->hScale = mem->h;
}

void odeAdamsChangeOrder(OdeMemory *mem, int deltaq) {
  OdeVector *zn = mem->history;
  int q = mem->order;
  double *l = mem->polyCoeffs;
  if (deltaq == 1) {
    OdeVecFill(0.0, zn[mem->orderPlus1]);
    return;
  }
  for (int i = 0; i <= mem->maxOrder; ++i) l[i] = 0.0;
  l[1] = 1.0;
  double hsum = 0.0;
  for (int j = 1; j <= q - 2; ++j) {
    hsum += mem->stepHistory[j];
    double xi = hsum / mem->hScale;
    for (int i = j + 1; i >= 1; --i) l[i] = l[i] * xi + l[i - 1];
  }
  for (int j = 1; j <= q - 2; ++j) l[j + 1] = q * (l[j] / (j + 1));
  for (int j = 2; j < q; ++j) OdeVecCombine(-l[j], zn[q], 1.0, zn[j], zn[j]);
}

void odeBdfLowerOrder(OdeMemory *mem) {
  OdeVector *zn = mem->history;
  int q = mem->order;
  double *l = mem->polyCoeffs;
  for (int i = 0; i <= mem->maxOrder; ++i) l[i] = 0.0;
  l[2] = 1.0;
  double hsum = 0.0;
  for (int j = 1; j <= q - 2; ++j) {
    hsum += mem->stepHistory[j];
    double xi = hsum / mem->hScale;
    for (int i = j + 2; i >= 2; --i) l[i] = l[i] * xi + l[i - 1];
  }
  for (int j = 2; j < q; ++j) OdeVecCombine(-l[j], zn[q], 1.0, zn[j], zn[j]);
}

void odeBdfRaiseOrder(OdeMemory *mem) {
  OdeVector *zn = mem->history;
  int q = mem->order;
  int L = mem->orderPlus1;
  double *l = mem->polyCoeffs;
  for (int i = 0; i <= mem->maxOrder; ++i) l[i] = 0.0;
  l[2] = 1.0;
  double alpha1 = 1.0;
  double prod = 1.0;
  double xiold = 1.0;
  double alpha0 = -1.0;
  double hsum = mem->hScale;
  if (q > 1) {
    for (int j = 1; j < q; ++j) {
      hsum += mem->stepHistory[j + 1];
      double xi = hsum / mem->hScale;
      prod *= xi;
      alpha0 -= 1.0 / (j + 1);
      alpha1 += 1.0 / xi;
      for (int i = j + 2; i >= 2; --i) l[i] = l[i] * xiold + l[i - 1];
      xiold = xi;
    }
  }
  double A1 = (-alpha0 - alpha1) / prod;
  OdeVecMulScalar(A1, zn[mem->savedCorrectionIndex], zn[L]);
  for (int j = 2; j <= q; ++j) OdeVecCombine(l[j], zn[L], 1.0, zn[j], zn[j]);
}

// Adjusts the history to order q + deltaq (order 2 is not lowered: the
// history of order 1 needs no change).
void odeAdjustOrder(OdeMemory *mem, int deltaq) {
  if (mem->order == 2 && deltaq != 1) {
    return;
  }
  if (mem->lmm == ODE_ADAMS) {
    odeAdamsChangeOrder(mem, deltaq);
  } else if (deltaq == -1) {
    odeBdfLowerOrder(mem);
  } else if (deltaq == 1) {
    odeBdfRaiseOrder(mem);
  }
}

void odeApplyStepAndOrder(OdeMemory *mem) {
  if (mem->nextOrder != mem->order) {
    odeAdjustOrder(mem, mem->nextOrder - mem->order);
    mem->order = mem->nextOrder;
    mem->orderPlus1 = mem->order + 1;
    mem->orderWait = mem->orderPlus1;
  }
  odeScaleHistory(mem);
}

// ---------------------------------------------------------------------------
// Correctors
// ---------------------------------------------------------------------------

// The convergence test of both correctors: true when converged.
bool converged(OdeMemory *mem, int m, double del, double delp) {
  if (m > 0) {
    mem->convRate = std::max(0.3 * mem->convRate, del / delp);
  }
  double dcon = del * std::min(1.0, mem->convRate) / mem->testQuantities[4];
  if (dcon <= 1.0) {
    mem->correctionNorm = (m == 0) ? del : wrms(mem, mem->correction);
    return true;
  }
  return false;
}

int odeFixedPointCorrector(OdeMemory *mem) {
  OdeVector *zn = mem->history;
  mem->convRate = 1.0;
  int m = 0;
  int r = mem->f(mem->tcur, zn[0], mem->scratch, mem->userData);
  mem->numRhsEvals++;
  if (r < 0) return ODE_RHSFUNC_FAIL;
  if (r > 0) return CORR_RHS_RECVR;
  OdeVecFill(0.0, mem->correction);
  double delp = 0.0;
  for (;;) {
    mem->numNonlinIters++;
    OdeVecCombine(mem->h, mem->scratch, -1.0, zn[1], mem->scratch);
    OdeVecMulScalar(mem->invL1, mem->scratch, mem->scratch);
    OdeVecCombine(1.0, zn[0], 1.0, mem->scratch, mem->yout);
    OdeVecCombine(1.0, mem->scratch, -1.0, mem->correction, mem->correction);
    double del = wrms(mem, mem->correction);
    OdeVecMulScalar(1.0, mem->scratch, mem->correction);
    if (converged(mem, m, del, delp)) {
      return CORR_CONVERGED;
    }
    m++;
    if (m == mem->maxNonlinIters || (m >= 2 && del > 2.0 * delp)) {
      return CORR_CONV_FAIL;
    }
    delp = del;
    r = mem->f(mem->tcur, mem->yout, mem->scratch, mem->userData);
    mem->numRhsEvals++;
    if (r < 0) return ODE_RHSFUNC_FAIL;
    if (r > 0) return CORR_RHS_RECVR;
  }
}

int odeNewtonLoop(OdeMemory *mem) {
  OdeVector *zn = mem->history;
  // A stale Jacobian is worth one more try with a fresh set-up.
  const bool canRetry = mem->jacCurrent == 0 && mem->hasSetup != 0;
  mem->newtonIters = 0;
  int m = 0;
  double delp = 0.0;
  for (;;) {
    OdeVecCombine(mem->invL1, zn[1], 1.0, mem->correction, mem->scratch);
    OdeVecCombine(mem->gamma, mem->rhsScratch, -1.0, mem->scratch, mem->scratch);
    int r = mem->lsSolve(mem, mem->scratch, mem->ewt, mem->yout, mem->rhsScratch);
    mem->numNonlinIters++;
    if (r < 0) return ODE_LSOLVE_FAIL;
    if (r > 0) return canRetry ? CORR_TRY_AGAIN : CORR_CONV_FAIL;
    double del = wrms(mem, mem->scratch);
    OdeVecCombine(1.0, mem->correction, 1.0, mem->scratch, mem->correction);
    OdeVecCombine(1.0, zn[0], 1.0, mem->correction, mem->yout);
    if (converged(mem, m, del, delp)) {
      mem->jacCurrent = 0;
      return CORR_CONVERGED;
    }
    m++;
    mem->newtonIters = m;
    if (m == mem->maxNonlinIters || (m >= 2 && del > 2.0 * delp)) {
      return canRetry ? CORR_TRY_AGAIN : CORR_CONV_FAIL;
    }
    delp = del;
    r = mem->f(mem->tcur, mem->yout, mem->rhsScratch, mem->userData);
    mem->numRhsEvals++;
    if (r < 0) return ODE_RHSFUNC_FAIL;
    if (r > 0) return canRetry ? CORR_TRY_AGAIN : CORR_RHS_RECVR;
  }
}

int odeNewtonCorrector(OdeMemory *mem, int attempt) {
  OdeVector *zn = mem->history;
  int convfail =
      (attempt == ATTEMPT_FIRST || attempt == ATTEMPT_ERR_FAIL) ? ODE_NO_FAILURES : ODE_FAIL_OTHER;
  bool callSetup = false;
  if (mem->hasSetup) {
    callSetup = attempt == ATTEMPT_CONV_FAIL || attempt == ATTEMPT_ERR_FAIL || mem->numSteps == 0 ||
                mem->numSteps >= mem->stepsAtSetup + 20 || std::fabs(mem->gammaRatio - 1.0) > 0.3;
  } else {
    mem->convRate = 1.0;
  }
  for (;;) {
    int r = mem->f(mem->tcur, zn[0], mem->rhsScratch, mem->userData);
    mem->numRhsEvals++;
    if (r < 0) return ODE_RHSFUNC_FAIL;
    if (r > 0) return CORR_RHS_RECVR;
    if (callSetup) {
      r = mem->lsSetup(mem, convfail, zn[0], mem->rhsScratch, &mem->jacCurrent, mem->correction,
                       mem->yout, mem->scratch);
      mem->numSetups++;
      callSetup = false;
      mem->gammaRatio = 1.0;
      mem->convRate = 1.0;
      mem->gammaAtSetup = mem->gamma;
      mem->stepsAtSetup = mem->numSteps;
      if (r < 0) return ODE_LSETUP_FAIL;
      if (r > 0) return CORR_CONV_FAIL;
    }
    OdeVecFill(0.0, mem->correction);
    OdeVecMulScalar(1.0, zn[0], mem->yout);
    r = odeNewtonLoop(mem);
    if (r != CORR_TRY_AGAIN) {
      return r;
    }
    callSetup = true;
    convfail = ODE_FAIL_BAD_J;
  }
}

// ---------------------------------------------------------------------------
// Judging an attempt
// ---------------------------------------------------------------------------

int odeCorrectorOutcome(OdeMemory *mem, int result, int *attempt, double savedT, int *ncf) {
  if (result == CORR_CONVERGED) {
    return DO_ERROR_TEST;
  }
  mem->numConvFails++;
  odeUndoPrediction(mem, savedT);
  if (result == ODE_LSETUP_FAIL || result == ODE_LSOLVE_FAIL || result == ODE_RHSFUNC_FAIL) {
    return result;
  }
  (*ncf)++;
  mem->maxStepRatio = 1.0;
  if (std::fabs(mem->h) <= mem->hmin * 1.000001 || *ncf == mem->maxConvFails) {
    return result == CORR_CONV_FAIL ? ODE_CONV_FAILURE : ODE_REPTD_RHSFUNC_ERR;
  }
  mem->stepRatio = std::max(0.25, mem->hmin / std::fabs(mem->h));
  *attempt = ATTEMPT_CONV_FAIL;
  odeScaleHistory(mem);
  return PREDICT_AGAIN;
}

int odeLocalErrorTest(OdeMemory *mem, int *attempt, double savedT, int *nef, double *dsmOut) {
  double dsm = mem->correctionNorm * mem->testQuantities[2];
  *dsmOut = dsm;
  if (dsm <= 1.0) {
    return ODE_SUCCESS;
  }
  (*nef)++;
  mem->numErrTestFails++;
  *attempt = ATTEMPT_ERR_FAIL;
  odeUndoPrediction(mem, savedT);
  if (std::fabs(mem->h) <= mem->hmin * 1.000001 || *nef == mem->maxErrTestFails) {
    return ODE_ERR_FAILURE;
  }
  mem->maxStepRatio = 1.0;
  if (*nef <= 3) {
    double eta = 1.0 / (odeRealPower(6.0 * dsm, 1.0 / mem->orderPlus1) + ADDON);
    eta = std::max(0.1, std::max(eta, mem->hmin / std::fabs(mem->h)));
    if (*nef >= 2) {
      eta = std::min(eta, 0.2);
    }
    mem->stepRatio = eta;
    odeScaleHistory(mem);
    return TRY_AGAIN;
  }
  if (mem->order > 1) {
    mem->stepRatio = std::max(0.1, mem->hmin / std::fabs(mem->h));
    odeAdjustOrder(mem, -1);
    mem->orderPlus1 = mem->order;
    mem->order--;
    mem->orderWait = mem->orderPlus1;
    odeScaleHistory(mem);
    return TRY_AGAIN;
  }
  // Order 1 and still failing: restart the history from f.
  mem->stepRatio = std::max(0.1, mem->hmin / std::fabs(mem->h));
  mem->h = mem->h * mem->stepRatio;
  mem->plannedH = mem->h;
  mem->hScale = mem->h;
  mem->orderWait = 10;
  int r = mem->f(mem->tcur, mem->history[0], mem->scratch, mem->userData);
  mem->numRhsEvals++;
  if (r < 0) return ODE_RHSFUNC_FAIL;
  if (r > 0) return ODE_UNREC_RHSFUNC_ERR;
  OdeVecMulScalar(mem->h, mem->scratch, mem->history[1]);
  return TRY_AGAIN;
}

// ---------------------------------------------------------------------------
// Acceptance and planning
// ---------------------------------------------------------------------------

void odeAcceptStep(OdeMemory *mem) {
  OdeVector *zn = mem->history;
  double *tau = mem->stepHistory;
  int q = mem->order;
  mem->numSteps++;
  mem->hu = mem->h;
  mem->lastOrder = q;
  for (int i = q; i >= 2; --i) tau[i] = tau[i - 1];
  if (q == 1 && mem->numSteps > 1) tau[2] = tau[1];
  tau[1] = mem->h;
  for (int j = 0; j <= q; ++j) {
    OdeVecCombine(mem->polyCoeffs[j], mem->correction, 1.0, zn[j], zn[j]);
  }
  mem->orderWait--;
  if (mem->orderWait == 1 && q != mem->maxOrder) {
    OdeVecMulScalar(1.0, mem->correction, zn[mem->maxOrder]);
    mem->savedTq5 = mem->testQuantities[5];
    mem->savedCorrectionIndex = mem->maxOrder;
  }
}

double odeRatioLowerOrder(OdeMemory *mem) {
  int q = mem->order;
  if (q == 1) {
    return 0.0;
  }
  double ddn = wrms(mem, mem->history[q]) * mem->testQuantities[1];
  return 1.0 / (odeRealPower(ddn * 6.0, 1.0 / q) + ADDON);
}

double odeRatioHigherOrder(OdeMemory *mem) {
  if (mem->order == mem->maxOrder || mem->savedTq5 == 0.0) {
    return 0.0;
  }
  int L = mem->orderPlus1;
  double cquot =
      odeIntPower(mem->h / mem->stepHistory[2], L) * (mem->testQuantities[5] / mem->savedTq5);
  OdeVecCombine(-cquot, mem->history[mem->maxOrder], 1.0, mem->correction, mem->scratch);
  double dup = wrms(mem, mem->scratch) * mem->testQuantities[3];
  return 1.0 / (odeRealPower(dup * 10.0, 1.0 / (L + 1)) + ADDON);
}

void odePickOrder(OdeMemory *mem) {
  double etam = std::max(mem->ratioLower, std::max(mem->ratioSame, mem->ratioHigher));
  if (etam < 1.5) {
    mem->stepRatio = 1.0;
    mem->nextOrder = mem->order;
    return;
  }
  if (etam == mem->ratioSame) {
    mem->stepRatio = mem->ratioSame;
    mem->nextOrder = mem->order;
  } else if (etam == mem->ratioLower) {
    mem->stepRatio = mem->ratioLower;
    mem->nextOrder = mem->order - 1;
  } else {
    mem->stepRatio = mem->ratioHigher;
    mem->nextOrder = mem->order + 1;
    if (mem->lmm == ODE_BDF) {
      OdeVecMulScalar(1.0, mem->correction, mem->history[mem->maxOrder]);
    }
  }
}

void odeLimitStepRatio(OdeMemory *mem) {
  if (mem->stepRatio < 1.5) {
    mem->stepRatio = 1.0;
    mem->nextH = mem->h;
    return;
  }
  double eta = std::min(mem->stepRatio, mem->maxStepRatio);
  eta = eta / std::max(1.0, std::fabs(mem->h) * mem->invHmax * eta);
  mem->stepRatio = eta;
  mem->nextH = mem->h * eta;
  // A step the time cannot hold is planned as the step to the end instead.
  const double finite = odeFiniteStep(mem, mem->nextH, mem->toutCopy, mem->itaskCopy);
  if (finite != mem->nextH) {
    mem->nextH = finite;
    mem->stepRatio = finite / mem->h;
  }
}

void odePlanNextStep(OdeMemory *mem, double dsm) {
  if (mem->maxStepRatio == 1.0) {
    mem->orderWait = std::max(mem->orderWait, 2);
    mem->nextOrder = mem->order;
    mem->nextH = mem->h;
    mem->stepRatio = 1.0;
    return;
  }
  mem->ratioSame = 1.0 / (odeRealPower(6.0 * dsm, 1.0 / mem->orderPlus1) + ADDON);
  if (mem->orderWait != 0) {
    mem->stepRatio = mem->ratioSame;
    mem->nextOrder = mem->order;
  } else {
    mem->orderWait = 2;
    mem->ratioLower = odeRatioLowerOrder(mem);
    mem->ratioHigher = odeRatioHigherOrder(mem);
    odePickOrder(mem);
  }
  odeLimitStepRatio(mem);
}

} // namespace

int odeTakeStep(OdeMemory *mem) {
  double savedT = mem->tcur;
  int ncf = 0;
  int nef = 0;
  int attempt = ATTEMPT_FIRST;
  double dsm = 0.0;

  if (mem->numSteps > 0 && mem->nextH != mem->h) {
    odeApplyStepAndOrder(mem);
    // Exactly the planned step (the rescale forms it from the ratio, which
    // gives the same value unless the call bounded the plan).
    mem->h = mem->plannedH = mem->hScale = mem->nextH;
  }
  for (;;) {
    odePredictHistory(mem);
    if (mem->lmm == ODE_ADAMS) {
      odeAdamsCoefficients(mem);
    } else {
      odeBdfCoefficients(mem);
    }
    mem->invL1 = 1.0 / mem->polyCoeffs[1];
    mem->gamma = mem->h * mem->invL1;
    if (mem->numSteps == 0) {
      mem->gammaAtSetup = mem->gamma;
    }
    mem->gammaRatio = mem->numSteps > 0 ? mem->gamma / mem->gammaAtSetup : 1.0;

    int r =
        mem->iter == ODE_NEWTON ? odeNewtonCorrector(mem, attempt) : odeFixedPointCorrector(mem);
    int outcome = odeCorrectorOutcome(mem, r, &attempt, savedT, &ncf);
    if (outcome == PREDICT_AGAIN) continue;
    if (outcome != DO_ERROR_TEST) return outcome;

    int e = odeLocalErrorTest(mem, &attempt, savedT, &nef, &dsm);
    if (e == TRY_AGAIN) continue;
    if (e != ODE_SUCCESS) return e;
    break;
  }
  odeAcceptStep(mem);
  odePlanNextStep(mem, dsm);
  mem->maxStepRatio = 10.0;
  OdeVecMulScalar(mem->testQuantities[2], mem->correction, mem->correction);
  return ODE_SUCCESS;
}
