#include "x11_window.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <memory>

namespace tessivo::testing {

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

std::int64_t pidOf(Display* display, Window window) {
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  std::int64_t pid = -1;
  if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL,
                         &type, &format, &items, &after, &data) == Success && data != nullptr) {
    if (items == 1 && format == 32) pid = static_cast<std::int64_t>(*reinterpret_cast<unsigned long*>(data));
    XFree(data);
  }
  return pid;
}

// Calls `visit` for every child of the root with that title and process; returns how many.
template <typename Visit>
int forEachTitled(const std::string& title, std::int64_t pid, Visit visit) {
  const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
  if (!display) return 0;
  Window root = XDefaultRootWindow(display.get()), parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display.get(), root, &root, &parent, &children, &count) == 0) return 0;
  int found = 0;
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    if (XFetchName(display.get(), children[i], &name) != 0 && name != nullptr) {
      if (title == name && pidOf(display.get(), children[i]) == pid) {
        ++found;
        visit(display.get(), children[i]);
      }
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  XFlush(display.get());
  return found;
}

}  // namespace

bool hasTopLevelWindow(const std::string& title, std::int64_t pid) {
  return forEachTitled(title, pid, [](Display*, Window) {}) > 0;
}

bool askToClose(const std::string& title, std::int64_t pid) {
  return forEachTitled(title, pid, [](Display* display, Window window) {
           XEvent event{};
           event.xclient.type = ClientMessage;
           event.xclient.window = window;
           event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
           event.xclient.format = 32;
           event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
           event.xclient.data.l[1] = CurrentTime;
           XSendEvent(display, window, False, NoEventMask, &event);
         }) > 0;
}

}  // namespace tessivo::testing
