// tessivo.exe: the program over the system's own process information.
#include <windows.h>

#include "win32/run_tessivo.h"
#include "win32/snapshot_source.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  tessivo::SnapshotSource source;
  return tessivo::runTessivo(instance, showCommand, source, [&source] {
    // Opening other processes for their image path needs the debug privilege; without it,
    // or without the native query, the program runs on with what it can read.
    tessivo::enableDebugPrivilege();
    source.resolve();
  });
}
