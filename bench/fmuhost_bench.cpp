// fmuhost setting up a run of a unit with many outputs: unpacking the
// archive, reading its description, resolving the columns, instantiating,
// initializing and printing the one row of a run whose stop time is its
// start time.  The work grows with the number of outputs; the time per output
// should stay flat from 5000 to 80,000 outputs (the fit printed as BigO).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/fmuhost/simulate.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A description of the bench unit (probe_unit.cpp, reading any reference as
// its number) with `outputs` Real outputs.
std::string description(long outputs) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<fmiModelDescription fmiVersion=\"2.0\" modelName=\"many\" guid=\"{probe}\">"
                     "<CoSimulation modelIdentifier=\"fmuhost_bench_unit\" "
                     "canHandleVariableCommunicationStepSize=\"true\"/>"
                     "<DefaultExperiment startTime=\"0\" stopTime=\"0\"/><ModelVariables>\n";
  for (long i = 0; i < outputs; ++i)
    text += "<ScalarVariable name=\"y[" + std::to_string(i + 1) + "]\" valueReference=\"" +
            std::to_string(100 + i) +
            "\" causality=\"output\" variability=\"continuous\"><Real/></ScalarVariable>\n";
  text += "</ModelVariables><ModelStructure><Outputs>\n";
  for (long i = 0; i < outputs; ++i) text += "<Unknown index=\"" + std::to_string(i + 1) + "\"/>\n";
  return text + "</Outputs></ModelStructure></fmiModelDescription>\n";
}

bool writeArchive(const fs::path &path, const std::string &xml, const std::string &library) {
  int error = 0;
  zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!z) return false;
  const std::pair<const char *, const std::string *> entries[] = {
      {"modelDescription.xml", &xml}, {"binaries/linux64/fmuhost_bench_unit.so", &library}};
  for (const auto &[name, content] : entries) {
    zip_source_t *src = zip_source_buffer(z, content->data(), content->size(), 0);
    if (!src || zip_file_add(z, name, src, ZIP_FL_OVERWRITE) < 0) {
      zip_discard(z);
      return false;
    }
  }
  return zip_close(z) == 0;
}

void BM_FmuhostManyOutputs(benchmark::State &state) {
  const long outputs = state.range(0);
  const fs::path dir = fs::temp_directory_path() / ("fmuhost_bench." + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path fmu = dir / "many.fmu";
  if (!writeArchive(fmu, description(outputs), slurp(FMUHOST_BENCH_UNIT_PATH))) {
    state.SkipWithError("cannot write the archive");
    fs::remove_all(dir);
    return;
  }
  FILE *null = std::fopen("/dev/null", "w");
  fmuhost::RunOptions options;
  options.mode = fmuhost::Mode::CoSimulation;
  for (auto _ : state) {
    if (fmuhost::runFmu(fmu.string(), options, null, null) != 0) {
      state.SkipWithError("the run failed");
      break;
    }
  }
  std::fclose(null);
  fs::remove_all(dir);
  state.SetComplexityN(outputs);
  state.counters["s_per_output"] = benchmark::Counter(
      static_cast<double>(outputs),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FmuhostManyOutputs)
    ->Arg(5000)
    ->Arg(20000)
    ->Arg(80000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
