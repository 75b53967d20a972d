#include "tools/fmuhost/simulate.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <limits>
#include <memory>
#include <stdexcept>

#include "fmi/fmi2.h"
#include "tools/fmuhost/archive.h"
#include "tools/fmuhost/model_description.h"

namespace fmuhost {

namespace {

// ---- Errors -------------------------------------------------------------------
// A failure of the run (exit status 1) and a misfit between the options and
// the model (exit status 2).
struct RunError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const char *statusName(fmi2Status s) {
  switch (s) {
  case fmi2OK:
    return "fmi2OK";
  case fmi2Warning:
    return "fmi2Warning";
  case fmi2Discard:
    return "fmi2Discard";
  case fmi2Error:
    return "fmi2Error";
  case fmi2Fatal:
    return "fmi2Fatal";
  case fmi2Pending:
    return "fmi2Pending";
  }
  return "fmi2Status(?)";
}

// ---- The loaded unit ------------------------------------------------------------
// Common functions first, then those of each kind; a host looks up what the
// kind it runs needs and fails when any of them is missing.
// clang-format off
#define FMUHOST_COMMON(X)                                                                          \
  X(fmi2GetTypesPlatform)                                                                          \
  X(fmi2GetVersion)                                                                                \
  X(fmi2SetDebugLogging)                                                                           \
  X(fmi2Instantiate)                                                                               \
  X(fmi2FreeInstance)                                                                              \
  X(fmi2SetupExperiment)                                                                           \
  X(fmi2EnterInitializationMode)                                                                   \
  X(fmi2ExitInitializationMode)                                                                    \
  X(fmi2Terminate)                                                                                 \
  X(fmi2Reset)                                                                                     \
  X(fmi2GetReal)                                                                                   \
  X(fmi2GetInteger)                                                                                \
  X(fmi2GetBoolean)                                                                                \
  X(fmi2GetString)                                                                                 \
  X(fmi2SetReal)                                                                                   \
  X(fmi2SetInteger)                                                                                \
  X(fmi2SetBoolean)                                                                                \
  X(fmi2SetString)
// clang-format on
// clang-format off
#define FMUHOST_ME(X)                                                                              \
  X(fmi2EnterEventMode)                                                                            \
  X(fmi2NewDiscreteStates)                                                                         \
  X(fmi2EnterContinuousTimeMode)                                                                   \
  X(fmi2CompletedIntegratorStep)                                                                   \
  X(fmi2SetTime)                                                                                   \
  X(fmi2SetContinuousStates)                                                                       \
  X(fmi2GetDerivatives)                                                                            \
  X(fmi2GetEventIndicators)                                                                        \
  X(fmi2GetContinuousStates)                                                                       \
  X(fmi2GetNominalsOfContinuousStates)
// clang-format on
#define FMUHOST_CS(X) X(fmi2DoStep) X(fmi2GetStatus) X(fmi2GetRealStatus) X(fmi2GetBooleanStatus)

class Unit {
public:
  // RTLD_NODELETE: a unit that carries its own static C++ runtime allocates
  // memory at load time that only stays reachable while it is mapped.
  Unit(const std::string &path, Mode mode) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) {
      const char *why = dlerror();
      throw RunError("cannot load " + path + ": " + (why ? why : "unknown error"));
    }
    std::string missing;
    auto lookUp = [&](const char *name) {
      void *p = dlsym(handle_, name);
      if (!p) missing += std::string(missing.empty() ? "" : ", ") + name;
      return p;
    };
#define FMUHOST_LOOKUP(name) name = reinterpret_cast<name##TYPE *>(lookUp(#name));
    FMUHOST_COMMON(FMUHOST_LOOKUP)
    if (mode == Mode::ModelExchange) {
      FMUHOST_ME(FMUHOST_LOOKUP)
    } else {
      FMUHOST_CS(FMUHOST_LOOKUP)
    }
#undef FMUHOST_LOOKUP
    if (!missing.empty()) {
      dlclose(handle_);
      throw RunError(path + " does not export: " + missing);
    }
  }
  ~Unit() { dlclose(handle_); }
  Unit(const Unit &) = delete;
  Unit &operator=(const Unit &) = delete;

#define FMUHOST_MEMBER(name) name##TYPE *name = nullptr;
  FMUHOST_COMMON(FMUHOST_MEMBER)
  FMUHOST_ME(FMUHOST_MEMBER)
  FMUHOST_CS(FMUHOST_MEMBER)
#undef FMUHOST_MEMBER

private:
  void *handle_ = nullptr;
};

// ---- Host callbacks -------------------------------------------------------------

struct LogSink {
  FILE *stream;
};

void hostLogger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                fmi2String category, fmi2String message, ...) {
  FILE *stream = env ? static_cast<LogSink *>(env)->stream : stderr;
  char text[8192];
  text[0] = '\0';
  if (message) {
    va_list args;
    va_start(args, message);
    std::vsnprintf(text, sizeof text, message, args);
    va_end(args);
  }
  std::fprintf(stream, "[%s] %s%s%s: %s\n", statusName(status), instanceName ? instanceName : "",
               category && *category ? " " : "", category ? category : "", text);
}

void *hostAllocate(size_t nobj, size_t size) { return std::calloc(nobj, size); }
void hostFree(void *obj) { std::free(obj); }

// ---- The run --------------------------------------------------------------------

// A number given on the command line: a misfit of the options when malformed.
double optionReal(const std::string &text, const std::string &what) {
  try {
    return parseReal(text, what);
  } catch (const std::runtime_error &e) {
    throw UsageError(e.what());
  }
}

bool isFailure(fmi2Status s) { return s != fmi2OK && s != fmi2Warning; }

class Simulation {
public:
  Simulation(const ModelDescription &md, const ExtractedArchive &archive, const RunOptions &options,
             FILE *out, FILE *err)
      : md_(md), options_(options),
        out_(out), sink_{err}, callbacks_{&hostLogger, &hostAllocate, &hostFree, nullptr, &sink_} {
    const bool me = options.mode == Mode::ModelExchange;
    const std::optional<std::string> &id =
        me ? md.modelExchangeIdentifier : md.coSimulationIdentifier;
    if (!id)
      throw RunError(std::string("the unit does not declare ") +
                     (me ? "Model Exchange" : "Co-Simulation"));
    resolveVariables();
    unit_ = std::make_unique<Unit>(
        (archive.root() / "binaries" / "linux64" / (*id + ".so")).string(), options.mode);
    c_ = unit_->fmi2Instantiate(id->c_str(), me ? fmi2ModelExchange : fmi2CoSimulation,
                                md.guid.c_str(), archive.resourceLocation().c_str(), &callbacks_,
                                fmi2False, options.loggingOn ? fmi2True : fmi2False);
    if (!c_) throw RunError("fmi2Instantiate failed");
  }

  // After a failed call a host may only free the instance; otherwise it
  // terminates it first.
  ~Simulation() {
    if (c_) {
      if (mayTerminate_) unit_->fmi2Terminate(c_);
      unit_->fmi2FreeInstance(c_);
    }
  }
  Simulation(const Simulation &) = delete;
  Simulation &operator=(const Simulation &) = delete;

  void run() {
    start_ = md_.startTime.value_or(0.0);
    stop_ = options_.stopTime ? *options_.stopTime : md_.stopTime.value_or(10.0);
    step_ = options_.step ? *options_.step : md_.stepSize.value_or(0.01);
    interval_ = options_.outputInterval.value_or(step_);
    if (!(step_ > 0) || !std::isfinite(step_)) throw UsageError("the step must be positive");
    if (!(interval_ > 0) || !std::isfinite(interval_))
      throw UsageError("the output interval must be positive");
    if (!(stop_ >= start_) || !std::isfinite(stop_))
      throw UsageError("the stop time must not lie before the start time");

    const bool me = options_.mode == Mode::ModelExchange;
    check(unit_->fmi2SetupExperiment(c_, !me && md_.tolerance ? fmi2True : fmi2False,
                                     md_.tolerance.value_or(0.0), start_, fmi2True, stop_),
          "fmi2SetupExperiment");
    setParameters();
    setInputs();
    check(unit_->fmi2EnterInitializationMode(c_), "fmi2EnterInitializationMode");
    check(unit_->fmi2ExitInitializationMode(c_), "fmi2ExitInitializationMode");
    printHeader();
    if (me)
      runModelExchange();
    else
      runCoSimulation();
    mayTerminate_ = false;
    check(unit_->fmi2Terminate(c_), "fmi2Terminate");
  }

private:
  struct Column {
    std::string name;
    const ScalarVariable *variable;
  };

  // Every output, then the chosen variables; each by its model-description entry.
  void resolveVariables() {
    for (const ScalarVariable &v : md_.variables)
      if (v.causality == "output") columns_.push_back({v.name, &v});
    for (const std::string &name : options_.extraVariables) {
      const ScalarVariable *v = md_.find(name);
      if (!v) throw UsageError("no variable named \"" + name + "\"");
      columns_.push_back({name, v});
    }
    for (const auto &[name, value] : options_.parameters) {
      const ScalarVariable *v = md_.find(name);
      if (!v) throw UsageError("no variable named \"" + name + "\"");
      if (v->causality != "parameter" || v->variability == "constant")
        throw UsageError("\"" + name + "\" is not a parameter");
      if (v->type != "Real") throw UsageError("\"" + name + "\" is not a Real parameter");
      parameters_.push_back({v->valueReference, optionReal(value, "--set " + name)});
    }
    for (const auto &[name, value] : options_.inputs) {
      double x = optionReal(value, "--input " + (name.empty() ? std::string("value") : name));
      bool any = false;
      for (const ScalarVariable &v : md_.variables) {
        if (v.causality != "input" || (!name.empty() && v.name != name)) continue;
        if (v.type != "Real") throw UsageError("input \"" + v.name + "\" is not Real");
        inputs_.push_back({v.valueReference, x});
        any = true;
      }
      if (!any)
        throw UsageError(name.empty() ? std::string("the model has no input")
                                      : "no input named \"" + name + "\"");
    }
  }

  void check(fmi2Status s, const char *what) {
    if (!isFailure(s)) return;
    mayTerminate_ = false;
    throw RunError(std::string(what) + " returned " + statusName(s) +
                   " (host at t = " + formatNumber(time_) + ")");
  }

  void setParameters() {
    for (const auto &[vr, value] : parameters_)
      check(unit_->fmi2SetReal(c_, &vr, 1, &value), "fmi2SetReal");
  }
  void setInputs() {
    for (const auto &[vr, value] : inputs_)
      check(unit_->fmi2SetReal(c_, &vr, 1, &value), "fmi2SetReal");
  }

  static std::string formatNumber(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.12g", v);
    return text;
  }

  void printHeader() {
    std::fputs("time", out_);
    for (const Column &col : columns_) std::fprintf(out_, ",%s", col.name.c_str());
    std::fputc('\n', out_);
  }

  void printRow() {
    std::string line = formatNumber(time_);
    for (const Column &col : columns_) {
      const fmi2ValueReference vr = col.variable->valueReference;
      line += ',';
      const std::string &type = col.variable->type;
      if (type == "Real") {
        fmi2Real v = 0;
        check(unit_->fmi2GetReal(c_, &vr, 1, &v), "fmi2GetReal");
        line += formatNumber(v);
      } else if (type == "Integer" || type == "Enumeration") {
        fmi2Integer v = 0;
        check(unit_->fmi2GetInteger(c_, &vr, 1, &v), "fmi2GetInteger");
        line += std::to_string(v);
      } else if (type == "Boolean") {
        fmi2Boolean v = 0;
        check(unit_->fmi2GetBoolean(c_, &vr, 1, &v), "fmi2GetBoolean");
        line += v ? "true" : "false";
      } else {
        fmi2String v = nullptr;
        check(unit_->fmi2GetString(c_, &vr, 1, &v), "fmi2GetString");
        line += '"' + std::string(v ? v : "") + '"';
      }
    }
    std::fprintf(out_, "%s\n", line.c_str());
  }

  // Rows at start + j*interval (and at the stop time); `time_` has just
  // reached a grid point or an event.
  void printRowIfDue() {
    const double tolerance = 1e-9 * std::max(1.0, std::fabs(time_));
    if (time_ + tolerance >= nextOutput_ || time_ + tolerance >= stop_) {
      printRow();
      while (nextOutput_ <= time_ + tolerance)
        nextOutput_ = start_ + static_cast<double>(++outputIndex_) * interval_;
    }
  }

  // Grid point k of the fixed step, clamped to the stop time; computed from k
  // so that round-off does not pile up over many steps.
  double gridTime(long k) const { return std::min(start_ + static_cast<double>(k) * step_, stop_); }
  bool reached(double t, double target) const {
    return t + 1e-9 * std::max(1.0, std::fabs(target)) >= target;
  }

  // ---- Model Exchange -----------------------------------------------------------
  // After fmi2ExitInitializationMode the instance is in event mode: iterate the
  // discrete states, then integrate with RK4 between grid points and time
  // events; state events (a sign change of an event indicator over a step) and
  // step events (enterEventMode of fmi2CompletedIntegratorStep) are handled at
  // the end of the step in which they occur.
  void runModelExchange() {
    const std::size_t nx = md_.numberOfContinuousStates;
    const std::size_t nz = md_.numberOfEventIndicators;
    x_.assign(nx, 0.0);
    z_.assign(nz, 0.0);
    std::vector<double> zNew(nz), k1(nx), k2(nx), k3(nx), k4(nx), xs(nx);
    time_ = start_;
    if (!eventIteration()) return finishEarly();
    check(unit_->fmi2EnterContinuousTimeMode(c_), "fmi2EnterContinuousTimeMode");
    if (nx) check(unit_->fmi2GetContinuousStates(c_, x_.data(), nx), "fmi2GetContinuousStates");
    if (nz) check(unit_->fmi2GetEventIndicators(c_, z_.data(), nz), "fmi2GetEventIndicators");
    nextOutput_ = start_;
    outputIndex_ = 0;
    printRowIfDue();

    auto derivatives = [&](double t, const std::vector<double> &x, std::vector<double> &dx) {
      check(unit_->fmi2SetTime(c_, t), "fmi2SetTime");
      if (nx) {
        check(unit_->fmi2SetContinuousStates(c_, x.data(), nx), "fmi2SetContinuousStates");
        check(unit_->fmi2GetDerivatives(c_, dx.data(), nx), "fmi2GetDerivatives");
      }
    };

    long k = 1;
    while (!reached(time_, stop_)) {
      double target = gridTime(k);
      bool timeEvent = false;
      if (eventInfo_.nextEventTimeDefined && eventInfo_.nextEventTime <= target) {
        target = std::max(eventInfo_.nextEventTime, time_);
        timeEvent = true;
      }
      const double t = time_, h = target - time_;
      setInputs();
      derivatives(t, x_, k1);
      for (std::size_t i = 0; i < nx; ++i) xs[i] = x_[i] + 0.5 * h * k1[i];
      derivatives(t + 0.5 * h, xs, k2);
      for (std::size_t i = 0; i < nx; ++i) xs[i] = x_[i] + 0.5 * h * k2[i];
      derivatives(t + 0.5 * h, xs, k3);
      for (std::size_t i = 0; i < nx; ++i) xs[i] = x_[i] + h * k3[i];
      derivatives(t + h, xs, k4);
      for (std::size_t i = 0; i < nx; ++i)
        x_[i] += h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
      time_ = target;
      check(unit_->fmi2SetTime(c_, time_), "fmi2SetTime");
      if (nx) check(unit_->fmi2SetContinuousStates(c_, x_.data(), nx), "fmi2SetContinuousStates");

      bool stateEvent = false;
      if (nz) {
        check(unit_->fmi2GetEventIndicators(c_, zNew.data(), nz), "fmi2GetEventIndicators");
        for (std::size_t i = 0; i < nz; ++i)
          if ((z_[i] > 0) != (zNew[i] > 0)) stateEvent = true;
        z_ = zNew;
      }
      fmi2Boolean enterEventMode = fmi2False, terminateSimulation = fmi2False;
      check(unit_->fmi2CompletedIntegratorStep(c_, fmi2True, &enterEventMode, &terminateSimulation),
            "fmi2CompletedIntegratorStep");
      if (terminateSimulation) return finishEarly();
      if (reached(time_, gridTime(k))) ++k;

      if (timeEvent || stateEvent || enterEventMode) {
        check(unit_->fmi2EnterEventMode(c_), "fmi2EnterEventMode");
        if (!eventIteration()) return finishEarly();
        check(unit_->fmi2EnterContinuousTimeMode(c_), "fmi2EnterContinuousTimeMode");
        if (nx && eventInfo_.valuesOfContinuousStatesChanged)
          check(unit_->fmi2GetContinuousStates(c_, x_.data(), nx), "fmi2GetContinuousStates");
        if (nz) check(unit_->fmi2GetEventIndicators(c_, z_.data(), nz), "fmi2GetEventIndicators");
      }
      printRowIfDue();
    }
  }

  // fmi2NewDiscreteStates until no new discrete states are needed; false when
  // the model asks to end the simulation.
  bool eventIteration() {
    eventInfo_ = fmi2EventInfo{};
    eventInfo_.newDiscreteStatesNeeded = fmi2True;
    int passes = 0;
    while (eventInfo_.newDiscreteStatesNeeded) {
      if (++passes > 1000) throw RunError("the event iteration does not converge");
      check(unit_->fmi2NewDiscreteStates(c_, &eventInfo_), "fmi2NewDiscreteStates");
      if (eventInfo_.terminateSimulation) return false;
    }
    return true;
  }

  void finishEarly() {
    std::fprintf(sink_.stream, "fmuhost: the model ended the simulation at t = %s\n",
                 formatNumber(time_).c_str());
    printRow();
  }

  // ---- Co-Simulation ------------------------------------------------------------
  // A fixed communication step from the start to the stop time, the inputs set
  // before each step.  fmi2Discard with the terminated status set means the
  // model ended the simulation; any other failure ends the run.
  void runCoSimulation() {
    time_ = start_;
    nextOutput_ = start_;
    outputIndex_ = 0;
    printRowIfDue();
    for (long k = 1; !reached(time_, stop_); ++k) {
      const double target = gridTime(k);
      setInputs();
      fmi2Status s = unit_->fmi2DoStep(c_, time_, target - time_, fmi2True);
      if (s == fmi2Discard) {
        fmi2Boolean terminated = fmi2False;
        fmi2Real last = time_;
        if (unit_->fmi2GetBooleanStatus(c_, fmi2Terminated, &terminated) == fmi2OK && terminated) {
          if (unit_->fmi2GetRealStatus(c_, fmi2LastSuccessfulTime, &last) == fmi2OK) time_ = last;
          return finishEarly();
        }
      }
      if (isFailure(s)) {
        mayTerminate_ = false;
        throw RunError(std::string("fmi2DoStep from t = ") + formatNumber(time_) + " by " +
                       formatNumber(target - time_) + " returned " + statusName(s));
      }
      time_ = target;
      printRowIfDue();
    }
  }

  const ModelDescription &md_;
  const RunOptions &options_;
  FILE *out_;
  LogSink sink_;
  const fmi2CallbackFunctions callbacks_;
  std::unique_ptr<Unit> unit_;
  fmi2Component c_ = nullptr;
  bool mayTerminate_ = true;
  std::vector<Column> columns_;
  std::vector<std::pair<fmi2ValueReference, double>> parameters_, inputs_;
  double start_ = 0, stop_ = 0, step_ = 0, interval_ = 0, time_ = 0, nextOutput_ = 0;
  long outputIndex_ = 0;
  std::vector<double> x_, z_;
  fmi2EventInfo eventInfo_{};
};

} // namespace

int runFmu(const std::string &fmuPath, const RunOptions &options, FILE *out, FILE *err) {
  try {
    ExtractedArchive archive(fmuPath);
    ModelDescription md = readModelDescription((archive.root() / "modelDescription.xml").string());
    Simulation simulation(md, archive, options, out, err);
    simulation.run();
    std::fflush(out);
    return 0;
  } catch (const UsageError &e) {
    std::fprintf(err, "fmuhost: %s\n", e.what());
    return 2;
  } catch (const std::exception &e) {
    std::fflush(out);
    std::fprintf(err, "fmuhost: %s\n", e.what());
    return 1;
  }
}

} // namespace fmuhost
