/* FMI 2.0 types and functions, with the names, types and layout of the
 * standard's C interface: the platform types, the callback record, the event
 * record, the 44 function types and the 44 function declarations.
 *
 * Include this header from C or C++.  Inside the unit, FMI2_Export marks the
 * definitions that leave the shared library; a host that includes the header
 * only sees plain declarations (or uses the fmi2...TYPE function types with
 * dlsym). */
#ifndef FMI_FMI2_H
#define FMI_FMI2_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(FMI2_BUILDING_UNIT)
#define FMI2_Export __attribute__((visibility("default")))
#else
#define FMI2_Export
#endif

/* ---- Platform types ---------------------------------------------------- */

#define fmi2TypesPlatform "default"

typedef void *fmi2Component;            /* pointer to the instance record */
typedef void *fmi2ComponentEnvironment; /* the host's pointer, passed back to it */
typedef void *fmi2FMUstate;             /* pointer to a saved state */
typedef unsigned int fmi2ValueReference;
typedef double fmi2Real;
typedef int fmi2Integer;
typedef int fmi2Boolean;
typedef char fmi2Char;
typedef const fmi2Char *fmi2String;
typedef char fmi2Byte;

#define fmi2True 1
#define fmi2False 0

/* ---- Enumerations and records ------------------------------------------ */

#define fmi2Version "2.0"

typedef enum { fmi2OK, fmi2Warning, fmi2Discard, fmi2Error, fmi2Fatal, fmi2Pending } fmi2Status;

typedef enum { fmi2ModelExchange, fmi2CoSimulation } fmi2Type;

typedef enum {
  fmi2DoStepStatus,
  fmi2PendingStatus,
  fmi2LastSuccessfulTime,
  fmi2Terminated
} fmi2StatusKind;

typedef void (*fmi2CallbackLogger)(fmi2ComponentEnvironment, fmi2String instanceName, fmi2Status,
                                   fmi2String category, fmi2String message, ...);
typedef void *(*fmi2CallbackAllocateMemory)(size_t nobj, size_t size);
typedef void (*fmi2CallbackFreeMemory)(void *obj);
typedef void (*fmi2StepFinished)(fmi2ComponentEnvironment, fmi2Status);

typedef struct {
  const fmi2CallbackLogger logger;
  const fmi2CallbackAllocateMemory allocateMemory;
  const fmi2CallbackFreeMemory freeMemory;
  const fmi2StepFinished stepFinished;
  const fmi2ComponentEnvironment componentEnvironment;
} fmi2CallbackFunctions;

typedef struct {
  fmi2Boolean newDiscreteStatesNeeded;
  fmi2Boolean terminateSimulation;
  fmi2Boolean nominalsOfContinuousStatesChanged;
  fmi2Boolean valuesOfContinuousStatesChanged;
  fmi2Boolean nextEventTimeDefined;
  fmi2Real nextEventTime;
} fmi2EventInfo;

/* ---- Function types ---------------------------------------------------- */

/* Common to both kinds */
typedef const char *fmi2GetTypesPlatformTYPE(void);
typedef const char *fmi2GetVersionTYPE(void);
typedef fmi2Status fmi2SetDebugLoggingTYPE(fmi2Component, fmi2Boolean loggingOn, size_t nCategories,
                                           const fmi2String categories[]);
typedef fmi2Component fmi2InstantiateTYPE(fmi2String instanceName, fmi2Type fmuType,
                                          fmi2String fmuGUID, fmi2String fmuResourceLocation,
                                          const fmi2CallbackFunctions *functions,
                                          fmi2Boolean visible, fmi2Boolean loggingOn);
typedef void fmi2FreeInstanceTYPE(fmi2Component);
typedef fmi2Status fmi2SetupExperimentTYPE(fmi2Component, fmi2Boolean toleranceDefined,
                                           fmi2Real tolerance, fmi2Real startTime,
                                           fmi2Boolean stopTimeDefined, fmi2Real stopTime);
typedef fmi2Status fmi2EnterInitializationModeTYPE(fmi2Component);
typedef fmi2Status fmi2ExitInitializationModeTYPE(fmi2Component);
typedef fmi2Status fmi2TerminateTYPE(fmi2Component);
typedef fmi2Status fmi2ResetTYPE(fmi2Component);
typedef fmi2Status fmi2GetRealTYPE(fmi2Component, const fmi2ValueReference vr[], size_t nvr,
                                   fmi2Real value[]);
typedef fmi2Status fmi2GetIntegerTYPE(fmi2Component, const fmi2ValueReference vr[], size_t nvr,
                                      fmi2Integer value[]);
typedef fmi2Status fmi2GetBooleanTYPE(fmi2Component, const fmi2ValueReference vr[], size_t nvr,
                                      fmi2Boolean value[]);
typedef fmi2Status fmi2GetStringTYPE(fmi2Component, const fmi2ValueReference vr[], size_t nvr,
                                     fmi2String value[]);
typedef fmi2Status fmi2SetRealTYPE(fmi2Component, const fmi2ValueReference vr[], size_t nvr,
                                   const fmi2Real value[]);
typedef fmi2Status fmi2SetIntegerTYPE(fmi2Component, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Integer value[]);
typedef fmi2Status fmi2SetBooleanTYPE(fmi2Component, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Boolean value[]);
typedef fmi2Status fmi2SetStringTYPE(fmi2Component, const fmi2ValueReference vr[], size_t nvr,
                                     const fmi2String value[]);
typedef fmi2Status fmi2GetFMUstateTYPE(fmi2Component, fmi2FMUstate *);
typedef fmi2Status fmi2SetFMUstateTYPE(fmi2Component, fmi2FMUstate);
typedef fmi2Status fmi2FreeFMUstateTYPE(fmi2Component, fmi2FMUstate *);
typedef fmi2Status fmi2SerializedFMUstateSizeTYPE(fmi2Component, fmi2FMUstate, size_t *);
typedef fmi2Status fmi2SerializeFMUstateTYPE(fmi2Component, fmi2FMUstate, fmi2Byte[], size_t);
typedef fmi2Status fmi2DeSerializeFMUstateTYPE(fmi2Component, const fmi2Byte[], size_t,
                                               fmi2FMUstate *);
typedef fmi2Status
fmi2GetDirectionalDerivativeTYPE(fmi2Component, const fmi2ValueReference vUnknown_ref[],
                                 size_t nUnknown, const fmi2ValueReference vKnown_ref[],
                                 size_t nKnown, const fmi2Real dvKnown[], fmi2Real dvUnknown[]);

/* Model Exchange */
typedef fmi2Status fmi2EnterEventModeTYPE(fmi2Component);
typedef fmi2Status fmi2NewDiscreteStatesTYPE(fmi2Component, fmi2EventInfo *);
typedef fmi2Status fmi2EnterContinuousTimeModeTYPE(fmi2Component);
typedef fmi2Status fmi2CompletedIntegratorStepTYPE(fmi2Component,
                                                   fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                                   fmi2Boolean *enterEventMode,
                                                   fmi2Boolean *terminateSimulation);
typedef fmi2Status fmi2SetTimeTYPE(fmi2Component, fmi2Real);
typedef fmi2Status fmi2SetContinuousStatesTYPE(fmi2Component, const fmi2Real[], size_t);
typedef fmi2Status fmi2GetDerivativesTYPE(fmi2Component, fmi2Real[], size_t);
typedef fmi2Status fmi2GetEventIndicatorsTYPE(fmi2Component, fmi2Real[], size_t);
typedef fmi2Status fmi2GetContinuousStatesTYPE(fmi2Component, fmi2Real[], size_t);
typedef fmi2Status fmi2GetNominalsOfContinuousStatesTYPE(fmi2Component, fmi2Real[], size_t);

/* Co-Simulation */
typedef fmi2Status fmi2SetRealInputDerivativesTYPE(fmi2Component, const fmi2ValueReference[],
                                                   size_t, const fmi2Integer[], const fmi2Real[]);
typedef fmi2Status fmi2GetRealOutputDerivativesTYPE(fmi2Component, const fmi2ValueReference[],
                                                    size_t, const fmi2Integer[], fmi2Real[]);
typedef fmi2Status fmi2DoStepTYPE(fmi2Component, fmi2Real currentCommunicationPoint,
                                  fmi2Real communicationStepSize,
                                  fmi2Boolean noSetFMUStatePriorToCurrentPoint);
typedef fmi2Status fmi2CancelStepTYPE(fmi2Component);
typedef fmi2Status fmi2GetStatusTYPE(fmi2Component, const fmi2StatusKind, fmi2Status *);
typedef fmi2Status fmi2GetRealStatusTYPE(fmi2Component, const fmi2StatusKind, fmi2Real *);
typedef fmi2Status fmi2GetIntegerStatusTYPE(fmi2Component, const fmi2StatusKind, fmi2Integer *);
typedef fmi2Status fmi2GetBooleanStatusTYPE(fmi2Component, const fmi2StatusKind, fmi2Boolean *);
typedef fmi2Status fmi2GetStringStatusTYPE(fmi2Component, const fmi2StatusKind, fmi2String *);

/* ---- Function declarations --------------------------------------------- */

FMI2_Export fmi2GetTypesPlatformTYPE fmi2GetTypesPlatform;
FMI2_Export fmi2GetVersionTYPE fmi2GetVersion;
FMI2_Export fmi2SetDebugLoggingTYPE fmi2SetDebugLogging;
FMI2_Export fmi2InstantiateTYPE fmi2Instantiate;
FMI2_Export fmi2FreeInstanceTYPE fmi2FreeInstance;
FMI2_Export fmi2SetupExperimentTYPE fmi2SetupExperiment;
FMI2_Export fmi2EnterInitializationModeTYPE fmi2EnterInitializationMode;
FMI2_Export fmi2ExitInitializationModeTYPE fmi2ExitInitializationMode;
FMI2_Export fmi2TerminateTYPE fmi2Terminate;
FMI2_Export fmi2ResetTYPE fmi2Reset;
FMI2_Export fmi2GetRealTYPE fmi2GetReal;
FMI2_Export fmi2GetIntegerTYPE fmi2GetInteger;
FMI2_Export fmi2GetBooleanTYPE fmi2GetBoolean;
FMI2_Export fmi2GetStringTYPE fmi2GetString;
FMI2_Export fmi2SetRealTYPE fmi2SetReal;
FMI2_Export fmi2SetIntegerTYPE fmi2SetInteger;
FMI2_Export fmi2SetBooleanTYPE fmi2SetBoolean;
FMI2_Export fmi2SetStringTYPE fmi2SetString;
FMI2_Export fmi2GetFMUstateTYPE fmi2GetFMUstate;
FMI2_Export fmi2SetFMUstateTYPE fmi2SetFMUstate;
FMI2_Export fmi2FreeFMUstateTYPE fmi2FreeFMUstate;
FMI2_Export fmi2SerializedFMUstateSizeTYPE fmi2SerializedFMUstateSize;
FMI2_Export fmi2SerializeFMUstateTYPE fmi2SerializeFMUstate;
FMI2_Export fmi2DeSerializeFMUstateTYPE fmi2DeSerializeFMUstate;
FMI2_Export fmi2GetDirectionalDerivativeTYPE fmi2GetDirectionalDerivative;

FMI2_Export fmi2EnterEventModeTYPE fmi2EnterEventMode;
FMI2_Export fmi2NewDiscreteStatesTYPE fmi2NewDiscreteStates;
FMI2_Export fmi2EnterContinuousTimeModeTYPE fmi2EnterContinuousTimeMode;
FMI2_Export fmi2CompletedIntegratorStepTYPE fmi2CompletedIntegratorStep;
FMI2_Export fmi2SetTimeTYPE fmi2SetTime;
FMI2_Export fmi2SetContinuousStatesTYPE fmi2SetContinuousStates;
FMI2_Export fmi2GetDerivativesTYPE fmi2GetDerivatives;
FMI2_Export fmi2GetEventIndicatorsTYPE fmi2GetEventIndicators;
FMI2_Export fmi2GetContinuousStatesTYPE fmi2GetContinuousStates;
FMI2_Export fmi2GetNominalsOfContinuousStatesTYPE fmi2GetNominalsOfContinuousStates;

FMI2_Export fmi2SetRealInputDerivativesTYPE fmi2SetRealInputDerivatives;
FMI2_Export fmi2GetRealOutputDerivativesTYPE fmi2GetRealOutputDerivatives;
FMI2_Export fmi2DoStepTYPE fmi2DoStep;
FMI2_Export fmi2CancelStepTYPE fmi2CancelStep;
FMI2_Export fmi2GetStatusTYPE fmi2GetStatus;
FMI2_Export fmi2GetRealStatusTYPE fmi2GetRealStatus;
FMI2_Export fmi2GetIntegerStatusTYPE fmi2GetIntegerStatus;
FMI2_Export fmi2GetBooleanStatusTYPE fmi2GetBooleanStatus;
FMI2_Export fmi2GetStringStatusTYPE fmi2GetStringStatus;

#ifdef __cplusplus
}
#endif

#endif /* FMI_FMI2_H */
