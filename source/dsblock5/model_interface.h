#pragma once
// What the evaluation driver needs from a generated model: the equations,
// the size functions, the two hooks, the template record and the record of
// the arguments the equations share with the hooks.  A generated model
// defines every name declared here; the driver's tests define them with a
// scripted stand-in instead.
#include <cstdint>

#include "model/ModelInstanceData.h"

// The equations; the arguments are those of dsblockInstance_.
void dsequations_(int32_t *request, int32_t *computedLevel, double *time, double *X, void *reserved,
                  double *U, double *DP, int32_t *IP, int32_t *LP, double *F, double *Y, double *W,
                  double *Z, double *DUSER, int32_t *IUSER, char **strings,
                  ModelInstanceData *instance, int32_t *QiErr);

// Size functions: the first nine, eleven and all thirteen ModelDimensions
// counts, in order (null pointers are skipped).
void dsvarsizes_(int32_t *nx, int32_t *dim2, int32_t *nu, int32_t *ny, int32_t *nw, int32_t *np,
                 int32_t *nstr, int32_t *nzpairs, int32_t *nrel);
void dskernelsizes_(int32_t *nx, int32_t *dim2, int32_t *nu, int32_t *ny, int32_t *nw, int32_t *np,
                    int32_t *nstr, int32_t *nzpairs, int32_t *nrel, int32_t *dim10, int32_t *dim11);
void dsinstancesizes_(int32_t *nx, int32_t *dim2, int32_t *nu, int32_t *ny, int32_t *nw,
                      int32_t *np, int32_t *nstr, int32_t *nzpairs, int32_t *nrel, int32_t *dim10,
                      int32_t *dim11, int32_t *numExtra1, int32_t *numExtra2);

// Hooks: dsrestarthook_ announces a restart (flag 1) or a new homotopy
// parameter (flag 0); dssectionhook_ runs at the start of a section.
void dsrestarthook_(double *time, double *X, void *reserved, double *U, double *DP, int32_t *IP,
                    int32_t *LP, double *F, double *Y, double *W, double *Z, double *DUSER,
                    int32_t *IUSER, char **strings, ModelInstanceData *instance, int32_t flag);
void dssectionhook_(double *time, double *X, void *reserved, double *U, double *DP, int32_t *IP,
                    int32_t *LP, double *F, double *Y, double *W, double *Z, double *DUSER,
                    int32_t *IUSER, char **strings, ModelInstanceData *instance, int32_t section,
                    int32_t inlineStep);

// Clears sampleActive of every sample of the record.
void dsclearsamples_(ModelInstanceData *record);

// The template of every new record and the record dsblock_ evaluates.
extern ModelInstanceData defaultInstanceData;

// The arguments the equations share with the hooks, in their order, with
// the two hooks called on them.
struct ModelHookArgs {
  double *time;
  double *X;
  void *reserved;
  double *U;
  double *DP;
  int32_t *IP;
  int32_t *LP;
  double *F;
  double *Y;
  double *W;
  double *Z;
  double *DUSER;
  int32_t *IUSER;
  char **strings;
  ModelInstanceData *instance;

  void restartHook(int32_t flag) const {
    dsrestarthook_(time, X, reserved, U, DP, IP, LP, F, Y, W, Z, DUSER, IUSER, strings, instance,
                   flag);
  }
  void sectionHook(int32_t section, int32_t inlineStep) const {
    dssectionhook_(time, X, reserved, U, DP, IP, LP, F, Y, W, Z, DUSER, IUSER, strings, instance,
                   section, inlineStep);
  }
};
