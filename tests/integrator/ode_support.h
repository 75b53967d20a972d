// Shared pieces of the integrator tests: an error handler that records
// every report, tolerance-based error weights, the decay problem and a small
// owner of one integrator set-up.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "integrator/ode.h"
#include "integrator/ode_impl.h"

namespace odetest {

struct Report {
  int code;
  std::string module;
  std::string function;
  std::string message;
};

inline void recordReport(int code, const char *module, const char *function, const char *message,
                         void *data) {
  static_cast<std::vector<Report> *>(data)->push_back({code, module, function, message});
}

inline double *data(OdeVector v) { return OdeVecGetData(v); }
inline int length(OdeVector v) { return static_cast<OdeVectorSerialContent *>(v->content)->length; }

// A problem: right-hand side, optional roots and Jacobian, tolerances.
struct Problem {
  std::function<int(double, const double *, double *)> rhs;
  std::function<int(double, const double *, double *)> roots;
  std::function<int(double, const double *, double *)> jac; // column-major n x n
  std::function<int()> stepStop;
  double rtol = 1e-6;
  std::vector<double> atol;
  int rhsCalls = 0;
};

// y' = -y with tight tolerances: y = y0 * exp(t0 - t).
inline Problem decay() {
  Problem p;
  p.rhs = [](double, const double *y, double *yd) {
    yd[0] = -y[0];
    return 0;
  };
  p.rtol = 1e-6;
  p.atol = {1e-10};
  return p;
}

inline int problemRhs(double t, OdeVector y, OdeVector ydot, void *user) {
  auto *p = static_cast<Problem *>(user);
  p->rhsCalls++;
  return p->rhs(t, data(y), data(ydot));
}

inline int problemRoots(double t, OdeVector y, double *gout, void *user) {
  return static_cast<Problem *>(user)->roots(t, data(y), gout);
}

inline int problemStepStop(void *user) { return static_cast<Problem *>(user)->stepStop(); }

inline int problemEwt(OdeVector y, OdeVector ewt, void *user) {
  auto *p = static_cast<Problem *>(user);
  int n = length(y);
  for (int i = 0; i < n; ++i) {
    double w = p->rtol * std::fabs(data(y)[i]) + p->atol[static_cast<size_t>(i)];
    if (w <= 0.0) return -1;
    data(ewt)[i] = 1.0 / w;
  }
  return 0;
}

inline int problemJac(long n, double t, OdeVector y, OdeVector, DenseMatrix *J, void *user,
                      OdeVector, OdeVector, OdeVector) {
  (void)n;
  auto *p = static_cast<Problem *>(user);
  return p->jac(t, data(y), J->data);
}

// One integrator over a problem: created, initialised, weights and (for
// Newton) the dense solver attached; reports are recorded.
struct Integrator {
  OdeMemory *mem = nullptr;
  OdeVector y = nullptr;
  std::vector<Report> reports;

  Integrator(Problem &p, int lmm, int iter, double t0, const std::vector<double> &y0,
             int numRoots = 0) {
    y = OdeVecNew_Serial(static_cast<int>(y0.size()));
    for (size_t i = 0; i < y0.size(); ++i) data(y)[i] = y0[i];
    mem = OdeCreate(lmm, iter);
    EXPECT_EQ(OdeInit(mem, problemRhs, t0, y), ODE_SUCCESS);
    EXPECT_EQ(OdeSetUserData(mem, &p), ODE_SUCCESS);
    EXPECT_EQ(OdeWFtolerances(mem, problemEwt), ODE_SUCCESS);
    if (numRoots > 0) {
      EXPECT_EQ(OdeRootInit(mem, numRoots, problemRoots), ODE_SUCCESS);
    }
    if (p.stepStop) {
      EXPECT_EQ(OdeStepRootInit(mem, problemStepStop), ODE_SUCCESS);
    }
    if (iter == ODE_NEWTON) {
      EXPECT_EQ(OdeDense(mem, static_cast<long>(y0.size())), ODEDLS_SUCCESS);
      if (p.jac) {
        EXPECT_EQ(OdeDlsSetDenseJacFn(mem, problemJac), ODEDLS_SUCCESS);
      }
    }
    EXPECT_EQ(OdeSetErrHandlerFn(mem, recordReport, &reports), ODE_SUCCESS);
  }
  ~Integrator() {
    OdeDestroy(&mem);
    OdeVecDispose(y);
  }
  Integrator(const Integrator &) = delete;
  Integrator &operator=(const Integrator &) = delete;

  double operator[](int i) const { return data(y)[i]; }
  int solve(double tout, double *tret, int itask = ODE_NORMAL) {
    return OdeSolve(mem, tout, y, tret, itask);
  }
};

} // namespace odetest
