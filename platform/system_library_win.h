// Where the program's DLLs come from. It runs with administrator rights, often started
// from a download folder: a DLL lying beside the executable or in the current directory
// under a system DLL's name must never be loaded.
#pragma once

#include "platform/handles_win.h"

namespace vol {

// Takes the current directory out of the DLL search of the whole process.
void LeaveCurrentDirectoryOutOfDllSearch();

// A DLL of the system folder by its file name ("dbghelp.dll"), never one found
// elsewhere; null when the system folder has none.
UniqueLibrary LoadSystemLibrary(const wchar_t* file_name);

}  // namespace vol
