// The call wrappers that hand String arrays back.
#include <filesystem>
#include <set>
#include <string>

#include "tests/modelica/support.h"

namespace {

using CallTest = ModelicaTest;

std::vector<std::string> elements(const StringArray &a) {
  EXPECT_EQ(a.ndims, 1);
  return std::vector<std::string>(a.data, a.data + a.dims[0]);
}

TEST_F(CallTest, ReadFileCallGivesOneElementPerLine) {
  writeFile(path("lines"), "a\nb\r\n" + std::string(300, 'c'));
  EXPECT_EQ(elements(readFileCall(path("lines").c_str())),
            (std::vector<std::string>{"a", "b", std::string(300, 'c')}));
  writeFile(path("empty"), "");
  StringArray none = readFileCall(path("empty").c_str());
  EXPECT_EQ(none.ndims, 1);
  EXPECT_EQ(none.dims[0], 0);
  const std::string missing = path("missing");
  EXPECT_EQ(errorText([&] { readFileCall(missing.c_str()); }),
            "Not possible to open file \"" + missing +
                "\" for reading:\nNo such file or directory\n");
}

TEST_F(CallTest, ReadDirectoryCallKeepsOnlyTheArray) {
  const std::string dir = path("dir");
  std::filesystem::create_directory(dir);
  writeFile(dir + "/a", "");
  writeFile(dir + "/b", "");
  ThreadContext *context = getThreadContext();
  initThreadBuffers();
  const BufferPlace before = context->currentMark.place;
  StringArray names = readDirectoryCall(dir.c_str(), 2);
  const std::vector<std::string> got = elements(names);
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), (std::set<std::string>{"a", "b"}));
  const BufferPlace after = context->currentMark.place;
  EXPECT_EQ(after.Sizebuffer, before.Sizebuffer + 1);
  EXPECT_EQ(after.Stringbuffer, before.Stringbuffer + 2);
  EXPECT_EQ(after.Realbuffer, before.Realbuffer);
  EXPECT_EQ(after.Integerbuffer, before.Integerbuffer);
  // The mark taken first lets the caller release the array again.
  EXPECT_EQ(context->currentMark.savedPlace.Stringbuffer, before.Stringbuffer);

  EXPECT_EQ(errorText([&] { readDirectoryCall(dir.c_str(), 3); }),
            "Not possible to get file names of \"" + dir +
                "\":\nLess files (= 2) found as defined by argument nNames (= 3)");
  StringArray parent = readDirectoryCall(path("dir/..").c_str(), 1);
  EXPECT_EQ(elements(parent), (std::vector<std::string>{"dir"}));
}

} // namespace
