// "send bug report": Simple MAPI's MAPISendMail, looked up at run time, so that the
// program starts on systems without a mail interface and says so only when asked.
#include <windows.h>
// windows.h first: mapi.h needs its types.
#include <mapi.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "crash/crash_win.h"
#include "ui/edition.h"

namespace vol::crash_detail {
namespace {

const wchar_t* mail_library = nullptr;

struct LibraryFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// Simple MAPI takes text in the ANSI code page.
std::string Ansi(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), ansi.data(), size,
                        nullptr, nullptr);
  }
  return ansi;
}

// The author's contact address ends the window title.
std::wstring ContactAddress() {
  const std::wstring_view title = edition::kTitle;
  const std::size_t blank = title.rfind(L' ');
  return std::wstring(blank == std::wstring_view::npos ? title : title.substr(blank + 1));
}

void Tell(HWND owner, const std::wstring& text) {
  MessageBoxW(owner, text.c_str(), kCaption, MB_OK | MB_ICONWARNING);
}

}  // namespace

void SetMailLibraryForTests(const wchar_t* library) { mail_library = library; }

void SendBugReport(HWND owner, const std::wstring& report) {
  const Library mapi(LoadLibraryW(mail_library != nullptr ? mail_library : L"mapi32.dll"));
  const auto send = mapi ? reinterpret_cast<LPMAPISENDMAIL>(
                               reinterpret_cast<void*>(GetProcAddress(mapi.get(), "MAPISendMail")))
                         : nullptr;
  if (send == nullptr) {
    Tell(owner,
         L"No mail interface (Simple MAPI) is available on this computer, so the bug report "
         L"cannot be sent.\nUse \"show bug report\" to copy it into a mail of your own.");
    return;
  }

  std::string subject = Ansi(std::wstring(kCaption) + L" bug report");
  std::string body = Ansi(report);
  const std::wstring contact = ContactAddress();
  std::string name = Ansi(contact);
  std::string address = Ansi(L"SMTP:" + contact);
  MapiRecipDesc recipient{};
  recipient.ulRecipClass = MAPI_TO;
  recipient.lpszName = name.data();
  recipient.lpszAddress = address.data();
  MapiMessage message{};
  message.lpszSubject = subject.data();
  message.lpszNoteText = body.data();
  message.nRecipCount = 1;
  message.lpRecips = &recipient;

  // The mail program's own window lets the user check the report and send it.
  const ULONG result =
      send(0, reinterpret_cast<ULONG_PTR>(owner), &message, MAPI_DIALOG | MAPI_LOGON_UI, 0);
  if (result == SUCCESS_SUCCESS || result == MAPI_USER_ABORT) return;
  Tell(owner, L"The bug report could not be sent: the mail interface answered error " +
                  std::to_wstring(result) + L".\nUse \"show bug report\" to copy it.");
}

}  // namespace vol::crash_detail
