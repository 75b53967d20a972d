// Reading and writing variables by value reference through the loaded unit.
#include <climits>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/fmi/fmi_e2e.h"

namespace {

using e2e::fmi;

class Variables : public e2e::UnitTest {};

std::string refusedGet(fmi2ValueReference vr) {
  return "fmiGetReal: cannot get #r" + std::to_string(vr) + "#";
}

TEST_F(Variables, EveryReferenceReadsItsArrayOrIsRefused) {
  continuousTime();
  ASSERT_EQ(fmi().fmi2SetTime(c_, 1.5), fmi2OK);
  EXPECT_EQ(last().message, "fmi2SetTime to 1.5");
  const double level = 3.0;
  ASSERT_EQ(fmi().fmi2SetContinuousStates(c_, &level, 1), fmi2OK);
  struct Case {
    const char *label;
    fmi2ValueReference vr;
    bool readable;
    double value;
  };
  const std::vector<Case> cases = {
      {"vornSurface", e2e::vrVornSurface, true, 2.0},
      {"holeSurface", e2e::vrHoleSurface, true, 0.1},
      {"initialLevel", e2e::vrInitialLevel, true, 3.0},
      {"inputRate", e2e::vrInputRate, true, 0.0},
      {"read-only input", 0x0A000000, true, 0.0},
      {"read-only parameter", 0x0E000001, true, 0.1},
      {"level", e2e::vrLevel, true, 3.0},
      {"outflow", e2e::vrOutflow, true, e2e::kOutflow0},
      {"state", e2e::vrState, true, 3.0},
      {"derivative", e2e::vrDerivative, true, -e2e::kOutflow0 / 2},
      {"gravity", e2e::vrGravity, true, 9.81},
      {"time", e2e::vrTime, true, 1.5},
      {"parameter past the end", 0x01000003, false, 0},
      {"output past the end", 0x14000002, false, 0},
      {"state past the end", 0x02000001, false, 0},
      {"index at the top of the field", 0x01FFFFFF, false, 0},
      {"empty extra array (11)", 0x0B000000, false, 0},
      {"empty extra array (12)", 0x0C000000, false, 0},
      {"category 0", 0x00000000, false, 0},
      {"category 7", 0x07000000, false, 0},
      {"category 9", 0x09000000, false, 0},
      {"string category", 0x08000000, false, 0},
      {"time category, other index", 0xFF000000, false, 0},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.label);
    host_.clearMessages();
    double v = -12345.0;
    const fmi2Status status = fmi().fmi2GetReal(c_, &k.vr, 1, &v);
    if (k.readable) {
      EXPECT_EQ(status, fmi2OK) << host_.dump();
      EXPECT_DOUBLE_EQ(v, k.value);
    } else {
      EXPECT_EQ(status, fmi2Warning);
      EXPECT_EQ(v, -12345.0);
      EXPECT_EQ(last().message, refusedGet(k.vr));
      EXPECT_EQ(last().status, fmi2Warning);
    }
  }
}

TEST_F(Variables, ValuesBeforeARefusedReferenceAreDelivered) {
  initialized();
  const fmi2ValueReference vr[3] = {e2e::vrLevel, 0x01000009, e2e::vrOutflow};
  double v[3] = {-1, -1, -1};
  EXPECT_EQ(fmi().fmi2GetReal(c_, vr, 3, v), fmi2Warning);
  EXPECT_DOUBLE_EQ(v[0], 3.0);
  EXPECT_EQ(v[2], -1.0);
  EXPECT_TRUE(host_.hasMessage("fmiGetReal: #r335544320# = 3", fmi2OK)) << host_.dump();
}

TEST_F(Variables, IntegerAndBooleanReadsTruncateTowardZero) {
  initialized();
  const fmi2ValueReference input = e2e::vrInputRate;
  struct Case {
    double stored;
    fmi2Integer read;
  };
  const std::vector<Case> cases = {
      {2.7, 2}, {-2.7, -2}, {5.0, 5}, {1e12, INT_MAX}, {-1e12, INT_MIN}, {NAN, 0},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.stored);
    ASSERT_EQ(fmi().fmi2SetReal(c_, &input, 1, &k.stored), fmi2OK);
    fmi2Integer i = -7;
    fmi2Boolean b = -7;
    EXPECT_EQ(fmi().fmi2GetInteger(c_, &input, 1, &i), fmi2OK) << host_.dump();
    EXPECT_EQ(fmi().fmi2GetBoolean(c_, &input, 1, &b), fmi2OK);
    EXPECT_EQ(i, k.read);
    EXPECT_EQ(b, k.read);
  }
  const fmi2Boolean five = 5;
  ASSERT_EQ(fmi().fmi2SetBoolean(c_, &input, 1, &five), fmi2OK);
  EXPECT_EQ(last().message, "fmiSetBoolean: #b83886080# = 5");
  EXPECT_EQ(real(input), 5.0);
  const fmi2Integer minusThree = -3;
  ASSERT_EQ(fmi().fmi2SetInteger(c_, &input, 1, &minusThree), fmi2OK);
  fmi2Integer i = 0;
  ASSERT_EQ(fmi().fmi2GetInteger(c_, &input, 1, &i), fmi2OK);
  EXPECT_EQ(i, -3);
  EXPECT_EQ(last().message, "fmiGetInteger: #i83886080# = -3");
}

// Which categories a setter may write in which state.
TEST_F(Variables, SettersKeepToTheCategoryLimits) {
  struct Case {
    const char *label;
    bool continuous; // false: initialization mode
    fmi2ValueReference vr;
    fmi2Status status;
    const char *refusal; // "may", "cannot", "constant" or "fixed"
  };
  const std::vector<Case> cases = {
      {"parameter in 6", true, e2e::vrHoleSurface, fmi2OK, nullptr},
      {"state in 6", true, e2e::vrState, fmi2OK, nullptr},
      {"input in 6", true, e2e::vrInputRate, fmi2OK, nullptr},
      {"auxiliary in 1", false, e2e::vrAuxDerivative, fmi2OK, nullptr},
      {"auxiliary in 6", true, e2e::vrAuxDerivative, fmi2Warning, "may"},
      {"constant in 1", false, e2e::vrGravity, fmi2Error, "constant"},
      {"constant in 6", true, e2e::vrGravity, fmi2Error, "constant"},
      {"fixed parameter in 1", false, e2e::vrInitialLevel, fmi2OK, nullptr},
      {"fixed parameter in 6", true, e2e::vrInitialLevel, fmi2Error, "fixed"},
      {"output in 1", false, e2e::vrLevel, fmi2Warning, "may"},
      {"derivative in 6", true, e2e::vrDerivative, fmi2Warning, "may"},
      {"read-only input", false, 0x0A000000, fmi2Warning, "may"},
      {"read-only parameter", false, 0x0E000000, fmi2Warning, "may"},
      {"category 0", false, 0x00000000, fmi2Warning, "cannot"},
      {"parameter past the end", false, 0x01000003, fmi2Warning, "cannot"},
      {"time", true, e2e::vrTime, fmi2Warning, "cannot"},
      {"string category", false, 0x08000000, fmi2Warning, "cannot"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.label);
    if (k.continuous) {
      continuousTime();
    } else {
      instantiate();
      ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
    }
    host_.clearMessages();
    const double value = 0.25;
    EXPECT_EQ(fmi().fmi2SetReal(c_, &k.vr, 1, &value), k.status);
    const std::string ref = "#r" + std::to_string(k.vr) + "#";
    if (k.refusal == nullptr) {
      EXPECT_EQ(last().message, "fmiSetReal: " + ref + " = 0.25");
      // (In initialization mode the read initializes again.)
      if (k.continuous) {
        EXPECT_EQ(real(k.vr), 0.25);
      }
    } else if (std::string(k.refusal) == "may") {
      EXPECT_EQ(last().message, "fmiSetReal: may not change " + ref +
                                    " at this stage, setting of variable ignored");
    } else if (std::string(k.refusal) == "constant") {
      EXPECT_EQ(last().message,
                "fmiSetReal: may not change constant " + ref + ", setting of variable ignored");
      EXPECT_EQ(last().status, fmi2Error);
    } else if (std::string(k.refusal) == "fixed") {
      EXPECT_EQ(last().message, "fmiSetReal: may not change fixed parameter " + ref +
                                    " after initialization, setting of variable ignored");
      EXPECT_EQ(last().status, fmi2Error);
    } else {
      EXPECT_EQ(last().message, "fmiSetReal: cannot set " + ref + "  ");
    }
    free();
  }
}

// The Real, Integer and Boolean families name their references with their
// own prefix and letter in every message.
TEST_F(Variables, EachNumericKindNamesItsReferences) {
  struct Kind {
    const char *get;
    const char *set;
    char letter;
    std::function<fmi2Status(fmi2Component, fmi2ValueReference, fmi2Integer)> write;
    std::function<fmi2Status(fmi2Component, fmi2ValueReference)> read;
  };
  const auto &f = fmi();
  const std::vector<Kind> kinds = {
      {"fmiGetReal", "fmiSetReal", 'r',
       [&](fmi2Component c, fmi2ValueReference vr, fmi2Integer v) {
         const double d = v;
         return f.fmi2SetReal(c, &vr, 1, &d);
       },
       [&](fmi2Component c, fmi2ValueReference vr) {
         double d = 0;
         return f.fmi2GetReal(c, &vr, 1, &d);
       }},
      {"fmiGetInteger", "fmiSetInteger", 'i',
       [&](fmi2Component c, fmi2ValueReference vr, fmi2Integer v) {
         return f.fmi2SetInteger(c, &vr, 1, &v);
       },
       [&](fmi2Component c, fmi2ValueReference vr) {
         fmi2Integer i = 0;
         return f.fmi2GetInteger(c, &vr, 1, &i);
       }},
      {"fmiGetBoolean", "fmiSetBoolean", 'b',
       [&](fmi2Component c, fmi2ValueReference vr, fmi2Integer v) {
         return f.fmi2SetBoolean(c, &vr, 1, &v);
       },
       [&](fmi2Component c, fmi2ValueReference vr) {
         fmi2Boolean b = 0;
         return f.fmi2GetBoolean(c, &vr, 1, &b);
       }},
  };
  instantiate();
  ASSERT_EQ(f.fmi2EnterInitializationMode(c_), fmi2OK);
  for (const Kind &k : kinds) {
    SCOPED_TRACE(k.get);
    auto ref = [&](fmi2ValueReference vr) {
      return std::string("#") + k.letter + std::to_string(vr) + "#";
    };
    const fmi2ValueReference input = e2e::vrInputRate, output = e2e::vrLevel, none = 0x07000000;
    EXPECT_EQ(k.write(c_, input, 1), fmi2OK);
    EXPECT_EQ(last().message, std::string(k.set) + ": " + ref(input) + " = 1");
    EXPECT_EQ(k.read(c_, input), fmi2OK);
    EXPECT_EQ(last().message, std::string(k.get) + ": " + ref(input) + " = 1");
    EXPECT_EQ(k.write(c_, output, 1), fmi2Warning);
    EXPECT_EQ(last().message, std::string(k.set) + ": may not change " + ref(output) +
                                  " at this stage, setting of variable ignored");
    EXPECT_EQ(k.write(c_, none, 1), fmi2Warning);
    EXPECT_EQ(last().message, std::string(k.set) + ": cannot set " + ref(none) + "  ");
    EXPECT_EQ(k.read(c_, none), fmi2Warning);
    EXPECT_EQ(last().message, std::string(k.get) + ": cannot get " + ref(none));
    EXPECT_EQ(last().status, fmi2Warning);
  }
}

TEST_F(Variables, ParameterChangeInInitializationModeInitializesAgain) {
  instantiate();
  ASSERT_EQ(fmi().fmi2EnterInitializationMode(c_), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 3.0);
  const fmi2ValueReference vr = e2e::vrInitialLevel;
  const double five = 5.0;
  ASSERT_EQ(fmi().fmi2SetReal(c_, &vr, 1, &five), fmi2OK);
  // A level-0 read evaluates with request 0: the initial sections run again.
  EXPECT_DOUBLE_EQ(real(e2e::vrState), 5.0);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 5.0);
  EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), 0.1 * std::sqrt(19.62 * 5.0));
}

TEST_F(Variables, ParameterChangeInContinuousTimeReevaluates) {
  continuousTime();
  EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), e2e::kOutflow0);
  const fmi2ValueReference vr = e2e::vrHoleSurface;
  const double hole = 0.2;
  ASSERT_EQ(fmi().fmi2SetReal(c_, &vr, 1, &hole), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), 2 * e2e::kOutflow0);
  double dx = 0;
  ASSERT_EQ(fmi().fmi2GetDerivatives(c_, &dx, 1), fmi2OK);
  EXPECT_DOUBLE_EQ(dx, -e2e::kOutflow0);
}

// Values stored before a refused reference stay stored and count as a
// change: the next read evaluates with them.
TEST_F(Variables, ValuesBeforeARefusedSetAreStoredAndSeen) {
  continuousTime();
  EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), e2e::kOutflow0);
  const fmi2ValueReference vr[2] = {e2e::vrHoleSurface, e2e::vrLevel};
  const double values[2] = {0.2, 1.0};
  EXPECT_EQ(fmi().fmi2SetReal(c_, vr, 2, values), fmi2Warning);
  EXPECT_DOUBLE_EQ(real(e2e::vrHoleSurface), 0.2);
  EXPECT_DOUBLE_EQ(real(e2e::vrOutflow), 2 * e2e::kOutflow0);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 3.0);
}

TEST_F(Variables, StringsAreRefusedWithoutStringVariables) {
  initialized();
  const fmi2ValueReference vr = 0x08000000;
  fmi2String s = "unchanged";
  EXPECT_EQ(fmi().fmi2GetString(c_, &vr, 1, &s), fmi2Warning);
  EXPECT_EQ(last().message, "fmi2GetString: cannot get #s134217728#");
  EXPECT_STREQ(s, "unchanged");
  const fmi2String text = "abc";
  EXPECT_EQ(fmi().fmi2SetString(c_, &vr, 1, &text), fmi2Warning);
  EXPECT_EQ(last().message, "fmi2SetString: cannot set #s134217728#  ");
}

TEST_F(Variables, NullArraysWithACountAreRefused) {
  initialized();
  const fmi2ValueReference vr = e2e::vrLevel;
  double v = 0;
  EXPECT_EQ(fmi().fmi2GetReal(c_, nullptr, 1, &v), fmi2Error);
  EXPECT_EQ(last().message, "fmi2GetReal: invalid argument vr = NULL");
  EXPECT_EQ(fmi().fmi2GetReal(c_, &vr, 1, nullptr), fmi2Error);
  EXPECT_EQ(last().message, "fmi2GetReal: invalid argument value = NULL");
  EXPECT_EQ(fmi().fmi2SetReal(c_, &vr, 2, nullptr), fmi2Error);
  EXPECT_EQ(fmi().fmi2SetString(c_, nullptr, 1, nullptr), fmi2Error);
  EXPECT_EQ(fmi().fmi2GetInteger(c_, nullptr, 0, nullptr), fmi2OK);
  EXPECT_EQ(fmi().fmi2SetBoolean(c_, nullptr, 0, nullptr), fmi2OK);
  EXPECT_DOUBLE_EQ(real(e2e::vrLevel), 3.0);
}

} // namespace
