// Value references: bits 0-23 index a value array, bits 24-27 select the
// variable category, bits 28-31 give the evaluation level that a read needs.
// The reference 0xFFFFFFFF names the independent variable time.
#pragma once

#include <cstdint>

#include "fmi/fmi2.h"

enum class fmiCategory : uint32_t {
  None = 0,
  Parameter = 1,
  State = 2,
  StateDerivative = 3,
  Output = 4,
  Input = 5,
  Auxiliary = 6,
  String = 8,
  InputReadOnly = 10,
  Extra11 = 11,
  Extra12 = 12,
  StringReadOnly = 13,
  ParameterReadOnly = 14,
  Time = 15,
};

inline constexpr fmi2ValueReference fmiTimeReference = 0xFFFFFFFFu;

constexpr uint32_t fmiReferenceIndex(fmi2ValueReference vr) { return vr & 0xFFFFFFu; }
constexpr fmiCategory fmiReferenceCategory(fmi2ValueReference vr) {
  return static_cast<fmiCategory>((vr >> 24) & 0xFu);
}
constexpr uint32_t fmiReferenceLevel(fmi2ValueReference vr) { return vr >> 28; }
// The reference without its level bits: the references of every level name
// the same variable.
constexpr uint32_t fmiReferenceVariable(fmi2ValueReference vr) { return vr & 0x0FFFFFFFu; }

constexpr fmi2ValueReference fmiMakeReference(fmiCategory category, uint32_t index,
                                              uint32_t level) {
  return (level << 28) | (static_cast<uint32_t>(category) << 24) | (index & 0xFFFFFFu);
}

static_assert(fmiReferenceCategory(fmiTimeReference) == fmiCategory::Time);
static_assert(fmiReferenceLevel(fmiTimeReference) == 15);
static_assert(fmiReferenceIndex(fmiTimeReference) == 0xFFFFFFu);
static_assert(fmiMakeReference(fmiCategory::Output, 1, 1) == 0x14000001u);
