// The function names of a PE file's COFF symbol table. MinGW's linker keeps that table
// in every image it does not strip, while dbghelp often gives no names for such images
// (it looks for PDB or DWARF data first); the bug report falls back on it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vol::crash {

struct CoffSymbol {
  uint32_t rva = 0;  // relative to the image's base
  std::string name;  // as the compiler wrote it
  bool operator==(const CoffSymbol&) const = default;
};

// The function symbols of the file's image, sorted by rva. Empty when the file has no
// symbol table or is not a PE file; a damaged table gives what could be read of it.
std::vector<CoffSymbol> ReadCoffFunctions(std::span<const uint8_t> file);

// The function that holds rva: the last symbol at or before it; null when none.
const CoffSymbol* FindCoffSymbol(const std::vector<CoffSymbol>& symbols, uint32_t rva);

}  // namespace vol::crash
