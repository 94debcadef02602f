// What the program's logic adds to a refresh on a real Windows (or Wine): refresh_list
// through the real platform, against the very platform calls that refresh made, played
// back alone. Prints one line per measure; the ratio is logic-and-calls over calls.
//
//   wine_refresh_bench [refreshes]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/win32_platform.h"
#include "tests/support/forwarding_platform.h"
#include "ui/Ufrmvolume.h"

namespace vol {
namespace {

// The list as a window would hold it, without a window; the DOS-device view is on.
class ListOnly : public FormView {
 public:
  void SetTitle(const std::wstring&) override {}
  void SetRows(std::vector<ListRow> new_rows) override { rows = new_rows.size(); }
  std::optional<std::size_t> SelectedRecord() override { return std::nullopt; }
  void SelectRow(int) override {}
  void ShowSortOrder(const SortOrder&) override {}
  bool IsChecked(Command) override { return true; }
  void SetChecked(Command, bool) override {}
  void SetStatusText(const std::wstring&) override {}
  std::optional<std::wstring> InputBox(const std::wstring&, const std::wstring&,
                                       const std::wstring&) override {
    return std::nullopt;
  }
  PropertiesView& OpenProperties(const std::wstring&) override { std::abort(); }

  std::size_t rows = 0;
};

// The state a playback needs: the handles the recording saw, mapped to the ones the
// playback got, and buffers as large as the recording's.
struct Playback {
  Platform& platform;
  std::unordered_map<Handle, Handle> handles;
  std::vector<wchar_t> text;
  std::vector<unsigned char> bytes;
  Handle Mapped(Handle recorded) {
    const auto it = handles.find(recorded);
    return it == handles.end() ? kInvalidHandle : it->second;
  }
};

// Passes every call on to the real platform and, for the calls a refresh makes, keeps a
// step that makes the same call again, with the same arguments and buffer sizes.
class Recorder : public test::ForwardingPlatform {
 public:
  explicit Recorder(Platform& real) : ForwardingPlatform(real), real_(real) {}

  std::vector<std::function<void(Playback&)>> steps;
  std::map<std::string, int> counts;
  bool recording = true;

  Handle FindFirstVolume(std::wstring& volume_name) override {
    const Handle find = real_.FindFirstVolume(volume_name);
    Add("FindFirstVolume", [find](Playback& p) {
      std::wstring name;
      p.handles[find] = p.platform.FindFirstVolume(name);
    });
    return find;
  }
  bool FindNextVolume(Handle find, std::wstring& volume_name) override {
    Add("FindNextVolume", [find](Playback& p) {
      std::wstring name;
      p.platform.FindNextVolume(p.Mapped(find), name);
    });
    return real_.FindNextVolume(find, volume_name);
  }
  bool FindVolumeClose(Handle find) override {
    Add("FindVolumeClose", [find](Playback& p) { p.platform.FindVolumeClose(p.Mapped(find)); });
    return real_.FindVolumeClose(find);
  }
  bool GetVolumePathNamesForVolumeName(const std::wstring& name, wchar_t* buffer, uint32_t length,
                                       uint32_t* returned) override {
    Add("GetVolumePathNamesForVolumeName", [name, length](Playback& p) {
      uint32_t needed = 0;
      p.platform.GetVolumePathNamesForVolumeName(name, Text(p, length), length, &needed);
    });
    return real_.GetVolumePathNamesForVolumeName(name, buffer, length, returned);
  }
  uint32_t QueryDosDevice(const std::wstring* name, wchar_t* buffer, uint32_t length,
                          ApiForm form) override {
    std::optional<std::wstring> copy;
    if (name) copy = *name;
    Add("QueryDosDevice", [copy, length, form](Playback& p) {
      p.platform.QueryDosDevice(copy ? &*copy : nullptr, Text(p, length), length, form);
    });
    return real_.QueryDosDevice(name, buffer, length, form);
  }
  uint32_t GetDriveType(const std::wstring& root, ApiForm form) override {
    Add("GetDriveType", [root, form](Playback& p) { p.platform.GetDriveType(root, form); });
    return real_.GetDriveType(root, form);
  }
  bool GetDiskFreeSpace(const std::wstring& root, uint32_t* a, uint32_t* b, uint32_t* c,
                        uint32_t* d, ApiForm form) override {
    Add("GetDiskFreeSpace", [root, form](Playback& p) {
      uint32_t w = 0, x = 0, y = 0, z = 0;
      p.platform.GetDiskFreeSpace(root, &w, &x, &y, &z, form);
    });
    return real_.GetDiskFreeSpace(root, a, b, c, d, form);
  }
  bool GetVolumeInformation(const std::wstring& root, uint32_t* serial, uint32_t* length,
                            uint32_t* flags) override {
    Add("GetVolumeInformation", [root](Playback& p) {
      uint32_t x = 0, y = 0, z = 0;
      p.platform.GetVolumeInformation(root, &x, &y, &z);
    });
    return real_.GetVolumeInformation(root, serial, length, flags);
  }
  Handle CreateFile(const std::wstring& path, uint32_t access, uint32_t share, uint32_t disposition,
                    uint32_t flags, ApiForm form) override {
    const Handle handle = real_.CreateFile(path, access, share, disposition, flags, form);
    Add("CreateFile", [=](Playback& p) {
      p.handles[handle] = p.platform.CreateFile(path, access, share, disposition, flags, form);
    });
    return handle;
  }
  bool DeviceIoControl(Handle device, uint32_t code, const void* in, uint32_t in_size, void* out,
                       uint32_t out_size, uint32_t* returned) override {
    Add("DeviceIoControl", [device, code, out_size](Playback& p) {
      if (p.bytes.size() < out_size) p.bytes.resize(out_size);
      uint32_t got = 0;
      p.platform.DeviceIoControl(p.Mapped(device), code, nullptr, 0, p.bytes.data(), out_size,
                                 &got);
    });
    return real_.DeviceIoControl(device, code, in, in_size, out, out_size, returned);
  }
  bool CloseHandle(Handle handle) override {
    Add("CloseHandle", [handle](Playback& p) { p.platform.CloseHandle(p.Mapped(handle)); });
    return real_.CloseHandle(handle);
  }
  uint32_t GetLastError() override {
    Add("GetLastError", [](Playback& p) { p.platform.GetLastError(); });
    return real_.GetLastError();
  }
  void SetLastError(uint32_t code) override {
    Add("SetLastError", [code](Playback& p) { p.platform.SetLastError(code); });
    real_.SetLastError(code);
  }
  std::wstring FormatMessage(uint32_t code) override {
    Add("FormatMessage", [code](Playback& p) { p.platform.FormatMessage(code); });
    return real_.FormatMessage(code);
  }
  std::string ToAnsi(const std::wstring& text) override {
    Add("ToAnsi", [text](Playback& p) { p.platform.ToAnsi(text); });
    return real_.ToAnsi(text);
  }
  std::wstring FromAnsi(const std::string& text) override {
    Add("FromAnsi", [text](Playback& p) { p.platform.FromAnsi(text); });
    return real_.FromAnsi(text);
  }
  // A refresh that wants to show a message has gone wrong; a benchmark must not wait
  // for someone to click it away.
  void MessageBox(const std::wstring& text, const std::wstring&, uint32_t, ApiForm) override {
    std::fprintf(stderr, "message: %ls\n", text.c_str());
    ++counts["MessageBox"];
  }
  void ShowMessage(const std::wstring& text) override {
    std::fprintf(stderr, "message: %ls\n", text.c_str());
    ++counts["ShowMessage"];
  }

 private:
  static wchar_t* Text(Playback& p, uint32_t length) {
    if (p.text.size() < std::size_t{length} + 1) p.text.resize(std::size_t{length} + 1);
    return p.text.data();
  }
  void Add(const char* name, std::function<void(Playback&)> step) {
    if (!recording) return;
    steps.push_back(std::move(step));
    ++counts[name];
  }

  Platform& real_;
};

double Now() {
  LARGE_INTEGER counter, frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace
}  // namespace vol

int main(int argc, char** argv) {
  using namespace vol;
  const int refreshes = argc > 1 ? std::max(3, std::atoi(argv[1])) : 50;
  Win32Platform real;
  ListOnly view;

  // One refresh recorded: the calls it makes, in order.
  Recorder recorder(real);
  {
    Tfrmvolumes form(recorder, view);
    form.refresh_list();
  }
  recorder.recording = false;
  if (recorder.counts.count("ShowMessage") || recorder.counts.count("MessageBox")) return 1;

  Tfrmvolumes form(real, view);
  std::vector<double> logic, bare;
  for (int i = 0; i < refreshes + 3; ++i) {  // the first three warm Wine's caches up
    const double start = Now();
    form.refresh_list();
    const double middle = Now();
    Playback playback{real, {}, {}, {}};
    for (const auto& step : recorder.steps) step(playback);
    const double end = Now();
    if (i >= 3) {
      logic.push_back(middle - start);
      bare.push_back(end - middle);
    }
  }
  const double with_logic = Median(logic), calls_alone = Median(bare);
  std::printf("edition: %s, %zu list rows, %zu platform calls per refresh:",
              edition::kFull ? "full" : "reduced", view.rows, recorder.steps.size());
  for (const auto& [name, count] : recorder.counts) std::printf(" %s %d", name.c_str(), count);
  std::printf("\nrefresh_list through the logic: %.3f ms (median of %d)\n", with_logic * 1e3,
              refreshes);
  std::printf("the same platform calls alone:  %.3f ms\n", calls_alone * 1e3);
  std::printf("ratio: %.2f\n", with_logic / calls_alone);
  return 0;
}
