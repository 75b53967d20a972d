// The .fmu archive as a host reads it: its entries, its model description,
// and the value references of the description driving the unit inside it.
#include "fmi/fmiGuid.h"
#include "tests/support/fmi_host.h"
#include "tools/fmuhost/archive.h"
#include "tools/fmuhost/model_description.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <zip.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One variable of the vessel as the model computes it.
struct Expected {
  const char *name;
  const char *causality;
  const char *variability;
  unsigned category;  // 1 parameter, 2 state, 3 derivative, 4 output, 5 input, 6 auxiliary
  unsigned index;
  unsigned level;  // 0 computed at initialization, 1 in the output section
  double value;    // after initialization with the defaults
};

const double outflow0 = 0.1 * std::sqrt(58.86);
const double der0 = -0.1 * std::sqrt(58.86) / 2.0;

const Expected expectedVariables[] = {
    {"vornSurface", "parameter", "fixed", 1, 0, 0, 2.0},
    {"holeSurface", "parameter", "fixed", 1, 1, 0, 0.1},
    {"initialLevel", "parameter", "fixed", 1, 2, 0, 3.0},
    {"inputRate", "input", "continuous", 5, 0, 0, 0.0},
    {"level", "output", "continuous", 4, 0, 1, 3.0},
    {"outflow", "output", "continuous", 4, 1, 1, outflow0},
    {"_StatesForOutputs.level", "local", "continuous", 2, 0, 0, 3.0},
    {"der(_StatesForOutputs.level)", "local", "continuous", 3, 0, 1, der0},
    {"g", "local", "constant", 6, 0, 0, 9.81},
    {"der(level)", "local", "continuous", 6, 1, 1, der0},
};

class FmuArchive : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    archive_ = new fmuhost::ExtractedArchive(UNIT_FMU_PATH);
    md_ = new fmuhost::ModelDescription(
        fmuhost::readModelDescription((archive_->root() / "modelDescription.xml").string()));
  }
  static void TearDownTestSuite() {
    delete md_;
    delete archive_;
  }
  static fmuhost::ExtractedArchive *archive_;
  static fmuhost::ModelDescription *md_;
};
fmuhost::ExtractedArchive *FmuArchive::archive_ = nullptr;
fmuhost::ModelDescription *FmuArchive::md_ = nullptr;

TEST_F(FmuArchive, HoldsTheDescriptionTheBinaryAndAnEmptyResourcesFolder) {
  int error = 0;
  zip_t *z = zip_open(UNIT_FMU_PATH, ZIP_RDONLY, &error);
  ASSERT_NE(z, nullptr) << error;
  std::set<std::string> files, folders;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    std::string name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
    (name.back() == '/' ? folders : files).insert(name);
  }
  zip_discard(z);
  EXPECT_EQ(files, (std::set<std::string>{"modelDescription.xml",
                                          "binaries/linux64/vornwin3264.so"}));
  EXPECT_TRUE(folders.count("resources/"));
  EXPECT_TRUE(fs::is_empty(archive_->root() / "resources"));
}

TEST_F(FmuArchive, DeclaresBothKindsWithTheUnitsIdentifierAndGuid) {
  EXPECT_EQ(md_->fmiVersion, "2.0");
  EXPECT_EQ(md_->guid, FMI_MODEL_GUID);
  EXPECT_EQ(md_->modelExchangeIdentifier, "vornwin3264");
  EXPECT_EQ(md_->coSimulationIdentifier, "vornwin3264");
  EXPECT_EQ(md_->numberOfEventIndicators, 0u);
  EXPECT_EQ(md_->numberOfContinuousStates, 1u);
}

TEST_F(FmuArchive, VariablesCarryTheirCategoryIndexAndLevel) {
  ASSERT_EQ(md_->variables.size(), std::size(expectedVariables));
  std::set<fmi2ValueReference> seen;
  for (std::size_t i = 0; i < md_->variables.size(); ++i) {
    const fmuhost::ScalarVariable &v = md_->variables[i];
    const Expected &e = expectedVariables[i];
    SCOPED_TRACE(v.name);
    EXPECT_EQ(v.name, e.name);
    EXPECT_EQ(v.type, "Real");
    EXPECT_EQ(v.causality, e.causality);
    EXPECT_EQ(v.variability, e.variability);
    EXPECT_EQ(v.valueReference & 0xFFFFFFu, e.index);
    EXPECT_EQ((v.valueReference >> 24) & 0xFu, e.category);
    EXPECT_EQ(v.valueReference >> 28, e.level);
    EXPECT_NE(v.valueReference, 0xFFFFFFFFu) << "time is not listed";
    EXPECT_TRUE(seen.insert(v.valueReference).second) << "duplicate value reference";
  }
  // Start values where the standard asks for them.
  EXPECT_EQ(md_->find("vornSurface")->start, "2.0");
  EXPECT_EQ(md_->find("holeSurface")->start, "0.1");
  EXPECT_EQ(md_->find("initialLevel")->start, "3.0");
  EXPECT_EQ(md_->find("inputRate")->start, "0.0");
  EXPECT_FALSE(md_->find("level")->start);
}

// ModelStructure as "index:dependencies" per list.
std::map<std::string, std::vector<std::string>> modelStructure(const fs::path &file) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file(file.c_str()));
  std::map<std::string, std::vector<std::string>> lists;
  for (pugi::xml_node list : doc.child("fmiModelDescription").child("ModelStructure").children())
    for (pugi::xml_node u : list.children("Unknown"))
      lists[list.name()].push_back(std::string(u.attribute("index").value()) + ":" +
                                   u.attribute("dependencies").value());
  return lists;
}

TEST_F(FmuArchive, ModelStructureListsOutputsDerivativeAndInitialUnknowns) {
  auto lists = modelStructure(archive_->root() / "modelDescription.xml");
  // 1 vornSurface, 2 holeSurface, 3 initialLevel, 4 inputRate, 5 level,
  // 6 outflow, 7 the state, 8 its derivative.
  EXPECT_EQ(lists["Outputs"], (std::vector<std::string>{"5:7", "6:7"}));
  EXPECT_EQ(lists["Derivatives"], (std::vector<std::string>{"8:4 7"}));
  EXPECT_EQ(lists["InitialUnknowns"],
            (std::vector<std::string>{"5:3", "6:2 3", "7:3", "8:1 2 3 4"}));
  EXPECT_EQ(lists.size(), 3u);
}

// Every listed variable, read by its value reference from the unit in the
// archive after Model Exchange initialization, has the model's value.
TEST_F(FmuArchive, EveryVariableReadsBackAfterInitialization) {
  fmihost::Fmi2Library lib((archive_->root() / "binaries/linux64/vornwin3264.so").string());
  fmihost::HostCallbacks host;
  fmihost::ScopedInstance c(lib.fmi, lib.fmi.fmi2Instantiate(
                                         "fmu_test", fmi2ModelExchange, md_->guid.c_str(),
                                         archive_->resourceLocation().c_str(), &host.functions(),
                                         fmi2False, fmi2False));
  ASSERT_TRUE(c) << host.dump();
  ASSERT_EQ(lib.fmi.fmi2SetupExperiment(c.get(), fmi2False, 0, 0, fmi2True, 10), fmi2OK);
  ASSERT_EQ(lib.fmi.fmi2EnterInitializationMode(c.get()), fmi2OK) << host.dump();
  ASSERT_EQ(lib.fmi.fmi2ExitInitializationMode(c.get()), fmi2OK) << host.dump();
  auto readAll = [&](const char *phase) {
    SCOPED_TRACE(phase);
    for (const Expected &e : expectedVariables) {
      SCOPED_TRACE(e.name);
      const fmuhost::ScalarVariable *v = md_->find(e.name);
      ASSERT_NE(v, nullptr);
      fmi2Real value = -1;
      EXPECT_EQ(lib.fmi.fmi2GetReal(c.get(), &v->valueReference, 1, &value), fmi2OK)
          << host.dump();
      EXPECT_NEAR(value, e.value, 1e-12);
    }
  };
  readAll("event mode after initialization");
  fmi2EventInfo info{};
  info.newDiscreteStatesNeeded = fmi2True;
  for (int i = 0; i < 10 && info.newDiscreteStatesNeeded; ++i)
    ASSERT_EQ(lib.fmi.fmi2NewDiscreteStates(c.get(), &info), fmi2OK) << host.dump();
  ASSERT_EQ(lib.fmi.fmi2EnterContinuousTimeMode(c.get()), fmi2OK) << host.dump();
  readAll("continuous-time mode");
  EXPECT_EQ(lib.fmi.fmi2Terminate(c.get()), fmi2OK);
}

}  // namespace
