// The shared library as the dynamic linker sees it: exactly the 44 fmi2
// functions and the utility functions of external C code exported, nothing
// unresolved, and no run-time needs beyond the C runtime (libc, libm, libdl,
// libpthread and the loader itself).
#include "tests/support/fmi_host.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

// Output of a shell command (stdout and stderr), and its exit status.
std::string runCommand(const std::string &command, int *status = nullptr) {
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  if (!pipe) return "<popen failed>";
  std::string out;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
    out.append(buffer.data(), n);
  int rc = pclose(pipe.release());
  if (status) *status = rc;
  return out;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The names that a model's external C libraries call (ModelicaError and the
// rest); they bind to the unit's own copies.
const std::set<std::string> utilityNames = {"ModelicaMessage",
                                            "ModelicaFormatMessage",
                                            "ModelicaVFormatMessage",
                                            "ModelicaWarning",
                                            "ModelicaFormatWarning",
                                            "ModelicaVFormatWarning",
                                            "ModelicaError",
                                            "ModelicaFormatError",
                                            "ModelicaVFormatError",
                                            "ModelicaAllocateString",
                                            "ModelicaAllocateStringWithErrorReturn",
                                            "ModelicaDuplicateString"};

TEST(UnitExports, ExactlyTheFortyFourFmi2FunctionsAndTheUtilityFunctions) {
  int status = 0;
  std::string out = runCommand(std::string("nm -D --defined-only ") + UNIT_SO_PATH, &status);
  ASSERT_EQ(status, 0) << out;
  std::set<std::string> exported;
  std::string others;
  // "<address> <type> <name>"; absolute symbols (type A) are version nodes.
  for (const std::string &line : lines(out)) {
    std::istringstream words(line);
    std::string address, type, name, rest;
    if (!(words >> address >> type >> name) || (words >> rest) || type.size() != 1) {
      others += line + "\n";
      continue;
    }
    if (type == "A") continue;
    if (name.find('@') != std::string::npos) name.resize(name.find('@'));
    exported.insert(name);
  }
  EXPECT_TRUE(others.empty()) << "unreadable nm lines:\n" << others;
  const auto &names = fmihost::fmi2FunctionNames();
  std::set<std::string> expected(names.begin(), names.end());
  ASSERT_EQ(expected.size(), 44u);
  expected.insert(utilityNames.begin(), utilityNames.end());
  for (const std::string &name : expected) EXPECT_TRUE(exported.count(name)) << "missing " << name;
  for (const std::string &name : exported) EXPECT_TRUE(expected.count(name)) << "extra " << name;

  // And they are reachable through dlopen as a host finds them.
  EXPECT_NO_THROW(fmihost::Fmi2Library lib(UNIT_SO_PATH));
  void *unit = dlopen(UNIT_SO_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(unit, nullptr) << dlerror();
  for (const std::string &name : utilityNames) {
    EXPECT_NE(dlsym(unit, name.c_str()), nullptr) << name;
  }
  dlclose(unit);
}

TEST(UnitExports, NoUnresolvedSymbolsAndOnlyTheCRuntimeNeeded) {
  int status = 0;
  std::string out = runCommand(std::string("ldd -r ") + UNIT_SO_PATH, &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("undefined symbol"), std::string::npos) << out;
  EXPECT_EQ(out.find("not found"), std::string::npos) << out;

  // Each line: "<name> => <path> (<address>)" or "<path> (<address>)".
  const std::set<std::string> runtime = {"linux-vdso.so.1",
                                         "libc.so.6",
                                         "libm.so.6",
                                         "libdl.so.2",
                                         "libpthread.so.0",
                                         "ld-linux-x86-64.so.2",
                                         "/lib64/ld-linux-x86-64.so.2"};
  // A sanitizer build needs the sanitizer runtimes as well.
  const std::set<std::string> sanitizer = {"libasan.so.8", "libubsan.so.1", "libgcc_s.so.1",
                                           "libstdc++.so.6"};
  std::set<std::string> libraries;
  for (const std::string &line : lines(out)) {
    std::istringstream words(line);
    std::string name;
    if (words >> name) libraries.insert(name);
  }
  EXPECT_TRUE(libraries.count("libc.so.6")) << out;
  for (const std::string &name : libraries) {
    bool allowed = runtime.count(name) || (UNIT_SANITIZED && sanitizer.count(name));
    EXPECT_TRUE(allowed) << "unexpected run-time dependency " << name << "\n" << out;
  }
}

// The newest glibc symbol version the library references: 2.35 (the
// unwinder's _dl_find_object), not the 2.36 of arc4random, which the static
// C++ runtime's std::random_device would bring if it were linked in.
TEST(UnitExports, NeedsNoGlibcNewerThan2_35) {
  int status = 0;
  std::string out = runCommand(std::string("objdump -T ") + UNIT_SO_PATH, &status);
  ASSERT_EQ(status, 0) << out;
  int newest = 0;
  std::string newestName;
  for (std::size_t at = 0; (at = out.find("GLIBC_2.", at)) != std::string::npos;) {
    at += 8;
    int minor = std::atoi(out.c_str() + at);
    if (minor > newest) {
      newest = minor;
      newestName =
          out.substr(out.rfind('\n', at) + 1, out.find('\n', at) - out.rfind('\n', at) - 1);
    }
  }
  EXPECT_GT(newest, 0) << out;
  EXPECT_LE(newest, 35) << newestName;
  EXPECT_EQ(out.find("arc4random"), std::string::npos);
}

} // namespace
