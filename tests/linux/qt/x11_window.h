// The X server seen from outside a program: whether it shows a top-level window with a
// title, and asking that window to close the way a window manager does (WM_DELETE_WINDOW).
#pragma once

#include <cstdint>
#include <string>

namespace tessivo::testing {

// Windows are matched by title and by the process id the toolkit puts in _NET_WM_PID.
bool hasTopLevelWindow(const std::string& title, std::int64_t pid);
// False when no such window exists.
bool askToClose(const std::string& title, std::int64_t pid);

}  // namespace tessivo::testing
