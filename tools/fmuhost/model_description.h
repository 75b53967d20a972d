// What a host needs from modelDescription.xml: the identifiers of the two
// kinds, the GUID, the default experiment, the scalar variables and the
// sizes that ModelStructure implies.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "fmi/fmi2.h"

namespace fmuhost {

struct ScalarVariable {
  std::string name;
  fmi2ValueReference valueReference = 0;
  std::string type;        // "Real", "Integer", "Boolean", "String" or "Enumeration"
  std::string causality;   // "local" when not given
  std::string variability; // "continuous" when not given
  std::optional<std::string> start;
};

struct ModelDescription {
  std::string fmiVersion;
  std::string modelName;
  std::string guid;
  std::optional<std::string> modelExchangeIdentifier;  // set when <ModelExchange> is present
  std::optional<std::string> coSimulationIdentifier;   // set when <CoSimulation> is present
  bool canHandleVariableCommunicationStepSize = false; // of <CoSimulation>; FMI 2.0's default
  std::size_t numberOfEventIndicators = 0;
  std::size_t numberOfContinuousStates = 0; // entries of ModelStructure/Derivatives
  std::optional<double> startTime, stopTime, stepSize, tolerance; // DefaultExperiment
  std::vector<ScalarVariable> variables; // in document order (index i+1 in ModelStructure)

  // The variable of that name, or null.
  const ScalarVariable *find(const std::string &name) const;
};

// Reads the file; throws std::runtime_error with the file name and the reason
// when it is not a well-formed FMI 2.0 model description.
ModelDescription readModelDescription(const std::string &path);
// The same for a text already in memory (`origin` names it in messages).
ModelDescription parseModelDescription(const std::string &text, const std::string &origin);

// A number in the "C" notation of XML attributes; throws std::runtime_error
// naming `what` when the text is not a complete, finite number.
double parseReal(const std::string &text, const std::string &what);

} // namespace fmuhost
