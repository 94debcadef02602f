// "send bug report": Simple MAPI's MAPISendMailW or MAPISendMail, looked up at run time, so that
// the program starts on systems without a mail interface and says so only when asked.
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

// Simple MAPI's records in either text form: MAPISendMailW's are MAPISendMail's with
// UTF-16 text (mapi.h of MinGW has only the ANSI ones).
template <typename Char>
struct MailRecipient {
  ULONG reserved, recipient_class;
  Char *name, *address;
  ULONG entry_id_size;
  void* entry_id;
};
template <typename Char>
struct MailMessage {
  ULONG reserved;
  Char *subject, *text, *message_type, *date_received, *conversation_id;
  FLAGS flags;
  MailRecipient<Char>* originator;
  ULONG recipient_count;
  MailRecipient<Char>* recipients;
  ULONG file_count;
  void* files;
};
static_assert(sizeof(MailMessage<char>) == sizeof(MapiMessage));

template <typename Char>
using SendMail = ULONG(WINAPI*)(LHANDLE, ULONG_PTR, MailMessage<Char>*, FLAGS, ULONG);

// The mail program's own window lets the user check the report and send it.
template <typename Char, typename Text>
ULONG Send(SendMail<Char> send, HWND owner, const std::wstring& report, Text convert) {
  const std::wstring contact(edition::kContactAddress);
  auto subject = convert(std::wstring(kCaption) + L" bug report"), body = convert(report),
       name = convert(contact), address = convert(L"SMTP:" + contact);
  MailRecipient<Char> recipient{0, MAPI_TO, name.data(), address.data(), 0, nullptr};
  MailMessage<Char> message{};
  message.subject = subject.data();
  message.text = body.data();
  message.recipient_count = 1;
  message.recipients = &recipient;
  return send(0, reinterpret_cast<ULONG_PTR>(owner), &message, MAPI_DIALOG | MAPI_LOGON_UI, 0);
}

template <typename Function>
Function Lookup(const UniqueLibrary& library, const char* name) {
  return library ? reinterpret_cast<Function>(
                       reinterpret_cast<void*>(GetProcAddress(library.get(), name)))
                 : nullptr;
}

}  // namespace

// Tests point the mail interface at another file name of the system folder (one that
// does not exist, to see the program without a mail interface). Null: mapi32.dll.
// Declared by the tests only.
void SetMailLibraryForTests(const wchar_t* library) { mail_library = library; }

void SendBugReport(HWND owner, const std::wstring& report) {
  const UniqueLibrary mapi =
      LoadSystemLibrary(mail_library != nullptr ? mail_library : L"mapi32.dll");
  // The Unicode form where the system has it (Windows 8 on): the text as it is, and the
  // broker that reaches a mail program of the other bitness.
  const auto wide = Lookup<SendMail<wchar_t>>(mapi, "MAPISendMailW");
  const auto ansi = Lookup<SendMail<char>>(mapi, "MAPISendMail");
  if (wide == nullptr && ansi == nullptr) {
    Tell(owner,
         L"No mail interface (Simple MAPI) is available on this computer, so the bug report "
         L"cannot be sent.\nUse \"show bug report\" to copy it into a mail of your own.");
    return;
  }
  const ULONG result =
      wide != nullptr
          ? Send(wide, owner, report, [](const std::wstring& text) { return text; })
          : Send(ansi, owner, report, [](const std::wstring& text) { return AnsiFromWide(text); });
  ReinstallUncaughtErrorHandlers();
  if (result == SUCCESS_SUCCESS || result == MAPI_USER_ABORT) return;
  Tell(owner, L"The bug report could not be sent: the mail interface answered error " +
                  std::to_wstring(result) + L".\nUse \"show bug report\" to copy it.");
}

}  // namespace vol::crash_detail
