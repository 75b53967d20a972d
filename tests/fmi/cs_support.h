// Shared set-up of the Co-Simulation end-to-end tests: a fixture that brings
// an instance to the point where fmi2DoStep runs, a host loop over
// communication steps, and the exact and reference solutions of the vessel.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace cs {

using e2e::fmi;

// Level of the vessel without inflow: (sqrt(3) - 0.1*sqrt(19.62)/4*t)^2.
inline double exactLevel(double t) {
  const double r = std::sqrt(3.0) - 0.1 * std::sqrt(19.62) / 4.0 * t;
  return r * r;
}

// Time at which the vessel without inflow is empty (about 15.64 s).
inline double emptyTime() { return std::sqrt(3.0) / (0.1 * std::sqrt(19.62) / 4.0); }

// Reference level for the inflow rate(t): classical Runge-Kutta with steps of
// 1e-4 s on der(level) = (rate(t) - 0.1*sqrt(19.62*level))/2, level(0) = 3.
inline double referenceLevel(double tEnd, const std::function<double(double)> &rate) {
  auto f = [&](double t, double level) { return (rate(t) - 0.1 * std::sqrt(19.62 * level)) / 2.0; };
  const int n = static_cast<int>(std::lround(tEnd / 1e-4));
  const double h = tEnd / n;
  double level = 3.0;
  for (int i = 0; i < n; ++i) {
    const double t = i * h;
    const double k1 = f(t, level);
    const double k2 = f(t + h / 2, level + h / 2 * k1);
    const double k3 = f(t + h / 2, level + h / 2 * k2);
    const double k4 = f(t + h, level + h * k3);
    level += h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
  }
  return level;
}

// text with the value of the statistics report's processor time replaced by
// "*": the one part of the messages of a run that differs between runs.
inline std::string withoutProcessorTime(std::string text) {
  const std::string label = "    Simulation time                          : ";
  const size_t at = text.find(label);
  if (at == std::string::npos) return text;
  const size_t end = text.find('\n', at);
  text.replace(at + label.size(), end - at - label.size(), "*");
  return text;
}

class CoSimTest : public e2e::UnitTest {
protected:
  // Instantiated as Co-Simulation, experiment set up and initialization
  // entered and left, ready for the first step at t = 0.
  fmi2Component ready(fmi2Boolean toleranceDefined = fmi2False, double tolerance = 0.0,
                      fmi2Boolean stopTimeDefined = fmi2False, double stopTime = 0.0,
                      bool loggingOn = true) {
    instantiate(fmi2CoSimulation, loggingOn);
    EXPECT_NE(c_, nullptr);
    EXPECT_EQ(
        fmi().fmi2SetupExperiment(c_, toleranceDefined, tolerance, 0.0, stopTimeDefined, stopTime),
        fmi2OK);
    EXPECT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK) << host_.dump();
    EXPECT_EQ(fmi().fmi2ExitInitializationMode(c_), fmi2OK) << host_.dump();
    return c_;
  }

  // The instance time as the host sees it.
  double lastSuccessfulTime() {
    double t = NAN;
    EXPECT_EQ(fmi().fmi2GetRealStatus(c_, fmi2LastSuccessfulTime, &t), fmi2OK);
    return t;
  }

  // The instance's complete state, as the bytes of its FMU-state image.
  std::vector<fmi2Byte> image() {
    fmi2FMUstate s = nullptr;
    EXPECT_EQ(fmi().fmi2GetFMUstate(c_, &s), fmi2OK) << host_.dump();
    size_t size = 0;
    EXPECT_EQ(fmi().fmi2SerializedFMUstateSize(c_, s, &size), fmi2OK);
    std::vector<fmi2Byte> bytes(size);
    EXPECT_EQ(fmi().fmi2SerializeFMUstate(c_, s, bytes.data(), bytes.size()), fmi2OK);
    EXPECT_EQ(fmi().fmi2FreeFMUstate(c_, &s), fmi2OK);
    return bytes;
  }

  // Terminates (as a well-behaved host does before freeing).
  void terminate() { EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2OK) << host_.dump(); }

  bool hasExactly(const std::string &text, fmi2Status status) const {
    for (const auto &m : host_.messages()) {
      if (m.message == text && m.status == status) return true;
    }
    return false;
  }
};

} // namespace cs
