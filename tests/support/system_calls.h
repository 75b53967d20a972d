#pragma once
// The tests' override of the system-call record (platform::sys), through which
// the external functions, the matrix files and the serializer reach the
// system alike.  While an override lives, a test swaps fields for fakes
//   SystemCallOverride fakes;
//   platform::sys.fsetpos = failingSetpos;
// and the override puts the record back as it found it when it ends, or
// earlier with restore() (for clean-up that must use the real calls).
#include "platform/sys.h"

class SystemCallOverride {
public:
  SystemCallOverride() : saved_(platform::sys) {}
  ~SystemCallOverride() { restore(); }
  SystemCallOverride(const SystemCallOverride &) = delete;
  SystemCallOverride &operator=(const SystemCallOverride &) = delete;

  // Every field back to what it was when the override began.
  void restore() const { platform::sys = saved_; }

private:
  platform::SystemCalls saved_;
};
