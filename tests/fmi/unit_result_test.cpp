// Internal result generation, switched on from inside (nothing in the unit
// sets the switch): the file name rule, set-up through the FMI functions and
// its failures, the sampling rules of both FMI kinds, the ring with its
// buffer-full and extension paths, points discarded after going back in time
// (also through an FMU state), the writer's layout, and the files as SciPy
// loads them.  Every test runs in a folder of its own, which is where the
// result files go.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fmi/fmiInstance.h"
#include "fmi/fmiResult.h"
#include "fmi/fmiResultWriter.h"
#include "matfile/amat.h"
#include "model/ModelInstanceData.h"
#include "model/model_data.h"
#include "tests/matfile/scipy_load.h"
#include "tests/support/fmi_host.h"

namespace {

using scipyload::scipyLoad;

constexpr const char *kSetupFailed = "Failed to setup result generation, skipping it";

// A result file as this library's class-aware reader gives it back.
struct ResultFile {
  std::vector<std::string> classRows;
  std::vector<std::string> names;
  std::vector<std::string> descriptions;
  std::vector<std::array<int32_t, 4>> info;
  std::vector<std::vector<float>> data1; // rows
  std::vector<std::vector<float>> data2; // rows
  std::vector<float> times() const {
    std::vector<float> t;
    for (const auto &row : data2) t.push_back(row.at(0));
    return t;
  }
};

std::vector<std::string> textRows(const AmatMatrix &m) {
  std::vector<std::string> rows;
  auto **data = static_cast<char **>(m.data);
  for (int i = 0; i < m.nrow; ++i) rows.emplace_back(data[i] != nullptr ? data[i] : "");
  return rows;
}

std::vector<std::vector<float>> floatRows(const AmatMatrix &m) {
  std::vector<std::vector<float>> rows(m.nrow);
  for (int i = 0; i < m.nrow; ++i) {
    for (int j = 0; j < m.ncol; ++j)
      rows[i].push_back(static_cast<float *>(m.data)[i + j * m.nrow]);
  }
  return rows;
}

ResultFile readResult(const std::string &file) {
  ResultFile r;
  AmatGetFile f{};
  if (amatGetOpen(file.c_str(), "Atrajectory", "1.1", &f) != 0) {
    ADD_FAILURE() << file << ": " << amatMessage;
    return r;
  }
  r.classRows = textRows(f.classMatrix);
  const char *expected[5] = {"name", "description", "dataInfo", "data_1", "data_2"};
  for (const char *name : expected) {
    AmatMatrix m{};
    if (amatGetMatrixDefault(&f, &m) != 0) {
      ADD_FAILURE() << name << ": " << amatMessage;
      break;
    }
    EXPECT_STREQ(m.name, name);
    const std::string n = name;
    if (n == "name") r.names = textRows(m);
    if (n == "description") r.descriptions = textRows(m);
    if (n == "dataInfo") {
      for (int i = 0; i < m.nrow; ++i) {
        std::array<int32_t, 4> row{};
        for (int j = 0; j < 4; ++j) row[j] = static_cast<int32_t *>(m.data)[i + j * m.nrow];
        r.info.push_back(row);
      }
    }
    if (n == "data_1") r.data1 = floatRows(m);
    if (n == "data_2") r.data2 = floatRows(m);
    amatFreeMatrix(&m);
  }
  AmatMatrix extra{};
  EXPECT_EQ(amatGetMatrixDefault(&f, &extra), 3) << "nothing after data_2";
  amatFreeMatrix(&extra);
  amatGetClose(&f);
  return r;
}

std::vector<float> floats(const std::vector<double> &values) {
  std::vector<float> out;
  for (double v : values) out.push_back(static_cast<float>(v));
  return out;
}

// k * 0.1 for k = from .. to, as the output grid computes them.
std::vector<double> grid(int from, int to) {
  std::vector<double> t;
  for (int k = from; k <= to; ++k) t.push_back(k * 0.1);
  return t;
}

std::vector<double> concat(std::vector<double> a, const std::vector<double> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The buffered points' times, oldest first.
std::vector<double> bufferedTimes(const fmiInstance *c) {
  std::vector<double> t;
  const fmiResultGeneration *r = c->resultGeneration;
  if (r == nullptr) return t;
  for (int32_t k = 0; k < r->bufferedPoints; ++k) {
    t.push_back(r->points[(r->readIndex + k) % r->ringSize].time);
  }
  return t;
}

class ResultGeneration : public ::testing::Test {
protected:
  void SetUp() override {
    fmihost::failAllocation(0);
    live_ = fmihost::liveBlocks();
    fmiResultSetupCounter = 0;
    char saved[PATH_MAX];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    saved_ = saved;
    std::string pattern = ::testing::TempDir() + "results_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    ASSERT_EQ(::chdir(folder_.c_str()), 0);
  }
  void TearDown() override {
    fmihost::failAllocation(0);
    for (fmiInstance *c : instances_) fmi2FreeInstance(c);
    EXPECT_EQ(fmihost::liveBlocks(), live_) << "host blocks leaked";
    EXPECT_EQ(::chdir(saved_.c_str()), 0);
    for (const std::string &f : filesHere()) {
      const std::string p = folder_ + "/" + f;
      if (std::remove(p.c_str()) != 0) ::rmdir(p.c_str());
    }
    ::rmdir(folder_.c_str());
  }

  // The files of the test's folder.
  std::vector<std::string> filesHere() const {
    std::vector<std::string> names;
    DIR *d = ::opendir(folder_.c_str());
    if (d == nullptr) return names;
    while (const dirent *e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
        names.emplace_back(e->d_name);
      }
    }
    ::closedir(d);
    return names;
  }

  fmiInstance *instantiate(const char *name, fmi2Type kind) {
    auto *c = static_cast<fmiInstance *>(fmi2Instantiate(name, kind, FMI_MODEL_GUID, nullptr,
                                                         &host_.functions(), fmi2False, fmi2True));
    EXPECT_NE(c, nullptr);
    instances_.push_back(c);
    return c;
  }
  void release(fmiInstance *c) {
    fmi2FreeInstance(c);
    std::erase(instances_, c);
  }

  // An instance in initialization mode at startTime with result generation
  // switched on and set up for the output interval.
  fmiInstance *generating(const char *name, fmi2Type kind, double interval,
                          double startTime = 0.0) {
    fmiInstance *c = instantiate(name, kind);
    EXPECT_EQ(fmi2SetupExperiment(c, fmi2False, 0.0, startTime, fmi2False, 0.0), fmi2OK);
    EXPECT_EQ(fmi2EnterInitializationMode(c), fmi2OK) << host_.dump();
    c->duser[kDuserOutputInterval] = interval;
    c->resultGenerationOn = 1;
    fmiResultSetup(c);
    EXPECT_NE(c->resultGeneration, nullptr) << host_.dump();
    return c;
  }

  void step(fmiInstance *c, double point, double size, bool noPrior = false) {
    ASSERT_EQ(fmi2DoStep(c, point, size, noPrior ? fmi2True : fmi2False), fmi2OK) << host_.dump();
  }

  // The texts logged at status.
  std::vector<std::string> texts(fmi2Status status) const {
    std::vector<std::string> out;
    for (const auto &m : host_.messages()) {
      if (m.status == status) out.push_back(m.message);
    }
    return out;
  }

  fmihost::HostCallbacks host_;
  std::vector<fmiInstance *> instances_;
  std::size_t live_ = 0;
  std::string saved_;
  std::string folder_;
};

// ---- file names ------------------------------------------------------------------------------

TEST(ResultFileName, ReplacesWhatCouldLeaveTheFolder) {
  struct Case {
    const char *instance;
    int32_t counter;
    bool modelData;
    const char *name; // null: refused
  };
  const std::string tooLong(300, 'a');
  const Case cases[] = {
      {"a b.c", 1, true, "a_b_c_internal.mat"},
      {"a b.c", 2, true, "a_b_c_internal2.mat"},
      {"a b.c", 2, false, "a_b_c_internal.mat"},
      {"", 1, true, "dres_internal.mat"},
      {"", 7, true, "dres_internal7.mat"},
      {"../../etc/passwd", 1, true, "______etc_passwd_internal.mat"},
      {"..", 3, true, "___internal3.mat"},
      {"\"q\"(1)*,:;<=>?[\\]|", 1, true, "_q__1______________internal.mat"},
      {"line\nbreak\ttab\x7f", 1, true, "line_break_tab__internal.mat"},
      {"C:\\dir\\x", 1, true, "C__dir_x_internal.mat"},
      {"héllo-1_2", 1, true, "héllo-1_2_internal.mat"},
      {tooLong.c_str(), 1, true, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.instance);
    char out[kFmiResultNameSize];
    const bool ok = fmiResultFileName(c.instance, c.counter, c.modelData, out);
    ASSERT_EQ(ok, c.name != nullptr);
    if (!ok) continue;
    EXPECT_STREQ(out, c.name);
    EXPECT_EQ(std::strchr(out, '/'), nullptr);
    EXPECT_EQ(std::strstr(out, ".."), nullptr);
  }
}

// ---- a Co-Simulation run with a rollback -------------------------------------------------

TEST_F(ResultGeneration, CoSimulationRunWithRollbackLoadsInSciPyWithoutTheRolledBackPoints) {
  fmiInstance *c = generating("vessel run", fmi2CoSimulation, 0.1);
  ASSERT_EQ(fmi2ExitInitializationMode(c), fmi2OK) << host_.dump();
  step(c, 0.0, 0.25);
  step(c, 0.25, 0.25);
  // The FMU-state functions refuse while the switch is on; the test lowers
  // it around them.
  fmi2FMUstate state = nullptr;
  EXPECT_EQ(fmi2GetFMUstate(c, &state), fmi2Warning);
  c->resultGenerationOn = 0;
  ASSERT_EQ(fmi2GetFMUstate(c, &state), fmi2OK) << host_.dump();
  c->resultGenerationOn = 1;
  step(c, 0.5, 0.25);
  step(c, 0.75, 0.25);
  // Set-up, exit of initialization, then the grid whatever the steps are.
  EXPECT_EQ(bufferedTimes(c), concat({0.0}, grid(0, 10)));

  c->resultGenerationOn = 0;
  ASSERT_EQ(fmi2SetFMUstate(c, state), fmi2OK) << host_.dump();
  c->resultGenerationOn = 1;
  EXPECT_EQ(c->time, 0.5);
  EXPECT_EQ(bufferedTimes(c), concat({0.0}, grid(0, 5))) << "the points after 0.5 are gone";
  step(c, 0.5, 0.25);
  step(c, 0.75, 0.15, true); // no earlier state: everything goes to the file
  EXPECT_EQ(bufferedTimes(c), std::vector<double>{});
  ASSERT_EQ(fmi2Terminate(c), fmi2OK) << host_.dump();
  EXPECT_EQ(c->resultGeneration, nullptr);
  EXPECT_EQ(fmi2FreeFMUstate(c, &state), fmi2OK);
  EXPECT_EQ(texts(fmi2Warning).size(), 1U) << host_.dump();

  const std::string file = "vessel_run_internal.mat";
  EXPECT_EQ(filesHere(), std::vector<std::string>{file});
  const ResultFile r = readResult(file);
  EXPECT_EQ(r.classRows, (std::vector<std::string>{"Atrajectory", "1.1", " ", "binTrans"}));
  EXPECT_EQ(r.names, std::vector<std::string>{"Time"});
  EXPECT_EQ(r.descriptions, std::vector<std::string>{"Time in seconds"});
  EXPECT_EQ(r.info, (std::vector<std::array<int32_t, 4>>{{0, 1, 0, -1}}));
  EXPECT_EQ(r.data1, (std::vector<std::vector<float>>{{0.0F}, {1e-9F}}));
  const std::vector<float> times = floats(concat({0.0}, grid(0, 9)));
  EXPECT_EQ(r.times(), times);

  // SciPy sees each matrix of this binTrans file transposed.
  const auto loaded = scipyLoad(file);
  ASSERT_EQ(loaded.order, (std::vector<std::string>{"Aclass", "name", "description", "dataInfo",
                                                    "data_1", "data_2"}));
  const auto &cls = loaded.matrices.at("Aclass");
  EXPECT_EQ(cls.text(0), "Atrajectory");
  EXPECT_EQ(cls.text(3), "binTrans");
  const auto &name = loaded.matrices.at("name");
  EXPECT_EQ(name.kind, "text");
  ASSERT_EQ(name.rows, 4);
  std::string time;
  for (std::size_t k = 0; k < 4; ++k) time += name.text(k);
  EXPECT_EQ(time, "Time");
  EXPECT_EQ(loaded.matrices.at("description").rows, 15);
  const auto &info = loaded.matrices.at("dataInfo");
  EXPECT_EQ(info.kind, "int32");
  EXPECT_EQ(info.cells, (std::vector<std::string>{"0", "1", "0", "-1"}));
  const auto &d1 = loaded.matrices.at("data_1");
  EXPECT_EQ(d1.kind, "float32");
  EXPECT_EQ(d1.rows, 1);
  EXPECT_EQ(d1.cols, 2);
  EXPECT_EQ(d1.number(1), double(1e-9F));
  const auto &d2 = loaded.matrices.at("data_2");
  EXPECT_EQ(d2.kind, "float32");
  ASSERT_EQ(d2.rows, 1);
  ASSERT_EQ(d2.cols, static_cast<int>(times.size()));
  for (std::size_t k = 0; k < times.size(); ++k) EXPECT_EQ(d2.number(k), double(times[k])) << k;
}

TEST_F(ResultGeneration, CoSimulationSamplesTheOutputGridWhateverTheSteps) {
  fmiInstance *c = generating("grid", fmi2CoSimulation, 0.1);
  ASSERT_EQ(fmi2ExitInitializationMode(c), fmi2OK);
  step(c, 0.0, 0.35);
  step(c, 0.35, 0.35);
  step(c, 0.7, 0.35);
  EXPECT_EQ(bufferedTimes(c), concat({0.0}, grid(0, 10)));
  EXPECT_EQ(c->nextOutputTime, 11 * 0.1);
  // The final point at the end of the last step.
  ASSERT_EQ(fmi2Terminate(c), fmi2OK);
  EXPECT_EQ(c->nextOutputTime, 1e100) << "no grid without result generation";
  EXPECT_EQ(readResult("grid_internal.mat").times(),
            floats(concat(concat({0.0}, grid(0, 10)), {1.05})));
}

// ---- Model Exchange ----------------------------------------------------------------------

TEST_F(ResultGeneration, ModelExchangeSamplesDiscardsAndDropsWrittenTimes) {
  fmiInstance *c = generating("me", fmi2ModelExchange, 0.1, -5.0);
  ASSERT_EQ(fmi2ExitInitializationMode(c), fmi2OK);
  fmi2EventInfo info{};
  ASSERT_EQ(fmi2NewDiscreteStates(c, &info), fmi2OK);
  ASSERT_EQ(fmi2EnterContinuousTimeMode(c), fmi2OK);
  fmi2Boolean enterEventMode = fmi2False, terminate = fmi2False;
  const auto completed = [&](double t, bool noPrior = false) {
    ASSERT_EQ(fmi2SetTime(c, t), fmi2OK);
    ASSERT_EQ(
        fmi2CompletedIntegratorStep(c, noPrior ? fmi2True : fmi2False, &enterEventMode, &terminate),
        fmi2OK);
  };
  // Times before -1 are times like any other; a step is stored once it is a
  // tenth of the output interval past the last point.
  completed(-4.995);
  completed(-4.98);
  completed(-4.975);
  completed(-4.9);
  EXPECT_EQ(bufferedTimes(c), (std::vector<double>{-5, -5, -5, -5, -4.98, -4.9}));
  // Back in time: the later points go.
  completed(-4.95);
  EXPECT_EQ(bufferedTimes(c), (std::vector<double>{-5, -5, -5, -5, -4.98, -4.95}));
  completed(-4.8, true);
  EXPECT_EQ(bufferedTimes(c), std::vector<double>{});
  // Before the last written point: dropped, with one warning per written block.
  completed(-4.85);
  completed(-4.82);
  completed(-4.7, true);
  completed(-4.75);
  ASSERT_EQ(fmi2Terminate(c), fmi2OK);
  EXPECT_EQ(texts(fmi2Warning),
            (std::vector<std::string>{
                "Result generation:: duplicate sample point at t = -4.8500 (and others at t < "
                "-4.800000) neglected.",
                "Result generation:: duplicate sample point at t = -4.7500 (and others at t < "
                "-4.700000) neglected."}));
  EXPECT_EQ(readResult("me_internal.mat").times(),
            floats({-5, -5, -5, -5, -4.98, -4.95, -4.8, -4.7}));
}

// ---- the ring -----------------------------------------------------------------------------

TEST_F(ResultGeneration, FullRingWritesItsOldestBlockAndWarnsOnce) {
  fmiInstance *c = generating("full", fmi2CoSimulation, 0.1);
  for (int k = 1; k <= 500; ++k) {
    c->time = 0.001 * k;
    fmiResultStore(c, 1);
    if (k == 383) {
      EXPECT_EQ(c->resultGeneration->bufferedPoints, 384);
    }
    if (k == 384) {
      EXPECT_EQ(c->resultGeneration->bufferedPoints, 321);
      EXPECT_EQ(c->resultGeneration->lastFlushedTime, 0.001 * 63);
    }
  }
  EXPECT_EQ(c->resultGeneration->allocatedPoints, kFmiResultRingSize);
  EXPECT_EQ(texts(fmi2Warning),
            std::vector<std::string>{
                "Result generation:: buffer full at t = 0.3840, forcing file output for interval "
                "t = 0.0000 ... 0.0630. To avoid this for FMI 2, set "
                "SetFMUStatePriorToCurrentPoint = fmiTrue in fmiDoStep. Will not warn about this "
                "again."});
  ASSERT_EQ(fmi2Terminate(c), fmi2OK);
  std::vector<double> expected;
  for (int k = 0; k <= 500; ++k) expected.push_back(0.001 * k);
  EXPECT_EQ(readResult("full_internal.mat").times(), floats(expected));
}

TEST_F(ResultGeneration, FailedExtensionKeepsTheAllocatedPointsAsTheRing) {
  for (const int failing : {1, 10, 64}) {
    SCOPED_TRACE(failing);
    host_.clearMessages();
    const std::string name = "ext" + std::to_string(failing);
    fmiInstance *c = generating(name.c_str(), fmi2CoSimulation, 0.1);
    const std::size_t live = fmihost::liveBlocks();
    for (int k = 1; k <= 300; ++k) {
      if (k == 64) fmihost::failAllocation(failing);
      c->time = 0.001 * k;
      fmiResultStore(c, 1);
    }
    fmihost::failAllocation(0);
    EXPECT_EQ(fmihost::liveBlocks(), live) << "the attempt's arrays are released";
    EXPECT_EQ(c->resultGeneration->allocatedPoints, 64);
    EXPECT_EQ(c->resultGeneration->ringSize, 64);
    const auto warnings = texts(fmi2Warning);
    ASSERT_EQ(warnings.size(), 2U);
    EXPECT_EQ(warnings[0],
              "Result generation:: buffer extension failed at t = 0.0640, forcing file output "
              "for interval t = 0.0000 ... 0.0630");
    ASSERT_EQ(fmi2Terminate(c), fmi2OK);
    std::vector<double> expected;
    for (int k = 0; k <= 300; ++k) expected.push_back(0.001 * k);
    const int32_t counter = fmiResultSetupCounter.load();
    const std::string file =
        name + "_internal" + (counter == 1 ? "" : std::to_string(counter)) + ".mat";
    EXPECT_EQ(readResult(file).times(), floats(expected));
  }
}

// ---- set-up and its failures ----------------------------------------------------------------

TEST_F(ResultGeneration, FailedSetUpSwitchesOffAndLeavesNothing) {
  bool done = false;
  for (int n = 1; n < 200 && !done; ++n) {
    SCOPED_TRACE(n);
    host_.clearMessages();
    fmiInstance *c = instantiate("alloc", fmi2CoSimulation);
    ASSERT_EQ(fmi2EnterInitializationMode(c), fmi2OK);
    const std::size_t live = fmihost::liveBlocks();
    c->resultGenerationOn = 1;
    fmihost::failAllocation(n);
    fmiResultSetup(c);
    fmihost::failAllocation(0);
    done = c->resultGeneration != nullptr;
    if (done) break;
    EXPECT_EQ(c->resultGenerationOn, 0);
    EXPECT_EQ(c->nextOutputTime, 1e100);
    EXPECT_EQ(fmihost::liveBlocks(), live);
    EXPECT_EQ(texts(fmi2Warning), std::vector<std::string>{kSetupFailed});
    EXPECT_EQ(filesHere(), std::vector<std::string>{});
    // The instance goes on without it.
    ASSERT_EQ(fmi2ExitInitializationMode(c), fmi2OK);
    step(c, 0.0, 0.5);
    release(c);
  }
  EXPECT_TRUE(done);
}

TEST_F(ResultGeneration, AFileThatCannotBeOpenedSwitchesOff) {
  ASSERT_EQ(::mkdir("blocked_internal.mat", 0700), 0);
  fmiInstance *c = instantiate("blocked", fmi2CoSimulation);
  ASSERT_EQ(fmi2EnterInitializationMode(c), fmi2OK);
  const std::size_t live = fmihost::liveBlocks();
  c->resultGenerationOn = 1;
  fmiResultSetup(c);
  EXPECT_EQ(c->resultGeneration, nullptr);
  EXPECT_EQ(c->resultGenerationOn, 0);
  EXPECT_EQ(fmihost::liveBlocks(), live);
  EXPECT_EQ(texts(fmi2Warning),
            (std::vector<std::string>{
                "Failed to open result blocked_internal.mat",
                "Error opening file \"blocked_internal.mat\": Is a directory, please make sure it "
                "is a valid file name and the running process have write access to the current "
                "working directory\n",
                kSetupFailed}));
}

TEST_F(ResultGeneration, TheFmiFunctionsDriveItFromInitializationToTermination) {
  fmiInstance *c = instantiate("hooks", fmi2CoSimulation);
  c->resultGenerationOn = 1;
  ASSERT_EQ(fmi2EnterInitializationMode(c), fmi2OK);
  EXPECT_TRUE(host_.hasMessage("Setting up result generation", fmi2OK));
  ASSERT_NE(c->resultGeneration, nullptr);
  ASSERT_EQ(fmi2ExitInitializationMode(c), fmi2OK);
  // The vessel's output interval is 0: no grid, points at set-up, the exit of
  // initialization and the end.
  step(c, 0.0, 0.5);
  step(c, 0.5, 0.5);
  EXPECT_EQ(bufferedTimes(c), (std::vector<double>{0, 0}));
  fmi2FMUstate state = nullptr;
  EXPECT_EQ(fmi2GetFMUstate(c, &state), fmi2Warning);
  EXPECT_TRUE(host_.hasMessage("fmi2GetFMUstate failed, FMU uses internal result generation; "
                               "this is not possible to combine with fmi2GetFMUstate",
                               fmi2Warning));
  ASSERT_EQ(fmi2Terminate(c), fmi2OK);
  EXPECT_EQ(readResult("hooks_internal.mat").times(), floats({0, 0, 1.0}));

  // A reset instance initialized again writes a second file.
  ASSERT_EQ(fmi2Reset(c), fmi2OK);
  ASSERT_EQ(fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(fmi2ExitInitializationMode(c), fmi2OK);
  step(c, 0.0, 0.25);
  // Freed without terminate: the file is completed all the same.
  release(c);
  EXPECT_EQ(readResult("hooks_internal2.mat").times(), floats({0, 0, 0.25}));
}

// ---- the writer -----------------------------------------------------------------------------

TEST_F(ResultGeneration, WriterLaysOutSelectedVariables) {
  const std::string file = "layout.mat";
  fmiResultWriter w{};
  const auto run = [&](int32_t mode, double t = 0, const double *p = nullptr,
                       const double *x = nullptr, const double *xdot = nullptr,
                       const double *y = nullptr, const double *u = nullptr,
                       const double *aux = nullptr) {
    return fmiResultWrite(mode, &w, t, 1e-9, p, x, xdot, y, u, aux);
  };
  ASSERT_EQ(run(fmiResultClear), fmiResultDone);
  EXPECT_EQ(w.counts[fmiResultParameter], 3);
  EXPECT_EQ(w.counts[fmiResultAuxiliary], 2);
  ASSERT_EQ(run(fmiResultPrepare), fmiResultDone);
  EXPECT_STREQ(w.fileName, "dsres.mat");
  w.fileName = file.c_str();
  w.selection[fmiResultParameter][0] = w.selection[fmiResultParameter][2] = 1;
  w.selection[fmiResultState][0] = w.selection[fmiResultDerivative][0] = 1;
  w.selection[fmiResultOutput][1] = w.selection[fmiResultInput][0] = 1;
  ASSERT_EQ(run(fmiResultLayout), fmiResultDone);
  EXPECT_EQ(w.variables, 7);
  ASSERT_EQ(run(fmiResultRegisterTime), fmiResultDone);
  // What a generated declaration does, in its own order.
  EXPECT_EQ(fmiResultRegister(&w, fmiResultParameter, 0, "vornSurface", "cross-section"), 0);
  EXPECT_EQ(fmiResultRegister(&w, fmiResultState, 0, "level", "liquid level"), 0);
  EXPECT_EQ(fmiResultRegister(&w, fmiResultAuxiliary, 0, "g", "not selected"), 0);
  EXPECT_EQ(fmiResultRegister(&w, fmiResultParameter, 2, "initialLevel", "level at start"), 0);
  EXPECT_EQ(fmiResultRegister(&w, fmiResultDerivative, 0, "der(level)", ""), 0);
  EXPECT_EQ(run(fmiResultCheckCount), fmiResultCountMismatch) << "two are not named yet";
  EXPECT_EQ(fmiResultRegister(&w, fmiResultOutput, 1, "outflow", "through the hole"), 0);
  EXPECT_EQ(fmiResultRegister(&w, fmiResultInput, 0, "inputRate", "inflow"), 0);
  EXPECT_EQ(fmiResultRegister(&w, fmiResultInput, 1, "beyond", ""), fmiResultCountMismatch);
  ASSERT_EQ(run(fmiResultCheckCount), fmiResultDone);
  const double p[3] = {2.0, 0.1, 3.0}, x[1] = {3.0}, xdot[1] = {-0.25}, y[2] = {3.0, 0.75},
               u[1] = {0.5}, aux[2] = {9.81, -0.25};
  ASSERT_EQ(run(fmiResultFirstRow, 0.0, p, x, xdot, y, u, aux), fmiResultDone);
  ASSERT_EQ(run(fmiResultOpen), fmiResultDone);
  const double x2[1] = {2.5}, y2[2] = {2.5, 0.5};
  ASSERT_EQ(run(fmiResultStartRow, 0.5, p, x, xdot, y, u, aux), fmiResultDone);
  ASSERT_EQ(run(fmiResultPutRow), fmiResultDone);
  ASSERT_EQ(run(fmiResultStartRow, 1.0, p, x2, xdot, y2, u, aux), fmiResultDone);
  ASSERT_EQ(run(fmiResultPutRow), fmiResultDone);
  EXPECT_EQ(w.rowCounter, 2);
  ASSERT_EQ(run(fmiResultClose), fmiResultDone);

  const ResultFile r = readResult(file);
  EXPECT_EQ(r.names, (std::vector<std::string>{"Time", "vornSurface", "level", "initialLevel",
                                               "der(level)", "outflow", "inputRate"}));
  EXPECT_EQ(r.descriptions,
            (std::vector<std::string>{"Time in seconds", "cross-section", "liquid level",
                                      "level at start", "", "through the hole", "inflow"}));
  EXPECT_EQ(r.info, (std::vector<std::array<int32_t, 4>>{{0, 1, 0, -1},
                                                         {1, 2, 0, 0},
                                                         {2, 2, 0, -1},
                                                         {1, 3, 0, 0},
                                                         {2, 3, 0, -1},
                                                         {2, 4, 0, -1},
                                                         {2, 5, 0, -1}}));
  EXPECT_EQ(r.data1, (std::vector<std::vector<float>>{{0.0F, 2.0F, 3.0F}, {1e-9F, 2.0F, 3.0F}}));
  EXPECT_EQ(r.data2, (std::vector<std::vector<float>>{{0.5F, 3.0F, -0.25F, 0.75F, 0.5F},
                                                      {1.0F, 2.5F, -0.25F, 0.5F, 0.5F}}));

  const auto loaded = scipyLoad(file);
  const auto &info = loaded.matrices.at("dataInfo");
  EXPECT_EQ(info.rows, 4);
  EXPECT_EQ(info.cols, 7);
  const auto &d2 = loaded.matrices.at("data_2");
  EXPECT_EQ(d2.kind, "float32");
  ASSERT_EQ(d2.rows, 5);
  ASSERT_EQ(d2.cols, 2);
  EXPECT_EQ(d2.number(2), 3.0) << "level at t = 0.5";
  EXPECT_EQ(d2.number(3), 2.5) << "level at t = 1";
  std::remove(file.c_str());
}

} // namespace
