// The menu bar as the running program holds it: every popup, item, id and separator, the
// check marks at start, and each command's check-mark rule after it runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/program.h"

namespace tessivo::e2e {
namespace {

std::string line(const MenuEntry& e) {
  std::ostringstream out;
  out << e.depth << ' ' << static_cast<char>(e.kind) << ' ' << e.id << ' ' << (e.checked ? 'x' : '-') << ' '
      << utf8(e.text);
  return out.str();
}

std::set<int> checkedIds(const std::vector<MenuEntry>& menu) {
  std::set<int> ids;
  for (const MenuEntry& e : menu)
    if (e.checked) ids.insert(e.id);
  return ids;
}

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(program.started()) << utf8(program.failure()); }
  Program program{paths().scripted};
};

TEST_F(MenuTest, BarHoldsEveryItemWithItsIdAndInitialCheckMark) {
  const std::vector<std::string> expected = {
      "0 P 0 - 程序",
      "1 C 40001 - 全部清除",
      "1 C 40003 x 按应用分组",
      "1 S 0 - ",
      "1 C 40004 x 计数模式：本次增量",
      "1 C 40005 - 计数模式：系统累计",
      "1 S 0 - ",
      "1 C 40006 x 显示速度图表",
      "1 S 0 - ",
      "1 C 40002 - 关于",
      "0 P 0 - 视图",
      "1 C 40010 x 范围：实时（快速）",
      "1 C 40011 - 范围：1 小时（60 秒）",
      "1 C 40012 - 范围：24 小时（60 秒）",
      "1 C 40013 - 范围：完整保留（60 秒）",
      "0 P 0 - 设置",
      "1 P 0 - 采样率",
      "2 C 40020 - 100 毫秒",
      "2 C 40021 - 250 毫秒",
      "2 C 40022 x 333 毫秒（默认）",
      "2 C 40023 - 500 毫秒",
      "2 C 40024 - 1 秒",
      "2 C 40025 - 2 秒",
      "1 P 0 - 保留时长",
      "2 C 40030 - 1 小时",
      "2 C 40031 - 6 小时",
      "2 C 40032 - 24 小时",
      "2 C 40033 x 72 小时（默认）",
      "2 C 40034 - 7 天（168 小时）",
  };
  std::vector<std::string> actual;
  for (const MenuEntry& e : program.menu()) actual.push_back(line(e));
  EXPECT_EQ(actual, expected);
}

TEST_F(MenuTest, EachCommandLeavesTheCheckMarksItsRuleGives) {
  std::set<int> expected = {40003, 40004, 40006, 40010, 40022, 40033};
  ASSERT_EQ(checkedIds(program.menu()), expected);
  const auto choose = [&](std::initializer_list<int> group, int chosen) {
    for (int id : group) expected.erase(id);
    expected.insert(chosen);
  };
  const auto toggle = [&](int id) {
    if (!expected.erase(id)) expected.insert(id);
  };
  const std::vector<int> script = {40003, 40003, 40005, 40005, 40004, 40006, 40006, 40011, 40012, 40013, 40013,
                                   40010, 40020, 40021, 40023, 40024, 40025, 40025, 40022, 40030, 40031, 40032,
                                   40034, 40033, 40001};
  for (int id : script) {
    ASSERT_TRUE(program.command(id)) << "command " << id << " got no answer";
    if (id == 40003 || id == 40006) toggle(id);
    if (id == 40004 || id == 40005) choose({40004, 40005}, id);
    if (id >= 40010 && id <= 40013) choose({40010, 40011, 40012, 40013}, id);
    if (id >= 40020 && id <= 40025) choose({40020, 40021, 40022, 40023, 40024, 40025}, id);
    if (id >= 40030 && id <= 40034) choose({40030, 40031, 40032, 40033, 40034}, id);
    EXPECT_EQ(checkedIds(program.menu()), expected) << "after command " << id;
  }
}

}  // namespace
}  // namespace tessivo::e2e
