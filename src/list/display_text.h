// The list's request for the text of one cell, without the platform's record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"

namespace tessivo {

// Text of cell (item, subItem) for the list control. Rows outside the list give
// a static empty string; otherwise the text is moved into cellText, which owns it
// until the next request, and its characters are returned (null-terminated).
const char16_t* displayText(const std::vector<ProcessRow>& rows, std::int32_t item,
                            std::int32_t subItem, std::u16string& cellText);

}  // namespace tessivo
