// fmuhost run on the built .fmu, as a user runs it: the trajectory it prints
// against the exact solution of the vessel, and its refusals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

struct Result {
  int exitStatus = -1;
  std::string out, err;
};

Result runFmuhost(const std::string &arguments) {
  fs::path dir = fs::temp_directory_path() / ("fmuhost_test." + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string command = std::string(FMUHOST_PATH) + " " + arguments + " > " +
                        (dir / "out").string() + " 2> " + (dir / "err").string();
  Result r;
  int rc = std::system(command.c_str());
  r.exitStatus = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  auto slurp = [](const fs::path &p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  r.out = slurp(dir / "out");
  r.err = slurp(dir / "err");
  fs::remove_all(dir);
  return r;
}

// The CSV: header names and rows of numbers.
struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<double>> rows;
  int column(const std::string &name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i] == name) return static_cast<int>(i);
    return -1;
  }
};

Table parseCsv(const std::string &text) {
  Table t;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line)) return t;
  std::stringstream header(line);
  for (std::string cell; std::getline(header, cell, ',');) t.columns.push_back(cell);
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::stringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');)
      row.push_back(std::strtod(cell.c_str(), nullptr));
    EXPECT_EQ(row.size(), t.columns.size()) << line;
    t.rows.push_back(row);
  }
  return t;
}

// level(t) of the vessel without inflow, from level(0) = initial.
double exactLevel(double t, double initial = 3.0, double vorn = 2.0, double hole = 0.1) {
  double r = std::sqrt(initial) - hole * std::sqrt(19.62) / (2.0 * vorn) * t;
  return r * r;
}

TEST(Fmuhost, ModelExchangeFollowsTheExactLevel) {
  struct Case {
    const char *options;
    double initial, vorn, hole;
  } cases[] = {
      {"", 3.0, 2.0, 0.1},
      {"--set initialLevel=2 --set vornSurface=3", 2.0, 3.0, 0.1},
      {"--set holeSurface=0.05", 3.0, 2.0, 0.05},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options);
    Result r = runFmuhost(std::string("--mode me --stop 10 --step 0.01 --interval 1 ") + c.options +
                          " " + UNIT_FMU_PATH);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    Table t = parseCsv(r.out);
    ASSERT_EQ(t.columns, (std::vector<std::string>{"time", "level", "outflow"}));
    ASSERT_EQ(t.rows.size(), 11u) << r.out;
    for (int k = 0; k <= 10; ++k) {
      SCOPED_TRACE(k);
      const std::vector<double> &row = t.rows[static_cast<std::size_t>(k)];
      EXPECT_NEAR(row[0], k, 1e-12);
      double level = exactLevel(k, c.initial, c.vorn, c.hole);
      EXPECT_NEAR(row[1], level, 1e-6);
      EXPECT_NEAR(row[2], c.hole * std::sqrt(19.62 * level), 1e-6);
    }
  }
}

// Co-Simulation: the unit integrates itself between the communication points.
TEST(Fmuhost, CoSimulationFollowsTheExactLevel) {
  for (const char *step : {"1", "0.01"}) {
    SCOPED_TRACE(step);
    Result r = runFmuhost(std::string("--mode cs --stop 10 --interval 1 --step ") + step + " " +
                          UNIT_FMU_PATH);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    Table t = parseCsv(r.out);
    ASSERT_EQ(t.columns, (std::vector<std::string>{"time", "level", "outflow"}));
    ASSERT_EQ(t.rows.size(), 11u) << r.out;
    for (int k = 0; k <= 10; ++k) {
      SCOPED_TRACE(k);
      const std::vector<double> &row = t.rows[static_cast<std::size_t>(k)];
      EXPECT_NEAR(row[0], k, 1e-12);
      EXPECT_NEAR(row[1], exactLevel(k), 1e-4 * exactLevel(k));
    }
  }
}

TEST(Fmuhost, ConstantInputAndChosenVariables) {
  // An inflow equal to the initial outflow keeps the level where it is.
  const double balance = 0.1 * std::sqrt(58.86);
  char options[200];
  std::snprintf(options, sizeof options,
                "--mode me --stop 2 --step 0.05 --interval 0.5 --input %.17g "
                "--vars 'inputRate,der(level),_StatesForOutputs.level' ",
                balance);
  Result r = runFmuhost(options + std::string(UNIT_FMU_PATH));
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  Table t = parseCsv(r.out);
  ASSERT_EQ(t.columns, (std::vector<std::string>{"time", "level", "outflow", "inputRate",
                                                 "der(level)", "_StatesForOutputs.level"}));
  ASSERT_EQ(t.rows.size(), 5u) << r.out;
  for (const auto &row : t.rows) {
    EXPECT_NEAR(row[1], 3.0, 1e-9);
    EXPECT_NEAR(row[3], balance, 1e-9);
    EXPECT_NEAR(row[4], 0.0, 1e-9);
    EXPECT_NEAR(row[5], row[1], 1e-12);
  }
}

TEST(Fmuhost, RefusesOptionsThatDoNotFitTheModel) {
  struct Case {
    const char *arguments;
    int exitStatus;
    const char *message;
  } cases[] = {
      {"--mode me --vars nosuch", 2, "no variable named \"nosuch\""},
      {"--mode me --set level=1", 2, "\"level\" is not a parameter"},
      {"--mode me --set vornSurface=abc", 2, "--set vornSurface: not a number: \"abc\""},
      {"--mode me --input nosuch=1", 2, "no input named \"nosuch\""},
      {"--mode me --step 0", 2, "the step must be positive"},
      {"--mode xx", 2, "--mode is me or cs"},
      {"--mode me --set vornSurface=0", 1, "fmi2EnterInitializationMode returned fmi2Error"},
      // The vessel runs dry at about 15.64 s: the model error ends the run.
      {"--mode me --stop 20 --step 0.1", 1, "fmi2GetDerivatives returned fmi2Discard"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.arguments);
    Result r = runFmuhost(std::string(c.arguments) + " " + UNIT_FMU_PATH);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.message));
  }
}

// Model Exchange events, with a unit that refuses every call out of its mode
// (see fake_unit/fake_unit.cpp): the step lands on each time event, a state
// event is handled at the end of the step in which its indicator changes
// sign and the reset state is read back, a step event is taken, the event
// iteration runs until it converges, and the model may end the run.
TEST(Fmuhost, ModelExchangeHandlesTimeStateAndStepEvents) {
  Result r = runFmuhost(std::string("--mode me --vars x ") + FAKE_FMU_PATH);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err.find("state violation"), std::string::npos) << r.err;
  EXPECT_THAT(r.err, HasSubstr("the model ended the simulation at t = 1.25"));
  Table t = parseCsv(r.out);
  ASSERT_EQ(t.columns,
            (std::vector<std::string>{"time", "resets", "ticks", "stepEvents", "passes", "x"}));
  // Rows every 0.1 s (the default experiment's step) up to 1.2, then the end.
  ASSERT_EQ(t.rows.size(), 14u) << r.out;
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::vector<double> &row = t.rows[i];
    const double time = i < 13 ? 0.1 * static_cast<double>(i) : 1.25;
    SCOPED_TRACE(time);
    EXPECT_NEAR(row[0], time, 1e-12);
    // x = t until its reset at the state event found at 0.6, again at 1.2.
    const double x = time < 0.55 ? time : time < 1.15 ? time - 0.6 : time - 1.2;
    EXPECT_NEAR(row[5], x, 1e-9);
    EXPECT_EQ(row[1], time < 0.55 ? 0 : time < 1.15 ? 1 : 2);
    // Time events at 0.25, 0.75 and 1.25, each with two passes.
    const double ticks = time < 0.25 ? 0 : time < 0.75 ? 1 : time < 1.25 ? 2 : 3;
    EXPECT_EQ(row[2], ticks);
    EXPECT_EQ(row[4], 2 * ticks);
    EXPECT_EQ(row[3], time < 0.85 ? 0 : 1);
  }
}

TEST(Fmuhost, ReportsAnArchiveItCannotRead) {
  Result r = runFmuhost("--mode me /nonexistent/unit.fmu");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("/nonexistent/unit.fmu: cannot open the archive"));
  EXPECT_TRUE(r.out.empty());
}

} // namespace
