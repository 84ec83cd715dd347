// One refresh: snapshot, accounting, history, rows, publishing to the list.
#pragma once

namespace tessivo {

struct AppState;

struct RefreshTick {
  static void run(AppState& state);
};

}  // namespace tessivo
