// The program's top-level window: the chart pane above the process list, the menu bar, the
// sampling timer and, while minimised, the notification-area icon.
#pragma once

#include <windows.h>

#include <functional>

#include "app/app_state.h"
#include "win32/chart_window.h"
#include "win32/list_view.h"
#include "win32/tray_icon.h"

namespace tessivo {

inline constexpr wchar_t kMainClassName[] = L"QuarnelWindow";
inline constexpr UINT_PTR kSamplingTimerId = 1;

class MainWindow {
 public:
  // `prepareSampling` runs during creation, after the menu and before the timer starts (the
  // real program enables the debug privilege and resolves the native query there).
  MainWindow(AppState& state, std::function<void()> prepareSampling);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow();

  static ATOM registerClass(HINSTANCE instance);
  // Creates the window (its creation runs the first refresh); null on failure.
  HWND create(HINSTANCE instance);

  HWND window() const { return window_; }
  const ListView& list() const { return list_; }
  const ChartWindow& chart() const { return chart_; }
  // True when a handler failed so badly that the program ends with exit code 1.
  bool failed() const { return failed_; }

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

  void onCreate();
  void layout(LPARAM size);
  void minimise();
  void restore();
  void showTrayMenu();
  bool onCommand(int commandId);
  LRESULT onNotify(NMHDR& header, WPARAM wParam, LPARAM lParam);
  void onDestroy();

  AppState& state_;
  std::function<void()> prepareSampling_;
  HWND window_ = nullptr;
  bool failed_ = false;
  UINT taskbarCreated_ = 0;  // the shell's restart broadcast
  ListView list_;
  ChartWindow chart_;
  TrayIcon tray_;
};

}  // namespace tessivo
