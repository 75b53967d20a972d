#pragma once
// Test support of the external functions: a fixture with a temporary folder
// of its own for every test, the error text of a call that fails, and
// countdown fakes for the system-call record.
#include <functional>
#include <string>

#include "modelica/modelica_internal.h"
#include "tests/runtime/support.h"
#include "tests/support/system_calls.h"

// RuntimeTest (capturing message hook, fresh thread buffers) plus a new
// folder for the test, removed afterwards.  Every system call is put back to
// its default after the test, and the open-file cache must be empty again.
class ModelicaTest : public RuntimeTest {
protected:
  void SetUp() override;
  void TearDown() override;
  // name inside the test's folder.
  std::string path(const std::string &name) const { return folder_ + "/" + name; }
  const std::string &folder() const { return folder_; }

private:
  SystemCallOverride systemCalls_;
  std::string folder_;
};

void writeFile(const std::string &file, const std::string &content);
std::string readWholeFile(const std::string &file);
bool exists(const std::string &file);

// Runs body under a recovery point.  The text of the model error it raised
// (the line after the report's header), or "<completed>" when it returned.
std::string errorText(const std::function<void()> &body);

// The working directory of the test while the object lives.
class WorkingDirectory {
public:
  explicit WorkingDirectory(const std::string &folder);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory &) = delete;
  WorkingDirectory &operator=(const WorkingDirectory &) = delete;

private:
  std::string previous_;
};

// The n-th following call of sys.malloc fails (1: the next one); 0: none.
// Counts the calls made meanwhile.
void failMallocAt(int n);
int mallocCalls();

// Streams opened minus streams closed through sys.fopen / sys.fclose since
// countStreams().
void countStreams();
int openStreams();
