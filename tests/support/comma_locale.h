// A host process locale with a decimal comma, as a German host sets it.
// The locale is compiled into a temporary folder (localedef) and found through
// LOCPATH, so the machine's locales are not touched.  Header only.
#pragma once

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport {

class CommaLocale {
public:
  // Builds de_DE.UTF-8 and switches the whole process to it (LC_ALL).
  CommaLocale() {
    char pattern[] = "/tmp/unit-locale-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder_ = pattern;
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + folder_ + "/de_DE.UTF-8' >/dev/null 2>&1";
    // localedef may warn and still produce the locale; the check is setlocale.
    (void)std::system(command.c_str());
    setenv("LOCPATH", folder_.c_str(), 1);
    active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr && printed(1.5) == "1,5";
  }
  ~CommaLocale() {
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    if (!folder_.empty()) (void)std::system(("rm -rf '" + folder_ + "'").c_str());
  }
  CommaLocale(const CommaLocale &) = delete;
  CommaLocale &operator=(const CommaLocale &) = delete;

  // The process prints "1,5" for 1.5 now.
  bool active() const { return active_; }

  // What the process's own printf makes of value with "%g" under the locale
  // the process has at the moment.
  static std::string printed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
  }

private:
  std::string folder_;
  bool active_ = false;
};

// A fixture base that keeps one comma locale for a whole test suite: built
// before the suite's first test and removed after its last, so localedef runs
// once per suite.  Base is the fixture it extends.
template <class Base> class CommaLocaleSuite : public Base {
protected:
  static void SetUpTestSuite() { locale_.emplace(); }
  static void TearDownTestSuite() { locale_.reset(); }

  // The suite's locale was built and the process prints "1,5" for 1.5.
  static bool commaActive() { return locale_.has_value() && locale_->active(); }

private:
  static inline std::optional<CommaLocale> locale_;
};

} // namespace testsupport
