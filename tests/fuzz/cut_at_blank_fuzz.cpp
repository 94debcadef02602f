// CutAtBlank on any text: the part before the first blank, the whole text when it has none.
#include <cstdint>
#include <string>

#include "devices/udiskmgmt.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vol::fuzz::Input input(data, size);
  const std::wstring text = input.RestAsText();
  const std::wstring cut = vol::CutAtBlank(text);
  FUZZ_CHECK(cut.size() <= text.size());
  FUZZ_CHECK(text.compare(0, cut.size(), cut) == 0);
  FUZZ_CHECK(cut.find(L' ') == std::wstring::npos);
  FUZZ_CHECK(cut.size() == text.size() || text[cut.size()] == L' ');
  return 0;
}
