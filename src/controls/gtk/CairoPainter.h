// The skinned controls' painter over a Cairo context (a GTK widget's draw handler, or an image
// surface). The context's state is the caller's again once every clip and layer is closed.
// UI thread only.
#pragma once

#include <cairo.h>

#include "controls/Painter.h"

class CairoPainter final : public Painter {
 public:
  explicit CairoPainter(cairo_t* cr) : cr_(cr) {}
  CairoPainter(const CairoPainter&) = delete;
  CairoPainter& operator=(const CairoPainter&) = delete;

  void PushClip(int x, int y, int width, int height) override;
  void PopClip() override;
  void BeginLayer() override;
  void EndLayer() override;
  void FillRect(int x, int y, int width, int height, ColorRef color) override;
  void DrawPicture(const Picture& picture, int x, int y) override;
  TextExtent MeasureText(const std::string& text, const char* font) override;
  void DrawText(const std::string& text, const char* font, ColorRef color, int x, int y,
                const std::vector<std::pair<int, int>>& underlined) override;

 private:
  cairo_t* cr_;
};
