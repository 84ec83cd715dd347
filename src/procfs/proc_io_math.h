// Field-by-field arithmetic on /proc/<pid>/io counters: a difference never wraps below zero
// and a sum saturates, so a counter that went back or an absurd one cannot make up bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "procfs/proc_parse.h"

namespace tessivo::procio {

inline std::uint64_t minus(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }
inline std::uint64_t plus(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

template <typename F>
ProcIo fieldwise(const ProcIo& a, const ProcIo& b, F f) {
  return {f(a.rchar, b.rchar), f(a.wchar, b.wchar),         f(a.syscr, b.syscr),
          f(a.syscw, b.syscw), f(a.readBytes, b.readBytes), f(a.writeBytes, b.writeBytes)};
}
inline ProcIo operator-(const ProcIo& a, const ProcIo& b) { return fieldwise(a, b, minus); }
inline ProcIo operator+(const ProcIo& a, const ProcIo& b) { return fieldwise(a, b, plus); }
inline ProcIo lesser(const ProcIo& a, const ProcIo& b) {
  return fieldwise(a, b, [](std::uint64_t x, std::uint64_t y) { return std::min(x, y); });
}
inline bool isZero(const ProcIo& io) {
  return (io.rchar | io.wchar | io.syscr | io.syscw | io.readBytes | io.writeBytes) == 0;
}

}  // namespace tessivo::procio
