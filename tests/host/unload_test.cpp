// A host that opens the unit for every run (a parameter sweep that loads,
// instantiates, frees and unloads each time) loses no memory to it.
#include "tests/support/fmi_host.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include "model/model_data.h"

namespace {

// One run: load, instantiate a Co-Simulation instance, step it, free it, unload.
void oneRun() {
  fmihost::Fmi2Library lib(UNIT_SO_PATH);
  fmihost::HostCallbacks host;
  fmi2Component c = lib.fmi.fmi2Instantiate("sweep", fmi2CoSimulation, FMI_MODEL_GUID, nullptr,
                                            &host.functions(), fmi2False, fmi2False);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(lib.fmi.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  EXPECT_EQ(lib.fmi.fmi2EnterInitializationMode(c), fmi2OK);
  EXPECT_EQ(lib.fmi.fmi2ExitInitializationMode(c), fmi2OK);
  EXPECT_EQ(lib.fmi.fmi2DoStep(c, 0.0, 0.1, fmi2True), fmi2OK);
  EXPECT_EQ(lib.fmi.fmi2Terminate(c), fmi2OK);
  lib.fmi.fmi2FreeInstance(c);
}

// Bytes the process holds from malloc.
size_t heapInUse() { return mallinfo2().uordblks; }

TEST(UnitUnload, ThousandLoadUnloadCyclesLoseNothing) {
  for (int i = 0; i < 3; ++i) oneRun(); // the host's own first-use allocations
  const size_t before = heapInUse();
  for (int i = 0; i < 1000; ++i) {
    oneRun();
    if (HasFatalFailure()) return;
  }
  const size_t after = heapInUse();
  // A loss of even 100 bytes per run would show as 100 kB.  (Under the
  // sanitizers malloc is the sanitizer's and this reads 0; LeakSanitizer
  // reports any loss at exit instead.)
  EXPECT_LT(after, before + 64 * 1024) << "before " << before << ", after " << after;
}

} // namespace
