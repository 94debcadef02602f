// The modal input box: a caption, a prompt, one line of text, OK and Cancel.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vol {

// Control ids of the box, for whoever drives it from outside.
inline constexpr int kInputBoxPromptId = 100;
inline constexpr int kInputBoxEditId = 101;

// Shows the box owned by owner (disabled meanwhile) with default_text in its field,
// selected. The field's text on OK (or Enter); nothing on Cancel, Escape or close.
std::optional<std::wstring> ShowInputBox(HWND owner, const std::wstring& caption,
                                         const std::wstring& prompt,
                                         const std::wstring& default_text);

}  // namespace vol
