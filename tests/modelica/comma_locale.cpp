// With UNIT_TEST_COMMA_LOCALE set, the whole suite runs with the process
// under a German locale (decimal comma, German system messages), built by
// tests/support/comma_locale.h.
#include "tests/support/comma_locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

using testsupport::CommaLocale;

class CommaLocaleEnvironment : public testing::Environment {
public:
  void SetUp() override {
    locale_.emplace();
    ASSERT_TRUE(locale_->active())
        << "the comma-decimal locale could not be built (localedef and the locales package "
           "are needed)";
    ASSERT_EQ(CommaLocale::printed(1.5), "1,5") << "the process locale really uses a decimal comma";
  }
  void TearDown() override { locale_.reset(); }

private:
  std::optional<CommaLocale> locale_;
};

const bool registered = [] {
  if (std::getenv("UNIT_TEST_COMMA_LOCALE") != nullptr) {
    testing::AddGlobalTestEnvironment(new CommaLocaleEnvironment);
  }
  return true;
}();

} // namespace
