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
#include "tests/driver/fake_model.h"

namespace {

struct Message {
  std::string text;
  int level;
};
std::vector<Message> messages;

void captureMessage(const char *text, int, int level) { messages.push_back({text, level}); }

class CSubscriptCallersTest : public ::testing::Test {
protected:
  void SetUp() override {
    fakeModel.reset();
    messages.clear();
    setRuntimeMessageHook(&captureMessage);
    initInstanceData(&data);
    data.duser = DUSER;
    data.iuser = IUSER;
    ASSERT_EQ(call(kRequestInitial), kQiErrOk);
  }
  void TearDown() override {
    resetInstanceData(&data);
    setRuntimeMessageHook(nullptr);
  }

  // One evaluation of the derivatives whose equations run body.
  int32_t evaluate(std::function<void()> body) {
    fakeModel.body = [body](FakeCall &) { body(); };
    return call(kRequestDerivatives);
  }

  int32_t call(int32_t code) {
    int32_t request = code;
    int32_t computedLevel = -1;
    int32_t qiErr = 0;
    dsblockInstance_(&request, &computedLevel, &time, X, nullptr, U, DP, nullptr, nullptr, F, Y, W,
                     Z, DUSER, IUSER, nullptr, &data, &qiErr);
    return qiErr;
  }

  std::unique_ptr<ModelInstanceData> holder{new ModelInstanceData};
  ModelInstanceData &data = *holder;
  double time = 1.5;
  double X[1] = {0.0};
  double U[1] = {0.0};
  double DP[3] = {2.0, 0.1, 3.0};
  double F[1] = {0.0};
  double Y[2] = {0.0, 0.0};
  double W[2] = {0.0, 0.0};
  double Z[2] = {0.0, 0.0};
  double DUSER[kDuserSize] = {0.0, 1.0, 0.0, 0.0, 0.0, 0.0};
  int32_t IUSER[kIuserSize] = {};
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
