// fmuhost: runs an FMI 2.0 .fmu and prints its trajectory as CSV.
//
//   fmuhost [options] unit.fmu
//     --mode me|cs        Model Exchange (the host's fixed-step RK4) or
//                         Co-Simulation (fixed communication step); default cs
//     --stop T            stop time (default: the model's default experiment, else 10)
//     --step H            integration / communication step (default 0.01)
//     --interval D        print a row every D seconds (default: every step)
//     --set NAME=VALUE    a parameter, set before initialization (repeatable)
//     --input [NAME=]VALUE  a constant input; without NAME every input (repeatable)
//     --vars A,B,...      further variables to print after time and the outputs
//     --log               switch the unit's logging on (its fmi2OK messages too)
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "tools/fmuhost/model_description.h"
#include "tools/fmuhost/simulate.h"

namespace {

const char usage[] =
    "usage: fmuhost [--mode me|cs] [--stop T] [--step H] [--interval D]\n"
    "               [--set NAME=VALUE]... [--input [NAME=]VALUE]... [--vars A,B,...] [--log]\n"
    "               unit.fmu\n";

bool splitAssignment(const std::string &text, std::string &name, std::string &value) {
  std::size_t eq = text.find('=');
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
        std::string list = next();
        std::size_t begin = 0;
        while (begin <= list.size()) {
          std::size_t end = list.find(',', begin);
          if (end == std::string::npos) end = list.size();
          if (end > begin) options.extraVariables.push_back(list.substr(begin, end - begin));
          begin = end + 1;
        }
      } else if (arg == "--log") {
        options.loggingOn = true;
      } else if (arg == "--help" || arg == "-h") {
        std::fputs(usage, stdout);
        return 0;
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
    std::fprintf(stderr, "fmuhost: %s\n%s", e.what(), usage);
    return 2;
  }
  return fmuhost::runFmu(fmu, options, stdout, stderr);
}
