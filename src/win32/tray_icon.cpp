#include "win32/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace tessivo {

namespace {

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full structure of current shells");

NOTIFYICONDATAW iconData(HWND owner) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = kTrayIconId;
  return data;
}

bool addIcon(HWND owner) {
  NOTIFYICONDATAW data = iconData(owner);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayCallbackMessage;
  data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  std::wcsncpy(data.szTip, L"Tessivo", sizeof data.szTip / sizeof data.szTip[0] - 1);
  return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

}  // namespace

bool TrayIcon::add(HWND owner) {
  if (!shown_) shown_ = addIcon(owner);
  return shown_;
}

bool TrayIcon::readd(HWND owner) {
  // The announcement does not prove the icon is gone (a shell may send it without having
  // lost anything, and a duplicate add fails): drop whatever is left of ours, then add.
  NOTIFYICONDATAW data = iconData(owner);
  Shell_NotifyIconW(NIM_DELETE, &data);
  shown_ = addIcon(owner);
  return shown_;
}

void TrayIcon::remove(HWND owner) {
  if (!shown_) return;
  NOTIFYICONDATAW data = iconData(owner);
  Shell_NotifyIconW(NIM_DELETE, &data);
  shown_ = false;
}

}  // namespace tessivo
