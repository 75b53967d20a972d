#pragma once
// Generated data of the model that the FMI layer reads: its GUID, the
// Boolean variables reset after every event iteration, the variables whose
// variability limits their setting, the column groups of its Jacobian and
// the external function libraries it needs.
#include <cstdint>

// The GUID of the compiled model; the model description carries the same text
// (the build reads it from here).
#define FMI_MODEL_GUID "{5a3e9b7c-2f41-4d8e-9c06-7b1d2e4f8a93}"

// Boolean variables whose values are reset after every successful event
// iteration (value references): none in this model.
inline constexpr uint32_t booleanResetCount = 0;
inline constexpr const uint32_t *booleanResetReferences = nullptr;

// Variables the model declares constant (value references without their
// level bits): the equations carry their values, so no setter changes them.
inline constexpr uint32_t constantReferences[] = {
    0x06000000u, // g
};

// Parameters the model declares fixed (value references without their level
// bits): they act only through initialization, so they are set before its
// end and never after.
inline constexpr uint32_t fixedParameterReferences[] = {
    0x01000002u, // initialLevel
};

// One record of the model's Jacobian group-pattern table.  Kind 0: pattern has
// nx entries, entry r the 1-based column of this group in row r (<= 0: none).
// Kind 1: pattern[0] = m, then m blocks {column, count c, c rows} (1-based).
struct JacobianGroupPattern {
  int32_t kind;
  const int *pattern;
};

// The model's column-group tables: element 0 the number of groups G, then per
// group its column count and its 1-based columns; and one pattern per group.
// This model provides none (G = 0).
extern const int jacobianColumnGroups[];
extern const JacobianGroupPattern *const jacobianGroupPatterns;

// The external libraries that the model's external functions need: a
// null-terminated list of UTF-8 file names.  This model names none.
extern const char *externalLibraryNames[];
