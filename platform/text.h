// Every conversion of the program's text (UTF-16 on Windows) to and from narrow text:
// UTF-8, in which exceptions carry their messages from the throw to the display, and
// the system's ANSI code page (CP_ACP), which the ANSI forms of system functions use.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace vol {

// An unpaired surrogate becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
// Bytes that form no UTF-8 sequence are read as Latin-1, so that no text is lost.
std::wstring WideFromUtf8(std::string_view text);

// The message of an exception: the program throws UTF-8 messages only.
std::wstring ErrorText(const std::exception& error);

// The multi-string at the start of buffer, its final terminator included, as it stands
// in the buffer: the length a call returns beside it is not trusted (some Windows
// versions return 2 for "C:\\"). At most the whole buffer when no terminator ends it.
std::string_view WrittenMultiString(std::string_view buffer);

// --- the ANSI code page: Windows builds only ---
// False, with the converter's last error, when the text cannot be converted.
bool AnsiFromWide(std::wstring_view text, std::string& out);
bool WideFromAnsi(std::string_view text, std::wstring& out);
// The same, empty on failure.
std::string AnsiFromWide(std::wstring_view text);
std::wstring WideFromAnsi(std::string_view text);
// Writes text (length bytes) as UTF-16 into buffer (capacity characters): the count
// written, or 0 with the converter's last error. Never more characters than bytes.
uint32_t WideFromAnsiInto(const char* text, uint32_t length, wchar_t* buffer, uint32_t capacity);

}  // namespace vol
