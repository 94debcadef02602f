// "send bug report": Simple MAPI's MAPISendMail, looked up at run time, so that the
// program starts on systems without a mail interface and says so only when asked.
#include <windows.h>
// windows.h first: mapi.h needs its types.
#include <mapi.h>

#include <string>

#include "crash/crash_win.h"
#include "crash/full/reporter_win.h"
#include "platform/edition.h"
#include "platform/system_library_win.h"
#include "platform/text.h"

namespace vol::crash_detail {
namespace {

const wchar_t* mail_library = nullptr;

void Tell(HWND owner, const std::wstring& text) {
  MessageBoxW(owner, text.c_str(), kCaption, MB_OK | MB_ICONWARNING);
}

}  // namespace

// Tests point the mail interface at another file name of the system folder (one that
// does not exist, to see the program without a mail interface). Null: mapi32.dll.
// Declared by the tests only.
void SetMailLibraryForTests(const wchar_t* library) { mail_library = library; }

void SendBugReport(HWND owner, const std::wstring& report) {
  const UniqueLibrary mapi =
      LoadSystemLibrary(mail_library != nullptr ? mail_library : L"mapi32.dll");
  const auto send = mapi ? reinterpret_cast<LPMAPISENDMAIL>(
                               reinterpret_cast<void*>(GetProcAddress(mapi.get(), "MAPISendMail")))
                         : nullptr;
  if (send == nullptr) {
    Tell(owner,
         L"No mail interface (Simple MAPI) is available on this computer, so the bug report "
         L"cannot be sent.\nUse \"show bug report\" to copy it into a mail of your own.");
    return;
  }

  // Simple MAPI takes text in the ANSI code page.
  std::string subject = AnsiFromWide(std::wstring(kCaption) + L" bug report");
  std::string body = AnsiFromWide(report);
  const std::wstring contact(edition::kContactAddress);
  std::string name = AnsiFromWide(contact);
  std::string address = AnsiFromWide(L"SMTP:" + contact);
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
  ReinstallUncaughtErrorHandlers();
  if (result == SUCCESS_SUCCESS || result == MAPI_USER_ABORT) return;
  Tell(owner, L"The bug report could not be sent: the mail interface answered error " +
                  std::to_wstring(result) + L".\nUse \"show bug report\" to copy it.");
}

}  // namespace vol::crash_detail
