// The skinned controls drawn through the Cairo painter into image surfaces and read back pixel by
// pixel.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controls/CGradientProgressCtrl.h"
#include "controls/CPngButton.h"
#include "controls/CStaticEx.h"
#include "controls/Picture.h"
#include "controls/gtk/CairoPainter.h"

namespace {

// An ARGB32 surface that frees itself; Pixel() returns 0xAARRGGBB (premultiplied).
struct Canvas {
  Canvas(int w, int h)
      : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)), cr(cairo_create(surface)), painter(cr) {}
  ~Canvas() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  uint32_t Pixel(int x, int y) {
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    return *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
  }
  cairo_surface_t* surface;
  cairo_t* cr;
  CairoPainter painter;
};

constexpr uint32_t Opaque(int r, int g, int b) {
  return 0xFF000000u | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

// The launcher's bar: 752 x 14 pixels, start = end = RGB(0, 132, 255), background RGB(42, 56, 119).
constexpr int kBarW = 752, kBarH = 14;
constexpr uint32_t kBlue = Opaque(0, 132, 255);
constexpr uint32_t kBack = Opaque(42, 56, 119);
constexpr uint32_t kGrey = Opaque(105, 105, 105);

void SetUpLauncherBar(CGradientProgressCtrl& bar) {
  bar.SetRange(0, 100);
  bar.SetStartColor(MakeColorRef(0, 132, 255));
  bar.SetEndColor(MakeColorRef(0, 132, 255));
  bar.SetBkColor(MakeColorRef(42, 56, 119));
}

// The first column that is not the start colour (kBarW when the whole bar is filled).
int FilledColumns(Canvas& c) {
  for (int x = 0; x < kBarW; ++x) {
    for (int y = 0; y < kBarH; ++y) {
      if (c.Pixel(x, y) != kBlue) return x;
    }
  }
  return kBarW;
}

TEST(GradientProgress, LauncherBarAtZeroOneAndHundred) {
  struct Case {
    int pos;
    int filledColumns;  // band edges: 255 bands of 752/255 px; 1 % is 7 px, rounded up to 8
  };
  for (const Case& c : {Case{0, 0}, Case{1, 8}, Case{50, 377}, Case{100, kBarW}}) {
    SCOPED_TRACE(c.pos);
    CGradientProgressCtrl bar;
    SetUpLauncherBar(bar);
    bar.SetPos(c.pos);
    Canvas canvas(kBarW, kBarH);
    bar.Paint(canvas.painter, kBarW, kBarH);
    if (c.pos == 0) {
      // Outside the range: all grey, not the background colour.
      for (int x = 0; x < kBarW; x += 7) EXPECT_EQ(canvas.Pixel(x, kBarH / 2), kGrey);
      EXPECT_EQ(canvas.Pixel(kBarW - 1, kBarH - 1), kGrey);
      continue;
    }
    EXPECT_EQ(FilledColumns(canvas), c.filledColumns);
    for (int x = c.filledColumns; x < kBarW; ++x) {
      ASSERT_EQ(canvas.Pixel(x, 0), kBack) << x;
      ASSERT_EQ(canvas.Pixel(x, kBarH - 1), kBack) << x;
    }
  }
}

TEST(GradientProgress, OutOfRangeIsGreyAndBandCountFollowsColours) {
  CGradientProgressCtrl bar;
  SetUpLauncherBar(bar);
  for (int pos : {-5, 101}) {
    bar.SetPos(pos);
    Canvas canvas(100, 6);
    bar.Paint(canvas.painter, 100, 6);
    EXPECT_EQ(canvas.Pixel(0, 0), kGrey);
    EXPECT_EQ(canvas.Pixel(99, 5), kGrey);
  }

  // Black to black: 255 bands; red to blue (255 apart): 255 bands (0.39 px each, so 1 % of 100 px
  // reaches the band edge at 2); red to RGB(245,0,0): 10 bands of 10 px, so 1 % fills one whole band.
  struct Case {
    ColorRef start, end;
    int expectedFilledAt1;
  };
  for (const Case& c : {Case{0, 0, 2}, Case{MakeColorRef(255, 0, 0), MakeColorRef(245, 0, 0), 10},
                        Case{MakeColorRef(255, 0, 0), MakeColorRef(0, 0, 255), 2}}) {
    CGradientProgressCtrl b;
    b.SetStartColor(c.start);
    b.SetEndColor(c.end);
    b.SetBkColor(MakeColorRef(1, 2, 3));
    b.SetPos(1);
    Canvas canvas(100, 4);
    b.Paint(canvas.painter, 100, 4);
    int first = 0;
    while (first < 100 && canvas.Pixel(first, 1) != Opaque(1, 2, 3)) ++first;
    EXPECT_EQ(first, c.expectedFilledAt1) << std::hex << c.start << " -> " << c.end;
  }
}

TEST(GradientProgress, VerticalBarFillsFromTheTop) {
  CGradientProgressCtrl bar;
  SetUpLauncherBar(bar);
  bar.SetVertical(true);
  bar.SetPos(50);
  Canvas canvas(10, 255);
  bar.Paint(canvas.painter, 10, 255);
  EXPECT_EQ(canvas.Pixel(5, 0), kBlue);
  EXPECT_EQ(canvas.Pixel(5, 127), kBlue);
  EXPECT_EQ(canvas.Pixel(5, 200), kBack);
}

TEST(GradientProgress, PercentText) {
  EXPECT_EQ(CGradientProgressCtrl::PercentText(50, 0, 100), " 50 %");
  EXPECT_EQ(CGradientProgressCtrl::PercentText(100, 0, 100), "100 %");
  EXPECT_EQ(CGradientProgressCtrl::PercentText(3, 2, 6), " 25 %");

  // Drawn centred in the text colour over the bar.
  CGradientProgressCtrl bar;
  SetUpLauncherBar(bar);
  bar.SetPos(50);
  bar.ShowPercent(true);
  bar.SetTextColor(MakeColorRef(255, 255, 255));
  Canvas canvas(200, 30);
  bar.Paint(canvas.painter, 200, 30);
  int whiteish = 0;
  for (int x = 0; x < 200; ++x)
    for (int y = 0; y < 30; ++y)
      if ((canvas.Pixel(x, y) & 0xFF) > 0xF0 && ((canvas.Pixel(x, y) >> 16) & 0xFF) > 0xC0) ++whiteish;
  EXPECT_GT(whiteish, 10);
  EXPECT_EQ(canvas.Pixel(2, 15), kBlue);  // the edges carry no text
}

Picture Solid(int r, int g, int b) { return Picture(46, 46, std::vector<uint32_t>(46 * 46, Opaque(r, g, b))); }

struct ButtonFixture : ::testing::Test {
  void SetUp() override {
    button.SetFace(CPngButton::Face::Normal, Solid(200, 0, 0));
    button.SetFace(CPngButton::Face::Pressed, Solid(0, 200, 0));
    button.SetFace(CPngButton::Face::Hover, Solid(0, 0, 200));
    button.SetFace(CPngButton::Face::Disabled, Solid(90, 90, 90));
    button.clickAction = [this] { ++clicks; };
  }
  uint32_t Drawn() {
    Canvas c(46, 46);
    button.Paint(c.painter);
    return c.Pixel(23, 23);
  }
  CPngButton button;
  int clicks = 0;
};

TEST_F(ButtonFixture, FacesFollowTheStateByPriority) {
  EXPECT_EQ(Drawn(), Opaque(200, 0, 0));
  button.OnMouseMove();
  EXPECT_EQ(Drawn(), Opaque(0, 0, 200));
  button.OnLButtonDown();
  EXPECT_EQ(Drawn(), Opaque(0, 200, 0));
  EXPECT_FALSE(button.IsHover());

  // Disabled wins over pressed and hover, whatever the mouse does.
  button.OnEnable(false);
  EXPECT_EQ(Drawn(), Opaque(90, 90, 90));
  button.OnMouseMove();
  button.OnLButtonUp();
  button.OnMouseMove();
  EXPECT_EQ(Drawn(), Opaque(90, 90, 90));
  button.OnMouseLeave();
  button.OnEnable(true);
  EXPECT_EQ(Drawn(), Opaque(200, 0, 0));
}

TEST_F(ButtonFixture, ClickRunsOnReleaseAlsoAfterLeavingWhileHeld) {
  button.OnMouseMove();
  button.OnLButtonDown();
  EXPECT_EQ(clicks, 0);
  button.OnMouseLeave();
  EXPECT_TRUE(button.IsPressed());
  button.OnLButtonUp();
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(button.IsPressed());
  // Hover is not re-armed while pressed; a second quick click is a second press/release pair.
  button.OnLButtonDown();
  button.OnLButtonUp();
  EXPECT_EQ(clicks, 2);
}

TEST(PngButtonFaces, TransparentCornersShowWhatIsBehindAndMissingFilesStayBlank) {
  CPngButton button;
  const std::string res = std::string(VELLMORA_SOURCE_DIR) + "/res/";
  EXPECT_TRUE(
      button.LoadFaces(res + "btn-close.png", res + "btn-close.png", res + "btn-close.png", res + "btn-close.png"));
  Canvas c(46, 46);
  cairo_set_source_rgb(c.cr, 0, 1, 0);
  cairo_paint(c.cr);
  button.Paint(c.painter);
  EXPECT_EQ(c.Pixel(0, 0), Opaque(0, 255, 0));   // corner: the green behind, not black
  EXPECT_NE(c.Pixel(8, 23), Opaque(0, 255, 0));  // inside the disc

  CPngButton blank;
  EXPECT_FALSE(blank.LoadFaces("/nonexistent.png", "/nonexistent.png", "/nonexistent.png", "/nonexistent.png"));
  Canvas d(46, 46);
  blank.Paint(d.painter);
  EXPECT_EQ(d.Pixel(23, 23), 0u);
  blank.OnLButtonDown();
  EXPECT_TRUE(blank.OnLButtonUp());  // still works as a button
}

// At scale factor 2 the faces come from the "@2x" pictures and land on the device pixels one to
// one; a scale without its own picture falls back to the plain one.
TEST(PngButtonFaces, ScaleTwoUsesTheDoubleSizePicturePixelForPixel) {
  const std::string res = std::string(VELLMORA_SOURCE_DIR) + "/res/";
  Picture two = Picture::LoadForScale(res + "btn-close.png", 2);
  ASSERT_FALSE(two.Empty());
  EXPECT_EQ(two.Width(), 92);
  EXPECT_EQ(two.LogicalWidth(), 46);
  EXPECT_EQ(two.Scale(), 2);
  EXPECT_EQ(Picture::LoadForScale(res + "btn-close.png", 1).Width(), 46);
  Picture noDouble = Picture::LoadForScale(res + "icon.png", 2);
  EXPECT_EQ(noDouble.Scale(), 1);
  EXPECT_EQ(noDouble.Width(), 64);

  CPngButton button;
  const std::string face = res + "btn-close.png";
  ASSERT_TRUE(button.LoadFaces(face, face, face, face, 2));
  Canvas c(92, 92);
  cairo_surface_set_device_scale(c.surface, 2, 2);
  button.Paint(c.painter);
  Canvas reference(92, 92);
  cairo_surface_t* doubleSize = cairo_image_surface_create_from_png((res + "btn-close@2x.png").c_str());
  cairo_set_source_surface(reference.cr, doubleSize, 0, 0);
  cairo_paint(reference.cr);
  cairo_surface_destroy(doubleSize);
  int differing = 0;
  for (int y = 0; y < 92; ++y)
    for (int x = 0; x < 92; ++x) differing += c.Pixel(x, y) != reference.Pixel(x, y);
  EXPECT_EQ(differing, 0);
}

// At scale factor 2 the bar has only its two colours (no blended edge) and its filled part ends at
// twice the column it ends at on a plain screen.
TEST(GradientProgress, CrispAtScaleTwo) {
  CGradientProgressCtrl bar;
  SetUpLauncherBar(bar);
  bar.SetPos(42);
  Canvas one(kBarW, kBarH);
  bar.Paint(one.painter, kBarW, kBarH);
  Canvas two(kBarW * 2, kBarH * 2);
  cairo_surface_set_device_scale(two.surface, 2, 2);
  bar.Paint(two.painter, kBarW, kBarH);
  int edge = -1, other = 0;
  for (int y = 0; y < kBarH * 2; ++y)
    for (int x = 0; x < kBarW * 2; ++x) {
      const uint32_t p = two.Pixel(x, y);
      if (p != kBlue && p != kBack) ++other;
      if (y == 0 && p != kBlue && edge < 0) edge = x;
    }
  EXPECT_EQ(other, 0);
  EXPECT_EQ(edge, 2 * FilledColumns(one));
}

TEST(StaticEx, MnemonicRule) {
  struct Case {
    const char* in;
    const char* shown;
    std::vector<std::pair<int, int>> underlined;
  };
  const Case cases[] = {
      {"&File", "File", {{0, 1}}},         {"Save && Exit", "Save & Exit", {}}, {"a&", "a", {}},
      {"正在&下载", "正在下载", {{6, 9}}}, {"no mnemonic", "no mnemonic", {}},
  };
  for (const Case& c : cases) {
    const CStaticEx::Mnemonic m = CStaticEx::ParseMnemonics(c.in);
    EXPECT_EQ(m.text, c.shown) << c.in;
    EXPECT_EQ(m.underlined, c.underlined) << c.in;
  }
}

TEST(StaticEx, DrawsWhiteTextWithoutBackground) {
  CStaticEx label;
  label.SetTextColor(MakeColorRef(255, 0, 0));  // kept, but labels draw white in any case
  label.SetWindowText("正在下载：");
  Canvas c(120, 20);
  label.Paint(c.painter, 120, 20);
  int inked = 0;
  for (int x = 0; x < 120; ++x) {
    for (int y = 0; y < 20; ++y) {
      const uint32_t p = c.Pixel(x, y);
      const uint32_t a = p >> 24;
      if (a == 0) continue;
      ++inked;
      // Premultiplied white: every colour channel equals alpha.
      ASSERT_EQ((p >> 16) & 0xFF, a);
      ASSERT_EQ((p >> 8) & 0xFF, a);
      ASSERT_EQ(p & 0xFF, a);
    }
  }
  EXPECT_GT(inked, 20);
  EXPECT_EQ(c.Pixel(119, 0), 0u);  // no background painted
}

}  // namespace
