// The properties window: a tool window whose read-only memo shows the report on one
// volume or drive. Each one lives on its own and frees itself when closed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles_win.h"
#include "ui/Ufrmvolume.h"
#include "ui/window_base_win.h"

namespace vol {

class Tfrmproperties : public WindowBase<Tfrmproperties>, public PropertiesView {
 public:
  static constexpr const wchar_t* kClassName = L"Tfrmproperties";

  // Creates a hidden window owned by owner, centred on the screen; null on failure.
  // The window deletes itself when it is destroyed.
  static Tfrmproperties* Create(HWND owner, const std::wstring& caption);

  // Shows the window without making it modal, then runs FormShow.
  void Show();
  void SetLines(const std::vector<std::wstring>& lines) override;

  HWND GroupBox1() const { return group_box_; }
  HWND Memo1() const { return memo_; }

 private:
  friend class WindowBase<Tfrmproperties>;
  Tfrmproperties() = default;
  ~Tfrmproperties() override = default;

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnNcDestroy();

  bool OnCreate();
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  void FormShow();
  void FormClose();
  // Keys for the memo, wherever the focus is: true when the key was used.
  bool OnKey(UINT message, WPARAM key);
  void ApplyLayout(UINT dpi);

  static LRESULT CALLBACK MemoProc(HWND memo, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR self);

  bool owned_by_window_ = false;
  HWND group_box_ = nullptr;
  HWND memo_ = nullptr;
  UniqueFont font_;
};

}  // namespace vol
