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

// The names the walk must see. The program's buffer is all zeros but for what the reply
// wrote, so only the written units before the count hold names.
// Views into the reply's units: no name is copied, so that long lists stay quick to check.
std::vector<std::wstring_view> NamesBeforeCount(const ListReply& reply, uint32_t length) {
  if (reply.error != 0) return {};
  const std::size_t written = std::min<std::size_t>(reply.units.size(), length);
  const std::size_t end = std::min<std::size_t>(reply.count.value_or(written), length);
  const std::wstring_view text(reply.units.data(), std::min(written, end));
  std::vector<std::wstring_view> names;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t stop = std::min(text.find(L'\0', at), text.size());
    if (stop > at) names.push_back(text.substr(at, stop - at));
    at = stop + 1;
  }
  return names;
}

}  // namespace
}  // namespace vol

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vol;
  fuzz::Input input(data, size);
  ListReply reply;
  // One walk an input, each buffer of it the size the program asks for: the names
  // themselves, the drive-letter set, or the shadow-copy list.
  // Every refusal doubles the buffer, so most inputs get few: none in four of eight, one
  // in two, two in one, three in one.
  const uint8_t first = input.Byte();
  constexpr int kRefusals[8] = {0, 0, 0, 0, 1, 1, 2, 3};
  reply.refusals = kRefusals[first % 8];
  const int check = first / 8 % 3;
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
  reply.units.reserve(fill + pattern.size());
  reply.units = pattern;
  while (!pattern.empty() && reply.units.size() < fill) reply.units += pattern;

  const auto expected = [&reply] { return NamesBeforeCount(reply, reply.lengths.back()); };
  const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c; };
  if (check == 0) {
    std::vector<std::wstring_view> names;
    std::size_t seen = 0;
    bool same = true;
    ForEachDosDeviceName(reply, ApiForm::Wide, [&](std::wstring_view name) {
      if (seen == 0) names = expected();  // the lengths are known once the walk begins
      same = same && seen < names.size() && name == names[seen];
      ++seen;
    });
    if (seen == 0) names = expected();
    FUZZ_CHECK(same && seen == names.size());
  } else if (check == 1) {
    const uint32_t mask = GetDosDriveMask(reply);
    uint32_t expected_mask = 0;
    for (std::wstring_view name : expected()) {
      if (name.size() != 2 || name[1] != L':') continue;
      const wchar_t letter = lower(name[0]);
      if (letter >= L'b' && letter <= L'z') expected_mask |= 1u << (letter - L'a');
    }
    FUZZ_CHECK(mask == expected_mask);  // never A:, nothing beyond Z:
  } else {
    std::optional<std::vector<std::wstring>> shadows(std::vector<std::wstring>{L"kept"});
    GetShadowCopyDevices(reply, shadows);
    constexpr std::wstring_view kPrefix = L"harddiskvolumeshadowcopy";
    std::vector<std::wstring_view> expected_shadows{L"kept"};
    for (std::wstring_view name : expected()) {
      if (name.size() >= kPrefix.size() &&
          std::equal(kPrefix.begin(), kPrefix.end(), name.begin(),
                     [&](wchar_t p, wchar_t c) { return p == lower(c); })) {
        expected_shadows.push_back(name);
      }
    }
    FUZZ_CHECK(shadows.has_value() && std::equal(shadows->begin(), shadows->end(),
                                                 expected_shadows.begin(), expected_shadows.end()));
  }
  FUZZ_CHECK(!reply.lengths.empty());
  // The buffer starts at 65535 characters, hands over one less, and doubles per refusal.
  for (std::size_t i = 0; i < reply.lengths.size(); ++i) {
    FUZZ_CHECK(reply.lengths[i] == (std::size_t{65535} << i) - 1);
  }
  FUZZ_CHECK(reply.open_handles() == 0);
  return 0;
}
