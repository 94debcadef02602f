// unitmask_to_drive on any 32-bit mask: the lowest of bits 0 to 25 names the drive, the
// bits beyond Z never do.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_input.h"
#include "ui/Ufrmvolume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vol::fuzz::Input input(data, size);
  const uint32_t mask = input.U32();
  const std::wstring drive = vol::unitmask_to_drive(mask);
  const uint32_t letters = mask & 0x03FFFFFFu;
  if (letters == 0) {
    FUZZ_CHECK(drive.empty());
    return 0;
  }
  FUZZ_CHECK(drive.size() == 2 && drive[1] == L':');
  FUZZ_CHECK(drive[0] >= L'A' && drive[0] <= L'Z');
  const uint32_t bit = 1u << (drive[0] - L'A');
  FUZZ_CHECK((letters & bit) != 0);        // its bit is set
  FUZZ_CHECK((letters & (bit - 1)) == 0);  // and none below it
  return 0;
}
