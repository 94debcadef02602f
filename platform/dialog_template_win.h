// An in-memory dialog template (DLGTEMPLATE and its DLGITEMTEMPLATEs), laid out as the
// sequence of 16-bit words that DialogBoxIndirectParam reads, so that dialogs need no
// resources of the program.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace vol {

class DialogTemplate {
 public:
  // Sizes in dialog units; the dialog grows with its font and the screen's resolution.
  DialogTemplate(DWORD style, short width, short height, std::wstring_view caption,
                 std::wstring_view font, WORD point_size) {
    Dword(style | DS_SETFONT);
    Dword(0);  // extended style
    count_index_ = words_.size();
    Word(0);  // item count, filled in as items are added
    for (short value : {short{0}, short{0}, width, height}) Word(static_cast<WORD>(value));
    Word(0);  // no menu
    Word(0);  // the standard dialog class
    String(caption);
    Word(point_size);
    String(font);
  }

  enum Class : WORD { kButton = 0x80, kEdit = 0x81, kStatic = 0x82 };

  void Add(Class control_class, DWORD style, short x, short y, short width, short height, WORD id,
           std::wstring_view text) {
    if (words_.size() % 2 != 0) Word(0);  // items start on DWORD boundaries
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (short value : {x, y, width, height}) Word(static_cast<WORD>(value));
    Word(id);
    Word(0xFFFF);
    Word(control_class);
    String(text);
    Word(0);  // no creation data
    ++words_[count_index_];
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void String(std::wstring_view text) {
    for (wchar_t c : text) Word(static_cast<WORD>(c));
    Word(0);
  }

  std::vector<WORD> words_;
  std::size_t count_index_ = 0;
};

}  // namespace vol
