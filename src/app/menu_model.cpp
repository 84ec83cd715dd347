#include "app/menu_model.h"

#include <utility>

namespace tessivo {

namespace {

MenuItem commandItem(const char16_t* text, std::int32_t id, bool checked = false) {
  MenuItem item;
  item.kind = MenuItemKind::Command;
  item.text = text;
  item.id = id;
  item.checked = checked;
  return item;
}

MenuItem separatorItem() {
  MenuItem item;
  item.kind = MenuItemKind::Separator;
  return item;
}

MenuItem popupItem(const char16_t* text, std::vector<MenuItem> children) {
  MenuItem item;
  item.kind = MenuItemKind::Popup;
  item.text = text;
  item.children = std::move(children);
  return item;
}

}  // namespace

// The check marks show the settings every start begins with.
std::vector<MenuItem> buildMenuBar() {
  std::vector<MenuItem> bar;
  bar.push_back(popupItem(u"程序", {
                                       commandItem(u"全部清除", command::ClearAll),
                                       commandItem(u"按应用分组", command::GroupByApp, true),
                                       separatorItem(),
                                       commandItem(u"计数模式：本次增量", command::CountRunDelta, true),
                                       commandItem(u"计数模式：系统累计", command::CountSystemCumulative),
                                       separatorItem(),
                                       commandItem(u"显示速度图表", command::ShowChart, true),
                                       separatorItem(),
                                       commandItem(u"关于", command::About),
                                   }));
  bar.push_back(popupItem(u"视图", {
                                       commandItem(u"范围：实时（快速）", 40010, true),
                                       commandItem(u"范围：1 小时（60 秒）", 40011),
                                       commandItem(u"范围：24 小时（60 秒）", 40012),
                                       commandItem(u"范围：完整保留（60 秒）", 40013),
                                   }));
  bar.push_back(popupItem(u"设置", {
                                       popupItem(u"采样率", {
                                                               commandItem(u"100 毫秒", 40020),
                                                               commandItem(u"250 毫秒", 40021),
                                                               commandItem(u"333 毫秒（默认）", 40022, true),
                                                               commandItem(u"500 毫秒", 40023),
                                                               commandItem(u"1 秒", 40024),
                                                               commandItem(u"2 秒", 40025),
                                                           }),
                                       popupItem(u"保留时长", {
                                                                 commandItem(u"1 小时", 40030),
                                                                 commandItem(u"6 小时", 40031),
                                                                 commandItem(u"24 小时", 40032),
                                                                 commandItem(u"72 小时（默认）", 40033, true),
                                                                 commandItem(u"7 天（168 小时）", 40034),
                                                             }),
                                   }));
  return bar;
}

std::vector<MenuItem> buildTrayMenu() {
  std::vector<MenuItem> menu;
  menu.push_back(commandItem(u"还原", command::Restore));
  menu.push_back(separatorItem());
  menu.push_back(commandItem(u"退出", command::Exit));
  return menu;
}

}  // namespace tessivo
