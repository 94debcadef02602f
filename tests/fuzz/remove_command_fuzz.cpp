// "Remove Dos Device Letter" on a volume row with any mount path and NT device name: the
// name it removes is the path with its first backslash taken out, the target is the
// row's NT device name, and the raw form is tried only when the plain one failed.
#include <cstdint>
#include <string>
#include <vector>

#include "devices/text_forms.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/sim/sim_machine.h"
#include "tests/unit/fake_view.h"
#include "ui/Ufrmvolume.h"
#include "ui/edition.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vol;
  fuzz::Input input(data, size);
  const uint8_t switches = input.Byte();
  const std::wstring path = input.Text(input.Byte()) + L"\\";  // as mount paths end
  const std::wstring nt_name = L"\\Device\\" + input.RestAsText();
  const std::wstring lower = LowerAscii(nt_name);
  if (lower.find(L"cdrom") != std::wstring::npos || lower.find(L"floppy") != std::wstring::npos) {
    return 0;  // not listed
  }

  SimMachine machine;
  machine.AddVolume(SimMachine::Guid(1), nt_name);
  machine.AddMountPath(SimMachine::VolumeGuidPath(1), path);
  machine.DefineDosName(L"Y:", L"\\??\\C:\\work");
  testing::FakeView view;
  Tfrmvolumes form(machine, view);
  form.FormShow();
  FUZZ_CHECK(view.Select(0, SimMachine::VolumeGuidPath(1)));
  if (switches & 1) machine.Fail(SimMachine::Call::DefineDosDevice, win_error::kAccessDenied);
  machine.ClearCalls();
  form.RemoveDosDevice1Click();

  const VolumeRecord& volume = form.scan().volumes.at(0);
  std::wstring name = volume.mount_paths.empty() ? L"" : volume.mount_paths.front();
  const std::wstring& target = volume.nt_name;
  if (const std::size_t slash = name.find(L'\\'); slash != std::wstring::npos) name.erase(slash, 1);
  // What the system sees of a text in the form the build asks for.
  const auto as_sent = [&machine](const std::wstring& text) {
    return edition::kApi == ApiForm::Ansi ? machine.FromAnsi(machine.ToAnsi(text)) : text;
  };
  std::vector<SimMachine::CallRecord> defines;
  for (const auto& call : machine.calls()) {
    if (call.call == SimMachine::Call::DefineDosDevice) defines.push_back(call);
  }
  FUZZ_CHECK(defines.size() == 1 || defines.size() == 2);
  FUZZ_CHECK(defines[0].flags == ddd::kRemoveDefinition);
  FUZZ_CHECK(defines.size() == 1 ||
             defines[1].flags == (ddd::kRemoveDefinition | ddd::kRawTargetPath));
  FUZZ_CHECK(defines[0].failed == (defines.size() == 2));
  for (const auto& define : defines) {
    FUZZ_CHECK(define.argument == as_sent(name));
    FUZZ_CHECK(define.argument2 == as_sent(target) && !define.null_text);
  }
  const bool removed = !defines.back().failed;
  FUZZ_CHECK(machine.messages().size() == (removed ? 0u : 1u));
  if (!removed) FUZZ_CHECK(machine.messages()[0].text == L"failed");
  FUZZ_CHECK(view.set_rows_calls == 1);  // the command does not refresh
  FUZZ_CHECK(machine.open_handles() == 0);
  return 0;
}
