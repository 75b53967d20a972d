// fmuhost with units it did not come with: the test's own falling ball
// (ball_unit/ball.c: state events, time events of three passes with a state
// reset in the first, a discrete input, a closed-form trajectory) and a unit
// with step events and a model that ends the run (fake_unit/), both strict
// about the Model Exchange modes; and archives made up by the test, for the
// messages about them and for the time far from zero.
#include "tests/host/fmuhost_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace fmuhost_test;
using testing::HasSubstr;
using testing::Not;

// ---- The ball's exact trajectory ----------------------------------------------
// Parabolas between events: a bounce where the height reaches 0 falling
// (v := -e*v; at rest below a rebound of 0.5 m/s), a kick at every multiple
// of 0.5 s (v += kick; a ball at rest takes off upwards).  The state after
// every event at or before t.
struct BallState {
  double h = 1, v = 0;
  int bounces = 0, kicks = 0, passes = 0;
  bool resting = false;
  double nearestImpact = std::numeric_limits<double>::infinity(); // |t - impact| of the closest
};

BallState exactBall(double t, double kick, double e = 0.7, double g = 9.81) {
  BallState s;
  double now = 0;
  for (int k = 1;;) {
    const double te = 0.5 * k;
    double impact = std::numeric_limits<double>::infinity();
    if (!s.resting) impact = now + (s.v + std::sqrt(s.v * s.v + 2 * g * s.h)) / g;
    s.nearestImpact = std::min(s.nearestImpact, std::fabs(impact - t));
    const double next = std::min(impact, te);
    const double until = std::min(next, t);
    if (!s.resting) {
      const double dt = until - now;
      s.h += s.v * dt - 0.5 * g * dt * dt;
      s.v -= g * dt;
    }
    now = until;
    if (next > t) return s;
    if (impact <= te) {
      s.bounces += 1;
      s.h = 0;
      s.v = -e * s.v;
      if (s.v < 0.5) {
        s.v = 0;
        s.resting = true;
      }
    } else {
      s.v += kick;
      if (s.resting && s.v > 0) s.resting = false;
      if (s.resting) s.v = 0;
      s.kicks += 1;
      s.passes += 3;
      ++k;
    }
  }
}

// The ball in Model Exchange against its closed form at every row: the
// bounces located inside the step (a bounce handled at the end of its step
// lands the ball late and high), the kick made in the first of three passes
// kept (a host that read the states back only after a last pass that
// changed nothing integrates the ball unkicked), the discrete kick set
// before initialization and never in Continuous-Time Mode (the ball refuses
// that).
TEST(FmuhostEvents, BallFollowsItsExactTrajectory) {
  struct Case {
    const char *options;
    double kick, e;
  } cases[] = {
      {"--interval 0.05", 0, 0.7},
      {"--interval 0.05 --input kick=1.5", 1.5, 0.7},
      {"--step 0.003 --interval 0.04 --input kick=2 --stop 5", 2, 0.7},
      {"--step 0.1 --interval 0.1 --input 0.8 --set e=0.8", 0.8, 0.8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options);
    Result r = runFmuhost(std::string("--mode me ") + c.options + " " + BALL_UNIT_FMU_PATH);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    Csv t = parseCsv(r.out);
    ASSERT_GT(t.rows.size(), 20u);
    int checked = 0;
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      const double time = t.number(i, "time");
      SCOPED_TRACE(time);
      const BallState s = exactBall(time, c.kick, c.e);
      if (s.nearestImpact < 1e-6) continue; // the row might fall either side of a bounce
      EXPECT_NEAR(t.number(i, "h"), s.h, 1e-7);
      EXPECT_NEAR(t.number(i, "v"), s.v, 1e-7);
      EXPECT_EQ(t.number(i, "bounces"), s.bounces);
      EXPECT_EQ(t.number(i, "kicks"), s.kicks);
      EXPECT_EQ(t.number(i, "passes"), s.passes);
      ++checked;
    }
    EXPECT_GT(checked, 20);
    // The ball has bounced several times and, unkicked, come to rest.
    const BallState end = exactBall(t.number(t.rows.size() - 1, "time"), c.kick, c.e);
    EXPECT_GE(end.bounces, 3);
    if (c.kick == 0) {
      EXPECT_TRUE(end.resting);
    }
  }
}

// A read that does not end fmi2OK: reported with the call, the time and the
// variable, the unit's message once; a warning leaves the value empty and
// the run goes on, fmi2Discard, fmi2Error and fmi2Fatal end it (after
// fmi2Error the instance is only freed, after fmi2Fatal not even that).
TEST(FmuhostEvents, ReadThatDoesNotEndOkIsReportedAndNeverShownAsAValue) {
  struct Case {
    int status;
    const char *name;
    int exitStatus;
  } cases[] = {
      {1, "fmi2Warning", 0}, {2, "fmi2Discard", 1}, {3, "fmi2Error", 1}, {4, "fmi2Fatal", 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Result r = runFmuhost("--mode me --interval 0.1 --stop 1.2 --set failFrom=1 --set failStatus=" +
                          std::to_string(c.status) + " " + BALL_UNIT_FMU_PATH);
    EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
    const std::string report =
        std::string("fmuhost: fmi2GetReal returned ") + c.name + " at t = 1 (h)\n";
    EXPECT_THAT(r.err, HasSubstr(report + "[" + c.name +
                                 "] ball: h cannot be read from "
                                 "failFrom on (t = 1)\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("state violation")));
    Csv t = parseCsv(r.out);
    ASSERT_EQ(t.rows.size(), c.exitStatus == 0 ? 13u : 10u) << r.out;
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      const bool failed = t.number(i, "time") >= 1 - 1e-12;
      EXPECT_EQ(t.cell(i, "h").empty(), failed) << t.cell(i, "time");
      EXPECT_FALSE(t.cell(i, "v").empty());
    }
    if (c.exitStatus == 0) {
      EXPECT_EQ(occurrences(r.err, "fmi2GetReal returned fmi2Warning"), 3u) << r.err;
    } else {
      EXPECT_EQ(occurrences(r.err, "h cannot be read"), 1u) << r.err;
    }
  }
}

// Options are checked before the unit is loaded: a refused one never
// reaches fmi2Instantiate, and nothing is terminated that was not
// initialized.
TEST(FmuhostEvents, RefusedOptionsInstantiateNothing) {
  for (const char *options : {"--step 0", "--interval 0", "--stop -1", "--interval 1e-300"}) {
    SCOPED_TRACE(options);
    Result r = runFmuhost(std::string("--mode me ") + options + " " + BALL_UNIT_FMU_PATH);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_THAT(r.err, HasSubstr(std::string("fmuhost: ") + options));
    EXPECT_EQ(occurrences(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// Names and String values quoted as RFC 4180 does; Integer and Boolean
// values as they are; the resource location absolute even when TMPDIR is
// relative.
TEST(FmuhostEvents, CsvFieldsAreQuotedAndTheResourceLocationIsAbsolute) {
  ScratchFolder dir("relative");
  const fs::path relative = fs::relative(dir.path, fs::current_path());
  Result r =
      runFmuhost(std::string("--mode me --stop 3 --interval 1 --vars label,resting,resources ") +
                     BALL_UNIT_FMU_PATH,
                 "TMPDIR=" + relative.string());
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string header = r.out.substr(0, r.out.find('\n'));
  EXPECT_EQ(header, "time,h,v,\"height,\"\"m\"\"\",bounces,kicks,passes,label,resting,resources");
  Csv t = parseCsv(r.out);
  ASSERT_EQ(t.rows.size(), 4u) << r.out;
  EXPECT_EQ(t.column("height,\"m\""), 3);
  EXPECT_EQ(t.cell(0, "label"), "in the air");
  EXPECT_EQ(t.cell(3, "label"), "on the \"floor\", resting");
  EXPECT_THAT(r.out, HasSubstr(",\"on the \"\"floor\"\", resting\",true,"));
  EXPECT_EQ(t.cell(0, "resting"), "false");
  const std::string uri = t.cell(0, "resources");
  EXPECT_EQ(uri.rfind("file://" + fs::absolute(relative).string() + "/fmuhost.", 0), 0u) << uri;
  EXPECT_THAT(uri, testing::EndsWith("/resources"));
  EXPECT_TRUE(fs::is_empty(dir.path));
}

// The ball's description with one attribute changed, packed with the
// ball's library (or other bytes in its place).
std::string ballDescription() { return slurp(BALL_UNIT_DESCRIPTION); }

// Far from zero the time grid keeps its rows (a tolerance of 1e-9*|t| would
// take the row before the stop time for the stop time), and a step that
// does not advance the time there is refused.
TEST(FmuhostEvents, RowsAndStepsFarFromTimeZero) {
  ScratchFolder dir;
  const fs::path fmu = dir.path / "late.fmu";
  writeArchive(
      fmu, {{"modelDescription.xml", replaced(ballDescription(), "startTime=\"0\" stopTime=\"3\"",
                                              "startTime=\"1e9\" stopTime=\"1000000010\"")},
            {"binaries/linux64/ball_unit.so", slurp(BALL_UNIT_SO_PATH)}});
  Result r = runFmuhost("--mode me --interval 1 " + fmu.string());
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  Csv t = parseCsv(r.out);
  ASSERT_EQ(t.rows.size(), 11u) << r.out;
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    EXPECT_EQ(t.number(i, "time"), 1e9 + static_cast<double>(i));
    EXPECT_EQ(t.number(i, "kicks"), 2.0 * static_cast<double>(i));
  }

  Result refused = runFmuhost("--mode me --step 1e-8 --stop 1e9 " + fmu.string());
  EXPECT_EQ(refused.exitStatus, 2);
  EXPECT_THAT(refused.err, HasSubstr("fmuhost: --step 1e-08: does not advance the time at t = "
                                     "1000000000"));
}

// Messages about an archive name the archive the user gave and the member
// inside it, never the unpacked folder (gone by the time they are read).
TEST(FmuhostEvents, MessagesNameTheArchiveAndTheMember) {
  ScratchFolder dir;
  const std::string description = ballDescription(), library = slurp(BALL_UNIT_SO_PATH);
  struct Case {
    const char *mode;
    std::vector<std::pair<std::string, std::string>> entries;
    const char *message;
    int exitStatus = 1;
  } cases[] = {
      {"me",
       {{"modelDescription.xml", replaced(description, "\"ball_unit\"", "\"nosuch\"")},
        {"binaries/linux64/ball_unit.so", library}},
       "a.fmu: binaries/linux64/nosuch.so: not in the archive"},
      {"me",
       {{"modelDescription.xml", description},
        {"binaries/linux64/ball_unit.so", "not a shared library"}},
       "a.fmu: binaries/linux64/ball_unit.so: cannot load: "},
      {"cs",
       {{"modelDescription.xml",
         replaced(description, "<ModelExchange modelIdentifier=\"ball_unit\"/>",
                  "<CoSimulation modelIdentifier=\"ball_unit\"/>")},
        {"binaries/linux64/ball_unit.so", library}},
       "a.fmu: binaries/linux64/ball_unit.so: does not export fmi2DoStep, fmi2GetStatus, "
       "fmi2GetRealStatus, fmi2GetBooleanStatus"},
      {"cs",
       {{"modelDescription.xml", description}},
       "a.fmu: the unit does not declare Co-Simulation",
       2}, // the options do not fit it
      {"me",
       {{"modelDescription.xml", "<fmiModelDescription"}},
       "a.fmu: modelDescription.xml: not well-formed XML"},
      {"me",
       {{"binaries/linux64/ball_unit.so", library}},
       "a.fmu: modelDescription.xml: not in the archive"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    const fs::path fmu = dir.path / "a.fmu";
    writeArchive(fmu, c.entries);
    Result r =
        runFmuhost(std::string("--mode ") + c.mode + " a.fmu", "cd " + dir.path.string() + " &&");
    EXPECT_EQ(r.exitStatus, c.exitStatus);
    EXPECT_THAT(r.err, HasSubstr("fmuhost: " + std::string(c.message)));
    EXPECT_THAT(r.err, Not(HasSubstr("fmuhost.")));
  }
}

// Model Exchange events, with a unit that refuses every call out of its mode
// (see fake_unit/fake_unit.cpp): the step lands on each time event, a state
// event is located inside its step and the reset state is read back, a step
// event is taken, the event iteration runs until it converges, and the model
// may end the run.
TEST(FmuhostEvents, ModelExchangeHandlesTimeStateAndStepEvents) {
  Result r = runFmuhost(std::string("--mode me --vars x ") + FAKE_UNIT_FMU_PATH);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "fmuhost: the model ended the simulation at t = 1.25\n");
  Csv t = parseCsv(r.out);
  ASSERT_EQ(t.header,
            (std::vector<std::string>{"time", "resets", "ticks", "stepEvents", "passes", "x"}));
  // Rows every 0.1 s (the default experiment's step) up to 1.2, then the end.
  ASSERT_EQ(t.rows.size(), 14u) << r.out;
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const double time = i < 13 ? 0.1 * static_cast<double>(i) : 1.25;
    SCOPED_TRACE(time);
    EXPECT_NEAR(t.number(i, "time"), time, 1e-12);
    // x = t until it reaches 0.37 and is reset to 0, at 0.37, 0.74 and 1.11.
    const double resets = std::floor(time / 0.37);
    EXPECT_NEAR(t.number(i, "x"), time - 0.37 * resets, 1e-9);
    EXPECT_EQ(t.number(i, "resets"), resets);
    // Time events at 0.25, 0.75 and 1.25, each with two passes.
    const double ticks = time < 0.25 ? 0 : time < 0.75 ? 1 : time < 1.25 ? 2 : 3;
    EXPECT_EQ(t.number(i, "ticks"), ticks);
    EXPECT_EQ(t.number(i, "passes"), 2 * ticks);
    EXPECT_EQ(t.number(i, "stepEvents"), time < 0.85 ? 0 : 1);
  }
}

} // namespace
