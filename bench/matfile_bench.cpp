// Matrix files: a trajectory of 1000 signals and 10000 rows (the layout of
// the internal result file, data_2 written row by row, binTrans) written and
// read back, with the throughput against the file's size ("MB", per second), beside the
// time SciPy's loadmat takes for the same file (run once, as counters).
#include <benchmark/benchmark.h>

#include "matfile/amat.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kSignals = 1000;
constexpr int kRows = 10000;

std::string benchPath() { return "/tmp/matfile_bench_" + std::to_string(::getpid()) + ".mat"; }

char *copyText(const std::string &s) {
  auto *c = static_cast<char *>(std::malloc(s.size() + 1));
  std::memcpy(c, s.c_str(), s.size() + 1);
  return c;
}

// Writes the trajectory file; its size in bytes, 0 on failure.
long writeTrajectory(const std::string &path) {
  AtrajTrajectory traj{};
  if (atrajInit(&traj, 2, 0) != 0) return 0;
  auto **names = static_cast<char **>(std::malloc(kSignals * sizeof(char *)));
  auto **descriptions = static_cast<char **>(std::malloc(kSignals * sizeof(char *)));
  auto *info = static_cast<int32_t *>(std::malloc(4 * kSignals * sizeof(int32_t)));
  for (int i = 0; i < kSignals; ++i) {
    names[i] = copyText(i == 0 ? "Time" : "signal" + std::to_string(i));
    descriptions[i] = copyText(i == 0 ? "Time in seconds" : "value of signal " + std::to_string(i));
    const int32_t row[4] = {i == 0 ? 0 : 2, i + 1, 0, -1};
    for (int j = 0; j < 4; ++j) info[i + j * kSignals] = row[j];
  }
  traj.name.nrow = traj.description.nrow = traj.info.nrow = kSignals;
  traj.name.data = names;
  traj.description.data = descriptions;
  traj.info.data = info;
  auto *first = static_cast<float *>(std::calloc(2, sizeof(float)));
  traj.data[0].nrow = 2;
  traj.data[0].ncol = 1;
  traj.data[0].data = first;
  traj.data[1].ncol = kSignals;

  AmatPutFile file{};
  long size = 0;
  if (atrajPutOpen(path.c_str(), &traj, 1, 1, &file) == 0) {
    std::vector<float> row(kSignals);
    bool ok = true;
    for (int r = 0; r < kRows && ok; ++r) {
      row[0] = 0.001F * static_cast<float>(r);
      for (int i = 1; i < kSignals; ++i) row[static_cast<std::size_t>(i)] = float(i) + row[0];
      ok = atrajPutRow(&file, row.data()) == 0;
    }
    ok = atrajPutClose(&file, &traj, 1) == 0 && ok;
    if (std::FILE *f = ok ? std::fopen(path.c_str(), "rb") : nullptr) {
      std::fseek(f, 0, SEEK_END);
      size = std::ftell(f);
      std::fclose(f);
    }
  }
  atrajFree(&traj);
  return size;
}

// Reads every matrix of the trajectory file; data_2 as the given type.
bool readTrajectory(const std::string &path, int dataType) {
  AmatGetFile file{};
  if (amatGetOpen(path.c_str(), "Atrajectory", "1.1", &file) != 0) return false;
  bool ok = true;
  for (int k = 0; k < 5 && ok; ++k) {
    AmatMatrix m{};
    if (k == 4) m.type = dataType;
    ok = amatGetMatrixDefault(&file, &m) == 0 && (k != 4 || m.nrow == kRows);
    benchmark::DoNotOptimize(m.data);
    amatFreeMatrix(&m);
  }
  amatGetClose(&file);
  return ok;
}

// Seconds SciPy's loadmat takes for the file (import excluded); -1 when it
// cannot be run.
double scipySeconds(const std::string &path) {
  const std::string command = std::string("'") + MATFILE_BENCH_PYTHON +
                              "' -c 'import sys, time, scipy.io; t = time.perf_counter(); "
                              "scipy.io.loadmat(sys.argv[1], appendmat=False); "
                              "print(time.perf_counter() - t)' '" +
                              path + "' 2>/dev/null";
  std::FILE *pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char text[64] = {};
  bool got = std::fgets(text, sizeof text, pipe) != nullptr;
  int status = ::pclose(pipe);
  // The number comes from Python in its "C" format.
  return got && status == 0 ? std::strtod(text, nullptr) : -1;
}

void BM_WriteTrajectory(benchmark::State &state) {
  const std::string path = benchPath();
  long size = 0;
  for (auto _ : state) {
    size = writeTrajectory(path);
    if (size == 0) state.SkipWithError(amatMessage);
  }
  state.counters["file_MB"] = double(size) / 1e6;
  state.counters["MB"] =
      benchmark::Counter(double(size) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteTrajectory)->Unit(benchmark::kMillisecond)->UseRealTime();

// Argument: the type data_2 is read as (realMatrix, column-major, or
// realRowMatrix, one block per row).
void BM_ReadTrajectory(benchmark::State &state) {
  const std::string path = benchPath();
  const long size = writeTrajectory(path);
  if (size == 0) {
    state.SkipWithError(amatMessage);
    return;
  }
  for (auto _ : state) {
    if (!readTrajectory(path, static_cast<int>(state.range(0)))) state.SkipWithError(amatMessage);
  }
  state.counters["file_MB"] = double(size) / 1e6;
  state.counters["MB"] =
      benchmark::Counter(double(size) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  const double scipy = scipySeconds(path);
  state.counters["scipy_load_s"] = scipy;
  state.counters["scipy_MB/s"] = scipy > 0 ? double(size) / 1e6 / scipy : -1;
  std::remove(path.c_str());
}
BENCHMARK(BM_ReadTrajectory)
    ->Arg(realMatrix)
    ->Arg(realRowMatrix)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
