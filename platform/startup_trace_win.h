// Marks of the start-up, for the start-up benchmark: in a build configured with
// VOLUMES_STARTUP_TRACE=ON each step notes the performance counter, and once the list
// has painted for the first time the marks go to the file that the environment variable
// VOLUMES_STARTUP_TRACE names. In every other build a mark is nothing at all.
#pragma once

namespace vol {

#if defined(VOLUMES_STARTUP_TRACE)
void StartupMark(const char* step);
// The last mark: writes them all.
void StartupDone(const char* step);
#else
inline void StartupMark(const char*) {}
inline void StartupDone(const char*) {}
#endif

}  // namespace vol
