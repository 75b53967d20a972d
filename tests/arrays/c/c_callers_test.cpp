// The C names called from C: results of the variadic forms, and a model
// error raised under C frames that unwinds to the evaluation driver, which
// reports it and returns QiErr 1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/dsblock.h"
#include "source/runtime.h"
#include "tests/arrays/c/c_callers.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/fake_model.h"

namespace {

using namespace drivertest;

class CCallersTest : public EquationsTest {
protected:
  CCallersTest() : EquationsTest(2.5) {}
};

TEST_F(CCallersTest, RecordOperationsWorkFromC) {
  std::vector<double> values(16);
  int n = 0;
  EXPECT_EQ(evaluate([&] { n = cRecordOperations(values.data(), 16); }), kQiErrOk);
  values.resize(n);
  EXPECT_EQ(values, (std::vector<double>{1.5, 0.25, -4, 't', 3, 2, -2, 3, 6 + 2, 1}));
}

TEST_F(CCallersTest, ConstructionOperationsWorkFromC) {
  std::vector<double> values(16);
  int n = 0;
  EXPECT_EQ(evaluate([&] { n = cConstructOperations(values.data(), 16); }), kQiErrOk);
  values.resize(n);
  EXPECT_EQ(values, (std::vector<double>{23, 0.5, 3, 9, 's', 4, -1, 6}));
}

TEST_F(CCallersTest, ArithmeticOperationsWorkFromC) {
  std::vector<double> values(16);
  int n = 0;
  EXPECT_EQ(evaluate([&] { n = cArithmeticOperations(values.data(), 16); }), kQiErrOk);
  values.resize(n);
  EXPECT_EQ(values,
            (std::vector<double>{9, 6, -2147483648.0, -2147483647, 0.25 + 1.0 / 3 + 0.4, -1}));
}

TEST_F(CCallersTest, ModelErrorUnwindsThroughCFramesToTheDriver) {
  cReachedAfterError = 0;
  EXPECT_EQ(evaluate(cReadOutsideTheArray), kQiErrError);
  EXPECT_EQ(cReachedAfterError, 0);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Error: The following error was detected at time: 2.5");
  EXPECT_EQ(messages[1].text,
            "  Index out of bounds\n  Failed condition: (j >= 1) && (j <= a.dims[0])");
  EXPECT_EQ(messages[1].level, 2);
}

} // namespace
