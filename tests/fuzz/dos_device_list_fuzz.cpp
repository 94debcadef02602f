// The DOS-device list walker fed with whatever a QueryDosDevice reply can hold: names
// without terminators, a count beyond the buffer or short of the names, a list that only
// fits after the buffer has grown. The walk must see exactly the names that lie before
// the count, and the drive-letter set and the shadow-copy list must follow from them.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devices/text_forms.h"
#include "devices/udiskmgmt.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/sim/sim_machine.h"
#include "ui/Ufrmvolume.h"

namespace vol {
namespace {

// Answers the list query from the fuzzer's bytes; everything else is the simulated machine.
class ListReply : public SimMachine {
 public:
  int refusals = 0;               // replies of ERROR_INSUFFICIENT_BUFFER before the list
  std::optional<uint32_t> count;  // the count the reply claims; absent: the units written
  uint32_t error = 0;             // non-zero: the reply fails with this error
  std::wstring units;             // what the reply writes, cut at the buffer's length

  uint32_t QueryDosDevice(const std::wstring* device_name, wchar_t* buffer, uint32_t length,
                          ApiForm form) override {
    if (device_name != nullptr)
      return SimMachine::QueryDosDevice(device_name, buffer, length, form);
    lengths.push_back(length);
    if (refusals > 0) {
      --refusals;
      SetLastError(win_error::kInsufficientBuffer);
      return 0;
    }
    const std::size_t written = std::min<std::size_t>(units.size(), length);
    std::copy_n(units.begin(), written, buffer);
    if (error != 0) {
      SetLastError(error);
      return 0;
    }
    const uint32_t result = count.value_or(static_cast<uint32_t>(written));
    // Nothing written and nothing claimed is a failure, and a failure always says why.
    if (result == 0) SetLastError(win_error::kFileNotFound);
    return result;
  }

  std::vector<uint32_t> lengths;  // the length handed over by each list query
};

// The names the walk must see, worked out on a copy of what the program's buffer holds.
std::vector<std::wstring> NamesBeforeCount(const ListReply& reply, uint32_t length) {
  if (reply.error != 0) return {};
  std::wstring buffer(std::size_t{length} + 1, L'\0');
  std::copy_n(reply.units.begin(), std::min<std::size_t>(reply.units.size(), length),
              buffer.begin());
  const std::size_t end = std::min<std::size_t>(
      reply.count.value_or(std::min<std::size_t>(reply.units.size(), length)), length);
  std::vector<std::wstring> names;
  std::wstring name;
  for (std::size_t i = 0; i < end; ++i) {
    if (buffer[i] != L'\0') {
      name.push_back(buffer[i]);
    } else if (!name.empty()) {
      names.push_back(std::exchange(name, {}));
    }
  }
  if (!name.empty()) names.push_back(name);
  return names;
}

}  // namespace
}  // namespace vol

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vol;
  fuzz::Input input(data, size);
  ListReply reply;
  const int refusals = input.Byte() % 4;
  reply.refusals = refusals;
  switch (input.Byte() % 4) {
    case 0:
      break;  // the honest count
    case 1:
      reply.count = input.U32();
      break;
    case 2:
      reply.count = input.U32() % 70000;  // near the first buffer's end
      break;
    default:
      reply.error = input.Byte() % 2 ? win_error::kFileNotFound : win_error::kAccessDenied;
      break;
  }
  // The reply's units: the rest of the input, repeated up to a fuzzed length so that
  // lists reach the end of the buffer without inputs that long.
  const uint32_t fill = input.U32() % 70000;  // just past the first buffer
  const std::wstring pattern = input.RestAsText();
  reply.units = pattern;
  while (!pattern.empty() && reply.units.size() < fill) reply.units += pattern;

  std::vector<std::wstring> walked;
  ForEachDosDeviceName(reply, ApiForm::Wide,
                       [&walked](std::wstring_view name) { walked.emplace_back(name); });
  FUZZ_CHECK(!reply.lengths.empty());
  // The buffer starts at 65535 characters, hands over one less, and doubles per refusal.
  for (std::size_t i = 0; i < reply.lengths.size(); ++i) {
    FUZZ_CHECK(reply.lengths[i] == (std::size_t{65535} << i) - 1);
  }
  const std::vector<std::wstring> expected = NamesBeforeCount(reply, reply.lengths.back());
  FUZZ_CHECK(walked == expected);

  // The drive-letter set and the shadow copies, from the same reply once more.
  ListReply again;
  again.refusals = refusals;
  again.count = reply.count;
  again.error = reply.error;
  again.units = reply.units;
  const uint32_t mask = GetDosDriveMask(again);
  FUZZ_CHECK((mask & 1u) == 0);            // never A:
  FUZZ_CHECK((mask & ~0x03FFFFFFu) == 0);  // no bit beyond Z:
  uint32_t expected_mask = 0;
  std::vector<std::wstring> expected_shadows;
  for (const std::wstring& name : expected) {
    if (name.size() == 2 && name[1] == L':') {
      const wchar_t letter = LowerAscii(name.substr(0, 1))[0];
      if (letter >= L'b' && letter <= L'z') expected_mask |= 1u << (letter - L'a');
    }
    if (LowerAscii(name.substr(0, 24)) == L"harddiskvolumeshadowcopy") {
      expected_shadows.push_back(name);
    }
  }
  FUZZ_CHECK(mask == expected_mask);

  ListReply third;
  third.refusals = refusals;
  third.count = reply.count;
  third.error = reply.error;
  third.units = reply.units;
  std::optional<std::vector<std::wstring>> shadows(std::vector<std::wstring>{L"kept"});
  GetShadowCopyDevices(third, shadows);
  FUZZ_CHECK(shadows.has_value() && !shadows->empty() && shadows->front() == L"kept");
  FUZZ_CHECK(std::equal(shadows->begin() + 1, shadows->end(), expected_shadows.begin(),
                        expected_shadows.end()));
  FUZZ_CHECK(reply.open_handles() == 0 && again.open_handles() == 0 && third.open_handles() == 0);
  return 0;
}
