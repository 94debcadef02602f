// The bug report of the crash reporter as text, built from what the gathering side
// (bug_report_win.cpp) recorded: the error, the stacks of the process's threads and
// its loaded modules. Window-free, so that its form can be tested anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crash/error_text.h"

namespace vol::crash {

struct StackFrame {
  uint64_t address = 0;
  std::wstring module;  // file name of the module that holds the address; empty: none
  uint64_t offset = 0;  // address - the module's base
  std::wstring symbol;  // readable name; empty when unknown
  uint64_t symbol_offset = 0;
};

struct ThreadStack {
  uint32_t id = 0;
  bool main = false;      // the process's first thread
  bool faulting = false;  // the thread in which the error happened
  std::vector<StackFrame> frames;
  std::wstring problem;  // why the stack is missing or cut short; empty when it is whole
};

struct ModuleInfo {
  std::wstring name;  // file name
  std::wstring path;
  uint64_t base = 0;
  uint64_t size = 0;
};

struct BugReport {
  std::wstring error;
  std::wstring date_time;
  std::wstring executable;
  uint32_t process_id = 0;
  int pointer_bits = 32;  // 32 or 64: the width in which addresses are written
  std::vector<ThreadStack> threads;
  std::vector<ModuleInfo> modules;
  std::wstring problem;  // why gathering stopped early; empty when it completed
};

// The report as the bug-report window shows it and the mail carries it (CRLF lines).
// The thread of the error comes first, modules go by base address.
std::wstring FormatBugReport(const BugReport& report);

// The module whose image holds address; null when none does.
const ModuleInfo* FindModule(const std::vector<ModuleInfo>& modules, uint64_t address);

// A symbol name as the compiler wrote it, made readable: GCC's mangled C++ names are
// demangled. i386_decorated: the name comes from a 32-bit x86 COFF symbol table, where
// C names carry a leading underscore (or @ for fastcall) and stdcall names end in @ and
// their argument size; these decorations are taken off.
std::wstring ReadableSymbol(std::string_view raw, bool i386_decorated = false);

}  // namespace vol::crash
