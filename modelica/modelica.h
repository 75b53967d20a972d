#pragma once
// The external functions that models call: file system, streams with the
// open-file cache, strings and scanning, working directory, environment,
// time and process id, and the call wrappers that hand two outputs back as
// one record or a list of strings as a String array.
//
// Every failure is a model error (ModelicaFormatError / ModelicaError): it is
// reported with its text, most texts ending in the system's description of the
// error (always the English one, whatever locale the host has set), and does
// not return.  Strings handed back live in the calling thread's character area
// (ModelicaAllocateString) until the evaluation completes.  Indices into
// strings are 1-based.
//
// On this platform '/' is the only path separator: names are passed to the
// system as they are, and a '\' in a path is an ordinary character.  The
// conversions between '/' and '\' remain where they concern the value of an
// environment variable.
//
// Process-wide and shared by all threads: the open-file cache (under a lock of
// its own), the working directory and the environment.  Everything else works
// on the calling thread's buffers.

#include <cstddef>
#include <cstdint>

#include "source/arrays/arrays.h"
#include "source/runtime_services.h"

extern "C" {

// ---- file system ------------------------------------------------------------

// Kinds of statFileKind and fileStat.
enum { FileKindNone = 1, FileKindRegular = 2, FileKindDirectory = 3, FileKindOther = 4 };

void makeDirectory(const char *directoryName);
// Removes an empty directory.
void removeDirectory(const char *directoryName);
// The kind of name: 1 no such entry, 2 regular file, 3 directory, 4 other.
// A name with a '/' that ends in '/' is also examined without it.
int fileStat(const char *name);
int statFileKind(const char *name);
// Renames; an existing newName is never replaced (the rename fails with the
// system's text for an existing file).
void renameFile(const char *oldName, const char *newName);
// Removes a file (a directory is refused).
void removeFile(const char *fileName);
// Copies a regular file to a name that does not exist yet.  A copy that
// cannot be completed (read error, full disk) is reported and the partial
// target removed.
void copyFile(const char *oldName, const char *newName);
// Stores the nNames entry names of directory (without "." and "..") into
// names[0 .. nNames-1]; a different number of entries is an error.
void readDirectory(const char *directory, int nNames, const char **names);
// Number of entries of directory without "." and "..".
int countDirectoryEntries(const char *directory);
// The absolute form of name, formed from the working directory and name with
// "." and ".." resolved by their text (name need not exist); a name that ends
// in '/' gives a result that ends in '/'.  At most 1023 characters.
const char *fullPathName(const char *name);
// A name for a new temporary file that does not exist yet, in a folder
// private to the process (made once per process in $TMPDIR, else /tmp, and
// removed at unload when it is empty).  No two calls give the same name.
const char *temporaryFileName();

// In place: every '\' becomes '/' (forward) or every '/' becomes '\'.
void slashesToForward(char *text);
void slashesToBackward(char *text);

// ---- directory streams --------------------------------------------------------
// Each operation first sets errno to 0.  A stream counts the entries it has
// found (position): -1 finished, 0 not started; after opening, the first entry
// is already found (position 1) and is the first one delivered.

struct DirectoryEntry {
  std::uint32_t ino;    // always 0
  std::uint16_t reclen; // always 0
  std::uint16_t namlen; // length of name
  char *name;           // the current entry's name, owned by the stream
};

struct DirectoryStream;

// Null with errno EFAULT (null name), ENOTDIR (empty name or not a
// directory), ENOENT (name cannot be examined), ENOMEM, or the error of
// opening the directory.
DirectoryStream *openDirectory(const char *name);
// The next entry, or null at the end (errno 0) or on failure (errno set;
// EFAULT for a null stream).  The entry is valid until the next operation
// on the stream.
DirectoryEntry *readDirectoryEntry(DirectoryStream *stream);
// Frees the stream; 0, or -1 with errno (EFAULT for a null stream).
int closeDirectory(DirectoryStream *stream);
void rewindDirectory(DirectoryStream *stream);
// The stream's position; -1 with errno EFAULT for a null stream.
long tellDirectory(DirectoryStream *stream);
// position -1 finishes the stream; position p >= 0 rewinds it and passes
// over entries until p have been found.  EINVAL below -1.
void seekDirectory(DirectoryStream *stream, long position);

// ---- streams and the open-file cache -----------------------------------------

// Appends string and a line feed to fileName (created when missing); an
// empty fileName logs string as a message instead.
void printToFile(const char *string, const char *fileName);
// Lines of fileName: a last line without a line feed counts, the empty
// segment after a final line feed does not.
int countLines(const char *fileName);
// Lines 1 .. nLines of fileName into strings[0 .. nLines-1], without their
// line ends (line feed, or carriage return and line feed).
void readFile(const char *fileName, const char **strings, std::size_t nLines);
// Line lineNumber (>= 1) of fileName, or "" with *endOfFile = 1 when it does
// not exist.  The reading stream stays open between calls, so reading lines
// 1, 2, 3, ... reads every character once.  A cached stream is used only
// while the name designates the same, unchanged file; otherwise the file is
// read anew, as the name designates it now.
const char *readLine(const char *fileName, int lineNumber, int *endOfFile);
// Closes the cached reading stream of fileName, if any.
void closeFile(const char *fileName);

// ---- strings and scanning -----------------------------------------------------

// Characters startIndex .. endIndex (endIndex -999: startIndex alone).
const char *stringSubstring(const char *string, int startIndex, int endIndex);
int stringLength(const char *string);
// 1 string1 sorts first, 2 equal (also when one is null), 3 after.
int stringCompare(const char *string1, const char *string2, int caseSensitive);
// First index at or after startIndex that does not hold white space.
int skipWhiteSpace(const char *string, int startIndex);
// Number of decimal digits from index on.
int countDigits(const char *string, int index);
// The scanners skip white space from startIndex and scan one token.  Without
// a token (also for a startIndex outside 1 .. length + 1) *nextIndex is
// startIndex and the value 0 or "".
void scanIdentifier(const char *string, int startIndex, int *nextIndex, const char **identifier);
// Values beyond the 32-bit range saturate at INT_MIN / INT_MAX.
void scanInteger(const char *string, int startIndex, int unsignedNumber, int *nextIndex,
                 int *value);
void scanReal(const char *string, int startIndex, int unsignedNumber, int *nextIndex,
              double *value);
// A quoted string with at least one character; \" does not end it and stays.
void scanString(const char *string, int startIndex, int *nextIndex, const char **result);
const char *stringOrEmpty(const char *text);
// A copy in the calling thread's character area; null is an error.  Exported
// from the unit with the utility functions for external C code.
MODELICA_UTILITY char *ModelicaDuplicateString(const char *text);
// A copy, or null for null or when the area cannot hold it.
char *duplicateStringWithErrorReturn(const char *text);

// ---- working directory, environment, time, process -----------------------------

void changeDirectory(const char *directory);
// At most 1023 characters.
const char *getCurrentDirectory();
// *content: the value (every '\' made '/' when convertToSlash is 1) with
// *exist 1, or "" with *exist 0 for an undefined variable (also for an
// empty name or a name with '=').
void ModelicaInternal_getenv(const char *name, int convertToSlash, const char **content,
                             int *exist);
// Sets the variable (every '/' made '\' when convertFromSlash is 1).  An
// empty content removes the variable.
void setEnvironmentVariable(const char *name, const char *content, int convertFromSlash);
// Local time now: milliseconds, seconds, minutes, hours, day of month,
// month 1-12 and the full year, all from one clock reading.
void getTime(int *ms, int *sec, int *min, int *hour, int *mday, int *mon, int *year);
int getProcessId();

// ---- call wrappers --------------------------------------------------------------

struct ReadLineResult {
  const char *string;
  int endOfFile;
};
struct GetenvResult {
  const char *content;
  int exist;
};
struct ScanIntegerResult {
  int nextIndex;
  int value;
};
struct ScanRealResult {
  int nextIndex;
  double value;
};
struct ScanStringResult {
  int nextIndex;
  const char *string;
};
struct ScanIdentifierResult {
  int nextIndex;
  const char *identifier;
};

ReadLineResult readLineCall(const char *fileName, int lineNumber);
// One element per line of fileName (0 for an empty file).
StringArray readFileCall(const char *fileName);
// The nNames entry names of directory; the array is allocated before the
// names are read, and nothing else that the reading allocates stays.
StringArray readDirectoryCall(const char *directory, int nNames);
// Names "ModelicaInternal_getenv" in the stack of functions of an error.
GetenvResult getenvCall(const char *name, int convertToSlash);
ScanIntegerResult scanIntegerCall(const char *string, int startIndex, int unsignedNumber);
ScanRealResult scanRealCall(const char *string, int startIndex, int unsignedNumber);
ScanStringResult scanStringCall(const char *string, int startIndex);
ScanIdentifierResult scanIdentifierCall(const char *string, int startIndex);

} // extern "C"
