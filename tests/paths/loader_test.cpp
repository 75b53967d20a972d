// The resources folder and the library loader seen from an FMU tree: a
// probe module carrying the module-path code is copied to
// <tmp>/unit/binaries/linux64/vornwin3264.so next to an external function
// library, loaded, and asked for its paths and loads.

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "source/dsblock5/modulepath.h"

namespace fs = std::filesystem;

namespace {

using PathQuery = const char *(*)();
using SetPath = void (*)(const char *);
using LoadLibraries = void (*)(const char **, void ***, int);
using ExternalValue = int (*)();

bool isLoaded(const std::string &file) {
  void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

class ModuleTree : public testing::Test {
protected:
  // Builds the tree under a fresh temporary folder; nest adds one folder
  // level of that many characters above "unit".
  void build(std::size_t nest = 0) {
    makeTree(nest);
    open((binaries_ / "vornwin3264.so").string());
  }
  // The tree of build, without loading the probe.
  void makeTree(std::size_t nest = 0) {
    std::string pattern = (fs::temp_directory_path() / "paths-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern);
    fs::path top = root_;
    while (nest > 0) {
      const std::size_t part = nest < 200 ? nest : 200;
      top /= std::string(part, 'n');
      nest -= part;
    }
    unit_ = top / "unit";
    binaries_ = unit_ / "binaries" / "linux64";
    fs::create_directories(binaries_);
    fs::copy_file(PATHS_PROBE_MODULE, binaries_ / "vornwin3264.so");
    fs::copy_file(PATHS_EXT_LIBRARY, binaries_ / "libpathsext.so");
  }
  // Loads the probe by the name file, as a host would.
  void open(const std::string &file) {
    probe_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(probe_, nullptr) << dlerror();
    modulePath_ = reinterpret_cast<PathQuery>(dlsym(probe_, "probeModulePath"));
    resourcePath_ = reinterpret_cast<PathQuery>(dlsym(probe_, "probeResourcePath"));
    setDefault_ = reinterpret_cast<SetPath>(dlsym(probe_, "probeSetDefaultResourcePath"));
    load_ = reinterpret_cast<LoadLibraries>(dlsym(probe_, "probeLoadLibraries"));
    ASSERT_TRUE(modulePath_ && resourcePath_ && setDefault_ && load_);
  }

  void TearDown() override {
    if (probe_ != nullptr) dlclose(probe_);
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }

  std::string extLibrary() const { return (binaries_ / "libpathsext.so").string(); }

  fs::path root_, unit_, binaries_;
  void *probe_ = nullptr;
  PathQuery modulePath_ = nullptr;
  PathQuery resourcePath_ = nullptr;
  SetPath setDefault_ = nullptr;
  LoadLibraries load_ = nullptr;
};

TEST_F(ModuleTree, ResourcesFolderLiesTwoLevelsAboveTheModuleFolder) {
  build();
  EXPECT_EQ(std::string(modulePath_()), (binaries_ / "vornwin3264.so").string());
  EXPECT_EQ(std::string(resourcePath_()), unit_.string() + "/resources/");
}

TEST_F(ModuleTree, SymlinkedModuleIsNamedByTheLinkNotByItsTarget) {
  makeTree();
  const fs::path store = root_ / "store" / "abc";
  fs::create_directories(store);
  fs::rename(binaries_ / "vornwin3264.so", store / "vornwin3264.so");
  fs::create_symlink(store / "vornwin3264.so", binaries_ / "vornwin3264.so");
  open((binaries_ / "vornwin3264.so").string());
  EXPECT_EQ(std::string(modulePath_()), (binaries_ / "vornwin3264.so").string());
  EXPECT_EQ(std::string(resourcePath_()), unit_.string() + "/resources/");
}

TEST_F(ModuleTree, RelativeLoadIsNamedFromTheFolderOfTheLoad) {
  makeTree();
  const fs::path previous = fs::current_path();
  for (const char *name :
       {"unit/binaries/linux64/vornwin3264.so", "./unit//binaries/./linux64/vornwin3264.so"}) {
    SCOPED_TRACE(name);
    fs::current_path(root_);
    open(name);
    // The first queries come after a change of the working folder.
    fs::current_path("/");
    EXPECT_EQ(std::string(modulePath_()), (binaries_ / "vornwin3264.so").string());
    EXPECT_EQ(std::string(resourcePath_()), unit_.string() + "/resources/");
    dlclose(probe_);
    probe_ = nullptr;
  }
  fs::current_path(previous);
}

TEST_F(ModuleTree, ModuleInATopLevelFolderHasTheRootResourcesFolder) {
  std::string pattern = "/paths-top-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) GTEST_SKIP() << "no folder can be made under /";
  root_ = pattern;
  fs::copy_file(PATHS_PROBE_MODULE, root_ / "vornwin3264.so");
  open((root_ / "vornwin3264.so").string());
  EXPECT_EQ(std::string(modulePath_()), (root_ / "vornwin3264.so").string());
  EXPECT_STREQ(resourcePath_(), "/resources/");
}

// Loads a copy of the probe into a new namespace and its library through
// it; 0 when the library was loaded.
int loadInAnotherNamespace(const std::string &probe) {
  void *copy = dlmopen(LM_ID_NEWLM, probe.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (copy == nullptr) return 2;
  auto load = reinterpret_cast<LoadLibraries>(dlsym(copy, "probeLoadLibraries"));
  if (load == nullptr) return 3;
  const char *names[] = {"./libpathsext.so", nullptr};
  void **handles = nullptr;
  load(names, &handles, 1);
  const bool loaded = handles != nullptr && handles[0] != nullptr;
  load(names, &handles, 0);
  return loaded ? 0 : 4;
}

// A second copy of the unit in a namespace of its own (dlmopen) has no
// global scope to share its names in; it loads its libraries all the same.
TEST_F(ModuleTree, CopyInAnotherNamespaceLoadsItsLibraries) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's runtime cannot be loaded into a second namespace";
#endif
  build();
  const std::string probe = (binaries_ / "vornwin3264.so").string();
  EXPECT_EXIT(_exit(loadInAnotherNamespace(probe)), testing::ExitedWithCode(0), "");
}

TEST_F(ModuleTree, DefaultSetBeforeTheFirstQueryIsAnsweredWithoutDerivation) {
  build();
  setDefault_("R:/res");
  EXPECT_STREQ(resourcePath_(), "R:/res/");
  // Cleared before any derivation: the next query derives the folder.
  setDefault_("");
  EXPECT_EQ(std::string(resourcePath_()), unit_.string() + "/resources/");
}

TEST_F(ModuleTree, DefaultClearedAfterTheDerivationAnswersTheFallback) {
  build();
  EXPECT_EQ(std::string(resourcePath_()), unit_.string() + "/resources/");
  setDefault_("/other");
  EXPECT_STREQ(resourcePath_(), "/other/");
  setDefault_(nullptr);
  EXPECT_STREQ(resourcePath_(), "VantrelResources/");
}

TEST_F(ModuleTree, ModuleNameLongerThanTheBufferIsNotCut) {
  build(kModulePathBufferSize);
  EXPECT_STREQ(modulePath_(), "");
  EXPECT_STREQ(resourcePath_(), "VantrelResources/");
}

TEST_F(ModuleTree, LoadsEachNameFormAndReleasesEveryHandle) {
  build();
  struct Case {
    std::string name;
    bool loads;
  };
  const Case cases[] = {
      {"./libpathsext.so", true},
      {".\\libpathsext.so", true},
      {extLibrary(), true},
      {"./libmissing.so", false},
      // A bare name is searched by the loader, not in the module's folder.
      {"libpathsext.so", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const char *names[] = {c.name.c_str(), nullptr};
    void **handles = nullptr;
    load_(names, &handles, 1);
    ASSERT_NE(handles, nullptr);
    EXPECT_EQ(handles[0] != nullptr, c.loads);
    if (handles[0] != nullptr) {
      auto value = reinterpret_cast<ExternalValue>(dlsym(handles[0], "pathsExternalValue"));
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(value(), 4711);
    }
    load_(names, &handles, 0);
    EXPECT_EQ(handles, nullptr);
    EXPECT_FALSE(isLoaded(extLibrary()));
  }
}

TEST_F(ModuleTree, EveryInstanceHoldsItsOwnHandles) {
  build();
  const char *names[] = {"./libmissing.so", "./libpathsext.so", nullptr};
  void **first = nullptr;
  void **second = nullptr;
  load_(names, &first, 1);
  load_(names, &second, 1);
  // Loading into an array whose handle is set does not load again.
  load_(names, &second, 1);
  ASSERT_TRUE(first != nullptr && second != nullptr);
  EXPECT_EQ(first[0], nullptr);
  EXPECT_NE(first[1], nullptr);

  load_(names, &first, 0);
  EXPECT_EQ(first, nullptr);
  EXPECT_TRUE(isLoaded(extLibrary()));
  load_(names, &second, 0);
  EXPECT_EQ(second, nullptr);
  EXPECT_FALSE(isLoaded(extLibrary()));
}

TEST_F(ModuleTree, LocalNameWithoutModulePathComesFromTheWorkingFolder) {
  build();
  const fs::path previous = fs::current_path();
  fs::current_path(binaries_);
  const char *names[] = {"./libpathsext.so", nullptr};
  void **handles = nullptr;
  loadExternalLibraries(names, &handles, 1, "");
  fs::current_path(previous);
  ASSERT_NE(handles, nullptr);
  EXPECT_NE(handles[0], nullptr);
  loadExternalLibraries(names, &handles, 0, nullptr);
  EXPECT_EQ(handles, nullptr);
  EXPECT_FALSE(isLoaded(extLibrary()));
}

TEST(ExternalLibraries, NoNamesLoadNothingAndAllocateNoArray) {
  const char *none[] = {nullptr};
  void **handles = nullptr;
  loadExternalLibraries(none, &handles, 1, "/units/vorn/binaries/linux64/vornwin3264.so");
  EXPECT_EQ(handles, nullptr);
  loadExternalLibraries(nullptr, &handles, 1, nullptr);
  EXPECT_EQ(handles, nullptr);
  // Releasing without an array does nothing.
  loadExternalLibraries(none, &handles, 0, nullptr);
  EXPECT_EQ(handles, nullptr);
}

} // namespace
