// The host program's reading of archives and model descriptions: unsafe
// entries are refused, malformed descriptions are reported, not guessed at.
#include "tools/fmuhost/archive.h"
#include "tools/fmuhost/model_description.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

TEST(ArchiveEntryName, OnlyRelativeNamesInsideTheFolderAreSafe) {
  struct Case {
    const char *name;
    bool safe;
  } cases[] = {
      {"modelDescription.xml", true},
      {"binaries/linux64/a.so", true},
      {"resources/", true},
      {"a/..b/c", true},
      {"", false},
      {"/etc/passwd", false},
      {"../x", false},
      {"a/../../x", false},
      {"a/..", false},
      {"..", false},
      {"a\\..\\x", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fmuhost::isSafeEntryName(c.name), c.safe);
  }
}

// A zip written with libzip into a test folder; TMPDIR points into that
// folder too, so that the unpacked folders can be counted without seeing
// those of other processes.
class ZipFixture : public testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("archive_test." + std::to_string(::getpid()));
    fs::create_directories(dir_ / "tmp");
    const char *old = std::getenv("TMPDIR");
    oldTmp_ = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
  }
  void TearDown() override {
    if (oldTmp_)
      ::setenv("TMPDIR", oldTmp_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    fs::remove_all(dir_);
  }

  std::string writeZip(const std::vector<std::pair<std::string, std::string>> &entries) {
    std::string path = (dir_ / "a.fmu").string();
    int error = 0;
    zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(z, nullptr);
    for (const auto &[name, content] : entries) {
      if (name.back() == '/') {
        EXPECT_GE(zip_dir_add(z, name.c_str(), ZIP_FL_ENC_UTF_8), 0) << name;
        continue;
      }
      zip_source_t *src = zip_source_buffer(z, content.data(), content.size(), 0);
      EXPECT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE), 0) << name;
    }
    EXPECT_EQ(zip_close(z), 0);
    return path;
  }

  // The fmuhost.* folders in the (test's) temporary folder.
  static std::vector<fs::path> tempFolders() {
    std::vector<fs::path> found;
    for (const auto &e : fs::directory_iterator(fs::temp_directory_path()))
      if (e.path().filename().string().rfind("fmuhost.", 0) == 0) found.push_back(e.path());
    return found;
  }

  fs::path dir_;
  std::optional<std::string> oldTmp_;
};

TEST_F(ZipFixture, UnpacksFilesAndEmptyFoldersAndRemovesThemAfterwards) {
  std::string fmu = writeZip({{"modelDescription.xml", "<x/>"},
                              {"binaries/linux64/u.so", std::string(100000, 'b')},
                              {"resources/", ""}});
  fs::path root;
  {
    fmuhost::ExtractedArchive a(fmu);
    root = a.root();
    EXPECT_TRUE(fs::is_regular_file(root / "modelDescription.xml"));
    EXPECT_EQ(fs::file_size(root / "binaries/linux64/u.so"), 100000u);
    EXPECT_TRUE(fs::is_directory(root / "resources"));
    EXPECT_EQ(a.resourceLocation(), "file://" + (root / "resources").string());
  }
  EXPECT_FALSE(fs::exists(root));
}

TEST_F(ZipFixture, RefusesAnEntryThatClimbsOutAndLeavesNothingBehind) {
  std::string fmu = writeZip({{"modelDescription.xml", "<x/>"}, {"../escaped.txt", "bad"}});
  auto before = tempFolders();
  try {
    fmuhost::ExtractedArchive a(fmu);
    FAIL() << "no exception";
  } catch (const std::runtime_error &e) {
    EXPECT_THAT(e.what(), HasSubstr("refusing entry \"../escaped.txt\""));
  }
  EXPECT_FALSE(fs::exists(dir_ / "tmp" / "escaped.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "escaped.txt"));
  EXPECT_EQ(tempFolders(), before);
  EXPECT_TRUE(before.empty());
}

TEST_F(ZipFixture, ReportsAFileThatIsNoZip) {
  std::string path = (dir_ / "not.fmu").string();
  std::ofstream(path) << "plain text";
  try {
    fmuhost::ExtractedArchive a(path);
    FAIL() << "no exception";
  } catch (const std::runtime_error &e) {
    EXPECT_THAT(e.what(), HasSubstr(path + ": cannot open the archive"));
  }
}

TEST(ModelDescriptionReader, RefusesMalformedDescriptions) {
  struct Case {
    const char *text;
    const char *message;
  } cases[] = {
      {"<fmiModelDescription", "not well-formed XML"},
      {"<other/>", "no <fmiModelDescription> element"},
      {"<fmiModelDescription fmiVersion=\"1.0\" guid=\"g\"/>", "fmiVersion is \"1.0\""},
      {"<fmiModelDescription fmiVersion=\"2.0\"/>", "no guid"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\"><CoSimulation/></fmiModelDescription>",
       "<CoSimulation> has no modelIdentifier"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\"><ModelVariables>"
       "<ScalarVariable name=\"a\" valueReference=\"x1\"><Real/></ScalarVariable>"
       "</ModelVariables></fmiModelDescription>",
       "bad valueReference \"x1\""},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\"><ModelVariables>"
       "<ScalarVariable name=\"a\" valueReference=\"1\"/></ModelVariables></fmiModelDescription>",
       "variable a has no type element"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\"><ModelStructure><Derivatives>"
       "<Unknown index=\"1\"/></Derivatives></ModelStructure></fmiModelDescription>",
       "Derivatives index 1 names no variable"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\">"
       "<DefaultExperiment stopTime=\"ten\"/></fmiModelDescription>",
       "DefaultExperiment stopTime: not a number"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\">"
       "<ModelExchange modelIdentifier=\"../../../tmp/outside/Evil\"/></fmiModelDescription>",
       "the modelIdentifier \"../../../tmp/outside/Evil\" of <ModelExchange> is not a C "
       "identifier"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\">"
       "<CoSimulation modelIdentifier=\"/tmp/Evil\"/></fmiModelDescription>",
       "the modelIdentifier \"/tmp/Evil\" of <CoSimulation> is not a C identifier"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\">"
       "<CoSimulation modelIdentifier=\"2fast\"/></fmiModelDescription>",
       "the modelIdentifier \"2fast\" of <CoSimulation> is not a C identifier"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\" numberOfEventIndicators=\"1 2\"/>",
       "bad numberOfEventIndicators \"1 2\""},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\" numberOfEventIndicators=\"+\"/>",
       "bad numberOfEventIndicators \"+\""},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\" numberOfEventIndicators=\"-1\"/>",
       "bad numberOfEventIndicators \"-1\""},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\">"
       "<DefaultExperiment startTime=\" \"/></fmiModelDescription>",
       "DefaultExperiment startTime: not a number"},
      {"<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\">"
       "<DefaultExperiment stopTime=\"+-1\"/></fmiModelDescription>",
       "DefaultExperiment stopTime: not a number"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    try {
      fmuhost::parseModelDescription(c.text, "md.xml");
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error &e) {
      EXPECT_THAT(e.what(), HasSubstr("md.xml: "));
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
}

TEST(ModelDescriptionReader, ReadsKindsVariablesAndDefaults) {
  auto md = fmuhost::parseModelDescription(
      "<fmiModelDescription fmiVersion=\"2.0\" guid=\"{g}\" numberOfEventIndicators=\"2\">"
      "<ModelExchange modelIdentifier=\"m\"/>"
      "<DefaultExperiment startTime=\"1\" stopTime=\"+5e0\"/>"
      "<ModelVariables>"
      "<ScalarVariable name=\"p\" valueReference=\"4294967294\" causality=\"parameter\""
      " variability=\"fixed\"><Real start=\"2.5\"/></ScalarVariable>"
      "<ScalarVariable name=\"x\" valueReference=\"7\"><Integer/></ScalarVariable>"
      "<ScalarVariable name=\"der(x)\" valueReference=\"8\"><Real "
      "derivative=\"2\"/></ScalarVariable>"
      "</ModelVariables><ModelStructure><Derivatives><Unknown index=\"3\"/></Derivatives>"
      "</ModelStructure></fmiModelDescription>",
      "md.xml");
  EXPECT_EQ(md.guid, "{g}");
  EXPECT_EQ(md.modelExchangeIdentifier, "m");
  EXPECT_FALSE(md.coSimulationIdentifier);
  EXPECT_EQ(md.numberOfEventIndicators, 2u);
  EXPECT_EQ(md.numberOfContinuousStates, 1u);
  EXPECT_EQ(md.startTime, 1.0);
  EXPECT_EQ(md.stopTime, 5.0);
  EXPECT_FALSE(md.stepSize);
  ASSERT_EQ(md.variables.size(), 3u);
  const fmuhost::ScalarVariable *p = md.find("p");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->valueReference, 4294967294u);
  EXPECT_EQ(p->start, "2.5");
  EXPECT_EQ(md.find("x")->type, "Integer");
  EXPECT_EQ(md.find("x")->causality, "local");
  EXPECT_EQ(md.find("x")->variability, "continuous");
  EXPECT_EQ(md.find("y"), nullptr);
}

// Numbers as XML Schema reads them: white space around them (as an
// attribute value may be written), and a '+' before an unsigned integer.
TEST(ModelDescriptionReader, ReadsNumbersWithWhiteSpaceAndPlus) {
  auto md = fmuhost::parseModelDescription(
      "<fmiModelDescription fmiVersion=\"2.0\" guid=\"{g}\" numberOfEventIndicators=\" 1\">"
      "<CoSimulation modelIdentifier=\"_m2\"/>"
      "<DefaultExperiment startTime=\" 0\" stopTime=\"+1 \" stepSize=\"\n\t0.5e-1 \""
      " tolerance=\" +1e-6\"/>"
      "<ModelVariables>"
      "<ScalarVariable name=\"a\" valueReference=\"+5\"><Real/></ScalarVariable>"
      "<ScalarVariable name=\"der(a)\" valueReference=\" 6 \"><Real/></ScalarVariable>"
      "</ModelVariables><ModelStructure><Derivatives><Unknown index=\" +2\"/></Derivatives>"
      "</ModelStructure></fmiModelDescription>",
      "md.xml");
  EXPECT_EQ(md.coSimulationIdentifier, "_m2");
  EXPECT_EQ(md.numberOfEventIndicators, 1u);
  EXPECT_EQ(md.numberOfContinuousStates, 1u);
  EXPECT_EQ(md.startTime, 0.0);
  EXPECT_EQ(md.stopTime, 1.0);
  EXPECT_EQ(md.stepSize, 0.05);
  EXPECT_EQ(md.tolerance, 1e-6);
  EXPECT_EQ(md.find("a")->valueReference, 5u);
  EXPECT_EQ(md.find("der(a)")->valueReference, 6u);
}

// canHandleVariableCommunicationStepSize: false unless the description says
// "true" (or "1", as xs:boolean allows).
TEST(ModelDescriptionReader, ReadsWhetherTheStepMayVary) {
  struct Case {
    const char *attribute;
    bool variable;
  } cases[] = {{"", false},
               {" canHandleVariableCommunicationStepSize=\"false\"", false},
               {" canHandleVariableCommunicationStepSize=\"true\"", true},
               {" canHandleVariableCommunicationStepSize=\" 1 \"", true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.attribute);
    auto md = fmuhost::parseModelDescription(
        std::string("<fmiModelDescription fmiVersion=\"2.0\" guid=\"g\">"
                    "<CoSimulation modelIdentifier=\"m\"") +
            c.attribute + "/></fmiModelDescription>",
        "md.xml");
    EXPECT_EQ(md.canHandleVariableCommunicationStepSize, c.variable);
  }
}

} // namespace
