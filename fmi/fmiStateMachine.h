// The state machine of an instance: for every function of the layer the set
// of states it is accepted in and the warning that refuses it elsewhere.
//
// One table, one check.  Functions whose rule has extra conditions (a state
// that moves before the check, a state accepted only for a model without
// states) apply them before calling fmiCheckState.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "fmi/fmiInstance.h"

enum class fmiFunction : uint8_t {
  SetDebugLogging,
  FreeInstance,
  SetupExperiment,
  Reset,
  EnterInitializationMode,
  ExitInitializationMode,
  EnterEventMode,
  NewDiscreteStates,
  EnterContinuousTimeMode,
  CompletedIntegratorStep,
  SetTime,
  SetContinuousStates,
  GetDerivatives,
  GetEventIndicators,
  GetContinuousStates,
  GetNominalsOfContinuousStates,
  Terminate,
  GetReal,
  GetInteger,
  GetBoolean,
  GetString,
  SetReal,
  SetInteger,
  SetBoolean,
  SetString,
  Count
};

// What the refusal's format is filled with.
enum class fmiRefusalArgs : uint8_t {
  None,          // no refusal: accepted in every state
  Name,          // the function's name
  NameName,      // the function's name twice
  State,         // the state number
  EnterInit,     // "fmi2EnterInitializationMode"
  NameEnterInit, // the function's name, then "fmi2EnterInitializationMode"
};

struct fmiStateRule {
  fmiFunction function;                   // the function this row describes (checked below)
  const char *name;                       // standard name used in messages
  uint8_t accepted;                       // bit s set: accepted in state s
  const char *refusal;                    // format of the refusal outside the accepted states
  fmiRefusalArgs args;                    // arguments of the refusal format
  fmi2Status refusalStatus = fmi2Warning; // status of the refusal and of the refused call
};

constexpr uint8_t fmiStates(std::initializer_list<int> states) {
  uint8_t mask = 0;
  for (int s : states) mask = static_cast<uint8_t>(mask | (1u << s));
  return mask;
}
inline constexpr uint8_t fmiAnyState = 0xFF;
constexpr uint8_t fmiAllBut(std::initializer_list<int> states) {
  return static_cast<uint8_t>(~fmiStates(states));
}

inline constexpr std::array<fmiStateRule, static_cast<size_t>(fmiFunction::Count)> fmiStateTable{{
    {fmiFunction::SetDebugLogging, "fmi2SetDebugLogging", fmiAnyState, nullptr,
     fmiRefusalArgs::None},
    {fmiFunction::FreeInstance, "fmi2FreeInstance", fmiAnyState, nullptr, fmiRefusalArgs::None},
    // The experiment is set up before initialization: afterwards a new start
    // time would move the time of a running simulation back.
    {fmiFunction::SetupExperiment, "fmi2SetupExperiment", fmiStates({0}),
     "%s: may only be called before %s, ignoring call", fmiRefusalArgs::NameEnterInit, fmi2Error},
    {fmiFunction::Reset, "fmi2Reset", fmiAnyState, nullptr, fmiRefusalArgs::None},
    {fmiFunction::EnterInitializationMode, "fmi2EnterInitializationMode", fmiStates({0}),
     "model cannot be initialized in current state(%d)", fmiRefusalArgs::State},
    {fmiFunction::ExitInitializationMode, "fmi2ExitInitializationMode", fmiStates({1}),
     "%s: may only called in initialization mode", fmiRefusalArgs::Name},
    {fmiFunction::EnterEventMode, "fmi2EnterEventMode", fmiStates({6}),
     "%s: may only be called in continuous time mode", fmiRefusalArgs::Name},
    {fmiFunction::NewDiscreteStates, "fmi2NewDiscreteStates", fmiStates({3, 4, 5}),
     "%s: may only be called in event mode", fmiRefusalArgs::Name},
    {fmiFunction::EnterContinuousTimeMode, "fmi2EnterContinuousTimeMode", fmiStates({5}),
     "%s: may only be called when exited event mode", fmiRefusalArgs::Name},
    {fmiFunction::CompletedIntegratorStep, "fmi2CompletedIntegratorStep", fmiAnyState, nullptr,
     fmiRefusalArgs::None},
    {fmiFunction::SetTime, "fmi2SetTime", fmiStates({0, 6}), "%s: not allowed in this state",
     fmiRefusalArgs::Name},
    {fmiFunction::SetContinuousStates, "fmi2SetContinuousStates", fmiAnyState, nullptr,
     fmiRefusalArgs::None},
    {fmiFunction::GetDerivatives, "fmi2GetDerivatives", fmiAllBut({0}),
     "%s: fmi2EnterInitializationMode must be called before calling %s", fmiRefusalArgs::NameName},
    {fmiFunction::GetEventIndicators, "fmi2GetEventIndicators", fmiAllBut({0, 1}),
     "%s: fmi2ExitInitializationMode must be called before calling %s", fmiRefusalArgs::NameName},
    {fmiFunction::GetContinuousStates, "fmi2GetContinuousStates", fmiAllBut({0}),
     "%s: fmiEnterInitializationMode must be called before calling %s", fmiRefusalArgs::NameName},
    {fmiFunction::GetNominalsOfContinuousStates, "fmi2GetNominalsOfContinuousStates", fmiAnyState,
     nullptr, fmiRefusalArgs::None},
    {fmiFunction::Terminate, "fmi2Terminate", fmiAllBut({7}),
     "%s: already terminated, ignoring call", fmiRefusalArgs::Name},
    {fmiFunction::GetReal, "fmi2GetReal", fmiAllBut({0}),
     "fmiGetReal: Not allowed before call of %s", fmiRefusalArgs::EnterInit},
    {fmiFunction::GetInteger, "fmi2GetInteger", fmiAllBut({0}),
     "fmiGetInteger: Not allowed before call of %s", fmiRefusalArgs::EnterInit},
    {fmiFunction::GetBoolean, "fmi2GetBoolean", fmiAllBut({0}),
     "fmiGetBoolean: Not allowed before call of %s", fmiRefusalArgs::EnterInit},
    {fmiFunction::GetString, "fmi2GetString", fmiAllBut({0}), "%s: Not allowed before call of %s",
     fmiRefusalArgs::NameEnterInit},
    {fmiFunction::SetReal, "fmi2SetReal", fmiAnyState, nullptr, fmiRefusalArgs::None},
    {fmiFunction::SetInteger, "fmi2SetInteger", fmiAnyState, nullptr, fmiRefusalArgs::None},
    {fmiFunction::SetBoolean, "fmi2SetBoolean", fmiAnyState, nullptr, fmiRefusalArgs::None},
    {fmiFunction::SetString, "fmi2SetString", fmiAnyState, nullptr, fmiRefusalArgs::None},
}};

constexpr bool fmiTableInOrder() {
  for (size_t i = 0; i < fmiStateTable.size(); ++i) {
    const fmiStateRule &r = fmiStateTable[i];
    if (static_cast<size_t>(r.function) != i) return false;
    if ((r.refusal == nullptr) != (r.accepted == fmiAnyState)) return false;
  }
  return true;
}
static_assert(fmiTableInOrder(), "one row per function, in enum order; refusal iff restricted");

constexpr const fmiStateRule &fmiRule(fmiFunction f) {
  return fmiStateTable[static_cast<size_t>(f)];
}

constexpr const char *fmiFunctionName(fmiFunction f) { return fmiRule(f).name; }

constexpr bool fmiStateAccepted(fmiFunction f, int32_t state) {
  return state >= 0 && state < 8 && (fmiRule(f).accepted & (1u << state)) != 0;
}

// The status a refused call of the function answers with.
constexpr fmi2Status fmiRefusalStatus(fmiFunction f) { return fmiRule(f).refusalStatus; }

// True when the instance's state accepts the function; otherwise logs the
// function's refusal at its refusal status (fmi2Warning unless the table
// says otherwise) and returns false.  `name` replaces the table's name in
// the message when given.
[[nodiscard]] bool fmiCheckState(fmiInstance *instance, fmiFunction f, const char *name = nullptr);
