#include "crash/full/coff_symbols.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace vol::crash {
namespace {

constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kSymbolSize = 18;
constexpr uint16_t kFunctionType = 0x20;  // derived type "function", in bits 4 and 5
constexpr uint8_t kClassExternal = 2;
constexpr uint8_t kClassStatic = 3;

// Little-endian reads that refuse to leave the file.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool Has(uint64_t offset, uint64_t size) const {
    return offset <= bytes_.size() && size <= bytes_.size() - offset;
  }
  std::optional<uint32_t> Read(uint64_t offset, int size) const {
    if (!Has(offset, static_cast<uint64_t>(size))) return std::nullopt;
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes_[offset + i];
    return value;
  }
  // A zero-terminated string that starts at offset and may run up to limit.
  std::string String(uint64_t offset, uint64_t limit) const {
    std::string text;
    for (uint64_t i = offset; i < limit && i < bytes_.size() && bytes_[i] != 0; ++i) {
      text += static_cast<char>(bytes_[i]);
    }
    return text;
  }

 private:
  std::span<const uint8_t> bytes_;
};

}  // namespace

std::vector<CoffSymbol> ReadCoffFunctions(std::span<const uint8_t> file) {
  std::vector<CoffSymbol> symbols;
  const Reader reader(file);
  if (reader.Read(0, 2) != 0x5A4Du) return symbols;  // "MZ"
  const auto pe = reader.Read(0x3C, 4);
  if (!pe || reader.Read(*pe, 4) != 0x00004550u) return symbols;  // "PE\0\0"
  const uint64_t header = uint64_t{*pe} + 4;
  const auto section_count = reader.Read(header + 2, 2);
  const auto table = reader.Read(header + 8, 4);
  const auto symbol_count = reader.Read(header + 12, 4);
  const auto optional_size = reader.Read(header + 16, 2);
  if (!section_count || !table || !symbol_count || !optional_size || *table == 0) return symbols;

  std::vector<uint32_t> section_rvas;
  const uint64_t sections = header + kFileHeaderSize + *optional_size;
  for (uint32_t i = 0; i < *section_count; ++i) {
    const auto rva = reader.Read(sections + uint64_t{i} * kSectionHeaderSize + 12, 4);
    if (!rva) return symbols;
    section_rvas.push_back(*rva);
  }

  const uint64_t strings = *table + uint64_t{*symbol_count} * kSymbolSize;
  const uint64_t strings_end = strings + reader.Read(strings, 4).value_or(0);
  for (uint64_t index = 0; index < *symbol_count; ++index) {
    const uint64_t at = *table + index * kSymbolSize;
    if (!reader.Has(at, kSymbolSize)) break;
    const uint32_t value = *reader.Read(at + 8, 4);
    const int16_t section = static_cast<int16_t>(*reader.Read(at + 12, 2));
    const uint16_t type = static_cast<uint16_t>(*reader.Read(at + 14, 2));
    const uint8_t storage = static_cast<uint8_t>(*reader.Read(at + 16, 1));
    index += *reader.Read(at + 17, 1);  // auxiliary records follow their symbol
    if ((type & 0x30) != kFunctionType || section < 1 ||
        static_cast<uint32_t>(section) > section_rvas.size() ||
        (storage != kClassExternal && storage != kClassStatic)) {
      continue;
    }
    std::string name = *reader.Read(at, 4) == 0
                           ? reader.String(strings + *reader.Read(at + 4, 4), strings_end)
                           : reader.String(at, at + 8);
    if (name.empty()) continue;
    symbols.push_back({section_rvas[section - 1] + value, std::move(name)});
  }
  std::stable_sort(symbols.begin(), symbols.end(),
                   [](const CoffSymbol& a, const CoffSymbol& b) { return a.rva < b.rva; });
  return symbols;
}

const CoffSymbol* FindCoffSymbol(const std::vector<CoffSymbol>& symbols, uint32_t rva) {
  auto after =
      std::upper_bound(symbols.begin(), symbols.end(), rva,
                       [](uint32_t value, const CoffSymbol& symbol) { return value < symbol.rva; });
  return after == symbols.begin() ? nullptr : &*(after - 1);
}

}  // namespace vol::crash
