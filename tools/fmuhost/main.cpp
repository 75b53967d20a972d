// fmuhost: runs an FMI 2.0 .fmu and prints its trajectory as CSV (see
// helpText below for the options, the output and the exit statuses).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "tools/fmuhost/archive.h"
#include "tools/fmuhost/model_description.h"
#include "tools/fmuhost/simulate.h"

namespace {

const char usage[] =
    "usage: fmuhost [--mode me|cs] [--stop T] [--step H] [--interval D]\n"
    "               [--set NAME=VALUE]... [--input [NAME=]VALUE]... [--vars A,B,...] [--log]\n"
    "               unit.fmu\n";

const char helpText[] =
    "\n"
    "Runs the FMI 2.0 unit in the archive unit.fmu from the start time of its default\n"
    "experiment (else 0) to the stop time and prints the trajectory as CSV on stdout.\n"
    "Times are in the model's time unit (seconds for most models).\n"
    "\n"
    "Options:\n"
    "  --mode me|cs          cs (default): Co-Simulation, the unit integrates itself between\n"
    "                        communication points; me: Model Exchange, fmuhost integrates with\n"
    "                        fixed-step RK4 and locates state events inside the step\n"
    "  --stop T              stop time (default: the default experiment's stopTime, else 10)\n"
    "  --step H              ME integration step or CS communication step (default: the\n"
    "                        default experiment's stepSize, else 0.01); fmi2DoStep gets H\n"
    "                        exactly as given on every step from step point to step point\n"
    "  --interval D          a row every D from the start time (default: every step); a step\n"
    "                        that would pass an output point is shortened to end there\n"
    "  --set NAME=VALUE      the Real parameter NAME set before initialization (repeatable;\n"
    "                        VALUE follows the last '=', so NAME may hold '=': --set 'k=1=2')\n"
    "  --input [NAME=]VALUE  the Real input NAME held at VALUE; without NAME, every input\n"
    "                        (repeatable; default: their start values; NAME as for --set)\n"
    "  --vars A,B,...        further variables printed after the outputs, each once\n"
    "                        (repeatable): the whole argument when it names a variable, even\n"
    "                        one with commas (--vars 'A[1,2]'), else names separated by\n"
    "                        commas, a name with a comma or a quote in double quotes with\n"
    "                        inner quotes doubled as RFC 4180 does (--vars 'x,\"A[1,2]\"');\n"
    "                        quote names with parentheses in the shell: --vars 'der(level),g'\n"
    "  --log                 the unit's logging switched on, and every message shown as it\n"
    "                        comes (default: off; messages of calls that end fmi2OK are only\n"
    "                        counted, see below)\n"
    "  -h, --help            this text\n"
    "\n"
    "--set and --input take Real variables only.  A run takes at most 10000000 steps and\n"
    "rows, and a step or interval must advance the time at the start and the stop time.\n"
    "A Co-Simulation unit that cannot vary its communication step (its description's\n"
    "canHandleVariableCommunicationStepSize is false, the FMI 2.0 default) gets H on every\n"
    "call; a run is refused when its stop time, or its interval, is not a whole number of\n"
    "steps.  Other units get a shorter step only to reach an output point or the stop time.\n"
    "In Model Exchange, more than 100 state events in a row, each less than a millionth of\n"
    "the step (far from time 0, where the time cannot resolve that, a few thousand units in\n"
    "its last place) after the one before (an event indicator that chatters about zero),\n"
    "end the run with a message naming the time, the count and the last event indicator.\n"
    "\n"
    "Output (stdout): a header line, then one row per output point: the time, every output\n"
    "of the model in the order of its model description, then the --vars variables.  Rows\n"
    "at the start time, at every start + k*interval and at the stop time; after an event at\n"
    "an output point (Model Exchange) the values after the event; an event found just\n"
    "before an output point is handled at its own time, and the point's row follows at the\n"
    "point's time.  Times and Real values are the shortest text that reads back as the same\n"
    "double (so rows apart in time never print alike), e.g. 0.1, 1e+09, 1000000000.001.\n"
    "Names and String values are quoted as RFC 4180 does; a value that the unit did not\n"
    "return with fmi2OK is left empty.\n"
    "\n"
    "Messages (stderr): a call that does not end fmi2OK is reported with its name, status\n"
    "and time, followed by the unit's messages from that call, each whole however long (a\n"
    "message repeated in a row is shown once with its count).  fmi2Warning lets the run go\n"
    "on; fmi2Discard, fmi2Error and fmi2Fatal end it.  At the end, one line says how many\n"
    "messages of calls that ended fmi2OK were not shown, when there were any.\n"
    "\n"
    "Exit status:\n"
    "  0      the stop time was reached, or the model ended the simulation\n"
    "  1      the archive or the unit cannot be used (a modelIdentifier that is not a C\n"
    "         identifier, as FMI 2.0 requires, is refused), a call ended fmi2Discard,\n"
    "         fmi2Error or fmi2Fatal, the events run away (see above), or a write to\n"
    "         stdout failed (closed, full, an I/O error)\n"
    "  2      the options are malformed or do not fit the model (a --mode the unit does not\n"
    "         declare among them)\n"
    "  128+N  ended by signal N: SIGINT, SIGTERM or SIGHUP, or SIGPIPE (without a message)\n"
    "         when the reader of stdout has gone; the unpacked archive is removed first, and\n"
    "         stdout holds whole rows only\n"
    "\n"
    "Examples:\n"
    "  Co-Simulation with a parameter and an input, a row every 0.5 s:\n"
    "    fmuhost --stop 5 --step 0.01 --interval 0.5 --set holeSurface=0.05 \\\n"
    "            --input inputRate=0.2 vornwin3264.fmu\n"
    "  Model Exchange with two more variables:\n"
    "    fmuhost --mode me --stop 2 --step 0.001 --interval 0.1 --vars 'der(level),g' \\\n"
    "            vornwin3264.fmu\n";

// The help on stdout; a write that fails is reported, with exit status 1.
int printHelp() {
  std::fputs(usage, stdout);
  std::fputs(helpText, stdout);
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  std::fprintf(stderr, "fmuhost: cannot write to stdout: %s\n", std::strerror(errno));
  return 1;
}

// NAME=VALUE split at the last '=': a value is a number, so a name may hold
// '=' itself.
bool splitAssignment(const std::string &text, std::string &name, std::string &value) {
  std::size_t eq = text.rfind('=');
  if (eq == std::string::npos || eq == 0) return false;
  name = text.substr(0, eq);
  value = text.substr(eq + 1);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  fmuhost::RunOptions options;
  std::string fmu;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string arg = argv[i];
      auto next = [&]() -> std::string {
        if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--mode") {
        std::string m = next();
        if (m == "me")
          options.mode = fmuhost::Mode::ModelExchange;
        else if (m == "cs")
          options.mode = fmuhost::Mode::CoSimulation;
        else
          throw std::runtime_error("--mode is me or cs, not \"" + m + "\"");
      } else if (arg == "--stop") {
        options.stopTime = fmuhost::parseReal(next(), "--stop");
      } else if (arg == "--step") {
        options.step = fmuhost::parseReal(next(), "--step");
      } else if (arg == "--interval") {
        options.outputInterval = fmuhost::parseReal(next(), "--interval");
      } else if (arg == "--set") {
        std::string name, value;
        if (!splitAssignment(next(), name, value))
          throw std::runtime_error("--set takes NAME=VALUE");
        options.parameters.emplace_back(name, value);
      } else if (arg == "--input") {
        std::string text = next(), name, value;
        if (!splitAssignment(text, name, value)) value = text;
        options.inputs.emplace_back(name, value);
      } else if (arg == "--vars") {
        options.variableLists.push_back(next());
      } else if (arg == "--log") {
        options.loggingOn = true;
      } else if (arg == "--help" || arg == "-h") {
        return printHelp();
      } else if (!arg.empty() && arg[0] == '-') {
        throw std::runtime_error("unknown option " + arg);
      } else if (fmu.empty()) {
        fmu = arg;
      } else {
        throw std::runtime_error("only one .fmu, not also " + arg);
      }
    }
    if (fmu.empty()) throw std::runtime_error("no .fmu given");
  } catch (const std::exception &e) {
    std::fprintf(stderr, "fmuhost: %s\n%s(fmuhost --help tells more)\n", e.what(), usage);
    return 2;
  }
  // A closed stdout fails before anything is done, and no file the run
  // opens can take its place and receive the trajectory.
  if (fcntl(STDOUT_FILENO, F_GETFD) < 0) {
    std::fprintf(stderr, "fmuhost: cannot write to stdout: %s\n", std::strerror(errno));
    return 1;
  }
  fmuhost::removeExtractedFoldersOnSignals();
  const int status = fmuhost::runFmu(fmu, options, stdout, stderr);
  if (status == fmuhost::brokenPipeStatus) fmuhost::endByBrokenPipe();
  return status;
}
