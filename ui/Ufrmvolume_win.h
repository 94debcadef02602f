// The main window frmvolumes: the volume list lvvolumes, the status bar StatusBar1 and
// the context menu PopupMenu1. It is the FormView of the window-free Tfrmvolumes, which
// makes every decision; this class only does what that logic asks of a window.
#pragma once

#include <windows.h>

#include <list>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles_win.h"
#include "platform/platform.h"
#include "ui/Ufrmvolume.h"
#include "ui/edition.h"
#include "ui/window_base_win.h"

namespace vol {

class MainWindow : public WindowBase<MainWindow>, public FormView {
 public:
  static constexpr const wchar_t* kClassName = L"Tfrmvolumes";

  // quit_on_close: closing the window ends the thread's message loop (the program's
  // window does; a window made by a test does not).
  explicit MainWindow(Platform& platform, bool quit_on_close = true);
  ~MainWindow() override;

  // Creates the window hidden, laid out for the resolution of its screen. Showing it
  // runs FormShow once.
  bool Create();

  Tfrmvolumes& form() { return form_; }
  HWND lvvolumes() const { return list_; }
  HWND StatusBar1() const { return status_bar_; }
  HMENU PopupMenu1() const { return popup_menu_.get(); }

  // FormView
  void SetTitle(const std::wstring& title) override;
  void SetRows(std::vector<ListRow> rows) override;
  std::optional<std::size_t> SelectedRecord() override;
  void SelectRow(int index) override;
  void ShowSortOrder(const SortOrder& order) override;
  bool IsChecked(Command item) override;
  void SetChecked(Command item, bool checked) override;
  void SetStatusText(const std::wstring& text) override;
  std::optional<std::wstring> InputBox(const std::wstring& caption, const std::wstring& prompt,
                                       const std::wstring& default_text) override;
  PropertiesView& OpenProperties(const std::wstring& caption) override;

 private:
  friend class WindowBase<MainWindow>;

  // A properties window as a handler sees it: reached through its handle, because the
  // user may close the window while the handler still runs (any message box shown on
  // the way runs a message loop).
  class PropertiesLink : public PropertiesView {
   public:
    explicit PropertiesLink(HWND window) : window_(window) {}
    void SetLines(const std::vector<std::wstring>& lines) override;

   private:
    HWND window_;
  };

  // Runs a handler of Tfrmvolumes. The links handed out meanwhile live until the
  // outermost handler has returned.
  template <typename Handler>
  void RunHandler(Handler&& handler);

  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnNcDestroy();

  bool OnCreate();
  struct ControlPlaces {
    RECT list, status_bar;
  };
  ControlPlaces PlaceControls() const;
  static SIZE WindowSize(UINT dpi);
  void OnSize();
  void OnShowWindow(bool showing);
  void OnCommand(WORD id);
  LRESULT OnNotify(const NMHDR& header);
  void OnContextMenu(HWND source, LPARAM position);
  LRESULT OnDeviceChange(WPARAM event, LPARAM record);
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  void OnDestroy();
  // Keys of lvvolumes: true when the key was used.
  bool OnListKey(UINT message, WPARAM key);

  void ApplyFont(UINT dpi);
  // Sends the window a menu item's WM_COMMAND, as the item's keyboard shortcut.
  void SendMenuCommand(Command command);
  static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR self);

  Tfrmvolumes form_;
  bool quit_on_close_;
  HWND list_ = nullptr;
  HWND status_bar_ = nullptr;
  UniqueMenu popup_menu_;
  UniqueFont font_;
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  bool shown_ = false;
  std::list<PropertiesLink> properties_links_;
  int handler_depth_ = 0;
  // A context-menu key already handled on its way down; its release is swallowed.
  WPARAM menu_key_down_ = 0;
};

}  // namespace vol
