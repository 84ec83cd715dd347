#include "list/display_text.h"

#include "list/cell_text.h"

namespace tessivo {

const char16_t* displayText(const std::vector<ProcessRow>& rows, std::int32_t item, std::int32_t subItem,
                            std::u16string& cellText) {
  // The control may still hold an older, larger count than the rows on display.
  static constexpr char16_t kEmpty[] = u"";
  if (item < 0 || static_cast<std::size_t>(item) >= rows.size()) return kEmpty;
  cellText = cellTextOf(rows[static_cast<std::size_t>(item)], subItem);
  return cellText.c_str();
}

}  // namespace tessivo
