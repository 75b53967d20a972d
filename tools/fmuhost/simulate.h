// Running a unit as an FMI 2.0 host: Model Exchange with the host's own
// fixed-step RK4 and state-event location, or Co-Simulation with a fixed
// communication step.  The trajectory goes to `out` as CSV (RFC 4180
// quoting); the unit's log messages and the host's own diagnostics go to
// `err`.
#pragma once

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fmuhost {

enum class Mode { ModelExchange, CoSimulation };

struct RunOptions {
  Mode mode = Mode::CoSimulation;
  std::optional<double> stopTime;       // default: DefaultExperiment, else 10
  std::optional<double> step;           // ME integration / CS communication step; default 0.01
  std::optional<double> outputInterval; // rows at multiples of this; default: every step
  std::vector<std::pair<std::string, std::string>>
      parameters;                                          // name=value, set before initialization
  std::vector<std::pair<std::string, std::string>> inputs; // name=value; "" = every input
  // Each --vars argument as given: a variable's whole name, else a list of
  // names separated by commas (RFC 4180 quoting); printed after the outputs.
  std::vector<std::string> variableLists;
  bool loggingOn = false; // loggingOn of the instance, and every message shown as it comes
};

// The most steps, and the most output rows, a run takes.
inline constexpr double maxGridPoints = 1e7;

// What runFmu returns when the reader of a pipe on `out` has gone: the
// status of a process ended by SIGPIPE, which the caller then ends it by
// (endByBrokenPipe in archive.h).
inline constexpr int brokenPipeStatus = 128 + SIGPIPE;

// Unpacks the archive, loads the unit and runs it.  Returns the process exit
// status: 0 when the run reached the stop time (or the model ended it), 1 when
// the archive, the unit or the simulation failed (a call returned fmi2Discard,
// fmi2Error or fmi2Fatal; the reason is on `err`) or a write to `out` failed,
// 2 when the options do not fit the model (unknown variable, not a Real
// parameter, a kind of unit it does not declare, a step or interval that is
// not positive, gives more than maxGridPoints points or does not advance the
// time, a step the unit cannot take), brokenPipeStatus with nothing said when
// a write to `out` found the reader of its pipe gone (unless SIGPIPE is
// ignored: then a failed write).  `out` gets whole lines only (output.h).
int runFmu(const std::string &fmuPath, const RunOptions &options, FILE *out, FILE *err);

} // namespace fmuhost
