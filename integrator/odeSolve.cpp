// The integration call and dense output.
//
// OdeSolve runs the first-call set-up (checks, initial derivative, initial
// step), then the stepping loop with its budget and accuracy checks, and
// weaves in the root checks and the step-stop test.  Whenever it gives up,
// the caller's output vector holds the last accepted solution, so that a
// caller that passes its own state array is never left at a trial point.
// Every step it takes ends at a finite time and, with a stop time set, not
// beyond the stop time, so that nothing is evaluated past it.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "integrator/ode_impl.h"

namespace {

void restoreOutput(OdeMemory *mem, double *tret) {
  OdeVecMulScalar(1.0, mem->history[0], mem->yout);
  *tret = mem->tcur;
}

int odeInitialSetup(OdeMemory *mem) {
  if (mem->tolKind == 0) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "odeInitialSetup",
                   "No integration tolerances have been specified.");
    return ODE_ILL_INPUT;
  }
  mem->ewtData = mem->userWeights ? mem->userData : mem;
  if (mem->ewtFn(mem->history[0], mem->ewt, mem->ewtData) != 0) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "odeInitialSetup",
                   "The user-provide EwtSet function failed.");
    return ODE_ILL_INPUT;
  }
  if (mem->iter == ODE_NEWTON) {
    if (mem->lsSolve == nullptr) {
      odeReportError(mem, ODE_ILL_INPUT, "ODE", "odeInitialSetup",
                     "The linear solver's solve routine is NULL.");
      return ODE_ILL_INPUT;
    }
    if (mem->lsInit != nullptr && mem->lsInit(mem) != 0) {
      odeReportError(mem, ODE_LINIT_FAIL, "ODE", "odeInitialSetup",
                     "The linear solver's init routine failed.");
      return ODE_LINIT_FAIL;
    }
  }
  return ODE_SUCCESS;
}

// ---------------------------------------------------------------------------
// Bounds of a step
// ---------------------------------------------------------------------------

// The step h from tcur as the call may take it: never past the stop time,
// and never so long that the time it reaches is no finite number.
double odeBoundedStep(const OdeMemory *mem, double h, double tout, int itask) {
  if (mem->tstopSet && (mem->tcur + h - mem->tstop) * h > 0.0) {
    h = odeStepTo(mem->tcur, mem->tstop);
  }
  return odeFiniteStep(mem, h, tout, itask);
}

// Before a step in the direction of h: ODE_SUCCESS while the stop time (if
// any) lies ahead; ODE_TSTOP_RETURN when tcur is at it; ODE_ILL_INPUT
// (reported) when it lies behind.
int odeCheckStopTime(OdeMemory *mem, double h) {
  if (!mem->tstopSet || (mem->tstop - mem->tcur) * h > 0.0) return ODE_SUCCESS;
  if (mem->tstop == mem->tcur) return ODE_TSTOP_RETURN;
  odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeSolve",
                 "The value tstop = %lg is behind current t = %lg in the direction of integration.",
                 mem->tstop, mem->tcur);
  return ODE_ILL_INPUT;
}

// ---------------------------------------------------------------------------
// Initial step size
// ---------------------------------------------------------------------------

// The root of a*b (a, b >= 0), also where the product overflows.
double odeRootOfProduct(double a, double b) {
  const double p = a * b;
  return std::isfinite(p) ? odeSafeSqrt(p) : odeSafeSqrt(a) * odeSafeSqrt(b);
}

double odeInitialStepBound(OdeMemory *mem, double tdist) {
  OdeVector *zn = mem->history;
  OdeVecAbsolute(zn[0], mem->correction);
  (void)mem->ewtFn(zn[0], mem->scratch, mem->ewtData);
  OdeVecReciprocal(mem->scratch, mem->scratch);
  OdeVecCombine(0.1, mem->correction, 1.0, mem->scratch, mem->scratch);
  OdeVecAbsolute(zn[1], mem->correction);
  OdeVecDivide(mem->correction, mem->scratch, mem->scratch);
  double hubInv = OdeVecMaxAbs(mem->scratch);
  double hub = 0.1 * tdist;
  if (hub * hubInv > 1.0) {
    hub = 1.0 / hubInv;
  }
  return hub;
}

// Norm of the second derivative estimated over hg: < 0 fatal, > 0
// recoverable failure of f.
int odeSecondDerivNorm(OdeMemory *mem, double hg, double *yddnrm) {
  OdeVector *zn = mem->history;
  OdeVecCombine(hg, zn[1], 1.0, zn[0], mem->yout);
  int r = mem->f(mem->tcur + hg, mem->yout, mem->scratch, mem->userData);
  mem->numRhsEvals++;
  if (r < 0) return -1;
  if (r > 0) return 1;
  OdeVecCombine(1.0, mem->scratch, -1.0, zn[1], mem->scratch);
  OdeVecMulScalar(1.0 / hg, mem->scratch, mem->scratch);
  *yddnrm = OdeVecWeightedRms(mem->scratch, mem->ewt);
  return 0;
}

int odeInitialStepSize(OdeMemory *mem, double tout) {
  double u = mem->unitRoundoff;
  double tdiff = tout - mem->tcur;
  if (tdiff == 0.0) return ODE_TOO_CLOSE;
  double sign = tdiff > 0.0 ? 1.0 : -1.0;
  double tdist = std::fabs(tdiff);
  double tround = u * std::max(std::fabs(mem->tcur), std::fabs(tout));
  if (tdist < 2.0 * tround) return ODE_TOO_CLOSE;

  double hlb = 100.0 * tround;
  double hub = odeInitialStepBound(mem, tdist);
  double hg = odeRootOfProduct(hlb, hub);
  if (hub < hlb) {
    mem->h = sign * hg;
    return ODE_SUCCESS;
  }

  bool hnewOk = false;
  double hs = hg;
  double hnew = hg;
  double yddnrm = 0.0;
  for (int pass = 1; pass <= 4; ++pass) {
    bool hgOk = false;
    for (int attempt = 1; attempt <= 4; ++attempt) {
      int r = odeSecondDerivNorm(mem, sign * hg, &yddnrm);
      if (r < 0) return ODE_RHSFUNC_FAIL;
      if (r == 0) {
        hgOk = true;
        break;
      }
      hg = 0.2 * hg;
    }
    if (!hgOk) {
      if (pass <= 2) return ODE_REPTD_RHSFUNC_ERR;
      hnew = hs;
      break;
    }
    hs = hg;
    if (hnewOk || pass == 4) {
      hnew = hg;
      break;
    }
    hnew = (yddnrm * hub * hub > 2.0) ? odeSafeSqrt(2.0 / yddnrm) : odeRootOfProduct(hg, hub);
    if (!std::isfinite(hnew)) hnew = hub; // a second derivative too small to measure
    double hrat = hnew / hg;
    if (hrat > 0.5 && hrat < 2.0) hnewOk = true;
    if (pass > 1 && hrat > 2.0) {
      hnew = hg;
      hnewOk = true;
    }
    hg = hnew;
  }
  double h = 0.5 * hnew;
  if (h < hlb) h = hlb;
  if (h > hub) h = hub;
  mem->h = sign * h;
  return ODE_SUCCESS;
}

// ---------------------------------------------------------------------------
// Failure report
// ---------------------------------------------------------------------------

void odeReportStepFailure(OdeMemory *mem, int flag) {
  const char *m = "ODE";
  const char *fn = "OdeSolve";
  double t = mem->tcur;
  double h = mem->h;
  switch (flag) {
  case ODE_ERR_FAILURE:
    odeReportError(mem, flag, m, fn,
                   "At t = %lg and h = %lg, the error test failed repeatedly or with |h| = hmin.",
                   t, h);
    break;
  case ODE_CONV_FAILURE:
    odeReportError(mem, flag, m, fn,
                   "At t = %lg and h = %lg, the corrector convergence test failed repeatedly or "
                   "with |h| = hmin.",
                   t, h);
    break;
  case ODE_LSETUP_FAIL:
    odeReportError(mem, flag, m, fn,
                   "At t = %lg, the setup routine failed in an unrecoverable manner.", t);
    break;
  case ODE_LSOLVE_FAIL:
    odeReportError(mem, flag, m, fn,
                   "At t = %lg, the solve routine failed in an unrecoverable manner.", t);
    break;
  case ODE_RHSFUNC_FAIL:
    odeReportError(mem, flag, m, fn,
                   "At t = %lg, the right-hand side routine failed in an unrecoverable manner.", t);
    break;
  case ODE_REPTD_RHSFUNC_ERR:
    odeReportError(mem, flag, m, fn,
                   "At t = %lg repeated recoverable right-hand side function errors.", t);
    break;
  case ODE_UNREC_RHSFUNC_ERR:
    odeReportError(mem, flag, m, fn,
                   "At t = %lg, the right-hand side failed in a recoverable manner, but no "
                   "recovery is possible.",
                   t);
    break;
  case ODE_RTFUNC_FAIL:
    odeReportError(mem, flag, m, fn,
                   "At t = %lg, the rootfinding routine failed in an unrecoverable manner.", t);
    break;
  case ODE_TOO_CLOSE:
    odeReportError(mem, flag, m, fn, "tout too close to t0 to start integration.");
    break;
  default:
    break;
  }
}

void reportRootFailure(OdeMemory *mem, const char *function, double t) {
  odeReportError(mem, ODE_RTFUNC_FAIL, "ODE", function,
                 "At t = %lg, the rootfinding routine failed in an unrecoverable manner.", t);
}

// The first call after (re)initialisation: set-up, f at t0, initial step,
// first root check.
int odeFirstCall(OdeMemory *mem, double tout, double *tret, int itask) {
  OdeVector *zn = mem->history;
  *tret = mem->tretLast = mem->tcur;
  int r = odeInitialSetup(mem);
  if (r != ODE_SUCCESS) return r;

  r = mem->f(mem->tcur, zn[0], zn[1], mem->userData);
  mem->numRhsEvals++;
  if (r < 0) {
    odeReportError(mem, ODE_RHSFUNC_FAIL, "ODE", "OdeSolve",
                   "At t = %lg, the right-hand side routine failed in an unrecoverable manner.",
                   mem->tcur);
    return ODE_RHSFUNC_FAIL;
  }
  if (r > 0) {
    odeReportError(mem, ODE_FIRST_RHSFUNC_ERR, "ODE", "OdeSolve",
                   "The right-hand side routine failed at the first call.");
    return ODE_FIRST_RHSFUNC_ERR;
  }

  mem->h = mem->h0;
  if (mem->h0 == 0.0) {
    r = odeInitialStepSize(mem, tout);
    if (r != ODE_SUCCESS) {
      odeReportStepFailure(mem, r);
      restoreOutput(mem, tret);
      return r;
    }
  } else if ((tout - mem->tcur) * mem->h < 0.0) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeSolve", "h0 and tout - t0 inconsistent.");
    return ODE_ILL_INPUT;
  }
  double rh = std::fabs(mem->h) * mem->invHmax;
  if (rh > 1.0) mem->h = mem->h / rh;
  if (std::fabs(mem->h) < mem->hmin) mem->h = mem->h * mem->hmin / std::fabs(mem->h);
  r = odeCheckStopTime(mem, mem->h);
  if (r != ODE_SUCCESS) {
    restoreOutput(mem, tret);
    return r;
  }
  mem->h = odeBoundedStep(mem, mem->h, tout, itask);

  mem->hScale = mem->firstH = mem->plannedH = mem->h;
  OdeVecMulScalar(mem->h, zn[1], zn[1]);

  if (mem->numRoots > 0) {
    r = odeRcheck1(mem);
    if (r == ODE_RTFUNC_FAIL) {
      reportRootFailure(mem, "odeRcheck1", mem->tcur);
      restoreOutput(mem, tret);
      return ODE_RTFUNC_FAIL;
    }
  }
  return ODE_SUCCESS;
}

constexpr int KEEP_GOING = 100;

// The checks of a later call before it steps: a root left over from the
// previous call, and tout already reached.  KEEP_GOING when none applies.
int odeLaterCall(OdeMemory *mem, double tout, double *tret, int itask) {
  double troundoff = (std::fabs(mem->tcur) + std::fabs(mem->h)) * (mem->unitRoundoff * 100.0);
  if (mem->numRoots > 0) {
    int previouslyFound = mem->rootFound;
    int r = odeRcheck2(mem);
    if (r == ODE_CLOSE_ROOTS) {
      odeReportError(mem, ODE_ILL_INPUT, "ODE", "odeRcheck2",
                     "Root found at and very near t = %lg.", mem->tLow);
      restoreOutput(mem, tret);
      return ODE_ILL_INPUT;
    }
    if (r == ODE_RTFUNC_FAIL) {
      reportRootFailure(mem, "odeRcheck2", mem->tLow);
      restoreOutput(mem, tret);
      return ODE_RTFUNC_FAIL;
    }
    if (r == ODE_ROOT_FOUND) {
      *tret = mem->tretLast = mem->tLow;
      return ODE_ROOT_RETURN;
    }
    if (std::fabs(mem->tcur - mem->tretLast) > troundoff) {
      r = odeRcheck3(mem);
      if (r == ODE_SUCCESS) {
        mem->rootFound = 0;
        if (previouslyFound == 1 && itask == ODE_ONE_STEP) {
          *tret = mem->tretLast = mem->tcur;
          OdeVecMulScalar(1.0, mem->history[0], mem->yout);
          return ODE_SUCCESS;
        }
      } else if (r == ODE_ROOT_FOUND) {
        mem->rootFound = 1;
        *tret = mem->tretLast = mem->tLow;
        return ODE_ROOT_RETURN;
      } else {
        reportRootFailure(mem, "odeRcheck3", mem->tLow);
        restoreOutput(mem, tret);
        return ODE_RTFUNC_FAIL;
      }
    }
  }
  if (itask == ODE_NORMAL && (mem->tcur - tout) * mem->h >= 0.0) {
    *tret = mem->tretLast = tout;
    if (odeInterpolate(mem, tout, 0, mem->yout) != ODE_SUCCESS) {
      odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeSolve",
                     "Trouble interpolating at tout = %lg. tout too far back in direction of "
                     "integration",
                     tout);
      restoreOutput(mem, tret);
      return ODE_ILL_INPUT;
    }
    return ODE_SUCCESS;
  }
  if (itask == ODE_ONE_STEP && std::fabs(mem->tcur - mem->tretLast) > troundoff) {
    *tret = mem->tretLast = mem->tcur;
    OdeVecMulScalar(1.0, mem->history[0], mem->yout);
    return ODE_SUCCESS;
  }
  return KEEP_GOING;
}

// The step-stop callback after a step without a root: true when it fired
// (tret and yout are then set).
bool odeStepStop(OdeMemory *mem, double *tret, int itask) {
  if (mem->stepRootFn == nullptr || mem->stepRootFn(mem->userData) == 0) {
    return false;
  }
  if (itask == ODE_ONE_STEP || (mem->toutCopy - mem->tcur) * mem->h >= 0.0) {
    mem->tHigh = mem->tcur;
    OdeVecMulScalar(1.0, mem->history[0], mem->yout);
  } else {
    mem->tHigh = mem->toutCopy;
    (void)odeInterpolate(mem, mem->toutCopy, 0, mem->yout);
  }
  mem->rootFound = 1;
  *tret = mem->tretLast = mem->tHigh;
  return true;
}

} // namespace

double odeStepTo(double t, double end) {
  double d = end - t;
  if (!std::isfinite(d)) d = std::copysign(DBL_MAX, d);
  while (d != 0.0 && (t + d - end) * d > 0.0) d = std::nextafter(d, 0.0);
  return d;
}

double odeFiniteStep(const OdeMemory *mem, double h, double tout, int itask) {
  if (std::isfinite(mem->tcur + h)) return h;
  const bool endAhead = itask == ODE_NORMAL && (tout - mem->tcur) * h > 0.0;
  return odeStepTo(mem->tcur, endAhead ? tout : std::copysign(DBL_MAX, h));
}

// ---------------------------------------------------------------------------
// OdeSolve
// ---------------------------------------------------------------------------

int OdeSolve(OdeMemory *mem, double tout, OdeVector yout, double *tret, int itask) {
  if (mem == nullptr) {
    odeReportError(nullptr, ODE_MEM_NULL, "ODE", "OdeSolve", "ode_mem = NULL illegal.");
    return ODE_MEM_NULL;
  }
  if (!mem->initialized) {
    odeReportError(mem, ODE_NO_MALLOC, "ODE", "OdeSolve", "Attempt to call before OdeInit.");
    return ODE_NO_MALLOC;
  }
  mem->yout = yout;
  if (yout == nullptr) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeSolve", "yout = NULL illegal.");
    return ODE_ILL_INPUT;
  }
  if (tret == nullptr) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeSolve", "tret = NULL illegal.");
    return ODE_ILL_INPUT;
  }
  if (itask != ODE_NORMAL && itask != ODE_ONE_STEP) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeSolve", "Illegal value for itask.");
    return ODE_ILL_INPUT;
  }
  // A time that is no finite number would become a step to the end of the
  // double range (or no step at all): refused before anything is evaluated.
  if (!std::isfinite(tout)) {
    odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeSolve", "tout = %lg illegal.", tout);
    return ODE_ILL_INPUT;
  }
  if (itask == ODE_NORMAL) {
    mem->toutCopy = tout;
  }
  mem->itaskCopy = itask;

  if (mem->numSteps == 0) {
    int r = odeFirstCall(mem, tout, tret, itask);
    if (r != ODE_SUCCESS) return r;
  } else {
    int r = odeLaterCall(mem, tout, tret, itask);
    if (r != KEEP_GOING) return r;
  }

  OdeVector *zn = mem->history;
  int nstloc = 0;
  for (;;) {
    mem->plannedH = mem->h;
    mem->plannedOrder = mem->order;

    int r = odeCheckStopTime(mem, mem->h);
    if (r != ODE_SUCCESS) {
      restoreOutput(mem, tret);
      mem->tretLast = *tret;
      return r;
    }

    if (mem->numSteps > 0 && mem->ewtFn(zn[0], mem->ewt, mem->ewtData) != 0) {
      odeReportError(mem, ODE_ILL_INPUT, "ODE", "OdeSolve",
                     "At t = %lg, the user-provide EwtSet function failed.", mem->tcur);
      *tret = mem->tretLast = mem->tcur;
      OdeVecMulScalar(1.0, zn[0], yout);
      return ODE_ILL_INPUT;
    }
    if (mem->mxstep > 0 && nstloc >= mem->mxstep) {
      odeReportError(mem, ODE_TOO_MUCH_WORK, "ODE", "OdeSolve",
                     "At t = %lg, mxstep steps taken before reaching tout.", mem->tcur);
      *tret = mem->tretLast = mem->tcur;
      OdeVecMulScalar(1.0, zn[0], yout);
      return ODE_TOO_MUCH_WORK;
    }
    mem->tolScaleFactor = mem->unitRoundoff * OdeVecWeightedRms(zn[0], mem->ewt);
    if (mem->tolScaleFactor > 1.0) {
      odeReportError(mem, ODE_TOO_MUCH_ACC, "ODE", "OdeSolve",
                     "At t = %lg, too much accuracy requested.", mem->tcur);
      mem->tolScaleFactor = mem->tolScaleFactor * 2.0;
      *tret = mem->tretLast = mem->tcur;
      OdeVecMulScalar(1.0, zn[0], yout);
      return ODE_TOO_MUCH_ACC;
    }
    mem->tolScaleFactor = 1.0;

    if (mem->tcur + mem->h == mem->tcur) {
      mem->numTinyStepWarnings++;
      if (mem->numTinyStepWarnings <= mem->mxhnil) {
        odeReportError(mem, ODE_WARNING, "ODE", "OdeSolve",
                       "Internal t = %lg and h = %lg are such that t + h = t on the next step. "
                       "The solver will continue anyway.",
                       mem->tcur, mem->h);
      }
      if (mem->numTinyStepWarnings == mem->mxhnil) {
        odeReportError(mem, ODE_WARNING, "ODE", "OdeSolve",
                       "The above warning has been issued mxhnil times and will not be issued "
                       "again for this problem.");
      }
    }

    // The step odeTakeStep is about to apply, within its bounds.
    if (mem->numSteps > 0) {
      const double bounded = odeBoundedStep(mem, mem->nextH, tout, itask);
      if (bounded != mem->nextH) {
        mem->nextH = bounded;
        mem->stepRatio = bounded / mem->hScale;
      }
    }

    r = odeTakeStep(mem);
    if (r != ODE_SUCCESS) {
      *tret = mem->tretLast = mem->tcur;
      OdeVecMulScalar(1.0, zn[0], yout);
      odeReportStepFailure(mem, r);
      return r;
    }
    nstloc++;

    if (mem->numRoots > 0) {
      r = odeRcheck3(mem);
      if (r == ODE_ROOT_FOUND) {
        mem->rootFound = 1;
        *tret = mem->tretLast = mem->tLow;
        return ODE_ROOT_RETURN;
      }
      if (r == ODE_RTFUNC_FAIL) {
        reportRootFailure(mem, "odeRcheck3", mem->tLow);
        restoreOutput(mem, tret);
        return ODE_RTFUNC_FAIL;
      }
      if (mem->numSteps == 1 && mem->maxZeroRootWarnings > 0) {
        bool inactive = false;
        for (int i = 0; i < mem->numRoots; ++i) {
          if (mem->rootActive[i] == 0) inactive = true;
        }
        if (inactive) {
          odeReportError(mem, ODE_WARNING, "ODES", "OdeSolve",
                         "At the end of the first step, there are still some root functions "
                         "identically 0. This warning will not be issued again.");
        }
      }
    }

    if (odeStepStop(mem, tret, itask)) {
      return ODE_ROOT_RETURN;
    }

    if (itask == ODE_NORMAL && (mem->tcur - tout) * mem->h >= 0.0) {
      *tret = mem->tretLast = tout;
      (void)odeInterpolate(mem, tout, 0, yout);
      mem->plannedOrder = mem->nextOrder;
      mem->plannedH = mem->nextH;
      return ODE_SUCCESS;
    }
    if (mem->tstopSet && (mem->tcur - mem->tstop) * mem->h >= 0.0) {
      *tret = mem->tretLast = mem->tcur;
      OdeVecMulScalar(1.0, zn[0], yout);
      mem->plannedOrder = mem->nextOrder;
      mem->plannedH = mem->nextH;
      return ODE_TSTOP_RETURN;
    }
    if (itask == ODE_ONE_STEP) {
      *tret = mem->tretLast = mem->tcur;
      OdeVecMulScalar(1.0, zn[0], yout);
      mem->plannedOrder = mem->nextOrder;
      mem->plannedH = mem->nextH;
      return ODE_SUCCESS;
    }
  }
}

// ---------------------------------------------------------------------------
// Dense output
// ---------------------------------------------------------------------------

int odeInterpolate(OdeMemory *mem, double t, int k, OdeVector dky) {
  int q = mem->order;
  if (k < 0 || k > q) return ODE_BAD_K;
  double u = mem->unitRoundoff;
  double tfuzz = (std::fabs(mem->tcur) + std::fabs(mem->hu)) * (u * 100.0);
  if (mem->hu < 0.0) tfuzz = -tfuzz;
  double tp = mem->tcur - mem->hu - tfuzz;
  double tn1 = mem->tcur + tfuzz;
  if ((t - tp) * (t - tn1) > 0.0) return ODE_BAD_T;

  OdeVector *zn = mem->history;
  double s = (t - mem->tcur) / mem->h;
  for (int j = q; j >= k; --j) {
    double c = 1.0;
    for (int i = j; i >= j - k + 1; --i) c *= i;
    if (j == q) {
      OdeVecMulScalar(c, zn[q], dky);
    } else {
      OdeVecCombine(c, zn[j], s, dky, dky);
    }
  }
  if (k > 0) {
    OdeVecMulScalar(odeIntPower(mem->h, -k), dky, dky);
  }
  return ODE_SUCCESS;
}

int OdeGetDky(OdeMemory *mem, double t, int k, OdeVector dky) {
  if (mem == nullptr) {
    odeReportError(nullptr, ODE_MEM_NULL, "ODE", "OdeGetDky", "ode_mem = NULL illegal.");
    return ODE_MEM_NULL;
  }
  if (dky == nullptr) {
    odeReportError(mem, ODE_BAD_DKY, "ODE", "OdeGetDky", "dky = NULL illegal.");
    return ODE_BAD_DKY;
  }
  if (!mem->initialized) {
    odeReportError(mem, ODE_NO_MALLOC, "ODE", "OdeGetDky", "Attempt to call before OdeInit.");
    return ODE_NO_MALLOC;
  }
  int r = odeInterpolate(mem, t, k, dky);
  if (r == ODE_BAD_K) {
    odeReportError(mem, ODE_BAD_K, "ODE", "OdeGetDky", "Illegal value for k.");
  } else if (r == ODE_BAD_T) {
    odeReportError(mem, ODE_BAD_T, "ODE", "OdeGetDky",
                   "Illegal value for t.t = %lg is not between tcur - hu = %lg and tcur = %lg.", t,
                   mem->tcur - mem->hu, mem->tcur);
  }
  return r;
}
