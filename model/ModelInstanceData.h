// Per-instance data record of the generated vessel model, its static
// template, the work arrays DUSER/IUSER and the model's dimension counts.
//
// The record is one plain block: FMU states copy it whole and serialize it
// as one block of bytes, so its parts keep a fixed order, and arrays whose
// length follows from a model count have exactly that many entries (the
// relation arrays one more, entry 0 unused).  Only pointers to outside
// storage (work arrays, delay rings, Jacobian matrices, external objects)
// and the String pointers (addresses of the record's own slots) are not
// plain values.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Model counts that shape the record.
// ---------------------------------------------------------------------------
inline constexpr int32_t kModelRelations = 0;     // nrel
inline constexpr int32_t kModelDelaySlots = 1;    // delay rings in the record
inline constexpr int32_t kModelStringSlots = 1;   // String storage slots
inline constexpr int32_t kModelProfileBlocks = 1; // space for profiling entries
inline constexpr int32_t kModelProfileInUse = 0;  // profiling entries in use
inline constexpr int32_t kModelExternalSlots = 1; // space for external objects
inline constexpr int32_t kModelExternalInUse = 0; // external objects in use
inline constexpr int32_t kStringSlotSize = 500;   // bytes per String slot
inline constexpr int32_t kResourcePathSize = 1024;
inline constexpr int32_t kWorkAreaSize = 10000;
inline constexpr int32_t kReservedBlockSize = 100000;
inline constexpr int32_t kIndicatorStoreSize = 10;
inline constexpr int32_t kDuserSize = 6;
inline constexpr int32_t kIuserSize = 14;

// One ring of coordinate/value points for delays and spatial distributions.
// One heap block of 2*size doubles holds the coordinates followed by the
// values; a ring whose times is null has no storage.
struct DelayBuffer {
  double *times;   // size point coordinates (start of the heap block)
  double *values;  // size point values: times + size
  double scale;    // 1.0 after initialisation; copied, not otherwise read
  int32_t size;    // slots in the ring
  int32_t first;   // slot of the front point
  int32_t current; // search hint of the lookup
  int32_t last;    // slot of the back point
};

// One external object of the model and the function that destroys it.
struct ExternalObjectSlot {
  void *object;               // the object, null when none
  void (*destructor)(void *); // destroys the object, may be null
};

// One entry of the block-profiling table.
struct ProfileBlock {
  int32_t callCount; // number of calls of the block
  double maxTime;    // longest call, CPU seconds
  double minTime;    // shortest call, CPU seconds
  double totalTime;  // sum over all calls, CPU seconds
  const char *name;  // block name ("" after the initial call)
};

// The instance data record.  Field order is the record's layout.
struct ModelInstanceData {
  // header
  double *duser;             // the instance's DUSER (set at instantiation)
  int32_t *iuser;            // the instance's IUSER
  int32_t eventPhase;        // event-iteration phase of the driver
  int32_t eventThisCall;     // the current call handles an event
  int32_t inlineIntegration; // inline integration on
  int32_t busy;              // re-entrance guard of dsblockInstance_

  // delays
  DelayBuffer delayBuffers[kModelDelaySlots]; // one ring per delay slot

  // equations
  double expressionCache[2]; // [0] outflow root, [1] 1/vornSurface

  // time
  double time;                // time of the current call
  double initialTime;         // time of the last initial call
  double fixedStepLastTime;   // time of the last event call (fixed-step)
  double fixedStepSize;       // first time advance, the fixed step h
  double fixedStepScaledSize; // step of the coming interval after scaling
  double unreadTimes[3];      // not read by this system (1.0, 1.0, -1e30)

  // event iteration
  int32_t eventFlag;           // the current call is an event call
  int32_t relationChanged;     // set by generated code when a relation changed
  int32_t iteration;           // pass counter
  int32_t iterationLimit;      // 25 from the first initial call on
  double initialEpsilon;       // 1e-10 from the first initial call on; unread
  int32_t initialSeen;         // set to 1 by every initial call; unread
  int32_t initialCallPending;  // restored into initial at the end of passes
  int32_t initCount;           // number of initial calls
  int32_t homotopyStepReduced; // an evaluation after a reduced homotopy step
  int32_t status;              // status of the current call
  int32_t repeatPass;          // generated code asks for another pass at once

  // homotopy
  double lambda;         // homotopy parameter
  double lastGoodLambda; // last accepted parameter
  double lambdaStep;     // step of the parameter
  int32_t usesHomotopy;  // the equations use the homotopy operator
  int32_t inHomotopy;    // the global homotopy method is under way

  // markers
  double timeMarkers[2]; // unset markers (-1e33)

  // profiling
  ProfileBlock profileBlocks[kModelProfileBlocks]; // profiling table
  int32_t profileBlockCount;                       // entries in use

  // reserved
  double reservedBlock[kReservedBlockSize]; // not read or written
  double reservedValue;                     // not read or written
  int32_t reservedCount;                    // 100000; not read or written
  double delayValues[2][kModelDelaySlots];  // cleared by every initial call
  double workArea[kWorkAreaSize];           // cleared by resetInstanceData

  // relations and samples
  int32_t relationWord;                       // cleared by resetInstanceData
  int32_t relationFlags[kModelRelations + 1]; // flag per relation; [0] unused
  int32_t homotopyTriedAt;                    // initCount at the last start
  int32_t relationState[kModelRelations + 1]; // bits per relation; [0] unused
  double indicatorStore[kIndicatorStoreSize]; // storedIndicators (2*nrel) ...

  // flags
  int32_t initial;               // the current call is an initial call
  int32_t needPass;              // another pass is needed
  int32_t stringsChanged;        // a String variable received a new value
  int32_t changeFlags[2];        // cleared with stringsChanged; unused
  int32_t keepParametersChanged; // keep parametersChanged into the next pass
  int32_t parametersChanged;     // the change count moved since the last call

  // external objects
  ExternalObjectSlot externalObjects[kModelExternalSlots]; // object slots
  int32_t lastChangeCount;                                 // IUSER[8] at the last call
  int32_t eventCount;                                      // event passes so far
  int32_t perturbation;                                    // a directional-derivative perturbation

  // Jacobian
  double *jacobianA; // matrices of a linearization
  double *jacobianB;
  double *jacobianC;
  double *jacobianD;
  int32_t jacobianSizes[7];    // their dimensions, in the order given
  int32_t jacobianStatusGiven; // 1 when a status pointer was given

  // strings (the two extra value arrays have no entries in this model)
  char stringStorage[kModelStringSlots][kStringSlotSize]; // String slots
  char *stringPointers[kModelStringSlots];                // address of each own slot

  // tail
  double tailMarker;                    // set to -1e33 like the other markers
  int32_t sectionFlag;                  // result of the last section test
  double initialTolerance;              // 1e-4 from the first initial call on; unread
  double tailMarkers[4];                // set to -1e33 like the other markers
  int32_t tailWords[3];                 // cleared by initial calls and reset
  int32_t initialWord;                  // cleared by every initial call
  char resourcePath[kResourcePathSize]; // the instance's resources folder
};

// The first 2*nrel values of the indicator store.
inline double *storedIndicators(ModelInstanceData *record) { return record->indicatorStore; }

// The thirteen counts of the generated model, in the order the size
// functions report them.
struct ModelDimensions {
  int32_t nx;        // states
  int32_t dim2;      // not used by this model
  int32_t nu;        // inputs
  int32_t ny;        // outputs
  int32_t nw;        // auxiliary variables
  int32_t np;        // real parameters
  int32_t nstr;      // String variables
  int32_t nzpairs;   // relations seen by the fixed-step event approach
  int32_t nrel;      // relations; event indicators are 2*nrel
  int32_t dim10;     // not used by this model
  int32_t dim11;     // not used by this model
  int32_t numExtra1; // length of the first extra value array
  int32_t numExtra2; // length of the second extra value array
};

// ---------------------------------------------------------------------------
// DUSER / IUSER indexes.
// ---------------------------------------------------------------------------
enum DuserIndex : int {
  kDuserFixedStep = 0,
  kDuserStepScale = 1,
  kDuserNextTimeEvent = 2,
  kDuserTimeScale = 3,
  kDuserOutputInterval = 4,
  kDuserEarliestCandidate = 5,
};

enum IuserIndex : int {
  kIuserFixedStepMode = 0,
  kIuserOptions = 1,
  kIuserDerivativeEvaluation = 3,
  kIuserIntegratorWord = 4,
  kIuserInlineSetting = 5,
  kIuserStepEvent = 6,
  kIuserChangeCount = 8,
  kIuserEventFlag = 9,
  kIuserCountInitialChanges = 10,
  kIuserCallWord = 12,
  kIuserInitialWord = 13,
};

// Bits of IUSER[1].
inline constexpr int32_t kOptionLogEvents = 2;
inline constexpr int32_t kOptionLogInitialEvents = 4;
inline constexpr int32_t kOptionQuiet = 0x400;

// ---------------------------------------------------------------------------
// The template and the accessors.  Accessors from getEventPhase to
// copyExtraArraysOut and getDelayBuffers use defaultInstanceData when given
// a null record.
// ---------------------------------------------------------------------------
// Copies the template over the record and clears the calling thread's
// externalCallState and currentInstance; nothing for null.  The record's
// delay rings start empty: it never shares the template's ring blocks.
void initInstanceData(ModelInstanceData *record);
// Clears the work and indicator areas, resets the markers, destroys the
// external objects and frees the delay rings (record must not be null).
void resetInstanceData(ModelInstanceData *record);
void resetDefaultInstanceData();
// What of resetInstanceData outlives a record that is released next: the
// external objects are destroyed and the delay rings freed; its areas are
// not cleared (the clearing would only make their pages resident).
void releaseInstanceData(ModelInstanceData *record);

int32_t getEventPhase(ModelInstanceData *record);
void setEventPhase(ModelInstanceData *record, int32_t value);
int32_t getEventThisCall(ModelInstanceData *record);
void setInlineIntegration(ModelInstanceData *record, int32_t value);
void setPerturbationFlag(ModelInstanceData *record, int32_t value);
// initialTime of the instance bound to the calling thread.
double getInitialTime();

void setJacobianMatricesStatus(ModelInstanceData *record, double *A, double *B, double *C,
                               double *D, int32_t n1, int32_t n2, int32_t n3, int32_t n4,
                               int32_t n5, int32_t n6, int32_t n7, int32_t *status);
void setJacobianMatrices(ModelInstanceData *record, double *A, double *B, double *C, double *D,
                         int32_t n1, int32_t n2, int32_t n3, int32_t n4, int32_t n5, int32_t n6,
                         int32_t n7);
// Address of the profiling table; *count := entries in use when given.
ProfileBlock *getProfilingTable(ModelInstanceData *record, int32_t *count);
// Copy the FMI layer's two extra value arrays in and out (no entries here).
void copyExtraArraysIn(ModelInstanceData *record, const double *extra1, const double *extra2);
void copyExtraArraysOut(ModelInstanceData *record, double *extra1, double *extra2);

// *record := &defaultInstanceData, *size := the record size, each when given.
void getDefaultInstanceData(void **record, int32_t *size);
int32_t getInstanceDataSize();

ExternalObjectSlot *getExternalObjectTable(ModelInstanceData *record);
void *getExternalObject(ModelInstanceData *record);
int32_t getExternalObjectCount();
// Size in bytes of one external-object slot (two pointers).
int32_t getExternalObjectSlotSize();
// Forgets the objects in use without destroying them.
void clearExternalObjects(ModelInstanceData *record);

// *table := the record's delay rings, *count := their number, each when given.
void getDelayBuffers(ModelInstanceData *record, DelayBuffer **table, int32_t *count);

// String variables: each record uses its own storage slots.
int32_t initStringVariables(ModelInstanceData *record);
// Stores at most 499 characters; returns the length stored (0 after an
// index error, which is logged and changes nothing).
int32_t setStringVariable(ModelInstanceData *record, const char *value, int32_t index);
// The text of slot index, "" for an index outside the slots.
const char *getStringVariable(ModelInstanceData *record, int32_t index);

// Logs the index error of setStringArrayVariable.
void reportStringArrayIndexError();

// Stores the elements of a String array (any record with ndims, dims and
// data, row-major) into the slots from start on, in order.  A range that
// does not lie within the slots is logged and changes nothing.
template <class StringArrayRecord>
void setStringArrayVariable(ModelInstanceData *record, StringArrayRecord value, int32_t start) {
  // The element count, capped once it exceeds the slots (so the product of
  // the sizes cannot overflow).
  long long count = 1;
  for (int k = 0; k < value.ndims; ++k) {
    const long long size = value.dims[k];
    count = size <= 0 ? 0 : count * size;
    if (count > kModelStringSlots) count = kModelStringSlots + 1LL;
  }
  if (start < 0 || start + count > kModelStringSlots) {
    reportStringArrayIndexError();
    return;
  }
  for (long long i = 0; i < count; ++i)
    setStringVariable(record, value.data[i], start + static_cast<int32_t>(i));
}

// ---------------------------------------------------------------------------
// The record's parts by what they hold.  Two regions hold nothing: the
// reserved block with the double after it, which no code reads or writes,
// and the work area, which is only ever cleared.  Every record lives in
// zero-filled memory (the host's allocateMemory, or the template's static
// storage) and nothing writes anything but zeros there, so both regions are
// zero in every record: a new record need not be filled there and a copy
// need not carry them.  They are 880,008 of the record's 882,160 bytes.
// ---------------------------------------------------------------------------
struct InstanceDataRange {
  std::size_t offset; // first byte
  std::size_t size;   // number of bytes
};

// The parts that hold values, in record order: everything but the two
// regions above.
inline constexpr InstanceDataRange kInstanceDataLiveRanges[] = {
    {0, offsetof(ModelInstanceData, reservedBlock)},
    {offsetof(ModelInstanceData, reservedCount),
     offsetof(ModelInstanceData, workArea) - offsetof(ModelInstanceData, reservedCount)},
    {offsetof(ModelInstanceData, relationWord),
     sizeof(ModelInstanceData) - offsetof(ModelInstanceData, relationWord)},
};

// The parts that one record's state gives another: the live parts without
// the resources folder (the record's last field), which stays each record's
// own.
inline constexpr InstanceDataRange kInstanceDataStateRanges[] = {
    kInstanceDataLiveRanges[0],
    kInstanceDataLiveRanges[1],
    {offsetof(ModelInstanceData, relationWord),
     offsetof(ModelInstanceData, resourcePath) - offsetof(ModelInstanceData, relationWord)},
};

// initInstanceData for a record in zero-filled memory: the same record,
// written only in its live parts (nothing for null).
void initZeroedInstanceData(ModelInstanceData *record);

// Copies the state parts of source into destination (every byte of
// kInstanceDataStateRanges, addresses included: the caller binds them).
void copyInstanceDataState(ModelInstanceData *destination, const ModelInstanceData &source);

// The fields of a record that hold addresses of this process: the work
// arrays, the ring blocks, the profiling names, the external objects with
// their destructors, the Jacobian matrices and the String pointers.
struct InstanceDataAddresses {
  double *duser;
  int32_t *iuser;
  double *ringTimes[kModelDelaySlots];
  double *ringValues[kModelDelaySlots];
  const char *profileNames[kModelProfileBlocks];
  ExternalObjectSlot externalObjects[kModelExternalSlots];
  double *jacobian[4];
  char *stringPointers[kModelStringSlots];
};

// Moves every address field of record into *saved and sets it to null, so
// that the record's bytes depend on its values alone (an image written from
// it is the same in every process).  restoreInstanceDataAddresses puts them
// back; nothing may use the record in between.
void takeInstanceDataAddresses(ModelInstanceData *record, InstanceDataAddresses *saved);
void restoreInstanceDataAddresses(ModelInstanceData *record, const InstanceDataAddresses &saved);

// Generated query without a caller: *out := 0 when given.
void dsqueryzero_(int32_t *out);
