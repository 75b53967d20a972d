// Internal result generation: an instance writes its own simulation result
// into a trajectory file (matrix files, MAT version 4) in the current folder.
//
// Nothing in the unit sets `resultGenerationOn`, so in normal use none of
// this runs and no file is written; the FMI functions call the entries below
// at fixed places, and every entry does nothing unless the switch is on (and
// set-up succeeded).
//
// Sample points (time, p, x, xdot, y, u, w) are kept in a ring of up to 384
// points in host memory and written in blocks, so that points a host makes
// invalid by restoring an earlier FMU state can still be discarded.  Points
// are written in time order; a point at or before the last written one is
// dropped with a warning.
//
// Failures never end the process and never write to the standard streams:
// a failed set-up switches result generation off with a warning; a full ring
// whose extension fails keeps the points it has as its ring; a file that
// cannot be written further is reported once and then closed as it is.
//
// Memory: the record, the point records and their value arrays come from the
// host's allocateMemory; the trajectory and its matrices from the standard
// heap (the matrix files release them).  Threads: one instance at a time, as
// every FMI call; the counter that numbers file names is atomic.
#pragma once

#include <atomic>
#include <cstdint>

#include "fmi/fmiInstance.h"
#include "matfile/amat.h"

inline constexpr int32_t kFmiResultRingSize = 384; // points of the ring
inline constexpr int32_t kFmiResultBlock = 64;     // points allocated and written at a time
inline constexpr int32_t kFmiResultNameSize = 256; // bytes of a result file name

// Categories of the variables a point holds, in the order of its arrays.
enum fmiResultCategory : int32_t {
  fmiResultParameter = 0,  // p
  fmiResultState = 1,      // x
  fmiResultDerivative = 2, // xdot
  fmiResultOutput = 3,     // y
  fmiResultInput = 4,      // u
  fmiResultAuxiliary = 5,  // w
  fmiResultCategories = 6,
};

// One buffered sample point.
struct fmiResultPoint {
  double time;    // instance time of the point
  double *values; // np + 2*nx + ny + nu + nw copies, in category order (host memory)
};

// Writer modes (fmiResultWrite).
enum fmiResultMode : int32_t {
  fmiResultNothing = 0,
  fmiResultPrepare = 1,      // file name "dsres.mat", counts cleared, registration arrays
  fmiResultLayout = 2,       // trajectory, name/description/dataInfo, data_1 and data_2
  fmiResultRegisterTime = 3, // "Time" registered, registration cursors at the start
  fmiResultCheckCount = 4,   // registered count must equal the number of variables
  fmiResultFirstRow = 5,     // data_1 row 1 from the given time and arrays
  fmiResultOpen = 6,         // data_1 row 2 := second time; file opened, header written
  fmiResultStartRow = 7,     // data_2 row from the given time and arrays
  fmiResultPutRow = 8,       // data_2 row appended to the file
  fmiResultClose = 9,        // file closed, trajectory released
  fmiResultIdle = 10,
  fmiResultClear = 11, // writer cleared, selection bytes allocated (all 0)
};

// Results of fmiResultWrite and fmiResultRegister.
enum fmiResultStatus : int32_t {
  fmiResultDone = 0,
  fmiResultOutOfMemory = 1,   // "Out of memory"
  fmiResultCountMismatch = 2, // "Internal error": registrations and variables differ
  fmiResultNoFile = 3,        // "Result file path is NULL"
  fmiResultOpenFailed = 4,    // "Failed to open result %s" (reason in amatMessage)
  fmiResultWriteFailed = 5,   // a row could not be written (reason in amatMessage)
};

// The trajectory writer.  Variables are chosen by the per-category selection
// bytes (1: recorded; all 0 after fmiResultClear, and nothing in the unit
// sets them): selected parameters are constants (data_1), the other selected
// variables vary (data_2).  A generated model's declaration, run with the
// writer as its result context, names them through fmiResultRegister; rows
// are filled from the value arrays handed to modes 5 and 7.
struct fmiResultWriter {
  AtrajTrajectory trajectory;  // "name", "description", "dataInfo", "data_1", "data_2"
  const char *fileName;        // "dsres.mat", or the name built at set-up (not owned)
  AmatPutFile file;            // the open result file
  int32_t fileOpen;            // the file is open
  int32_t setUp;               // the trajectory is set up
  int32_t failed;              // a row could not be written: no further rows
  double openTime;             // time at which the file was opened
  int32_t rowCounter;          // 0 .. 10, advanced per row
  int32_t variables;           // Time plus the selected variables
  int32_t registered;          // variables registered so far
  int32_t constantCount;       // selected parameters
  int32_t varyingCount;        // selected variables of the other categories
  int32_t nextConstant;        // registration cursor: next column of data_1
  int32_t nextVarying;         // registration cursor: next column of data_2
  int32_t *registeredCategory; // per registered variable (after Time): its category
  int32_t *registeredIndex;    // ... its index in the category
  int32_t *registeredColumn;   // ... its column in data_1 or data_2
  const double *values[fmiResultCategories]; // value arrays of the row being filled
  uint8_t *selection[fmiResultCategories];   // one byte per variable of each category
  int32_t counts[fmiResultCategories];       // variables per category (dsvarsizes_)
  int32_t lastMode;                          // the last mode run
};

// The instance's record (`resultGeneration`), one host block.
struct fmiResultGeneration {
  fmiResultWriter writer;   // the trajectory writer
  double lastStoredTime;    // newest buffered point; -infinity when none
  double lastFlushedTime;   // newest written point; -infinity when none
  double lastWarnedTime;    // lastFlushedTime when the duplicate warning was last given
  fmiResultPoint *points;   // kFmiResultRingSize point records (host memory)
  int32_t allocatedPoints;  // points whose value arrays exist (a multiple of 64)
  int32_t ringSize;         // slots the ring runs over: 384, or the allocated points
                            // after a failed extension
  int32_t readIndex;        // oldest buffered point
  int32_t writeIndex;       // slot of the next point
  int32_t bufferedPoints;   // points buffered
  int32_t bufferFullWarned; // the buffer-full warning was given
  uint64_t gridCounter;     // output grid points passed (Co-Simulation)
  int32_t noPrior;          // noSetFMUStatePriorToCurrentPoint of the running fmi2DoStep
  char *fileName;           // the result file's name (host memory)
};

// ---- entries called by the FMI functions ---------------------------------------------
// Each does nothing unless resultGenerationOn is 1 and the record exists,
// except fmiResultSetup (called when the switch is on) and fmiResultFinish
// (whenever a record exists).

// Sets up result generation at the end of initialization: the record, the
// ring, the file name, the file with its header, and the first point.  A
// failure switches it off with "Failed to setup result generation, skipping it".
void fmiResultSetup(fmiInstance *instance);
// Stores the point at the instance time: kind 1 always (events, mode
// changes), kind 0 when the sampling rule asks for it.
void fmiResultStore(fmiInstance *instance, int32_t kind);
// Writes every buffered point to the file.
void fmiResultFlush(fmiInstance *instance);
// Offers a final point, writes everything, closes the file and releases the
// record (resultGeneration := null, the output grid ends).
void fmiResultFinish(fmiInstance *instance);

// Co-Simulation: fmi2DoStep's noSetFMUStatePriorToCurrentPoint for the step
// that starts.
void fmiResultBeginStep(fmiInstance *instance, fmi2Boolean noSetFMUStatePriorToCurrentPoint);
// Co-Simulation: fmiResultStore, then fmiResultFlush when the running step
// said no earlier FMU state will be restored.
void fmiResultSample(fmiInstance *instance, int32_t kind);
// Co-Simulation: after the integrator reached target without a step event:
// a point of kind 0 when target is the next output time but not the next
// time event (fmiResultSample).
void fmiResultOutputPoint(fmiInstance *instance, double target);
// Model Exchange fmi2CompletedIntegratorStep: store kind 0, then flush when
// no earlier FMU state will be restored.
void fmiResultCompletedStep(fmiInstance *instance, fmi2Boolean noSetFMUStatePriorToCurrentPoint);
// After an FMU state was restored: buffered points later than the restored
// time are discarded and the output grid follows the restored next output time.
void fmiResultRestored(fmiInstance *instance);

// ---- parts, for tests and generated declarations -------------------------------------

// The file name of an instance: instanceName with each of the characters
// space " ( ) * , . / : ; < = > ? [ \ ] | and every control character
// replaced by '_', then "_internal" ("dres_internal" for an empty name), the
// counter when it is not 1 and the instance has model data, and ".mat".  The
// name cannot leave the current folder.  False when it does not fit in
// kFmiResultNameSize bytes.
[[nodiscard]] bool fmiResultFileName(const char *instanceName, int32_t counter, bool hasModelData,
                                     char out[kFmiResultNameSize]);
// The process-wide count of set-ups that numbers the file names.
extern std::atomic<int32_t> fmiResultSetupCounter;

// Runs one writer mode (fmiResultMode) with the time, the second time and
// the value arrays the mode uses; an fmiResultStatus.
[[nodiscard]] int32_t fmiResultWrite(int32_t mode, fmiResultWriter *writer, double time,
                                     double time2, const double *p, const double *x,
                                     const double *xdot, const double *y, const double *u,
                                     const double *w);
// Registers variable `index` of `category` with its name and description; a
// variable that is not selected is ignored.  What a generated declaration
// calls for each of its variables, between modes 3 and 4.
[[nodiscard]] int32_t fmiResultRegister(fmiResultWriter *writer, int32_t category, int32_t index,
                                        const char *name, const char *description);
