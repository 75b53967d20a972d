// With UNIT_TEST_COMMA_LOCALE set, the whole suite runs with the process
// under a German locale (decimal comma, German system messages).  The locale
// is compiled into a temporary folder (localedef) and found through LOCPATH,
// so the system is not touched.
#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class CommaLocaleEnvironment : public testing::Environment {
public:
  void SetUp() override {
    char pattern[] = "/tmp/modelica-locale-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + folder_ + "/de_DE.UTF-8' >/dev/null 2>&1";
    // localedef may warn and still produce the locale; the check is setlocale.
    (void)std::system(command.c_str());
    setenv("LOCPATH", folder_.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the comma-decimal locale could not be built (localedef and the locales package "
           "are needed)";
    char plain[32];
    std::snprintf(plain, sizeof plain, "%g", 1.5);
    ASSERT_STREQ(plain, "1,5") << "the process locale really uses a decimal comma";
  }
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    (void)std::system(("rm -rf '" + folder_ + "'").c_str());
  }

private:
  std::string folder_;
};

const bool registered = [] {
  if (std::getenv("UNIT_TEST_COMMA_LOCALE") != nullptr) {
    testing::AddGlobalTestEnvironment(new CommaLocaleEnvironment);
  }
  return true;
}();

} // namespace
