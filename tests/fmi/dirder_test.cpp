// fmi2GetDirectionalDerivative through the loaded unit: central differences
// against the vessel's analytic partial derivatives, the one-sided fallback
// at a model error, the refusals, and the knowns after every return.
//
// The vessel: der(level) = (inputRate - 0.1*sqrt(19.62*level)) / 2,
// outflow = 0.1*sqrt(19.62*level), start level 3.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using namespace e2e;

double dDerDLevel(double level) { return -0.1 * 19.62 / (2.0 * 2.0 * std::sqrt(19.62 * level)); }
double dOutflowDLevel(double level) { return 0.1 * 19.62 / (2.0 * std::sqrt(19.62 * level)); }

class DirectionalDerivativeTest : public UnitTest {
protected:
  // The knowns' values, bit for bit.
  std::vector<double> values(const std::vector<fmi2ValueReference> &refs) {
    std::vector<double> v(refs.size(), NAN);
    EXPECT_EQ(fmi().fmi2GetReal(c_, refs.data(), refs.size(), v.data()), fmi2OK);
    return v;
  }
  static bool sameBits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
  }
};

TEST_F(DirectionalDerivativeTest, MatchesAnalyticPartialsAndRestoresKnowns) {
  continuousTime();
  struct Case {
    const char *what;
    std::vector<fmi2ValueReference> known;
    std::vector<double> seed;
    std::vector<double> expected; // d(der), d(outflow)
  };
  const double l = 3.0;
  const std::vector<Case> cases = {
      {"level", {vrState}, {1.0}, {dDerDLevel(l), dOutflowDLevel(l)}},
      {"inputRate", {vrInputRate}, {1.0}, {0.5, 0.0}},
      {"level with seed 2", {vrState}, {2.0}, {2.0 * dDerDLevel(l), 2.0 * dOutflowDLevel(l)}},
      {"both, second seed 0",
       {vrState, vrInputRate},
       {1.0, 0.0},
       {dDerDLevel(l), dOutflowDLevel(l)}},
      {"both seeds", {vrState, vrInputRate}, {1.0, -3.0}, {dDerDLevel(l) - 1.5, dOutflowDLevel(l)}},
      {"all seeds 0", {vrState, vrInputRate}, {0.0, 0.0}, {0.0, 0.0}},
  };
  const std::vector<fmi2ValueReference> unknown = {vrDerivative, vrOutflow};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    const std::vector<double> before = values(k.known);
    std::vector<double> d(unknown.size(), NAN);
    ASSERT_EQ(fmi().fmi2GetDirectionalDerivative(c_, unknown.data(), unknown.size(), k.known.data(),
                                                 k.known.size(), k.seed.data(), d.data()),
              fmi2OK)
        << host_.dump();
    for (size_t i = 0; i < unknown.size(); ++i) EXPECT_NEAR(d[i], k.expected[i], 1e-7) << i;
    EXPECT_TRUE(sameBits(values(k.known), before));
  }
  // The unknowns read afterwards belong to the restored point.
  EXPECT_DOUBLE_EQ(real(vrOutflow), kOutflow0);
  EXPECT_TRUE(host_.hasMessage("fmi2GetDirectionalDerivative", fmi2OK));
}

TEST_F(DirectionalDerivativeTest, PerturbsByTheSeededStepAndSetsBack) {
  continuousTime();
  const fmi2ValueReference known = vrState;
  const fmi2ValueReference unknown = vrDerivative;
  const double seed = 2.0;
  double d = NAN;
  host_.clearMessages();
  ASSERT_EQ(fmi().fmi2GetDirectionalDerivative(c_, &unknown, 1, &known, 1, &seed, &d), fmi2OK);
  // h = (3 + 1)*1e-5 / 2: the state goes to 3 + 2h, 3 - 2h and back to 3.
  std::vector<double> setValues;
  for (const auto &m : host_.messages()) {
    double v = NAN;
    unsigned vr = 0;
    if (std::sscanf(m.message.c_str(), "fmiSetReal: #r%u# = %lg", &vr, &v) == 2) {
      EXPECT_EQ(vr, known);
      setValues.push_back(v);
    }
  }
  ASSERT_EQ(setValues.size(), 3u) << host_.dump();
  EXPECT_NEAR(setValues[0], 3.00004, 1e-12);
  EXPECT_NEAR(setValues[1], 2.99996, 1e-12);
  EXPECT_EQ(setValues[2], 3.0);
  EXPECT_EQ(real(vrState), 3.0);
}

TEST_F(DirectionalDerivativeTest, DiscardedSideGivesOneSidedDifference) {
  continuousTime();
  // At level 0 the minus side (level -1e-5) is a model error.
  const fmi2ValueReference state = vrState;
  const double zero = 0.0;
  ASSERT_EQ(fmi().fmi2SetReal(c_, &state, 1, &zero), fmi2OK);
  const fmi2ValueReference unknown = vrOutflow;
  const double seed = 1.0;
  double d = NAN;
  ASSERT_EQ(fmi().fmi2GetDirectionalDerivative(c_, &unknown, 1, &state, 1, &seed, &d), fmi2OK)
      << host_.dump();
  const double h = 1e-5;
  EXPECT_NEAR(d, 0.1 * std::sqrt(19.62 * h) / h, 1e-6);
  EXPECT_EQ(real(vrState), 0.0);
  EXPECT_EQ(real(vrOutflow), 0.0); // the instance still evaluates
}

TEST_F(DirectionalDerivativeTest, NothingToComputeIsOk) {
  continuousTime();
  const fmi2ValueReference known = vrState;
  const fmi2ValueReference unknown = vrDerivative;
  const double seed = 1.0;
  double d = 42.0;
  EXPECT_EQ(fmi().fmi2GetDirectionalDerivative(c_, &unknown, 1, nullptr, 0, nullptr, &d), fmi2OK);
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(fmi().fmi2GetDirectionalDerivative(c_, nullptr, 0, &known, 1, &seed, nullptr), fmi2OK);
  EXPECT_EQ(real(vrState), 3.0);
}

TEST_F(DirectionalDerivativeTest, BeforeInitializationTheReadIsRefused) {
  instantiate();
  const fmi2ValueReference known = vrState;
  const fmi2ValueReference unknown = vrDerivative;
  const double seed = 1.0;
  double d = 42.0;
  EXPECT_EQ(fmi().fmi2GetDirectionalDerivative(c_, &unknown, 1, &known, 1, &seed, &d), fmi2Warning);
  EXPECT_EQ(d, 0.0);
  EXPECT_TRUE(host_.hasMessage("fmiGetReal: Not allowed before call of fmi2EnterInitializationMode",
                               fmi2Warning));
}

TEST_F(DirectionalDerivativeTest, NullArrayIsRefused) {
  continuousTime();
  const fmi2ValueReference known = vrState;
  const double seed = 1.0;
  double d = 0.0;
  EXPECT_EQ(fmi().fmi2GetDirectionalDerivative(c_, nullptr, 1, &known, 1, &seed, &d), fmi2Error);
  EXPECT_TRUE(host_.hasMessage("invalid argument vUnknown_ref = NULL", fmi2Error));
}

TEST_F(DirectionalDerivativeTest, AllocationFailureTerminatesWithoutLeak) {
  const fmi2ValueReference known = vrState;
  const fmi2ValueReference unknown = vrDerivative;
  const double seed = 1.0;
  for (size_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 100u);
    host_.clearMessages();
    continuousTime();
    double d = NAN;
    fmihost::failAllocation(n);
    const fmi2Status status =
        fmi().fmi2GetDirectionalDerivative(c_, &unknown, 1, &known, 1, &seed, &d);
    fmihost::failAllocation(0);
    if (status == fmi2OK) {
      EXPECT_NEAR(d, dDerDLevel(3.0), 1e-7);
      free();
      break;
    }
    EXPECT_EQ(status, fmi2Error);
    EXPECT_TRUE(
        host_.hasMessage("fmi2GetDirectionalDerivative: memory allocation failed", fmi2Error));
    // Terminated: a further step is refused.
    EXPECT_EQ(fmi().fmi2Terminate(c_), fmi2Warning);
    free();
  }
}

} // namespace
