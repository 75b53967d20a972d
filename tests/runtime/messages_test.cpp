// Log lines, reports, assertions, model errors and the error path.
#include "source/error_path.h"
#include "source/kernel.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"
#include "tests/runtime/support.h"

#include <functional>
#include <string>
#include <vector>

namespace {

using MessagesTest = RuntimeTest;
using Lines = std::vector<std::string>;

bool fails(const std::function<void()> &body) {
  ErrorRecoveryScope scope;
  return !scope.run(body);
}

TEST_F(MessagesTest, LogLinesFormatTheirValues) {
  const std::string longName(300, 'n');
  struct Case {
    const char *name;
    std::function<void()> call;
    CapturedMessage expected;
  };
  const Case cases[] = {
      {"logText", [] { logText("plain"); }, {"plain", 1, 0}},
      {"logTextLevel", [] { logTextLevel(7, "severe"); }, {"severe", 1, 7}},
      {"appendPendingText", [] { appendPendingText("later"); }, {"later", 0, 0}},
      {"logTextValue", [] { logTextValue("t =", 1.0 / 3); }, {"t = 0.3333333333333333", 1, 0}},
      {"logTextValueLevel", [] { logTextValueLevel(1, "x", 1e300); }, {"x 1E+300", 1, 1}},
      {"logTextValueZero", [] { EXPECT_EQ(logTextValueZero("z", -2.5), 0); }, {"z -2.5", 1, 0}},
      {"logTextInt", [] { logTextInt("count", -12); }, {"count -12", 1, 0}},
      {"logMatrixElement", [] { logMatrixElement("A", 2, 3, 0.5); }, {"  A[2, 3] = 0.5", 1, 0}},
      {"name cut at 160",
       [&] { logTextInt(longName.c_str(), 5); },
       {std::string(160, 'n') + " 5", 1, 0}},
      {"logVector",
       [] {
         const double v[] = {1, -2.5, 1e-7};
         logVector("v", v, 3);
       },
       {"v = {1, -2.5, 1E-07}", 1, 0}},
      {"empty logVector", [] { logVector("w", nullptr, 0); }, {"w = {}", 1, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    clearMessages();
    c.call();
    EXPECT_EQ(capturedMessages(), std::vector<CapturedMessage>{c.expected});
  }
}

TEST_F(MessagesTest, LogVectorCutsALongLineAtItsBuffer) {
  std::vector<double> values(1000, 123456.0);
  logVector("big", values.data(), int(values.size()));
  const auto texts = capturedTexts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].size(), 1999u);
  EXPECT_EQ(texts[0].substr(0, 16), "big = {123456, 1");
}

TEST_F(MessagesTest, LogMatrixPrintsRowsOfAColumnMajorMatrix) {
  // 2 by 2 stored with leading dimension 3: (1,1)=1 (2,1)=2 (1,2)=4 (2,2)=5.
  const double values[] = {1, 2, 99, 4, 5, 99};
  logMatrix("M", values, 2, 2, 3);
  EXPECT_EQ(capturedTexts(), (Lines{"M = {", "", "{1, 4}, ", "{2, 5}", "", "};"}));
}

TEST_F(MessagesTest, LogMatrixBreaksLongRowsAndBoundsLongNames) {
  std::vector<double> row(40, 1.25);
  const std::string name(400, 'm');
  logMatrix(name.c_str(), row.data(), 1, 40, 1);
  const auto texts = capturedTexts();
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts[0].size(), 299u) << "the name line is cut at its buffer";
  // The row breaks before an element once the line holds more than 200
  // characters; the lines together are the whole row.
  std::string joined;
  for (std::size_t i = 2; i + 2 < texts.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_LE(texts[i].size(), 210u);
    joined += texts[i];
  }
  EXPECT_GT(texts.size(), 5u);
  std::string expected = "{";
  for (int j = 0; j < 40; ++j) expected += (j ? ", " : "") + std::string("1.25");
  expected += "}";
  EXPECT_EQ(joined, expected);
}

TEST_F(MessagesTest, AppendMatrixRowFillsTheNextRowAndPadsWithZeros) {
  double m[6] = {9, 9, 9, 9, 9, 9}; // 2 rows, 3 columns, leading dimension 2
  int count = 0;
  const double first[] = {1, 2, 3};
  const double second[] = {7};
  appendMatrixRow(m, 2, 3, &count, first, 3);
  appendMatrixRow(m, 2, 3, &count, second, 1);
  EXPECT_EQ(count, 2);
  const double expected[6] = {1, 7, 2, 0, 3, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(m[i], expected[i]) << i;
}

TEST_F(MessagesTest, ErrorWithEmptyStackPrintsHeaderAndTextThenUnwinds) {
  fakeInstance().time = 1.5;
  bool returned = false;
  EXPECT_TRUE(fails([&] {
    raiseModelError("something broke");
    returned = true;
  }));
  EXPECT_FALSE(returned);
  EXPECT_EQ(fakeInstance().status, 1);
  EXPECT_EQ(capturedMessages(), (std::vector<CapturedMessage>{
                                    {"Error: The following error was detected at time: 1.5", 1, 2},
                                    {"something broke", 1, 2}}));
}

TEST_F(MessagesTest, ErrorPrintsAndEmptiesTheFunctionStackInnermostFirst) {
  ThreadContext *t = getThreadContext();
  FunctionStackEntry outer{"outerFunction", nullptr};
  FunctionStackEntry inner{"innerFunction", &outer};
  EXPECT_TRUE(fails([&] {
    t->functionStack = &inner;
    runtimeReport("failed", 5);
  }));
  EXPECT_EQ(capturedMessages(), (std::vector<CapturedMessage>{
                                    {"Error: The following error was detected at time: 0", 1, 5},
                                    {"failed", 1, 5},
                                    {"The stack of functions is:", 1, 5},
                                    {"innerFunction", 1, 5},
                                    {"outerFunction", 1, 5},
                                    {"", 1, 5}}));
}

TEST_F(MessagesTest, RecoveryPutsTheStackBackToItsValueAtArming) {
  ThreadContext *t = getThreadContext();
  FunctionStackEntry caller{"caller", nullptr};
  t->functionStack = &caller;
  defaultKernelContext.IUSER = nullptr;
  {
    ErrorRecoveryScope scope;
    EXPECT_EQ(t->errorJump, &scope);
    EXPECT_TRUE(errorRecoveryArmed());
    bool completed = scope.run([&] {
      FunctionStackEntry frame{"inside", t->functionStack};
      t->functionStack = &frame;
      {
        ErrorRecoveryScope nested;
        EXPECT_EQ(t->errorJump, &nested);
        EXPECT_FALSE(nested.run([] { raiseModelError("inner"); }));
        EXPECT_EQ(t->functionStack, &frame) << "the nested scope restores its own entry value";
      }
      EXPECT_EQ(t->errorJump, &scope);
      raiseModelError("outer");
    });
    EXPECT_FALSE(completed);
    EXPECT_EQ(t->functionStack, &caller) << "no entry points into a finished frame";
  }
  EXPECT_EQ(t->errorJump, nullptr);
  EXPECT_FALSE(errorRecoveryArmed());
  t->functionStack = nullptr;
}

TEST_F(MessagesTest, WarningReportReturnsZeroAndKeepsTheStatus) {
  fakeInstance().time = 2;
  EXPECT_EQ(runtimeReport("careful", 1), 0.0);
  EXPECT_EQ(fakeInstance().status, 0);
  EXPECT_EQ(capturedMessages(),
            (std::vector<CapturedMessage>{{"Warning: The following was detected at time: 2", 1, 1},
                                          {"careful", 1, 1}}));
}

TEST_F(MessagesTest, SuppressionBitSilencesTheReportButStillFailsAndUnwinds) {
  int iuser[14] = {};
  double duser[6] = {};
  iuser[1] = 0x400;
  setUserArrays(duser, iuser);
  ThreadContext *t = getThreadContext();
  FunctionStackEntry entry{"kept", nullptr};
  t->functionStack = &entry;
  FunctionStackEntry *seen = nullptr;
  EXPECT_TRUE(fails([&] {
    try {
      raiseModelError("quiet");
    } catch (const ModelErrorSignal &) {
      seen = t->functionStack;
      throw;
    }
  }));
  EXPECT_TRUE(capturedMessages().empty());
  EXPECT_EQ(seen, &entry) << "the stack is not popped while printing is suppressed";
  EXPECT_EQ(fakeInstance().status, 1);
  EXPECT_EQ(runtimeReport("quiet warning", 1), 0.0);
  EXPECT_TRUE(capturedMessages().empty());

  t->functionStack = nullptr;
  iuser[1] = 0x3ff; // other option bits do not silence it
  EXPECT_TRUE(fails([] { raiseModelError("loud"); }));
  EXPECT_EQ(capturedMessages().size(), 2u);
}

TEST_F(MessagesTest, ErrorWithoutRecoveryPointStillReportsAndPropagates) {
  ASSERT_FALSE(errorRecoveryArmed());
  EXPECT_THROW(raiseModelError("outside"), ModelErrorSignal);
  EXPECT_EQ(fakeInstance().status, 1);
  EXPECT_EQ(capturedTexts(),
            (Lines{"Error: The following error was detected at time: 0", "outside"}));
}

TEST_F(MessagesTest, AssertionsAndModelErrorsHaveTheirExactTexts) {
  const std::string longText(500, 'q');
  struct Case {
    const char *name;
    std::function<void()> call;
    std::string text;
  };
  const Case cases[] = {
      {"runtimeAssert", [] { runtimeAssert(0, "x>0", "x must be positive"); },
       "  x must be positive\n  Failed condition: x>0"},
      {"runtimeAssert parts cut at 400",
       [&] { runtimeAssert(0, longText.c_str(), longText.c_str()); },
       "  " + std::string(400, 'q') + "\n  Failed condition: " + std::string(400, 'q')},
      {"runtimeAssertLevel 2", [] { runtimeAssertLevel(0, "c", "m", 2, nullptr); },
       "  m\n  Failed condition: c\n"},
      {"modelDivisionError", [] { modelDivisionError("a", 3, "b-c", 0); },
       "\nModel error - division by zero: (a) / (b-c) = (3) / (0)\n"},
      {"modelReciprocalError", [] { modelReciprocalError("h", 0); },
       "\nModel error - division by zero: (1.0) / (h) = (1) / (0)\n"},
      {"modelFunctionError", [] { modelFunctionError("level - 2", -0.25, "sqrt"); },
       "\nModel error - sqrt (level - 2) = sqrt (-0.25)\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    clearMessages();
    fakeInstance().status = 0;
    EXPECT_TRUE(fails(c.call));
    EXPECT_EQ(fakeInstance().status, 1);
    const auto texts = capturedTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], c.text);
  }
  EXPECT_FALSE(fails([] { runtimeAssert(1, "c", "m"); }));
  EXPECT_FALSE(fails([] { runtimeAssertLevel(1, "c", "m", 2, nullptr); }));
}

TEST_F(MessagesTest, LevelOneAssertionWarnsOncePerFlag) {
  int once = 0;
  runtimeAssertLevel(0, "c", "m", 1, &once);
  EXPECT_EQ(once, 1);
  EXPECT_EQ(capturedMessages(),
            (std::vector<CapturedMessage>{{"Warning: The following was detected at time: 0", 1, 1},
                                          {"  m\n  Failed condition: c\n", 1, 1}}));
  runtimeAssertLevel(0, "c", "m", 1, &once);
  EXPECT_EQ(capturedMessages().size(), 2u) << "the second failure with the same flag is silent";

  clearMessages();
  runtimeAssertLevel(0, "c", "m", 1, nullptr);
  runtimeAssertLevel(0, "c", "m", 1, nullptr);
  EXPECT_EQ(capturedMessages().size(), 4u) << "without a flag every failure reports";
  EXPECT_EQ(fakeInstance().status, 0);
}

TEST_F(MessagesTest, TemporariesOfAFailedEvaluationStayAllocated) {
  ThreadContext *t = getThreadContext();
  allocRealbuffer(1);
  double *const before = t->currentMark.place.Realbuffer;
  char *const stringBefore = getStringMark();
  EXPECT_TRUE(fails([] {
    allocRealbuffer(10);
    allocSimplestring(3);
    raiseModelError("fail");
  }));
  EXPECT_EQ(t->currentMark.place.Realbuffer, before + 10);
  EXPECT_EQ(getStringMark(), stringBefore + 4);
}

TEST_F(MessagesTest, HookCanBeReplacedAndRemoved) {
  static std::vector<std::string> *seen = nullptr;
  std::vector<std::string> local;
  seen = &local;
  RuntimeMessageIntFn intHook = [](const char *text, int, int) {
    seen->push_back(text);
    return 0;
  };
  setRuntimeMessageHook(intHook);
  logText("to the int hook");
  setRuntimeMessageHook(nullptr);
  logText("dropped");
  EXPECT_EQ(local, Lines{"to the int hook"});
  EXPECT_TRUE(capturedMessages().empty());
  seen = nullptr;
}

} // namespace
