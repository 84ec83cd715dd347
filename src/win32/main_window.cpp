#include "win32/main_window.h"

#include <commctrl.h>

#include <utility>

#include "app/commands.h"
#include "app/menu_model.h"
#include "app/shell_layout.h"
#include "list/display_text.h"
#include "app/refresh_tick.h"
#include "win32/menu_builder.h"

namespace tessivo {

namespace {

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

MainWindow::MainWindow(AppState& state, std::function<void()> prepareSampling)
    : state_(state), prepareSampling_(std::move(prepareSampling)), chart_(state.chart), tray_(state.trayIconShown) {}

MainWindow::~MainWindow() {
  if (state_.listView == &list_) state_.listView = nullptr;
  if (window_ != nullptr) {
    // Only when the message loop ended without destroying the window: take it down
    // without this object, which is going away.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    tray_.remove(window_);
    DestroyWindow(window_);
  }
}

ATOM MainWindow::registerClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = 0;
  wc.lpfnWndProc = &MainWindow::windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = kMainClassName;
  return RegisterClassExW(&wc);
}

HWND MainWindow::create(HINSTANCE instance) {
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  return CreateWindowExW(0, kMainClassName, L"Tessivo", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                         CW_USEDEFAULT, 1280, 720, nullptr, nullptr, instance, this);
}

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_CREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    try {
      self->onCreate();
      return 0;
    } catch (...) {
      // Creation fails as a whole; the entry point then ends with exit code 1.
      self->failed_ = true;
      return -1;
    }
  }
  if (self == nullptr) {
    switch (message) {
      case WM_DESTROY:
        KillTimer(window, kSamplingTimerId);
        PostQuitMessage(0);
        return 0;
      case WM_SIZE: case WM_TIMER: case kTrayCallbackMessage:
        return 0;
      default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
  }
  try {
    return self->handle(message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind into the system's dispatcher. A handler that could not finish
    // (out of memory) leaves the state unreliable: end the program, reporting failure.
    self->failed_ = true;
    DestroyWindow(window);
    return 0;
  }
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) {
        minimise();
      } else if (list_.window() != nullptr) {
        layout(lParam);
      }
      return 0;
    case WM_DESTROY:
      onDestroy();
      return 0;
    case WM_NCDESTROY: {
      HWND gone = window_;
      SetWindowLongPtrW(gone, GWLP_USERDATA, 0);
      if (state_.listView == &list_) state_.listView = nullptr;
      list_.detach();
      window_ = nullptr;
      return DefWindowProcW(gone, message, wParam, lParam);
    }
    case WM_TIMER:
      if (wParam == kSamplingTimerId) RefreshTick::run(state_);
      return 0;
    case kChartFailedMessage:
      failed_ = true;
      DestroyWindow(window_);
      return 0;
    case WM_NOTIFY:
      if (lParam == 0) return 0;
      return onNotify(*reinterpret_cast<NMHDR*>(lParam), wParam, lParam);
    case WM_COMMAND:
      if (onCommand(LOWORD(wParam))) return 0;
      return DefWindowProcW(window_, message, wParam, lParam);
    case kTrayCallbackMessage:
      if (wParam == kTrayIconId) {
        switch (trayAction(LOWORD(lParam))) {
          case TrayAction::Restore: restore(); break;
          case TrayAction::PopupMenu: showTrayMenu(); break;
          case TrayAction::None: break;
        }
      }
      return 0;
    default:
      if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        // The shell restarted and forgot the icon: while the window hides behind it, add it
        // again; if that fails, bring the window back to the taskbar so it stays reachable.
        if (tray_.shown() && !tray_.readd(window_)) ShowWindow(window_, SW_SHOWMINNOACTIVE);
        return 0;
      }
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

void MainWindow::onCreate() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  // Without a chart window the program runs on with the list alone.
  ChartWindow::registerClass(instance);
  chart_.create(window_, kChartWindowId, instance);
  if (list_.create(window_, kListViewId, instance)) state_.listView = &list_;
  if (HMENU bar = buildMenuBarHandle(buildMenuBar())) SetMenu(window_, bar);
  // Elevated, the window would not hear the non-elevated shell's restart broadcast.
  if (taskbarCreated_ != 0) ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
  if (prepareSampling_) prepareSampling_();
  SetTimer(window_, kSamplingTimerId, static_cast<UINT>(state_.chart.sampleIntervalMs), nullptr);
  // The list is filled before the window first shows.
  RefreshTick::run(state_);
}

void MainWindow::layout(LPARAM size) {
  const PaneLayout panes = layoutPanes(state_.chartVisible, LOWORD(size), HIWORD(size));
  if (HWND chart = chart_.window()) {
    if (panes.chartShown) {
      SetWindowPos(chart, nullptr, 0, 0, panes.chartWidth, panes.chartHeight, SWP_SHOWWINDOW | SWP_NOZORDER);
    } else {
      ShowWindow(chart, SW_HIDE);
    }
  }
  MoveWindow(list_.window(), 0, panes.listTop, panes.listWidth, panes.listHeight, TRUE);
}

void MainWindow::minimise() {
  // Hide only behind an icon that really is there: a window hidden without one could never
  // be brought back. Without the icon it stays minimised on the taskbar.
  if (tray_.add(window_)) ShowWindow(window_, SW_HIDE);
}

void MainWindow::restore() {
  ShowWindow(window_, SW_RESTORE);
  SetForegroundWindow(window_);
  tray_.remove(window_);
}

void MainWindow::showTrayMenu() {
  POINT cursor{};
  GetCursorPos(&cursor);
  HMENU menu = buildPopupMenuHandle(buildTrayMenu());
  if (menu == nullptr) return;
  SetForegroundWindow(window_);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window_, nullptr);
  // Lets the menu close when the user clicks elsewhere next time.
  PostMessageW(window_, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

bool MainWindow::onCommand(int commandId) {
  const CommandEffect effect = runCommand(state_, commandId);
  if (!effect.handled) return false;
  HMENU bar = GetMenu(window_);
  for (const auto& [id, checked] : effect.checks)
    CheckMenuItem(bar, static_cast<UINT>(id), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
  if (effect.timerIntervalMs) {
    KillTimer(window_, kSamplingTimerId);
    SetTimer(window_, kSamplingTimerId, static_cast<UINT>(*effect.timerIntervalMs), nullptr);
  }
  if (effect.relayout) {
    RECT client{};
    GetClientRect(window_, &client);
    SendMessageW(window_, WM_SIZE, 0, MAKELPARAM(client.right - client.left, client.bottom - client.top));
  }
  if (effect.showAbout) MessageBoxW(window_, wide(kAboutText), wide(kAboutCaption), MB_OK | MB_ICONINFORMATION);
  if (effect.restore) restore();
  if (effect.destroy) DestroyWindow(window_);
  return true;
}

LRESULT MainWindow::onNotify(NMHDR& header, WPARAM wParam, LPARAM lParam) {
  if (header.idFrom == static_cast<UINT_PTR>(kListViewId)) {
    if (header.code == static_cast<UINT>(LVN_GETDISPINFOW)) {
      LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(header).item;
      if (item.mask & LVIF_TEXT) {
        // The control only reads the text; cellText owns it until the next request.
        item.pszText = const_cast<wchar_t*>(
            wide(displayText(state_.rows, item.iItem, item.iSubItem, state_.cellText)));
      }
      return 0;
    }
    if (header.code == static_cast<UINT>(LVN_COLUMNCLICK)) {
      onColumnClick(state_, reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
      return 0;
    }
  }
  return DefWindowProcW(window_, WM_NOTIFY, wParam, lParam);
}

void MainWindow::onDestroy() {
  tray_.remove(window_);
  KillTimer(window_, kSamplingTimerId);
  PostQuitMessage(failed_ ? 1 : 0);
}

}  // namespace tessivo
