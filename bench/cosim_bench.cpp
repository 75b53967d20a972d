// Co-Simulation through the shared library, as a host drives it: the vessel
// from 0 to 10 s in communication steps of 0.01 s.  Reports the time per
// fmi2DoStep, the integrator's internal steps and right-hand-side evaluations
// (from the statistics report at terminate) and the largest relative error of
// the level against the exact solution.
//
// One continuous integration is expected: a few dozen integrator steps for
// the whole run, not a restart at every communication point.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fmi/fmi2.h"
#include "model/model_data.h"

namespace {

constexpr fmi2ValueReference kLevel = 0x14000000;
constexpr int kSteps = 1000;
constexpr double kStep = 0.01;

double exactLevel(double t) {
  const double r = std::sqrt(3.0) - 0.1 * std::sqrt(19.62) / 4.0 * t;
  return r * r;
}

// The statistics report of the last terminate.
std::string lastReport;

void logger(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String message, ...) {
  if (std::strncmp(message, "Integrator Statistics", 21) != 0) return;
  char text[2048];
  va_list args;
  va_start(args, message);
  std::vsnprintf(text, sizeof text, message, args);
  va_end(args);
  lastReport = text;
}

void *allocateMemory(size_t n, size_t size) {
  return std::calloc(n == 0 ? 1 : n, size == 0 ? 1 : size);
}
void freeMemory(void *p) { std::free(p); }

int reportValue(const char *label) {
  const std::size_t at = lastReport.find(label);
  if (at == std::string::npos) return -1;
  return std::atoi(lastReport.c_str() + lastReport.find(": ", at) + 2);
}

struct Unit {
  void *handle = nullptr;
  fmi2InstantiateTYPE *instantiate = nullptr;
  fmi2FreeInstanceTYPE *freeInstance = nullptr;
  fmi2SetupExperimentTYPE *setupExperiment = nullptr;
  fmi2EnterInitializationModeTYPE *enterInit = nullptr;
  fmi2ExitInitializationModeTYPE *exitInit = nullptr;
  fmi2DoStepTYPE *doStep = nullptr;
  fmi2GetRealTYPE *getReal = nullptr;
  fmi2SetDebugLoggingTYPE *setDebugLogging = nullptr;
  fmi2TerminateTYPE *terminate = nullptr;

  Unit() {
    handle = dlopen(UNIT_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(dlerror());
    instantiate = reinterpret_cast<fmi2InstantiateTYPE *>(dlsym(handle, "fmi2Instantiate"));
    freeInstance = reinterpret_cast<fmi2FreeInstanceTYPE *>(dlsym(handle, "fmi2FreeInstance"));
    setupExperiment =
        reinterpret_cast<fmi2SetupExperimentTYPE *>(dlsym(handle, "fmi2SetupExperiment"));
    enterInit = reinterpret_cast<fmi2EnterInitializationModeTYPE *>(
        dlsym(handle, "fmi2EnterInitializationMode"));
    exitInit = reinterpret_cast<fmi2ExitInitializationModeTYPE *>(
        dlsym(handle, "fmi2ExitInitializationMode"));
    doStep = reinterpret_cast<fmi2DoStepTYPE *>(dlsym(handle, "fmi2DoStep"));
    getReal = reinterpret_cast<fmi2GetRealTYPE *>(dlsym(handle, "fmi2GetReal"));
    setDebugLogging =
        reinterpret_cast<fmi2SetDebugLoggingTYPE *>(dlsym(handle, "fmi2SetDebugLogging"));
    terminate = reinterpret_cast<fmi2TerminateTYPE *>(dlsym(handle, "fmi2Terminate"));
  }
};

Unit &unit() {
  static Unit u;
  return u;
}

void BM_CoSimVessel(benchmark::State &state) {
  Unit &u = unit();
  const fmi2CallbackFunctions callbacks{logger, allocateMemory, freeMemory, nullptr, nullptr};
  double worst = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    fmi2Component c = u.instantiate("bench", fmi2CoSimulation, FMI_MODEL_GUID, nullptr, &callbacks,
                                    fmi2False, fmi2False);
    u.setupExperiment(c, fmi2False, 0.0, 0.0, fmi2True, 10.0);
    u.enterInit(c);
    u.exitInit(c);
    state.ResumeTiming();
    double t = 0.0;
    for (int i = 0; i < kSteps; ++i) {
      if (u.doStep(c, t, kStep, fmi2True) != fmi2OK) {
        state.SkipWithError("fmi2DoStep failed");
        break;
      }
      t += kStep;
    }
    state.PauseTiming();
    // The error at the end of the run (every point: the accuracy benchmark),
    // and the statistics report, which terminate logs while logging is on.
    double level = 0.0;
    u.getReal(c, &kLevel, 1, &level);
    worst = std::fmax(worst, std::fabs(level - exactLevel(t)) / exactLevel(t));
    u.setDebugLogging(c, fmi2True, 0, nullptr);
    u.terminate(c);
    u.freeInstance(c);
    state.ResumeTiming();
  }
  state.counters["doStep"] = benchmark::Counter(
      kSteps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["integratorSteps"] = reportValue("Number of internal steps");
  state.counters["rhsEvaluations"] = reportValue("Number of f function evaluations");
  state.counters["jacobians"] = reportValue("Number of Jacobian-evaluations");
  state.counters["errorAtEnd"] = worst;
}
BENCHMARK(BM_CoSimVessel)->Unit(benchmark::kMillisecond);

// The largest relative error over every communication point of one run (not
// timed per step: each point is read with fmi2GetReal).
void BM_CoSimVesselAccuracy(benchmark::State &state) {
  Unit &u = unit();
  const fmi2CallbackFunctions callbacks{logger, allocateMemory, freeMemory, nullptr, nullptr};
  double worst = 0.0;
  for (auto _ : state) {
    fmi2Component c = u.instantiate("bench", fmi2CoSimulation, FMI_MODEL_GUID, nullptr, &callbacks,
                                    fmi2False, fmi2False);
    u.setupExperiment(c, fmi2False, 0.0, 0.0, fmi2True, 10.0);
    u.enterInit(c);
    u.exitInit(c);
    double t = 0.0;
    for (int i = 0; i < kSteps; ++i) {
      u.doStep(c, t, kStep, fmi2True);
      t += kStep;
      double level = 0.0;
      u.getReal(c, &kLevel, 1, &level);
      worst = std::fmax(worst, std::fabs(level - exactLevel(t)) / exactLevel(t));
    }
    u.terminate(c);
    u.freeInstance(c);
  }
  state.counters["largestRelativeError"] = worst;
}
BENCHMARK(BM_CoSimVesselAccuracy)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
