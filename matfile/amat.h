#pragma once
// Matrix files and trajectories.
//
// A matrix file holds a sequence of named two-dimensional matrices of int32,
// float32, float64 or text.  It is either binary, in the MAT version 4 layout
// (little-endian, a 20-byte header and the name before each matrix; with
// binTrans the stored matrix is the transpose, so that rows are contiguous and
// can be appended), or text ("#1" and then a declaration line and the values
// of each matrix).  Either may begin with a class matrix "Aclass" (class name,
// version, description and, in binary files, "binTrans" or "binNormal").
//
// Every operation returns an int32 result code and never raises; a failure
// leaves its text in amatMessage.  Numbers of text files are written and read
// in the "C" locale.  Nothing is written to the standard streams, except the
// matrices of a file that amatPutOpen opened on standard output on request.
//
// Files are untrusted input: every count read from a file is computed in 64
// bits and refused when it exceeds what the file still holds, before
// anything is allocated, so no bytes make a reader crash, hang or allocate far
// beyond the file's size.
//
// Memory: everything this module hands out comes from the standard heap
// (malloc/calloc, released with free); matrices that a caller passes in for
// release (amatFreeMatrix, atrajFree, atrajPutClose) must come from there too.
//
// Threads: a file record and its matrices belong to one thread at a time.
// amatMessage is kept per thread (each thread sees the text of its own last
// failure); the stop hook is one process-wide setting read atomically.

#include <cstdint>
#include <cstdio>

// Matrix types (AmatMatrix::type); the names are those printed in messages.
enum AmatMatrixType : int32_t {
  voidMatrix = 0,      // as a request: the type found on file
  integerMatrix = 1,   // int32, one column-major block (i + j*nrow)
  realMatrix = 2,      // float32, as integerMatrix
  doubleMatrix = 3,    // float64, as integerMatrix
  charMatrix = 4,      // char*[nrow], NUL-terminated rows (null: empty row)
  realRowMatrix = 5,   // float*[rowCapacity], row i holds ncol float32
  doubleRowMatrix = 6, // double*[rowCapacity], row i holds ncol float64
};

// Storage order of binary matrices.
enum AmatStorage : int32_t {
  binNormal = 0, // the matrix itself, column-major (MAT version 4)
  binTrans = 1,  // its transpose: rows contiguous
};

// Size of amatMessage, terminator included.
constexpr int AMAT_MESSAGE_SIZE = 1500;

// The text of the calling thread's last failure of any matrix-file or
// trajectory operation; "No message." until the first one.
extern thread_local char amatMessage[AMAT_MESSAGE_SIZE];

// Called before each row while row matrices are allocated and while float32
// rows are read from binTrans files; a non-zero answer stops the read.
using AmatStopHook = int32_t (*)();
// Installs the process-wide stop hook (null: none, the initial state) and
// returns the previous one.
AmatStopHook amatSetStopHook(AmatStopHook hook);

// A matrix.
struct AmatMatrix {
  char *name;          // NUL-terminated name
  int32_t nrow;        // rows
  int32_t ncol;        // columns (charMatrix: the longest row)
  int32_t type;        // AmatMatrixType
  void *data;          // elements, laid out by type
  int32_t rowCapacity; // row matrices: slots of the row-pointer array
  int32_t firstRow;    // row matrices: rows already read (incremental refresh)
};

// A matrix file opened for reading.
struct AmatGetFile {
  char *fileName;         // copy of the path
  std::FILE *fp;          // the open stream
  int32_t format;         // 0 text, 1 binary
  int32_t bstruct;        // AmatStorage of the binary matrices
  AmatMatrix classMatrix; // class matrix read at open (name not owned)
  AmatMatrix current;     // header of the matrix being read
};

// A matrix file opened for writing.
struct AmatPutFile {
  char *fileName;           // copy of the path; null for standard output
  std::FILE *fp;            // the stream
  int32_t format;           // 0 text, 1 binary
  int32_t bstruct;          // AmatStorage
  int32_t isFile;           // 1: amatPutOpen opened a file; 0: standard output
  int32_t header[5];        // binary header last written (type, mrows, ncols, imagf, namlen)
  char *rowName;            // name of the matrix written row by row; null when none
  std::fpos_t rowHeaderPos; // position of its header (binary) or dimensions (text)
  int32_t rowType;          // realMatrix or doubleMatrix
  int32_t rowNcol;          // values per row
  int32_t rowCount;         // rows written so far (text; binary counts in header[2])
};

// A trajectory: signals over an abscissa, as the matrices "name",
// "description", "dataInfo" and "data_1" .. "data_<nData>".
struct AtrajTrajectory {
  char *classDescription; // description row of the class matrix (owned; null: " ")
  int32_t nData;          // number of data matrices
  AmatMatrix name;        // charMatrix, one signal name per row
  AmatMatrix description; // charMatrix, one description per row
  AmatMatrix info;        // integerMatrix nSignals x 4 (matrix j, column k, interp., extrap.)
  AmatMatrix *data;       // nData data matrices, all of the type chosen at set-up
};

// ---- matrix records ---------------------------------------------------------

// All fields zero (no name, no data, voidMatrix).  A null record is ignored.
void amatInitMatrix(AmatMatrix *m);
// Stores the values and pointers as given (nothing is copied); rowCapacity and
// firstRow 0.  A null record is ignored.
void amatSetMatrix(const char *name, int nrow, int ncol, int type, void *data, AmatMatrix *m);
// Frees name, data and (charMatrix, row matrices) the nrow rows, then zeroes
// the record.  A caller whose record holds a name of its own clears it first.
void amatFreeMatrix(AmatMatrix *m);
// Frees rows 0 .. n-1 (null entries allowed, each set null), then the array.
void amatFreeText(char **rows, int n);

// ---- reading ------------------------------------------------------------------

// Opens fileName for reading, detects text or binary and checks the class
// matrix: className "NoClass" skips it, a null version skips the version
// check.  0 open; 1 the first matrix is no text matrix; 2 class not accepted;
// 3 another version; 4 null argument or the file ends too early; 5 any other
// failure.  On every result but 0 the file is closed again.
[[nodiscard]] int32_t amatGetOpen(const char *fileName, const char *className, const char *version,
                                  AmatGetFile *file);

// Reads the next matrix into *m, which carries the requirements on entry:
//   name  null: any (the name read is allocated), else exactly this name;
//   nrow, ncol  > 0 exactly, < 0 at most the absolute value, 0 any;
//   type  the requested type (voidMatrix: as stored; a float32 matrix stays
//         float32 when float64 is requested: the returned type tells which);
//   data  null: the read allocates (owned by the caller afterwards); else
//         caller storage that must hold the matrix found.
// typeHint 2 or 3 makes a voidMatrix request of a float matrix float32 or
// float64.  resume: null, or the position (fgetpos) right after the data of
// an earlier read of the same row matrix, whose rows m still holds; the stream
// is then at the matrix's header again and only the new rows are read.  The
// header and the rows are read from the file as it is now (never from what
// the stream buffered before); a file that no longer holds the rows read
// before fails the refresh.
// stripBlanks: trailing blanks (1) or trailing NULs (0) are removed from
// binary text rows.
// 0 read; 2 not the matrix required; 3 no further matrix; 4 error.  On 2, 3
// and 4 m is unchanged (a refresh may have enlarged its row array) and the
// file is only good for amatGetClose.
[[nodiscard]] int32_t amatGetMatrix(AmatGetFile *file, AmatMatrix *m, int typeHint,
                                    std::fpos_t *resume, int stripBlanks);
// amatGetMatrix(file, m, 0, nullptr, 1).
[[nodiscard]] int32_t amatGetMatrixDefault(AmatGetFile *file, AmatMatrix *m);
// Closes the stream and releases the record's name and class rows (nothing
// when no stream is open).
void amatGetClose(AmatGetFile *file);

// ---- writing ------------------------------------------------------------------

// Opens fileName (null or empty: standard output) for writing, format 0 text
// or 1 binary, and writes the class matrix unless className is null or empty.
// 0 open; 1 failure (nothing left open); 4 null record.
[[nodiscard]] int32_t amatPutOpen(const char *fileName, int format, int bstruct,
                                  const char *className, const char *version,
                                  const char *description, AmatPutFile *file);
// Writes one matrix.  Text files: comment (a line before the declaration),
// rowComments (one per row, after its values; with indent > 0 escaped and
// preceded by indent - 1 blanks and "# ").  pad: padding of binary text rows.
// A text file takes names of 1 to 100 characters without '(' and white
// space, which its reader reads back; any other name is refused (1) before
// anything is written.  0 written; 1 failure; 4 null file, name or data.
[[nodiscard]] int32_t amatPutMatrixGen(AmatPutFile *file, AmatMatrix m, const char *comment,
                                       char **rowComments, int indent, char pad);
[[nodiscard]] int32_t amatPutMatrix(AmatPutFile *file, AmatMatrix m);
[[nodiscard]] int32_t amatPutMatrixComment(AmatPutFile *file, AmatMatrix m, const char *comment,
                                           char **rowComments, int indent);
[[nodiscard]] int32_t amatPutMatrixPad(AmatPutFile *file, AmatMatrix m, char pad);
// Writes m alone into a new file (binNormal, no class matrix) and closes it.
// 0 or 1.
[[nodiscard]] int32_t amatPutMatrixFile(const char *fileName, int format, AmatMatrix m);

// Row-wise writing of one matrix at a time (file opened binTrans): the file on
// disk is complete and readable after every row.  type realMatrix or
// doubleMatrix (row types are taken as their flat type); the elements on file
// are of that type whichever row writer is used.
[[nodiscard]] int32_t amatPutRinit(AmatPutFile *file, const char *name, int ncol, int type);
// Appends one row of rowNcol float32 values.  0; 1 failure (also when the
// header could not be updated, or no row-wise matrix is started); 4 null.
[[nodiscard]] int32_t amatPutRrow(AmatPutFile *file, const float *row);
// The same for float64 values.
[[nodiscard]] int32_t amatPutRrowDouble(AmatPutFile *file, const double *row);
// Ends row-wise writing (nothing when none is started).  0 or 1.
[[nodiscard]] int32_t amatPutRend(AmatPutFile *file);
// Closes the file (standard output stays open) and releases the record's
// names.  0, or 1 when the data could not be written out or the file not
// closed.  A record without stream is left alone (0).
int32_t amatPutClose(AmatPutFile *file);

// ---- trajectories -------------------------------------------------------------

// Precision codes of the data matrices: 0 realMatrix, 1 doubleMatrix,
// 2 realRowMatrix, 3 doubleRowMatrix.

// An empty trajectory: the matrices "name", "description", "dataInfo" and
// nData data matrices "data_1" ... of the given precision (names owned by the
// trajectory; the caller fills nrow, ncol and heap data, which the trajectory
// then owns).  0 or 1.  A null traj returns 0.
[[nodiscard]] int32_t atrajInit(AtrajTrajectory *traj, int nData, int precision);
// Creates the data matrices of a trajectory that has none.  0 or 1.
[[nodiscard]] int32_t atrajResize(AtrajTrajectory *traj, int nDataNew, int precision);
// Releases everything the trajectory owns; nData := 0.
void atrajFree(AtrajTrajectory *traj);
// Writes the trajectory file (class "Atrajectory", version "1.1") up to data
// matrix rowIndex (0-based) and starts writing that one row by row; with
// rowIndex < 0 or >= nData writes the complete file and closes it.  0 or 1.
[[nodiscard]] int32_t atrajPutOpen(const char *fileName, AtrajTrajectory *traj, int rowIndex,
                                   int format, AmatPutFile *file);
// Appends one row to the data matrix written row by row (amatPutRrow).
[[nodiscard]] int32_t atrajPutRow(AmatPutFile *file, const float *row);
// The same for float64 values (amatPutRrowDouble).
[[nodiscard]] int32_t atrajPutRowDouble(AmatPutFile *file, const double *row);
// Ends the row-wise matrix, writes the data matrices after it, releases the
// data of data matrices 0 .. rowIndex (keeping their names) and closes the
// file.  Only for a file that atrajPutOpen left open, with the same rowIndex.
// 0 or 1 (the file is closed in either case).
[[nodiscard]] int32_t atrajPutClose(AmatPutFile *file, AtrajTrajectory *traj, int rowIndex);
