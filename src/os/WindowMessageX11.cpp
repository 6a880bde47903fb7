// X11 side of the window messages. Each call opens its own display connection, so it is safe
// from any thread and never touches the toolkit's connection.
#include "os/WindowMessage.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace os {

namespace {

// Xlib reports protocol errors through one process-wide handler. While a call of ours runs, a
// handler that records errors for our connection is installed; errors of other connections are
// passed on to the handler that was there before.
std::mutex gErrorLock;
Display* gTrapDisplay = nullptr;
bool gTrapped = false;
XErrorHandler gPreviousHandler = nullptr;

int TrapHandler(Display* display, XErrorEvent* event) {
  if (display == gTrapDisplay) {
    gTrapped = true;
    return 0;
  }
  return gPreviousHandler ? gPreviousHandler(display, event) : 0;
}

class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : hold_(gErrorLock) {
    gTrapDisplay = display;
    gTrapped = false;
    gPreviousHandler = XSetErrorHandler(TrapHandler);
  }
  ~ErrorTrap() {
    XSetErrorHandler(gPreviousHandler);
    gTrapDisplay = nullptr;
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Waits for the server to process everything sent so far; true when none of it failed.
  bool SyncOk(Display* display) {
    XSync(display, False);
    return !gTrapped;
  }

 private:
  std::lock_guard<std::mutex> hold_;
};

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr OpenDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return nullptr;
  return DisplayPtr(XOpenDisplay(name));
}

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p) XFree(p);
  }
};

// The _NET_WM_PID of a window, or -1.
long WindowPid(Display* d, Window w, Atom pidAtom) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &raw) != Success)
    return -1;
  std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
  if (type != XA_CARDINAL || format != 32 || count < 1) return -1;
  return static_cast<long>(*reinterpret_cast<unsigned long*>(raw));
}

// Top-level windows in stacking order. Window managers that reparent put the client one level
// down, so each frame's children are looked at too.
Window FindWindowOfPid(Display* d, pid_t pid) {
  const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
  Window root = DefaultRootWindow(d), parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, root, &root, &parent, &children, &count)) return 0;
  std::unique_ptr<Window, XFreeDeleter> topLevels(children);
  for (unsigned int i = 0; i < count; ++i) {
    if (WindowPid(d, children[i], pidAtom) == pid) return children[i];
    Window r = 0, p = 0, *inner = nullptr;
    unsigned int innerCount = 0;
    if (!XQueryTree(d, children[i], &r, &p, &inner, &innerCount)) continue;
    std::unique_ptr<Window, XFreeDeleter> innerHold(inner);
    for (unsigned int j = 0; j < innerCount; ++j) {
      if (WindowPid(d, inner[j], pidAtom) == pid) return inner[j];
    }
  }
  return 0;
}

}  // namespace

long SendWindowPayload(unsigned long targetWindow, unsigned long senderWindow, uint32_t dataKind,
                       const std::vector<uint8_t>& data) {
  if (targetWindow == 0) return 0;
  DisplayPtr display = OpenDisplay();
  if (!display) return 0;
  Display* d = display.get();
  const Atom atom = XInternAtom(d, kPayloadAtom, False);

  ErrorTrap trap(d);
  XChangeProperty(d, targetWindow, atom, atom, 8, PropModeReplace, data.data(), static_cast<int>(data.size()));
  if (!trap.SyncOk(d)) return 0;

  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = targetWindow;
  event.xclient.message_type = atom;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(dataKind);
  event.xclient.data.l[1] = static_cast<long>(senderWindow);
  event.xclient.data.l[2] = static_cast<long>(data.size());
  event.xclient.data.l[3] = static_cast<long>(atom);
  const Status sent = XSendEvent(d, targetWindow, False, NoEventMask, &event);
  if (!trap.SyncOk(d) || sent == 0) return 0;
  return 1;
}

bool MaximiseWindowOfProcess(pid_t pid) {
  DisplayPtr display = OpenDisplay();
  if (!display) return false;
  Display* d = display.get();
  ErrorTrap trap(d);
  const Window window = FindWindowOfPid(d, pid);
  if (window == 0) return false;

  const Atom state = XInternAtom(d, "_NET_WM_STATE", False);
  const Atom vert = XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_VERT", False);
  const Atom horz = XInternAtom(d, "_NET_WM_STATE_MAXIMIZED_HORZ", False);
  XWindowAttributes attrs{};
  const bool mapped = XGetWindowAttributes(d, window, &attrs) && attrs.map_state != IsUnmapped;
  if (mapped) {
    // A managed window changes state only through the window manager.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = state;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 1;  // _NET_WM_STATE_ADD
    event.xclient.data.l[1] = static_cast<long>(vert);
    event.xclient.data.l[2] = static_cast<long>(horz);
    event.xclient.data.l[3] = 1;  // a normal application
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  } else {
    // Not mapped yet: the state is preset on the window and takes effect when it is shown.
    const unsigned long atoms[2] = {vert, horz};
    XChangeProperty(d, window, state, XA_ATOM, 32, PropModeAppend, reinterpret_cast<const unsigned char*>(atoms), 2);
    XMapRaised(d, window);
  }
  return trap.SyncOk(d);
}

}  // namespace os
