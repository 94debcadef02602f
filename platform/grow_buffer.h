// The one way the program asks a call that may find its buffer too small.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace vol {

// Longer than any list of names a real system gives: 8 Mi characters, 16 MiB.
inline constexpr std::size_t kListLengthLimit = std::size_t{1} << 23;

// attempt(buffer) makes the call and answers nothing when it is done (it succeeded, or
// failed for another reason than the buffer's size), or the size the next try needs.
// The buffer starts with `start` zeroed elements and is made anew, zeroed, at each size
// asked for; false when a size was asked for beyond `limit`, or no larger than the buffer
// already is. The buffer holds what the last attempt wrote.
template <typename Char, typename Attempt>
bool GrowAndRetry(std::vector<Char>& buffer, std::size_t start, std::size_t limit,
                  Attempt attempt) {
  buffer.assign(start, Char{});
  while (const std::optional<std::size_t> wanted = attempt(buffer)) {
    if (*wanted <= buffer.size() || *wanted > limit) return false;
    buffer = std::vector<Char>();  // the old buffer goes before the larger one is made
    buffer.resize(*wanted);
  }
  return true;
}

}  // namespace vol
