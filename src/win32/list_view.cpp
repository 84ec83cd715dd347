#include "win32/list_view.h"

#include <commctrl.h>

#include <array>

namespace tessivo {

namespace {

constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDATA;
static_assert(kListStyle == 0x50001005);
constexpr DWORD kListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
static_assert(kListExtendedStyle == 0x10021);

struct Column {
  const wchar_t* title;
  int width;
};

constexpr std::array<Column, 9> kColumns{{
    {L"进程", 180},
    {L"PID", 70},
    {L"读取字节", 130},
    {L"写入字节", 130},
    {L"读取次数", 110},
    {L"写入次数", 110},
    {L"读取速度", 120},
    {L"写入速度", 120},
    {L"映像路径", 450},
}};

}  // namespace

bool ListView::create(HWND parent, int controlId, HINSTANCE instance) {
  window_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", kListStyle, 0, 0, 0, 0, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), instance, nullptr);
  if (window_ == nullptr) return false;
  SendMessageW(window_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyle);
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.cx = kColumns[i].width;
    column.pszText = const_cast<wchar_t*>(kColumns[i].title);  // only read by the control
    column.iSubItem = static_cast<int>(i);
    SendMessageW(window_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  return true;
}

void ListView::setRowCount(std::size_t count) {
  if (window_ == nullptr) return;
  SendMessageW(window_, LVM_SETITEMCOUNT, count, LVSICF_NOSCROLL);
}

void ListView::repaint() {
  // A null window would invalidate every window on the desktop.
  if (window_ == nullptr) return;
  InvalidateRect(window_, nullptr, FALSE);
}

}  // namespace tessivo
