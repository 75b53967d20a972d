// What an instance and its FMU states cost a host, through the shared library
// (dlopen of vornwin3264.so, a calloc/free host as the standard describes):
//
//   ResidentPerLiveInstance  resident memory and page faults per live Co-Simulation
//                            instance, 1000 instances alive after initialization and
//                            one step (in a child process; see there)
//   InstantiateToFirstStep   instantiate + set up + initialize + one step of 0.01 s,
//                            while the instances of the batch stay alive
//   FreeInstance             fmi2FreeInstance of one such instance, terminated
//   DoStep                   one fmi2DoStep of 0.01 s (the yardstick of the state
//                            functions, which report x_doStep against the mean step
//                            of a 10 s run)
//   GetFMUstate              fmi2GetFMUstate into an existing state
//   SetFMUstate              fmi2SetFMUstate
//   SerializeFMUstate        fmi2SerializeFMUstate into a host buffer
//   DeSerializeFMUstate      fmi2DeSerializeFMUstate into an existing state
//
// Beside each time stand the time of a memcpy of the same number of bytes on
// this machine (between two warm buffers) and the ratio of the two, so that
// the figures read the same on any machine: `bytes` is the model data record
// for the lifecycle, the serialized image for the state functions.  The
// state functions also report their ratio to one fmi2DoStep.
//
// The lifecycle times depend on the host's allocator as much as on the unit:
// a block that calloc takes from freed memory is cleared whole, a fresh one
// costs a page fault for every page the unit touches.
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "fmi/fmi2.h"
#include "model/ModelInstanceData.h"
#include "model/model_data.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kStep = 0.01;
constexpr int kLiveInstances = 1000;
constexpr int kBatch = 100;  // instances created (or freed) per timed batch
constexpr int kBatches = 20; // timed batches of each lifecycle benchmark

void logger(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String, ...) {}
void *allocateMemory(size_t n, size_t size) {
  return std::calloc(n == 0 ? 1 : n, size == 0 ? 1 : size);
}
void freeMemory(void *p) { std::free(p); }
const fmi2CallbackFunctions callbacks{logger, allocateMemory, freeMemory, nullptr, nullptr};

struct Unit {
  void *handle = nullptr;
  fmi2InstantiateTYPE *instantiate = nullptr;
  fmi2FreeInstanceTYPE *freeInstance = nullptr;
  fmi2SetupExperimentTYPE *setupExperiment = nullptr;
  fmi2EnterInitializationModeTYPE *enterInit = nullptr;
  fmi2ExitInitializationModeTYPE *exitInit = nullptr;
  fmi2DoStepTYPE *doStep = nullptr;
  fmi2TerminateTYPE *terminate = nullptr;
  fmi2GetFMUstateTYPE *getState = nullptr;
  fmi2SetFMUstateTYPE *setState = nullptr;
  fmi2FreeFMUstateTYPE *freeState = nullptr;
  fmi2SerializedFMUstateSizeTYPE *serializedSize = nullptr;
  fmi2SerializeFMUstateTYPE *serialize = nullptr;
  fmi2DeSerializeFMUstateTYPE *deserialize = nullptr;

  template <typename T> void find(T *&out, const char *name) {
    out = reinterpret_cast<T *>(dlsym(handle, name));
    if (out == nullptr) throw std::runtime_error(name);
  }

  Unit() {
    handle = dlopen(UNIT_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(dlerror());
    find(instantiate, "fmi2Instantiate");
    find(freeInstance, "fmi2FreeInstance");
    find(setupExperiment, "fmi2SetupExperiment");
    find(enterInit, "fmi2EnterInitializationMode");
    find(exitInit, "fmi2ExitInitializationMode");
    find(doStep, "fmi2DoStep");
    find(terminate, "fmi2Terminate");
    find(getState, "fmi2GetFMUstate");
    find(setState, "fmi2SetFMUstate");
    find(freeState, "fmi2FreeFMUstate");
    find(serializedSize, "fmi2SerializedFMUstateSize");
    find(serialize, "fmi2SerializeFMUstate");
    find(deserialize, "fmi2DeSerializeFMUstate");
  }

  // A Co-Simulation instance after initialization and one step; null when a
  // call fails.
  fmi2Component stepped() const {
    fmi2Component c = instantiate("bench", fmi2CoSimulation, FMI_MODEL_GUID, nullptr, &callbacks,
                                  fmi2False, fmi2False);
    if (c == nullptr) return nullptr;
    if (setupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0) != fmi2OK ||
        enterInit(c) != fmi2OK || exitInit(c) != fmi2OK ||
        doStep(c, 0.0, kStep, fmi2True) != fmi2OK) {
      freeInstance(c);
      return nullptr;
    }
    return c;
  }

  void release(fmi2Component c) const {
    terminate(c);
    freeInstance(c);
  }
};

Unit &unit() {
  static Unit u;
  return u;
}

size_t residentBytes() {
  long pages = 0;
  long resident = 0;
  if (FILE *f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Mean time of a memcpy of bytes between two warm buffers.
double memcpyNanoseconds(size_t bytes) {
  std::vector<char> from(bytes, 1);
  std::vector<char> to(bytes, 2);
  int rounds = 0;
  const auto start = Clock::now();
  auto now = start;
  do {
    for (int k = 0; k < 16; ++k) {
      std::memcpy(to.data(), from.data(), bytes);
      benchmark::ClobberMemory();
    }
    rounds += 16;
    now = Clock::now();
  } while (now - start < std::chrono::milliseconds(50));
  return std::chrono::duration<double, std::nano>(now - start).count() / rounds;
}

// The time of one fmi2DoStep of 0.01 s: the mean over a run of 10 s (the
// vessel does not run dry before), the best of a few runs.
double doStepNanoseconds() {
  static const double ns = [] {
    const Unit &u = unit();
    constexpr int kSteps = 1000;
    double best = 0;
    for (int round = 0; round < 20; ++round) {
      fmi2Component c = u.stepped();
      if (c == nullptr) return 0.0;
      const auto t0 = Clock::now();
      double t = kStep;
      for (int k = 1; k < kSteps; ++k, t += kStep) (void)u.doStep(c, t, kStep, fmi2True);
      const double mean =
          std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / (kSteps - 1);
      best = round == 0 ? mean : std::min(best, mean);
      u.release(c);
    }
    return best;
  }();
  return ns;
}

// The counters of one timed operation: its time, the bytes it stands for, a
// memcpy of those bytes and the ratio.
void report(benchmark::State &state, double nanoseconds, size_t bytes) {
  const double copy = memcpyNanoseconds(bytes);
  state.counters["op_ns"] = nanoseconds;
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["memcpy_ns"] = copy;
  state.counters["x_memcpy"] = nanoseconds / copy;
}

void reportAgainstStep(benchmark::State &state, double nanoseconds, size_t bytes) {
  report(state, nanoseconds, bytes);
  const double step = doStepNanoseconds();
  state.counters["doStep_ns"] = step;
  state.counters["x_doStep"] = step > 0 ? nanoseconds / step : 0;
}

size_t imageSize(fmi2Component c, fmi2FMUstate s) {
  size_t size = 0;
  if (unit().serializedSize(c, s, &size) != fmi2OK) return 0;
  return size;
}

// ---- The instance ------------------------------------------------------------------------

// Resident memory and minor page faults per live instance, measured in a
// child process (so that neither the C library's heap of this process nor
// its settings carry over): 1000 instances after initialization and one step.
// Argument 0: the C library as it comes; its calloc serves large blocks from
// the heap and clears the padding it keeps at the heap's end (up to 128 KiB
// per block: the model data record of the host and the delay ring of the
// runtime), which the unit does not control.  Argument 1: a host whose C
// library maps every block of 128 KiB or more (M_MMAP_THRESHOLD), so that
// only what the unit writes becomes resident.
struct Footprint {
  double kibPerInstance = -1;
  double faultsPerInstance = -1;
};

long minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

Footprint measureFootprint(bool mapLargeBlocks) {
  if (mapLargeBlocks) mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  const Unit &u = unit();
  u.release(u.stepped()); // the library's own first-use costs
  std::vector<fmi2Component> live;
  live.reserve(kLiveInstances);
  const size_t before = residentBytes();
  const long faults = minorFaults();
  for (int k = 0; k < kLiveInstances; ++k) live.push_back(u.stepped());
  Footprint f;
  f.faultsPerInstance = static_cast<double>(minorFaults() - faults) / kLiveInstances;
  f.kibPerInstance =
      (static_cast<double>(residentBytes()) - static_cast<double>(before)) / kLiveInstances / 1024;
  if (std::count(live.begin(), live.end(), nullptr) != 0) f = Footprint{};
  for (fmi2Component c : live) {
    if (c != nullptr) u.release(c);
  }
  return f;
}

void BM_ResidentPerLiveInstance(benchmark::State &state) {
  const bool mapLargeBlocks = state.range(0) != 0;
  Footprint f;
  for (auto _ : state) {
    int channel[2];
    if (pipe(channel) != 0) break;
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      const Footprint measured = measureFootprint(mapLargeBlocks);
      const ssize_t written = write(channel[1], &measured, sizeof measured);
      _exit(written == static_cast<ssize_t>(sizeof measured) ? 0 : 1);
    }
    close(channel[1]);
    if (child < 0 || read(channel[0], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) {
      f = Footprint{};
    }
    close(channel[0]);
    if (child > 0) waitpid(child, nullptr, 0);
  }
  if (f.kibPerInstance < 0) state.SkipWithError("measurement failed");
  state.counters["KiB_per_instance"] = f.kibPerInstance;
  state.counters["faults_per_instance"] = f.faultsPerInstance;
  state.counters["record_KiB"] = sizeof(ModelInstanceData) / 1024.0;
}
BENCHMARK(BM_ResidentPerLiveInstance)
    ->ArgName("mapLargeBlocks")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_InstantiateToFirstStep(benchmark::State &state) {
  const Unit &u = unit();
  double seconds = 0;
  for (auto _ : state) {
    std::vector<fmi2Component> batch(kBatch);
    const auto t0 = Clock::now();
    for (fmi2Component &c : batch) c = u.stepped();
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    seconds += elapsed;
    state.SetIterationTime(elapsed / kBatch);
    for (fmi2Component c : batch) {
      if (c == nullptr)
        state.SkipWithError("instance failed");
      else
        u.release(c);
    }
  }
  report(state, seconds * 1e9 / (static_cast<double>(state.iterations()) * kBatch),
         sizeof(ModelInstanceData));
}
BENCHMARK(BM_InstantiateToFirstStep)
    ->UseManualTime()
    ->Iterations(kBatches)
    ->Unit(benchmark::kMicrosecond);

void BM_FreeInstance(benchmark::State &state) {
  const Unit &u = unit();
  double seconds = 0;
  for (auto _ : state) {
    std::vector<fmi2Component> batch(kBatch);
    for (fmi2Component &c : batch) c = u.stepped();
    if (std::count(batch.begin(), batch.end(), nullptr) != 0) {
      state.SkipWithError("instance failed");
      break;
    }
    for (fmi2Component c : batch) u.terminate(c);
    const auto t0 = Clock::now();
    for (fmi2Component c : batch) u.freeInstance(c);
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    seconds += elapsed;
    state.SetIterationTime(elapsed / kBatch);
  }
  report(state, seconds * 1e9 / (static_cast<double>(state.iterations()) * kBatch),
         sizeof(ModelInstanceData));
}
BENCHMARK(BM_FreeInstance)->UseManualTime()->Iterations(kBatches)->Unit(benchmark::kMicrosecond);

void BM_DoStep(benchmark::State &state) {
  const Unit &u = unit();
  fmi2Component c = u.stepped();
  fmi2FMUstate start = nullptr;
  if (c == nullptr || u.getState(c, &start) != fmi2OK) {
    state.SkipWithError("set-up failed");
    return;
  }
  double t = kStep;
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const fmi2Status status = u.doStep(c, t, kStep, fmi2True);
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    seconds += elapsed;
    state.SetIterationTime(elapsed);
    if (status != fmi2OK) {
      state.SkipWithError("fmi2DoStep failed");
      break;
    }
    t += kStep;
    if (t > 10.0) { // back to the start before the vessel runs dry
      (void)u.setState(c, start);
      t = kStep;
    }
  }
  state.counters["op_ns"] = seconds * 1e9 / static_cast<double>(state.iterations());
  u.freeState(c, &start);
  u.release(c);
}
BENCHMARK(BM_DoStep)->UseManualTime()->Unit(benchmark::kMicrosecond);

// ---- FMU states --------------------------------------------------------------------------

// A stepped instance with a saved state and the state's image.
struct Saved {
  fmi2Component c = unit().stepped();
  fmi2FMUstate s = nullptr;
  std::vector<fmi2Byte> image;

  Saved() {
    if (c == nullptr || unit().getState(c, &s) != fmi2OK) return;
    image.resize(imageSize(c, s));
    if (image.empty() || unit().serialize(c, s, image.data(), image.size()) != fmi2OK) {
      image.clear();
    }
  }
  ~Saved() {
    if (c == nullptr) return;
    unit().freeState(c, &s);
    unit().release(c);
  }
  Saved(const Saved &) = delete;
  Saved &operator=(const Saved &) = delete;
  bool ok() const { return !image.empty(); }
};

template <typename Call> void stateBenchmark(benchmark::State &state, bool againstStep, Call call) {
  Saved saved;
  if (!saved.ok()) {
    state.SkipWithError("set-up failed");
    return;
  }
  const auto t0 = Clock::now();
  for (auto _ : state) {
    if (call(saved) != fmi2OK) {
      state.SkipWithError("call failed");
      break;
    }
  }
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count() /
                    static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  if (againstStep) {
    reportAgainstStep(state, ns, saved.image.size());
  } else {
    report(state, ns, saved.image.size());
  }
}

void BM_GetFMUstate(benchmark::State &state) {
  stateBenchmark(state, true, [](Saved &s) { return unit().getState(s.c, &s.s); });
}
BENCHMARK(BM_GetFMUstate)->Unit(benchmark::kMicrosecond);

void BM_SetFMUstate(benchmark::State &state) {
  stateBenchmark(state, true, [](Saved &s) { return unit().setState(s.c, s.s); });
}
BENCHMARK(BM_SetFMUstate)->Unit(benchmark::kMicrosecond);

void BM_SerializeFMUstate(benchmark::State &state) {
  std::vector<fmi2Byte> buffer;
  stateBenchmark(state, false, [&](Saved &s) {
    buffer.resize(s.image.size());
    return unit().serialize(s.c, s.s, buffer.data(), buffer.size());
  });
}
BENCHMARK(BM_SerializeFMUstate)->Unit(benchmark::kMicrosecond);

void BM_DeSerializeFMUstate(benchmark::State &state) {
  stateBenchmark(state, false, [](Saved &s) {
    return unit().deserialize(s.c, s.image.data(), s.image.size(), &s.s);
  });
}
BENCHMARK(BM_DeSerializeFMUstate)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
