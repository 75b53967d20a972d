// A scripted stand-in for the generated model's equation function, linked
// into the driver tests instead of the real model.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "model/ModelInstanceData.h"

// The arguments of one evaluation as the fake receives them.
struct FakeCall {
  int32_t *request;
  int32_t *computedLevel;
  double *time;
  double *Z;
  int32_t *IUSER;
  ModelInstanceData *instance;
  int32_t *QiErr;
};

// What the driver's state was when the equations were entered.
struct FakeEvaluation {
  int32_t request;
  int32_t iteration;
  int32_t initial;
  int32_t eventFlag;
  int32_t parametersChanged;
  int32_t eventPhase;
  double lambda;
  int32_t inHomotopy;
};

struct FakeModel {
  // Runs once per evaluation; may raise a model error or set QiErr.  When
  // empty, the fake acts like a model without relations: initial sections
  // ask for another pass.
  std::function<void(FakeCall &)> body;
  std::vector<FakeEvaluation> evaluations;
  // Runs at each dsrestarthook_(.., 0); may raise a model error.
  std::function<void(ModelInstanceData *)> restartBody;
  std::vector<double> restartLambdas; // lambda at each dsrestarthook_(.., 0)
  int32_t initialRestarts = 0;        // dsrestarthook_(.., 1) calls

  void reset() { *this = FakeModel{}; }
};

extern FakeModel fakeModel;

// The part of the real model's initial sections the driver relies on.
void fakeInitialSections(FakeCall &call);
