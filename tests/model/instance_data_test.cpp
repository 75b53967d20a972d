// The instance-data record: template, reset, accessors and String variables.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/delay.h"
#include "source/dsblock5/model_interface.h"
#include "source/matrixop.h"
#include "source/runtime_messages.h"

namespace {

std::vector<std::string> logged;

void captureMessage(const char *text, int, int) { logged.push_back(text); }

class InstanceDataTest : public ::testing::Test {
protected:
  void SetUp() override {
    logged.clear();
    setRuntimeMessageHook(&captureMessage);
    initInstanceData(&data);
  }
  void TearDown() override {
    resetInstanceData(&data);
    setRuntimeMessageHook(nullptr);
  }
  std::unique_ptr<ModelInstanceData> holder{new ModelInstanceData};
  ModelInstanceData &data = *holder;
};

TEST_F(InstanceDataTest, NewRecordHoldsExactlyTheTemplateValues) {
  // Every byte but the listed template values is 0.
  std::unique_ptr<ModelInstanceData> expected{new ModelInstanceData};
  std::memset(static_cast<void *>(expected.get()), 0, sizeof(ModelInstanceData));
  expected->fixedStepLastTime = 1e30;
  expected->unreadTimes[0] = 1.0;
  expected->unreadTimes[1] = 1.0;
  expected->unreadTimes[2] = -1e30;
  expected->lambda = 1.0;
  expected->lambdaStep = 0.1;
  expected->timeMarkers[0] = expected->timeMarkers[1] = -1e33;
  expected->reservedCount = 100000;
  EXPECT_EQ(std::memcmp(&data, expected.get(), sizeof(ModelInstanceData)), 0);
}

TEST_F(InstanceDataTest, InitClearsTheThreadsBindingAndCallState) {
  ThreadContext *context = getThreadContext();
  ASSERT_NE(context, nullptr);
  context->currentInstance = &data;
  context->externalCallState = 3;
  initInstanceData(&data);
  EXPECT_EQ(context->currentInstance, nullptr);
  EXPECT_EQ(context->externalCallState, 0);
  initInstanceData(nullptr); // nothing for null
}

TEST_F(InstanceDataTest, SizesAreThoseOfTheRecord) {
  void *record = nullptr;
  int32_t size = 0;
  getDefaultInstanceData(&record, &size);
  EXPECT_EQ(record, &defaultInstanceData);
  EXPECT_EQ(size, static_cast<int32_t>(sizeof(ModelInstanceData)));
  EXPECT_EQ(getInstanceDataSize(), static_cast<int32_t>(sizeof(ModelInstanceData)));
  getDefaultInstanceData(nullptr, nullptr);
  EXPECT_EQ(getExternalObjectSlotSize(), static_cast<int32_t>(sizeof(ExternalObjectSlot)));
  EXPECT_EQ(getExternalObjectCount(), 0);
}

TEST_F(InstanceDataTest, ResetClearsWorkAreasAndKeepsTheRest) {
  ASSERT_EQ(allocDelayBuffers(data.delayBuffers, 1, 16), 0);
  data.workArea[0] = data.workArea[kWorkAreaSize - 1] = 5.0;
  data.expressionCache[1] = 0.5;
  data.indicatorStore[9] = 2.0;
  data.relationFlags[0] = data.relationState[0] = data.relationWord = 1;
  data.timeMarkers[0] = data.tailMarker = data.tailMarkers[3] = 0.0;
  data.tailWords[2] = 7;
  data.lambda = 0.4;
  data.inHomotopy = 1;
  data.initCount = 3;
  data.eventPhase = 3;
  std::strcpy(data.resourcePath, "/tmp/res/");
  setStringVariable(&data, "kept", 0);

  resetInstanceData(&data);
  EXPECT_EQ(data.workArea[0], 0.0);
  EXPECT_EQ(data.workArea[kWorkAreaSize - 1], 0.0);
  EXPECT_EQ(data.expressionCache[1], 0.0);
  EXPECT_EQ(data.indicatorStore[9], 0.0);
  EXPECT_EQ(data.relationFlags[0] + data.relationState[0] + data.relationWord, 0);
  EXPECT_EQ(data.timeMarkers[0], -1e33);
  EXPECT_EQ(data.tailMarker, -1e33);
  EXPECT_EQ(data.tailMarkers[3], -1e33);
  EXPECT_EQ(data.tailWords[2], 0);
  EXPECT_EQ(data.delayBuffers[0].times, nullptr);
  EXPECT_EQ(data.delayBuffers[0].size, 0);
  EXPECT_EQ(data.lambda, 0.4);
  EXPECT_EQ(data.inHomotopy, 1);
  EXPECT_EQ(data.initCount, 3);
  EXPECT_EQ(data.eventPhase, 3);
  EXPECT_STREQ(data.resourcePath, "/tmp/res/");
  EXPECT_STREQ(getStringVariable(&data, 0), "kept");
  // Without rings there is nothing to free.
  resetInstanceData(&data);
  EXPECT_EQ(data.delayBuffers[0].times, nullptr);
}

TEST_F(InstanceDataTest, NewRecordNeverSharesTheTemplatesRings) {
  // The template gets rings once dsblock_ has evaluated it.
  ASSERT_EQ(allocDelayBuffers(defaultInstanceData.delayBuffers, 1, 16), 0);
  initInstanceData(&data);
  EXPECT_EQ(data.delayBuffers[0].times, nullptr);
  EXPECT_EQ(data.delayBuffers[0].values, nullptr);
  EXPECT_EQ(data.delayBuffers[0].size, 0);
  // Each record frees only its own block (a shared one would be freed twice).
  resetInstanceData(&data);
  EXPECT_NE(defaultInstanceData.delayBuffers[0].times, nullptr);
  resetDefaultInstanceData();
  EXPECT_EQ(defaultInstanceData.delayBuffers[0].times, nullptr);
}

TEST_F(InstanceDataTest, NullRecordAccessorsUseTheTemplate) {
  DelayBuffer *table = nullptr;
  int32_t count = 0;
  getDelayBuffers(nullptr, &table, &count);
  EXPECT_EQ(table, defaultInstanceData.delayBuffers);
  EXPECT_EQ(count, 1);
  getDelayBuffers(&data, &table, nullptr);
  EXPECT_EQ(table, data.delayBuffers);

  const int32_t saved = defaultInstanceData.eventPhase;
  setEventPhase(nullptr, 4);
  EXPECT_EQ(getEventPhase(nullptr), 4);
  EXPECT_EQ(defaultInstanceData.eventPhase, 4);
  defaultInstanceData.eventPhase = saved;

  int32_t blocks = -1;
  EXPECT_EQ(getProfilingTable(nullptr, &blocks), defaultInstanceData.profileBlocks);
  EXPECT_EQ(blocks, 0);
  EXPECT_EQ(getExternalObjectTable(nullptr), nullptr);
  EXPECT_EQ(getExternalObject(nullptr), nullptr);
  EXPECT_EQ(getExternalObjectTable(&data), data.externalObjects);
}

TEST_F(InstanceDataTest, JacobianMatricesAndStatus) {
  double a = 0, b = 0, c = 0, d = 0;
  int32_t status = 9;
  setJacobianMatricesStatus(&data, &a, &b, &c, &d, 1, 2, 3, 4, 5, 6, 7, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(data.jacobianStatusGiven, 1);
  EXPECT_EQ(data.jacobianA, &a);
  EXPECT_EQ(data.jacobianD, &d);
  const int32_t sizes[7] = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(std::memcmp(data.jacobianSizes, sizes, sizeof sizes), 0);
  setJacobianMatrices(&data, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(data.jacobianStatusGiven, 0);
  EXPECT_EQ(data.jacobianA, nullptr);
}

// ---------------------------------------------------------------------------
// String variables.
// ---------------------------------------------------------------------------

TEST_F(InstanceDataTest, StringChangesAreNoticedOnlyForNewValues) {
  struct Step {
    const char *value;
    int32_t changedBefore;
    int32_t changedAfter;
  };
  const Step steps[] = {
      {"abc", 0, 1}, // "" -> "abc"
      {"abc", 0, 0}, // same value
      {"abd", 0, 1},
      {"abd", 1, 1}, // stays set once set
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.value);
    data.stringsChanged = s.changedBefore;
    EXPECT_EQ(setStringVariable(&data, s.value, 0), static_cast<int32_t>(std::strlen(s.value)));
    EXPECT_EQ(data.stringsChanged, s.changedAfter);
    EXPECT_STREQ(getStringVariable(&data, 0), s.value);
  }
  EXPECT_TRUE(logged.empty());
}

TEST_F(InstanceDataTest, LongStringIsCutTo499Characters) {
  std::string value(600, 'x');
  value[498] = 'y';
  value[499] = 'z';
  EXPECT_EQ(setStringVariable(&data, value.c_str(), 0), 499);
  const std::string stored = getStringVariable(&data, 0);
  EXPECT_EQ(stored, value.substr(0, 499));
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0], "Truncated string variable to");
  EXPECT_EQ(logged[1], stored);
}

TEST_F(InstanceDataTest, StringIndexOutsideTheSlots) {
  EXPECT_STREQ(getStringVariable(&data, 1), "");
  EXPECT_STREQ(getStringVariable(&data, -1), "");
  for (int32_t index : {-1, 1}) {
    SCOPED_TRACE(index);
    logged.clear();
    EXPECT_EQ(setStringVariable(&data, "v", index), 0);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "Internal error in String handling.");
    EXPECT_EQ(data.stringsChanged, 0);
  }
}

TEST_F(InstanceDataTest, CopiedRecordUsesItsOwnStringStorage) {
  setStringVariable(&data, "original", 0);
  std::unique_ptr<ModelInstanceData> copy{new ModelInstanceData};
  std::memcpy(static_cast<void *>(copy.get()), &data, sizeof(ModelInstanceData));
  setStringVariable(copy.get(), "changed", 0);
  EXPECT_STREQ(getStringVariable(&data, 0), "original");
  EXPECT_STREQ(getStringVariable(copy.get(), 0), "changed");
  EXPECT_EQ(copy->stringPointers[0], copy->stringStorage[0]);
}

} // namespace

namespace {

struct TestStringArray {
  int ndims;
  int *dims;
  const char **data;
};

TEST_F(InstanceDataTest, StringArrayFillsTheSlotsFromItsStartOrIsRefused) {
  struct Case {
    const char *name;
    int32_t start;
    int size;
    const char *stored;
    const char *message;
  };
  const Case cases[] = {
      {"one element at slot 0", 0, 1, "first", nullptr},
      {"empty array", 0, 0, "", nullptr},
      {"negative start", -1, 1, "", "Internal error in String array handling."},
      {"beyond the slots", 0, 2, "", "Internal error in String array handling."},
      {"start past the last slot", 1, 1, "", "Internal error in String array handling."},
  };
  const char *elements[] = {"first", "second"};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    initInstanceData(&data);
    logged.clear();
    int dims[1] = {c.size};
    setStringArrayVariable(&data, TestStringArray{1, dims, elements}, c.start);
    EXPECT_STREQ(getStringVariable(&data, 0), c.stored);
    if (c.message == nullptr) {
      EXPECT_TRUE(logged.empty());
    } else {
      ASSERT_EQ(logged.size(), 1u);
      EXPECT_EQ(logged[0], c.message);
      EXPECT_EQ(data.stringsChanged, 0);
    }
  }
}

} // namespace
