// The list the scripted build must show, worked out from its process table by the test's
// own arithmetic: counters that grow by a fixed step at every snapshot, speeds that follow
// the program's smoothing (each 333 ms step weighs 333/4000 of the new reading).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessivo::e2e {

using Table = std::vector<std::vector<std::wstring>>;  // rows of nine cell texts

std::wstring grouped(std::uint64_t value);      // 1234567 -> "1,234,567"
std::wstring kibPerSecond(std::uint64_t rate);  // 1536 -> "1.5 KiB/s"
// The smoothed speed after `steps` readings of a constant speed, starting from 0.
std::uint64_t smoothed(std::uint64_t speed, int steps);

struct Moment {
  std::int64_t reads = 1;  // snapshots taken, the current one included
  std::int64_t countedSteps = 0;  // RunDelta: steps since the baseline was taken
  int rateSteps = 0;              // readings since the speeds restarted
  bool groupByApp = true;
  bool cumulative = false;
};

// Rows in no particular order (sorted as whole texts), to compare with a sorted list.
Table expectedRows(const Moment& moment);

// Checks a list read at `reads` snapshots against every moment it could be (the steps
// since the last reset are not known from outside). Empty when one matches; otherwise says
// what differs from the closest candidate.
std::string matchList(Table actual, std::int64_t reads, bool groupByApp, bool cumulative);

// One printable line per row, for failure messages.
std::string describe(const Table& table);

}  // namespace tessivo::e2e
