#pragma once
// Test support of the array library: the runtime's capturing message hook
// (RuntimeTest), the text of a failed assertion, the buffer positions of the
// calling thread, and arrays built from and read back into std::vector.
#include "source/arrays/arrays.h"
#include "source/runtime.h"
#include "tests/runtime/support.h"

#include <functional>
#include <string>
#include <vector>

using ArraysTest = RuntimeTest;

// "  message\n  Failed condition: condition", as runtimeAssert reports it.
std::string assertionText(const char *message, const char *condition);

// Runs body under a recovery point.  Returns the text of the model error it
// raised (the report's line after the header), or "completed".
std::string failureOf(const std::function<void()> &body);

// A call that fails, named in the trace, and the text its failure reports.
struct Failing {
  const char *name;
  std::function<void()> body;
  std::string text;
};
// Expects each case's failureOf text.
void expectFailures(const std::vector<Failing> &cases);

// The next free slot of each of the calling thread's buffers, and of the
// persistent buffers.
BufferPlace threadPlace();
BufferPlace persistentPlace();
bool operator==(const BufferPlace &a, const BufferPlace &b);

// Arrays in the calling thread's buffers with the given sizes and elements.
RealArray realArray(const std::vector<int> &sizes, const std::vector<double> &values);
IntegerArray integerArray(const std::vector<int> &sizes, const std::vector<int> &values);
StringArray stringArray(const std::vector<int> &sizes, const std::vector<const char *> &values);

std::vector<int> sizesOf(int ndims, const int *dims);
template <class A> std::vector<int> sizesOf(const A &a) { return sizesOf(a.ndims, a.dims); }

std::vector<double> elementsOf(RealArray a);
std::vector<int> elementsOf(IntegerArray a);
std::vector<const char *> elementsOf(StringArray a);

// Bit patterns, so that -0 and NaN compare exactly.
std::vector<unsigned long long> bitsOf(const std::vector<double> &values);
