// Root finding on the user's root functions g_i(t, y).
//
// After every step the sign of each active g_i at the end of the search
// interval is compared with its sign at the start (tLow); a change is
// located by a secant search with the Illinois modification, on the dense
// output of the step.  A function that is exactly zero where a search starts
// is inactive until it is seen non-zero again, so that a root that was just
// returned is not found a second time.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "integrator/ode_impl.h"

namespace {

void computeRootTol(OdeMemory *mem) {
  mem->rootTol = ((std::fabs(mem->tcur) + std::fabs(mem->h)) * mem->unitRoundoff) * 100.0;
}

int evalG(OdeMemory *mem, double t, OdeVector y, double *gout) {
  int r = mem->g(t, y, gout, mem->userData);
  mem->numGEvals++;
  return r;
}

void copyG(OdeMemory *mem, double *to, const double *from) {
  std::memcpy(to, from, sizeof(double) * static_cast<size_t>(mem->numRoots));
}

// Scans gNew against gLow over the active functions: whether some gNew is
// exactly zero, whether some sign changes, and which change to follow.
struct Scan {
  bool zero = false;
  bool signChange = false;
  int imax = 0;
};

Scan scanRoots(OdeMemory *mem, const double *gNew) {
  Scan s;
  double maxfrac = 0.0;
  for (int i = 0; i < mem->numRoots; ++i) {
    if (!mem->rootActive[i]) continue;
    if (std::fabs(gNew[i]) == 0.0) {
      s.zero = true;
    } else if (mem->gLow[i] * gNew[i] < 0.0) {
      s.signChange = true;
      double gfrac = std::fabs(gNew[i] / (gNew[i] - mem->gLow[i]));
      if (gfrac > maxfrac) {
        maxfrac = gfrac;
        s.imax = i;
      }
    }
  }
  return s;
}

// Marks the functions with a root at the end of the interval [tLow, tHigh].
void markRoots(OdeMemory *mem) {
  for (int i = 0; i < mem->numRoots; ++i) {
    mem->rootInfo[i] = 0;
    if (!mem->rootActive[i]) continue;
    if (std::fabs(mem->gHigh[i]) == 0.0 || mem->gLow[i] * mem->gHigh[i] < 0.0) {
      mem->rootInfo[i] = mem->gLow[i] > 0.0 ? -1 : 1;
    }
  }
}

// The part of the interval to move a too-close secant point inward by.
double shiftInside(double tLow, double tHigh, double rootTol) {
  double fracint = std::fabs(tHigh - tLow) / rootTol;
  double fracsub = fracint > 5.0 ? 0.1 : 0.5 / fracint;
  return fracsub * (tHigh - tLow);
}

int odeLocateRoot(OdeMemory *mem) {
  Scan s = scanRoots(mem, mem->gHigh);
  if (!s.signChange) {
    mem->tRoot = mem->tHigh;
    copyG(mem, mem->gRoot, mem->gHigh);
    if (!s.zero) {
      return ODE_SUCCESS;
    }
    for (int i = 0; i < mem->numRoots; ++i) {
      mem->rootInfo[i] = 0;
      if (mem->rootActive[i] && std::fabs(mem->gHigh[i]) == 0.0) {
        mem->rootInfo[i] = mem->gLow[i] > 0.0 ? -1 : 1;
      }
    }
    return ODE_ROOT_FOUND;
  }

  int imax = s.imax;
  double alpha = 1.0;
  int side = 0;
  int sidePrev = -1;
  for (;;) {
    if (std::fabs(mem->tHigh - mem->tLow) <= mem->rootTol) break;
    if (side == sidePrev) {
      alpha = side == 2 ? 2.0 * alpha : 0.5 * alpha;
    } else {
      alpha = 1.0;
    }
    double tmid = mem->tHigh - (mem->tHigh - mem->tLow) * mem->gHigh[imax] /
                                   (mem->gHigh[imax] - alpha * mem->gLow[imax]);
    // Keep tmid clear of both ends, so the interval shrinks every pass.
    if (std::fabs(tmid - mem->tLow) < 0.5 * mem->rootTol) {
      tmid = mem->tLow + shiftInside(mem->tLow, mem->tHigh, mem->rootTol);
    }
    if (std::fabs(mem->tHigh - tmid) < 0.5 * mem->rootTol) {
      tmid = mem->tHigh - shiftInside(mem->tLow, mem->tHigh, mem->rootTol);
    }
    (void)odeInterpolate(mem, tmid, 0, mem->yout);
    if (evalG(mem, tmid, mem->yout, mem->gRoot) != 0) return ODE_RTFUNC_FAIL;
    sidePrev = side;
    Scan m = scanRoots(mem, mem->gRoot);
    if (m.signChange) {
      imax = m.imax;
      mem->tHigh = tmid;
      copyG(mem, mem->gHigh, mem->gRoot);
      side = 1;
      if (std::fabs(mem->tHigh - mem->tLow) <= mem->rootTol) break;
      continue;
    }
    if (m.zero) {
      mem->tHigh = tmid;
      copyG(mem, mem->gHigh, mem->gRoot);
      break;
    }
    mem->tLow = tmid;
    copyG(mem, mem->gLow, mem->gRoot);
    side = 2;
    if (std::fabs(mem->tHigh - mem->tLow) <= mem->rootTol) break;
  }
  mem->tRoot = mem->tHigh;
  copyG(mem, mem->gRoot, mem->gHigh);
  markRoots(mem);
  return ODE_ROOT_FOUND;
}

} // namespace

int odeRcheck1(OdeMemory *mem) {
  OdeVector *zn = mem->history;
  for (int i = 0; i < mem->numRoots; ++i) mem->rootInfo[i] = 0;
  mem->tLow = mem->tcur;
  computeRootTol(mem);
  int r = mem->g(mem->tLow, zn[0], mem->gLow, mem->userData);
  mem->numGEvals = 1;
  if (r != 0) return ODE_RTFUNC_FAIL;
  bool zero = false;
  for (int i = 0; i < mem->numRoots; ++i) {
    if (std::fabs(mem->gLow[i]) == 0.0) {
      zero = true;
      mem->rootActive[i] = 0;
    }
  }
  if (!zero) return ODE_SUCCESS;
  // Look a little ahead for the functions that start at zero.
  double hratio = std::max(mem->rootTol / std::fabs(mem->h), 0.1);
  OdeVecCombine(1.0, zn[0], hratio, zn[1], mem->yout);
  if (evalG(mem, mem->tLow + hratio * mem->h, mem->yout, mem->gHigh) != 0) {
    return ODE_RTFUNC_FAIL;
  }
  for (int i = 0; i < mem->numRoots; ++i) {
    if (!mem->rootActive[i] && std::fabs(mem->gHigh[i]) != 0.0) {
      mem->rootActive[i] = 1;
      mem->gLow[i] = mem->gHigh[i];
    }
  }
  return ODE_SUCCESS;
}

int odeRcheck2(OdeMemory *mem) {
  if (mem->rootFound == 0) return ODE_SUCCESS;
  (void)odeInterpolate(mem, mem->tLow, 0, mem->yout);
  if (evalG(mem, mem->tLow, mem->yout, mem->gLow) != 0) return ODE_RTFUNC_FAIL;
  bool zero = false;
  for (int i = 0; i < mem->numRoots; ++i) mem->rootInfo[i] = 0;
  for (int i = 0; i < mem->numRoots; ++i) {
    if (mem->rootActive[i] && std::fabs(mem->gLow[i]) == 0.0) {
      zero = true;
      mem->rootInfo[i] = 1;
    }
  }
  if (!zero) return ODE_SUCCESS;
  computeRootTol(mem);
  double smallh = mem->h > 0.0 ? mem->rootTol : -mem->rootTol;
  double tplus = mem->tLow + smallh;
  if ((tplus - mem->tcur) * mem->h >= 0.0) {
    OdeVecCombine(1.0, mem->yout, smallh / mem->h, mem->history[1], mem->yout);
  } else {
    (void)odeInterpolate(mem, tplus, 0, mem->yout);
  }
  if (evalG(mem, tplus, mem->yout, mem->gHigh) != 0) return ODE_RTFUNC_FAIL;
  bool newRoot = false;
  for (int i = 0; i < mem->numRoots; ++i) {
    if (!mem->rootActive[i]) continue;
    if (std::fabs(mem->gHigh[i]) == 0.0) {
      if (mem->rootInfo[i] == 1) return ODE_CLOSE_ROOTS;
      newRoot = true;
      mem->rootInfo[i] = 1;
    } else if (mem->rootInfo[i] == 1) {
      mem->gLow[i] = mem->gHigh[i];
    }
  }
  return newRoot ? ODE_ROOT_FOUND : ODE_SUCCESS;
}

int odeRcheck3(OdeMemory *mem) {
  OdeVector *zn = mem->history;
  if (mem->itaskCopy == ODE_ONE_STEP || (mem->toutCopy - mem->tcur) * mem->h >= 0.0) {
    mem->tHigh = mem->tcur;
    OdeVecMulScalar(1.0, zn[0], mem->yout);
  } else {
    mem->tHigh = mem->toutCopy;
    (void)odeInterpolate(mem, mem->tHigh, 0, mem->yout);
  }
  // Nothing lies between the start of the search and tout (a call again with
  // the tout of a root just returned): no search, so that a root at tout is
  // not found a second time.  The search resumes from tLow on the next call.
  if ((mem->tHigh - mem->tLow) * mem->h <= 0.0) return ODE_SUCCESS;
  if (evalG(mem, mem->tHigh, mem->yout, mem->gHigh) != 0) return ODE_RTFUNC_FAIL;
  computeRootTol(mem);
  int r = odeLocateRoot(mem);
  if (r == ODE_RTFUNC_FAIL) return ODE_RTFUNC_FAIL;
  for (int i = 0; i < mem->numRoots; ++i) {
    if (!mem->rootActive[i] && mem->gRoot[i] != 0.0) mem->rootActive[i] = 1;
  }
  mem->tLow = mem->tRoot;
  copyG(mem, mem->gLow, mem->gRoot);
  if (r == ODE_SUCCESS) return ODE_SUCCESS;
  (void)odeInterpolate(mem, mem->tRoot, 0, mem->yout);
  return ODE_ROOT_FOUND;
}
