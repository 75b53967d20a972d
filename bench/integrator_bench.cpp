// The integrator on classic test problems: work counters, the error against
// a reference solution, and the time per internal step.
//
// Each benchmark integrates one problem from its start to its end per
// iteration and reports, as counters: internal steps, right-hand-side
// evaluations of the integrator itself and of its difference-quotient
// Jacobian, Jacobian evaluations, LU factorisations, error-test and
// convergence failures, the error against the reference (in units of the
// tolerance where that is meaningful) and the time per step.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "integrator/ode.h"
#include "integrator/ode_impl.h"

namespace {

struct Tolerances {
  double rtol;
  std::vector<double> atol;
};

int weights(OdeVector y, OdeVector ewt, void *user) {
  auto *tol = static_cast<Tolerances *>(user);
  const double *yd = OdeVecGetData(y);
  double *w = OdeVecGetData(ewt);
  int n = static_cast<OdeVectorSerialContent *>(y->content)->length;
  for (int i = 0; i < n; ++i) {
    w[i] = 1.0 / (tol->rtol * std::fabs(yd[i]) + tol->atol[static_cast<size_t>(i)]);
  }
  return 0;
}

int robertsonRhs(double, OdeVector y, OdeVector ydot, void *) {
  const double *v = OdeVecGetData(y);
  double *d = OdeVecGetData(ydot);
  d[0] = -0.04 * v[0] + 1e4 * v[1] * v[2];
  d[2] = 3e7 * v[1] * v[1];
  d[1] = -d[0] - d[2];
  return 0;
}

int vanDerPolRhs(double, OdeVector y, OdeVector ydot, void *) {
  const double *v = OdeVecGetData(y);
  double *d = OdeVecGetData(ydot);
  constexpr double mu = 1000.0;
  d[0] = v[1];
  d[1] = mu * ((1.0 - v[0] * v[0]) * v[1]) - v[0];
  return 0;
}

int decayRhs(double, OdeVector y, OdeVector ydot, void *) {
  OdeVecGetData(ydot)[0] = -OdeVecGetData(y)[0];
  return 0;
}

int oscillatorRhs(double, OdeVector y, OdeVector ydot, void *) {
  const double *v = OdeVecGetData(y);
  double *d = OdeVecGetData(ydot);
  d[0] = v[1];
  d[1] = -v[0];
  return 0;
}

struct Run {
  int steps = 0;
  int rhs = 0;
  int rhsDQ = 0;
  int jac = 0;
  int lu = 0;
  int errFails = 0;
  int convFails = 0;
  double error = 0.0;
  bool ok = true;
};

// Integrates through the outputs; check() gives the error at the end.
template <typename Check>
Run integrate(int lmm, int iter, OdeRhsFunction f, std::vector<double> y0, Tolerances tol,
              const std::vector<double> &outputs, Check check) {
  Run run;
  OdeVector y = OdeVecNew_Serial(static_cast<int>(y0.size()));
  for (size_t i = 0; i < y0.size(); ++i) OdeVecGetData(y)[i] = y0[i];
  OdeMemory *mem = OdeCreate(lmm, iter);
  run.ok = OdeInit(mem, f, 0.0, y) == ODE_SUCCESS && OdeSetUserData(mem, &tol) == ODE_SUCCESS &&
           OdeWFtolerances(mem, weights) == ODE_SUCCESS &&
           OdeSetMaxNumSteps(mem, -1) == ODE_SUCCESS &&
           (iter != ODE_NEWTON || OdeDense(mem, static_cast<long>(y0.size())) == ODEDLS_SUCCESS);
  double tret = 0.0;
  for (double tout : outputs) {
    if (!run.ok) break;
    run.ok = OdeSolve(mem, tout, y, &tret, ODE_NORMAL) == ODE_SUCCESS;
  }
  run.steps = mem->numSteps;
  run.rhs = mem->numRhsEvals;
  run.errFails = mem->numErrTestFails;
  run.convFails = mem->numConvFails;
  run.lu = mem->numSetups;
  if (auto *dls = static_cast<OdeDenseSolverMemory *>(mem->lsMemory)) {
    run.rhsDQ = dls->numRhsEvalsDQ;
    run.jac = dls->numJacEvals;
  }
  run.error = check(OdeVecGetData(y), tret);
  OdeDestroy(&mem);
  OdeVecDispose(y);
  return run;
}

template <typename Problem> void measure(benchmark::State &state, Problem problem) {
  Run run;
  double seconds = 0.0;
  long steps = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    run = problem();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    steps += run.steps;
    benchmark::DoNotOptimize(run);
  }
  if (!run.ok) {
    state.SkipWithError("the integration failed");
    return;
  }
  state.counters["steps"] = run.steps;
  state.counters["rhs"] = run.rhs;
  state.counters["rhsDQ"] = run.rhsDQ;
  state.counters["rhsAll"] = run.rhs + run.rhsDQ;
  state.counters["jac"] = run.jac;
  state.counters["LU"] = run.lu;
  state.counters["errFail"] = run.errFails;
  state.counters["convFail"] = run.convFails;
  state.counters["error"] = run.error;
  state.counters["ns/step"] = steps > 0 ? 1e9 * seconds / static_cast<double>(steps) : 0.0;
}

std::vector<double> robertsonOutputs(bool to1e11) {
  std::vector<double> outputs;
  double t = 0.4;
  for (int k = 0; k <= 10; ++k, t *= 10.0) outputs.push_back(t);
  if (to1e11) outputs.push_back(1e11);
  return outputs;
}

// Robertson kinetics through the outputs 0.4*10^k, k = 0..10; the error is
// the defect of the mass balance y1 + y2 + y3 = 1.
void BM_Robertson(benchmark::State &state) {
  measure(state, [] {
    return integrate(ODE_BDF, ODE_NEWTON, robertsonRhs, {1.0, 0.0, 0.0},
                     {1e-4, {1e-8, 1e-14, 1e-6}}, robertsonOutputs(false),
                     [](const double *y, double) { return std::fabs(y[0] + y[1] + y[2] - 1.0); });
  });
}

// The same continued to 1e11; error of y1 and y3 against the literature
// values there, in units of their absolute tolerances.
void BM_RobertsonTo1e11(benchmark::State &state) {
  measure(state, [] {
    return integrate(ODE_BDF, ODE_NEWTON, robertsonRhs, {1.0, 0.0, 0.0},
                     {1e-4, {1e-8, 1e-14, 1e-6}}, robertsonOutputs(true),
                     [](const double *y, double) {
                       return std::max(std::fabs(y[0] - 2.083340149701255e-8) / 1e-8,
                                       std::fabs(y[2] - 0.9999999791665050) / 1e-6);
                     });
  });
}

// Van der Pol, mu = 1000, to 3000; largest error of the two components
// against the reference, relative to the tolerance 1e-6.
void BM_VanDerPol(benchmark::State &state) {
  measure(state, [] {
    return integrate(ODE_BDF, ODE_NEWTON, vanDerPolRhs, {2.0, 0.0}, {1e-6, {1e-6, 1e-6}}, {3000.0},
                     [](const double *y, double) {
                       double e0 = std::fabs(y[0] - -1.51060693674411);
                       double e1 = std::fabs(y[1] - 1.17838000073e-3);
                       return std::max(e0, e1) / 1e-6;
                     });
  });
}

// y' = -y on [0, 10]; relative error against e^-10.
void BM_Decay(benchmark::State &state) {
  measure(state, [] {
    return integrate(ODE_BDF, ODE_NEWTON, decayRhs, {1.0}, {1e-6, {1e-10}}, {10.0},
                     [](const double *y, double) {
                       return std::fabs(y[0] - std::exp(-10.0)) / std::exp(-10.0);
                     });
  });
}

// Harmonic oscillator over ten periods with Adams and functional iteration;
// largest error against (cos t, -sin t).
void BM_OscillatorAdams(benchmark::State &state) {
  measure(state, [] {
    double end = 20.0 * 3.14159265358979323846;
    return integrate(ODE_ADAMS, ODE_FUNCTIONAL, oscillatorRhs, {1.0, 0.0}, {1e-8, {1e-10, 1e-10}},
                     {end}, [](const double *y, double t) {
                       return std::max(std::fabs(y[0] - std::cos(t)),
                                       std::fabs(y[1] + std::sin(t)));
                     });
  });
}

BENCHMARK(BM_Robertson)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RobertsonTo1e11)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VanDerPol)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decay)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OscillatorAdams)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
