// What every fuzz target shares: reading the fuzzer's bytes as numbers and UTF-16 text,
// and a check that stops the run loudly, so that the fuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

namespace vol::fuzz {

// Hands out the input front to back; past its end every read gives zeros.
class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return empty() ? 0 : data_[at_++]; }
  uint32_t U32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{Byte()} << (8 * i);
    return value;
  }
  // Up to max_units UTF-16 code units, two bytes each, little-endian; any value goes,
  // NUL and unpaired surrogates included.
  std::wstring Text(std::size_t max_units) {
    std::wstring text;
    while (text.size() < max_units && at_ + 1 < size_) {
      text.push_back(static_cast<wchar_t>(data_[at_] | (data_[at_ + 1] << 8)));
      at_ += 2;
    }
    return text;
  }
  std::wstring RestAsText() { return Text(size_); }
  // The next `count` bytes (fewer at the end), zero-padded to `count`.
  void Bytes(void* out, std::size_t count) {
    auto* bytes = static_cast<uint8_t*>(out);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = Byte();
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace vol::fuzz
