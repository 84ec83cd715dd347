#include "win32/list_view.h"

#include <commctrl.h>

#include <array>

#include "list/cell_text.h"

namespace tessivo {

namespace {

constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDATA;
static_assert(kListStyle == 0x50001005);
constexpr DWORD kListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
static_assert(kListExtendedStyle == 0x10021);

}  // namespace

bool ListView::create(HWND parent, int controlId, HINSTANCE instance) {
  window_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", kListStyle, 0, 0, 0, 0, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), instance, nullptr);
  if (window_ == nullptr) return false;
  SendMessageW(window_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyle);
  for (std::size_t i = 0; i < kColumnHeadings.size(); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.cx = kColumnHeadings[i].width;
    // wchar_t is UTF-16 here; the control only reads the text.
    column.pszText = const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(kColumnHeadings[i].title));
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
