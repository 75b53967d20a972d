// The unit under a host that has switched the process to a decimal-comma
// locale: every number in the unit's messages still has a decimal point.
#include <gtest/gtest.h>

#include <string>

#include "tests/fmi/cs_support.h"
#include "tests/support/comma_locale.h"

namespace {

using e2e::fmi;

class CommaHostTest : public cs::CoSimTest {
protected:
  void SetUp() override {
    cs::CoSimTest::SetUp();
    ASSERT_TRUE(locale_.active()) << "the comma-decimal locale could not be built (localedef "
                                     "and the locales package are needed)";
  }
  bool hasPrefix(const std::string &prefix, fmi2Status status) const {
    for (const auto &m : host_.messages())
      if (m.message.rfind(prefix, 0) == 0 && m.status == status) return true;
    return false;
  }

  testsupport::CommaLocale locale_;
};

TEST_F(CommaHostTest, TracesRefusalsAndStatisticsUseADecimalPoint) {
  ready();
  ASSERT_EQ(fmi().fmi2DoStep(c_, 0.0, 0.5, fmi2True), fmi2OK) << host_.dump();
  EXPECT_TRUE(hasExactly("fmi2SetTime to 0.5", fmi2OK)) << host_.dump();

  EXPECT_EQ(fmi().fmi2DoStep(c_, 0.25, 0.5, fmi2True), fmi2Error);
  EXPECT_TRUE(hasExactly(
      "fmi2DoStep: currentCommunicationPoint = 0.2500000000000000, expected 0.5000000000000000",
      fmi2Error))
      << host_.dump();

  host_.clearMessages();
  terminate();
  std::string report;
  for (const auto &m : host_.messages())
    if (m.message.rfind("Integrator Statistics\n", 0) == 0) report = m.message;
  EXPECT_NE(report.find("\n    Stop time                                : 0.50 s\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("Suggested tolerance scale factor         : "), std::string::npos);
  EXPECT_EQ(report.find(','), std::string::npos) << report;
}

TEST_F(CommaHostTest, IntegratorReportsUseADecimalPoint) {
  ready();
  // Past the empty vessel the integrator gives up and reports where.
  EXPECT_EQ(fmi().fmi2DoStep(c_, 0.0, 30.0, fmi2True), fmi2Error);
  std::string report;
  for (const auto &m : host_.messages())
    if (m.message.rfind("ODE: OdeSolve failed with ", 0) == 0) report = m.message;
  ASSERT_FALSE(report.empty()) << host_.dump();
  const std::size_t at = report.find("At t = ");
  ASSERT_NE(at, std::string::npos) << report;
  const std::string number = report.substr(at + 7, report.find_first_of(" ,", at + 7) - at - 7);
  EXPECT_NE(number.find('.'), std::string::npos) << report;
  EXPECT_EQ(report.find(','), std::string::npos) << report;
}

} // namespace
