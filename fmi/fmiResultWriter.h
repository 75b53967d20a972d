// The records of internal result generation (fmi/fmiResult.h): the
// instance's record with its ring of sample points, and the trajectory
// writer, with the parts that fmi/fmiResult.cpp, its tests and generated
// declarations call.
#pragma once

#include <atomic>
#include <cstdint>

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
