#include "qt/commands.h"

namespace tessivo {

std::optional<ProcByteSource> byteSourceOf(std::int32_t commandId) {
  if (commandId == command::SourceAllIo) return ProcByteSource::AllIo;
  if (commandId == command::SourceDiskOnly) return ProcByteSource::DiskOnly;
  return std::nullopt;
}

std::vector<MenuItem> buildLinuxMenuBar() {
  std::vector<MenuItem> bar = buildMenuBar();
  MenuItem sources{MenuItemKind::Popup, u"计数来源", 0, false, {}};
  sources.children.push_back({MenuItemKind::Command, u"全部读写", command::SourceAllIo, true, {}});
  sources.children.push_back({MenuItemKind::Command, u"仅磁盘", command::SourceDiskOnly, false, {}});
  for (MenuItem& popup : bar) {
    if (popup.kind == MenuItemKind::Popup && popup.text == u"设置") {
      popup.children.push_back(std::move(sources));
      break;
    }
  }
  return bar;
}

}  // namespace tessivo
