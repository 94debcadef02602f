#include "platform/text.h"

#include <algorithm>

namespace vol {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(c);
}

// The length of the UTF-8 sequence at text[at] and its code point; 0 when none starts there.
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t& c) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  std::size_t length = lead < 0x80                   ? 1
                       : lead >= 0xC2 && lead < 0xE0 ? 2
                       : lead >= 0xE0 && lead < 0xF0 ? 3
                       : lead >= 0xF0 && lead < 0xF5 ? 4
                                                     : 0;
  if (length == 0 || at + length > text.size()) return 0;
  c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string Utf8FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
        const char32_t low = static_cast<char32_t>(text[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    // The lead byte's high bits count the bytes (110, 1110, 11110); each byte that
    // follows carries 6 bits.
    const int follow = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    out += static_cast<char>((0xF00 >> (follow + 1)) | (c >> (6 * follow)));
    for (int k = follow - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
  }
  return out;
}

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(text, at, c);
    if (length == 0) {
      out += static_cast<wchar_t>(static_cast<unsigned char>(text[at++]));
      continue;
    }
    AppendWide(out, c);
    at += length;
  }
  return out;
}

std::wstring ErrorText(const std::exception& error) { return WideFromUtf8(error.what()); }

std::string_view WrittenMultiString(std::string_view buffer) {
  std::size_t at = 0;
  while (at < buffer.size() && buffer[at] != '\0') {
    const std::size_t end = buffer.find('\0', at);
    if (end == std::string_view::npos) return buffer;
    at = end + 1;
  }
  return buffer.substr(0, std::min(at + 1, buffer.size()));
}

}  // namespace vol
