// Working directory, environment, time and process id.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "source/runtime.h"
#include "tests/modelica/support.h"

namespace fs = std::filesystem;

namespace {

using SystemTest = ModelicaTest;

constexpr const char *kVariable = "MODELICA_TEST_VARIABLE";

struct Value {
  std::string content;
  int exist;
  bool operator==(const Value &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Value &value) {
  return out << "{\"" << value.content << "\", " << value.exist << "}";
}

Value valueOf(const char *name, int convertToSlash) {
  const char *content = nullptr;
  int exist = -1;
  ModelicaInternal_getenv(name, convertToSlash, &content, &exist);
  return {content, exist};
}

class EnvironmentTest : public SystemTest {
protected:
  void TearDown() override {
    unsetenv(kVariable);
    SystemTest::TearDown();
  }
};

TEST_F(EnvironmentTest, UndefinedVariablesReadAsEmpty) {
  unsetenv(kVariable);
  EXPECT_EQ(valueOf(kVariable, 0), (Value{"", 0}));
  GetenvResult result = getenvCall(kVariable, 1);
  EXPECT_STREQ(result.content, "");
  EXPECT_EQ(result.exist, 0);
}

TEST_F(EnvironmentTest, BackslashesOfAValueBecomeSlashesOnRequest) {
  setenv(kVariable, "C:\\units\\vorn", 1);
  EXPECT_EQ(valueOf(kVariable, 1), (Value{"C:/units/vorn", 1}));
  EXPECT_EQ(valueOf(kVariable, 0), (Value{"C:\\units\\vorn", 1}));
  GetenvResult result = getenvCall(kVariable, 1);
  EXPECT_STREQ(result.content, "C:/units/vorn");
  EXPECT_EQ(result.exist, 1);
}

TEST_F(EnvironmentTest, SetVariablesReadBack) {
  setEnvironmentVariable(kVariable, "a/b/c", 1);
  EXPECT_EQ(valueOf(kVariable, 0), (Value{"a\\b\\c", 1}));
  setEnvironmentVariable(kVariable, "a/b", 0);
  EXPECT_EQ(valueOf(kVariable, 0), (Value{"a/b", 1}));
  EXPECT_STREQ(std::getenv(kVariable), "a/b");
}

// An empty value removes the variable, as on the platform the interface
// comes from (POSIX would keep it defined and empty).
TEST_F(EnvironmentTest, AnEmptyValueRemovesTheVariable) {
  setEnvironmentVariable(kVariable, "x", 0);
  setEnvironmentVariable(kVariable, "", 0);
  EXPECT_EQ(valueOf(kVariable, 0), (Value{"", 0}));
  EXPECT_EQ(std::getenv(kVariable), nullptr);
  setEnvironmentVariable(kVariable, "", 1); // removing twice is no error
  EXPECT_EQ(valueOf(kVariable, 0), (Value{"", 0}));
}

TEST_F(EnvironmentTest, InvalidNamesAreErrors) {
  EXPECT_EQ(errorText([] { setEnvironmentVariable("A=B", "x", 0); }),
            "Not possible to set environment variable:\nInvalid argument");
  EXPECT_EQ(errorText([] { setEnvironmentVariable("", "x", 1); }),
            "Not possible to set environment variable:\nInvalid argument");
  failMallocAt(1);
  EXPECT_EQ(errorText([] { setEnvironmentVariable(kVariable, "x", 1); }),
            "Memory allocation error\n");
  EXPECT_EQ(std::getenv(kVariable), nullptr);
}

// The environment holds "MODELICA_TEST_VARIABLE=x=y": a name with '=' is
// never matched against part of that entry.
TEST_F(EnvironmentTest, NamesWithAnEqualsSignAreNotDefined) {
  setenv(kVariable, "x=y", 1);
  const std::string withValue = std::string(kVariable) + "=x";
  const std::string withEquals = std::string(kVariable) + "=";
  for (const std::string &name : {withValue, withEquals, std::string("=x"), std::string("")}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(valueOf(name.c_str(), 0), (Value{"", 0}));
    GetenvResult result = getenvCall(name.c_str(), 0);
    EXPECT_STREQ(result.content, "");
    EXPECT_EQ(result.exist, 0);
    EXPECT_EQ(errorText([&] { setEnvironmentVariable(name.c_str(), "z", 0); }),
              "Not possible to set environment variable:\nInvalid argument");
  }
  EXPECT_EQ(valueOf(kVariable, 0), (Value{"x=y", 1}));
}

TEST_F(EnvironmentTest, ValuesBeyondTheCharacterAreaAreErrors) {
  setenv(kVariable, std::string(50, 'v').c_str(), 1);
  ModelicaAllocateString(static_cast<std::size_t>(SimplestringSize) - 20);
  EXPECT_EQ(errorText([] { valueOf(kVariable, 0); }),
            std::string("Not enough memory to allocate string for copying environment variable "
                        "\"") +
                kVariable + "\".\n");
}

// The error report of a failed read through the call wrapper names the
// function; a completed call leaves the stack as it was.
TEST_F(EnvironmentTest, GetenvCallNamesItselfInErrorReports) {
  setenv(kVariable, "value", 1);
  ThreadContext *context = getThreadContext();
  FunctionStackEntry outer{"outerFunction", nullptr};
  context->functionStack = &outer;
  context->externalCallState = 7;
  GetenvResult result = getenvCall(kVariable, 0);
  EXPECT_STREQ(result.content, "value");
  EXPECT_EQ(context->functionStack, &outer);
  EXPECT_EQ(context->externalCallState, 7);

  failMallocAt(1);
  clearMessages();
  ErrorRecoveryScope scope;
  EXPECT_FALSE(scope.run([] { getenvCall(kVariable, 0); }));
  EXPECT_EQ(capturedTexts(),
            (std::vector<std::string>{
                "Error: The following error was detected at time: 0",
                std::string("Not enough memory to allocate string for copying environment "
                            "variable \"") +
                    kVariable + "\".\n",
                "The stack of functions is:", "ModelicaInternal_getenv", "outerFunction", ""}));
  EXPECT_EQ(context->functionStack, &outer); // put back by the recovery point
  context->functionStack = nullptr;
  context->externalCallState = 0;
}

TEST_F(SystemTest, WorkingDirectoryChangesAndReadsBack) {
  WorkingDirectory keep(fs::current_path().string());
  fs::create_directory(path("sub"));
  EXPECT_EQ(errorText([&] { changeDirectory(path("sub").c_str()); }), "<completed>");
  EXPECT_EQ(getCurrentDirectory(), path("sub"));
  EXPECT_EQ(errorText([] { changeDirectory(".."); }), "<completed>");
  EXPECT_EQ(getCurrentDirectory(), folder());
  const std::string missing = path("missing");
  EXPECT_EQ(errorText([&] { changeDirectory(missing.c_str()); }),
            "Not possible to change current working directory to\n\"" + missing +
                "\":\nNo such file or directory");
}

TEST_F(SystemTest, AWorkingDirectoryLongerThanTheBufferIsAnError) {
  std::string deep = folder();
  while (deep.size() < 1100) {
    deep += "/" + std::string(200, 'd');
    fs::create_directory(deep);
  }
  WorkingDirectory inside(deep);
  EXPECT_EQ(errorText([] { getCurrentDirectory(); }),
            "Not possible to get current working directory:\nNumerical result out of range");
}

int januaryClock(clockid_t, struct timespec *now) {
  now->tv_sec = 1768472430; // 2026-01-15 10:20:30 UTC
  now->tv_nsec = 456789000;
  return 0;
}

TEST_F(SystemTest, TimeIsTheLocalTimeOfOneClockReading) {
  const char *zone = std::getenv("TZ");
  const std::string keptZone = zone != nullptr ? zone : "";
  setenv("TZ", "UTC", 1);
  tzset();
  platform::sys.clock_gettime = januaryClock;
  int ms = 0, sec = 0, min = 0, hour = 0, mday = 0, mon = 0, year = 0;
  getTime(&ms, &sec, &min, &hour, &mday, &mon, &year);
  EXPECT_EQ((std::vector<int>{ms, sec, min, hour, mday, mon, year}),
            (std::vector<int>{456, 30, 20, 10, 15, 1, 2026}));
  if (zone != nullptr) {
    setenv("TZ", keptZone.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();

  platform::sys = platform::defaultSystemCalls();
  const std::time_t before = std::time(nullptr);
  getTime(&ms, &sec, &min, &hour, &mday, &mon, &year);
  std::tm now{};
  localtime_r(&before, &now);
  EXPECT_GE(year, now.tm_year + 1900);
  EXPECT_LE(year, now.tm_year + 1901);
  EXPECT_GE(mon, 1);
  EXPECT_LE(mon, 12);
  EXPECT_GE(ms, 0);
  EXPECT_LE(ms, 999);
}

TEST_F(SystemTest, ProcessIdIsThisProcess) {
  EXPECT_EQ(getProcessId(), static_cast<int>(getpid()));
}

} // namespace
