// What each menu command does to the application state, and what the shell must
// change afterwards. The shell applies the effect with its own calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"

namespace tessivo {

struct CommandEffect {
  bool handled = false;                                // false: not a menu command
  std::vector<std::pair<std::int32_t, bool>> checks;   // (command id, checked), applied in order
  std::optional<std::int32_t> timerIntervalMs;         // kill and re-arm the sampling timer
  bool relayout = false;                               // lay the panes out anew (chart toggled)
  bool showAbout = false;
  bool restore = false;                                // restore from the notification area
  bool destroy = false;                                // destroy the main window
};

// Carries out one command id on the state (runs the refresh step where the command does).
CommandEffect runCommand(AppState& state, std::int32_t commandId);

// A click on the list's column header: the order rule, then a refresh at once.
void onColumnClick(AppState& state, std::int32_t column);

inline constexpr char16_t kAboutCaption[] = u"关于";
inline constexpr char16_t kAboutText[] =
    u"Tessivo\n刷新间隔：333 毫秒\n数据来源：NtQuerySystemInformation(SystemProcessInformation)。";

}  // namespace tessivo
