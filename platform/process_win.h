// Facts about the running process that the platform and the crash reporter share.
#pragma once

#include <string>

namespace vol {

// The full path of the running executable; empty when the system does not say.
std::wstring ProcessExecutablePath();

}  // namespace vol
