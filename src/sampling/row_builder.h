// Turns a refresh's activities into list rows: one per process, or one per application
// (processes with the same image path, ignoring A-Z case, or without a path the same name).
#pragma once

#include <span>
#include <vector>

#include "core/types.h"
#include "sampling/image_path_cache.h"
#include "sampling/process_system.h"
#include "sampling/text_index.h"

namespace tessivo {

// Keeps the grouping index between refreshes so that building allocates little.
class RowBuilder {
 public:
  // Replaces `rows` with the rows of `activities` (sorted by pid), reusing the storage of
  // the rows already in it. Paths are looked up in `paths`, resolved through `system`.
  void build(std::span<const ProcessActivity> activities, bool groupByApp, ImagePathCache& paths,
             ProcessSystem& system, std::vector<ProcessRow>& rows);

 private:
  TextIndex groups_;
  std::u16string key_;
};

std::vector<ProcessRow> buildRows(std::span<const ProcessActivity> activities, bool groupByApp,
                                  ImagePathCache& paths, ProcessSystem& system);

// The part of a path after its last '\' or '/'; the whole path when it has neither.
std::u16string_view fileNamePart(std::u16string_view path) noexcept;

}  // namespace tessivo
