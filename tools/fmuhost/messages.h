// The unit's log messages as fmuhost shows them on its error stream.
//
// A unit may log while a call goes well: this one logs every integrator trial
// that it rejects and retries as an fmi2Error message although the call ends
// fmi2OK.  Printed as they come, such messages read as a failed run.  So,
// unless the user asked for every message (--log), the messages of a call are
// kept until the call returns: when it ends fmi2OK they are only counted;
// otherwise the call is reported (function, status, host time) and its
// messages follow, a run of equal messages as one line with its count.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "fmi/fmi2.h"
#include "fmi/fmi2Names.h"

namespace fmuhost {

// "fmi2OK" ... "fmi2Pending"; "fmi2Status(N)" for a value outside the enumeration.
using fmi2::statusName;

class MessageLog {
public:
  // `live`: print every message at once (--log); else hold them per call.
  MessageLog(FILE *err, bool live) : err_(err), live_(live) {}

  // One message from the unit's logger, already formatted.
  void add(fmi2Status status, const char *instance, const char *category, const char *text);

  // The call has returned `status`.  fmi2OK: its held messages are dropped
  // and counted.  Anything else: "fmuhost: <call> returned <status> at t = <time><detail>"
  // and then its messages.
  void callEnded(const char *call, fmi2Status status, double time, const std::string &detail = "");
  // The call ended in a way its status does not show (fmi2Instantiate
  // returning NULL, a model that ends the simulation): `report` and then the
  // call's messages.
  void callReported(const std::string &report);

  // At the end of the run: how many messages were held back, when any.
  void summary();

  long heldBack() const { return heldBack_; }

  struct Message {
    fmi2Status status;
    std::string instance, category, text;
    bool operator==(const Message &) const = default;
  };
  using Held = std::vector<Message>;
  // The messages of the call under way, taken out while other calls are
  // made (and reported on their own), and put back in front of any that
  // came meanwhile.
  Held takeHeld() {
    Held taken;
    taken.swap(held_);
    return taken;
  }
  void putBack(Held messages);

private:
  static std::string line(const Message &m);
  void flushHeld();

  FILE *err_;
  bool live_;
  std::vector<Message> held_; // messages of the call under way
  long heldBack_ = 0;         // messages of calls that ended fmi2OK, not shown
};

} // namespace fmuhost
