// Gathers the bug report: the loaded modules (Toolhelp32, file versions), the stacks of
// all threads of the process (dbghelp's StackWalk64, or where dbghelp is missing a walk
// of its own: frame pointers on 32-bit code, unwind data on 64-bit code) and the symbol
// names that the images' COFF tables or dbghelp know.
//
// Every stage runs under IgnoreStructuredErrors and catches C++ exceptions: what a
// failing stage gathered before it failed stays in the report, with a note saying so.
#include <windows.h>
// windows.h first: these need its types.
#include <dbghelp.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "crash/crash_win.h"
#include "crash/full/bug_report.h"
#include "crash/full/coff_symbols.h"
#include "crash/full/reporter_win.h"
#include "crash/guard_win.h"
#include "platform/handles_win.h"
#include "platform/system_library_win.h"
#include "platform/win32_platform.h"

namespace vol::crash_detail {
namespace {

using crash::BugReport;
using crash::CoffSymbol;
using crash::ModuleInfo;
using crash::StackFrame;
using crash::ThreadStack;

constexpr int kPointerBits = sizeof(void*) * 8;
constexpr std::size_t kMaxFrames = 128;
// How much of a suspended thread's stack is copied while it stands still.
constexpr std::size_t kStackCopyLimit = 512 * 1024;

// The report's DLLs, loaded by the reporter's thread before any error and kept.
struct PreparedLibraries {
  UniqueLibrary dbghelp;
  UniqueLibrary version;
  bool dbghelp_unusable = false;  // tests see the report of a system without it
};
PreparedLibraries prepared;

// Toolhelp answers INVALID_HANDLE_VALUE, not null, when it fails.
UniqueFile Snapshot(DWORD what) {
  return UniqueFile(CreateToolhelp32Snapshot(what, GetCurrentProcessId()));
}

std::wstring ErrorText(const wchar_t* what, DWORD code) {
  return std::wstring(what) + L" failed (error " + std::to_wstring(code) + L")";
}

void AddProblem(std::wstring& problems, const std::wstring& problem) {
  if (!problems.empty()) problems += L"; ";
  problems += problem;
}

// Runs one stage of the gathering; false, with the problem noted, when it failed.
template <typename Fn>
bool Stage(std::wstring& problems, const wchar_t* what, Fn&& fn) {
  try {
    if (IgnoreStructuredErrors(fn)) return true;
    AddProblem(problems, std::wstring(what) + L" ended in a structured exception");
  } catch (const std::bad_alloc&) {
    AddProblem(problems, std::wstring(what) + L" ran out of memory");
  } catch (...) {
    AddProblem(problems, std::wstring(what) + L" failed");
  }
  return false;
}

// Looks up a function of a library loaded at run time; null when it has none.
template <typename F>
void Resolve(const UniqueLibrary& library, F& function, const char* name) {
  function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library.get(), name)));
}

// version.dll's functions, looked up at run time: imported, the DLL would be searched
// for beside the executable first.
class VersionLibrary {
 public:
  VersionLibrary() {
    if (!prepared.version) return;
    Resolve(prepared.version, size_, "GetFileVersionInfoSizeW");
    Resolve(prepared.version, info_, "GetFileVersionInfoW");
    Resolve(prepared.version, query_, "VerQueryValueW");
  }

  // The file version "a.b.c.d" of the file at path; empty when it has none.
  std::wstring FileVersion(const std::wstring& path) const {
    if (!size_ || !info_ || !query_) return {};
    DWORD ignored = 0;
    const DWORD size = size_(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<BYTE> data(size);
    if (!info_(path.c_str(), 0, size, data.data())) return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!query_(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
      return {};
    }
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
  }

 private:
  decltype(&GetFileVersionInfoSizeW) size_ = nullptr;
  decltype(&GetFileVersionInfoW) info_ = nullptr;
  decltype(&VerQueryValueW) query_ = nullptr;
};

void GatherModules(BugReport& report) {
  const UniqueFile snapshot = Snapshot(TH32CS_SNAPMODULE);
  if (!snapshot) {
    AddProblem(report.problem,
               ErrorText(L"the module list: CreateToolhelp32Snapshot", GetLastError()));
    return;
  }
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32FirstW(snapshot.get(), &entry); more;
       more = Module32NextW(snapshot.get(), &entry)) {
    ModuleInfo module;
    module.name = entry.szModule;
    module.path = entry.szExePath;
    module.base = reinterpret_cast<uintptr_t>(entry.modBaseAddr);
    module.size = entry.modBaseSize;
    report.modules.push_back(std::move(module));
  }
  // Versions come second: reading them may fail for one file without losing the list.
  const VersionLibrary versions;
  for (auto& module : report.modules) {
    Stage(report.problem, L"reading a file version",
          [&] { module.version = versions.FileVersion(module.path); });
  }
}

// ------------------------------------------------------------------ dbghelp

class DbgHelp {
 public:
  // The modules come from the report's own list: letting dbghelp find them itself
  // ("invading" the process) takes seconds under Wine.
  explicit DbgHelp(const std::vector<ModuleInfo>& modules) {
    const UniqueLibrary& library = prepared.dbghelp;
    if (!library || prepared.dbghelp_unusable) return;
    Resolve(library, initialize_, "SymInitializeW");
    Resolve(library, cleanup_, "SymCleanup");
    Resolve(library, set_options_, "SymSetOptions");
    Resolve(library, stack_walk_, "StackWalk64");
    Resolve(library, function_table_, "SymFunctionTableAccess64");
    Resolve(library, module_base_, "SymGetModuleBase64");
    Resolve(library, from_address_, "SymFromAddr");
    Resolve(library, load_module_, "SymLoadModuleExW");
    if (!initialize_ || !cleanup_ || !set_options_ || !stack_walk_ || !function_table_ ||
        !module_base_ || !load_module_) {
      return;
    }
    // Symbols come from the executable's folder only: the current directory may hold
    // planted files, and a symbol path from the environment may crawl a whole drive.
    set_options_(SYMOPT_DEFERRED_LOADS | SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_NO_PROMPTS |
                 SYMOPT_IGNORE_NT_SYMPATH);
    const std::wstring executable = ProcessExecutablePath();
    const std::wstring folder = executable.substr(0, executable.find_last_of(L"\\/"));
    initialized_ = initialize_(GetCurrentProcess(), folder.c_str(), FALSE) != FALSE;
    if (!initialized_) return;
    for (const ModuleInfo& module : modules) {
      load_module_(GetCurrentProcess(), nullptr, module.path.c_str(), module.name.c_str(),
                   module.base, static_cast<DWORD>(module.size), nullptr, 0);
    }
  }
  DbgHelp(const DbgHelp&) = delete;
  DbgHelp& operator=(const DbgHelp&) = delete;
  ~DbgHelp() {
    if (initialized_) cleanup_(GetCurrentProcess());
  }

  bool usable() const { return initialized_; }

  // Walks from context (changed on the way) and appends the frames whose stack lies
  // at or above floor.
  void Walk(HANDLE thread, CONTEXT context, PREAD_PROCESS_MEMORY_ROUTINE64 read, uint64_t floor,
            std::vector<uint64_t>& addresses) const {
    STACKFRAME64 frame{};
#if defined(__x86_64__)
    constexpr DWORD kMachine = IMAGE_FILE_MACHINE_AMD64;
    frame.AddrPC.Offset = context.Rip;
    frame.AddrFrame.Offset = context.Rbp;
    frame.AddrStack.Offset = context.Rsp;
#else
    constexpr DWORD kMachine = IMAGE_FILE_MACHINE_I386;
    frame.AddrPC.Offset = context.Eip;
    frame.AddrFrame.Offset = context.Ebp;
    frame.AddrStack.Offset = context.Esp;
#endif
    frame.AddrPC.Mode = frame.AddrFrame.Mode = frame.AddrStack.Mode = AddrModeFlat;
    for (std::size_t steps = 0; steps < 2 * kMaxFrames && addresses.size() < kMaxFrames &&
                                stack_walk_(kMachine, GetCurrentProcess(), thread, &frame, &context,
                                            read, function_table_, module_base_, nullptr);
         ++steps) {
      if (frame.AddrPC.Offset == 0) break;
      if (frame.AddrStack.Offset >= floor) addresses.push_back(frame.AddrPC.Offset);
    }
  }

  // The symbol at address and how far address lies beyond it; false when unknown.
  bool Symbol(uint64_t address, std::wstring& name, uint64_t& displacement) const {
    if (!from_address_) return false;
    alignas(SYMBOL_INFO) char buffer[sizeof(SYMBOL_INFO) + MAX_SYM_NAME] = {};
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = MAX_SYM_NAME;
    DWORD64 offset = 0;
    if (!from_address_(GetCurrentProcess(), address, &offset, symbol)) return false;
    const std::size_t length = strnlen(symbol->Name, MAX_SYM_NAME);
    name = crash::ReadableSymbol(std::string_view(symbol->Name, length));
    displacement = offset;
    return !name.empty();
  }

 private:
  decltype(&SymInitializeW) initialize_ = nullptr;
  decltype(&SymCleanup) cleanup_ = nullptr;
  decltype(&SymSetOptions) set_options_ = nullptr;
  decltype(&StackWalk64) stack_walk_ = nullptr;
  decltype(&SymFunctionTableAccess64) function_table_ = nullptr;
  decltype(&SymGetModuleBase64) module_base_ = nullptr;
  decltype(&SymFromAddr) from_address_ = nullptr;
  decltype(&SymLoadModuleExW) load_module_ = nullptr;
  bool initialized_ = false;
};

// ------------------------------------------------------------------ stacks

// A suspended thread's stack, copied while it stood still; the walk reads from here,
// because the thread runs on (and changes its stack) while it is being walked.
struct StackCopy {
  uint64_t low = 0;
  std::vector<BYTE> bytes;
  std::size_t used = 0;
};
thread_local const StackCopy* walked_stack = nullptr;

BOOL CALLBACK ReadMemory(HANDLE process, DWORD64 address, PVOID buffer, DWORD size, LPDWORD read) {
  *read = 0;
  const StackCopy* copy = walked_stack;
  if (copy != nullptr && address >= copy->low && address - copy->low <= copy->used &&
      size <= copy->used - (address - copy->low)) {
    std::memcpy(buffer, copy->bytes.data() + (address - copy->low), size);
    *read = size;
    return TRUE;
  }
  if (address > UINTPTR_MAX) return FALSE;
  SIZE_T done = 0;
  const BOOL ok =
      ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, size, &done);
  *read = static_cast<DWORD>(done);
  return ok;
}

#if defined(__x86_64__)
// Where dbghelp is missing: the unwind data that every x86-64 image carries for its
// exceptions. GCC points RBP into the middle of its frames there, so no frame-pointer
// chain would do.
void WalkWithoutDbgHelp(CONTEXT context, uint64_t floor, std::vector<uint64_t>& addresses) {
  while (addresses.size() < kMaxFrames && context.Rip != 0) {
    if (context.Rsp >= floor) addresses.push_back(context.Rip);
    const DWORD64 stack = context.Rsp;
    DWORD64 base = 0;
    if (PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &base, nullptr)) {
      void* handler_data = nullptr;
      DWORD64 establisher = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handler_data,
                       &establisher, nullptr);
    } else {  // a function without a frame: its return address is on top of the stack
      DWORD read = 0;
      if (!ReadMemory(GetCurrentProcess(), stack, &context.Rip, sizeof context.Rip, &read)) break;
      context.Rsp += sizeof context.Rip;
    }
    if (context.Rsp <= stack) break;
  }
}
#else
// Where dbghelp is missing: follow the chain of saved frame pointers, which the program
// keeps in every function.
void WalkWithoutDbgHelp(const CONTEXT& context, uint64_t floor, std::vector<uint64_t>& addresses) {
  if (context.Esp >= floor) addresses.push_back(context.Eip);
  for (uint64_t frame = context.Ebp;
       addresses.size() < kMaxFrames && frame != 0 && frame % sizeof(void*) == 0;) {
    uintptr_t link[2] = {};
    DWORD read = 0;
    if (!ReadMemory(GetCurrentProcess(), frame, link, sizeof link, &read)) break;
    if (link[1] == 0 || link[0] <= frame) break;
    if (frame >= floor) addresses.push_back(link[1]);
    frame = link[0];
  }
}
#endif

void Walk(const DbgHelp& dbghelp, HANDLE thread, const CONTEXT& context, uint64_t floor,
          std::vector<uint64_t>& addresses) {
  if (dbghelp.usable()) {
    dbghelp.Walk(thread, context, &ReadMemory, floor, addresses);
  } else {
    WalkWithoutDbgHelp(context, floor, addresses);
  }
}

uint64_t StackPointer(const CONTEXT& context) {
#if defined(__x86_64__)
  return context.Rsp;
#else
  return context.Esp;
#endif
}

// The faulting thread's walk starts from the registers of the error. An address in no
// module (a call through a bad pointer) has no unwind data: the caller's frame is found
// from the return address that the call left on top of the stack.
void WalkFaulting(const DbgHelp& dbghelp, HANDLE thread, const FaultingThread& faulting,
                  const std::vector<ModuleInfo>& modules, std::vector<uint64_t>& addresses) {
  CONTEXT context = *faulting.context;
#if defined(__x86_64__)
  DWORD64 &pc = context.Rip, &sp = context.Rsp;
#else
  DWORD &pc = context.Eip, &sp = context.Esp;
#endif
  const uint64_t fault = pc;
  uintptr_t caller = 0;
  DWORD read = 0;
  if (crash::FindModule(modules, fault) == nullptr) {
    if (!ReadMemory(GetCurrentProcess(), sp, &caller, sizeof caller, &read) ||
        read != sizeof caller) {
      addresses.push_back(fault);
      return;
    }
    pc = caller;
    sp += sizeof caller;
  }
  Walk(dbghelp, thread, context, faulting.floor, addresses);
  // The error's own address leads, wherever the walk began.
  if (faulting.floor == 0 && (addresses.empty() || addresses.front() != fault)) {
    addresses.insert(addresses.begin(), fault);
  }
}

// Stops thread just long enough to take its registers and a copy of its stack. Only
// system calls run meanwhile: the stopped thread may hold any lock of the process.
bool CaptureSuspended(HANDLE thread, CONTEXT& context, StackCopy& copy, std::wstring& problem) {
  if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
    problem = ErrorText(L"SuspendThread", GetLastError());
    return false;
  }
  bool captured = false;
  DWORD context_error = ERROR_SUCCESS;  // texts wait: building one would allocate
  IgnoreStructuredErrors([&] {
    context.ContextFlags = CONTEXT_FULL;
    if (!GetThreadContext(thread, &context)) {
      context_error = GetLastError();
      return;
    }
    captured = true;
    MEMORY_BASIC_INFORMATION region{};
    const uint64_t sp = StackPointer(context);
    if (VirtualQuery(reinterpret_cast<LPCVOID>(sp), &region, sizeof region) == 0) return;
    const uint64_t top = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<uint64_t>(top > sp ? top - sp : 0, copy.bytes.size()));
    SIZE_T done = 0;
    if (ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(sp), copy.bytes.data(),
                          wanted, &done)) {
      copy.low = sp;
      copy.used = done;
    }
  });
  ResumeThread(thread);
  if (!captured) problem = ErrorText(L"GetThreadContext", context_error);
  return captured;
}

DWORD MainThreadId(const std::vector<DWORD>& ids) {
  DWORD main = ids.empty() ? 0 : ids.front();
  ULONGLONG earliest = ~0ULL;
  for (DWORD id : ids) {
    UniqueKernelHandle thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id));
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!thread || !GetThreadTimes(thread.get(), &created, &exited, &kernel, &user)) continue;
    const ULONGLONG when = (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
    if (when < earliest) {
      earliest = when;
      main = id;
    }
  }
  return main;
}

std::vector<DWORD> ThreadIds(std::wstring& problem) {
  std::vector<DWORD> ids;
  const UniqueFile snapshot = Snapshot(TH32CS_SNAPTHREAD);
  if (!snapshot) {
    problem = ErrorText(L"the thread list: CreateToolhelp32Snapshot", GetLastError());
    return ids;
  }
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more;
       more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
  }
  return ids;
}

// The COFF function symbols of a module's file, read once per report.
class CoffSymbolCache {
 public:
  const std::vector<CoffSymbol>& Of(const ModuleInfo& module) {
    auto [entry, added] = files_.try_emplace(module.path);
    if (added) {
      IgnoreStructuredErrors([&] { entry->second = Read(module.path); });
    }
    return entry->second;
  }

 private:
  static std::vector<CoffSymbol> Read(const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
        static_cast<uint64_t>(size.QuadPart) > SIZE_MAX) {
      return {};
    }
    const UniqueKernelHandle mapping(
        CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) return {};
    const UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return {};
    return crash::ReadCoffFunctions(
        {static_cast<const uint8_t*>(view.get()), static_cast<std::size_t>(size.QuadPart)});
  }

  std::map<std::wstring, std::vector<CoffSymbol>> files_;
};

void Describe(const DbgHelp& dbghelp, const std::vector<ModuleInfo>& modules, CoffSymbolCache& coff,
              const std::vector<uint64_t>& addresses, ThreadStack& thread) {
  for (uint64_t address : addresses) {
    StackFrame frame;
    frame.address = address;
    if (const ModuleInfo* module = crash::FindModule(modules, frame.address)) {
      frame.module = module->name;
      frame.offset = frame.address - module->base;
    }
    thread.frames.push_back(frame);
  }
  // Return addresses point behind their call, which may be a function's last
  // instruction: their symbol is looked up one byte earlier.
  for (std::size_t i = 0; i < thread.frames.size(); ++i) {
    StackFrame& frame = thread.frames[i];
    const uint64_t lookup = i == 0 ? frame.address : frame.address - 1;
    const ModuleInfo* module = crash::FindModule(modules, lookup);
    const CoffSymbol* symbol = module != nullptr
                                   ? crash::FindCoffSymbol(coff.Of(*module), lookup - module->base)
                                   : nullptr;
    std::wstring name;
    uint64_t displacement = 0;
    if (symbol != nullptr) {
      frame.symbol = crash::ReadableSymbol(symbol->name, kPointerBits == 32);
      frame.symbol_offset = frame.address - module->base - symbol->rva;
    } else if (dbghelp.Symbol(lookup, name, displacement)) {
      frame.symbol = std::move(name);
      frame.symbol_offset = displacement + (frame.address - lookup);
    }
  }
}

void GatherThreads(BugReport& report, const FaultingThread& faulting) {
  std::wstring list_problem;
  const std::vector<DWORD> ids = ThreadIds(list_problem);
  if (!list_problem.empty()) AddProblem(report.problem, list_problem);
  const DWORD main_id = MainThreadId(ids);
  const DWORD self = GetCurrentThreadId();

  DbgHelp dbghelp(report.modules);
  if (!dbghelp.usable()) {
    AddProblem(report.problem, L"dbghelp.dll is not usable: a walk of its own, no symbols");
  }

  // The faulting thread first, from the registers of the error. It waits for the
  // reporter, on stack below them, so its frames above them stand still.
  ThreadStack current;
  current.id = faulting.id;
  current.main = faulting.id == main_id;
  current.faulting = true;
  UniqueKernelHandle opened;
  HANDLE thread = GetCurrentThread();
  if (faulting.id != self) {
    opened.reset(OpenThread(THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, faulting.id));
    thread = opened.get();
  }
  std::vector<uint64_t> addresses;
  Stage(current.problem, L"the stack walk",
        [&] { WalkFaulting(dbghelp, thread, faulting, report.modules, addresses); });
  CoffSymbolCache coff;
  Stage(current.problem, L"the symbol lookup",
        [&] { Describe(dbghelp, report.modules, coff, addresses, current); });
  report.threads.push_back(std::move(current));

  StackCopy copy;
  copy.bytes.resize(kStackCopyLimit);
  for (DWORD id : ids) {
    // The reporter's own thread has nothing to say about the error.
    if (id == self || id == faulting.id) continue;
    ThreadStack thread;
    thread.id = id;
    thread.main = id == main_id;
    UniqueKernelHandle handle(OpenThread(
        THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id));
    if (!handle) {
      thread.problem = ErrorText(L"OpenThread", GetLastError());
    } else {
      CONTEXT suspended{};
      copy.used = 0;
      if (CaptureSuspended(handle.get(), suspended, copy, thread.problem)) {
        std::vector<uint64_t> frames;
        walked_stack = &copy;
        Stage(thread.problem, L"the stack walk",
              [&] { Walk(dbghelp, handle.get(), suspended, 0, frames); });
        walked_stack = nullptr;
        Stage(thread.problem, L"the symbol lookup",
              [&] { Describe(dbghelp, report.modules, coff, frames, thread); });
      }
    }
    report.threads.push_back(std::move(thread));
  }
}

std::wstring NowText() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t text[32] = {};
  std::swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  return text;
}

}  // namespace

void PrepareBugReport() {
  prepared.dbghelp = LoadSystemLibrary(L"dbghelp.dll");
  prepared.version = LoadSystemLibrary(L"version.dll");
  walked_stack = nullptr;  // made now: thread-local data is allocated at its first use
}

// Declared by the tests only.
void MakeDbgHelpUnusableForTests(bool unusable) { prepared.dbghelp_unusable = unusable; }

crash::BugReport GatherBugReport(const std::wstring& error, const FaultingThread& faulting) {
  BugReport report;
  report.error = error;
  report.pointer_bits = kPointerBits;
  report.process_id = GetCurrentProcessId();
  Stage(report.problem, L"the program's name", [&] {
    report.date_time = NowText();
    report.executable = ProcessExecutablePath();
  });
  Stage(report.problem, L"the module list", [&] { GatherModules(report); });
  Stage(report.problem, L"the thread list", [&] { GatherThreads(report, faulting); });
  return report;
}

}  // namespace vol::crash_detail
