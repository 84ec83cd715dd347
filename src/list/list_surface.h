// The process list as the core sees it: a count of rows and a repaint. The list
// reads cell text back on demand through cellTextOf.
#pragma once

#include <cstddef>

namespace tessivo {

class ListSurface {
 public:
  virtual ~ListSurface() = default;
  // Tells the list how many rows there are, keeping its scroll position.
  virtual void setRowCount(std::size_t count) = 0;
  // Repaints the whole list without erasing.
  virtual void repaint() = 0;
};

}  // namespace tessivo
