// Call wrappers: generated code calls the external functions that deliver two
// outputs or a list of strings through these, and receives one record or one
// String array.

#include "modelica/modelica_internal.h"

extern "C" {

ReadLineResult readLineCall(const char *fileName, int lineNumber) {
  ReadLineResult result{};
  result.string = readLine(fileName, lineNumber, &result.endOfFile);
  return result;
}

StringArray readFileCall(const char *fileName) {
  const int n = countLines(fileName);
  StringArray lines = StringAllocVector(n);
  readFile(fileName, const_cast<const char **>(lines.data), static_cast<std::size_t>(n));
  return lines;
}

StringArray readDirectoryCall(const char *directory, int nNames) {
  (void)saveMark();
  StringArray names = StringAllocDims(1, nNames);
  const MemoryMark afterArray = saveMark();
  StringFillInPlace(names, "");
  readDirectory(directory, nNames, const_cast<const char **>(names.data));
  // The names themselves live in the character area, which marks keep.
  restoreMark(afterArray);
  return names;
}

GetenvResult getenvCall(const char *name, int convertToSlash) {
  GetenvResult result{"", 0};
  // The call is named on the thread's stack of functions, so that an error
  // report names it.  The entry lives in this frame; an error unwinds to a
  // recovery point, which puts the stack back itself.
  ThreadContext *context = getThreadContext();
  if (context == nullptr) {
    ModelicaInternal_getenv(name, convertToSlash, &result.content, &result.exist);
    return result;
  }
  const int keptState = context->externalCallState;
  FunctionStackEntry *const keptTop = context->functionStack;
  FunctionStackEntry entry{"ModelicaInternal_getenv", keptTop};
  context->functionStack = &entry;
  ModelicaInternal_getenv(name, convertToSlash, &result.content, &result.exist);
  context->functionStack = keptTop;
  context->externalCallState = keptState;
  return result;
}

ScanIntegerResult scanIntegerCall(const char *string, int startIndex, int unsignedNumber) {
  ScanIntegerResult result{};
  scanInteger(string, startIndex, unsignedNumber, &result.nextIndex, &result.value);
  return result;
}

ScanRealResult scanRealCall(const char *string, int startIndex, int unsignedNumber) {
  ScanRealResult result{};
  scanReal(string, startIndex, unsignedNumber, &result.nextIndex, &result.value);
  return result;
}

ScanStringResult scanStringCall(const char *string, int startIndex) {
  ScanStringResult result{};
  scanString(string, startIndex, &result.nextIndex, &result.string);
  return result;
}

ScanIdentifierResult scanIdentifierCall(const char *string, int startIndex) {
  ScanIdentifierResult result{};
  scanIdentifier(string, startIndex, &result.nextIndex, &result.identifier);
  return result;
}

} // extern "C"
