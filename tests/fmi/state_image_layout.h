// Byte offsets in the FMU-state image of the vessel (nx 1, np 3, nu 1, ny 2,
// nw 2, no event indicators, extra arrays or Strings): the header and
// format, twelve counts, the three leading scalars and the value arrays,
// then the scalars in format order.  For tests that damage one field.
#pragma once

#include <cstddef>

namespace fmitest {

inline constexpr char kStateFormat[] =
    "ifif#f#f#f#f#f#f#f#f#f#s#fiiiiiiiiiiiUfiS(ffffff)S(iiiiiiiiiiiii)Bf#";
inline constexpr size_t kDataStart = 8 + sizeof kStateFormat + 4 * 12;
inline constexpr size_t kToleranceOffset = kDataStart + 4;
inline constexpr size_t kValueDoubles = 2 + 2 + 4 + 2 + 3 + 3 + 1 + 2 + 1 + 1;
inline constexpr size_t kTimeOffset = kDataStart + 16 + 8 * kValueDoubles + 4;
inline constexpr size_t kComputedLevelOffset = kTimeOffset + 8;
inline constexpr size_t kValuesChangedOffset = kComputedLevelOffset + 4 * 4;
inline constexpr size_t kStepCountOffset = kTimeOffset + 8 + 11 * 4;
inline constexpr size_t kNextOutputOffset = kStepCountOffset + 8;
inline constexpr size_t kDuserOffset = kNextOutputOffset + 8 + 4; // DUSER[0]
inline constexpr size_t kIuserOffset = kDuserOffset + 6 * 8;      // IUSER[0]
// The model data block: its length word, then the ModelInstanceData.
inline constexpr size_t kBlockOffset = kIuserOffset + 13 * 4 + 4;

} // namespace fmitest
