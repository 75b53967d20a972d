// Storing and deriving resources folders, the module's own path and the
// UTF-8 to UTF-16 conversion, in the test process itself.

#include "source/dsblock5/modulepath.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/ModelInstanceData.h"

namespace {

std::unique_ptr<ModelInstanceData> newRecord() {
  auto record = std::make_unique<ModelInstanceData>();
  std::memset(record.get(), 0, sizeof(ModelInstanceData));
  return record;
}

TEST(InstanceResourcePath, EndsInOneSeparator) {
  struct Case {
    const char *path;
    const char *stored;
  };
  const Case cases[] = {
      {"C:/units/vorn/resources", "C:/units/vorn/resources/"},
      {"/units/vorn/resources/", "/units/vorn/resources/"},
      {"C:\\units\\vorn\\resources\\", "C:\\units\\vorn\\resources\\"},
      {"", ""},
      {nullptr, ""},
  };
  auto record = newRecord();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path != nullptr ? c.path : "(null)");
    std::strcpy(record->resourcePath, "stale/");
    setResourcePath(record.get(), c.path);
    EXPECT_STREQ(record->resourcePath, c.stored);
  }
}

TEST(InstanceResourcePath, EmptyFolderFallsBackToTheDefault) {
  auto record = newRecord();
  setResourcePath(record.get(), "/units/vorn/resources");
  EXPECT_STREQ(getResourcePath(record.get()), "/units/vorn/resources/");
  setResourcePath(record.get(), "");
  EXPECT_STREQ(getResourcePath(record.get()), getResourcePath(nullptr));
}

TEST(InstanceResourcePath, LongPathKeepsItsFirst1022Characters) {
  auto record = newRecord();
  std::string path(1500, 'a');
  setResourcePath(record.get(), path.c_str());
  EXPECT_EQ(std::string(record->resourcePath), std::string(1022, 'a') + "/");

  path[1021] = '/';
  setResourcePath(record.get(), path.c_str());
  EXPECT_EQ(std::string(record->resourcePath), path.substr(0, 1022));
}

TEST(DefaultResourcePath, IsStoredWithSeparatorAndBounded) {
  setDefaultResourcePath("R:/res");
  EXPECT_STREQ(getResourcePath(nullptr), "R:/res/");

  setDefaultResourcePath(std::string(1500, 'r').c_str());
  EXPECT_EQ(std::string(getResourcePath(nullptr)), std::string(998, 'r') + "/");

  setDefaultResourcePath(nullptr);
}

TEST(DeriveResourcePath, FolderTwoLevelsAboveTheModuleFolder) {
  struct Case {
    const char *moduleFile;
    const char *folder;
  };
  const Case cases[] = {
      {"/units/vorn/binaries/linux64/vornwin3264.so", "/units/vorn/resources/"},
      {"units/vorn/binaries/linux64/vornwin3264.so", "units/vorn/resources/"},
      // Fewer separators end the cutting early.
      {"C:/vornwin3264.so", "C:resources/"},
      // The root folder is its own parent.
      {"/vornwin3264.so", "/resources/"},
      {"/top/vornwin3264.so", "/resources/"},
      {"/top/binaries/vornwin3264.so", "/resources/"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.moduleFile);
    char buffer[kModulePathBufferSize];
    std::strcpy(buffer, c.moduleFile);
    ASSERT_TRUE(deriveResourcePath(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, c.folder);
  }
}

TEST(DeriveResourcePath, RefusesAnEmptyNameAndAFolderThatDoesNotFit) {
  char buffer[kModulePathBufferSize] = "";
  EXPECT_FALSE(deriveResourcePath(buffer, sizeof buffer));

  // 989 characters and "resources/" fill the buffer exactly.
  std::strcpy(buffer, std::string(989, 'm').c_str());
  ASSERT_TRUE(deriveResourcePath(buffer, sizeof buffer));
  EXPECT_EQ(std::strlen(buffer), kModulePathBufferSize - 1);

  std::strcpy(buffer, std::string(990, 'm').c_str());
  EXPECT_FALSE(deriveResourcePath(buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "");
}

TEST(ModulePath, NamesTheModuleThatHoldsTheRuntime) {
  // Linked into this executable, the runtime's module is the executable.
  char *exe = realpath("/proc/self/exe", nullptr);
  ASSERT_NE(exe, nullptr);
  EXPECT_STREQ(getModulePath(), exe);
  std::free(exe);
  EXPECT_NE(getModuleBase(), nullptr);
}

TEST(Utf8ToWide, ConvertsOneTwoAndThreeByteSequences) {
  struct Case {
    const char *text;
    std::vector<char16_t> units;
  };
  const Case cases[] = {
      {"", {}},
      {"ab", {u'a', u'b'}},
      {"\xC3\xA9", {0x00E9}},
      {"x\xE2\x82\xAC", {u'x', 0x20AC}},
      // Any other byte of 0x80 or more leads three bytes.
      {"\x80\x41\x42", {0x0042}},
      // A sequence cut by the terminator ends the text before it.
      {"a\xC3", {u'a'}},
      {"a\xE2\x82", {u'a'}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    char16_t *wide = utf8ToWide(c.text);
    ASSERT_NE(wide, nullptr);
    std::vector<char16_t> units;
    for (const char16_t *p = wide; *p != 0; ++p) units.push_back(*p);
    EXPECT_EQ(units, c.units);
    std::free(wide);
  }
}

} // namespace
