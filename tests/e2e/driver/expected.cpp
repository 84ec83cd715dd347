#include "driver/expected.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <cwctype>
#include <map>

#include "driver/program.h"
#include "script/script_control.h"

namespace tessivo::e2e {

std::wstring grouped(std::uint64_t value) {
  const std::wstring digits = std::to_wstring(value);
  std::wstring text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += L',';
    text += digits[i];
  }
  return text;
}

std::wstring kibPerSecond(std::uint64_t rate) {
  wchar_t text[64];
  std::swprintf(text, 64, L"%.1f KiB/s", static_cast<double>(rate) / 1024.0);
  return text;
}

std::uint64_t smoothed(std::uint64_t speed, int steps) {
  const double weight = static_cast<double>(script::kStepMs) / 4000.0;
  std::uint64_t rate = 0;
  for (int i = 0; i < steps; ++i) {
    const double r = static_cast<double>(rate);
    rate = static_cast<std::uint64_t>(std::llround((static_cast<double>(speed) - r) * weight + r));
  }
  return rate;
}

namespace {

struct Sums {
  std::wstring name, path;
  std::uint32_t pid = 0;
  std::uint64_t readBytes = 0, writeBytes = 0, readOps = 0, writeOps = 0, readRate = 0, writeRate = 0;
};

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring fileName(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::uint64_t speedOf(std::uint64_t bytesPerStep) { return bytesPerStep * 1000 / script::kStepMs; }

}  // namespace

Table expectedRows(const Moment& m) {
  std::vector<Sums> rows;
  std::map<std::wstring, std::size_t> groups;
  for (const script::Process& p : script::kProcesses) {  // listed by pid, as the program meets them
    const std::uint64_t steps = static_cast<std::uint64_t>(m.cumulative ? m.reads - 1 : m.countedSteps);
    const std::uint64_t base = m.cumulative ? 1 : 0;
    Sums s;
    s.pid = p.pid;
    s.name = *p.name ? p.name : L"（未知）";
    s.path = p.imagePath;
    s.readBytes = base * p.initialReadBytes + steps * p.stepReadBytes;
    s.writeBytes = base * p.initialWriteBytes + steps * p.stepWriteBytes;
    s.readOps = base * p.initialReadOps + steps * p.stepReadOps;
    s.writeOps = base * p.initialWriteOps + steps * p.stepWriteOps;
    s.readRate = smoothed(speedOf(p.stepReadBytes), m.rateSteps);
    s.writeRate = smoothed(speedOf(p.stepWriteBytes), m.rateSteps);
    if (!m.groupByApp) {
      rows.push_back(s);
      continue;
    }
    const std::wstring key = lower(s.path.empty() ? s.name : s.path);
    auto found = groups.find(key);
    if (found == groups.end()) {
      s.pid = 0;
      if (!s.path.empty()) s.name = fileName(s.path);
      groups.emplace(key, rows.size());
      rows.push_back(s);
    } else {
      Sums& g = rows[found->second];
      g.readBytes += s.readBytes;
      g.writeBytes += s.writeBytes;
      g.readOps += s.readOps;
      g.writeOps += s.writeOps;
      g.readRate += s.readRate;
      g.writeRate += s.writeRate;
    }
  }
  Table table;
  for (const Sums& s : rows)
    table.push_back({s.name, s.pid == 0 ? L"-" : grouped(s.pid), grouped(s.readBytes), grouped(s.writeBytes),
                     grouped(s.readOps), grouped(s.writeOps), kibPerSecond(s.readRate), kibPerSecond(s.writeRate),
                     s.path});
  std::sort(table.begin(), table.end());
  return table;
}

namespace {

int differences(const Table& a, const Table& b) {
  if (a.size() != b.size()) return 1'000'000;
  int count = 0;
  for (std::size_t r = 0; r < a.size(); ++r)
    for (std::size_t c = 0; c < a[r].size() && c < b[r].size(); ++c) count += a[r][c] != b[r][c];
  return count;
}

}  // namespace

std::string describe(const Table& table) {
  std::string out;
  for (const auto& row : table) {
    out += "  ";
    for (const auto& cell : row) {
      out += '[';
      out += utf8(cell);
      out += ']';
    }
    out += "\n";
  }
  return out;
}

std::string matchList(Table actual, std::int64_t reads, bool groupByApp, bool cumulative) {
  std::sort(actual.begin(), actual.end());
  Table closest;
  int fewest = 1'000'001;
  // RunDelta: counters and speeds both restarted k steps ago. Cumulative: counters are the
  // system's totals at this read; the speeds restarted k steps ago.
  for (std::int64_t k = 0; k < reads; ++k) {
    Moment m;
    m.reads = reads;
    m.countedSteps = k;
    m.rateSteps = static_cast<int>(k);
    m.groupByApp = groupByApp;
    m.cumulative = cumulative;
    Table expected = expectedRows(m);
    const int d = differences(actual, expected);
    if (d == 0) return {};
    if (d < fewest) {
      fewest = d;
      closest = std::move(expected);
    }
  }
  std::string out = "list at read " + std::to_string(reads);
  out += ":\n";
  out += describe(actual);
  out += "closest expected:\n";
  out += describe(closest);
  return out;
}

}  // namespace tessivo::e2e
