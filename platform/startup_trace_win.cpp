// The writer of the start-up marks (platform/startup_trace_win.h): something only in a
// volumes.exe built with VOLUMES_STARTUP_TRACE=ON, for the start-up benchmark.
#include "platform/startup_trace_win.h"

#if defined(VOLUMES_STARTUP_TRACE)

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace vol {
namespace {

struct Mark {
  const char* step;
  LONGLONG counter;
};
Mark marks[16];
int count = 0;
bool done = false;

}  // namespace

void StartupMark(const char* step) {
  if (done || count == static_cast<int>(std::size(marks))) return;
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  marks[count++] = {step, now.QuadPart};
}

// One line a step: the counter, a blank, the step.
void StartupDone(const char* step) {
  if (done) return;
  StartupMark(step);
  done = true;
  const char* path = std::getenv("VOLUMES_STARTUP_TRACE");
  if (path == nullptr) return;
  if (FILE* file = std::fopen(path, "w")) {
    for (int i = 0; i < count; ++i)
      std::fprintf(file, "%lld %s\n", marks[i].counter, marks[i].step);
    std::fclose(file);
  }
}

}  // namespace vol

#endif
