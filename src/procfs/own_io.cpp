#include "procfs/own_io.h"

#include <unistd.h>

#include <atomic>

namespace tessivo::own_io {

namespace {

struct Totals {
  std::atomic<pid_t> pid{0};
  std::atomic<std::uint64_t> readBytes{0};
  std::atomic<std::uint64_t> readCalls{0};
  std::atomic<std::uint64_t> writeBytes{0};
  std::atomic<std::uint64_t> writeCalls{0};
};

Totals& process() {
  static Totals totals;
  return totals;
}

}  // namespace

std::uint32_t sync() {
  Totals& t = process();
  const pid_t now = ::getpid();
  if (t.pid.exchange(now, std::memory_order_relaxed) != now) {
    for (auto* total : {&t.readBytes, &t.readCalls, &t.writeBytes, &t.writeCalls}) total->store(0, std::memory_order_relaxed);
  }
  return static_cast<std::uint32_t>(now);
}

void countRead(long returned) {
  Totals& t = process();
  t.readCalls.fetch_add(1, std::memory_order_relaxed);
  if (returned > 0) t.readBytes.fetch_add(static_cast<std::uint64_t>(returned), std::memory_order_relaxed);
}

void declare(std::uint64_t readBytes, std::uint64_t readCalls, std::uint64_t writeBytes, std::uint64_t writeCalls) {
  sync();
  Totals& t = process();
  t.readBytes.fetch_add(readBytes, std::memory_order_relaxed);
  t.readCalls.fetch_add(readCalls, std::memory_order_relaxed);
  t.writeBytes.fetch_add(writeBytes, std::memory_order_relaxed);
  t.writeCalls.fetch_add(writeCalls, std::memory_order_relaxed);
}

ProcIo totals() {
  const Totals& t = process();
  ProcIo io;
  io.rchar = t.readBytes.load(std::memory_order_relaxed);
  io.syscr = t.readCalls.load(std::memory_order_relaxed);
  io.wchar = t.writeBytes.load(std::memory_order_relaxed);
  io.syscw = t.writeCalls.load(std::memory_order_relaxed);
  return io;
}

}  // namespace tessivo::own_io
