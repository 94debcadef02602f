// "Remove Dos Device Letter" on a row with any "PathName" and "Dos Device" cells: the
// name it removes is the path with its first backslash taken out, the target is the
// "Dos Device" cell, and the raw form is tried only when the plain one failed.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"
#include "tests/sim/sim_machine.h"
#include "tests/unit/fake_view.h"
#include "ui/Ufrmvolume.h"
#include "ui/edition.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vol;
  fuzz::Input input(data, size);
  const uint8_t switches = input.Byte();
  const std::wstring path = input.Text(input.Byte());
  const std::wstring target = input.Text(input.Byte());
  const std::wstring caption = input.RestAsText();

  SimMachine machine;
  machine.AddDevice(L"\\Device\\HarddiskVolume1");
  machine.DefineDosName(L"X:", L"\\Device\\HarddiskVolume1");
  machine.DefineDosName(L"Y:", L"\\??\\C:\\work");
  if (switches & 1) machine.Fail(SimMachine::Call::DefineDosDevice, win_error::kAccessDenied);

  testing::FakeView view;
  ListRow row{switches & 2 ? L"" : caption, std::vector<std::wstring>(kColumns.size() - 1)};
  row.sub_items[kSubPathName] = path;
  row.sub_items[kSubDosDevice] = target;
  view.selected = row;
  Tfrmvolumes form(machine, view);
  form.RemoveDosDevice1Click();

  std::wstring name = path;
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
  FUZZ_CHECK(view.set_rows_calls == 0);  // the command does not refresh
  FUZZ_CHECK(machine.open_handles() == 0);
  return 0;
}
