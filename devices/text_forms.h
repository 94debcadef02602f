// Number and text forms shared by the list, the report and the messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/records.h"

namespace vol {

// Plain decimal digits, with a minus sign where negative.
std::wstring Decimal(int64_t value);
// Upper-case hexadecimal, at least four digits (1F -> 001F, 12345 -> 12345).
std::wstring HexText(uint32_t value);
// The 38-character braced registry form, upper-case digits.
std::wstring GuidText(const Guid& guid);
// Lower-cases A to Z only; every other character stays.
wchar_t LowerAscii(wchar_t c);
std::wstring LowerAscii(std::wstring_view text);
// Whether a and b are equal when A to Z count as a to z; without a copy of either.
bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b);
// Whether text holds part anywhere, A to Z counting as a to z; without a copy of either.
bool ContainsIgnoringAsciiCase(std::wstring_view text, std::wstring_view part);
// Explorer's order of names (StrCmpLogicalW's): case-blind, a run of digits against
// another by its value (Volume9 before Volume10), digits before any other character.
// Negative, zero or positive as a comes before, with or after b.
int CompareLogical(std::wstring_view a, std::wstring_view b);
// Hexadecimal digits by the value they write, whatever their width (FFFF before 10000).
int CompareHexValue(std::wstring_view a, std::wstring_view b);
// The system's message text for an error code, with trailing blanks, control
// characters and full stops removed.
std::wstring SystemErrorText(Platform& platform, uint32_t code);
// Removes one trailing backslash, if there is one.
std::wstring WithoutTrailingBackslash(std::wstring_view text);

}  // namespace vol
