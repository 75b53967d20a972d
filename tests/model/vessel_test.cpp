// The vessel model evaluated through the driver.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"
#include "model/model.h"
#include "source/dsblock5/dsblock.h"
#include "source/runtime_messages.h"

namespace {

struct Message {
  std::string text;
  int level;
};
std::vector<Message> messages;

void captureMessage(const char *text, int, int level) { messages.push_back({text, level}); }

bool sawError(const std::string &text) {
  for (const Message &m : messages)
    if (m.level == 2 && m.text == text) return true;
  return false;
}

// One vessel instance with the start values of declare_ and the settings of
// dssettings_, as the FMI layer prepares it.
class VesselTest : public ::testing::Test {
protected:
  void SetUp() override {
    messages.clear();
    setRuntimeMessageHook(&captureMessage);
    initInstanceData(&data);
    declare_(X, DP, U, nominals, nullptr, &QiErr, 0, nullptr);
    dssettings_(DUSER, IUSER);
    data.duser = DUSER;
    data.iuser = IUSER;
  }
  void TearDown() override {
    resetInstanceData(&data);
    setRuntimeMessageHook(nullptr);
  }

  int32_t call(int32_t request) {
    int32_t req = request;
    QiErr = 0;
    dsblockInstance_(&req, &computedLevel, &time, X, nullptr, U, DP, nullptr, nullptr, F, Y, W, Z,
                     DUSER, IUSER, nullptr, &data, &QiErr);
    return QiErr;
  }
  // A setter of the FMI layer: the value changed, so must the change count.
  void parameterChanged() {
    IUSER[kIuserChangeCount] += 1;
    computedLevel = 0;
  }

  std::unique_ptr<ModelInstanceData> holder{new ModelInstanceData};
  ModelInstanceData &data = *holder;
  double time = 0.0;
  double X[1] = {-7.0};
  double U[1] = {-7.0};
  double DP[3] = {-7.0, -7.0, -7.0};
  double nominals[1] = {-7.0};
  double F[1] = {0.0};
  double Y[2] = {0.0, 0.0};
  double W[2] = {0.0, 0.0};
  double Z[1] = {0.0};
  double DUSER[kDuserSize] = {};
  int32_t IUSER[kIuserSize] = {};
  int32_t computedLevel = -1;
  int32_t QiErr = 0;
};

const double kOutflow = 0.1 * std::sqrt(58.86);

TEST_F(VesselTest, InitialCallWithDefaultParameters) {
  EXPECT_EQ(call(0), 0);
  EXPECT_DOUBLE_EQ(X[0], 3.0);
  EXPECT_DOUBLE_EQ(Y[0], 3.0);
  EXPECT_NEAR(Y[1], kOutflow, 1e-14);
  EXPECT_DOUBLE_EQ(W[0], 9.81);
  EXPECT_NEAR(F[0], -kOutflow / 2.0, 1e-14);
  EXPECT_EQ(W[1], F[0]);
  EXPECT_EQ(computedLevel, 0);
  EXPECT_EQ(data.initial, 1); // the pending initial flag is restored
  EXPECT_TRUE(messages.empty());
}

TEST_F(VesselTest, DerivativeFollowsStateAndInput) {
  ASSERT_EQ(call(0), 0);
  struct Case {
    double level;
    double inputRate;
  };
  const Case cases[] = {{0.0, 0.0}, {0.0, 1.0}, {1.0, 0.5}, {4.0, 0.2}};
  for (const Case &c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + ", inputRate " + std::to_string(c.inputRate));
    X[0] = c.level;
    U[0] = c.inputRate;
    computedLevel = 0;
    EXPECT_EQ(call(2), 0);
    const double outflow = 0.1 * std::sqrt(19.62 * c.level);
    EXPECT_NEAR(Y[1], outflow, 1e-14);
    EXPECT_EQ(Y[0], c.level);
    EXPECT_NEAR(F[0], (c.inputRate - outflow) / 2.0, 1e-14);
    EXPECT_EQ(W[1], F[0]);
    EXPECT_EQ(computedLevel, 2);
  }
}

TEST_F(VesselTest, NegativeLevelRaisesTheSqrtError) {
  ASSERT_EQ(call(0), 0);
  messages.clear();
  X[0] = -1e-12;
  computedLevel = 0;
  time = 0.5;
  EXPECT_EQ(call(1), 1);
  EXPECT_EQ(data.status, 1);
  EXPECT_TRUE(sawError("Error: The following error was detected at time: 0.5"));
  EXPECT_TRUE(sawError("\nModel error - sqrt (19.62*_StatesForOutputs.level) = sqrt "
                       "(-1.962e-11)\n"));
  // A later evaluation at a valid level succeeds again.
  X[0] = 1.0;
  EXPECT_EQ(call(1), 0);
}

TEST_F(VesselTest, NegativeInitialLevelRaisesTheSqrtErrorOfTheInitialValues) {
  DP[2] = -1.0;
  EXPECT_EQ(call(0), 1);
  EXPECT_TRUE(sawError("\nModel error - sqrt (19.62*initialLevel) = sqrt (-19.62)\n"));
}

TEST_F(VesselTest, ZeroVornSurfaceRaisesTheReciprocalError) {
  ASSERT_EQ(call(0), 0);
  messages.clear();
  DP[0] = 0.0;
  parameterChanged();
  EXPECT_EQ(call(2), 1);
  EXPECT_TRUE(sawError("\nModel error - division by zero: (1.0) / (vornSurface) = (1) / (0)\n"));
}

TEST_F(VesselTest, ZeroVornSurfaceAtTheInitialCallRaisesTheDivisionError) {
  DP[0] = 0.0;
  EXPECT_EQ(call(0), 1);
  EXPECT_TRUE(sawError("\nModel error - division by zero: "
                       "(inputRate-holeSurface*sqrt(19.62*_StatesForOutputs.level)) / "
                       "(vornSurface) = (-0.767203) / (0)\n"));
}

TEST_F(VesselTest, ReciprocalIsRecomputedOnlyAfterAParameterChange) {
  ASSERT_EQ(call(0), 0);
  DP[0] = 4.0; // changed without the change count: the cache still holds 1/2
  computedLevel = 0;
  ASSERT_EQ(call(2), 0);
  EXPECT_NEAR(F[0], -kOutflow / 2.0, 1e-14);
  parameterChanged();
  ASSERT_EQ(call(2), 0);
  EXPECT_NEAR(F[0], -kOutflow / 4.0, 1e-14);
}

TEST_F(VesselTest, ReachedLevelWithoutEventComputesNothing) {
  ASSERT_EQ(call(0), 0);
  ASSERT_EQ(call(1), 0);
  ASSERT_EQ(computedLevel, 1);
  X[0] = 2.0;
  Y[0] = Y[1] = F[0] = -1.0;
  EXPECT_EQ(call(1), 0);
  EXPECT_EQ(computedLevel, 1);
  EXPECT_EQ(Y[0], -1.0);
  EXPECT_EQ(Y[1], -1.0);
  EXPECT_EQ(F[0], -1.0);
}

TEST_F(VesselTest, PhaseMinusOneSuppressesTheLevelSections) {
  ASSERT_EQ(call(0), 0);
  X[0] = 2.0;
  Y[0] = Y[1] = F[0] = -1.0;
  data.eventPhase = -1;
  EXPECT_EQ(call(5), 0);
  EXPECT_EQ(Y[0], -1.0);
  EXPECT_EQ(F[0], -1.0);
  EXPECT_EQ(data.eventPhase, 0);
}

TEST_F(VesselTest, HomotopyIsNotTriedForAModelWithoutIt) {
  DP[2] = -1.0;
  EXPECT_EQ(call(0), 1);
  for (const Message &m : messages) EXPECT_NE(m.level, 0) << m.text;
  EXPECT_EQ(data.inHomotopy, 0);
}

// ---------------------------------------------------------------------------
// Sizes, start values, settings and constants.
// ---------------------------------------------------------------------------

TEST(VesselModel, SizeFunctionsReportTheModelDimensions) {
  ModelDimensions d;
  std::memset(&d, 0x55, sizeof d);
  dsinstancesizes_(&d.nx, &d.dim2, &d.nu, &d.ny, &d.nw, &d.np, &d.nstr, &d.nzpairs, &d.nrel,
                   &d.dim10, &d.dim11, &d.numExtra1, &d.numExtra2);
  const int32_t expected[13] = {1, 0, 1, 2, 2, 3, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(&d, expected, sizeof expected), 0);

  ModelDimensions k;
  std::memset(&k, 0x55, sizeof k);
  dskernelsizes_(&k.nx, &k.dim2, &k.nu, &k.ny, &k.nw, &k.np, &k.nstr, &k.nzpairs, &k.nrel, &k.dim10,
                 &k.dim11);
  EXPECT_EQ(std::memcmp(&k, expected, 11 * sizeof(int32_t)), 0);
  EXPECT_EQ(k.numExtra1, 0x55555555); // only eleven written

  ModelDimensions v;
  std::memset(&v, 0x55, sizeof v);
  dsvarsizes_(&v.nx, &v.dim2, &v.nu, &v.ny, &v.nw, &v.np, &v.nstr, &v.nzpairs, &v.nrel);
  EXPECT_EQ(std::memcmp(&v, expected, 9 * sizeof(int32_t)), 0);
  EXPECT_EQ(v.dim10, 0x55555555);

  int32_t extra[10];
  dsextrasizes_(&extra[0], &extra[1], &extra[2], &extra[3], &extra[4], &extra[5], &extra[6],
                &extra[7], &extra[8], &extra[9]);
  const int32_t expectedExtra[10] = {0, 0, 0, 0, 0, 2, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(extra, expectedExtra, sizeof extra), 0);
}

TEST(VesselModel, StructCountByKind) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 0}, {1, 0},  {2, 1}, {3, 1}, {4, 0},
                                               {5, 0}, {6, 15}, {7, 0}, {-1, 0}};
  for (auto [kind, count] : cases) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(dsstructcount_(kind), count);
  }
}

TEST(VesselModel, DeclareWritesStartValuesOnlyWhereGiven) {
  double X[1] = {9.0}, DP[3] = {9.0, 9.0, 9.0}, U[1] = {9.0}, N[1] = {9.0};
  int32_t QiErr = 42;
  declare_(X, DP, U, N, nullptr, &QiErr, 3, nullptr);
  EXPECT_EQ(DP[0], 2.0);
  EXPECT_EQ(DP[1], 0.1);
  EXPECT_EQ(DP[2], 3.0);
  EXPECT_EQ(X[0], 0.0);
  EXPECT_EQ(U[0], 0.0);
  EXPECT_EQ(N[0], 0.0);
  EXPECT_EQ(QiErr, 42);

  double P2[3] = {9.0, 9.0, 9.0};
  declare_(nullptr, P2, nullptr, nullptr, nullptr, nullptr, 0, nullptr);
  EXPECT_EQ(P2[2], 3.0);
  N[0] = 9.0;
  declareVariables_(X, DP, U, nullptr, &QiErr, 0, nullptr);
  EXPECT_EQ(N[0], 9.0);
}

TEST(VesselModel, SettingsWriteTheWorkArrays) {
  double DUSER[kDuserSize] = {5, 5, 5, 5, 5, 5};
  int32_t IUSER[kIuserSize];
  for (int32_t &v : IUSER) v = 5;
  dssettings_(DUSER, IUSER);
  const double expectedD[kDuserSize] = {0.0, 1.0, 5, 0.0, 0.0, 5};
  for (int k = 0; k < kDuserSize; ++k) EXPECT_EQ(DUSER[k], expectedD[k]) << k;
  for (int k = 0; k < kIuserSize; ++k) EXPECT_EQ(IUSER[k], k == kIuserInlineSetting ? 0 : 5) << k;
}

TEST(VesselModel, ConstantsAndStubs) {
  int32_t (*const ints[])() = {dsconst01_, dsconst02_, dsconst03_, dsconst04_,
                               dsconst05_, dsconst06_, dsconst07_};
  const int32_t intValues[] = {0, 1, 0, 0, 0, 0, 1};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(ints[k](), intValues[k]) << k;
  EXPECT_EQ(dsconst08_(), -1.0);
  int32_t (*const ones[])() = {dsconst09_, dsconst10_, dsconst11_, dsconst12_,
                               dsconst13_, dsconst14_, dsconst15_, dsconst16_};
  for (auto f : ones) EXPECT_EQ(f(), 1);
  EXPECT_EQ(OdeSparse(nullptr, 1, 1, 1), -1);
  EXPECT_EQ(OdeSlsSetSparseJacFn(nullptr, nullptr), -1);
  EXPECT_EQ(OdeSlsGetNumJacEvals(nullptr, nullptr), -1);
  EXPECT_EQ(dszerovalue_(nullptr), 0.0);
  EXPECT_EQ(dszerohook_(), 0);
}

TEST(VesselModel, DefaultSectionHookMakesTheCallWordNonNegative) {
  const struct {
    int32_t before;
    int32_t after;
  } cases[] = {{-5, 5}, {7, 7}, {0, 0}, {INT32_MIN, INT32_MAX}};
  const int32_t savedInitial = defaultInstanceData.initial;
  const int32_t savedEventFlag = defaultInstanceData.eventFlag;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.before);
    int32_t IUSER[kIuserSize] = {};
    IUSER[kIuserCallWord] = c.before;
    dsdefaultsectionhook_(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, IUSER, nullptr, 0, 1, 1, 0);
    EXPECT_EQ(IUSER[kIuserCallWord], c.after);
    EXPECT_EQ(defaultInstanceData.initial, 1);
    EXPECT_EQ(defaultInstanceData.eventFlag, 1);
  }
  defaultInstanceData.initial = savedInitial;
  defaultInstanceData.eventFlag = savedEventFlag;
}

} // namespace
