#include "tests/driver/fake_model.h"

#include "source/dsblock5/model_interface.h"
#include "source/matrixop.h"

FakeModel fakeModel;

void fakeInitialSections(FakeCall &call) {
  if (call.instance->initial == 1) call.instance->needPass = 1;
}

void dsequations_(int32_t *request, int32_t *computedLevel, double *time, double *, void *,
                  double *, double *, int32_t *, int32_t *, double *, double *, double *, double *Z,
                  double *, int32_t *IUSER, char **, ModelInstanceData *d, int32_t *QiErr) {
  fakeModel.evaluations.push_back({*request, d->iteration, d->initial, d->eventFlag,
                                   d->parametersChanged, d->eventPhase, d->lambda, d->inHomotopy});
  FakeCall call{request, computedLevel, time, Z, IUSER, d, QiErr};
  if (fakeModel.body)
    fakeModel.body(call);
  else
    fakeInitialSections(call);
  endEvaluation();
  if (d->status != 0) *QiErr = d->status;
}

void dsrestarthook_(double *, double *, void *, double *, double *, int32_t *, int32_t *, double *,
                    double *, double *, double *, double *, int32_t *, char **,
                    ModelInstanceData *d, int32_t flag) {
  if (flag == 0) {
    fakeModel.restartLambdas.push_back(d->lambda);
    if (fakeModel.restartBody) fakeModel.restartBody(d);
  } else {
    ++fakeModel.initialRestarts;
  }
}

void dskernelsizes_(int32_t *nx, int32_t *dim2, int32_t *nu, int32_t *ny, int32_t *nw, int32_t *np,
                    int32_t *nstr, int32_t *nzpairs, int32_t *nrel, int32_t *dim10,
                    int32_t *dim11) {
  int32_t *const counts[] = {nx, dim2, nu, ny, nw, np, nstr, nzpairs, nrel, dim10, dim11};
  const int32_t values[] = {1, 0, 1, 2, 2, 3, 0, 0, 0, 0, 0};
  for (int k = 0; k < 11; ++k)
    if (counts[k] != nullptr) *counts[k] = values[k];
}
