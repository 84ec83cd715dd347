// What the Linux program adds to the shared menu: the choice of the kernel's byte counters,
// and an About text that names the Linux data source.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "app/menu_model.h"
#include "procfs/proc_system.h"

namespace tessivo {

namespace command {
inline constexpr std::int32_t SourceAllIo = 40050;
inline constexpr std::int32_t SourceDiskOnly = 40051;
}  // namespace command

inline constexpr char16_t kLinuxAboutText[] =
    u"Tessivo\n刷新间隔：333 毫秒\n数据来源：/proc/<pid>/stat 与 /proc/<pid>/io。";

inline constexpr char16_t kNotRootNotice[] =
    u"非 root 运行：其他用户的进程显示为零计数，且其映像路径不可见而按名称分组；以 root 运行可查看全部。";

// The byte source a command id selects, if it is one of the source commands.
std::optional<ProcByteSource> byteSourceOf(std::int32_t commandId);

// The core's menu bar with the 计数来源 submenu appended to 设置.
std::vector<MenuItem> buildLinuxMenuBar();

}  // namespace tessivo
