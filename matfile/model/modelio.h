#pragma once
/* Model-level matrix-file functions: what generated model code calls to read
 * named matrices, arrays and scalars from matrix files (MAT version 4 binary
 * or text) and to write matrices and variables into them.
 *
 * Reading: the file is opened without class check and searched matrix by
 * matrix in file order for the name asked for (a class matrix is just another
 * matrix).  Results are arrays and strings in the calling thread's evaluation
 * buffers, valid until the end of the current evaluation; nothing is left on
 * the heap.
 *
 * Writing: files are binary (binNormal, no class matrix) and written anew.
 * A file name must name a file: an empty or null name is refused, so that
 * nothing ever goes to the process's standard output.
 *
 * Failures: every failure is a runtime assertion ("  message\n  Failed
 * condition: condition", a model error that unwinds to the evaluation entry
 * and does not return); its message is a fixed text or the matrix files' last
 * failure text (amatMessage).  Whatever a failing call opened or read is
 * closed and released on the way out.  The one result code is that of
 * RealMatrixToFile.
 *
 * Layout of arrays on file: an array's elements go to the file in the array's
 * own (row-major) order as the elements of an nrow x ncol matrix (rows of the
 * first dimension, columns of the second for two dimensions; a column of all
 * elements beyond, after an integer matrix "<name>.size" with the sizes).
 * VariablesToFile and the ...ArrayFromFile readers are inverse to each other;
 * RealMatrixToFile and RealMatrixFromFile exchange proper matrices.
 *
 * This header compiles as C11 and as C++; the functions have C linkage and
 * may raise (C callers compile with -fexceptions). */

#include "source/arrays/array_records.h"

#ifdef __cplusplus
extern "C" {
#endif

struct AmatPutFile;

/* The matrix matrixName, which must have rows x cols elements of a numeric
 * type, as a rows x cols Real matrix. */
RealArray RealMatrixFromFile(const char *fileName, const char *matrixName, int rows, int cols);

/* {nrow, ncol} of the matrix matrixName. */
IntegerArray MatrixSizeFromFile(const char *fileName, const char *matrixName);

/* n x 2: the name of every matrix of the file and its kind ("Integer",
 * "Real" or "Unknown"), in file order. */
StringArray MatrixListFromFile(const char *fileName);

/* Writes the two-dimensional mat as the float64 matrix matrixName.  Without
 * append the file holds only this matrix afterwards; with append it keeps
 * every other matrix it held, in their order, and the new matrix replaces one
 * of the same name at the end.  An existing file that cannot be read to its
 * end is left as it is.  1 written; 0 not (the reason is in amatMessage). */
int RealMatrixToFile(const char *fileName, const char *matrixName, RealArray mat, int append);

/* The matrix matrixName as an array of ndims dimensions (ndims >= 1): the
 * first column for one dimension, the matrix's sizes for two, the sizes of
 * "<matrixName>.size" beyond (before or after the matrix in the file). */
RealArray RealArrayFromFile(const char *fileName, const char *matrixName, int ndims);
/* The same for an integer matrix. */
IntegerArray IntegerArrayFromFile(const char *fileName, const char *matrixName, int ndims);
/* A text matrix as a vector of its rows (ndims must be 1). */
StringArray StringArrayFromFile(const char *fileName, const char *matrixName, int ndims);

/* The only element of a matrix of one element. */
double RealScalarFromFile(const char *fileName, const char *matrixName);
int IntegerScalarFromFile(const char *fileName, const char *matrixName);
char *StringScalarFromFile(const char *fileName, const char *matrixName);

/* Writes n variables into a new file.  Each takes, in order: the name
 * (const char *), the type (int: 1 Integer, 3 Real, 4 String), the number of
 * dimensions (int), then the value: with 0 dimensions an int, a double or a
 * const char *; with 1 or more the IntegerArray, RealArray or StringArray by
 * value (its own sizes give the shape). */
void VariablesToFile(const char *fileName, int n, ...);

/* Writes the integer matrix "<name>.size" (ndims x 1) holding dims into an
 * open file; the result of the write is not reported. */
void ArraySizeToFile(struct AmatPutFile *file, int ndims, const int *dims, const char *name);

#ifdef __cplusplus
}
#endif
