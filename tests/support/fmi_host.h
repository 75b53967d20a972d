// Host-side support for end-to-end tests: the unit is driven exactly as an
// FMI host drives it, through dlopen and the 44 fmi2 functions, with a real
// callback record.
//
//   fmihost::Fmi2Library lib(UNIT_SO_PATH);          // throws if an export is missing
//   fmihost::HostCallbacks host;                      // logger + counting allocator
//   fmi2Component c = lib.fmi.fmi2Instantiate("a", fmi2ModelExchange, guid, nullptr,
//                                             &host.functions(), fmi2False, fmi2True);
//   ... host.messages() ... fmihost::liveBlocks() ...
//
// The allocator callbacks carry no environment pointer, so the block counts
// and the failure injection are process-wide (guarded by a mutex, usable from
// several threads).  Logger messages go to the HostCallbacks object whose
// address is the componentEnvironment; a message with any other environment
// goes to a process-wide list (strayMessages()).
#ifndef TESTS_SUPPORT_FMI_HOST_H
#define TESTS_SUPPORT_FMI_HOST_H

#include "fmi/fmi2.h"
#include "fmi/fmi2Names.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fmihost {

// One pointer per fmi2 function, named as the function: lib.fmi.fmi2DoStep(...).
using Fmi2Functions = fmi2::Functions;

// The names of the 44 functions, in the same order.
const std::vector<std::string> &fmi2FunctionNames();

// A shared library opened with dlopen(RTLD_NOW | RTLD_LOCAL), as hosts open
// a unit (closing the last handle unmaps it), and its 44 fmi2 functions
// looked up with dlsym.  The constructor throws std::runtime_error
// naming the library and every missing function when the library cannot be
// opened or any of the 44 is absent; the destructor closes the library.
class Fmi2Library {
public:
  explicit Fmi2Library(const std::string &path);
  ~Fmi2Library();
  Fmi2Library(const Fmi2Library &) = delete;
  Fmi2Library &operator=(const Fmi2Library &) = delete;

  // The looked-up functions; all 44 are non-null.
  Fmi2Functions fmi;
  // The dlopen handle.
  void *handle() const { return handle_; }

private:
  void *handle_ = nullptr;
};

// One call of the logger, with the message formatted as printf formats it
// with the call's variadic arguments.
struct LogRecord {
  void *componentEnvironment = nullptr; // as received
  std::string instanceName;             // "" when the unit passed null
  fmi2Status status = fmi2OK;
  std::string category; // "" when the unit passed null
  std::string message;  // formatted
};

// The callback record of one host: the recording logger, the counting
// allocator pair and (optionally) a recording stepFinished.  Its own address
// is the record's componentEnvironment.  Not copyable or movable, since the
// unit keeps the address.
class HostCallbacks {
public:
  // withStepFinished: put a stepFinished callback into the record (else null).
  explicit HostCallbacks(bool withStepFinished = false);
  ~HostCallbacks();
  HostCallbacks(const HostCallbacks &) = delete;
  HostCallbacks &operator=(const HostCallbacks &) = delete;

  // The record to hand to fmi2Instantiate; valid while this object lives.
  const fmi2CallbackFunctions &functions() const { return functions_; }

  // Every logger call so far, in order (a copy, safe to take from any thread).
  std::vector<LogRecord> messages() const;
  void clearMessages();
  // True if some message contains `text` (and, if given, has `status`).
  bool hasMessage(std::string_view text) const;
  bool hasMessage(std::string_view text, fmi2Status status) const;
  // The messages as "status|category|message" lines, for failure output.
  std::string dump() const;

  // The statuses that stepFinished was called with.
  std::vector<fmi2Status> stepFinishedCalls() const;

  // The C callbacks (also usable in a hand-made record).
  static void logger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                     fmi2String category, fmi2String message, ...);
  static void stepFinished(fmi2ComponentEnvironment env, fmi2Status status);

private:
  void record(LogRecord r);

  const fmi2CallbackFunctions functions_;
  mutable std::mutex mutex_;
  std::vector<LogRecord> messages_;
  std::vector<fmi2Status> stepFinished_;
};

// Logger calls whose componentEnvironment was no live HostCallbacks.
std::vector<LogRecord> strayMessages();
void clearStrayMessages();

// ---- The allocator pair (process-wide) -------------------------------------
// allocateMemory has calloc semantics: nobj*size zero-filled bytes, null when
// the product overflows; a request for zero bytes still returns a distinct
// block.  freeMemory(null) does nothing; freeing a pointer that was not
// handed out (or twice) is counted in badFrees() and otherwise ignored.
void *allocateMemory(std::size_t nobj, std::size_t size);
void freeMemory(void *obj);

// Blocks handed out and not yet freed.
std::size_t liveBlocks();
// allocateMemory calls since the last resetAllocationCounts() (failed ones too).
std::size_t allocationCalls();
// freeMemory calls with a non-null pointer that was not live.
std::size_t badFrees();
// Zeroes the call and bad-free counters (live blocks are kept).
void resetAllocationCounts();
// Makes the n-th allocateMemory call from now on (1 = the next) return null;
// 0 switches failure off.  The failure happens once.
void failAllocation(std::size_t n);

// Frees the component with fmi2FreeInstance at the end of a scope.
class ScopedInstance {
public:
  ScopedInstance(const Fmi2Functions &fmi, fmi2Component c) : fmi_(&fmi), c_(c) {}
  ~ScopedInstance() { reset(); }
  ScopedInstance(ScopedInstance &&other) noexcept : fmi_(other.fmi_), c_(other.release()) {}
  ScopedInstance(const ScopedInstance &) = delete;
  ScopedInstance &operator=(const ScopedInstance &) = delete;
  fmi2Component get() const { return c_; }
  explicit operator bool() const { return c_ != nullptr; }
  // Frees now (if not yet freed).
  void reset() {
    if (c_) fmi_->fmi2FreeInstance(c_);
    c_ = nullptr;
  }
  // Gives up ownership without freeing.
  fmi2Component release() {
    fmi2Component c = c_;
    c_ = nullptr;
    return c;
  }

private:
  const Fmi2Functions *fmi_;
  fmi2Component c_;
};

// The name of a status as in the standard ("fmi2OK", ...), "fmi2Status(N)" otherwise.
using fmi2::statusName;

} // namespace fmihost

#endif // TESTS_SUPPORT_FMI_HOST_H
