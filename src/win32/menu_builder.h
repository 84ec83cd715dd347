// Turns the core's menu model into Windows menus.
#pragma once

#include <windows.h>

#include <vector>

#include "app/menu_model.h"

namespace tessivo {

// A menu bar (for SetMenu) holding the given items; null on failure.
HMENU buildMenuBarHandle(const std::vector<MenuItem>& items);
// A popup menu (for TrackPopupMenu or a submenu) holding the given items; null on failure.
HMENU buildPopupMenuHandle(const std::vector<MenuItem>& items);

}  // namespace tessivo
