// The instance record behind fmi2Component and the functions of the FMI
// layer that work on it.
//
// One record per instance, obtained zero-filled from the host's
// allocateMemory; every array it points to comes from the same allocator and
// goes back through freeMemory.  The host's callback record is valid only
// during fmi2Instantiate: the instance keeps its own copy (`callbacks`), and
// `functions` points to that copy, so every use reads it.  The same layout
// serves as the FMU state record (whose `functions` stays null).  Value arrays
// have one element more than their count, so that an empty category still
// has a valid array; the extra element is never addressed by a value
// reference.  What differs between the two kinds of instance goes through
// the constant table of its kind (`operations`), chosen at instantiation;
// like `functions`, `callbacks` and `thread` it is the instance's own, and
// neither an FMU state record (where it stays null), a copy nor an image
// holds it.
#pragma once

#include <cstdint>

#include "fmi/fmi2.h"

struct ModelInstanceData;
struct ThreadContext;
struct fmiThreadState;
struct fmiSolverData;
struct fmiResultGeneration;
struct bim_binary;

// State of an instance.
enum fmiModelState : int32_t {
  fmiStateInstantiated = 0,       // instantiated, or reset
  fmiStateInitializationMode = 1, // initialization mode
  fmiStateReserved = 2,           // never entered
  fmiStateEventMode = 3,          // event mode
  fmiStateEventIteration = 4,     // event mode, new discrete states needed
  fmiStateEventModeDone = 5,      // event iteration converged or terminated by the model
  fmiStateContinuousTimeMode = 6, // continuous-time mode (Co-Simulation: ready to step)
  fmiStateTerminated = 7,         // terminated
};

inline constexpr int kFmiPendingSize = 256;      // bytes of pendingText
inline constexpr int kFmiStringBufferSize = 501; // own buffer of one String variable
inline constexpr int kFmiDuserSize = 6;          // doubles of DUSER
inline constexpr int kFmiIuserSize = 14;         // int32 of IUSER

struct fmiInstance;

// The operations of one kind of instance: one constant table for Model
// Exchange (fmiModelExchangeOperations) and one for Co-Simulation
// (fmiCoSimulationOperations).
struct fmiKindOperations {
  fmi2Status (*terminate)(fmiInstance *instance); // the body of fmi2Terminate
  void (*freeSolver)(fmiInstance *instance); // releases the integrator it holds; null: never one
};

struct fmiInstance {
  double startTime;                       // start time from fmi2SetupExperiment
  int32_t stopTimeDefined;                // stop time given
  double stopTime;                        // stop time
  int32_t toleranceDefined;               // tolerance given (always 0 for Model Exchange)
  double tolerance;                       // relative tolerance (Co-Simulation only)
  int32_t fmuType;                        // 0 Model Exchange, 1 Co-Simulation
  char *instanceName;                     // own copy of the host's instance name
  int32_t loggingOn;                      // non-zero: messages of status fmi2OK are delivered
  uint32_t nx;                            // continuous states
  uint32_t nu;                            // inputs
  uint32_t ny;                            // outputs
  uint32_t nw;                            // auxiliary variables
  uint32_t np;                            // real parameters
  uint32_t nstr;                          // String variables
  uint32_t nz;                            // event indicators: two per relation
  uint32_t nExtra1;                       // length of the first extra value array
  uint32_t nExtra2;                       // length of the second extra value array
  double *x;                              // nx+1 continuous states
  double *p;                              // np+1 real parameters
  double *xdot;                           // nx+1 state derivatives
  double *u;                              // nu+1 inputs
  double *y;                              // ny+1 outputs
  double *w;                              // nw+1 auxiliary variables
  double *z;                              // nz+1 event indicators
  double *extra1;                         // nExtra1+1 values of the first extra array
  double *extra2;                         // nExtra2+1 values of the second extra array
  double *nominals;                       // nx+1 nominal values of the states
  char **strings;                         // nstr own 501-byte buffers, then a null entry
  char **stringStarts;                    // nstr start texts from declare_; made by the first reset
  double *xPrev;                          // nx+1 states before the last fmi2NewDiscreteStates
  const fmi2CallbackFunctions *functions; // the instance's callbacks (points to callbacks)
  double time;                            // independent variable
  int32_t computedLevel;                  // highest evaluation level valid for time, states, values
  char pendingText[kFmiPendingSize];      // text kept for the next logger message
  char *pendingEnd;                       // next free character of pendingText
  int32_t state;                          // fmiModelState
  int32_t terminatedByModel;              // the model ended the simulation (QiErr -999)
  int32_t resultGenerationOn;             // internal result generation active (never set)
  fmiResultGeneration *resultGeneration;  // internal result generation record
  double *duser;                          // DUSER: 6 doubles shared with the runtime
  int32_t *iuser;                         // IUSER: 14 int32 shared with the runtime
  double *evaluationDuser;                // DUSER handed to every evaluation (= duser)
  int32_t *evaluationIuser;               // IUSER handed to every evaluation (= iuser)
  fmiSolverData *solver;                  // Co-Simulation integrator record
  int32_t stateValid;                     // FMU state records: the record holds a snapshot
  int32_t valuesChanged;                  // a value was changed since the last evaluation
  int32_t lastNewDiscreteStatesNeeded;    // last event iteration needed new discrete states
  int32_t jacobianOutdated;               // values changed since the Jacobian was evaluated
  int32_t forceEvaluation;                // getters evaluate even when computedLevel suffices
  int32_t inputsChanged;                  // Co-Simulation: a value changed since the last step
  int32_t jacobianACapacity;              // allocated length of jacobianA
  int32_t jacobianBCapacity;              // allocated length of jacobianB
  int32_t jacobianCCapacity;              // allocated length of jacobianC
  int32_t jacobianDCapacity;              // allocated length of jacobianD
  double *jacobianA;                      // analytic Jacobian matrices
  double *jacobianB;
  double *jacobianC;
  double *jacobianD;
  uint32_t knownCapacity;   // allocated length of the known-variable arrays
  uint32_t unknownCapacity; // allocated length of the unknown arrays
  double *knownBase;        // known variables: unperturbed, plus and minus side
  double *knownPlus;
  double *knownMinus;
  double *unknownBase; // unknowns at the three points
  double *unknownPlus;
  double *unknownMinus;
  fmiInstance *derivativeState;       // snapshot for the directional derivative
  int32_t firstEvaluationInEventMode; // next evaluation is the first in event mode
  int32_t eventIterationUnderway;     // event-phase flag of event updating (never set)
  void **externalLibraryHandles;      // handles of the model's external libraries
  int32_t lastQiErr;                  // QiErr of the last evaluation
  ModelInstanceData *runtime;         // the instance's model data record
  uint64_t inlineStepCount;           // step counter of inline integration
  double nextOutputTime;              // next point of the internal result grid
  int32_t useStateInDerivative;       // directional derivative restores from a snapshot (never set)
  int32_t *booleanResetValues;        // values for the model's Boolean reset list
  bim_binary *runtimeImage;           // block descriptor of the ModelInstanceData in a state image
  double *delayImage;                 // FMU state records: scratch copy of the delay buffers
  int32_t noSolverReinit;             // last event iteration: integrator needs no re-initialisation
  fmi2CallbackFunctions callbacks;    // own copy of the host's callback record
  fmiThreadState *thread;             // the calling thread's layer record while an export runs
  const fmiKindOperations *operations; // the operations of the instance's kind
};

// ---- Messages to the host logger --------------------------------------------
// Every message of the layer goes through fmiLog with category "" and a status;
// messages of status fmi2OK are dropped while loggingOn is 0.  The logger
// receives the pending text followed by the formatted text (at most 1022
// characters together) with every '%' doubled, and no further arguments.
//
// Whether a message of status reaches the host at all.  fmiLog asks first;
// the traces of calls a host makes at every step ask before they call it, so
// that a message the host did not ask for costs no call and no formatting.
inline bool fmiLogDelivers(const fmiInstance *instance, fmi2Status status) {
  return status != fmi2OK || instance->loggingOn != 0;
}
void fmiLog(fmiInstance *instance, fmi2String instanceName, fmi2Status status, fmi2String category,
            const char *format, ...) __attribute__((format(printf, 5, 6)));
// Appends formatted text to the instance's pending text; text that does not
// fit empties the pending text.
void fmiAppendPending(fmiInstance *instance, fmi2String instanceName, fmi2Status status,
                      fmi2String category, const char *format, ...)
    __attribute__((format(printf, 5, 6)));
// The runtime's message hook: '#' doubled, level 0/1/other -> OK/Warning/Error,
// delivered for the instance under evaluation on the calling thread, dropped
// when there is none.
void fmiRuntimeMessage(const char *text, int emit, int level);

// ---- The calling thread ---------------------------------------------------------
// The export whose body runs on a thread: its instance and its name.
struct fmiCall {
  fmiInstance *instance;
  const char *name;
};

// The layer's record of the calling thread.  The guards of fmi/fmiGuarded.h
// look it up once per export, set its call and leave it in the export's
// instance (`thread`) while the body runs; the evaluations of the call reach
// it there, and through it the runtime's record of the thread, which is
// looked up at the first evaluation and kept until the export ends.  Each
// export puts back what it found, so nothing of a call outlives it, and a
// record is only ever reached from its own thread.
struct fmiThreadState {
  fmiCall call;            // the export under way; both null outside one
  fmiInstance *evaluating; // the instance whose evaluation runs; null outside one
  ThreadContext *runtime;  // the runtime's record during an export, once looked up; else null
};

// The calling thread's layer record (never null).
fmiThreadState *fmiThisThread();
// The record for work on instance: the one its export left in it, or else
// the calling thread's looked up.
inline fmiThreadState *fmiThreadOf(const fmiInstance *instance) {
  return instance->thread != nullptr ? instance->thread : fmiThisThread();
}
// The runtime's record of the thread of state (null when it cannot be had):
// looked up once per export, then kept in state until the export ends.
ThreadContext *fmiRuntimeRecord(fmiThreadState *state);
// The instance whose evaluation runs on the calling thread (null outside).
fmiInstance *fmiGetEvaluatingInstance();
void fmiSetEvaluatingInstance(fmiInstance *instance);

// Text of a library inside the unit (the serializer, the integrator) that
// has no instance of its own to report to: "<name>: <text>" to the logger of
// the export under way on the calling thread, dropped outside one.  Trailing
// line feeds of text are left out.
void fmiReportToCaller(fmi2Status status, const char *text);

// Installs, once per process, the hooks through which the serializer's and
// the integrator's reports reach the host's logger (fmiReportToCaller)
// instead of the process's standard output and error streams.
void fmiInstallReportHooks();

// A message through the host's callback record when there is no instance
// (fmi2Instantiate refusing its arguments); nothing when the record or its
// logger is null.
void fmiLogWithoutInstance(const fmi2CallbackFunctions *functions, fmi2String instanceName,
                           fmi2Status status, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// ---- Instances ----------------------------------------------------------------
// Creates a Model Exchange instance (fmuType 0, fmiModelExchangeOperations);
// null on failure, after
// "Instantiation failed" at fmi2Fatal.
fmiInstance *fmiInstantiateCommon(fmi2String instanceName, fmi2String fmuGUID,
                                  fmi2String fmuResourceLocation,
                                  const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                                  fmi2Boolean loggingOn);
// Releases the instance and everything it owns (null does nothing).
void fmiFreeModelInstance(fmiInstance *instance);
fmi2Status fmiReset(fmiInstance *instance);
fmi2Status fmiSetupExperiment(fmiInstance *instance, fmi2Boolean toleranceDefined, double tolerance,
                              double startTime, fmi2Boolean stopTimeDefined, double stopTime);

// ---- Evaluation, initialization, events, terminate ----------------------------
// Evaluates the model through dsblockInstance_; returns QiErr (0 for the success
// codes -995..-990).  name: function name for the failure message, or null.
// converged (optional): 1 when the event phase is 0 afterwards.
[[nodiscard]] int32_t fmiEvaluate(fmiInstance *instance, int32_t request, const char *name,
                                  int32_t *converged);
// True when the instance's values are what fmiEvaluate(request) would compute
// now, so that the evaluation can be left out: in continuous-time mode, with
// no event phase set, the computed level reaching request, the last
// evaluation successful and no parameter or String change (the change count)
// that the driver has not yet seen.  Everything that moves the time, the
// states or the inputs, or sets a value, lowers the computed level.
[[nodiscard]] bool fmiEvaluated(const fmiInstance *instance, int32_t request);
fmi2Status fmiInitialize(fmiInstance *instance);
fmi2Status fmiEnterInitializationModeME(fmiInstance *instance);
fmi2Status fmiExitInitialization(fmiInstance *instance, const char *name, int32_t target);
fmi2Status fmiEventUpdate(fmiInstance *instance, int32_t *terminated);
fmi2Status fmiTerminateME(fmiInstance *instance);
// The operations of a Model Exchange instance (fmiTerminateME; no integrator).
extern const fmiKindOperations fmiModelExchangeOperations;
// The body of fmi2Terminate: the terminate of the instance's kind.
fmi2Status fmiTerminate(fmiInstance *instance);
// The terminal section (request 7) through the same driver call as every
// evaluation, when the instance is initialized and neither failed nor was
// ended by the model; fmi2Error after "<name>: calling terminal section of
// dsblock_ failed, QiErr = %d", else fmi2OK.
fmi2Status fmiTerminalSection(fmiInstance *instance, const char *name);
// The error path of every failing function: terminates the instance (state 7);
// always fmi2Error.
fmi2Status fmiTerminateOnError(fmiInstance *instance);
void fmiProfilingReport(fmiInstance *instance);

// ---- Model Exchange bodies ----------------------------------------------------
fmi2Status fmiExitInitializationMode(fmiInstance *instance);
fmi2Status fmiEnterEventMode(fmiInstance *instance);
fmi2Status fmiNewDiscreteStates(fmiInstance *instance, fmi2EventInfo *eventInfo);
fmi2Status fmiEnterContinuousTimeMode(fmiInstance *instance);
fmi2Status fmiCompletedIntegratorStep(fmiInstance *instance,
                                      fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                      fmi2Boolean *enterEventMode,
                                      fmi2Boolean *terminateSimulation);
// The body of fmi2SetTime: its state checks, then fmiMoveTime.
fmi2Status fmiSetTime(fmiInstance *instance, double time);
// Moves the instance's time as an accepted fmi2SetTime does (time := t,
// computedLevel := 0, jacobianOutdated := 1, the "fmi2SetTime to %g" trace).
// The Co-Simulation step moves its time through it in every state the step
// runs in.
void fmiMoveTime(fmiInstance *instance, double time);
fmi2Status fmiSetContinuousStates(fmiInstance *instance, const double x[], size_t nx);
fmi2Status fmiGetDerivatives(fmiInstance *instance, double derivatives[], size_t nx);
fmi2Status fmiGetEventIndicators(fmiInstance *instance, double indicators[], size_t ni);
fmi2Status fmiGetContinuousStates(fmiInstance *instance, double x[], size_t nx);
fmi2Status fmiGetNominalsOfContinuousStates(fmiInstance *instance, double nominals[], size_t nx);

// ---- Variable access ------------------------------------------------------------
// Evaluates the initialization again as fmi2EnterInitializationMode does
// (computed level -1, event phase 2, request 0); returns QiErr (0 for the
// success codes).
[[nodiscard]] int32_t fmiEvaluateInitialization(fmiInstance *instance);
// In Initialization Mode after a value was set since the last evaluation:
// fmiEvaluateInitialization, after which the values follow what was set;
// a failure is logged as "<name>: dsblock_ failed, QiErr = %d" when name is
// given.  Otherwise nothing; 0.
[[nodiscard]] int32_t fmiRefreshInitialization(fmiInstance *instance, const char *name);
// Arrays may be null only when their count is 0 (the exports check).
fmi2Status fmiGetReal(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                      fmi2Real value[]);
fmi2Status fmiGetInteger(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                         fmi2Integer value[]);
fmi2Status fmiGetBoolean(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                         fmi2Boolean value[]);
fmi2Status fmiGetString(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                        fmi2String value[]);
fmi2Status fmiSetReal(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                      const fmi2Real value[]);
fmi2Status fmiSetInteger(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Integer value[]);
fmi2Status fmiSetBoolean(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Boolean value[]);
fmi2Status fmiSetString(fmiInstance *instance, const fmi2ValueReference vr[], size_t nvr,
                        const fmi2String value[]);

// ---- Co-Simulation hooks ----------------------------------------------------------
// The Co-Simulation side of instantiation, initialization, terminate and input
// setting, defined by the Co-Simulation driver (fmi/fmiCoSim.cpp, fmi/fmiSolver.cpp).
fmiInstance *fmiInstantiateCS(fmi2String instanceName, fmi2String fmuGUID,
                              fmi2String fmuResourceLocation,
                              const fmi2CallbackFunctions *functions, fmi2Boolean visible,
                              fmi2Boolean loggingOn);
fmi2Status fmiEnterInitializationModeCS(fmiInstance *instance, double tolerance, double startTime,
                                        int32_t stopTimeDefined, double stopTime);
fmi2Status fmiTerminateCS(fmiInstance *instance);
// The operations of a Co-Simulation instance (fmiTerminateCS; its
// integrator released with fmiFreeSolverData).
extern const fmiKindOperations fmiCoSimulationOperations;
