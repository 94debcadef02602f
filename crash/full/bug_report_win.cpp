// Gathers the bug report: the loaded modules, the stacks of all threads of the process
// (frame pointers on 32-bit code, the images' unwind data on 64-bit code) and the symbol
// names that the images' COFF tables know. Nothing here takes the loader's lock, which
// the failed thread or a parked one may hold for good: the modules come from the address
// space itself, not from the loader's list, and no DLL is loaded.
//
// Every stage runs under IgnoreStructuredErrors and catches C++ exceptions: what a
// failing stage gathered before it failed stays in the report, with a note saying so.
#include <windows.h>
// windows.h first: these need its types.
#include <psapi.h>
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

// The image that starts at base: its file, and its size from its own headers.
bool ReadImage(const BYTE* base, ModuleInfo& module) {
  wchar_t path[MAX_PATH] = {};
  if (GetMappedFileNameW(GetCurrentProcess(), const_cast<BYTE*>(base), path, MAX_PATH) == 0) {
    return false;
  }
  const auto& dos = *reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto& nt = *reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos.e_lfanew);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || nt.Signature != IMAGE_NT_SIGNATURE) return false;
  // The system names the file by its device (\Device\HarddiskVolume3\...), which the
  // global root opens as it stands.
  module.path = path;
  if (module.path.starts_with(L"\\Device\\")) module.path.insert(0, L"\\\\?\\GLOBALROOT");
  // \??\C:\... names the file as \\?\C:\... does.
  if (module.path.starts_with(L"\\??\\")) module.path[1] = L'\\';
  module.name = module.path.substr(module.path.find_last_of(L"\\/") + 1);
  module.base = reinterpret_cast<uintptr_t>(base);
  module.size = nt.OptionalHeader.SizeOfImage;
  return true;
}

// Every image mapped into the process, by walking its address space.
void GatherModules(BugReport& report) {
  MEMORY_BASIC_INFORMATION region{};
  for (const BYTE* at = nullptr;
       VirtualQuery(at, &region, sizeof region) == sizeof region && region.RegionSize != 0;
       at = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
    if (region.Type != MEM_IMAGE || region.BaseAddress != region.AllocationBase) continue;
    ModuleInfo module;
    IgnoreStructuredErrors([&] {
      if (ReadImage(static_cast<const BYTE*>(region.BaseAddress), module)) {
        report.modules.push_back(std::move(module));
      }
    });
  }
}

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
// The unwind data that every x86-64 image carries for its exceptions. GCC points RBP into the
// middle of its frames there, so no frame-pointer chain would do.
void Walk(CONTEXT context, uint64_t floor, std::vector<uint64_t>& addresses) {
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
// The chain of saved frame pointers, which the program keeps in every function.
void Walk(const CONTEXT& context, uint64_t floor, std::vector<uint64_t>& addresses) {
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
void WalkFaulting(const FaultingThread& faulting, const std::vector<ModuleInfo>& modules,
                  std::vector<uint64_t>& addresses) {
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
  Walk(context, faulting.floor, addresses);
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

void Describe(const std::vector<ModuleInfo>& modules, CoffSymbolCache& coff,
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
    if (symbol != nullptr) {
      frame.symbol = crash::ReadableSymbol(symbol->name, kPointerBits == 32);
      frame.symbol_offset = frame.address - module->base - symbol->rva;
    }
  }
}

void GatherThreads(BugReport& report, const FaultingThread& faulting) {
  std::wstring list_problem;
  const std::vector<DWORD> ids = ThreadIds(list_problem);
  if (!list_problem.empty()) AddProblem(report.problem, list_problem);
  const DWORD main_id = MainThreadId(ids);
  const DWORD self = GetCurrentThreadId();

  // The faulting thread first, from the registers of the error. It waits for the
  // reporter, on stack below them, so its frames above them stand still.
  ThreadStack current;
  current.id = faulting.id;
  current.main = faulting.id == main_id;
  current.faulting = true;
  std::vector<uint64_t> addresses;
  Stage(current.problem, L"the stack walk",
        [&] { WalkFaulting(faulting, report.modules, addresses); });
  CoffSymbolCache coff;
  Stage(current.problem, L"the symbol lookup",
        [&] { Describe(report.modules, coff, addresses, current); });
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
        Stage(thread.problem, L"the stack walk", [&] { Walk(suspended, 0, frames); });
        walked_stack = nullptr;
        Stage(thread.problem, L"the symbol lookup",
              [&] { Describe(report.modules, coff, frames, thread); });
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
  walked_stack = nullptr;  // made now: thread-local data is allocated at its first use
}

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
