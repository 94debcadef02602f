// VolumeNameToDeviceName on any name and any reply: it asks for the name itself when the
// name holds a colon, for the name without its first four characters and its last one
// otherwise (and nothing for names too short to slice), and gives the reply's first
// string, never read past the 260 characters it handed over.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devices/udiskmgmt.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/sim/sim_machine.h"
#include "ui/edition.h"

namespace vol {
namespace {

// Answers a named query from the fuzzer's bytes, unterminated or with a lying count.
class NameReply : public SimMachine {
 public:
  std::wstring units;
  std::optional<uint32_t> count;  // absent: the units written, plus one
  bool fails = false;

  uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer, uint32_t length,
                          ApiForm form) override {
    asked.push_back(device_name ? std::optional<std::wstring>(*device_name) : std::nullopt);
    lengths.push_back(length);
    if (fails) {
      SetLastError(win_error::kFileNotFound);
      return 0;
    }
    const std::size_t written = std::min<std::size_t>(units.size(), length);
    std::copy_n(units.begin(), written, buffer);
    (void)form;
    return count.value_or(static_cast<uint32_t>(std::min<std::size_t>(written + 1, length)));
  }

  std::vector<std::optional<std::wstring>> asked;
  std::vector<uint32_t> lengths;
};

}  // namespace
}  // namespace vol

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vol;
  fuzz::Input input(data, size);
  NameReply reply;
  const uint8_t mode = input.Byte();
  reply.fails = mode % 4 == 0;
  if (mode % 4 == 1) reply.count = input.U32();
  const std::wstring name = input.Text(input.Byte());
  reply.units = input.RestAsText();
  while (!reply.units.empty() && reply.units.size() < 300 && mode % 4 == 2) {
    reply.units += reply.units;  // replies that fill the whole buffer
  }

  std::wstring device_name = L"stale";
  VolumeNameToDeviceName(reply, name, device_name);

  std::optional<std::wstring> query;
  if (name.find(L':') != std::wstring::npos) {
    query = name;
  } else if (name.size() > 5) {
    query = name.substr(4, name.size() - 5);
  }
  if (!query) {
    FUZZ_CHECK(reply.asked.empty());
    FUZZ_CHECK(device_name.empty());
    return 0;
  }
  FUZZ_CHECK(reply.asked.size() == 1 && reply.asked[0] == query);
  FUZZ_CHECK(reply.lengths[0] == 260);
  std::wstring expected;
  if (!reply.fails && reply.count.value_or(1) != 0) {
    const std::wstring written = reply.units.substr(0, 260);
    expected = written.substr(0, written.find(L'\0'));
    if (edition::kFull) expected = reply.FromAnsi(reply.ToAnsi(expected));
  }
  FUZZ_CHECK(device_name == expected);
  FUZZ_CHECK(device_name.size() <= 260);
  FUZZ_CHECK(reply.messages().empty());
  return 0;
}
