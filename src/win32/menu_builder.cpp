#include "win32/menu_builder.h"

namespace tessivo {

namespace {

const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// Appends the items to `menu`; false when any of them could not be added (the caller then
// destroys the whole menu, which also destroys the submenus already attached).
bool appendItems(HMENU menu, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    switch (item.kind) {
      case MenuItemKind::Separator:
        if (!AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)) return false;
        break;
      case MenuItemKind::Command: {
        const UINT flags = MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED);
        if (!AppendMenuW(menu, flags, static_cast<UINT_PTR>(item.id), wide(item.text))) return false;
        break;
      }
      case MenuItemKind::Popup: {
        HMENU sub = buildPopupMenuHandle(item.children);
        if (sub == nullptr) return false;
        if (!AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub), wide(item.text))) {
          DestroyMenu(sub);
          return false;
        }
        break;
      }
    }
  }
  return true;
}

HMENU fill(HMENU menu, const std::vector<MenuItem>& items) {
  if (menu == nullptr) return nullptr;
  if (!appendItems(menu, items)) {
    DestroyMenu(menu);
    return nullptr;
  }
  return menu;
}

}  // namespace

HMENU buildMenuBarHandle(const std::vector<MenuItem>& items) { return fill(CreateMenu(), items); }

HMENU buildPopupMenuHandle(const std::vector<MenuItem>& items) { return fill(CreatePopupMenu(), items); }

}  // namespace tessivo
