// Start-up time of a window program: from CreateProcess until its first top-level window
// is visible ("window"), or until the list view in it holds its first row ("list").
// Each run ends the program it started; prints the median in milliseconds.
// "timeline" is "list" for a volumes.exe built with VOLUMES_STARTUP_TRACE=ON: it also
// prints the median time of each of the program's start-up marks, one a line.
//
//   startup_probe window|list|timeline PROGRAM.exe [runs]
#include <windows.h>
// commctrl.h builds on windows.h.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Search {
  DWORD process_id;
  bool want_list;
  bool found = false;
};

BOOL CALLBACK Visit(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search.process_id || !::IsWindowVisible(window)) return TRUE;
  if (!search.want_list) {
    search.found = true;
    return FALSE;
  }
  HWND list = ::FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
  if (list && ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0) {
    search.found = true;
    return FALSE;
  }
  return TRUE;
}

double Now() {
  LARGE_INTEGER counter, frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

using Marks = std::vector<std::pair<std::string, double>>;  // step, milliseconds

// The marks a traced program wrote to trace, as milliseconds after start (a counter).
Marks ReadMarks(const std::wstring& trace, LONGLONG start) {
  Marks marks;
  for (int wait = 0; wait < 500 && marks.empty(); ++wait) {  // the first paint may follow
    std::ifstream file{std::filesystem::path(trace)};
    std::string line;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    while (std::getline(file, line)) {
      std::istringstream fields(line);
      long long counter = 0;
      std::string step;
      if (!(fields >> counter) || !std::getline(fields >> std::ws, step)) continue;
      marks.emplace_back(step, static_cast<double>(counter - start) * 1e3 /
                                   static_cast<double>(frequency.QuadPart));
    }
    if (marks.empty()) ::Sleep(10);
  }
  return marks;
}

// Milliseconds until the program shows what is asked for; negative when it never does.
// With a trace file, the program's marks are read into marks.
double OneStart(const std::wstring& program, bool want_list, const std::wstring& trace = {},
                Marks* marks = nullptr) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + program + L"\"";
  if (!trace.empty()) {
    ::DeleteFileW(trace.c_str());
    ::SetEnvironmentVariableW(L"VOLUMES_STARTUP_TRACE", trace.c_str());
  }
  LARGE_INTEGER start_counter;
  ::QueryPerformanceCounter(&start_counter);
  const double start = Now();
  if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
    return -1;
  }
  double shown = -1;
  while (Now() - start < 60) {
    Search search{process.dwProcessId, want_list};
    ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      shown = (Now() - start) * 1e3;
      break;
    }
    if (::WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;  // it ended
  }
  if (marks != nullptr && shown >= 0) *marks = ReadMarks(trace, start_counter.QuadPart);
  ::TerminateProcess(process.hProcess, 0);
  ::WaitForSingleObject(process.hProcess, 10000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return shown;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: startup_probe window|list|timeline PROGRAM.exe [runs]\n");
    return 2;
  }
  const std::wstring mode = argv[1];
  const bool want_list = mode != L"window";
  const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 7;
  std::wstring trace;
  if (mode == L"timeline") {
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    trace = std::wstring(folder) + L"volumes_startup_trace.txt";
  }
  std::vector<double> times;
  std::vector<std::string> steps;
  std::vector<std::vector<double>> at;  // per step, the times of the runs
  OneStart(argv[2], want_list);  // the first start also loads Wine's files into the cache
  for (int i = 0; i < runs; ++i) {
    Marks marks;
    const double ms = OneStart(argv[2], want_list, trace, trace.empty() ? nullptr : &marks);
    if (ms < 0) {
      std::fprintf(stderr, "startup_probe: %ls never showed its %s\n", argv[2],
                   want_list ? "first list row" : "window");
      return 1;
    }
    times.push_back(ms);
    for (const auto& [step, mark] : marks) {
      const auto known = std::find(steps.begin(), steps.end(), step);
      if (known == steps.end()) {
        steps.push_back(step);
        at.emplace_back();
      }
      at[static_cast<std::size_t>(std::find(steps.begin(), steps.end(), step) - steps.begin())]
          .push_back(mark);
    }
  }
  std::printf("%.1f\n", Median(times));
  if (!trace.empty() && steps.empty()) {
    std::fprintf(stderr, "startup_probe: %ls wrote no start-up marks\n", argv[2]);
    return 1;
  }
  for (std::size_t i = 0; i < steps.size(); ++i) {
    std::printf("%8.1f ms  %s\n", Median(at[i]), steps[i].c_str());
  }
  return 0;
}
