// Subscripting, the matrix operations and the string conversions called
// from C under the evaluation driver: results of the tagged variadic lists,
// and a failed subscripted assignment that unwinds through C frames to the
// driver, which reports it and returns QiErr 1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/dsblock.h"
#include "source/runtime.h"
#include "tests/arrays/c/subscript_callers.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/fake_model.h"

namespace {

using namespace drivertest;

class CSubscriptCallersTest : public EquationsTest {
protected:
  CSubscriptCallersTest() : EquationsTest(1.5) {}
};

TEST_F(CSubscriptCallersTest, TaggedListsWithIndexVectorsWorkFromC) {
  std::vector<double> values(16);
  int n = 0;
  EXPECT_EQ(evaluate([&] { n = cSubscriptAndMatrixOperations(values.data(), 16); }), kQiErrOk);
  values.resize(n);
  // a = 0..11 as 3x4; a[{3,1}, 4:-3:1] is 2x2; a[:, 4] := {-1, -1.5, -2}.
  EXPECT_EQ(values, (std::vector<double>{2, 22, 11, 8, 3, 0, 9, -1.5, 0 + 2 + 6 - 4,
                                         8 * 1 + 9 * 2 + 10 * 3 - 2 * 4, 2, 1, 3 + 4 + 3}));
}

TEST_F(CSubscriptCallersTest, StringConversionsWorkFromC) {
  char text[64] = "";
  EXPECT_EQ(evaluate([&] { cStringConversions(text, sizeof text); }), kQiErrOk);
  EXPECT_STREQ(text, "0.25  |+3.00e+00| highfalse");
}

TEST_F(CSubscriptCallersTest, FailedAssignmentUnwindsThroughCFramesToTheDriver) {
  cReachedAfterAssign = 0;
  EXPECT_EQ(evaluate(cAssignOutsideTheArray), kQiErrError);
  EXPECT_EQ(cReachedAfterAssign, 0);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Error: The following error was detected at time: 1.5");
  EXPECT_EQ(messages[1].text,
            "  Assignment array subscripting: vector index out of bounds\n  Failed condition: "
            "(v.data[i]>=1)&&(v.data[i]<=out.dims[out_dim])");
  EXPECT_EQ(messages[1].level, 2);
}

} // namespace
