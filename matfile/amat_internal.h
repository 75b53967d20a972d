#pragma once
// Private to matfile/: the message buffer's writer, the heap seam, the bounds
// of what a file still holds, and the readers and writers behind amatGetMatrix
// and amatPutMatrixGen.  Tests include it to reach the readers directly.

#include "matfile/amat.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---- messages -------------------------------------------------------------------

// Formats into amatMessage (in the "C" locale), replacing its text.  Always
// returns `result`, so that a failure reads `return amatFail(4, "...", ...)`.
int32_t amatFail(int32_t result, const char *format, ...) __attribute__((format(printf, 2, 3)));
// The standard description of errno (or of the given error number).
const char *amatErrorText();
const char *amatErrorText(int error);
// "Unexpected null-pointer" into amatMessage; returns result.
int32_t amatNullPointer(int32_t result);
// The names printed in messages: "integer", "real", "double", "char",
// "unknown" (row types as their element type).
const char *amatElementName(int32_t type);
// The type's own name ("voidMatrix" ... "doubleRowMatrix") or "unknown".
const char *amatTypeName(int32_t type);
// The reason given whenever the end of a file was met where data was expected.
inline constexpr const char *amatEndOfFile = "End-Of-File reached.";
// Whether the stop hook is set and asks to stop.
bool amatStopRequested();

// Message formats that the binary and the text readers share.
inline constexpr const char *amatHeaderMessage =
    "Error reading matrix header from file \"%.400s\":\n%.400s\n";
inline constexpr const char *amatNumericDataMessage =
    "Error when reading numeric data of matrix \"%.400s(%d,%d)\" from file\n\"%.400s\"\n";
inline constexpr const char *amatTextStorageMessage =
    "Error when reading text matrix \"%.400s(%d,%d)\" from file \"%.400s\",\nsince it is not "
    "possible to allocate storage for\n%d characters.\n";
inline constexpr const char *amatTextReadMessage =
    "Error reading data of text matrix \"%.40s(%d,%d)\" from file \"%.400s\":\n%.400s\n";

// ---- heap -------------------------------------------------------------------------

// Everything goes through the runtime's heap seam (zero-filled; tests make it
// fail).  Counts are 64-bit; a size that does not fit size_t fails.
void *amatAlloc(int64_t count, int64_t size);
void amatRelease(void *block);
// A heap copy of text (null on failure).
char *amatCopyText(const char *text);
// Releases the n rows of a text matrix and sets them to null; the row array
// itself stays.
void amatReleaseRows(char **rows, int64_t n);

// ---- streams ----------------------------------------------------------------------

// The stream calls that tests must be able to make fail (opening, closing,
// writing, flushing and the positions of a row header's rewrite) go through
// the platform's system-call record (platform/sys.h).

// Bytes from the stream's position to the end of the file (0 for anything but
// a regular file, and when the position is unknown).
int64_t amatBytesLeft(std::FILE *stream);
// Bytes of the whole file (0 for anything but a regular file).
int64_t amatFileBytes(std::FILE *stream);

// Binary header fields, little-endian.
void amatEncodeHeader(const int32_t header[5], unsigned char bytes[20]);
void amatDecodeHeader(const unsigned char bytes[20], int32_t header[5]);

// ---- readers (amatGetMatrix) ------------------------------------------------------

// Text files.
int32_t amatSkipComments(AmatGetFile *file);
int32_t amatGetTextHeader(AmatGetFile *file, AmatMatrix *current, char *nameBuffer, int nameWidth);
int32_t amatGetTextData(AmatGetFile *file, AmatMatrix *current);
void amatUnescapeText(char *row);

// Binary files.  The header reader leaves the precision digit in *precision.
int32_t amatGetBinHeader(AmatGetFile *file, AmatMatrix *current, char *nameBuffer, int nameWidth,
                         int *precision);
int32_t amatGetBinData(AmatGetFile *file, AmatMatrix *current, int storedType, int precision,
                       int stripBlanks);
int32_t amatGetBinInt(AmatGetFile *file, AmatMatrix *current);
int32_t amatGetBinFloat(AmatGetFile *file, AmatMatrix *current);
int32_t amatGetBinDouble(AmatGetFile *file, AmatMatrix *current);
int32_t amatGetBinChar(AmatGetFile *file, AmatMatrix *current, int precision, int stripBlanks);

// Truncation toward zero into int32, saturating; NaN gives 0.
int32_t amatToInt32(double value);

// A 64-bit count as an int; counts above INT32_MAX give INT32_MAX.
inline int amatClampInt(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int>(v); }

// realRowMatrix or doubleRowMatrix: elements behind one pointer per row.
inline bool amatIsRowType(int32_t type) { return type == realRowMatrix || type == doubleRowMatrix; }

// ---- writers ----------------------------------------------------------------------

// Writes text, with escape set a line feed as "\n" and a backslash as "\\",
// and a line feed after it when lineEnd is set.  Negative on failure.  A null
// text is written as "".
int amatPutEscaped(std::FILE *stream, const char *text, int lineEnd, int escape);
// Closes the file after a failure, keeping the failure's message; returns 1.
int32_t amatCloseAfterFailure(AmatPutFile *file);
