// The Windows front end's windows against the real window manager of the system: the layered
// main window, the colour-keyed content window over it with its controls at their places, the
// skinned buttons' clicks, and the GDI painter's pixels.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "controls/Picture.h"
#include "controls/win32/GdiPainter.h"
#include "ui/IContentView.h"
#include "ui/Layout.h"
#include "ui/win32/ContentView.h"
#include "ui/win32/MainWindowView.h"

#ifndef VELLMORA_SOURCE_RES
#define VELLMORA_SOURCE_RES "res"
#endif

namespace {

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

RECT ScreenRect(HWND w) {
  RECT r = {};
  GetWindowRect(w, &r);
  return r;
}

class LauncherWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    main = std::make_unique<MainWindowView>(VELLMORA_SOURCE_RES, [this] { ++systemCloses; });
    ASSERT_NE(main->Window(), nullptr);
    ContentView::Actions actions;
    actions.minimise = [this] { ++minimises; };
    actions.close = [this] { ++closes; };
    content = std::make_unique<ContentView>(VELLMORA_SOURCE_RES, main->Window(), actions);
    ASSERT_NE(content->Window(), nullptr);
    main->SetContent(content.get());
    main->Show();
    Pump();
  }
  void TearDown() override {
    if (main) main->SetContent(nullptr);
    content.reset();
    main.reset();
  }

  std::unique_ptr<MainWindowView> main;
  std::unique_ptr<ContentView> content;
  int systemCloses = 0, minimises = 0, closes = 0;
};

TEST_F(LauncherWindows, MainWindowIsTheLayeredPictureAndDragsFromAnywhere) {
  const RECT r = ScreenRect(main->Window());
  EXPECT_EQ(r.right - r.left, layout::kWindowWidth);
  EXPECT_EQ(r.bottom - r.top, layout::kWindowHeight);
  EXPECT_TRUE(GetWindowLongW(main->Window(), GWL_EXSTYLE) & WS_EX_LAYERED);
  EXPECT_TRUE(IsWindowVisible(main->Window()));
  const LPARAM inside = MAKELPARAM(r.left + 500, r.top + 300);
  EXPECT_EQ(SendMessageW(main->Window(), WM_NCHITTEST, 0, inside), HTCAPTION);
  // The sender id of the show-window message names this window.
  EXPECT_EQ(reinterpret_cast<HWND>(static_cast<uintptr_t>(main->NativeId())), main->Window());
  // Closing from outside (Alt+F4, the task bar) asks the logic; the window stays until it is done.
  SendMessageW(main->Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(systemCloses, 1);
  EXPECT_TRUE(IsWindow(main->Window()));
}

TEST_F(LauncherWindows, ContentWindowFollowsTheMainWindowAndKeysOutBlack) {
  EXPECT_TRUE(IsWindowVisible(content->Window()));
  EXPECT_EQ(GetWindow(content->Window(), GW_OWNER), main->Window());
  COLORREF key = 1;
  DWORD flags = 0;
  ASSERT_TRUE(GetLayeredWindowAttributes(content->Window(), &key, nullptr, &flags));
  EXPECT_EQ(key, RGB(0, 0, 0));
  EXPECT_TRUE(flags & LWA_COLORKEY);

  SetWindowPos(main->Window(), nullptr, 37, 41, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Pump();
  const RECT m = ScreenRect(main->Window());
  const RECT c = ScreenRect(content->Window());
  EXPECT_EQ(c.left, m.left);
  EXPECT_EQ(c.top, m.top);
  EXPECT_EQ(c.right - c.left, layout::kWindowWidth);

  main->Hide();
  Pump();
  EXPECT_FALSE(IsWindowVisible(content->Window()));
}

TEST_F(LauncherWindows, ControlsSitAtTheirPlacesAndShowWhenTheLogicSays) {
  struct Case {
    int id;
    layout::Rect rect;
  } cases[] = {
      {kIdProgressBar, layout::kProgressBar},
      {kIdStatusLabel, layout::kStatusLabel},
      {kIdProgressText, layout::kProgressText},
      {kIdMessageText, layout::kMessageText},
      {kIdMinimiseButton, {layout::kMinimiseButton.x, layout::kMinimiseButton.y, 46, 46}},
      {kIdCloseButton, {layout::kCloseButton.x, layout::kCloseButton.y, 46, 46}},
  };
  const RECT c = ScreenRect(content->Window());
  for (const Case& k : cases) {
    SCOPED_TRACE(k.id);
    HWND w = content->ControlWindow(k.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(GetDlgCtrlID(w), k.id);
    const RECT r = ScreenRect(w);
    EXPECT_EQ(r.left - c.left, k.rect.x);
    EXPECT_EQ(r.top - c.top, k.rect.y);
    EXPECT_EQ(r.right - r.left, k.rect.w);
    EXPECT_EQ(r.bottom - r.top, k.rect.h);
  }
  // The progress view's controls start hidden; the buttons show from the start.
  EXPECT_FALSE(IsWindowVisible(content->ControlWindow(kIdProgressBar)));
  EXPECT_TRUE(IsWindowVisible(content->ControlWindow(kIdCloseButton)));
  content->SetControlVisible(kIdProgressBar, true);
  EXPECT_TRUE(IsWindowVisible(content->ControlWindow(kIdProgressBar)));
  content->SetProgressPos(42);
  EXPECT_EQ(content->ProgressBar().GetPos(), 42);

  content->SetControlText(kIdStatusLabel, "正在下载：&A");
  EXPECT_EQ(content->ControlText(kIdStatusLabel), "正在下载：&A");
  wchar_t shown[64] = {};
  GetWindowTextW(content->ControlWindow(kIdStatusLabel), shown, 64);
  EXPECT_STREQ(shown, L"正在下载：A");  // what a screen reader says: the mnemonic mark left out
  // Labels take no clicks: a press there reaches the window below, which drags.
  EXPECT_EQ(SendMessageW(content->ControlWindow(kIdStatusLabel), WM_NCHITTEST, 0, 0), HTTRANSPARENT);
}

TEST_F(LauncherWindows, ButtonsClickOnTheReleaseThatReachesThemAndKeepThePointerWhileHeld) {
  HWND close = content->ControlWindow(kIdCloseButton);
  SendMessageW(close, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  EXPECT_EQ(closes, 0);            // a press alone does nothing
  EXPECT_EQ(GetCapture(), close);  // the release comes here even off the button
  SendMessageW(close, WM_LBUTTONUP, 0, MAKELPARAM(200, 200));
  EXPECT_EQ(closes, 1);
  EXPECT_NE(GetCapture(), close);
  HWND minimise = content->ControlWindow(kIdMinimiseButton);
  SendMessageW(minimise, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(minimise, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(minimises, 1);
  EXPECT_EQ(closes, 1);
}

// A memory DC over a 32-bit DIB whose pixels the test reads back (0xAARRGGBB words).
class Canvas {
 public:
  Canvas(int w, int h) : w_(w) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    previous_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC Dc() const { return dc_; }
  uint32_t At(int x, int y) {
    GdiFlush();
    return bits_[y * w_ + x] & 0xFFFFFF;
  }

 private:
  int w_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  uint32_t* bits_ = nullptr;
};

TEST(GdiPainter, FillsExactRectanglesInsideTheClipAndBlendsPremultipliedPictures) {
  Canvas canvas(20, 20);
  {
    GdiPainter painter(canvas.Dc());
    painter.FillRect(0, 0, 20, 20, MakeColorRef(255, 255, 255));
    painter.PushClip(0, 0, 10, 20);
    painter.FillRect(2, 3, 12, 4, MakeColorRef(255, 0, 0));  // cut at x = 10 by the clip
    painter.PopClip();
    painter.FillRect(5, 10, 0, 5, MakeColorRef(0, 0, 0));  // empty: nothing
    // Half-transparent blue, premultiplied (0x80 alpha, 0x80 blue), over white.
    painter.BeginLayer();
    painter.DrawPicture(Picture(1, 1, {0x80000080u}), 15, 15);
    painter.EndLayer();
  }
  EXPECT_EQ(canvas.At(1, 3), 0xFFFFFFu);
  EXPECT_EQ(canvas.At(2, 3), 0xFF0000u);
  EXPECT_EQ(canvas.At(9, 6), 0xFF0000u);
  EXPECT_EQ(canvas.At(10, 6), 0xFFFFFFu);  // clipped
  EXPECT_EQ(canvas.At(9, 7), 0xFFFFFFu);   // below the rectangle
  EXPECT_EQ(canvas.At(5, 12), 0xFFFFFFu);
  const uint32_t blended = canvas.At(15, 15);
  EXPECT_NEAR(static_cast<int>(blended & 0xFF), 0xFF, 1);          // blue: 0x80 + 0xFF * 0x7F / 0xFF
  EXPECT_NEAR(static_cast<int>((blended >> 16) & 0xFF), 0x7F, 1);  // red: white behind, halved
  EXPECT_EQ(canvas.At(14, 15), 0xFFFFFFu);
}

TEST(GdiPainter, MeasuresAndDrawsTextWithItsUnderline) {
  Canvas canvas(200, 40);
  GdiPainter painter(canvas.Dc());
  const TextExtent one = painter.MeasureText("AB", "Sans 10");
  const TextExtent two = painter.MeasureText("AB\nAB", "Sans 10");
  EXPECT_GT(one.width, 0);
  EXPECT_EQ(two.width, one.width);
  EXPECT_GT(two.height, one.height);
  EXPECT_EQ(painter.MeasureText("", "Sans 10").width, 0);
  painter.FillRect(0, 0, 200, 40, 0);
  painter.DrawText("AB", "Sans 10", MakeColorRef(255, 255, 255), 0, 0, {{0, 1}});
  int lit = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) lit += canvas.At(x, y) == 0xFFFFFFu;
  EXPECT_GT(lit, 0);
}

}  // namespace
