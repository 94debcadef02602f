// The application-level handler of errors that no handler of the program caught.
// The message loop and every window procedure catch once and hand the error here:
// the full edition shows the crash reporter, the reduced edition a plain message
// dialog. Both return to the message loop unless the user chose to end the program.
#pragma once

#include <string>

namespace vol {

// exception_pointers: the EXCEPTION_POINTERS of a structured exception, or null for
// a C++ exception.
void HandleUncaughtError(const std::wstring& message, const void* exception_pointers);

}  // namespace vol
