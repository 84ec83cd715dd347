// The program from start to exit, over any process source: the real one in tessivo.exe,
// a scripted one in test builds.
#pragma once

#include <windows.h>

#include <functional>

#include "sampling/process_system.h"

namespace tessivo {

// Initialises the common controls, registers the main window class, builds the application
// state, creates and shows the main window and runs the message loop. Returns the exit code
// carried by WM_QUIT, or 1 when start-up failed. `prepareSampling` runs inside the main
// window's creation, just before the sampling timer is armed.
int runTessivo(HINSTANCE instance, int showCommand, ProcessSystem& system,
               std::function<void()> prepareSampling = {});

}  // namespace tessivo
