// The instance record behind fmi2Component, and the table of its kind's
// operations.  The functions that work on it are declared in the header of
// the file that defines them (fmi/fmiLog.h, fmi/fmiInstantiate.h,
// fmi/fmiEvaluate.h, fmi/fmiContinuous.h, fmi/fmiVariables.h, fmi/fmiCoSim.h
// and the others of fmi/).
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
