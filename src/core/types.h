// Plain records shared by sampling, the list and the chart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessivo {

// Cumulative I/O counters of one process, in the system's IO_COUNTERS order.
struct IoCounters {
  std::uint64_t readOps = 0;
  std::uint64_t writeOps = 0;
  std::uint64_t otherOps = 0;
  std::uint64_t readBytes = 0;
  std::uint64_t writeBytes = 0;
  std::uint64_t otherBytes = 0;

  friend bool operator==(const IoCounters&, const IoCounters&) = default;
};

// One process of one snapshot.
struct ProcessSample {
  std::uint32_t pid = 0;
  std::u16string name;  // may be empty
  IoCounters counters;
  // Creation time as the system reports it (100 ns units); 0 when unknown.
  // A known pid arriving with another non-zero creation time is a new process.
  std::uint64_t createTime = 0;
  // Changes when the source sees another program behind the same process (an exec): the
  // image path is then asked again. Sources that cannot tell leave it 0.
  std::uint32_t imageGeneration = 0;
};

enum class CountMode : std::int32_t {
  RunDelta = 0,          // amounts since first seen, the last clear or mode change
  SystemCumulative = 1,  // the system's own totals
};

// One process after a refresh's accounting.
struct ProcessActivity {
  std::uint32_t pid = 0;
  std::u16string name;
  IoCounters counters;  // as the current CountMode shows them
  std::uint64_t readRate = 0;   // bytes per second, smoothed
  std::uint64_t writeRate = 0;
};

// A name with its speeds: one entry of a refresh's top list, one contributor of a chart item.
struct NameRate {
  std::u16string name;
  std::uint64_t readRate = 0;
  std::uint64_t writeRate = 0;

  friend bool operator==(const NameRate&, const NameRate&) = default;
};

// One row of the process list.
struct ProcessRow {
  std::uint32_t pid = 0;  // 0 for an application row
  std::u16string name;
  std::u16string imagePath;
  IoCounters counters;
  std::uint64_t readRate = 0;
  std::uint64_t writeRate = 0;
};

enum class ChartRange : std::int32_t { Live = 0, Hour1 = 1, Hour24 = 2, Full = 3 };

// Shown for a process the system reports without a name.
inline constexpr char16_t kUnknownName[] = u"（未知）";

}  // namespace tessivo
