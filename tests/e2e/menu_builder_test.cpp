#include "win32/menu_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace tessivo {
namespace {

MenuItem command(const char* text, std::int32_t id, bool checked = false) {
  MenuItem item;
  item.text = fromUtf8(text);
  item.id = id;
  item.checked = checked;
  return item;
}

MenuItem separator() {
  MenuItem item;
  item.kind = MenuItemKind::Separator;
  return item;
}

MenuItem popup(const char* text, std::vector<MenuItem> children) {
  MenuItem item;
  item.kind = MenuItemKind::Popup;
  item.text = fromUtf8(text);
  item.children = std::move(children);
  return item;
}

// Compares a Windows menu with the model it was built from, item by item and level by level.
void expectMenuMatches(HMENU menu, const std::vector<MenuItem>& model, const std::string& where) {
  ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(model.size())) << where;
  for (std::size_t i = 0; i < model.size(); ++i) {
    const MenuItem& want = model[i];
    const std::string at = where + "/" + std::to_string(i);
    wchar_t text[128] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 127;
    ASSERT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) << at;
    switch (want.kind) {
      case MenuItemKind::Separator:
        EXPECT_TRUE(info.fType & MFT_SEPARATOR) << at;
        break;
      case MenuItemKind::Command:
        EXPECT_FALSE(info.fType & MFT_SEPARATOR) << at;
        EXPECT_EQ(info.hSubMenu, nullptr) << at;
        EXPECT_EQ(info.wID, static_cast<UINT>(want.id)) << at;
        EXPECT_EQ((info.fState & MFS_CHECKED) != 0, want.checked) << at;
        EXPECT_EQ(toUtf8(reinterpret_cast<const char16_t*>(text)), toUtf8(want.text)) << at;
        break;
      case MenuItemKind::Popup:
        ASSERT_NE(info.hSubMenu, nullptr) << at;
        EXPECT_EQ(toUtf8(reinterpret_cast<const char16_t*>(text)), toUtf8(want.text)) << at;
        expectMenuMatches(info.hSubMenu, want.children, at);
        break;
    }
  }
}

TEST(MenuBuilder, NestedModelWithChecksAndSeparators) {
  const std::vector<MenuItem> model{
      popup("程序", {command("全部清除", 40001), command("按应用分组", 40003, true), separator(),
                    command("关于", 40002)}),
      popup("设置", {popup("采样率", {command("100 毫秒", 40020), command("333 毫秒（默认）", 40022, true)}),
                    popup("保留时长", {command("1 小时", 40030, true)})}),
  };
  HMENU bar = buildMenuBarHandle(model);
  ASSERT_NE(bar, nullptr);
  expectMenuMatches(bar, model, "bar");
  // By command id, as the main window sets check marks.
  EXPECT_EQ(GetMenuState(bar, 40003, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
  EXPECT_EQ(GetMenuState(bar, 40020, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_TRUE(DestroyMenu(bar));
}

// The menu bar is checked in the running program by the end-to-end suite; the icon's popup
// lives only while it is open, so it is checked here.
TEST(MenuBuilder, TheIconsPopupMenu) {
  const std::vector<MenuItem> trayModel = buildTrayMenu();
  HMENU tray = buildPopupMenuHandle(trayModel);
  ASSERT_NE(tray, nullptr);
  expectMenuMatches(tray, trayModel, "tray");
  DestroyMenu(tray);
}

}  // namespace
}  // namespace tessivo
