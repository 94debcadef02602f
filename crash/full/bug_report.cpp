#include "crash/full/bug_report.h"

#include <cxxabi.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

#include "crash/error_text.h"

namespace vol::crash {
namespace {

constexpr std::wstring_view kNewLine = L"\r\n";
constexpr std::wstring_view kLabelGap = L"           ";  // under "label      : "

// The lines of a text, whatever line ends it uses.
std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

void AddField(std::wstring& out, std::wstring_view label, const std::wstring& value) {
  const auto lines = Lines(value);
  out.append(label).append(L": ").append(lines.front()).append(kNewLine);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    out.append(kLabelGap).append(L"  ").append(lines[i]).append(kNewLine);
  }
}

void AddFrame(std::wstring& out, const StackFrame& frame, int bits) {
  out.append(L"  ").append(AddressText(frame.address, bits)).append(L"  ");
  if (frame.module.empty()) {
    out.append(L"?");
  } else {
    out.append(frame.module).append(L"+0x").append(HexText(frame.offset, 1));
  }
  if (!frame.symbol.empty()) {
    out.append(L"  ").append(frame.symbol);
    if (frame.symbol_offset != 0) out.append(L"+0x").append(HexText(frame.symbol_offset, 1));
  }
  out.append(kNewLine);
}

void AddThread(std::wstring& out, const ThreadStack& thread, int bits) {
  out.append(L"thread ").append(std::to_wstring(thread.id));
  if (thread.main || thread.faulting) {
    out.append(L" (");
    if (thread.main) out.append(L"main thread");
    if (thread.main && thread.faulting) out.append(L", ");
    if (thread.faulting) out.append(L"the error happened here");
    out.append(L")");
  }
  out.append(L":").append(kNewLine);
  for (const auto& frame : thread.frames) AddFrame(out, frame, bits);
  if (thread.frames.empty() && thread.problem.empty()) {
    out.append(L"  (no frames)").append(kNewLine);
  }
  if (!thread.problem.empty()) {
    out.append(L"  (stack incomplete: ").append(thread.problem).append(L")").append(kNewLine);
  }
  out.append(kNewLine);
}

void AddModule(std::wstring& out, const ModuleInfo& module, int bits) {
  out.append(L"  ").append(AddressText(module.base, bits)).append(L"  ");
  out.append(HexText(module.size, 8)).append(L"  ").append(module.name);
  if (!module.path.empty()) out.append(L"  ").append(module.path);
  out.append(kNewLine);
}

}  // namespace

const ModuleInfo* FindModule(const std::vector<ModuleInfo>& modules, uint64_t address) {
  for (const auto& module : modules) {
    if (address >= module.base && address - module.base < module.size) return &module;
  }
  return nullptr;
}

std::wstring ReadableSymbol(std::string_view raw, bool i386_decorated) {
  std::string name(raw);
  if (i386_decorated) {
    // "@16" ends a stdcall name, or stands before GCC's clone suffix (".cold").
    const std::size_t at = name.rfind('@');
    if (at != std::string::npos && at > 0) {
      std::size_t end = at + 1;
      while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
      if (end > at + 1 && (end == name.size() || name[end] == '.')) name.erase(at, end - at);
    }
    if (name.starts_with("__Z")) {
      name.erase(0, 1);
    } else if (!name.starts_with("_Z") && (name.starts_with('_') || name.starts_with('@'))) {
      name.erase(0, 1);
    }
  }
  if (name.starts_with("_Z")) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), &std::free);
    if (status == 0 && demangled) name = demangled.get();
  }
  return std::wstring(name.begin(), name.end());
}

std::wstring FormatBugReport(const BugReport& report) {
  const int bits = report.pointer_bits;
  std::wstring out;
  AddField(out, L"error      ", report.error);
  AddField(out, L"date/time  ", report.date_time);
  AddField(out, L"executable ", report.executable);
  AddField(out, L"process id ", std::to_wstring(report.process_id));
  out.append(kNewLine);

  if (report.threads.empty())
    out.append(L"threads: none recorded").append(kNewLine).append(kNewLine);
  std::vector<const ThreadStack*> threads;
  for (const auto& thread : report.threads) threads.push_back(&thread);
  std::stable_partition(threads.begin(), threads.end(),
                        [](const ThreadStack* thread) { return thread->faulting; });
  for (const ThreadStack* thread : threads) AddThread(out, *thread, bits);

  out.append(L"modules:").append(kNewLine);
  if (report.modules.empty()) out.append(L"  none recorded").append(kNewLine);
  std::vector<const ModuleInfo*> modules;
  for (const auto& module : report.modules) modules.push_back(&module);
  std::stable_sort(modules.begin(), modules.end(),
                   [](const ModuleInfo* a, const ModuleInfo* b) { return a->base < b->base; });
  for (const ModuleInfo* module : modules) AddModule(out, *module, bits);

  if (!report.problem.empty()) {
    out.append(kNewLine).append(L"(report incomplete: ").append(report.problem).append(L")");
    out.append(kNewLine);
  }
  return out;
}

}  // namespace vol::crash
