#include "tools/fmuhost/simulate.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "fmi/fmi2.h"
#include "fmi/fmi2Names.h"
#include "tools/fmuhost/archive.h"
#include "tools/fmuhost/messages.h"
#include "tools/fmuhost/model_description.h"
#include "tools/fmuhost/output.h"

namespace fmuhost {

namespace {

// ---- Errors -------------------------------------------------------------------
// A failure of the run (exit status 1), a misfit between the options and the
// model (exit status 2), and a call of the unit that failed: that one has
// been reported on the error stream already, with the unit's messages.
struct RunError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct CallFailed {};

// A number in a message: twelve significant digits read best.
std::string formatNumber(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.12g", v);
  return text;
}

// A time or Real value in the CSV: the shortest text that reads back as the
// same double, so that no two rows apart in time print alike and no digit
// of a value is lost.
std::string csvNumber(double v) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  return ec == std::errc() ? std::string(text, end) : formatNumber(v);
}

// ---- The loaded unit ------------------------------------------------------------
// The functions of both kinds and those of the kind it runs (fmi2::Use): a
// host looks up what its runs call and fails when any of them is missing.
class Unit : public fmi2::Functions {
public:
  // `member` is the library's name inside the archive, for messages.
  // RTLD_NODELETE: a unit that carries its own static C++ runtime allocates
  // memory at load time that only stays reachable while it is mapped.
  Unit(const ExtractedArchive &archive, const std::string &member, Mode mode) {
    const std::string where = archive.name() + ": " + member + ": ";
    const std::filesystem::path path = archive.root() / member;
    if (!std::filesystem::is_regular_file(path)) throw RunError(where + "not in the archive");
    // The description's modelIdentifier is a C identifier; this makes sure
    // no link inside the unpacked folder leads the loader elsewhere either.
    const std::filesystem::path real = std::filesystem::canonical(path);
    const std::filesystem::path root = std::filesystem::canonical(archive.root());
    if (std::mismatch(root.begin(), root.end(), real.begin(), real.end()).first != root.end())
      throw RunError(where + "leads out of the archive");
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) {
      const char *why = dlerror();
      std::string text = archive.inArchiveTerms(why ? why : "unknown error");
      if (text.compare(0, member.size() + 2, member + ": ") == 0) text.erase(0, member.size() + 2);
      throw RunError(where + "cannot load: " + text);
    }
    const fmi2::Use kind =
        mode == Mode::ModelExchange ? fmi2::Use::ModelExchange : fmi2::Use::CoSimulation;
    const std::string missing = fmi2::lookUpFunctions(
        handle_, *this, [kind](fmi2::Use use) { return use == fmi2::Use::Common || use == kind; });
    if (!missing.empty()) {
      dlclose(handle_);
      throw RunError(where + "does not export " + missing);
    }
  }
  ~Unit() { dlclose(handle_); }
  Unit(const Unit &) = delete;
  Unit &operator=(const Unit &) = delete;

private:
  void *handle_ = nullptr;
};

// ---- Host callbacks -------------------------------------------------------------

// Instances that may not be freed (their unit returned fmi2Fatal), kept
// reachable until the process ends.
std::vector<fmi2Component> &abandonedInstances() {
  static std::vector<fmi2Component> *instances = new std::vector<fmi2Component>;
  return *instances;
}

void hostLogger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                fmi2String category, fmi2String message, ...) {
  // Formatted whole, however long: into a buffer of the stack when it fits,
  // else again into one of its length.
  char buffer[1024];
  std::string longText;
  const char *text = "";
  if (message) {
    va_list args, again;
    va_start(args, message);
    va_copy(again, args);
    const int n = std::vsnprintf(buffer, sizeof buffer, message, args);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof buffer) {
      text = buffer;
    } else if (n > 0) {
      longText.resize(static_cast<std::size_t>(n));
      std::vsnprintf(longText.data(), longText.size() + 1, message, again);
      text = longText.c_str();
    }
    va_end(again);
    va_end(args);
  }
  if (env) static_cast<MessageLog *>(env)->add(status, instanceName, category, text);
}

void *hostAllocate(size_t nobj, size_t size) { return std::calloc(nobj, size); }
void hostFree(void *obj) { std::free(obj); }

// ---- CSV --------------------------------------------------------------------------
// Fields as RFC 4180 writes them: in quotes with inner quotes doubled, and
// so a name only when it holds a comma, a quote or a line break.
std::string csvQuoted(const std::string &text) {
  std::string field = "\"";
  for (char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + '"';
}
std::string csvField(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  return csvQuoted(text);
}

// ---- The time grid ----------------------------------------------------------------
// The times a run stops at: the step points start + k*step, the output points
// start + j*interval and the stop time.  Each point is computed from its
// index, so that round-off does not pile up over many steps; two points
// closer than `slack` (a billionth of the smaller spacing, at least a few
// units in the last place of the times) count as one, so that no step of a
// few ulps is taken between a step point and an output point that should
// coincide.
class TimeGrid {
public:
  TimeGrid() = default;
  TimeGrid(double start, double stop, double step, double interval)
      : start_(start), stop_(stop), step_(step), interval_(interval) {
    const double scale = std::max(std::fabs(start), std::fabs(stop));
    slack_ = std::max(1e-9 * std::min(step, interval), 4 * DBL_EPSILON * scale);
    eventTolerance_ = std::max(1e-9 * step, 4 * DBL_EPSILON * scale);
  }

  double stop() const { return stop_; }
  double slack() const { return slack_; }
  // How closely a state event is located in time: tied to the step.
  double eventTolerance() const { return eventTolerance_; }

  // The next point after the points passed so far.
  double next() const {
    double t = std::min(stepTime(step_k_), rowTime(row_j_));
    return t >= stop_ - slack_ ? stop_ : t;
  }
  // Whether the next point is a step point (and not only an output point
  // or the stop time before it).
  bool nextIsStepPoint() const { return std::fabs(stepTime(step_k_) - next()) <= slack_; }
  // The run has reached `t`: every step point up to it is passed.  `exact`:
  // `t` is not a point of the grid but an event's time, which passes only
  // the points up to it, not those just after it (their rows come after
  // the event, at their own time).
  void passSteps(double t, bool exact = false) {
    while (stepTime(step_k_) <= t + slackFor(exact)) ++step_k_;
  }
  // A row is due at `t`: an output point lies there, or `t` is the stop time.
  bool rowDue(double t, bool exact = false) const {
    return rowTime(row_j_) <= t + slackFor(exact) || t >= stop_;
  }
  void passRows(double t, bool exact = false) {
    while (rowTime(row_j_) <= t + slackFor(exact)) ++row_j_;
  }

private:
  double stepTime(long k) const { return start_ + static_cast<double>(k) * step_; }
  double rowTime(long j) const { return start_ + static_cast<double>(j) * interval_; }
  // A point of the grid matches a time within the slack; an event's time
  // (`exact`) matches only the points up to it.
  double slackFor(bool exact) const { return exact ? 0.0 : slack_; }

  double start_ = 0, stop_ = 0, step_ = 1, interval_ = 1, slack_ = 0, eventTolerance_ = 0;
  long step_k_ = 1, row_j_ = 0; // the next step point and the next output point
};

// A number given on the command line: a misfit of the options when malformed.
double optionReal(const std::string &text, const std::string &what) {
  try {
    return parseReal(text, what);
  } catch (const std::runtime_error &e) {
    throw UsageError(e.what());
  }
}

// ---- The times of a run -----------------------------------------------------------
// Start, stop, step and interval from the options and the default experiment,
// checked before the unit is even loaded.  Each refusal names the option (or
// the default it came from) and says why.
struct Times {
  double start = 0, stop = 0, step = 0, interval = 0;
  std::string stopName, stepName; // where the stop time and the step came from

  Times(const ModelDescription &md, const RunOptions &options) {
    start = md.startTime.value_or(0.0);
    stopName = options.stopTime ? "--stop " + formatNumber(*options.stopTime)
               : md.stopTime    ? "the default experiment's stopTime " + formatNumber(*md.stopTime)
                                : "the stop time 10";
    stepName = options.step  ? "--step " + formatNumber(*options.step)
               : md.stepSize ? "the default experiment's stepSize " + formatNumber(*md.stepSize) +
                                   " (see --step)"
                             : "the step 0.01";
    stop = options.stopTime ? *options.stopTime : md.stopTime.value_or(10.0);
    step = options.step ? *options.step : md.stepSize.value_or(0.01);
    interval = options.outputInterval.value_or(step);

    if (!(step > 0) || !std::isfinite(step))
      throw UsageError(stepName + ": the step must be positive");
    if (options.outputInterval && !(interval > 0))
      throw UsageError("--interval " + formatNumber(interval) +
                       ": the output interval must be positive");
    if (!(stop >= start) || !std::isfinite(stop))
      throw UsageError(stopName + ": the stop time must not lie before the start time " +
                       formatNumber(start));
    checkSpacing(step, stepName, "steps", "--step");
    if (options.outputInterval)
      checkSpacing(interval, "--interval " + formatNumber(interval), "output rows", "--interval");
  }

  // A Co-Simulation unit that cannot vary its communication step takes the
  // same step on every call, so every output point and the stop time must
  // be step points.  The output interval becomes that whole number of steps
  // (the rows then fall on the steps, as far from the start as they go).
  void fixStep(const RunOptions &options) {
    const std::string why = ": the unit cannot vary its communication step "
                            "(canHandleVariableCommunicationStepSize is false), so ";
    const double slack = TimeGrid(start, stop, step, step).slack();
    const double steps = std::nearbyint((stop - start) / step);
    if (std::fabs(start + steps * step - stop) > slack)
      throw UsageError(stopName + why + "the stop time must lie a whole number of steps " +
                       formatNumber(step) + " after the start time " + formatNumber(start));
    if (!options.outputInterval) return;
    const double perRow = std::nearbyint(interval / step);
    const double rows = std::floor((stop - start) / interval);
    const auto off = [&](double j) { return std::fabs(j * interval - j * perRow * step) > slack; };
    if (perRow < 1 || off(1) || off(rows))
      throw UsageError("--interval " + formatNumber(interval) + why +
                       "the interval must be a whole number of steps " + formatNumber(step));
    interval = perRow * step;
  }

private:
  void checkSpacing(double h, const std::string &name, const char *what, const char *option) {
    const double count = (stop - start) / h;
    if (count > maxGridPoints)
      throw UsageError(name + ": " + formatNumber(count) + " " + what + " from " +
                       formatNumber(start) + " to " + formatNumber(stop) + ", more than " +
                       formatNumber(maxGridPoints) + "; give a larger " + option);
    for (double t : {start, stop})
      if (!(t + h > t))
        throw UsageError(name + ": does not advance the time at t = " + formatNumber(t) + " (" +
                         formatNumber(t) + " + " + formatNumber(h) + " is " + formatNumber(t) +
                         " in double precision); give a larger " + option);
  }
};

// ---- The run --------------------------------------------------------------------

class Simulation {
public:
  Simulation(const ModelDescription &md, const ExtractedArchive &archive, const RunOptions &options,
             LineOutput &out, MessageLog &log)
      : md_(md), options_(options), times_(runTimes(md, options)), out_(out),
        log_(log), callbacks_{&hostLogger, &hostAllocate, &hostFree, nullptr, &log} {
    const bool me = options.mode == Mode::ModelExchange;
    const std::optional<std::string> &id =
        me ? md.modelExchangeIdentifier : md.coSimulationIdentifier;
    if (!id)
      throw UsageError(archive.name() + ": the unit does not declare " +
                       (me ? "Model Exchange" : "Co-Simulation"));
    resolveVariables();
    grid_ = TimeGrid(times_.start, times_.stop, times_.step, times_.interval);
    unit_ = std::make_unique<Unit>(archive, "binaries/linux64/" + *id + ".so", options.mode);
    c_ = unit_->fmi2Instantiate(id->c_str(), me ? fmi2ModelExchange : fmi2CoSimulation,
                                md.guid.c_str(), archive.resourceLocation().c_str(), &callbacks_,
                                fmi2False, options.loggingOn ? fmi2True : fmi2False);
    if (!c_) {
      log_.callReported("fmi2Instantiate failed (it returned no instance)");
      throw CallFailed{};
    }
    log_.callEnded("fmi2Instantiate", fmi2OK, times_.start);
  }

  static Times runTimes(const ModelDescription &md, const RunOptions &options) {
    Times times(md, options);
    if (options.mode == Mode::CoSimulation && md.coSimulationIdentifier &&
        !md.canHandleVariableCommunicationStepSize)
      times.fixStep(options);
    return times;
  }

  // An instance is terminated only once initialized and not after fmi2Error
  // (then a host may only free it); after fmi2Fatal not even freed, as no
  // function of the unit may be called any more: it is kept as it is.
  ~Simulation() {
    if (!c_) return;
    if (failed_ == fmi2Fatal) {
      abandonedInstances().push_back(c_);
      return;
    }
    if (initialized_ && !terminated_ && failed_ != fmi2Error) {
      fmi2Status s = unit_->fmi2Terminate(c_);
      log_.callEnded("fmi2Terminate", s, time_);
    }
    unit_->fmi2FreeInstance(c_);
    log_.callEnded("fmi2FreeInstance", fmi2OK, time_);
  }
  Simulation(const Simulation &) = delete;
  Simulation &operator=(const Simulation &) = delete;

  void run() {
    const bool me = options_.mode == Mode::ModelExchange;
    time_ = times_.start;
    check(unit_->fmi2SetupExperiment(c_, !me && md_.tolerance ? fmi2True : fmi2False,
                                     md_.tolerance.value_or(0.0), times_.start, fmi2True,
                                     times_.stop),
          "fmi2SetupExperiment");
    for (const auto &[vr, value] : parameters_)
      check(unit_->fmi2SetReal(c_, &vr, 1, &value), "fmi2SetReal");
    setInputs(true);
    check(unit_->fmi2EnterInitializationMode(c_), "fmi2EnterInitializationMode");
    check(unit_->fmi2ExitInitializationMode(c_), "fmi2ExitInitializationMode");
    initialized_ = true;
    printHeader();
    if (me)
      runModelExchange();
    else
      runCoSimulation();
    terminated_ = true;
    check(unit_->fmi2Terminate(c_), "fmi2Terminate");
  }

private:
  struct Column {
    std::string name;
    const ScalarVariable *variable;
  };
  struct Input {
    fmi2ValueReference vr;
    double value;
    bool continuous; // continuous-time: set again before each step
  };

  // Every output, then the chosen variables, each once, the time only as the
  // first column; each by its model-description entry.  Checked before the
  // unit is loaded.  Names are looked up in a table, so that a unit with
  // many outputs costs time in proportion to their number.
  void resolveVariables() {
    std::unordered_map<std::string_view, const ScalarVariable *> byName;
    byName.reserve(md_.variables.size());
    for (const ScalarVariable &v : md_.variables) byName.emplace(v.name, &v); // the first of a name
    const auto find = [&](const std::string &name) -> const ScalarVariable * {
      const auto it = byName.find(name);
      return it == byName.end() ? nullptr : it->second;
    };
    std::unordered_set<std::string_view> listed; // names of the columns so far
    for (const ScalarVariable &v : md_.variables)
      if (v.causality == "output" && listed.insert(v.name).second) columns_.push_back({v.name, &v});
    for (const std::string &list : options_.variableLists) {
      for (const std::string &name : variableNames(list, find)) {
        if (name == "time" || listed.count(name)) continue;
        const ScalarVariable *v = find(name);
        if (!v) throw UsageError("--vars: no variable named \"" + name + "\"");
        if (v->causality == "independent") continue;
        listed.insert(v->name);
        columns_.push_back({name, v});
      }
    }
    for (const auto &[name, value] : options_.parameters) {
      const ScalarVariable *v = find(name);
      if (!v) throw UsageError("--set: no variable named \"" + name + "\"");
      if (v->causality != "parameter" || v->variability == "constant")
        throw UsageError("--set: \"" + name + "\" is not a parameter");
      if (v->type != "Real") throw UsageError("--set: \"" + name + "\" is not a Real parameter");
      parameters_.push_back({v->valueReference, optionReal(value, "--set " + name)});
    }
    for (const auto &[name, value] : options_.inputs) {
      double x = optionReal(value, "--input " + (name.empty() ? std::string("value") : name));
      bool any = false;
      for (const ScalarVariable &v : md_.variables) {
        if (v.causality != "input" || (!name.empty() && v.name != name)) continue;
        if (v.type != "Real") throw UsageError("--input: input \"" + v.name + "\" is not Real");
        inputs_.push_back({v.valueReference, x, v.variability == "continuous"});
        any = true;
      }
      if (!any)
        throw UsageError(name.empty() ? std::string("--input: the model has no input")
                                      : "--input: no input named \"" + name + "\"");
    }
  }

  // The names in one --vars argument: the whole argument when it names a
  // variable (so a name with a comma needs no quotes), else the fields of a
  // list separated by commas, each quoted as RFC 4180 does where it holds a
  // comma or a quote ("A[1,2]", "x""y").  Empty fields are skipped.
  template <class Find>
  static std::vector<std::string> variableNames(const std::string &list, const Find &find) {
    if (list == "time" || find(list)) return {list};
    std::vector<std::string> names;
    std::size_t i = 0;
    while (i <= list.size()) {
      std::string name;
      if (i < list.size() && list[i] == '"') {
        for (++i;; ++i) {
          if (i >= list.size())
            throw UsageError("--vars: the quote in \"" + list + "\" is not closed");
          if (list[i] == '"' && (i + 1 >= list.size() || list[i + 1] != '"')) break;
          if (list[i] == '"') ++i;
          name += list[i];
        }
        ++i; // the closing quote
        if (i < list.size() && list[i] != ',')
          throw UsageError("--vars: a comma must follow the quoted name \"" + name + "\" in \"" +
                           list + "\"");
      } else {
        const std::size_t end = std::min(list.find(',', i), list.size());
        name = list.substr(i, end - i);
        i = end;
      }
      if (!name.empty()) names.push_back(name);
      ++i; // the comma
    }
    return names;
  }

  // The status of a call: fmi2OK and fmi2Warning go on (a warning is
  // reported with the call's messages), anything else ends the run.
  fmi2Status check(fmi2Status s, const char *what, double at, const std::string &detail = "") {
    log_.callEnded(what, s, at, detail);
    if (s == fmi2OK || s == fmi2Warning) return s;
    failed_ = s;
    throw CallFailed{};
  }
  fmi2Status check(fmi2Status s, const char *what) { return check(s, what, time_); }

  // Inputs are constant: all of them are set before initialization; a
  // continuous-time input again before each step (in Model Exchange in
  // Continuous-Time Mode), a discrete one never again, as a unit takes those
  // only in Event Mode.
  void setInputs(bool all) {
    for (const Input &in : inputs_)
      if (all || in.continuous) check(unit_->fmi2SetReal(c_, &in.vr, 1, &in.value), "fmi2SetReal");
  }

  void printHeader() {
    std::string line = "time";
    for (const Column &col : columns_) {
      line += ',';
      line += csvField(col.name);
    }
    out_.line(line);
  }

  // One row at `time_`.  A value whose read does not end fmi2OK stays empty:
  // the unit has not vouched for it.
  void printRow() {
    std::string line = csvNumber(time_);
    for (const Column &col : columns_) {
      const fmi2ValueReference vr = col.variable->valueReference;
      line += ',';
      const std::string &type = col.variable->type;
      if (type == "Real") {
        fmi2Real v = 0;
        if (check(unit_->fmi2GetReal(c_, &vr, 1, &v), "fmi2GetReal", time_,
                  " (" + col.name + ")") == fmi2OK)
          line += csvNumber(v);
      } else if (type == "Integer" || type == "Enumeration") {
        fmi2Integer v = 0;
        if (check(unit_->fmi2GetInteger(c_, &vr, 1, &v), "fmi2GetInteger", time_,
                  " (" + col.name + ")") == fmi2OK)
          line += std::to_string(v);
      } else if (type == "Boolean") {
        fmi2Boolean v = 0;
        if (check(unit_->fmi2GetBoolean(c_, &vr, 1, &v), "fmi2GetBoolean", time_,
                  " (" + col.name + ")") == fmi2OK)
          line += v ? "true" : "false";
      } else {
        fmi2String v = nullptr;
        if (check(unit_->fmi2GetString(c_, &vr, 1, &v), "fmi2GetString", time_,
                  " (" + col.name + ")") == fmi2OK)
          line += csvQuoted(v ? v : "");
      }
    }
    out_.line(line);
    rowPrinted_ = true;
    lastRowTime_ = time_;
  }

  // `exact`: time_ is an event's time, not a point of the grid (see
  // TimeGrid::passSteps).
  void printRowIfDue(bool exact = false) {
    if (!grid_.rowDue(time_, exact)) return;
    printRow();
    grid_.passRows(time_, exact);
  }

  // ---- Model Exchange -----------------------------------------------------------
  // After fmi2ExitInitializationMode the instance is in Event Mode: iterate
  // the discrete states, then integrate with RK4 from point to point of the
  // grid (shortened to the next time event).  When an event indicator changes
  // sign over a step, the crossing is located by bisection, each trial
  // integrated afresh from the start of the step, until it is known to within
  // the grid's event tolerance; the step then ends just after the crossing
  // and the event is handled there; the point the step was to reach then
  // comes next, with its row.  Step events (enterEventMode of
  // fmi2CompletedIntegratorStep) are handled at the end of their step.
  //
  // State events that come again and again without moving the time on (an
  // indicator that chatters about zero, each event about an event tolerance
  // after the one before) would run for days: more than
  // maxStateEventsInPlace of them in a row, each within stateEventsApart()
  // of the one before, end the run.
  void runModelExchange() {
    const std::size_t nx = md_.numberOfContinuousStates;
    const std::size_t nz = md_.numberOfEventIndicators;
    x_.assign(nx, 0.0);
    z_.assign(nz, 0.0);
    std::vector<double> x0(nx), zNew(nz);
    if (!eventIteration()) return finishEarly();
    enterContinuousTime(true);
    printRowIfDue();

    int eventsInPlace = 0;      // time events in a row that do not advance the time
    int stateEventsInPlace = 0; // state events in a row, each close to the one before
    double lastStateEvent = 0;
    while (time_ < grid_.stop()) {
      double target = grid_.next();
      bool timeEvent = false;
      if (eventInfo_.nextEventTimeDefined && eventInfo_.nextEventTime <= target + grid_.slack() &&
          eventInfo_.nextEventTime <= grid_.stop()) {
        target = std::max(eventInfo_.nextEventTime, time_);
        timeEvent = true;
        if (target > time_)
          eventsInPlace = 0;
        else if (++eventsInPlace > 100)
          throw RunError("the unit asks for time events at t = " + formatNumber(time_) +
                         " again and again without the time advancing");
      }
      setInputs(false);
      const double t0 = time_;
      x0 = x_;
      integrate(t0, x0, target, x_);
      moveTo(target, x_);
      bool stateEvent = false, inside = false;
      if (nz) {
        indicators(zNew, target);
        if (crossed(zNew)) {
          const double at = locateCrossing(t0, x0, target, x_, zNew);
          stateEvent = true;
          inside = at != target;
          timeEvent = timeEvent && !inside;
          target = at;
          if (stateEventsInPlace > 0 && at - lastStateEvent <= stateEventsApart()) {
            if (++stateEventsInPlace > maxStateEventsInPlace)
              throw RunError("the state events do not move the time on: " +
                             std::to_string(stateEventsInPlace) +
                             " events in a row at t = " + formatNumber(at) + ", each within " +
                             formatNumber(stateEventsApart()) +
                             " of the one before, the last by event indicator " +
                             std::to_string(firstCrossed(zNew)) + " (counted from 0)");
          } else {
            stateEventsInPlace = 1;
          }
          lastStateEvent = at;
        } else {
          stateEventsInPlace = 0;
        }
        z_ = zNew;
      }
      time_ = target;
      fmi2Boolean enterEventMode = fmi2False, terminateSimulation = fmi2False;
      check(unit_->fmi2CompletedIntegratorStep(c_, fmi2True, &enterEventMode, &terminateSimulation),
            "fmi2CompletedIntegratorStep");
      if (terminateSimulation) return finishEarly();
      grid_.passSteps(time_, inside);
      if (timeEvent || stateEvent || enterEventMode) {
        check(unit_->fmi2EnterEventMode(c_), "fmi2EnterEventMode");
        if (!eventIteration()) return finishEarly();
        enterContinuousTime(statesChanged_);
      }
      printRowIfDue(inside);
    }
  }

  static constexpr int maxStateEventsInPlace = 100;
  // State events closer than this count as not moving the time on: a
  // millionth of the step, a thousand event tolerances.
  double stateEventsApart() const { return 1000 * grid_.eventTolerance(); }

  // From Event Mode into Continuous-Time Mode, reading the states when the
  // initialization or a pass of the event iteration changed them.
  void enterContinuousTime(bool readStates) {
    check(unit_->fmi2EnterContinuousTimeMode(c_), "fmi2EnterContinuousTimeMode");
    const std::size_t nx = x_.size(), nz = z_.size();
    if (nx && readStates)
      check(unit_->fmi2GetContinuousStates(c_, x_.data(), nx), "fmi2GetContinuousStates");
    if (nz) indicators(z_, time_);
  }

  void derivatives(double t, const std::vector<double> &x, std::vector<double> &dx) {
    check(unit_->fmi2SetTime(c_, t), "fmi2SetTime", t);
    if (x.empty()) return;
    check(unit_->fmi2SetContinuousStates(c_, x.data(), x.size()), "fmi2SetContinuousStates", t);
    check(unit_->fmi2GetDerivatives(c_, dx.data(), dx.size()), "fmi2GetDerivatives", t);
  }

  // One RK4 step from (t0, x0) to t1 into x1.
  void integrate(double t0, const std::vector<double> &x0, double t1, std::vector<double> &x1) {
    const std::size_t nx = x0.size();
    const double h = t1 - t0;
    k1_.resize(nx), k2_.resize(nx), k3_.resize(nx), k4_.resize(nx), xs_.resize(nx);
    derivatives(t0, x0, k1_);
    for (std::size_t i = 0; i < nx; ++i) xs_[i] = x0[i] + 0.5 * h * k1_[i];
    derivatives(t0 + 0.5 * h, xs_, k2_);
    for (std::size_t i = 0; i < nx; ++i) xs_[i] = x0[i] + 0.5 * h * k2_[i];
    derivatives(t0 + 0.5 * h, xs_, k3_);
    for (std::size_t i = 0; i < nx; ++i) xs_[i] = x0[i] + h * k3_[i];
    derivatives(t1, xs_, k4_);
    x1.resize(nx);
    for (std::size_t i = 0; i < nx; ++i)
      x1[i] = x0[i] + h / 6.0 * (k1_[i] + 2.0 * k2_[i] + 2.0 * k3_[i] + k4_[i]);
  }

  // The unit at time t with states x.
  void moveTo(double t, const std::vector<double> &x) {
    check(unit_->fmi2SetTime(c_, t), "fmi2SetTime", t);
    if (!x.empty())
      check(unit_->fmi2SetContinuousStates(c_, x.data(), x.size()), "fmi2SetContinuousStates", t);
  }

  void indicators(std::vector<double> &z, double t) {
    check(unit_->fmi2GetEventIndicators(c_, z.data(), z.size()), "fmi2GetEventIndicators", t);
  }

  // A state event: an indicator has left the domain z > 0 or z <= 0 it had
  // at the start of the step.
  bool crossed(const std::vector<double> &z) const { return firstCrossed(z) < z.size(); }
  // The index of the first indicator that has, z.size() when none has.
  std::size_t firstCrossed(const std::vector<double> &z) const {
    for (std::size_t i = 0; i < z.size(); ++i)
      if ((z_[i] > 0) != (z[i] > 0)) return i;
    return z.size();
  }

  // Bisection between the start of the step (no crossing) and `t1` (a
  // crossing), each trial one RK4 step from (t0, x0).  Returns the earliest
  // time known to lie after the crossing, leaves the states there in x1 and
  // z1 and the unit at that point.
  double locateCrossing(double t0, const std::vector<double> &x0, double t1,
                        std::vector<double> &x1, std::vector<double> &z1) {
    double lo = t0, hi = t1;
    bool unitAtHi = true;
    std::vector<double> x(x0.size()), z(z1.size());
    while (hi - lo > grid_.eventTolerance()) {
      const double mid = lo + 0.5 * (hi - lo);
      if (!(mid > lo && mid < hi)) break;
      integrate(t0, x0, mid, x);
      moveTo(mid, x);
      indicators(z, mid);
      if (crossed(z)) {
        hi = mid;
        x1 = x;
        z1 = z;
        unitAtHi = true;
      } else {
        lo = mid;
        unitAtHi = false;
      }
    }
    if (!unitAtHi) moveTo(hi, x1);
    return hi;
  }

  // fmi2NewDiscreteStates until no new discrete states are needed; false when
  // the model asks to end the simulation.  statesChanged_ tells whether any
  // pass changed the continuous states (a reset in an early pass is as real
  // as one in the last).
  bool eventIteration() {
    eventInfo_ = fmi2EventInfo{};
    eventInfo_.newDiscreteStatesNeeded = fmi2True;
    statesChanged_ = false;
    int passes = 0;
    while (eventInfo_.newDiscreteStatesNeeded) {
      if (++passes > 1000)
        throw RunError("the event iteration at t = " + formatNumber(time_) +
                       " does not converge in 1000 passes");
      check(unit_->fmi2NewDiscreteStates(c_, &eventInfo_), "fmi2NewDiscreteStates");
      if (eventInfo_.valuesOfContinuousStatesChanged) statesChanged_ = true;
      if (eventInfo_.terminateSimulation) return false;
    }
    return true;
  }

  void finishEarly() {
    log_.callReported("the model ended the simulation at t = " + formatNumber(time_));
    if (!rowPrinted_ || lastRowTime_ != time_) printRow();
  }

  // ---- Co-Simulation ------------------------------------------------------------
  // Communication points at the grid's points, the inputs set before each
  // step.  A step from one step point to the next is the step exactly as
  // given (not the difference of the two points, which may differ from it in
  // its last bits); only a step to or from an output point or the stop time
  // between step points is that difference, and a unit that cannot vary its
  // step never gets one (see Times::fixStep).  fmi2Discard with the
  // terminated status set means the model ended the simulation; any other
  // failure ends the run.
  void runCoSimulation() {
    printRowIfDue();
    bool atStepPoint = true; // the start time is one
    while (time_ < grid_.stop()) {
      const double target = grid_.next();
      const bool toStepPoint = grid_.nextIsStepPoint();
      const double h = atStepPoint && toStepPoint ? times_.step : target - time_;
      atStepPoint = toStepPoint;
      setInputs(true);
      // The step as passed, every digit: a shortened step may differ from the
      // step given only in its last bits.
      const std::string detail = " (communication step " + csvNumber(h) + ")";
      fmi2Status s = unit_->fmi2DoStep(c_, time_, h, fmi2True);
      if (s == fmi2Discard) {
        // The step's messages belong to the step, not to the status queries.
        MessageLog::Held stepMessages = log_.takeHeld();
        const bool ended = modelEnded();
        log_.putBack(std::move(stepMessages));
        if (ended) return finishEarly();
      }
      check(s, "fmi2DoStep", time_, detail);
      time_ = target;
      grid_.passSteps(time_);
      printRowIfDue();
    }
  }

  // After a step that ended fmi2Discard: whether the model ended the
  // simulation; time_ becomes the last time the unit reached.
  bool modelEnded() {
    fmi2Boolean terminated = fmi2False;
    fmi2Status s = unit_->fmi2GetBooleanStatus(c_, fmi2Terminated, &terminated);
    log_.callEnded("fmi2GetBooleanStatus", s, time_);
    if (s != fmi2OK || !terminated) return false;
    fmi2Real last = time_;
    s = unit_->fmi2GetRealStatus(c_, fmi2LastSuccessfulTime, &last);
    log_.callEnded("fmi2GetRealStatus", s, time_);
    if (s == fmi2OK) time_ = last;
    return true;
  }

  const ModelDescription &md_;
  const RunOptions &options_;
  const Times times_;
  LineOutput &out_;
  MessageLog &log_;
  const fmi2CallbackFunctions callbacks_;
  TimeGrid grid_;
  std::unique_ptr<Unit> unit_;
  fmi2Component c_ = nullptr;
  bool initialized_ = false, terminated_ = false;
  fmi2Status failed_ = fmi2OK; // the status that ended the run, when a call did
  std::vector<Column> columns_;
  std::vector<std::pair<fmi2ValueReference, double>> parameters_;
  std::vector<Input> inputs_;
  double time_ = 0, lastRowTime_ = 0;
  bool rowPrinted_ = false;
  std::vector<double> x_, z_, k1_, k2_, k3_, k4_, xs_;
  fmi2EventInfo eventInfo_{};
  bool statesChanged_ = false;
};

// modelDescription.xml of the unpacked archive; errors name the archive.
ModelDescription readDescription(const ExtractedArchive &archive) {
  const std::string origin = archive.name() + ": modelDescription.xml";
  std::ifstream in(archive.root() / "modelDescription.xml", std::ios::binary);
  if (!in) throw RunError(origin + ": not in the archive");
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) throw RunError(origin + ": read error");
  return parseModelDescription(text.str(), origin);
}

} // namespace

int runFmu(const std::string &fmuPath, const RunOptions &options, FILE *out, FILE *err) {
  MessageLog log(err, options.loggingOn);
  LineOutput output(out, "stdout");
  int status = 0;
  bool outputFailed = false;
  // A failed write ends the run like a failed call; a broken pipe ends it
  // quietly, as the signal would have (see endByBrokenPipe).
  auto failedWrite = [&](const OutputError &e) {
    outputFailed = true;
    if (e.error == EPIPE && brokenPipeEndsTheProcess()) return brokenPipeStatus;
    std::fprintf(err, "fmuhost: %s\n", e.what());
    return 1;
  };
  try {
    ExtractedArchive archive(fmuPath);
    ModelDescription md = readDescription(archive);
    Simulation simulation(md, archive, options, output, log);
    simulation.run();
  } catch (const CallFailed &) {
    status = 1;
  } catch (const OutputError &e) {
    status = failedWrite(e);
  } catch (const UsageError &e) {
    std::fprintf(err, "fmuhost: %s\n", e.what());
    status = 2;
  } catch (const std::exception &e) {
    std::fprintf(err, "fmuhost: %s\n", e.what());
    status = 1;
  }
  if (!outputFailed) {
    try {
      output.flush();
    } catch (const OutputError &e) {
      status = failedWrite(e);
    }
  }
  if (status != brokenPipeStatus) log.summary();
  return status;
}

} // namespace fmuhost
