// The show-window message and the maximising of the game's window against a private Xvfb server.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "XvfbServer.h"
#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "os/WindowMessage.h"
#include "platform/CWindowMessageHandler.h"
#include "support/Sandbox.h"

namespace {

struct X11 : ::testing::Test {
  void SetUp() override {
    if (!xvfb.Available()) GTEST_SKIP() << "Xvfb is not available";
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir());
    LauncherLog::Instance().Open(box.LogPath());
    display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
  }
  void TearDown() override {
    if (display) XCloseDisplay(display);
  }
  Window MakeWindow() {
    Window w = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 50, 50, 0, 0, 0);
    XSync(display, False);
    return w;
  }
  // Waits up to 5 s for the next client message on our connection.
  bool NextClientMessage(XEvent& event) {
    for (int i = 0; i < 50; ++i) {
      while (XPending(display)) {
        XNextEvent(display, &event);
        if (event.type == ClientMessage) return true;
      }
      pollfd p{ConnectionNumber(display), POLLIN, 0};
      poll(&p, 1, 100);
    }
    return false;
  }
  // Closing flushes the file; the next test reopens it.
  std::string Log() const {
    LauncherLog::Instance().Close();
    return Sandbox::ReadFile(box.LogPath());
  }

  XvfbServer xvfb;
  Sandbox box;
  Display* display = nullptr;
};

TEST_F(X11, PlatformWindowReceivesTheShowWindowPayload) {
  const Window platform = MakeWindow();
  // Digits followed by letters address the window the digits name.
  CWindowMessageHandler handler("--winid=" + std::to_string(platform) + "xyz --token=ab --source=FC", "vellmora");
  handler.SendShowWindowMessage(4242);

  XEvent event;
  ASSERT_TRUE(NextClientMessage(event));
  const Atom atom = XInternAtom(display, os::kPayloadAtom, False);
  EXPECT_EQ(event.xclient.window, platform);
  EXPECT_EQ(event.xclient.message_type, atom);
  EXPECT_EQ(event.xclient.data.l[0], 1);
  EXPECT_EQ(event.xclient.data.l[1], 4242);
  EXPECT_EQ(event.xclient.data.l[2], 2056);
  EXPECT_EQ(static_cast<Atom>(event.xclient.data.l[3]), atom);

  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  ASSERT_EQ(XGetWindowProperty(display, platform, atom, 0, 4096, True, AnyPropertyType, &type, &format, &count, &after,
                               &data),
            Success);
  std::vector<uint8_t> received(data, data + count);
  XFree(data);
  EXPECT_EQ(type, atom);
  EXPECT_EQ(format, 8);
  EXPECT_EQ(after, 0u);
  ASSERT_EQ(received.size(), 2056u);
  EXPECT_EQ(received, CWindowMessageHandler::BuildShowWindowPayload(1));
  uint32_t kind;
  std::memcpy(&kind, received.data(), 4);
  EXPECT_EQ(kind, 1u);
  EXPECT_NE(Log().find("SendShowWindowMessage lret:1\n"), std::string::npos) << Log();
}

TEST_F(X11, WindowThatIsGoneGetsNothingAndLogsZero) {
  const Window gone = MakeWindow();
  XDestroyWindow(display, gone);
  XSync(display, False);
  EXPECT_EQ(os::SendWindowPayload(gone, 0, 1, CWindowMessageHandler::BuildShowWindowPayload(1)), 0);
  CWindowMessageHandler handler("--winid=" + std::to_string(gone), "vellmora");
  handler.SendShowWindowMessage(0);
  EXPECT_NE(Log().find("SendShowWindowMessage lret:0\n"), std::string::npos) << Log();
}

TEST_F(X11, GameWindowIsFoundByPidAndMaximised) {
  const Window game = MakeWindow();
  const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
  const unsigned long pid = static_cast<unsigned long>(getpid());
  XChangeProperty(display, game, pidAtom, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  XSync(display, False);

  EXPECT_FALSE(os::MaximiseWindowOfProcess(getpid() + 100000));
  ASSERT_TRUE(os::MaximiseWindowOfProcess(getpid()));

  const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  ASSERT_EQ(XGetWindowProperty(display, game, state, 0, 16, False, XA_ATOM, &type, &format, &count, &after, &data),
            Success);
  std::vector<Atom> atoms(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + count);
  if (data) XFree(data);
  EXPECT_EQ(atoms, (std::vector<Atom>{XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_VERT", False),
                                      XInternAtom(display, "_NET_WM_STATE_MAXIMIZED_HORZ", False)}));
  XWindowAttributes attrs;
  ASSERT_TRUE(XGetWindowAttributes(display, game, &attrs));
  EXPECT_NE(attrs.map_state, IsUnmapped);
}

TEST(WindowMessageNoDisplay, NothingIsSent) {
  const char* saved = getenv("DISPLAY");
  std::string keep = saved ? saved : "";
  unsetenv("DISPLAY");
  EXPECT_EQ(os::SendWindowPayload(12, 0, 1, CWindowMessageHandler::BuildShowWindowPayload(1)), 0);
  EXPECT_FALSE(os::MaximiseWindowOfProcess(getpid()));
  if (saved) setenv("DISPLAY", keep.c_str(), 1);
}

}  // namespace
