#include "controls/CGradientProgressCtrl.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controls/Painter.h"

namespace {

void FillRect(Painter& painter, int x0, int y0, int x1, int y1, ColorRef c) {
  if (x1 <= x0 || y1 <= y0) return;
  painter.FillRect(x0, y0, x1 - x0, y1 - y0, c);
}

}  // namespace

void CGradientProgressCtrl::SetRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
}

std::string CGradientProgressCtrl::PercentText(int pos, int lower, int upper) {
  if (upper == lower) return {};
  float percent = static_cast<float>(pos - lower) * 100.0f / static_cast<float>(upper - lower);
  char text[64];
  std::snprintf(text, sizeof text, "%3.0f %%", static_cast<double>(percent));
  return text;
}

// Paints like the original control: the bands go into an off-screen layer that is then copied
// in one go, so frequent position changes never flicker.
void CGradientProgressCtrl::Paint(Painter& painter, int width, int height) const {
  const int pos = pos_.load();
  painter.PushClip(0, 0, width, height);

  if (pos <= lower_ || pos > upper_) {
    FillRect(painter, 0, 0, width, height, kOutOfRangeGrey);
    painter.PopClip();
    return;
  }

  const int extent = vertical_ ? height : width;
  // The lower bound is not subtracted. An upper bound of 0 (a negative range) would divide by
  // zero; such a bar counts as full.
  const int filled =
      upper_ != 0 ? static_cast<int>(static_cast<float>(pos) / static_cast<float>(upper_) * static_cast<float>(extent))
                  : extent;

  const int sr = startColor_ & 0xFF, sg = (startColor_ >> 8) & 0xFF, sb = (startColor_ >> 16) & 0xFF;
  const int er = endColor_ & 0xFF, eg = (endColor_ >> 8) & 0xFF, eb = (endColor_ >> 16) & 0xFF;
  int dr = er - sr, dg = eg - sg, db = eb - sb;
  int bands;
  if (dr == 0 && dg == 0 && db == 0) {
    if (startColor_ == 0) {
      bands = 255;
    } else {
      dr = sr;
      dg = sg;
      db = sb;
      bands = std::max({std::abs(dr), std::abs(dg), std::abs(db)});
    }
  } else {
    bands = std::max({std::abs(dr), std::abs(dg), std::abs(db)});
  }
  const float bandSize = static_cast<float>(extent) / static_cast<float>(bands);

  painter.BeginLayer();
  for (int i = 0; i < bands; ++i) {
    const int from = static_cast<int>(static_cast<float>(i) * bandSize);
    const int to = static_cast<int>(static_cast<float>(i + 1) * bandSize);
    if (vertical_) {
      FillRect(painter, 0, from, width + 1, to, startColor_);
    } else {
      FillRect(painter, from, 0, to, height + 1, startColor_);
    }
    if (to > filled) {
      if (vertical_) {
        FillRect(painter, 0, to, width, height, bkColor_);
      } else {
        FillRect(painter, to, 0, width, height, bkColor_);
      }
      break;
    }
  }
  painter.EndLayer();

  if (showPercent_) {
    const std::string text = PercentText(pos, lower_, upper_);
    const TextExtent size = painter.MeasureText(text, kPercentFont);
    painter.DrawText(text, kPercentFont, textColor_, (width - size.width) / 2, (height - size.height) / 2, {});
  }
  painter.PopClip();
}
