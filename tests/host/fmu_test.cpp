// The .fmu archive as a host reads it: its entries, its model description,
// and the value references of the description driving the unit inside it.
#include "model/model_data.h"
#include "tests/support/fmi_host.h"
#include "tools/fmuhost/archive.h"
#include "tools/fmuhost/model_description.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <zip.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
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
  unsigned category; // 1 parameter, 2 state, 3 derivative, 4 output, 5 input, 6 auxiliary
  unsigned index;
  unsigned level; // 0 computed at initialization, 1 in the output section
  double value;   // after initialization with the defaults
};

const double outflow0 = 0.1 * std::sqrt(58.86);
const double der0 = -0.1 * std::sqrt(58.86) / 2.0;

const Expected expectedVariables[] = {
    {"vornSurface", "parameter", "tunable", 1, 0, 0, 2.0},
    {"holeSurface", "parameter", "tunable", 1, 1, 0, 0.1},
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
  EXPECT_EQ(files,
            (std::set<std::string>{"modelDescription.xml", "binaries/linux64/vornwin3264.so"}));
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

// Every Real variable names its SI unit, and every unit named is defined
// with its exponents of the base units (FMI 2.0 UnitDefinitions).
TEST_F(FmuArchive, RealVariablesDeclareTheirUnits) {
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((archive_->root() / "modelDescription.xml").c_str()));
  pugi::xml_node root = doc.child("fmiModelDescription");
  const std::map<std::string, std::string> expected = {{"vornSurface", "m2"},
                                                       {"holeSurface", "m2"},
                                                       {"initialLevel", "m"},
                                                       {"inputRate", "m3/s"},
                                                       {"level", "m"},
                                                       {"outflow", "m3/s"},
                                                       {"_StatesForOutputs.level", "m"},
                                                       {"der(_StatesForOutputs.level)", "m/s"},
                                                       {"g", "m/s2"},
                                                       {"der(level)", "m/s"}};
  std::map<std::string, std::string> declared;
  for (pugi::xml_node v : root.child("ModelVariables").children("ScalarVariable"))
    declared[v.attribute("name").value()] = v.child("Real").attribute("unit").value();
  EXPECT_EQ(declared, expected);

  // Exponents of m and s; no other base unit, no factor or offset.
  const std::map<std::string, std::pair<int, int>> exponents = {
      {"m", {1, 0}}, {"m2", {2, 0}}, {"m/s", {1, -1}}, {"m3/s", {3, -1}}, {"m/s2", {1, -2}}};
  std::map<std::string, std::pair<int, int>> defined;
  for (pugi::xml_node u : root.child("UnitDefinitions").children("Unit")) {
    pugi::xml_node base = u.child("BaseUnit");
    for (pugi::xml_attribute a : base.attributes())
      EXPECT_TRUE(std::string(a.name()) == "m" || std::string(a.name()) == "s")
          << u.attribute("name").value() << " " << a.name();
    defined[u.attribute("name").value()] = {base.attribute("m").as_int(),
                                            base.attribute("s").as_int()};
  }
  EXPECT_EQ(defined, exponents);
}

// Every listed variable, read by its value reference from the unit in the
// archive after Model Exchange initialization, has the model's value.
TEST_F(FmuArchive, EveryVariableReadsBackAfterInitialization) {
  fmihost::Fmi2Library lib((archive_->root() / "binaries/linux64/vornwin3264.so").string());
  fmihost::HostCallbacks host;
  fmihost::ScopedInstance c(
      lib.fmi, lib.fmi.fmi2Instantiate("fmu_test", fmi2ModelExchange, md_->guid.c_str(),
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
      EXPECT_EQ(lib.fmi.fmi2GetReal(c.get(), &v->valueReference, 1, &value), fmi2OK) << host.dump();
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

// ---- Capability flags --------------------------------------------------------
// Every capability the description claims holds for the unit in the archive.
// (A flag left false while the unit could do more is merely modest.)

class Capabilities : public FmuArchive {
protected:
  void SetUp() override {
    lib_ = std::make_unique<fmihost::Fmi2Library>(
        (archive_->root() / "binaries/linux64/vornwin3264.so").string());
  }
  // An initialized instance of the kind; ME is left in continuous-time mode.
  fmihost::ScopedInstance initialized(fmi2Type kind) {
    const auto &fmi = lib_->fmi;
    fmihost::ScopedInstance c(fmi, fmi.fmi2Instantiate("caps", kind, md_->guid.c_str(), nullptr,
                                                       &host_.functions(), fmi2False, fmi2False));
    EXPECT_TRUE(c) << host_.dump();
    if (!c) return c;
    EXPECT_EQ(fmi.fmi2SetupExperiment(c.get(), fmi2False, 0, 0, fmi2True, 10), fmi2OK);
    EXPECT_EQ(fmi.fmi2EnterInitializationMode(c.get()), fmi2OK) << host_.dump();
    EXPECT_EQ(fmi.fmi2ExitInitializationMode(c.get()), fmi2OK) << host_.dump();
    if (kind == fmi2ModelExchange) {
      fmi2EventInfo info{};
      info.newDiscreteStatesNeeded = fmi2True;
      for (int i = 0; i < 10 && info.newDiscreteStatesNeeded; ++i)
        EXPECT_EQ(fmi.fmi2NewDiscreteStates(c.get(), &info), fmi2OK);
      EXPECT_EQ(fmi.fmi2EnterContinuousTimeMode(c.get()), fmi2OK);
    }
    return c;
  }
  fmi2ValueReference vr(const char *name) { return md_->find(name)->valueReference; }
  double real(fmi2Component c, const char *name) {
    fmi2ValueReference r = vr(name);
    double v = NAN;
    EXPECT_EQ(lib_->fmi.fmi2GetReal(c, &r, 1, &v), fmi2OK) << host_.dump();
    return v;
  }
  static double exactLevel(double t) {
    double r = std::sqrt(3.0) - 0.1 * std::sqrt(19.62) / 4.0 * t;
    return r * r;
  }

  void checkDirectionalDerivative(fmi2Type kind) {
    auto c = initialized(kind);
    ASSERT_TRUE(c);
    fmi2ValueReference unknown = vr("der(_StatesForOutputs.level)");
    fmi2ValueReference known = vr("_StatesForOutputs.level");
    double seed = 1.0, d = NAN;
    ASSERT_EQ(lib_->fmi.fmi2GetDirectionalDerivative(c.get(), &unknown, 1, &known, 1, &seed, &d),
              fmi2OK)
        << host_.dump();
    EXPECT_NEAR(d, -0.1 * std::sqrt(19.62) / (2.0 * 2.0 * std::sqrt(3.0)), 1e-6);
    EXPECT_EQ(lib_->fmi.fmi2Terminate(c.get()), fmi2OK);
  }

  void checkVariableStepSize() {
    auto c = initialized(fmi2CoSimulation);
    ASSERT_TRUE(c);
    double t = 0;
    for (double h : {0.5, 1.5, 0.25, 2.75}) {
      ASSERT_EQ(lib_->fmi.fmi2DoStep(c.get(), t, h, fmi2True), fmi2OK) << host_.dump();
      t += h;
      EXPECT_NEAR(real(c.get(), "level"), exactLevel(t), 1e-4 * exactLevel(t)) << t;
    }
    EXPECT_EQ(lib_->fmi.fmi2Terminate(c.get()), fmi2OK);
  }

  void checkInputInterpolation() {
    auto c = initialized(fmi2CoSimulation);
    ASSERT_TRUE(c);
    fmi2ValueReference input = vr("inputRate");
    fmi2Integer order = 1;
    fmi2Real rate = 0.2;
    EXPECT_EQ(lib_->fmi.fmi2SetRealInputDerivatives(c.get(), &input, 1, &order, &rate), fmi2OK)
        << host_.dump();
    ASSERT_EQ(lib_->fmi.fmi2DoStep(c.get(), 0, 1, fmi2True), fmi2OK) << host_.dump();
    // With the ramp the vessel loses less than without inflow.
    // The ramp brings 0.1 of volume in the first second: about 0.05 of level,
    // a little less because the higher level drains faster.
    EXPECT_NEAR(real(c.get(), "level"), exactLevel(1) + 0.049, 0.001);
    EXPECT_EQ(lib_->fmi.fmi2Terminate(c.get()), fmi2OK);
  }

  void checkOutputDerivatives(int maxOrder) {
    auto c = initialized(fmi2CoSimulation);
    ASSERT_TRUE(c);
    ASSERT_EQ(lib_->fmi.fmi2DoStep(c.get(), 0, 0.1, fmi2True), fmi2OK) << host_.dump();
    ASSERT_EQ(lib_->fmi.fmi2DoStep(c.get(), 0.1, 0.1, fmi2True), fmi2OK) << host_.dump();
    fmi2ValueReference output = vr("level");
    for (fmi2Integer order = 1; order <= maxOrder; ++order) {
      SCOPED_TRACE(order);
      fmi2Real d = NAN;
      EXPECT_EQ(lib_->fmi.fmi2GetRealOutputDerivatives(c.get(), &output, 1, &order, &d), fmi2OK)
          << host_.dump();
      if (order == 1) {
        // d/dt (sqrt(3) - k t)^2 at t = 0.2.
        const double k = 0.1 * std::sqrt(19.62) / 4.0;
        const double exact = -2.0 * k * (std::sqrt(3.0) - k * 0.2);
        EXPECT_NEAR(d, exact, 0.02 * std::fabs(exact));
      }
    }
    EXPECT_EQ(lib_->fmi.fmi2Terminate(c.get()), fmi2OK);
  }

  void checkFmuState(fmi2Type kind, bool serialize) {
    const auto &fmi = lib_->fmi;
    auto c = initialized(kind);
    ASSERT_TRUE(c);
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(fmi.fmi2GetFMUstate(c.get(), &state), fmi2OK) << host_.dump();
    const double before = real(c.get(), "level");
    if (kind == fmi2CoSimulation) {
      ASSERT_EQ(fmi.fmi2DoStep(c.get(), 0, 1, fmi2True), fmi2OK);
    } else {
      double x = 1.0;
      ASSERT_EQ(fmi.fmi2SetContinuousStates(c.get(), &x, 1), fmi2OK);
    }
    if (serialize) {
      size_t size = 0;
      ASSERT_EQ(fmi.fmi2SerializedFMUstateSize(c.get(), state, &size), fmi2OK) << host_.dump();
      std::vector<fmi2Byte> bytes(size);
      ASSERT_EQ(fmi.fmi2SerializeFMUstate(c.get(), state, bytes.data(), size), fmi2OK);
      ASSERT_EQ(fmi.fmi2FreeFMUstate(c.get(), &state), fmi2OK);
      ASSERT_EQ(fmi.fmi2DeSerializeFMUstate(c.get(), bytes.data(), size, &state), fmi2OK)
          << host_.dump();
    }
    ASSERT_EQ(fmi.fmi2SetFMUstate(c.get(), state), fmi2OK) << host_.dump();
    EXPECT_DOUBLE_EQ(real(c.get(), "level"), before);
    EXPECT_EQ(fmi.fmi2FreeFMUstate(c.get(), &state), fmi2OK);
    EXPECT_EQ(fmi.fmi2Terminate(c.get()), fmi2OK);
  }

  fmihost::HostCallbacks host_;
  std::unique_ptr<fmihost::Fmi2Library> lib_;
};

TEST_F(Capabilities, EveryClaimedCapabilityWorks) {
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((archive_->root() / "modelDescription.xml").c_str()));
  pugi::xml_node root = doc.child("fmiModelDescription");
  for (const char *kindName : {"ModelExchange", "CoSimulation"}) {
    const fmi2Type kind =
        std::string(kindName) == "ModelExchange" ? fmi2ModelExchange : fmi2CoSimulation;
    for (pugi::xml_attribute a : root.child(kindName).attributes()) {
      const std::string name = a.name();
      SCOPED_TRACE(std::string(kindName) + " " + name + "=" + a.value());
      if (name == "modelIdentifier") continue;
      if (name == "maxOutputDerivativeOrder") {
        if (a.as_int() > 0) checkOutputDerivatives(a.as_int());
        continue;
      }
      // Flags that claim nothing when true or false alike.
      if (name == "needsExecutionTool" || name == "canBeInstantiatedOnlyOncePerProcess" ||
          name == "canNotUseMemoryManagementFunctions" ||
          name == "completedIntegratorStepNotNeeded" || name == "canRunAsynchronuously") {
        EXPECT_STREQ(a.value(), "false");
        continue;
      }
      if (!a.as_bool()) continue;
      if (name == "providesDirectionalDerivative")
        checkDirectionalDerivative(kind);
      else if (name == "canHandleVariableCommunicationStepSize")
        checkVariableStepSize();
      else if (name == "canInterpolateInputs")
        checkInputInterpolation();
      else if (name == "canGetAndSetFMUstate")
        checkFmuState(kind, false);
      else if (name == "canSerializeFMUstate")
        checkFmuState(kind, true);
      else
        ADD_FAILURE() << "no check for this claim";
    }
  }
  // Every instance was terminated and freed as a host does it.
  EXPECT_EQ(fmihost::liveBlocks(), 0u);
}

} // namespace
