#include "crash/error_text.h"

#include <algorithm>
#include <array>

namespace vol::crash {
namespace {

struct CodeName {
  uint32_t code;
  std::wstring_view name;
};
constexpr std::array<CodeName, 22> kCodeNames{{
    {0xC0000005, L"Access violation"},
    {0xC0000006, L"In-page error"},
    {0xC0000008, L"Invalid handle"},
    {0xC000001D, L"Illegal instruction"},
    {0xC0000025, L"Noncontinuable exception"},
    {0xC0000026, L"Invalid disposition"},
    {0xC000008C, L"Array bounds exceeded"},
    {0xC000008D, L"Floating point denormal operand"},
    {0xC000008E, L"Floating point division by zero"},
    {0xC000008F, L"Floating point inexact result"},
    {0xC0000090, L"Invalid floating point operation"},
    {0xC0000091, L"Floating point overflow"},
    {0xC0000092, L"Floating point stack check"},
    {0xC0000093, L"Floating point underflow"},
    {0xC0000094, L"Division by zero"},
    {0xC0000095, L"Integer overflow"},
    {0xC0000096, L"Privileged instruction"},
    {0xC00000FD, L"Stack overflow"},
    {0xC0000374, L"Heap corruption"},
    {0xC0000409, L"Stack buffer overrun"},
    {0x80000002, L"Misaligned data"},
    {0x80000003, L"Breakpoint"},
}};

// The access kind of an access violation or in-page error, by its first parameter.
std::wstring_view AccessKind(uint64_t kind) {
  switch (kind) {
    case 0:
      return L"Read";
    case 1:
      return L"Write";
    case 8:
      return L"Execution";
    default:
      return L"Access";
  }
}

}  // namespace

std::wstring HexText(uint64_t value, int min_digits) {
  std::wstring text;
  do {
    text.insert(text.begin(), L"0123456789ABCDEF"[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < min_digits) text.insert(0, min_digits - text.size(), L'0');
  return text;
}

std::wstring AddressText(uint64_t address, int pointer_bits) {
  if (pointer_bits < 64) address &= 0xFFFFFFFFu;
  return HexText(address, pointer_bits / 4);
}

std::wstring StructuredErrorText(const StructuredError& error) {
  std::wstring text;
  const auto known = std::find_if(kCodeNames.begin(), kCodeNames.end(),
                                  [&](const CodeName& entry) { return entry.code == error.code; });
  if (known != kCodeNames.end()) {
    text = known->name;
  } else {
    text = L"External exception " + HexText(error.code, 8);
  }
  text += L" at address " + AddressText(error.address, error.pointer_bits);
  if (!error.module.empty()) text += L" in module '" + error.module + L"'";
  const bool has_target = error.code == 0xC0000005 || error.code == 0xC0000006;
  if (has_target && error.information.size() >= 2) {
    text += L". ";
    text += AccessKind(error.information[0]);
    text += L" of address " + AddressText(error.information[1], error.pointer_bits);
  }
  return text;
}

}  // namespace vol::crash
