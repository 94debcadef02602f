// Bits of a drive-letter set: bit 0 for A up to bit 25 for Z.
#pragma once

#include <cstdint>

namespace vol {

constexpr bool IsBitSet(uint32_t mask, int bit) { return (mask & (uint32_t{1} << bit)) != 0; }
constexpr uint32_t SetBit(uint32_t mask, int bit) { return mask | (uint32_t{1} << bit); }

}  // namespace vol
