// One model instance with its own arrays, evaluated through dsblockInstance_
// against the scripted fake model (fake_model.h), with the runtime's messages
// captured.  Used by the driver's tests and by the tests that call the
// runtime from C under the driver.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/dsblock.h"
#include "source/runtime_messages.h"
#include "tests/driver/fake_model.h"

namespace drivertest {

struct Message {
  std::string text;
  int level;
};
// The messages of the running test, in order.
inline std::vector<Message> messages;

inline void captureMessage(const char *text, int, int level) { messages.push_back({text, level}); }

// One instance with its own arrays, evaluated through dsblockInstance_.
class DriverTest : public ::testing::Test {
protected:
  void SetUp() override {
    fakeModel.reset();
    messages.clear();
    setRuntimeMessageHook(&captureMessage);
    initInstanceData(&data);
    data.duser = DUSER;
    data.iuser = IUSER;
  }
  void TearDown() override {
    resetInstanceData(&data);
    setRuntimeMessageHook(nullptr);
  }

  int32_t call(int32_t request, ModelInstanceData *instance = nullptr) {
    int32_t req = request;
    QiErr = 0;
    dsblockInstance_(&req, &computedLevel, &time, X, nullptr, U, DP, nullptr, nullptr, F, Y, W, Z,
                     DUSER, IUSER, nullptr, instance != nullptr ? instance : &data, &QiErr);
    lastRequest = req;
    return QiErr;
  }

  // A fresh record per test; the record is large, so it lives on the heap.
  std::unique_ptr<ModelInstanceData> holder{new ModelInstanceData};
  ModelInstanceData &data = *holder;
  double time = 0.0;
  double X[1] = {0.0};
  double U[1] = {0.0};
  double DP[3] = {2.0, 0.1, 3.0};
  double F[1] = {0.0};
  double Y[2] = {0.0, 0.0};
  double W[2] = {0.0, 0.0};
  double Z[2] = {0.0, 0.0};
  double DUSER[kDuserSize] = {0.0, 1.0, 0.0, 0.0, 0.0, 0.0};
  int32_t IUSER[kIuserSize] = {};
  int32_t computedLevel = -1;
  int32_t QiErr = 0;
  int32_t lastRequest = 0;
};

// An instance past its initial call at a fixed time, whose equations run
// code of the test.
class EquationsTest : public DriverTest {
protected:
  explicit EquationsTest(double at) { time = at; }
  void SetUp() override {
    DriverTest::SetUp();
    ASSERT_EQ(call(kRequestInitial), kQiErrOk);
  }

  // One evaluation of the derivatives whose equations run body.
  int32_t evaluate(std::function<void()> body) {
    fakeModel.body = [body](FakeCall &) { body(); };
    return call(kRequestDerivatives);
  }
};

} // namespace drivertest
