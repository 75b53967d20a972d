// fmuhost's handling of the unit's log messages: held per call, dropped and
// counted when the call ends fmi2OK, shown after the call's report when it
// does not, equal messages in a row folded into one line with a count;
// with --log every message at once.
#include "tools/fmuhost/messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The text written to a memory stream.
class Captured {
public:
  Captured() : stream_(open_memstream(&data_, &size_)) {}
  ~Captured() {
    std::fclose(stream_);
    std::free(data_);
  }
  FILE *stream() { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(data_, size_);
  }

private:
  char *data_ = nullptr;
  std::size_t size_ = 0;
  FILE *stream_;
};

TEST(MessageLog, MessagesOfACallThatEndsOkAreCountedNotShown) {
  Captured err;
  fmuhost::MessageLog log(err.stream(), false);
  log.add(fmi2Error, "unit", "", "trial rejected");
  log.add(fmi2Warning, "unit", "", "step reduced");
  log.callEnded("fmi2DoStep", fmi2OK, 1.5);
  log.callEnded("fmi2GetReal", fmi2OK, 1.5);
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(log.heldBack(), 2);
  log.summary();
  EXPECT_EQ(err.text(),
            "fmuhost: 2 messages of calls that ended fmi2OK not shown (--log shows every "
            "message)\n");
}

TEST(MessageLog, ACallThatFailsIsReportedWithItsMessagesFolded) {
  Captured err;
  fmuhost::MessageLog log(err.stream(), false);
  log.add(fmi2Error, "unit", "", "held back");
  log.callEnded("fmi2DoStep", fmi2OK, 1);
  for (int i = 0; i < 41; ++i) log.add(fmi2Error, "unit", "", "Model error - sqrt");
  log.add(fmi2Error, "unit", "cat", "Model error - sqrt");
  log.add(fmi2Warning, "unit", "", "Model error - sqrt");
  log.add(fmi2Error, "unit", "", "dsblock_ failed");
  log.callEnded("fmi2GetDerivatives", fmi2Discard, 15.64, " (more)");
  EXPECT_EQ(err.text(), "fmuhost: fmi2GetDerivatives returned fmi2Discard at t = 15.64 (more)\n"
                        "[fmi2Error] unit: Model error - sqrt (repeated 41 times)\n"
                        "[fmi2Error] unit cat: Model error - sqrt\n"
                        "[fmi2Warning] unit: Model error - sqrt\n"
                        "[fmi2Error] unit: dsblock_ failed\n");
  // Shown once: the next call starts with none held.
  log.callEnded("fmi2Terminate", fmi2Warning, 15.64);
  const std::string text = err.text();
  EXPECT_EQ(text.substr(text.rfind("fmuhost:")),
            "fmuhost: fmi2Terminate returned fmi2Warning at t = 15.64\n");
  EXPECT_EQ(log.heldBack(), 1);
}

TEST(MessageLog, WithLogEveryMessageShowsAsItComes) {
  Captured err;
  fmuhost::MessageLog log(err.stream(), true);
  log.add(fmi2OK, "unit", "", "fmi2DoStep...");
  EXPECT_EQ(err.text(), "[fmi2OK] unit: fmi2DoStep...\n");
  log.add(fmi2OK, "unit", "", "fmi2DoStep...");
  log.callEnded("fmi2DoStep", fmi2OK, 0);
  log.callEnded("fmi2DoStep", fmi2Error, 0.5);
  log.summary();
  EXPECT_EQ(err.text(), "[fmi2OK] unit: fmi2DoStep...\n[fmi2OK] unit: fmi2DoStep...\n"
                        "fmuhost: fmi2DoStep returned fmi2Error at t = 0.5\n");
}

TEST(MessageLog, StatusNamesCoverValuesOutsideTheEnumeration) {
  EXPECT_EQ(fmuhost::statusName(fmi2Fatal), "fmi2Fatal");
  EXPECT_EQ(fmuhost::statusName(static_cast<fmi2Status>(7)), "fmi2Status(7)");
}

} // namespace
