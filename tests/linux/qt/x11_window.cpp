#include "x11_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>

namespace tessivo::testing {

bool closeTopLevelWindow(const std::string& title, std::int64_t pid, bool send) {
  const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
  if (!display) return false;
  Display* d = display.get();
  Window root = XDefaultRootWindow(d), parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(d, root, &root, &parent, &children, &count) == 0) return false;
  bool found = false;
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    unsigned char* data = nullptr;
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    XFetchName(d, children[i], &name);
    XGetWindowProperty(d, children[i], XInternAtom(d, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type,
                       &format, &items, &after, &data);
    const bool match = name != nullptr && title == name && data != nullptr && items == 1 &&
                       static_cast<std::int64_t>(*reinterpret_cast<unsigned long*>(data)) == pid;
    if (name != nullptr) XFree(name);
    if (data != nullptr) XFree(data);
    if (!match) continue;
    found = true;
    if (!send) continue;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = children[i];
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, children[i], False, NoEventMask, &event);
  }
  if (children != nullptr) XFree(children);
  XFlush(d);
  return found;
}

}  // namespace tessivo::testing
