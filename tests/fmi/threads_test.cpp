// Sixteen threads, each with its own instances of both kinds from
// instantiation to release, at the same time: every thread gets exactly the
// results of the same run made alone, and its host sees only its own
// messages.  Run under ThreadSanitizer (scripts/test.sh --tsan runs the
// tests whose names say "Thread"), it shows that instances on different
// threads share no variable that one of them writes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "tests/fmi/cs_support.h"

namespace {

using e2e::fmi;

constexpr int kThreads = 16;

// One run of instance index: Model Exchange for even, Co-Simulation for odd
// indexes.  The inflow differs per index.  Half-way the state is saved,
// serialized, deserialized and restored.  The levels after every step, or
// empty when a call failed (the host's messages say which).
std::vector<double> run(int index, fmihost::HostCallbacks &host) {
  const fmihost::Fmi2Functions &f = fmi();
  const fmi2Type kind = index % 2 == 0 ? fmi2ModelExchange : fmi2CoSimulation;
  const std::string name = "t" + std::to_string(index);
  fmihost::ScopedInstance c(f, f.fmi2Instantiate(name.c_str(), kind, FMI_MODEL_GUID, nullptr,
                                                 &host.functions(), fmi2False, fmi2True));
  std::vector<double> levels;
  if (!c) return levels;
  const fmi2ValueReference input = e2e::vrInputRate;
  const fmi2ValueReference level = e2e::vrLevel;
  const double rate = 0.01 * index;
  bool ok = f.fmi2SetupExperiment(c.get(), fmi2False, 0.0, 0.0, fmi2False, 0.0) == fmi2OK &&
            f.fmi2SetReal(c.get(), &input, 1, &rate) == fmi2OK &&
            f.fmi2EnterInitializationMode(c.get()) == fmi2OK &&
            f.fmi2ExitInitializationMode(c.get()) == fmi2OK;
  if (ok && kind == fmi2ModelExchange) {
    fmi2EventInfo info{};
    ok = f.fmi2NewDiscreteStates(c.get(), &info) == fmi2OK &&
         f.fmi2EnterContinuousTimeMode(c.get()) == fmi2OK;
  }
  const auto roundTrip = [&] {
    fmi2FMUstate saved = nullptr;
    fmi2FMUstate loaded = nullptr;
    size_t size = 0;
    bool done = f.fmi2GetFMUstate(c.get(), &saved) == fmi2OK &&
                f.fmi2SerializedFMUstateSize(c.get(), saved, &size) == fmi2OK;
    std::vector<fmi2Byte> image(size);
    done = done && f.fmi2SerializeFMUstate(c.get(), saved, image.data(), size) == fmi2OK &&
           f.fmi2DeSerializeFMUstate(c.get(), image.data(), size, &loaded) == fmi2OK &&
           f.fmi2SetFMUstate(c.get(), loaded) == fmi2OK;
    (void)f.fmi2FreeFMUstate(c.get(), &saved);
    (void)f.fmi2FreeFMUstate(c.get(), &loaded);
    return done;
  };
  constexpr int kSteps = 40;
  constexpr double kStep = 0.125;
  for (int k = 0; ok && k < kSteps; ++k) {
    if (k == kSteps / 2) ok = roundTrip();
    const double t = k * kStep;
    if (kind == fmi2CoSimulation) {
      ok = ok && f.fmi2DoStep(c.get(), t, kStep, fmi2True) == fmi2OK;
    } else {
      double x = 0.0;
      double dx = 0.0;
      fmi2Boolean event = fmi2False;
      fmi2Boolean terminate = fmi2False;
      ok = ok && f.fmi2GetContinuousStates(c.get(), &x, 1) == fmi2OK &&
           f.fmi2GetDerivatives(c.get(), &dx, 1) == fmi2OK;
      x += kStep * dx;
      ok = ok && f.fmi2SetTime(c.get(), t + kStep) == fmi2OK &&
           f.fmi2SetContinuousStates(c.get(), &x, 1) == fmi2OK &&
           f.fmi2CompletedIntegratorStep(c.get(), fmi2True, &event, &terminate) == fmi2OK;
    }
    double value = 0.0;
    ok = ok && f.fmi2GetReal(c.get(), &level, 1, &value) == fmi2OK;
    if (ok) levels.push_back(value);
  }
  ok = ok && f.fmi2Terminate(c.get()) == fmi2OK;
  if (!ok) levels.clear();
  return levels;
}

TEST(SixteenThreads, EachThreadWithItsOwnInstanceGetsTheResultsOfARunAlone) {
  const size_t liveBefore = fmihost::liveBlocks();
  std::vector<std::vector<double>> alone(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    fmihost::HostCallbacks host;
    alone[i] = run(i, host);
    ASSERT_EQ(alone[i].size(), 40u) << host.dump();
  }
  EXPECT_NE(alone[0], alone[2]);
  EXPECT_NE(alone[1], alone[3]);

  std::vector<std::vector<double>> together(kThreads);
  std::vector<fmihost::HostCallbacks> hosts(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] { together[i] = run(i, hosts[i]); });
  }
  for (std::thread &t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(together[i], alone[i]) << hosts[i].dump();
    const std::string name = "t" + std::to_string(i);
    EXPECT_FALSE(hosts[i].messages().empty());
    for (const auto &m : hosts[i].messages()) {
      ASSERT_EQ(m.instanceName, name) << m.message;
      ASSERT_EQ(m.status, fmi2OK) << m.message;
    }
  }
  EXPECT_EQ(fmihost::liveBlocks(), liveBefore);
}

// A Co-Simulation run of 20 steps of 1 s, each step and read on a thread of
// its own that ends afterwards (ownThreads) or all on the calling thread.
// The vessel runs empty at about 15.6 s: the step across fails, with the
// model's message.  The levels read, and the statuses of the steps.
std::vector<double> handedOnRun(fmihost::HostCallbacks &host, bool ownThreads) {
  const fmihost::Fmi2Functions &f = fmi();
  fmihost::ScopedInstance c(f, f.fmi2Instantiate("handed", fmi2CoSimulation, FMI_MODEL_GUID,
                                                 nullptr, &host.functions(), fmi2False, fmi2True));
  std::vector<double> results;
  if (!c) return results;
  EXPECT_EQ(f.fmi2SetupExperiment(c.get(), fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  EXPECT_EQ(f.fmi2EnterInitializationMode(c.get()), fmi2OK);
  EXPECT_EQ(f.fmi2ExitInitializationMode(c.get()), fmi2OK);
  const fmi2ValueReference level = e2e::vrLevel;
  for (int k = 0; k < 20; ++k) {
    const auto step = [&] {
      results.push_back(f.fmi2DoStep(c.get(), k, 1.0, fmi2True));
      double value = NAN;
      if (f.fmi2GetReal(c.get(), &level, 1, &value) == fmi2OK) results.push_back(value);
    };
    if (ownThreads) {
      std::thread(step).join();
    } else {
      step();
    }
  }
  return results;
}

TEST(ThreadHandOff, AnInstanceSteppedOnAnotherThreadEachTimeRunsAsOnOneThread) {
  fmihost::HostCallbacks alone;
  const std::vector<double> one = handedOnRun(alone, false);
  fmihost::HostCallbacks handed;
  const std::vector<double> many = handedOnRun(handed, true);
  EXPECT_EQ(many, one);
  ASSERT_TRUE(alone.hasMessage("sqrt", fmi2Error)) << alone.dump();
  const auto a = alone.messages();
  const auto b = handed.messages();
  ASSERT_EQ(b.size(), a.size()) << handed.dump();
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(b[i].instanceName, "handed");
    EXPECT_EQ(b[i].status, a[i].status);
    EXPECT_EQ(cs::withoutProcessorTime(b[i].message), cs::withoutProcessorTime(a[i].message));
  }
}

} // namespace
