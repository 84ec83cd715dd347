#include "win32/run_tessivo.h"

#include <commctrl.h>

#include <utility>

#include "app/app_state.h"
#include "win32/main_window.h"

namespace tessivo {

int runTessivo(HINSTANCE instance, int showCommand, ProcessSystem& system,
               std::function<void()> prepareSampling) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_LISTVIEW_CLASSES;
  if (!InitCommonControlsEx(&controls)) return 1;
  if (MainWindow::registerClass(instance) == 0) return 1;

  AppState state(system);
  MainWindow mainWindow(state, std::move(prepareSampling));
  HWND window = mainWindow.create(instance);
  if (window == nullptr) return 1;
  ShowWindow(window, showCommand);
  UpdateWindow(window);

  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) break;
    // -1 is an error of the call itself; looping on would spin for ever.
    if (got == -1) return 1;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace tessivo
