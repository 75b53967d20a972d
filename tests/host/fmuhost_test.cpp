// fmuhost run on the built .fmu, as a user runs it: the trajectory it prints
// against the exact solution of the vessel, its time grid, its refusals, what
// it says on stderr, its help, and its clean-up on signals.
#include "tests/host/fmuhost_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using namespace fmuhost_test;
using testing::HasSubstr;
using testing::Not;

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
    Csv t = parseCsv(r.out);
    ASSERT_EQ(t.header, (std::vector<std::string>{"time", "level", "outflow"}));
    ASSERT_EQ(t.rows.size(), 11u) << r.out;
    for (std::size_t k = 0; k <= 10; ++k) {
      SCOPED_TRACE(k);
      EXPECT_NEAR(t.number(k, "time"), static_cast<double>(k), 1e-12);
      double level = exactLevel(static_cast<double>(k), c.initial, c.vorn, c.hole);
      EXPECT_NEAR(t.number(k, "level"), level, 1e-6);
      EXPECT_NEAR(t.number(k, "outflow"), c.hole * std::sqrt(19.62 * level), 1e-6);
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
    Csv t = parseCsv(r.out);
    ASSERT_EQ(t.header, (std::vector<std::string>{"time", "level", "outflow"}));
    ASSERT_EQ(t.rows.size(), 11u) << r.out;
    for (std::size_t k = 0; k <= 10; ++k) {
      SCOPED_TRACE(k);
      EXPECT_NEAR(t.number(k, "time"), static_cast<double>(k), 1e-12);
      double level = exactLevel(static_cast<double>(k));
      EXPECT_NEAR(t.number(k, "level"), level, 1e-4 * level);
    }
  }
}

// Rows at start + j*interval and at the stop time, in both modes, whatever
// the step: a step that would pass an output point is shortened to end
// there, and step and row counts are kept as integers from the start time.
TEST(Fmuhost, RowsFallOnEveryOutputPointInBothModes) {
  struct Case {
    const char *options;
    double interval, stop;
    std::size_t rows;
  } cases[] = {
      {"--step 0.1 --interval 0.25 --stop 1", 0.25, 1, 5},
      {"--step 0.3 --interval 0.2 --stop 1", 0.2, 1, 6},
      {"--step 0.1 --interval 0.3 --stop 1", 0.3, 1, 5}, // 0, 0.3, 0.6, 0.9 and the stop time
      {"--step 1e-10 --stop 1e-9", 1e-10, 1e-9, 11},
      {"--step 1e-20 --stop 1e-19", 1e-20, 1e-19, 11},
  };
  for (const char *mode : {"me", "cs"}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(mode) + " " + c.options);
      Result r = runFmuhost(std::string("--mode ") + mode + " " + c.options + " " + UNIT_FMU_PATH);
      ASSERT_EQ(r.exitStatus, 0) << r.err;
      EXPECT_EQ(r.err, "");
      Csv t = parseCsv(r.out);
      ASSERT_EQ(t.rows.size(), c.rows) << r.out;
      for (std::size_t j = 0; j < c.rows; ++j) {
        SCOPED_TRACE(j);
        const double time = std::min(static_cast<double>(j) * c.interval, c.stop);
        EXPECT_NEAR(t.number(j, "time"), time, 1e-12 * c.stop);
        EXPECT_NEAR(t.number(j, "level"), exactLevel(time), 1e-4); // the unit's own tolerance in cs
      }
    }
  }
}

TEST(Fmuhost, ConstantInputAndChosenVariablesEachOnce) {
  // An inflow equal to the initial outflow keeps the level where it is.
  const double balance = 0.1 * std::sqrt(58.86);
  char options[240];
  std::snprintf(options, sizeof options,
                "--mode me --stop 2 --step 0.05 --interval 0.5 --input %.17g "
                "--vars 'time,inputRate,der(level),level,_StatesForOutputs.level,der(level)' ",
                balance);
  Result r = runFmuhost(options + std::string(UNIT_FMU_PATH));
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  Csv t = parseCsv(r.out);
  ASSERT_EQ(t.header, (std::vector<std::string>{"time", "level", "outflow", "inputRate",
                                                "der(level)", "_StatesForOutputs.level"}));
  ASSERT_EQ(t.rows.size(), 5u) << r.out;
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    EXPECT_NEAR(t.number(i, "level"), 3.0, 1e-9);
    EXPECT_NEAR(t.number(i, "inputRate"), balance, 1e-9);
    EXPECT_NEAR(t.number(i, "der(level)"), 0.0, 1e-9);
    EXPECT_NEAR(t.number(i, "_StatesForOutputs.level"), t.number(i, "level"), 1e-12);
  }
}

// Every refusal names the option and says why; the options are checked
// before the unit is loaded, so a huge grid is refused at once, without a row.
TEST(Fmuhost, RefusesOptionsThatDoNotFitTheModel) {
  struct Case {
    const char *arguments;
    int exitStatus;
    const char *message;
  } cases[] = {
      {"--mode me --vars nosuch", 2, "--vars: no variable named \"nosuch\""},
      {"--mode me --set level=1", 2, "--set: \"level\" is not a parameter"},
      {"--mode me --set vornSurface=abc", 2, "--set vornSurface: not a number: \"abc\""},
      {"--mode me --input nosuch=1", 2, "--input: no input named \"nosuch\""},
      {"--mode me --step 0", 2, "--step 0: the step must be positive"},
      {"--mode cs --interval -1", 2, "--interval -1: the output interval must be positive"},
      {"--mode me --stop -1", 2, "--stop -1: the stop time must not lie before the start time 0"},
      {"--mode xx", 2, "--mode is me or cs"},
      {"--interval 1e-300 --stop 0.02", 2,
       "--interval 1e-300: 2e+298 output rows from 0 to 0.02, more than 10000000; give a "
       "larger --interval"},
      {"--mode me --step 1e-300 --stop 0.02", 2,
       "--step 1e-300: 2e+298 steps from 0 to 0.02, more than 10000000; give a larger --step"},
      {"--step 1e-6 --stop 100", 2, "--step 1e-06: 100000000 steps from 0 to 100"},
      {"--mode me --set vornSurface=0", 1, "fmi2EnterInitializationMode returned fmi2Error"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.arguments);
    Result r = runFmuhost(std::string(c.arguments) + " " + UNIT_FMU_PATH);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_EQ(r.out, "");
  }
}

// Near the time the vessel runs dry the unit's integrator may reject a trial
// whose level would fall below zero and log it as a model error, yet the
// calls end fmi2OK: a successful run keeps stderr clean but for one line
// that says how many messages --log would show.  With the stop time short of
// the emptying the integrator stays before it, and no model error arises.
TEST(Fmuhost, RunNearTheEmptyingTimeSucceedsWithACleanStderr) {
  // "fmuhost: <count> messages of ... not shown (...)\n", and nothing else.
  auto onlyTheSummary = [](const std::string &err) {
    const std::string head = "fmuhost: ",
                      tail = " messages of calls that ended fmi2OK not shown (--log shows every "
                             "message)\n";
    if (err.size() <= head.size() + tail.size() || err.rfind(head, 0) != 0 ||
        err.compare(err.size() - tail.size(), tail.size(), tail) != 0)
      return false;
    const std::string count = err.substr(head.size(), err.size() - head.size() - tail.size());
    return count.find_first_not_of("0123456789") == std::string::npos;
  };
  struct Case {
    const char *options;
    bool rejectedTrial; // --log shows a model error of a rejected trial
  } cases[] = {
      {"--stop 15.63", true},
      {"--stop 15.6", false},
      {"--stop 13 --set holeSurface=0.12", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options);
    const std::string defaults = "--mode cs --step 0.01 --interval 0.5 ";
    Result r = runFmuhost(defaults + c.options + " " + UNIT_FMU_PATH);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    // Nothing held back leaves stderr empty.
    EXPECT_TRUE(c.rejectedTrial ? onlyTheSummary(r.err) : r.err.empty() || onlyTheSummary(r.err))
        << r.err;
    Csv t = parseCsv(r.out);
    ASSERT_FALSE(t.rows.empty());
    EXPECT_GE(t.number(t.rows.size() - 1, "level"), 0.0);

    Result logged = runFmuhost(defaults + c.options + " --log " + UNIT_FMU_PATH);
    ASSERT_EQ(logged.exitStatus, 0) << logged.err;
    EXPECT_EQ(logged.err.find("Model error - sqrt") != std::string::npos, c.rejectedTrial)
        << logged.err;
    EXPECT_THAT(logged.err, Not(HasSubstr("not shown")));
    EXPECT_EQ(logged.out, r.out);
  }
}

// A run past the emptying time fails: the failing call is reported with its
// status and time, and its messages follow, each once; those of the earlier
// calls that ended fmi2OK are not shown.
TEST(Fmuhost, FailingRunShowsTheFailingCallsMessagesOnce) {
  struct Case {
    const char *options, *report;
  } cases[] = {
      {"--mode me --stop 20 --step 0.1",
       "fmuhost: fmi2GetDerivatives returned fmi2Discard at t = 15.6"},
      // The step whose end state the unit cannot evaluate, or whose
      // integration finds the level below zero.
      {"--mode cs --stop 20 --step 0.01", "fmuhost: fmi2DoStep returned fmi2Error at t = 15."},
      {"--mode cs --stop 20 --step 0.01 --interval 5",
       "fmuhost: fmi2DoStep returned fmi2Error at t = 15."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options);
    Result r = runFmuhost(std::string(c.options) + " " + UNIT_FMU_PATH);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(occurrences(r.err, c.report), 1u) << r.err;
    // The report comes first, then the messages of the call, none twice.
    const size_t first = r.err.find("Model error - sqrt");
    ASSERT_NE(first, std::string::npos) << r.err;
    EXPECT_LT(r.err.find(c.report), first) << r.err;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("Model error - sqrt") != std::string::npos) {
        EXPECT_EQ(occurrences(r.err, line), 1u) << line;
      }
    }
    EXPECT_EQ(occurrences(r.err, " messages of calls that ended fmi2OK not shown"),
              r.err.find("not shown") != std::string::npos ? 1u : 0u);
    Csv t = parseCsv(r.out);
    ASSERT_FALSE(t.rows.empty());
    EXPECT_LT(t.number(t.rows.size() - 1, "time"), 16.0);
  }
}

TEST(Fmuhost, HelpDescribesEveryOptionTheOutputAndTheExitStatuses) {
  Result r = runFmuhost("--help");
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const char *text : {"--mode me|cs", "--stop T", "--step H", "--interval D",
                           "--set NAME=VALUE", "--input [NAME=]VALUE", "--vars A,B,...", "--log",
                           "default", "Real variables only", "Output (stdout)", "RFC 4180",
                           "Exit status:", "  0 ", "  1 ", "  2 ", "128+N", "Examples:"})
    EXPECT_THAT(r.out, HasSubstr(text));
  // How names are given, the step, the events, the numbers and the messages.
  for (const char *text :
       {"--vars 'A[1,2]'", "follows the last '='", "canHandleVariableCommunicationStepSize",
        "shortest text", "chatters", "whole however long", "not a C"})
    EXPECT_THAT(r.out, HasSubstr(text));

  // Both examples run as they stand, on the vessel's archive.
  std::istringstream lines(r.out);
  std::vector<std::string> examples;
  std::string line, command;
  while (std::getline(lines, line)) {
    std::size_t at = line.find("fmuhost --");
    if (at != std::string::npos)
      command = line.substr(at + 8);
    else if (!command.empty())
      command += " " + line;
    if (!command.empty() && command.back() != '\\') {
      examples.push_back(command);
      command.clear();
    } else if (!command.empty()) {
      command.pop_back();
    }
  }
  ASSERT_EQ(examples.size(), 2u) << r.out;
  for (const std::string &example : examples) {
    SCOPED_TRACE(example);
    Result run = runFmuhost(replaced(example, "vornwin3264.fmu", UNIT_FMU_PATH));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_GT(parseCsv(run.out).rows.size(), 5u);
  }
}

TEST(Fmuhost, ReportsAnArchiveItCannotRead) {
  Result r = runFmuhost("--mode me /nonexistent/unit.fmu");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("/nonexistent/unit.fmu: cannot open the archive"));
  EXPECT_TRUE(r.out.empty());
}

// SIGTERM or SIGINT in the middle of a run: the unpacked archive is removed
// and the process ends by the signal.
TEST(Fmuhost, RemovesTheUnpackedArchiveWhenInterrupted) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    ScratchFolder dir("signal");
    const fs::path tmp = dir.path / "tmp", out = dir.path / "out";
    fs::create_directories(tmp);
    // A level held constant by its inflow, for ten million steps: long enough
    // not to end first.
    char input[64];
    std::snprintf(input, sizeof input, "%.17g", 0.1 * std::sqrt(58.86));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = spawnFmuhost({"--mode", "me", "--stop", "1e5", "--step", "0.01", "--interval",
                                    "1000", "--input", input, UNIT_FMU_PATH},
                                   tmp, actions);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_NE(pid, 0);

    // Running once the archive is unpacked (stdout is a file, so no row
    // shows before its buffer fills).
    bool unpacked = false;
    for (int i = 0; i < 3000 && !unpacked; ++i) {
      for (const auto &e : fs::directory_iterator(tmp))
        if (e.path().filename().string().rfind("fmuhost.", 0) == 0 &&
            fs::exists(e.path() / "binaries"))
          unpacked = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(unpacked);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(::kill(pid, sig), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), sig);
    }
    EXPECT_TRUE(fs::is_empty(tmp));
  }
}

} // namespace
