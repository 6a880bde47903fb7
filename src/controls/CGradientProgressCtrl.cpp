#include "controls/CGradientProgressCtrl.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void SetColor(cairo_t* cr, ColorRef c) {
  cairo_set_source_rgb(cr, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0);
}

void FillRect(cairo_t* cr, int x0, int y0, int x1, int y1, ColorRef c) {
  if (x1 <= x0 || y1 <= y0) return;
  SetColor(cr, c);
  cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
  cairo_fill(cr);
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

// Paints like the original control: the bands go into an off-screen group that is then copied
// in one go, so frequent position changes never flicker.
void CGradientProgressCtrl::Paint(cairo_t* cr, int width, int height) const {
  const int pos = pos_.load();
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_rectangle(cr, 0, 0, width, height);
  cairo_clip(cr);

  if (pos <= lower_ || pos > upper_) {
    FillRect(cr, 0, 0, width, height, kOutOfRangeGrey);
    cairo_restore(cr);
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

  cairo_push_group(cr);
  for (int i = 0; i < bands; ++i) {
    const int from = static_cast<int>(static_cast<float>(i) * bandSize);
    const int to = static_cast<int>(static_cast<float>(i + 1) * bandSize);
    if (vertical_) {
      FillRect(cr, 0, from, width + 1, to, startColor_);
    } else {
      FillRect(cr, from, 0, to, height + 1, startColor_);
    }
    if (to > filled) {
      if (vertical_) {
        FillRect(cr, 0, to, width, height, bkColor_);
      } else {
        FillRect(cr, to, 0, width, height, bkColor_);
      }
      break;
    }
  }
  cairo_pop_group_to_source(cr);
  cairo_paint(cr);

  if (showPercent_) {
    const std::string text = PercentText(pos, lower_, upper_);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Sans 8");
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, text.c_str(), -1);
    int tw = 0, th = 0;
    pango_layout_get_pixel_size(layout, &tw, &th);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    SetColor(cr, textColor_);
    cairo_move_to(cr, (width - tw) / 2, (height - th) / 2);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
  }
  cairo_restore(cr);
}
