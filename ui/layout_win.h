// Layout values are stated in the pixels of a design resolution; these helpers turn
// them into the pixels of the resolution a window is shown at.
#pragma once

#include <windows.h>

#include <string_view>

#include "platform/handles_win.h"

namespace vol {

inline int ScaleToDpi(int design_value, int design_dpi, UINT dpi) {
  return MulDiv(design_value, static_cast<int>(dpi), design_dpi);
}

// The font of a layout: face name and height (negative: character height) in design
// pixels.
inline UniqueFont CreateLayoutFont(std::wstring_view face, int design_height, int design_dpi,
                                   UINT dpi) {
  LOGFONTW font{};
  font.lfHeight = ScaleToDpi(design_height, design_dpi, dpi);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  face.copy(font.lfFaceName, LF_FACESIZE - 1);
  return UniqueFont(CreateFontIndirectW(&font));
}

// The outer size of a window whose client area is width x height at dpi.
inline SIZE WindowSizeForClient(int width, int height, DWORD style, DWORD ex_style, UINT dpi) {
  RECT bounds{0, 0, width, height};
  AdjustWindowRectExForDpi(&bounds, style, FALSE, ex_style, dpi);
  return SIZE{bounds.right - bounds.left, bounds.bottom - bounds.top};
}

}  // namespace vol
