// What the error box says about a structured exception, in both editions. Window-free,
// so that its wording can be tested anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vol::crash {

// Upper-case hexadecimal with at least min_digits digits.
std::wstring HexText(uint64_t value, int min_digits);

// An address as upper-case hexadecimal of the pointer width: 0040ABCD, 0000000140001000.
std::wstring AddressText(uint64_t address, int pointer_bits);

struct StructuredError {
  uint32_t code = 0;
  uint64_t address = 0;
  std::wstring module;                // file name of the module at the address; empty: none
  std::vector<uint64_t> information;  // the exception record's parameters
  int pointer_bits = 32;
};
std::wstring StructuredErrorText(const StructuredError& error);

}  // namespace vol::crash
