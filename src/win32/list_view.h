// The process list: an owner-data report list view that holds only the row count and asks
// its parent for the text of each cell it paints.
#pragma once

#include <windows.h>

#include <cstddef>

#include "list/list_surface.h"

namespace tessivo {

inline constexpr int kListViewId = 1001;

class ListView final : public ListSurface {
 public:
  ListView() = default;
  ListView(const ListView&) = delete;
  ListView& operator=(const ListView&) = delete;

  // Creates the control at 0,0 with size 0,0 (the parent lays it out) with its nine columns.
  bool create(HWND parent, int controlId, HINSTANCE instance);
  // The control was destroyed with its parent.
  void detach() { window_ = nullptr; }
  HWND window() const { return window_; }

  void setRowCount(std::size_t count) override;
  void repaint() override;

 private:
  HWND window_ = nullptr;
};

}  // namespace tessivo
