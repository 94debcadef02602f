// Start-up time of window programs: from CreateProcess until the program's first top-level
// window is visible ("window"), or until the list view in it holds its first row ("list").
// "timeline" is "list" for a volumes.exe built with VOLUMES_STARTUP_TRACE=ON: it also
// gives the median time of each of the program's start-up marks.
//
//   startup_probe RUNS MODE:PROGRAM.exe [MODE:PROGRAM.exe ...]
//
// The programs take turns, one start each a round, after one warm-up start each, so that
// the machine's drift during the runs falls on all of them alike and their ratios hold.
// Prints one line a program, in the order given: its median in milliseconds, a blank and
// the program; then, for each program but the last, "ratio", the median of the last
// program's time over that program's time in the same round, and the program; then,
// indented, the median of each mark of the timeline programs.
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

struct Program {
  std::wstring path;
  bool want_list = false;
  bool timeline = false;
  std::vector<double> times{};
  std::vector<std::string> steps{};
  std::vector<std::vector<double>> at{};  // per step, the times of the runs
};

int wmain(int argc, wchar_t** argv) {
  const int runs = argc > 1 ? _wtoi(argv[1]) : 0;
  std::vector<Program> programs;
  for (int i = 2; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const std::size_t colon = arg.find(L':');
    const std::wstring mode = arg.substr(0, colon == std::wstring::npos ? 0 : colon);
    if (mode != L"window" && mode != L"list" && mode != L"timeline") {
      programs.clear();
      break;
    }
    programs.push_back({arg.substr(colon + 1), mode != L"window", mode == L"timeline"});
  }
  if (runs < 1 || programs.empty()) {
    std::fprintf(stderr, "usage: startup_probe RUNS window|list|timeline:PROGRAM.exe ...\n");
    return 2;
  }
  wchar_t folder[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring trace = std::wstring(folder) + L"volumes_startup_trace.txt";
  // The first start of each also loads its files and Wine's into the cache.
  for (const Program& program : programs) OneStart(program.path, program.want_list);
  for (int round = 0; round < runs; ++round) {
    for (Program& program : programs) {
      Marks marks;
      const double ms = program.timeline ? OneStart(program.path, true, trace, &marks)
                                         : OneStart(program.path, program.want_list);
      if (ms < 0) {
        std::fprintf(stderr, "startup_probe: %ls never showed its %s\n", program.path.c_str(),
                     program.want_list ? "first list row" : "window");
        return 1;
      }
      program.times.push_back(ms);
      for (const auto& [step, mark] : marks) {
        auto known = std::find(program.steps.begin(), program.steps.end(), step);
        if (known == program.steps.end()) {
          program.steps.push_back(step);
          program.at.emplace_back();
          known = program.steps.end() - 1;
        }
        program.at[static_cast<std::size_t>(known - program.steps.begin())].push_back(mark);
      }
    }
  }
  for (const Program& program : programs) {
    std::printf("%.1f %ls\n", Median(program.times), program.path.c_str());
    if (program.timeline && program.steps.empty()) {
      std::fprintf(stderr, "startup_probe: %ls wrote no start-up marks\n", program.path.c_str());
      return 1;
    }
  }
  // Each round's pair of starts ran at the same moment of the machine's drift.
  const Program& last = programs.back();
  for (std::size_t p = 0; p + 1 < programs.size(); ++p) {
    std::vector<double> ratios;
    for (std::size_t round = 0; round < last.times.size(); ++round) {
      ratios.push_back(last.times[round] / programs[p].times[round]);
    }
    std::printf("ratio %.3f %ls\n", Median(ratios), programs[p].path.c_str());
  }
  for (const Program& program : programs) {
    for (std::size_t i = 0; i < program.steps.size(); ++i) {
      std::printf("%8.1f ms  %s\n", Median(program.at[i]), program.steps[i].c_str());
    }
  }
  return 0;
}
