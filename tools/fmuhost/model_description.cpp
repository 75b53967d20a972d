#include "tools/fmuhost/model_description.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <pugixml.hpp>

namespace fmuhost {

namespace {

[[noreturn]] void fail(const std::string &origin, const std::string &why) {
  throw std::runtime_error(origin + ": " + why);
}

// An attribute's text without the white space XML Schema allows around a
// number (xs:double, xs:unsignedInt collapse it).
std::string trimmed(const char *text) {
  const char *space = " \t\r\n";
  std::string s = text;
  const std::size_t first = s.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(space) - first + 1);
}

// An xs:unsignedInt (or a count of that kind): digits with an optional '+'.
std::size_t parseCount(const char *text, const std::string &origin, const char *what) {
  const std::string number = trimmed(text);
  const char *begin = number.data(), *end = begin + number.size();
  if (begin != end && *begin == '+') ++begin; // from_chars takes no leading '+'
  std::size_t value = 0;
  auto [p, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || p != end || begin == end)
    fail(origin, std::string("bad ") + what + " \"" + text + "\"");
  return value;
}

std::optional<double> optionalReal(const pugi::xml_node &node, const char *attribute,
                                   const std::string &origin) {
  pugi::xml_attribute a = node.attribute(attribute);
  if (!a) return std::nullopt;
  return parseReal(trimmed(a.value()), origin + ": DefaultExperiment " + attribute);
}

// FMI 2.0 requires a modelIdentifier to be a C identifier: it names the
// library inside binaries/<platform>/ and prefixes the functions.  Anything
// else ("../", "/") could lead the loader out of the archive.
bool isCIdentifier(const std::string &text) {
  if (text.empty()) return false;
  auto letter = [](char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_';
  };
  if (!letter(text[0])) return false;
  for (char ch : text)
    if (!letter(ch) && !(ch >= '0' && ch <= '9')) return false;
  return true;
}

} // namespace

double parseReal(const std::string &text, const std::string &what) {
  double value = 0;
  const char *begin = text.data();
  const char *end = begin + text.size();
  // from_chars takes no leading '+'; one '+' may stand before the digits,
  // not before a '-'.
  if (begin != end && *begin == '+') {
    ++begin;
    if (begin != end && *begin == '-') begin = end;
  }
  auto [p, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || p != end || begin == end || !std::isfinite(value))
    throw std::runtime_error(what + ": not a number: \"" + text + "\"");
  return value;
}

const ScalarVariable *ModelDescription::find(const std::string &name) const {
  for (const ScalarVariable &v : variables)
    if (v.name == name) return &v;
  return nullptr;
}

ModelDescription parseModelDescription(const std::string &text, const std::string &origin) {
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
  if (!parsed)
    fail(origin, std::string("not well-formed XML (") + parsed.description() + " at offset " +
                     std::to_string(parsed.offset) + ")");
  pugi::xml_node root = doc.child("fmiModelDescription");
  if (!root) fail(origin, "no <fmiModelDescription> element");

  ModelDescription md;
  md.fmiVersion = root.attribute("fmiVersion").value();
  if (md.fmiVersion != "2.0") fail(origin, "fmiVersion is \"" + md.fmiVersion + "\", not \"2.0\"");
  md.modelName = root.attribute("modelName").value();
  md.guid = root.attribute("guid").value();
  if (md.guid.empty()) fail(origin, "no guid");
  if (pugi::xml_attribute a = root.attribute("numberOfEventIndicators"))
    md.numberOfEventIndicators = parseCount(a.value(), origin, "numberOfEventIndicators");

  for (const char *kind : {"ModelExchange", "CoSimulation"}) {
    pugi::xml_node node = root.child(kind);
    if (!node) continue;
    std::string id = node.attribute("modelIdentifier").value();
    if (id.empty()) fail(origin, std::string("<") + kind + "> has no modelIdentifier");
    if (!isCIdentifier(id))
      fail(origin, std::string("the modelIdentifier \"") + id + "\" of <" + kind +
                       "> is not a C identifier");
    (std::strcmp(kind, "ModelExchange") == 0 ? md.modelExchangeIdentifier
                                             : md.coSimulationIdentifier) = id;
  }
  if (pugi::xml_node cs = root.child("CoSimulation")) {
    const std::string variable =
        trimmed(cs.attribute("canHandleVariableCommunicationStepSize").value());
    md.canHandleVariableCommunicationStepSize = variable == "true" || variable == "1";
  }

  if (pugi::xml_node e = root.child("DefaultExperiment")) {
    md.startTime = optionalReal(e, "startTime", origin);
    md.stopTime = optionalReal(e, "stopTime", origin);
    md.stepSize = optionalReal(e, "stepSize", origin);
    md.tolerance = optionalReal(e, "tolerance", origin);
  }

  pugi::xml_node vars = root.child("ModelVariables");
  for (pugi::xml_node sv : vars.children("ScalarVariable")) {
    ScalarVariable v;
    v.name = sv.attribute("name").value();
    if (v.name.empty()) fail(origin, "a ScalarVariable has no name");
    pugi::xml_attribute vr = sv.attribute("valueReference");
    if (!vr) fail(origin, "variable " + v.name + " has no valueReference");
    std::size_t ref = parseCount(vr.value(), origin, "valueReference");
    if (ref > std::numeric_limits<fmi2ValueReference>::max())
      fail(origin, "valueReference of " + v.name + " out of range");
    v.valueReference = static_cast<fmi2ValueReference>(ref);
    v.causality = sv.attribute("causality").as_string("local");
    v.variability = sv.attribute("variability").as_string("continuous");
    pugi::xml_node typeNode = sv.first_child();
    while (typeNode && typeNode.type() != pugi::node_element) typeNode = typeNode.next_sibling();
    if (!typeNode) fail(origin, "variable " + v.name + " has no type element");
    v.type = typeNode.name();
    if (pugi::xml_attribute s = typeNode.attribute("start")) v.start = s.value();
    md.variables.push_back(std::move(v));
  }

  pugi::xml_node derivatives = root.child("ModelStructure").child("Derivatives");
  for (pugi::xml_node u : derivatives.children("Unknown")) {
    std::size_t index = parseCount(u.attribute("index").value(), origin, "Derivatives index");
    if (index == 0 || index > md.variables.size())
      fail(origin, "Derivatives index " + std::to_string(index) + " names no variable");
    ++md.numberOfContinuousStates;
  }
  return md;
}

ModelDescription readModelDescription(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) fail(path, "cannot open");
  std::string text;
  char buffer[8192];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  bool bad = std::ferror(f) != 0;
  std::fclose(f);
  if (bad) fail(path, "read error");
  return parseModelDescription(text, path);
}

} // namespace fmuhost
