// The notification-area icon that stands in for the window while it is minimised.
#pragma once

#include <windows.h>

namespace tessivo {

inline constexpr UINT kTrayIconId = 1;
inline constexpr UINT kTrayCallbackMessage = WM_APP + 1;

class TrayIcon {
 public:
  explicit TrayIcon(bool& shown) : shown_(shown) {}

  // Adds the icon unless it is already there; true when it is there afterwards.
  bool add(HWND owner);
  // Adds it anew when the shell announces a restart, whether or not it really lost the
  // icon (any icon of ours left is removed first, so there is never a second); true on success.
  bool readd(HWND owner);
  // Removes it if it is there; afterwards it counts as gone whatever the shell said.
  void remove(HWND owner);
  bool shown() const { return shown_; }

 private:
  bool& shown_;  // the application state's trayIconShown
};

}  // namespace tessivo
