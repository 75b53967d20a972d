// Entry points of the generated vessel model: the equations, the size
// functions, the start values, the settings, the hooks and the constant and
// stub functions every generated model carries.
//
// The equations are evaluated only through dsblockInstance_ (they expect the
// instance to be bound to the thread and the error path to be armed).
#pragma once

#include <cstdint>

#include "model/ModelInstanceData.h"
#include "source/dsblock5/model_interface.h"

// Ten further counts (no caller).
void dsextrasizes_(int32_t *c1, int32_t *c2, int32_t *c3, int32_t *c4, int32_t *c5, int32_t *c6,
                   int32_t *c7, int32_t *c8, int32_t *c9, int32_t *c10);
// Length and addresses of the three clear-lists, and 0 (no caller).
void dsclearlists_(int32_t *count, int32_t **list1, int32_t **list2, int32_t **list3,
                   int32_t *zero);
int32_t dsstructcount_(int32_t kind);
double dszerovalue_(void *ignored);

// Start values; each array only when its pointer is not null.  QiErr, mode
// and context are not touched.
void declare_(double *states, double *parameters, double *inputs, double *nominals,
              char **stringStarts, int32_t *QiErr, int32_t mode, void *resultContext);
void declareVariables_(double *states, double *parameters, double *inputs, char **stringStarts,
                       int32_t *QiErr, int32_t mode, void *resultContext);
void declareStart_(double *states, double *parameters, double *inputs, char **stringStarts,
                   int32_t *QiErr);

// Experiment settings written into the work arrays before initialization.
void dssettings_(double *DUSER, int32_t *IUSER);

void dsdefaultsectionhook_(double *time, double *X, void *reserved, double *U, double *DP,
                           int32_t *IP, int32_t *LP, double *F, double *Y, double *W, double *Z,
                           double *DUSER, int32_t *IUSER, char **strings, int32_t section,
                           int32_t initialValue, int32_t eventFlagValue, int32_t inlineStep);

void dsemptyhook_();
int32_t dszerohook_();

// The sparse direct linear solver is not part of this model: all return -1.
int32_t OdeSlsSetSparseJacFn(void *, ...);
int32_t OdeSlsGetNumJacEvals(void *, ...);
int32_t OdeSparse(void *, ...);

// Constant functions (no caller in this system).
int32_t dsconst01_();
int32_t dsconst02_();
int32_t dsconst03_();
int32_t dsconst04_();
int32_t dsconst05_();
int32_t dsconst06_();
int32_t dsconst07_();
double dsconst08_();
int32_t dsconst09_();
int32_t dsconst10_();
int32_t dsconst11_();
int32_t dsconst12_();
int32_t dsconst13_();
int32_t dsconst14_();
int32_t dsconst15_();
int32_t dsconst16_();
void dsprocedure1_();
void dsprocedure2_();
