#include "crash/bug_report.h"

#include <cxxabi.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

namespace vol::crash {
namespace {

constexpr std::wstring_view kNewLine = L"\r\n";
constexpr std::wstring_view kLabelGap = L"           ";  // under "label      : "

std::wstring Hex(uint64_t value, int min_digits) {
  std::wstring text;
  do {
    text.insert(text.begin(), L"0123456789ABCDEF"[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < min_digits) text.insert(0, min_digits - text.size(), L'0');
  return text;
}

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
    out.append(frame.module).append(L"+0x").append(Hex(frame.offset, 1));
  }
  if (!frame.symbol.empty()) {
    out.append(L"  ").append(frame.symbol);
    if (frame.symbol_offset != 0) out.append(L"+0x").append(Hex(frame.symbol_offset, 1));
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
  out.append(Hex(module.size, 8)).append(L"  ").append(module.name).append(L"  ");
  out.append(module.version.empty() ? L"(no version)" : module.version);
  if (!module.path.empty()) out.append(L"  ").append(module.path);
  out.append(kNewLine);
}

struct CodeName {
  uint32_t code;
  std::wstring_view name;
};
constexpr std::array<CodeName, 22> kCodeNames{{
    {0xC0000005, L"Access violation"},
    {0xC0000006, L"In-page error"},
    {0xC0000008, L"Invalid handle"},
    {0xC000001D, L"Illegal instruction"},
    {0xC0000025, L"Noncontinuable exception"},
    {0xC0000026, L"Invalid disposition"},
    {0xC000008C, L"Array bounds exceeded"},
    {0xC000008D, L"Floating point denormal operand"},
    {0xC000008E, L"Floating point division by zero"},
    {0xC000008F, L"Floating point inexact result"},
    {0xC0000090, L"Invalid floating point operation"},
    {0xC0000091, L"Floating point overflow"},
    {0xC0000092, L"Floating point stack check"},
    {0xC0000093, L"Floating point underflow"},
    {0xC0000094, L"Division by zero"},
    {0xC0000095, L"Integer overflow"},
    {0xC0000096, L"Privileged instruction"},
    {0xC00000FD, L"Stack overflow"},
    {0xC0000374, L"Heap corruption"},
    {0xC0000409, L"Stack buffer overrun"},
    {0x80000002, L"Misaligned data"},
    {0x80000003, L"Breakpoint"},
}};

// The access kind of an access violation or in-page error, by its first parameter.
std::wstring_view AccessKind(uint64_t kind) {
  switch (kind) {
    case 0:
      return L"Read";
    case 1:
      return L"Write";
    case 8:
      return L"Execution";
    default:
      return L"Access";
  }
}

}  // namespace

std::wstring AddressText(uint64_t address, int pointer_bits) {
  if (pointer_bits < 64) address &= 0xFFFFFFFFu;
  return Hex(address, pointer_bits / 4);
}

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

std::wstring StructuredErrorText(const StructuredError& error) {
  std::wstring text;
  const auto known = std::find_if(kCodeNames.begin(), kCodeNames.end(),
                                  [&](const CodeName& entry) { return entry.code == error.code; });
  if (known != kCodeNames.end()) {
    text = known->name;
  } else {
    text = L"External exception " + Hex(error.code, 8);
  }
  text += L" at address " + AddressText(error.address, error.pointer_bits);
  if (!error.module.empty()) text += L" in module '" + error.module + L"'";
  const bool has_target = error.code == 0xC0000005 || error.code == 0xC0000006;
  if (has_target && error.information.size() >= 2) {
    text += L". ";
    text += AccessKind(error.information[0]);
    text += L" of address " + AddressText(error.information[1], error.pointer_bits);
  }
  return text;
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
