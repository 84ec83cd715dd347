// Turns the core's menu data into Qt menus whose commands all go to one handler.
#pragma once

#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "app/menu_model.h"

namespace tessivo {

using CommandHandler = std::function<void(std::int32_t)>;
using CommandActions = std::unordered_map<std::int32_t, QAction*>;

// Items that can carry a check mark: those checked at start and the members of the radio
// groups, whose marks the commands move.
bool isCheckableCommand(const MenuItem& item);

// Appends the items; each command's action is recorded in `actions` by id (may be null).
void appendMenuItems(QMenuBar& bar, const std::vector<MenuItem>& items, const CommandHandler& run,
                     CommandActions* actions);
void appendMenuItems(QMenu& menu, const std::vector<MenuItem>& items, const CommandHandler& run,
                     CommandActions* actions);

}  // namespace tessivo
