// What the skinned controls ask a front end to draw, recorded by a painter that draws nothing:
// the decisions every front end shares, without any drawing library.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controls/CGradientProgressCtrl.h"
#include "controls/CPngButton.h"
#include "controls/CStaticEx.h"
#include "controls/Painter.h"
#include "controls/Picture.h"

namespace {

class RecordingPainter final : public Painter {
 public:
  void PushClip(int x, int y, int w, int h) override { Add("clip " + Box(x, y, w, h)); }
  void PopClip() override { Add("unclip"); }
  void BeginLayer() override { Add("layer"); }
  void EndLayer() override { Add("copy layer"); }
  void FillRect(int x, int y, int w, int h, ColorRef c) override { Add("fill " + Box(x, y, w, h) + Hex(c)); }
  void DrawPicture(const Picture& p, int x, int y) override {
    Add("picture" + Hex(p.Pixel(0, 0)) + " at " + std::to_string(x) + "," + std::to_string(y));
  }
  TextExtent MeasureText(const std::string& text, const char* font) override {
    Add("measure '" + text + "' " + font);
    return {40, 10};
  }
  void DrawText(const std::string& text, const char* font, ColorRef c, int x, int y,
                const std::vector<std::pair<int, int>>& underlined) override {
    std::string line = "text '" + text + "' " + font + Hex(c) + " at " + std::to_string(x) + "," + std::to_string(y);
    for (const auto& [start, end] : underlined) line += " _" + std::to_string(start) + "-" + std::to_string(end);
    Add(line);
  }

  std::vector<std::string> calls;

 private:
  void Add(const std::string& call) { calls.push_back(call); }
  static std::string Box(int x, int y, int w, int h) {
    return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" + std::to_string(h);
  }
  static std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, " #%06x", v);
    return buf;
  }
};

using Calls = std::vector<std::string>;

TEST(ControlLogic, LabelDrawsTheShownTextWhiteWithItsMnemonicUnderlined) {
  CStaticEx label;
  label.SetTextColor(MakeColorRef(255, 0, 0));
  label.SetWindowText("&Retry && go\nnow");
  RecordingPainter p;
  label.Paint(p, 120, 20);
  EXPECT_EQ(p.calls, (Calls{"clip 0,0 120x20", "text 'Retry & go\nnow' Sans 10 #ffffff at 0,0 _0-1", "unclip"}));
}

TEST(ControlLogic, ProgressFillsInALayerAndCentresThePercentByItsMeasuredSize) {
  CGradientProgressCtrl bar;
  bar.SetRange(0, 100);
  bar.SetStartColor(MakeColorRef(255, 0, 0));
  bar.SetEndColor(MakeColorRef(250, 0, 0));  // 5 bands of 40 px
  bar.SetBkColor(MakeColorRef(1, 2, 3));
  bar.SetTextColor(MakeColorRef(0, 0, 255));
  bar.ShowPercent(true);
  bar.SetPos(30);
  RecordingPainter p;
  bar.Paint(p, 200, 30);
  EXPECT_EQ(p.calls, (Calls{"clip 0,0 200x30", "layer", "fill 0,0 40x31 #0000ff", "fill 40,0 40x31 #0000ff",
                            "fill 80,0 120x30 #030201", "copy layer", "measure ' 30 %' Sans 8",
                            "text ' 30 %' Sans 8 #ff0000 at 80,10", "unclip"}));

  // Outside the range: one grey rectangle, no layer, no text.
  bar.SetPos(101);
  RecordingPainter out;
  bar.Paint(out, 200, 30);
  EXPECT_EQ(out.calls, (Calls{"clip 0,0 200x30", "fill 0,0 200x30 #696969", "unclip"}));
}

TEST(ControlLogic, ButtonDrawsTheFaceOfItsStateAndNothingWhenThatFaceIsBlank) {
  CPngButton button;
  button.SetFace(CPngButton::Face::Normal, Picture(1, 1, {0xFF000001}));
  button.SetFace(CPngButton::Face::Hover, Picture(1, 1, {0xFF000002}));
  RecordingPainter normal;
  button.Paint(normal);
  EXPECT_EQ(normal.calls, (Calls{"clip 0,0 46x46", "picture #ff000001 at 0,0", "unclip"}));
  button.OnMouseMove();
  RecordingPainter hover;
  button.Paint(hover);
  EXPECT_EQ(hover.calls, (Calls{"clip 0,0 46x46", "picture #ff000002 at 0,0", "unclip"}));
  button.OnLButtonDown();  // no pressed face
  RecordingPainter pressed;
  button.Paint(pressed);
  EXPECT_TRUE(pressed.calls.empty());
}

}  // namespace
