// The X server seen from outside a program: asks the top-level window titled `title` of
// process `pid` (as _NET_WM_PID says) to close, as a window manager does (WM_DELETE_WINDOW),
// or with `send` false only looks for it. False when there is no such window.
#pragma once

#include <cstdint>
#include <string>

namespace tessivo::testing {

bool closeTopLevelWindow(const std::string& title, std::int64_t pid, bool send);

}  // namespace tessivo::testing
