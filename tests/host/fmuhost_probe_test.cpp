// fmuhost with units it did not come with, each probing one thing (see
// probe_unit/probe_unit.cpp): a modelIdentifier that leads out of the
// archive, chattering state events, times far from zero, an event just
// before an output point, a unit that cannot vary its communication step,
// names with a comma or an '=', numbers in the description with white space
// and '+', a long message.
#include "tests/host/fmuhost_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace fmuhost_test;
using testing::HasSubstr;
using testing::Not;

// The probe's archive with its description changed by `changes` (each text
// replaced by another), in `dir`.
fs::path probeArchive(const ScratchFolder &dir,
                      const std::vector<std::pair<std::string, std::string>> &changes) {
  std::string description = slurp(PROBE_UNIT_DESCRIPTION);
  for (const auto &[from, to] : changes) {
    EXPECT_THAT(description, HasSubstr(from));
    description = replaced(description, from, to);
  }
  const fs::path fmu = dir.path / "probe.fmu";
  writeArchive(fmu, {{"modelDescription.xml", description},
                     {"binaries/linux64/probe_unit.so", slurp(PROBE_UNIT_SO_PATH)}});
  return fmu;
}

// A modelIdentifier is a C identifier: one that climbs out of
// binaries/linux64/ to a library elsewhere is refused, and that library is
// never loaded (it would print a trajectory).
TEST(FmuhostProbe, ModelIdentifierThatLeadsOutOfTheArchiveIsRefused) {
  ScratchFolder dir;
  fs::create_directories(dir.path / "outside");
  fs::copy_file(PROBE_UNIT_SO_PATH, dir.path / "outside/Evil.so");
  std::string climb;
  for (int i = 0; i < 16; ++i) climb += "../";
  const std::string id = climb + (dir.path / "outside/Evil").relative_path().string();
  const std::string description =
      replaced(slurp(PROBE_UNIT_DESCRIPTION), "modelIdentifier=\"probe_unit\"",
               "modelIdentifier=\"" + id + "\"");
  const fs::path fmu = dir.path / "evil.fmu";
  writeArchive(
      fmu, {{"modelDescription.xml", description}, {"binaries/linux64/placeholder", "nothing"}});
  for (const char *mode : {"me", "cs"}) {
    SCOPED_TRACE(mode);
    Result r = runFmuhost(std::string("--mode ") + mode + " " + fmu.string());
    EXPECT_EQ(r.exitStatus, 1) << r.out;
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("evil.fmu: modelDescription.xml: the modelIdentifier \"" + id +
                                 "\" of <ModelExchange> is not a C identifier"));
  }
}

// x' = -s, each event at z = x setting s = sign(x): from t = 0.5 on every
// event comes an event tolerance after the one before.  The run ends there
// with a message naming the time, the count and the indicator, instead of
// crawling on for days.
TEST(FmuhostProbe, ChatteringStateEventsEndTheRun) {
  Result r = runFmuhost(std::string("--mode me --set probe=1 --vars x ") + PROBE_UNIT_FMU_PATH);
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("fmuhost: the state events do not move the time on: 101 events "
                               "in a row at t = 0.5"));
  EXPECT_THAT(r.err, HasSubstr("the last by event indicator 0 (counted from 0)\n"));
  Csv t = parseCsv(r.out);
  ASSERT_EQ(t.rows.size(), 51u) << r.out;
  EXPECT_EQ(t.number(50, "time"), 0.5);
  EXPECT_NEAR(t.number(50, "x"), 0, 1e-9);
  EXPECT_EQ(t.number(50, "events"), 1);
}

// Rows a millisecond apart at 1e9 s: each prints its own time, the grid's
// point as it is (shortest text that reads back the same double), and its
// own value.
TEST(FmuhostProbe, RowsFarFromZeroPrintDistinctTimes) {
  ScratchFolder dir;
  const fs::path fmu =
      probeArchive(dir, {{"startTime=\"0\" stopTime=\"1\" stepSize=\"0.01\"",
                          "startTime=\"1e9\" stopTime=\"1000000000.01\" stepSize=\"0.001\""}});
  Result r = runFmuhost("--mode me --vars x " + fmu.string());
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  Csv t = parseCsv(r.out);
  ASSERT_EQ(t.rows.size(), 11u) << r.out;
  std::set<std::string> times, values;
  for (std::size_t k = 0; k < t.rows.size(); ++k) {
    SCOPED_TRACE(k);
    times.insert(t.cell(k, "time"));
    values.insert(t.cell(k, "x"));
    const double time = k < 10 ? 1e9 + static_cast<double>(k) * 0.001 : 1000000000.01;
    EXPECT_EQ(t.number(k, "time"), time);
    EXPECT_NEAR(t.number(k, "x"), std::exp(-(time - 1e9)), 1e-12);
  }
  EXPECT_EQ(times.size(), 11u);
  EXPECT_EQ(values.size(), 11u);
}

// An event found within the event tolerance before an output point: the
// point keeps its row, at its own time, after the event, also at the stop
// time (one row, not two).
TEST(FmuhostProbe, EventJustBeforeAnOutputPointLeavesItsRowInPlace) {
  struct Case {
    const char *c;
    double eventTime;
  } cases[] = {{"0.49999999999", 0.5}, {"0.99999999999", 1.0}, {"0.5000000000001", 0.6}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.c);
    Result r = runFmuhost(std::string("--mode me --set probe=2 --interval 0.1 --set c=") + c.c +
                          " " + PROBE_UNIT_FMU_PATH);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    Csv t = parseCsv(r.out);
    ASSERT_EQ(t.rows.size(), 11u) << r.out;
    for (std::size_t j = 0; j < t.rows.size(); ++j) {
      SCOPED_TRACE(j);
      const double time = 0.1 * static_cast<double>(j);
      EXPECT_NEAR(t.number(j, "time"), time, 1e-12);
      EXPECT_EQ(t.number(j, "events"), time >= c.eventTime - 1e-12 ? 1 : 0);
    }
  }
}

// canHandleVariableCommunicationStepSize="false" (the probe refusing any
// step that differs bit for bit from its first): every call takes the step
// as given, and options that would need another step are refused before
// the run.  A unit that can vary its step gets the step as given wherever
// the grid allows, and a shorter one only to reach an output point.
TEST(FmuhostProbe, CommunicationStepIsTakenAsGiven) {
  ScratchFolder dir;
  const fs::path fixed = probeArchive(dir, {{"canHandleVariableCommunicationStepSize=\"true\"",
                                             "canHandleVariableCommunicationStepSize=\"false\""}});
  struct Case {
    const char *options;
    bool canVary;
    int exitStatus;
    std::size_t rows;
    double steps; // fmi2DoStep calls; with otherSteps those whose step differs from the first
    bool stepVaries;
    const char *message;
  } cases[] = {
      {"--step 0.3 --stop 3", false, 0, 11, 10, false, ""},
      {"--step 0.3 --stop 3 --interval 0.6", false, 0, 6, 10, false, ""},
      {"--step 0.01 --stop 10", false, 0, 1001, 1000, false, ""},
      {"--step 0.1 --stop 10000 --interval 0.3", false, 0, 33335, 100000, false, ""},
      {"--step 0.3 --stop 3 --interval 0.5", false, 2, 0, 0, false,
       "fmuhost: --interval 0.5: the unit cannot vary its communication step "
       "(canHandleVariableCommunicationStepSize is false), so the interval must be a whole "
       "number of steps 0.3\n"},
      {"--step 0.3 --interval 0.1 --stop 3", false, 2, 0, 0, false, "--interval 0.1: "},
      {"--step 0.3", false, 2, 0, 0, false,
       "fmuhost: the default experiment's stopTime 1: the unit cannot vary its communication "
       "step (canHandleVariableCommunicationStepSize is false), so the stop time must lie a "
       "whole number of steps 0.3 after the start time 0\n"},
      {"--step 0.01 --stop 10", true, 0, 1001, 1000, false, ""},
      {"--step 0.3 --stop 3 --interval 0.5", true, 0, 7, 14, true, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.options) + (c.canVary ? " (can vary)" : " (cannot vary)"));
    Result r = runFmuhost(
        std::string("--mode cs --vars x ") + c.options + " " +
        (c.canVary ? std::string(PROBE_UNIT_FMU_PATH) : "--set fixedStep=1 " + fixed.string()));
    ASSERT_EQ(r.exitStatus, c.exitStatus) << r.err;
    if (c.exitStatus != 0) {
      EXPECT_THAT(r.err, HasSubstr(c.message));
      EXPECT_EQ(r.out, "");
      continue;
    }
    EXPECT_EQ(r.err, "");
    Csv t = parseCsv(r.out);
    ASSERT_EQ(t.rows.size(), c.rows);
    const std::size_t last = t.rows.size() - 1;
    EXPECT_EQ(t.number(last, "steps"), c.steps);
    EXPECT_EQ(t.number(last, "otherSteps") > 0, c.stepVaries);
    EXPECT_NEAR(t.number(last, "x"), std::exp(-t.number(last, "time")), 1e-9);
  }
}

// A failed step's message names the step as it was passed, every digit: a
// step shortened to reach an output point is the difference of two times
// and may differ from the round number in its last bits.
TEST(FmuhostProbe, FailedStepIsNamedAsPassed) {
  Result r = runFmuhost(std::string("--mode cs --set fixedStep=1 --step 0.1 --interval 0.25 ") +
                        PROBE_UNIT_FMU_PATH);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("fmuhost: fmi2DoStep returned fmi2Error at t = 0.2 (communication "
                               "step 0.04999999999999999)\n"));
}

// --vars takes a name with a comma as a whole, or in RFC 4180 quotes inside
// a list; --set takes a name with an '=' (the value follows the last '=').
TEST(FmuhostProbe, NamesWithACommaOrAnEqualsSign) {
  struct Case {
    const char *options;
    std::vector<std::string> extra;
  } cases[] = {
      {"--vars 'A[1,2]'", {"A[1,2]"}},
      {"--vars 'x,\"A[1,2]\",\"w=1\"' --set w=1=5", {"x", "A[1,2]", "w=1"}},
      {"--vars '\"A[1,2]\"' --vars x", {"A[1,2]", "x"}},
      {"--vars '\"w=1\",,' --set 'w=1=5'", {"w=1"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options);
    Result r =
        runFmuhost(std::string("--mode cs --stop 0.02 ") + c.options + " " + PROBE_UNIT_FMU_PATH);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    Csv t = parseCsv(r.out);
    std::vector<std::string> header = {"time", "events", "steps", "otherSteps"};
    header.insert(header.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(t.header, header);
    ASSERT_EQ(t.rows.size(), 3u);
    if (t.column("A[1,2]") >= 0) {
      EXPECT_EQ(t.cell(2, "A[1,2]"), "10");
    }
    if (t.column("w=1") >= 0) {
      EXPECT_EQ(t.cell(2, "w=1"), "5");
    }
  }

  for (const char *list : {"'\"A[1,2]'", "'\"A[1,2]\"x'"}) {
    SCOPED_TRACE(list);
    Result r = runFmuhost(std::string("--mode cs --vars ") + list + " " + PROBE_UNIT_FMU_PATH);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_THAT(r.err, HasSubstr("fmuhost: --vars: "));
    EXPECT_EQ(r.out, "");
  }
}

// Numbers of the description with white space around them and a '+' in
// front, as XML Schema reads them.
TEST(FmuhostProbe, NumbersInTheDescriptionWithWhiteSpaceAndPlus) {
  ScratchFolder dir;
  const fs::path fmu =
      probeArchive(dir, {{"numberOfEventIndicators=\"1\"", "numberOfEventIndicators=\" 1\""},
                         {"startTime=\"0\" stopTime=\"1\" stepSize=\"0.01\"",
                          "startTime=\" 0\" stopTime=\"+1 \" stepSize=\"&#10;0.25\""},
                         {"valueReference=\"6\"", "valueReference=\"+6\""},
                         {"<Unknown index=\"2\"", "<Unknown index=\" 2 \""}});
  Result r = runFmuhost("--mode me --set probe=2 --set c=0.6 " + fmu.string());
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  Csv t = parseCsv(r.out);
  ASSERT_EQ(t.rows.size(), 5u) << r.out;
  EXPECT_EQ(t.number(4, "time"), 1.0);
  EXPECT_EQ(t.number(4, "events"), 1);
}

// A message longer than any fixed buffer reaches stderr whole.
TEST(FmuhostProbe, LongMessageIsPrintedWhole) {
  Result r = runFmuhost(std::string("--mode cs --stop 0.02 --set messageLength=12000 ") +
                        PROBE_UNIT_FMU_PATH);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("] probe long: <" + std::string(11998, '.') + ">\n"));
}

} // namespace
