// Internals of the FMI layer that no fmi2 call shows: the resources folder
// taken from the resource location, the runtime message hook with its '#'
// doubling and pending text, and the kernel's work arrays after a release.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fmi/fmiEvaluate.h"
#include "fmi/fmiInstance.h"
#include "fmi/fmiInstantiate.h"
#include "fmi/fmiLog.h"
#include "fmi/fmiResource.h"
#include "fmi/fmiVariables.h"
#include "model/ModelInstanceData.h"
#include "model/model_data.h"
#include "source/kernel.h"
#include "tests/support/fmi_host.h"

namespace {

fmiInstance *create(fmihost::HostCallbacks &host, const char *location = nullptr,
                    bool loggingOn = true) {
  return fmiInstantiateCommon("unit", FMI_MODEL_GUID, location, &host.functions(), fmi2False,
                              loggingOn ? fmi2True : fmi2False);
}

// Runs fn as if an evaluation of c were under way on this thread.
template <typename Fn> void duringEvaluation(fmiInstance *c, Fn fn) {
  fmiSetEvaluatingInstance(c);
  fn();
  fmiSetEvaluatingInstance(nullptr);
}

TEST(ResourceLocation, LocalFileUrisGiveTheirPath) {
  struct Case {
    const char *location;
    bool accepted;
    const char *path;
  };
  const std::vector<Case> cases = {
      {"file:///tmp/u/resources", true, "/tmp/u/resources"},
      {"file:/tmp/u/resources", true, "/tmp/u/resources"},
      {"file://localhost/tmp/u/resources", true, "/tmp/u/resources"},
      {"file:///tmp/my%20unit/res%2Fx", true, "/tmp/my unit/res/x"},
      {"file:///tmp/a%zz%4", true, "/tmp/a%zz%4"},
      {"file:///tmp/a%00b", true, "/tmp/a%00b"},
      {"file://otherhost/tmp/u", false, ""},
      {"file:relative/path", false, ""},
      {"file://", false, ""},
      {"http://example.org/u", false, ""},
      {"/tmp/u/resources", false, ""},
      {nullptr, false, ""},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.location != nullptr ? k.location : "null");
    char out[64];
    EXPECT_EQ(fmiResourceFolder(k.location, out, sizeof out), k.accepted);
    EXPECT_STREQ(out, k.path);
  }
  char small[6];
  EXPECT_TRUE(fmiResourceFolder("file:///abcdefgh", small, sizeof small));
  EXPECT_STREQ(small, "/abcd");
}

TEST(ResourceLocation, InstantiationStoresTheFolder) {
  fmihost::HostCallbacks host;
  for (const char *location :
       {"file:///tmp/u/resources", "file:/tmp/u/resources", "file://localhost/tmp/u/resources"}) {
    SCOPED_TRACE(location);
    fmiInstance *c = create(host, location);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->runtime->resourcePath, "/tmp/u/resources/");
    fmiFreeModelInstance(c);
  }
  fmiInstance *c = create(host, "http://example.org/u");
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->runtime->resourcePath, "");
  fmiFreeModelInstance(c);
}

TEST(RuntimeMessages, HashesAreDoubledAndLevelsMapped) {
  fmihost::HostCallbacks host;
  fmiInstance *c = create(host);
  ASSERT_NE(c, nullptr);
  struct Case {
    int level;
    fmi2Status status;
  };
  for (const Case &k : std::vector<Case>{
           {0, fmi2OK}, {1, fmi2Warning}, {2, fmi2Error}, {7, fmi2Error}, {-1, fmi2Error}}) {
    SCOPED_TRACE(k.level);
    host.clearMessages();
    duringEvaluation(c, [&] { fmiRuntimeMessage("a#b 50% ##", 1, k.level); });
    auto m = host.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].message, "a##b 50% ####");
    EXPECT_EQ(m[0].status, k.status);
    EXPECT_EQ(m[0].instanceName, "unit");
    EXPECT_EQ(m[0].category, "");
  }
  // Outside an evaluation the text is dropped.
  host.clearMessages();
  fmiRuntimeMessage("lost", 1, 2);
  EXPECT_TRUE(host.messages().empty());
  fmiFreeModelInstance(c);
}

TEST(RuntimeMessages, ComposedMessageIsCutAt1022Characters) {
  fmihost::HostCallbacks host;
  fmiInstance *c = create(host);
  ASSERT_NE(c, nullptr);
  host.clearMessages();
  fmiAppendPending(c, c->instanceName, fmi2OK, "", "%s", "pending ");
  const std::string text(5000, 'x');
  duringEvaluation(c, [&] { fmiRuntimeMessage(text.c_str(), 1, 1); });
  auto m = host.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].message, "pending " + std::string(1022 - 8, 'x'));
  fmiFreeModelInstance(c);
}

TEST(RuntimeMessages, LoggingOffDropsOnlyLevelZero) {
  fmihost::HostCallbacks host;
  fmiInstance *c = create(host, nullptr, false);
  ASSERT_NE(c, nullptr);
  duringEvaluation(c, [&] {
    fmiRuntimeMessage("info", 1, 0);
    fmiRuntimeMessage("careful", 1, 1);
  });
  auto m = host.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].message, "careful");
  EXPECT_EQ(m[0].status, fmi2Warning);
  fmiFreeModelInstance(c);
}

TEST(PendingText, PrefixesTheNextMessage) {
  fmihost::HostCallbacks host;
  fmiInstance *c = create(host);
  ASSERT_NE(c, nullptr);
  host.clearMessages();
  const std::string hundred(100, 'p');
  duringEvaluation(c, [&] {
    fmiRuntimeMessage(hundred.c_str(), 0, 0);
    fmiRuntimeMessage("x", 1, 1);
  });
  auto m = host.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].message, hundred + "x");
  EXPECT_EQ(m[0].status, fmi2Warning);
  EXPECT_EQ(c->pendingEnd, c->pendingText);

  // Pending text with a '%' reaches the host unchanged.
  host.clearMessages();
  fmiAppendPending(c, c->instanceName, fmi2OK, "", "%s", "100% ");
  fmiLog(c, c->instanceName, fmi2OK, "", "done");
  ASSERT_EQ(host.messages().size(), 1u);
  EXPECT_EQ(host.messages()[0].message, "100% done");
  fmiFreeModelInstance(c);
}

TEST(PendingText, TextThatDoesNotFitSendsThePendingTextFirst) {
  fmihost::HostCallbacks host;
  fmiInstance *c = create(host);
  ASSERT_NE(c, nullptr);
  host.clearMessages();
  const std::string first(200, 'a'), second(200, 'b');
  fmiAppendPending(c, c->instanceName, fmi2OK, "", "%s", first.c_str());
  fmiAppendPending(c, c->instanceName, fmi2Warning, "", "%s", second.c_str());
  fmiLog(c, c->instanceName, fmi2OK, "", "next");
  ASSERT_EQ(host.messages().size(), 2u);
  EXPECT_EQ(host.messages()[0].message, first);
  EXPECT_EQ(host.messages()[0].status, fmi2Warning) << "at the status of the text that did not fit";
  EXPECT_EQ(host.messages()[1].message, second + "next");
  // 254 characters fit, 255 do not.
  host.clearMessages();
  const std::string fits(254, 'c');
  fmiAppendPending(c, c->instanceName, fmi2OK, "", "%s", fits.c_str());
  EXPECT_EQ(c->pendingEnd, c->pendingText + 254);
  EXPECT_TRUE(host.messages().empty());
  fmiAppendPending(c, c->instanceName, fmi2OK, "", "d");
  EXPECT_EQ(c->pendingEnd, c->pendingText + 1);
  ASSERT_EQ(host.messages().size(), 1u);
  EXPECT_EQ(host.messages()[0].message, fits);
  // A text longer than the whole area follows what is pending on its own.
  host.clearMessages();
  const std::string longer(300, 'e');
  fmiAppendPending(c, c->instanceName, fmi2OK, "", "%s", longer.c_str());
  EXPECT_EQ(c->pendingEnd, c->pendingText);
  ASSERT_EQ(host.messages().size(), 2u);
  EXPECT_EQ(host.messages()[0].message, "d");
  EXPECT_EQ(host.messages()[1].message, longer);
  // Pending text stays while its message is dropped (logging off, fmi2OK).
  fmiAppendPending(c, c->instanceName, fmi2OK, "", "kept ");
  c->loggingOn = 0;
  fmiLog(c, c->instanceName, fmi2OK, "", "dropped");
  fmiLog(c, c->instanceName, fmi2Error, "", "error");
  EXPECT_EQ(host.messages().back().message, "kept error");
  fmiFreeModelInstance(c);
}

// The kernel's DUSER/IUSER pass to a live instance when the instance that
// held them is freed, and become null with the last one.
TEST(WorkArrays, NeverPointIntoAFreedInstance) {
  fmihost::HostCallbacks host;
  fmiInstance *a = create(host);
  fmiInstance *b = create(host);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(getDUSER(), b->duser);
  EXPECT_EQ(getIUSER(), b->iuser);
  double *aDuser = a->duser;
  int32_t *aIuser = a->iuser;
  fmiFreeModelInstance(b);
  EXPECT_EQ(getDUSER(), aDuser);
  EXPECT_EQ(getIUSER(), aIuser);
  fmiInstance *c = create(host);
  ASSERT_NE(c, nullptr);
  fmiFreeModelInstance(a); // not the holder: c keeps them
  EXPECT_EQ(getDUSER(), c->duser);
  fmiFreeModelInstance(c);
  EXPECT_EQ(getDUSER(), nullptr);
  EXPECT_EQ(getIUSER(), nullptr);
  EXPECT_EQ(fmihost::liveBlocks(), 0u);
}

} // namespace

namespace {

// The block-profiling report at terminate: nothing without calls; otherwise
// a header at the instance's name and one line per called block, the name
// cut to 100 characters.
TEST(ProfilingReport, ListsCalledBlocks) {
  fmihost::HostCallbacks host;
  fmiInstance *c = create(host);
  ASSERT_NE(c, nullptr);
  host.clearMessages();
  fmiProfilingReport(c);
  EXPECT_TRUE(host.messages().empty());

  const std::string name(120, 'n');
  ProfileBlock &block = c->runtime->profileBlocks[0];
  block = ProfileBlock{4, 3e-6, 1e-6, 8e-6, name.c_str()};
  c->runtime->profileBlockCount = 1;
  fmiProfilingReport(c);
  auto m = host.messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].instanceName, "unit");
  // The name column is as wide as the longest name (cut to 100).
  EXPECT_EQ(m[0].message,
            "\nProfiling information for the blocks.\n"
            "Estimated overhead per call        1.00[us] total        0.000[s]\n"
            "the estimated overhead has been subtracted below.\n"
            "Name of block" +
                std::string(87, ' ') +
                ", Block, Total CPU[s], Mean[us]    ( Min[us]    to Max[us]    ),   Called\n");
  EXPECT_EQ(m[1].instanceName, "");
  // T = 8e-6 - 4 * 1e-6 = 4e-6 s; mean 1 us; min 0 us; max 2 us.
  EXPECT_EQ(m[1].message, std::string(100, 'n') +
                              ":     0,        0.000,        1.00 (       0.00 to        2.00),"
                              "        4\n");
  block = ProfileBlock{};
  c->runtime->profileBlockCount = 0;
  fmiFreeModelInstance(c);
}

} // namespace

namespace {

// Setting a parameter to the value it has changes nothing: no change count,
// no new evaluation; a different value moves both.
TEST(ChangeTracking, OnlyRealChangesCount) {
  fmihost::HostCallbacks host;
  fmiInstance *c = create(host);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(fmiEnterInitializationModeME(c), fmi2OK);
  ASSERT_EQ(fmiExitInitializationMode(c), fmi2OK);
  c->computedLevel = 3;
  c->valuesChanged = 0;
  const int32_t count = c->iuser[kIuserChangeCount];
  const fmi2ValueReference hole = 0x01000001;
  const double same = 0.1, other = 0.2;
  ASSERT_EQ(fmiSetReal(c, &hole, 1, &same), fmi2OK);
  EXPECT_EQ(host.messages().back().message, "fmiSetReal: #r16777217# = 0.1");
  EXPECT_EQ(c->iuser[kIuserChangeCount], count);
  EXPECT_EQ(c->computedLevel, 3);
  EXPECT_EQ(c->valuesChanged, 0);
  ASSERT_EQ(fmiSetReal(c, &hole, 1, &other), fmi2OK);
  EXPECT_EQ(c->iuser[kIuserChangeCount], count + 1);
  EXPECT_EQ(c->computedLevel, 0);
  EXPECT_EQ(c->valuesChanged, 1);
  fmiFreeModelInstance(c);
}

} // namespace

namespace {

// String variables, on a record that has one (the model itself has none):
// at most 500 characters stored, the full text logged, every set counted;
// category 13 reads but is never written.
TEST(StringVariables, SetStoresAtMost500CharactersAndGetReturnsTheOwnBuffer) {
  fmihost::HostCallbacks host;
  char buffer[kFmiStringBufferSize] = "start";
  char *strings[2] = {buffer, nullptr};
  int32_t iuser[kFmiIuserSize] = {};
  fmiInstance c{};
  c.functions = &host.functions();
  c.pendingEnd = c.pendingText;
  c.loggingOn = 1;
  c.instanceName = const_cast<char *>("unit");
  c.nstr = 1;
  c.strings = strings;
  c.iuser = iuser;
  c.state = fmiStateContinuousTimeMode;
  c.computedLevel = 15; // nothing to evaluate

  const fmi2ValueReference vr = 0x08000000, readOnly = 0x0D000000;
  const std::string text(600, 't');
  const fmi2String value = text.c_str();
  ASSERT_EQ(fmiSetString(&c, &vr, 1, &value), fmi2OK);
  EXPECT_EQ(std::string(buffer), text.substr(0, 500));
  EXPECT_EQ(host.messages().back().message, "fmi2SetString: #s134217728# = " + text);
  ASSERT_EQ(fmiSetString(&c, &vr, 1, &value), fmi2OK);
  EXPECT_EQ(iuser[kIuserChangeCount], 2); // also when the text did not change

  for (fmi2ValueReference ref : {vr, readOnly}) {
    SCOPED_TRACE(ref);
    fmi2String got = nullptr;
    ASSERT_EQ(fmiGetString(&c, &ref, 1, &got), fmi2OK);
    EXPECT_EQ(got, buffer);
    EXPECT_EQ(host.messages().back().message,
              "fmi2GetString: #s" + std::to_string(ref) + "# = " + text.substr(0, 500));
  }
  EXPECT_EQ(fmiSetString(&c, &readOnly, 1, &value), fmi2Warning);
  EXPECT_EQ(host.messages().back().message, "fmi2SetString: cannot set #s218103808#  ");
  const fmi2ValueReference past = 0x08000001;
  fmi2String got = nullptr;
  EXPECT_EQ(fmiGetString(&c, &past, 1, &got), fmi2Warning);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(iuser[kIuserChangeCount], 2);
}

} // namespace
