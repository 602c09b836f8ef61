// The back-pointer marker shared by both engines.
#pragma once

#include <cstdint>

namespace vorn {

// An entry without a predecessor. The engines pack the pointers of all states of a cell
// into bit fields, which keep this marker's low bits: 3 in a 2-bit field, 7 in a 3-bit one.
inline constexpr std::uint8_t POINTER_UNSET = 0xFF;

}  // namespace vorn
