// What the fuzz targets share: checks that hold in every build type, exact-size copies and
// reading chosen values off the front of an input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

// A failed check aborts, which libFuzzer takes as a finding (and saves the input), even where
// NDEBUG has turned assert off.
#define FUZZ_CHECK(cond) \
  ((cond) ? void(0) : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond), std::abort()))

namespace tessivo::fuzz {

// A copy of a text in a heap block of exactly its size, so reading past its end is an ASan
// report (a std::string's spare capacity would hide it).
class ExactText {
 public:
  explicit ExactText(std::string_view text) : bytes_(new char[text.size()]), size_(text.size()) {
    std::copy(text.begin(), text.end(), bytes_.get());
  }
  std::string_view view() const { return {bytes_.get(), size_}; }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
};

// Takes a T off the front of the input; zero bytes once it runs out.
template <typename T>
T take(const std::uint8_t*& data, std::size_t& size) {
  T value{};
  const std::size_t n = std::min(sizeof value, size);
  if (n > 0) std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace tessivo::fuzz
