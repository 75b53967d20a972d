// The one path of every message to the host's logger.
//
// fmiLog composes pending text and the formatted text into one bounded
// buffer and hands it to the logger as the message, with no arguments.  The
// standard lets a host format the message with printf rules, so every '%' of
// the composed text is doubled: such a host prints exactly the composed text.
//
// The serializer and the integrator write their own reports to the process's
// standard output and error when they stand alone.  A host may use those
// streams for its own results, so inside the unit their reports go to the
// logger of the export under way on the calling thread instead.
#include "fmi/fmiLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "bim/bim.h"
#include "fmi/fmiInstance.h"
#include "integrator/ode.h"
#include "source/clocale/clocale_io.h"
#include "source/runtime.h"

namespace {

constexpr size_t kComposeSize = 1023;     // composed text with its terminating zero
constexpr size_t kRuntimeCopySize = 4096; // runtime text after doubling '#'

// The layer's record of this thread: runtime messages of evaluations on
// different threads reach their own instance, and reports their own call.
thread_local fmiThreadState threadState{{nullptr, nullptr}, nullptr, nullptr};

bool dropped(const fmiInstance *instance, fmi2Status status) {
  return !fmiLogDelivers(instance, status);
}

void emptyPending(fmiInstance *instance) {
  instance->pendingEnd = instance->pendingText;
  instance->pendingText[0] = '\0';
}

// The pending text as a view; a record whose pendingEnd does not point into
// its own area (zero-filled, or a copied record) counts as empty.
size_t pendingLength(const fmiInstance *instance) {
  const char *begin = instance->pendingText;
  const char *end = instance->pendingEnd;
  if (end < begin || end > begin + kFmiPendingSize - 1) return 0;
  return static_cast<size_t>(end - begin);
}

void deliver(fmiInstance *instance, fmi2String instanceName, fmi2Status status, fmi2String category,
             const char *composed) {
  const fmi2CallbackFunctions *functions = instance->functions;
  if (functions == nullptr || functions->logger == nullptr) return;
  char doubled[2 * kComposeSize];
  size_t n = 0;
  for (const char *s = composed; *s != '\0' && n + 2 < sizeof doubled; ++s) {
    doubled[n++] = *s;
    if (*s == '%') doubled[n++] = '%';
  }
  doubled[n] = '\0';
  // A host logger that throws (a C++ host's bug) has delivered nothing; the
  // exception must not unwind through the unit or change what the call does.
  try {
    functions->logger(functions->componentEnvironment, instanceName != nullptr ? instanceName : "",
                      status, category != nullptr ? category : "", doubled);
  } catch (...) {}
}

void vlog(fmiInstance *instance, fmi2String instanceName, fmi2Status status, fmi2String category,
          const char *format, va_list args) {
  if (instance == nullptr || dropped(instance, status)) return;
  char composed[kComposeSize];
  size_t pending = pendingLength(instance);
  std::memcpy(composed, instance->pendingText, pending);
  composed[pending] = '\0';
  // The whole holds at most kComposeSize - 1 = 1022 characters.
  if (vsnprintfFullC(composed + pending, kComposeSize - pending, format, args) < 0) {
    composed[pending] = '\0';
  }
  deliver(instance, instanceName, status, category, composed);
  emptyPending(instance);
}

// The serializer's report hook inside the unit.
int serializerReport(const char *format, ...) {
  char text[kComposeSize];
  va_list args;
  va_start(args, format);
  if (vsnprintfFullC(text, sizeof text, format, args) < 0) text[0] = '\0';
  va_end(args);
  fmiReportToCaller(fmi2Warning, text);
  return 0;
}

// The integrator's report function inside the unit: the words of its
// default handler, at the status of the handler that the unit installs
// later in the set-up.
void integratorReport(int errorCode, const char *module, const char *function,
                      const char *message) {
  char text[kComposeSize];
  snprintfC(text, sizeof text, "[%s %s]  %s\n  %s", module != nullptr ? module : "",
            errorCode == ODE_WARNING ? "WARNING" : "ERROR", function != nullptr ? function : "",
            message != nullptr ? message : "");
  fmiReportToCaller(fmi2Warning, text);
}

} // namespace

void fmiLog(fmiInstance *instance, fmi2String instanceName, fmi2Status status, fmi2String category,
            const char *format, ...) {
  va_list args;
  va_start(args, format);
  vlog(instance, instanceName, status, category, format, args);
  va_end(args);
}

void fmiAppendPending(fmiInstance *instance, fmi2String instanceName, fmi2Status status,
                      fmi2String category, const char *format, ...) {
  if (instance == nullptr || dropped(instance, status)) return;
  size_t pending = pendingLength(instance);
  char *end = instance->pendingText + pending;
  // The area's last byte is never used: the text and its zero fit in 255 bytes.
  const size_t room = kFmiPendingSize - 1 - pending;
  char text[kComposeSize];
  va_list args;
  va_start(args, format);
  const int n = vsnprintfFullC(text, sizeof text, format, args);
  va_end(args);
  if (n <= 0) return;
  const size_t length = std::strlen(text);
  if (length < room) {
    std::memcpy(end, text, length + 1);
    instance->pendingEnd = end + length;
    return;
  }
  // No text is lost: what is pending goes to the host first, at the status
  // of the text that does not fit, and a text longer than the whole area
  // goes out on its own.
  if (pending > 0) {
    char flushed[kFmiPendingSize];
    std::memcpy(flushed, instance->pendingText, pending);
    flushed[pending] = '\0';
    emptyPending(instance);
    deliver(instance, instanceName, status, category, flushed);
  }
  if (length < kFmiPendingSize - 1) {
    std::memcpy(instance->pendingText, text, length + 1);
    instance->pendingEnd = instance->pendingText + length;
    return;
  }
  deliver(instance, instanceName, status, category, text);
}

void fmiRuntimeMessage(const char *text, int emit, int level) {
  char copy[kRuntimeCopySize];
  size_t n = 0;
  if (text != nullptr) {
    for (const char *s = text; *s != '\0' && n < kRuntimeCopySize - 1; ++s) {
      copy[n++] = *s;
      if (*s == '#' && n < kRuntimeCopySize - 1) copy[n++] = '#';
    }
  }
  copy[n] = '\0';
  const fmi2Status status = level == 0 ? fmi2OK : level == 1 ? fmi2Warning : fmi2Error;
  fmiInstance *target = threadState.evaluating;
  if (target == nullptr) return;
  if (emit != 0) {
    fmiLog(target, target->instanceName, status, "", "%s", copy);
  } else {
    fmiAppendPending(target, target->instanceName, status, "", "%s", copy);
  }
}

fmiThreadState *fmiThisThread() { return &threadState; }

ThreadContext *fmiRuntimeRecord(fmiThreadState *state) {
  if (state->runtime != nullptr) return state->runtime;
  ThreadContext *context = getThreadContext();
  // Kept only while an export runs: its guard puts back what it found.
  if (state->call.instance != nullptr) state->runtime = context;
  return context;
}

fmiInstance *fmiGetEvaluatingInstance() { return threadState.evaluating; }

void fmiSetEvaluatingInstance(fmiInstance *instance) { threadState.evaluating = instance; }

void fmiReportToCaller(fmi2Status status, const char *text) {
  const fmiCall call = threadState.call;
  if (call.instance == nullptr || text == nullptr) return;
  size_t length = std::strlen(text);
  while (length > 0 && text[length - 1] == '\n') --length;
  fmiLog(call.instance, call.instance->instanceName, status, "", "%s: %.*s",
         call.name != nullptr ? call.name : "", static_cast<int>(length), text);
}

void fmiInstallReportHooks() {
  // Once per process, before the first instance exists; the serializer's
  // hooks record and the integrator's report function are only read later.
  static const bool installed = [] {
    bim_active_hooks.report = serializerReport;
    OdeSetReportFn(integratorReport);
    return true;
  }();
  (void)installed;
}

void fmiLogWithoutInstance(const fmi2CallbackFunctions *functions, fmi2String instanceName,
                           fmi2Status status, const char *format, ...) {
  if (functions == nullptr || functions->logger == nullptr) return;
  // A record of its own carries the host's callbacks to the one logger path.
  fmiInstance scratch{};
  scratch.functions = functions;
  scratch.pendingEnd = scratch.pendingText;
  scratch.loggingOn = 1;
  va_list args;
  va_start(args, format);
  vlog(&scratch, instanceName, status, "", format, args);
  va_end(args);
}
