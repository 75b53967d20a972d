// A model's external C library, loaded when the unit is instantiated, binds to
// the unit's utility functions (ModelicaFormatMessage, ModelicaFormatError,
// ModelicaAllocateString, ...), although the host loaded the unit with
// RTLD_LOCAL.  A probe that carries the runtime and the loader stands in for
// the unit in an FMU tree <tmp>/unit/binaries/linux64/.

#include <dlfcn.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

using LoadLibraries = void (*)(const char **, void ***, int);
using RunFunction = const char *(*)(void (*)());
using ExternalFunction = void (*)();
using ReadLine = int (*)(const char *, int);

int openDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto &entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

bool isLoaded(const std::string &file) {
  void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

class UtilityNames : public testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "utility-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern);
    const fs::path binaries = root_ / "unit" / "binaries" / "linux64";
    fs::create_directories(binaries);
    unit_ = (binaries / "vornwin3264.so").string();
    ext_ = (binaries / "libutilityext.so").string();
    fs::copy_file(PATHS_UTILITY_PROBE, unit_);
    fs::copy_file(PATHS_UTILITY_EXT, ext_);
    probe_ = dlopen(unit_.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(probe_, nullptr) << dlerror();
    load_ = reinterpret_cast<LoadLibraries>(dlsym(probe_, "probeLoadLibraries"));
    run_ = reinterpret_cast<RunFunction>(dlsym(probe_, "probeRun"));
    ASSERT_TRUE(load_ && run_);
  }

  void TearDown() override {
    if (probe_ != nullptr) dlclose(probe_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path root_;
  std::string unit_, ext_;
  void *probe_ = nullptr;
  LoadLibraries load_ = nullptr;
  RunFunction run_ = nullptr;
};

TEST_F(UtilityNames, TheUnitExportsThem) {
  for (const char *name :
       {"ModelicaMessage", "ModelicaFormatMessage", "ModelicaVFormatMessage", "ModelicaWarning",
        "ModelicaFormatWarning", "ModelicaVFormatWarning", "ModelicaError", "ModelicaFormatError",
        "ModelicaVFormatError", "ModelicaAllocateString", "ModelicaAllocateStringWithErrorReturn",
        "ModelicaDuplicateString"}) {
    EXPECT_NE(dlsym(probe_, name), nullptr) << name;
  }
}

// Without something done about it, the library cannot be loaded at all: its
// undefined names are not in the scope it searches.
TEST_F(UtilityNames, ARtldLocalUnitLeavesThemOutOfReach) {
  void *direct = dlopen(ext_.c_str(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_EQ(direct, nullptr);
  if (direct != nullptr) dlclose(direct);
  // Loading no library shares nothing.
  const char *none[] = {nullptr};
  void **handles = nullptr;
  load_(none, &handles, 1);
  EXPECT_EQ(handles, nullptr);
  EXPECT_EQ(dlopen(ext_.c_str(), RTLD_NOW | RTLD_LOCAL), nullptr);
}

TEST_F(UtilityNames, ALibraryLoadedAtInstantiationBindsToTheUnit) {
  const char *names[] = {"./libutilityext.so", nullptr};
  void **handles = nullptr;
  load_(names, &handles, 1);
  ASSERT_NE(handles, nullptr);
  ASSERT_NE(handles[0], nullptr) << "the external library was not loaded";
  auto greet = reinterpret_cast<ExternalFunction>(dlsym(handles[0], "utilityExtGreet"));
  auto fail = reinterpret_cast<ExternalFunction>(dlsym(handles[0], "utilityExtFail"));
  ASSERT_TRUE(greet && fail);

  // The texts reach this unit's message path, and an error raised in the C
  // library unwinds to this unit's recovery point.
  EXPECT_STREQ(run_(greet), "00 hello from C|completed");
  EXPECT_STREQ(run_(fail), "12 Error: The following error was detected at time: 0|12 external "
                           "failure 7|failed");

  load_(names, &handles, 0);
  EXPECT_EQ(handles, nullptr);
  EXPECT_FALSE(isLoaded(ext_));
  // Nothing of the unit is held any more: the host's dlclose unloads it.
  dlclose(probe_);
  probe_ = nullptr;
  EXPECT_FALSE(isLoaded(unit_));
}

// The open-file cache closes its streams when the unit is unloaded.
TEST_F(UtilityNames, UnloadingTheUnitClosesItsCachedFiles) {
  const std::string file = (root_ / "lines").string();
  {
    std::FILE *out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs("one\ntwo\n", out);
    std::fclose(out);
  }
  auto readLine = reinterpret_cast<ReadLine>(dlsym(probe_, "probeReadLine"));
  ASSERT_NE(readLine, nullptr);
  const int before = openDescriptors();
  ASSERT_EQ(readLine(file.c_str(), 1), 1);
  EXPECT_EQ(openDescriptors(), before + 1); // the cached reading stream
  dlclose(probe_);
  probe_ = nullptr;
  EXPECT_FALSE(isLoaded(unit_));
  EXPECT_EQ(openDescriptors(), before);
}

} // namespace
