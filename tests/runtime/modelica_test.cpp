// The utility interface of external functions.
#include "source/ModelicaUtilities.h"
#include "source/error_path.h"
#include "source/matrixop.h"
#include "tests/runtime/support.h"

#include <cstring>
#include <functional>
#include <string>

namespace {

using ModelicaTest = RuntimeTest;

bool fails(const std::function<void()> &body) {
  ErrorRecoveryScope scope;
  return !scope.run(body);
}

void vformatMessage(const char *format, ...) {
  va_list args;
  va_start(args, format);
  ModelicaVFormatMessage(format, args);
  va_end(args);
}

void vformatError(const char *format, ...) {
  va_list args;
  va_start(args, format);
  ModelicaVFormatError(format, args);
  va_end(args);
}

TEST_F(ModelicaTest, MessagesAndWarningsBecomePendingLevelZeroText) {
  ModelicaMessage("plain 100%");
  ModelicaFormatMessage("%d items at %.2f", 3, 0.5);
  vformatMessage("%s-%s", "a", "b");
  ModelicaWarning("low level");
  ModelicaFormatWarning("value %g", 2.5);
  EXPECT_EQ(capturedMessages(), (std::vector<CapturedMessage>{{"plain 100%", 0, 0},
                                                              {"3 items at 0.50", 0, 0},
                                                              {"a-b", 0, 0},
                                                              {"Warning: low level\n", 0, 0},
                                                              {"Warning: value 2.5\n", 0, 0}}));
  EXPECT_EQ(fakeInstance().status, 0);
}

TEST_F(ModelicaTest, FormattedTextIsCutAtItsBuffer) {
  const std::string big(5000, 'b');
  ModelicaFormatMessage("%s", big.c_str());
  ModelicaFormatWarning("%s", big.c_str());
  const auto texts = capturedTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], std::string(3999, 'b'));
  EXPECT_EQ(texts[1].size(), 3999u);
  EXPECT_EQ(texts[1].substr(0, 9), "Warning: ");
}

TEST_F(ModelicaTest, ErrorsAreModelErrors) {
  struct Case {
    const char *name;
    std::function<void()> call;
    const char *text;
  };
  const Case cases[] = {
      {"ModelicaError", [] { ModelicaError("file not found"); }, "file not found"},
      {"ModelicaFormatError", [] { ModelicaFormatError("code %d", 42); }, "code 42"},
      {"ModelicaVFormatError", [] { vformatError("%s!", "bad"); }, "bad!"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    clearMessages();
    fakeInstance().status = 0;
    EXPECT_TRUE(fails(c.call));
    EXPECT_EQ(fakeInstance().status, 1);
    EXPECT_EQ(capturedMessages(),
              (std::vector<CapturedMessage>{
                  {"Error: The following error was detected at time: 0", 1, 2}, {c.text, 1, 2}}));
  }
}

TEST_F(ModelicaTest, AllocatedStringsAreTerminatedAndLiveInTheCharacterArea) {
  char *start = getStringMark();
  char *s = ModelicaAllocateString(5);
  EXPECT_EQ(s, start);
  EXPECT_EQ(s[5], '\0');
  EXPECT_EQ(getStringMark(), start + 6);
  char *t = ModelicaAllocateStringWithErrorReturn(0);
  EXPECT_EQ(t, start + 6);
  EXPECT_EQ(t[0], '\0');
}

// The error-returning allocation gives null exactly where the plain one fails.
TEST_F(ModelicaTest, ErrorReturnMatchesThePlainAllocationAtTheBoundary) {
  const std::size_t used = 100;
  for (std::size_t len : {std::size_t(0), std::size_t(9898), std::size_t(9899), std::size_t(9900),
                          std::size_t(1) << 40, ~std::size_t(0)}) {
    SCOPED_TRACE(len);
    endEvaluation();
    ModelicaAllocateString(used - 1); // 100 characters used
    char *const mark = getStringMark();
    char *quiet = ModelicaAllocateStringWithErrorReturn(len);
    setStringMark(mark);
    clearMessages();
    bool plainFailed = fails([&] { ModelicaAllocateString(len); });
    EXPECT_EQ(quiet == nullptr, plainFailed);
    if (plainFailed) {
      EXPECT_EQ(capturedTexts().at(1), "  Room to allocate string\n  Failed condition: "
                                       "stringmark+len+1<Endsimplestring");
      EXPECT_EQ(getStringMark(), mark);
    }
  }
}

} // namespace
