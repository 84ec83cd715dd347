// Per-frame values of a chart drawing.
#pragma once

#include <cstdint>

namespace tessivo {

struct FrameGeometry {
  float width = 0, height = 0;
};

}  // namespace tessivo
