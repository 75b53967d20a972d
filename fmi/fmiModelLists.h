// Generated lists of the model that only the FMI layer reads.
#pragma once

#include <cstdint>

#include "fmi/fmi2.h"

// Boolean variables whose values are reset after every successful event
// iteration: none in this model.
inline constexpr uint32_t booleanResetCount = 0;
inline constexpr const fmi2ValueReference *booleanResetReferences = nullptr;
