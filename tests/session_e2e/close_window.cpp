#include "close_window.hpp"

// Xlib's macros (None, Bool, Status...) would clash with GoogleTest's
// names, so it has a file of its own.
#include <X11/Xlib.h>

bool close_window(const std::string& window) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    return false;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = std::stoul(window);
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
  XCloseDisplay(display);
  return true;
}
