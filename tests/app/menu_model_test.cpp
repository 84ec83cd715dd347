#include "app/menu_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace tessivo {
namespace {

// One line per item: depth, kind, text, id and check, so a whole menu compares as text.
void flatten(const std::vector<MenuItem>& items, int depth, std::vector<std::string>& out) {
  for (const MenuItem& item : items) {
    std::string line(static_cast<std::size_t>(depth) * 2, ' ');
    switch (item.kind) {
      case MenuItemKind::Separator:
        line += "----";
        EXPECT_TRUE(item.text.empty());
        EXPECT_EQ(item.id, 0);
        break;
      case MenuItemKind::Popup:
        line += toUtf8(item.text) + " >";
        EXPECT_EQ(item.id, 0) << toUtf8(item.text);
        EXPECT_FALSE(item.checked);
        break;
      case MenuItemKind::Command:
        line += toUtf8(item.text) + " " + std::to_string(item.id) + (item.checked ? " [x]" : "");
        EXPECT_TRUE(item.children.empty());
        break;
    }
    out.push_back(line);
    flatten(item.children, depth + 1, out);
  }
}

std::vector<std::string> flat(const std::vector<MenuItem>& items) {
  std::vector<std::string> out;
  flatten(items, 0, out);
  return out;
}

TEST(MenuModel, MenuBarTextsIdsNestingAndInitialChecks) {
  const std::vector<std::string> expected{
      "程序 >",
      "  全部清除 40001",
      "  按应用分组 40003 [x]",
      "  ----",
      "  计数模式：本次增量 40004 [x]",
      "  计数模式：系统累计 40005",
      "  ----",
      "  显示速度图表 40006 [x]",
      "  ----",
      "  关于 40002",
      "视图 >",
      "  范围：实时（快速） 40010 [x]",
      "  范围：1 小时（60 秒） 40011",
      "  范围：24 小时（60 秒） 40012",
      "  范围：完整保留（60 秒） 40013",
      "设置 >",
      "  采样率 >",
      "    100 毫秒 40020",
      "    250 毫秒 40021",
      "    333 毫秒（默认） 40022 [x]",
      "    500 毫秒 40023",
      "    1 秒 40024",
      "    2 秒 40025",
      "  保留时长 >",
      "    1 小时 40030",
      "    6 小时 40031",
      "    24 小时 40032",
      "    72 小时（默认） 40033 [x]",
      "    7 天（168 小时） 40034",
  };
  EXPECT_EQ(flat(buildMenuBar()), expected);
}

TEST(MenuModel, TrayMenuHasRestoreSeparatorExit) {
  EXPECT_EQ(flat(buildTrayMenu()), (std::vector<std::string>{"还原 40040", "----", "退出 40041"}));
}

}  // namespace
}  // namespace tessivo
