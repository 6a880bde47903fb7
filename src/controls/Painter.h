// What the skinned controls draw with. Each front end implements it over its own drawing API;
// the controls decide what goes where. Coordinates are logical pixels from the control's top
// left corner (the implementation maps them to the screen's device pixels). UI thread only.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "controls/ColorRef.h"

class Picture;

struct TextExtent {
  int width = 0;
  int height = 0;
};

class Painter {
 public:
  virtual ~Painter() = default;

  // Everything drawn until the matching PopClip stays inside the rectangle. Pairs nest.
  virtual void PushClip(int x, int y, int width, int height) = 0;
  virtual void PopClip() = 0;

  // Everything drawn until EndLayer goes to an off-screen layer that EndLayer then copies in one
  // go, so that frequent repaints never show a half-drawn control.
  virtual void BeginLayer() = 0;
  virtual void EndLayer() = 0;

  // A solid rectangle with exact pixel edges (no smoothing). Empty rectangles draw nothing.
  virtual void FillRect(int x, int y, int width, int height, ColorRef color) = 0;

  // Blends the picture over what is already there, its top left corner at (x, y), at its logical
  // size (a picture of scale 2 puts each of its pixels on its own device pixel).
  virtual void DrawPicture(const Picture& picture, int x, int y) = 0;

  // font is a family and a point size ("Sans 10"). Text is UTF-8; line breaks start new lines and
  // nothing wraps. underlined holds [start, end) byte ranges of the text.
  virtual TextExtent MeasureText(const std::string& text, const char* font) = 0;
  virtual void DrawText(const std::string& text, const char* font, ColorRef color, int x, int y,
                        const std::vector<std::pair<int, int>>& underlined) = 0;
};
