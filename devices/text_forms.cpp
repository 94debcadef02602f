#include "devices/text_forms.h"

#include <algorithm>

namespace vol {
namespace {

constexpr std::wstring_view kHexDigits = L"0123456789ABCDEF";

// Hex digits of value, exactly `digits` of them, appended to out.
void AppendHex(std::wstring& out, uint64_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out += kHexDigits[(value >> shift) & 0xF];
  }
}

bool IsTrimmedAtEnd(wchar_t c) { return c == L' ' || c == L'.' || c < 0x20 || c == 0x7F; }

}  // namespace

std::wstring Decimal(int64_t value) { return std::to_wstring(value); }

std::wstring HexText(uint32_t value) {
  int digits = 4;
  while (digits < 8 && (value >> (digits * 4)) != 0) ++digits;
  std::wstring text;
  AppendHex(text, value, digits);
  return text;
}

std::wstring GuidText(const Guid& guid) {
  std::wstring text;
  text.reserve(38);
  text += L'{';
  AppendHex(text, guid.Data1, 8);
  text += L'-';
  AppendHex(text, guid.Data2, 4);
  text += L'-';
  AppendHex(text, guid.Data3, 4);
  text += L'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) text += L'-';
    AppendHex(text, guid.Data4[i], 2);
  }
  text += L'}';
  return text;
}

wchar_t LowerAscii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

std::wstring LowerAscii(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) c = LowerAscii(c);
  return lower;
}

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return LowerAscii(x) == LowerAscii(y); });
}

// std::search rather than std::ranges::search, whose subrange clang 14 cannot compile
// against GCC 12's library (the fuzz build).
bool ContainsIgnoringAsciiCase(std::wstring_view text, std::wstring_view part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [](wchar_t x, wchar_t y) { return LowerAscii(x) == LowerAscii(y); }) !=
             text.end() ||
         part.empty();
}

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Digit texts of any length by value, letters as hexadecimal digits; also one character
// against another, case-blind.
int CompareDigits(std::wstring_view a, std::wstring_view b) {
  a.remove_prefix(std::min(a.find_first_not_of(L'0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of(L'0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const auto lower = [](wchar_t c) { return LowerAscii(c); };
  const auto [x, y] = std::ranges::mismatch(a, b, {}, lower, lower);
  return x == a.end() ? 0 : lower(*x) < lower(*y) ? -1 : 1;
}

}  // namespace

int CompareLogical(std::wstring_view a, std::wstring_view b) {
  while (!a.empty() && !b.empty()) {
    const bool digit_a = IsDigit(a.front()), digit_b = IsDigit(b.front());
    if (digit_a != digit_b) return digit_a ? -1 : 1;
    // A run of digits, or one other character, of each.
    const std::size_t run_a = digit_a ? std::ranges::find_if_not(a, IsDigit) - a.begin() : 1;
    const std::size_t run_b = digit_b ? std::ranges::find_if_not(b, IsDigit) - b.begin() : 1;
    if (const int difference = CompareDigits(a.substr(0, run_a), b.substr(0, run_b))) {
      return difference;
    }
    a.remove_prefix(run_a);
    b.remove_prefix(run_b);
  }
  return a.empty() == b.empty() ? 0 : a.empty() ? -1 : 1;
}

int CompareHexValue(std::wstring_view a, std::wstring_view b) { return CompareDigits(a, b); }

std::wstring SystemErrorText(Platform& platform, uint32_t code) {
  std::wstring text = platform.FormatMessage(code);
  std::size_t end = text.size();
  while (end > 0 && IsTrimmedAtEnd(text[end - 1])) --end;
  text.resize(end);
  return text;
}

std::wstring WithoutTrailingBackslash(std::wstring_view text) {
  if (!text.empty() && text.back() == L'\\') text.remove_suffix(1);
  return std::wstring(text);
}

}  // namespace vol
