// vellmora-bench-watch: times one launcher run from outside, without costing it CPU (system calls
// every 2 ms, no processes started). Prints "ready" once watching, then one line per event as it
// happens: "<event> <seconds since the epoch>" (the clock of `date +%s.%N`), and exits after
// "installed" or when killed.
//
//   vellmora-bench-watch <window title> <access log> <package> <package bytes> <version record>
//
//   mapped     a top-level window with the title is mapped on $DISPLAY
//   requested  the access log shows the login page's request
//   shown      the access log shows the page's "on screen" report (demo/page/index.html)
//   first      the package file holds its first byte
//   complete   the package file holds every byte
//   installed  the version record exists
#include <X11/Xlib.h>
#include <poll.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

namespace {

void Report(const char* event) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  std::printf("%s %ld.%09ld\n", event, static_cast<long>(now.tv_sec), now.tv_nsec);
  std::fflush(stdout);
}

long long FileSize(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

bool LogHas(const char* path, const char* text) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str().find(text) != std::string::npos;
}

bool IsMappedWithTitle(Display* display, const XEvent& event, const char* title) {
  if (event.type != MapNotify) return false;
  char* name = nullptr;
  const bool match = XFetchName(display, event.xmap.window, &name) && name && std::strcmp(name, title) == 0;
  if (name) XFree(name);
  return match;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s <window title> <access log> <package> <package bytes> <version record>\n", argv[0]);
    return 2;
  }
  const char* title = argv[1];
  const char* accessLog = argv[2];
  const char* package = argv[3];
  const long long packageBytes = std::atoll(argv[4]);
  const char* version = argv[5];

  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "%s: no display\n", argv[0]);
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  std::printf("ready\n");
  std::fflush(stdout);

  bool mapped = false, requested = false, shown = false, first = false, complete = false;
  pollfd x = {ConnectionNumber(display), POLLIN, 0};
  while (true) {
    // Once the window is mapped the display is no longer read: waiting on it would then return at
    // once for every other window's events and spin.
    poll(&x, mapped ? 0 : 1, 2);
    while (!mapped && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (IsMappedWithTitle(display, event, title)) {
        mapped = true;
        Report("mapped");
      }
    }
    if (!requested && LogHas(accessLog, "GET /login/index.html")) {
      requested = true;
      Report("requested");
    }
    if (requested && !shown && LogHas(accessLog, "GET /login/shown")) {
      shown = true;
      Report("shown");
    }
    const bool done = FileSize(version) >= 0;
    const long long size = FileSize(package);
    if (!first && (size > 0 || done)) {
      first = true;
      Report("first");
    }
    if (!complete && (size == packageBytes || done)) {
      complete = true;
      Report("complete");
    }
    if (done) {
      Report("installed");
      break;
    }
  }
  XCloseDisplay(display);
  return 0;
}
