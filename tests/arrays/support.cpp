#include "tests/arrays/support.h"

#include <cstring>

std::string assertionText(const char *message, const char *condition) {
  return std::string("  ") + message + "\n  Failed condition: " + condition;
}

std::string failureOf(const std::function<void()> &body) {
  clearMessages();
  ErrorRecoveryScope scope;
  if (scope.run(body)) return "completed";
  std::string text = "no report";
  for (const CapturedMessage &m : capturedMessages())
    if (m.level == 2) text = m.text;
  return text;
}

void expectFailures(const std::vector<Failing> &cases) {
  for (const Failing &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(failureOf(c.body), c.text);
  }
}

BufferPlace threadPlace() {
  initThreadBuffers();
  return getThreadContext()->currentMark.place;
}

BufferPlace persistentPlace() { return currentMarkNon.place; }

bool operator==(const BufferPlace &a, const BufferPlace &b) {
  return a.Realbuffer == b.Realbuffer && a.Integerbuffer == b.Integerbuffer &&
         a.Sizebuffer == b.Sizebuffer && a.Stringbuffer == b.Stringbuffer;
}

RealArray realArray(const std::vector<int> &sizes, const std::vector<double> &values) {
  RealArray a = RealAllocList(static_cast<int>(sizes.size()), sizes.data());
  for (size_t k = 0; k < values.size(); ++k) a.data[k] = values[k];
  return a;
}

IntegerArray integerArray(const std::vector<int> &sizes, const std::vector<int> &values) {
  IntegerArray a = IntegerAllocList(static_cast<int>(sizes.size()), sizes.data());
  for (size_t k = 0; k < values.size(); ++k) a.data[k] = values[k];
  return a;
}

StringArray stringArray(const std::vector<int> &sizes, const std::vector<const char *> &values) {
  StringArray a = StringAllocList(static_cast<int>(sizes.size()), sizes.data());
  for (size_t k = 0; k < values.size(); ++k) a.data[k] = const_cast<char *>(values[k]);
  return a;
}

std::vector<int> sizesOf(int ndims, const int *dims) {
  return std::vector<int>(dims, dims + ndims);
}

std::vector<double> elementsOf(RealArray a) {
  return std::vector<double>(a.data, a.data + RealNrElements(a));
}

std::vector<int> elementsOf(IntegerArray a) {
  return std::vector<int>(a.data, a.data + IntegerNrElements(a));
}

std::vector<const char *> elementsOf(StringArray a) {
  return std::vector<const char *>(a.data, a.data + StringNrElements(a));
}

std::vector<unsigned long long> bitsOf(const std::vector<double> &values) {
  std::vector<unsigned long long> bits(values.size());
  for (size_t k = 0; k < values.size(); ++k) std::memcpy(&bits[k], &values[k], sizeof(double));
  return bits;
}
