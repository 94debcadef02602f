// The Windows handles the program owns, each a UniqueAny with its closer and sentinel.
#pragma once

#include <windows.h>

#include "platform/unique_any.h"

namespace vol {

using UniqueKernelHandle = UniqueAny<HANDLE, CloseWith<&::CloseHandle>>;  // threads, mappings
using UniqueFile = UniqueAny<HANDLE, CloseWith<&::CloseHandle>, -1>;  // INVALID_HANDLE_VALUE
using UniqueLibrary = UniqueAny<HMODULE, CloseWith<&::FreeLibrary>>;
using UniqueView = UniqueAny<const void*, CloseWith<&::UnmapViewOfFile>>;
using UniqueLocalMemory = UniqueAny<HLOCAL, CloseWith<&::LocalFree>>;
using UniqueGlobalMemory = UniqueAny<HGLOBAL, CloseWith<&::GlobalFree>>;
using UniqueFont = UniqueAny<HFONT, CloseWith<&::DeleteObject>>;
using UniqueMenu = UniqueAny<HMENU, CloseWith<&::DestroyMenu>>;

// A device context of a window (GetDC), released to that window.
struct ReleaseDcOf {
  HWND window = nullptr;
  void operator()(HDC dc) const { ::ReleaseDC(window, dc); }
};
using WindowDc = UniqueAny<HDC, ReleaseDcOf>;
inline WindowDc GetWindowDc(HWND window) { return WindowDc(::GetDC(window), {window}); }

// An object selected into a device context; what was selected before comes back.
struct SelectBackInto {
  HDC dc = nullptr;
  void operator()(HGDIOBJ previous) const { ::SelectObject(dc, previous); }
};
using SelectedObject = UniqueAny<HGDIOBJ, SelectBackInto>;
inline SelectedObject Select(HDC dc, HGDIOBJ object) {
  return SelectedObject(::SelectObject(dc, object), {dc});
}

}  // namespace vol
