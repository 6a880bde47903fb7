// The demo game, built under the compiled-in game short name. Records how it was started (argv,
// working directory, environment) to a file, then shows a small window until it is closed.
// Single-threaded.
//
// VELLMORA_DEMO_GAME_RECORD      where the record goes (default: <cwd>/game-record.txt)
// VELLMORA_DEMO_GAME_EXIT_AFTER  seconds until the game closes by itself; 0 = exit right after
//                                recording. Without an X display the game also exits at once.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Identity.h"

extern char** environ;

namespace {

// One record value per line: backslash, CR and LF are escaped so every value stays on its line.
std::string Escape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += *p;
    }
  }
  return out;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (buffer.size() > (1u << 20)) return "";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// Written to a temporary file and renamed, so a reader never sees half a record.
bool WriteRecord(int argc, char** argv, const std::string& cwd) {
  const char* configured = std::getenv("VELLMORA_DEMO_GAME_RECORD");
  std::string path = configured && *configured ? configured : cwd + "/game-record.txt";
  std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "argc=%d\n", argc);
  for (int i = 0; i < argc; ++i) std::fprintf(f, "argv[%d]=%s\n", i, Escape(argv[i]).c_str());
  std::fprintf(f, "cwd=%s\n", Escape(cwd.c_str()).c_str());
  std::fprintf(f, "pid=%d\n", static_cast<int>(getpid()));
  for (char** e = environ; *e; ++e) std::fprintf(f, "env=%s\n", Escape(*e).c_str());
  bool ok = std::fflush(f) == 0 && fsync(fileno(f)) == 0;
  ok = std::fclose(f) == 0 && ok;
  return ok && std::rename(temp.c_str(), path.c_str()) == 0;
}

// The login parameters the launcher passed, for the window's text.
std::string LoginParameters(int argc, char** argv) {
  const char prefix[] = "--parameters=";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix, sizeof prefix - 1) == 0) return argv[i] + sizeof prefix - 1;
  return "";
}

unsigned long Colour(Display* display, const char* name, unsigned long fallback) {
  XColor exact{}, screen{};
  Colormap map = DefaultColormap(display, DefaultScreen(display));
  return XAllocNamedColor(display, map, name, &screen, &exact) ? screen.pixel : fallback;
}

int ShowWindow(Display* display, const std::string& parameters, double exitAfter) {
  const int screen = DefaultScreen(display);
  const unsigned width = 480, height = 270;
  unsigned long night = Colour(display, "#0b1233", BlackPixel(display, screen));
  unsigned long gold = Colour(display, "#e0b552", WhitePixel(display, screen));
  unsigned long pale = Colour(display, "#c9d2f0", WhitePixel(display, screen));

  Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width, height, 0, gold, night);
  XStoreName(display, window, identity::ProductName);
  XClassHint classHint{const_cast<char*>(identity::GameShortName), const_cast<char*>(identity::ProductName)};
  XSetClassHint(display, window, &classHint);
  // The launcher finds the game's window by its process id to maximise it after a first install.
  Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
  long pid = getpid();
  XChangeProperty(display, window, pidAtom, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&pid),
                  1);
  Atom deleteAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteAtom, 1);
  XSelectInput(display, window, ExposureMask | KeyPressMask | StructureNotifyMask);
  XMapWindow(display, window);

  GC gc = XCreateGC(display, window, 0, nullptr);
  XFontStruct* font = XLoadQueryFont(display, "-*-helvetica-bold-r-*-*-24-*-*-*-*-*-*-*");
  if (!font) font = XLoadQueryFont(display, "fixed");
  XFontStruct* small = XLoadQueryFont(display, "fixed");

  auto draw = [&] {
    XClearWindow(display, window);
    XSetForeground(display, gc, gold);
    XDrawRectangle(display, window, gc, 8, 8, width - 17, height - 17);
    if (font) XSetFont(display, gc, font->fid);
    std::string title = identity::ProductName;
    for (char& c : title) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    XDrawString(display, window, gc, 32, 70, title.c_str(), static_cast<int>(title.size()));
    if (small) XSetFont(display, gc, small->fid);
    XSetForeground(display, gc, pale);
    const std::string lines[] = {"The demo game is running.", "Logged in with: " + parameters,
                                 "Close this window to return to the launcher."};
    int y = 120;
    for (const auto& line : lines) {
      XDrawString(display, window, gc, 32, y, line.c_str(), static_cast<int>(line.size()));
      y += 24;
    }
  };

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(exitAfter);
  bool running = true;
  while (running) {
    while (running && XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == Expose && event.xexpose.count == 0) draw();
      if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteAtom) running = false;
      if (event.type == DestroyNotify) running = false;
    }
    if (!running) break;
    timeval timeout{0, 200000};
    if (exitAfter >= 0 && std::chrono::steady_clock::now() >= deadline) break;
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(ConnectionNumber(display), &fds);
    if (select(ConnectionNumber(display) + 1, &fds, nullptr, nullptr, &timeout) < 0) break;
  }
  if (font) XFreeFont(display, font);
  if (small && small != font) XFreeFont(display, small);
  XFreeGC(display, gc);
  XDestroyWindow(display, window);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cwd = CurrentDirectory();
  if (!WriteRecord(argc, argv, cwd))
    std::fprintf(stderr, "%s: cannot write the start record\n", identity::GameShortName);

  const char* exitAfterText = std::getenv("VELLMORA_DEMO_GAME_EXIT_AFTER");
  double exitAfter = exitAfterText && *exitAfterText ? std::atof(exitAfterText) : -1;  // -1: until closed
  if (exitAfter == 0) return 0;

  Display* display = XOpenDisplay(nullptr);
  if (!display) return 0;
  int rc = ShowWindow(display, LoginParameters(argc, argv), exitAfter);
  XCloseDisplay(display);
  return rc;
}
