// Runtime messages, reports, assertions and model errors.
//
// All text is formatted into bounded buffers in the "C" locale and handed to
// the one process-wide message hook.  The hook pointer is atomic because the
// FMI layer may install it while another thread reports.
#include "source/runtime_messages.h"

#include "source/clocale/clocale_io.h"
#include "source/error_path.h"
#include "source/kernel.h"
#include "source/matrixop.h"

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

std::atomic<RuntimeMessageFn> messageHook{nullptr};
std::atomic<RuntimeMessageIntFn> messageIntHook{nullptr};

void deliver(const char *text, int emit, int level) {
  if (text == nullptr) text = "";
  if (RuntimeMessageFn hook = messageHook.load(std::memory_order_acquire)) {
    hook(text, emit, level);
  } else if (RuntimeMessageIntFn intHook = messageIntHook.load(std::memory_order_acquire)) {
    (void)intHook(text, emit, level);
  }
}

const char *orEmpty(const char *text) { return text != nullptr ? text : ""; }

// Builds one line in a fixed buffer; what does not fit is cut, and the line
// stays terminated.
template <std::size_t Size> class LineBuilder {
public:
  void append(const char *text) {
    for (const char *p = orEmpty(text); *p != '\0' && length_ + 1 < Size; ++p)
      line_[length_++] = *p;
    line_[length_] = '\0';
  }
  void appendNumber(double value) {
    char number[64];
    snprintfC(number, sizeof number, "%G", value);
    append(number);
  }
  std::size_t length() const { return length_; }
  const char *text() const { return line_; }
  void clear() {
    length_ = 0;
    line_[0] = '\0';
  }

private:
  char line_[Size] = {};
  std::size_t length_ = 0;
};

} // namespace

RuntimeMessageFn setRuntimeMessageHook(RuntimeMessageFn hook) {
  messageIntHook.store(nullptr, std::memory_order_release);
  return messageHook.exchange(hook, std::memory_order_acq_rel);
}

void setRuntimeMessageHook(RuntimeMessageIntFn hook) {
  messageHook.store(nullptr, std::memory_order_release);
  messageIntHook.store(hook, std::memory_order_release);
}

void setRuntimeMessageHook(decltype(nullptr)) {
  messageHook.store(nullptr, std::memory_order_release);
  messageIntHook.store(nullptr, std::memory_order_release);
}

// ---- log lines -------------------------------------------------------------

void logText(const char *text) { deliver(text, 1, 0); }

void logTextLevel(int level, const char *text) { deliver(text, 1, level); }

void appendPendingText(const char *text) { deliver(text, 0, 0); }

void logTextValue(const char *text, double value) { logTextValueLevel(0, text, value); }

void logTextValueLevel(int level, const char *text, double value) {
  char line[200];
  snprintfC(line, sizeof line, "%.160s %.16G", orEmpty(text), value);
  logTextLevel(level, line);
}

int logTextValueZero(const char *text, double value) {
  logTextValue(text, value);
  return 0;
}

void logTextInt(const char *text, int value) {
  char line[200];
  snprintfC(line, sizeof line, "%.160s %i", orEmpty(text), value);
  logText(line);
}

void logMatrixElement(const char *name, int row, int column, double value) {
  char line[200];
  snprintfC(line, sizeof line, "  %.160s[%i, %i] = %G", orEmpty(name), row, column, value);
  logText(line);
}

void logVector(const char *name, const double *values, int n) {
  LineBuilder<2000> line;
  line.append(name);
  line.append(" = {");
  for (int i = 0; i < n; ++i) {
    if (i > 0) line.append(", ");
    line.appendNumber(values[i]);
  }
  line.append("}");
  logText(line.text());
}

void logMatrix(const char *name, const double *values, int rows, int columns,
               int leadingDimension) {
  LineBuilder<300> line;
  line.append(name);
  line.append(" = ");
  line.append("{");
  logText(line.text());
  logText("");
  for (int i = 1; i <= rows; ++i) {
    line.clear();
    line.append("{");
    for (int j = 1; j <= columns; ++j) {
      if (j > 1) line.append(", ");
      if (line.length() > 200) {
        logText(line.text());
        line.clear();
      }
      std::ptrdiff_t index = static_cast<std::ptrdiff_t>(i - 1) +
                             static_cast<std::ptrdiff_t>(leadingDimension) * (j - 1);
      line.appendNumber(values[index]);
    }
    line.append("}");
    if (i < rows) line.append(", ");
    logText(line.text());
  }
  logText("");
  logText("};");
}

void appendMatrixRow(double *matrix, int leadingDimension, int n, int *count, const double *source,
                     int sourceCount) {
  *count += 1;
  for (int j = 1; j <= n; ++j) {
    std::ptrdiff_t index = static_cast<std::ptrdiff_t>(*count - 1) +
                           static_cast<std::ptrdiff_t>(leadingDimension) * (j - 1);
    matrix[index] = j <= sourceCount ? source[j - 1] : 0.0;
  }
}

// ---- reports ---------------------------------------------------------------

double runtimeReport(const char *text, int level) {
  const int *options = getIUSER();
  bool suppressed = options != nullptr && (options[1] & 0x400) != 0;
  if (!suppressed) {
    const char *header = level == 1 ? "Warning: The following was detected at time:"
                                    : "Error: The following error was detected at time:";
    logTextValueLevel(level, header, getCurrentTime());
    logTextLevel(level, text);
    ThreadContext *context = findThreadContext();
    if (context != nullptr && context->functionStack != nullptr) {
      logTextLevel(level, "The stack of functions is:");
      // A warning returns into the frames it names: their entries stay.  An
      // error unwinds them, so it pops them as it prints.
      FunctionStackEntry *entry = context->functionStack;
      for (; entry != nullptr; entry = entry->next) logTextLevel(level, entry->name);
      if (level != 1) context->functionStack = nullptr;
      logTextLevel(level, "");
    }
  }
  if (level == 1) return 0.0;
  unwindToRecoveryPoint(level);
}

double raiseModelError(const char *text) {
  runtimeReport(text, 2);
  unwindToRecoveryPoint(2); // not reached: level 2 never returns
}

void runtimeAssert(int ok, const char *condition, const char *message) {
  if (ok != 0) return;
  char text[1000];
  snprintfC(text, sizeof text, "  %.400s\n  Failed condition: %.400s", orEmpty(message),
            orEmpty(condition));
  raiseModelError(text);
}

void runtimeAssertLevel(int ok, const char *condition, const char *message, int level,
                        int *onceFlag) {
  if (ok != 0) return;
  char text[1000];
  snprintfC(text, sizeof text, "  %.400s\n  Failed condition: %.400s\n", orEmpty(message),
            orEmpty(condition));
  if (level == 1) {
    if (onceFlag != nullptr && *onceFlag == 1) return;
    if (onceFlag != nullptr) *onceFlag = 1;
    runtimeReport(text, 1);
    return;
  }
  raiseModelError(text);
}

double modelDivisionError(const char *numeratorText, double numerator, const char *denominatorText,
                          double denominator) {
  char text[1000];
  snprintfC(text, sizeof text,
            "\nModel error - division by zero: (%.400s) / (%.400s) = (%g) / (%g)\n",
            orEmpty(numeratorText), orEmpty(denominatorText), numerator, denominator);
  raiseModelError(text);
}

double modelReciprocalError(const char *denominatorText, double denominator) {
  modelDivisionError("1.0", 1.0, denominatorText, denominator);
}

double modelFunctionError(const char *argumentText, double argument, const char *functionName) {
  char text[1000];
  snprintfC(text, sizeof text, "\nModel error - %s (%.400s) = %s (%g)\n", orEmpty(functionName),
            orEmpty(argumentText), orEmpty(functionName), argument);
  raiseModelError(text);
}
