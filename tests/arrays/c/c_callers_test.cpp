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
#include "tests/driver/fake_model.h"

namespace {

struct Message {
  std::string text;
  int level;
};
std::vector<Message> messages;

void captureMessage(const char *text, int, int level) { messages.push_back({text, level}); }

class CCallersTest : public ::testing::Test {
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
  double time = 2.5;
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
