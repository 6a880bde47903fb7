// The skinned controls' painter over a GDI device context (a window's paint DC, or a memory DC).
// Clips are saved DC states; a layer is a 32-bit DIB section of the clip box that is copied back
// in one go; pictures are AlphaBlended from DIB sections of their premultiplied words; text is
// DrawTextW in a transparent background mode. The DC's state is the caller's again once every
// clip and layer is closed. UI thread only.
#pragma once

#include <windows.h>

#include <vector>

#include "controls/Painter.h"

class GdiPainter final : public Painter {
 public:
  explicit GdiPainter(HDC dc) : dc_(dc) {}
  ~GdiPainter() override;
  GdiPainter(const GdiPainter&) = delete;
  GdiPainter& operator=(const GdiPainter&) = delete;

  void PushClip(int x, int y, int width, int height) override;
  void PopClip() override;
  void BeginLayer() override;
  void EndLayer() override;
  void FillRect(int x, int y, int width, int height, ColorRef color) override;
  void DrawPicture(const Picture& picture, int x, int y) override;
  TextExtent MeasureText(const std::string& text, const char* font) override;
  void DrawText(const std::string& text, const char* font, ColorRef color, int x, int y,
                const std::vector<std::pair<int, int>>& underlined) override;

  // A font for a Pango-style description ("Sans 10": family, then the size in points) at the DC's
  // resolution; "Sans" is a face with Chinese characters, else the dialog font. The caller deletes
  // it.
  static HFONT CreateFontFor(HDC dc, const char* font);

 private:
  struct Layer {
    HDC target;        // where EndLayer copies to
    HDC memory;        // the layer's DC
    HBITMAP bitmap;    // its DIB section
    HGDIOBJ previous;  // the memory DC's original bitmap
    RECT box;          // the layer's rectangle in the target's logical coordinates
  };

  HDC dc_;
  std::vector<Layer> layers_;
};
