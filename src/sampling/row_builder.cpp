#include "sampling/row_builder.h"

#include "core/text.h"

namespace tessivo {

namespace {

std::u16string_view displayName(const ProcessActivity& activity) {
  return activity.name.empty() ? std::u16string_view(kUnknownName) : std::u16string_view(activity.name);
}

// The next row to fill: one left from an earlier refresh (its strings keep their capacity)
// or a new one.
ProcessRow& nextRow(std::vector<ProcessRow>& rows, std::size_t& used) {
  if (used == rows.size()) rows.emplace_back();
  return rows[used++];
}

void copyAmounts(const ProcessActivity& activity, ProcessRow& row) {
  row.counters = activity.counters;
  row.readRate = activity.readRate;
  row.writeRate = activity.writeRate;
}

void addAmounts(const ProcessActivity& activity, ProcessRow& row) {
  IoCounters& sum = row.counters;
  const IoCounters& add = activity.counters;
  sum.readOps += add.readOps;
  sum.writeOps += add.writeOps;
  sum.otherOps += add.otherOps;
  sum.readBytes += add.readBytes;
  sum.writeBytes += add.writeBytes;
  sum.otherBytes += add.otherBytes;
  row.readRate += activity.readRate;
  row.writeRate += activity.writeRate;
}

}  // namespace

std::u16string_view fileNamePart(std::u16string_view path) noexcept {
  const std::size_t separator = path.find_last_of(u"\\/");
  return separator == std::u16string_view::npos ? path : path.substr(separator + 1);
}

void RowBuilder::build(std::span<const ProcessActivity> activities, bool groupByApp, ImagePathCache& paths,
                       ProcessSystem& system, std::vector<ProcessRow>& rows) {
  rows.reserve(activities.size());
  std::size_t used = 0;
  if (!groupByApp) {
    for (const ProcessActivity& activity : activities) {
      ProcessRow& row = nextRow(rows, used);
      row.pid = activity.pid;
      row.name.assign(displayName(activity));
      row.imagePath.assign(paths.pathOf(activity.pid, system));
      copyAmounts(activity, row);
    }
  } else {
    groups_.reset(activities.size());
    for (const ProcessActivity& activity : activities) {
      const std::u16string& path = paths.pathOf(activity.pid, system);
      foldAsciiInto(path.empty() ? displayName(activity) : std::u16string_view(path), key_);
      const auto [group, isNew] = groups_.insert(key_);
      if (!isNew) {
        addAmounts(activity, rows[group]);
        continue;
      }
      // Groups are numbered in order of appearance, exactly as their rows are appended.
      ProcessRow& row = nextRow(rows, used);
      row.pid = 0;
      row.name.assign(path.empty() ? displayName(activity) : fileNamePart(path));
      row.imagePath.assign(path);
      copyAmounts(activity, row);
    }
  }
  rows.resize(used);
}

std::vector<ProcessRow> buildRows(std::span<const ProcessActivity> activities, bool groupByApp,
                                  ImagePathCache& paths, ProcessSystem& system) {
  std::vector<ProcessRow> rows;
  RowBuilder().build(activities, groupByApp, paths, system, rows);
  return rows;
}

}  // namespace tessivo
