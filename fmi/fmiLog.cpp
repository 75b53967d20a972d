// The one path of every message to the host's logger.
//
// fmiLog composes pending text and the formatted text into one bounded
// buffer and hands it to the logger as the message, with no arguments.  The
// standard lets a host format the message with printf rules, so every '%' of
// the composed text is doubled: such a host prints exactly the composed text.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fmi/fmiInstance.h"
#include "source/clocale/clocale_io.h"

namespace {

constexpr size_t kComposeSize = 1023;      // composed text with its terminating zero
constexpr size_t kRuntimeCopySize = 4096;  // runtime text after doubling '#'

// The instance whose evaluation runs on this thread: runtime messages of
// evaluations on different threads reach their own instance.
thread_local fmiInstance *fmiEvaluatingInstance = nullptr;

bool dropped(const fmiInstance *instance, fmi2Status status) {
  return instance->loggingOn == 0 && status == fmi2OK;
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

void deliver(fmiInstance *instance, fmi2String instanceName, fmi2Status status,
             fmi2String category, const char *composed) {
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
  } catch (...) {
  }
}

void vlog(fmiInstance *instance, fmi2String instanceName, fmi2Status status,
          fmi2String category, const char *format, va_list args) {
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

}  // namespace

void fmiLog(fmiInstance *instance, fmi2String instanceName, fmi2Status status,
            fmi2String category, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vlog(instance, instanceName, status, category, format, args);
  va_end(args);
}

void fmiAppendPending(fmiInstance *instance, fmi2String /*instanceName*/, fmi2Status status,
                      fmi2String /*category*/, const char *format, ...) {
  if (instance == nullptr || dropped(instance, status)) return;
  size_t pending = pendingLength(instance);
  char *end = instance->pendingText + pending;
  // The area's last byte is never used: the text and its zero fit in 255 bytes.
  const size_t room = kFmiPendingSize - 1 - pending;
  va_list args;
  va_start(args, format);
  int n = vsnprintfFullC(end, room, format, args);
  va_end(args);
  if (n <= 0 || static_cast<size_t>(n) >= room) {
    emptyPending(instance);
    return;
  }
  instance->pendingEnd = end + n;
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
  fmiInstance *target = fmiEvaluatingInstance;
  if (target == nullptr) return;
  if (emit != 0) {
    fmiLog(target, target->instanceName, status, "", "%s", copy);
  } else {
    fmiAppendPending(target, target->instanceName, status, "", "%s", copy);
  }
}

fmiInstance *fmiGetEvaluatingInstance() { return fmiEvaluatingInstance; }

void fmiSetEvaluatingInstance(fmiInstance *instance) { fmiEvaluatingInstance = instance; }
