// Where the launcher's controls sit, in pixels of the 950 x 632 window (both front ends). The content window's
// template gives the progress controls in dialog units of its 12 pt "MS Shell Dlg" font; its base
// units are 8 x 19 pixels at 96 dpi, so x and widths scale by 8/4 and y and heights by 19/8,
// rounded like MulDiv. The page, the buttons and the window size are given in pixels.
#pragma once

namespace layout {

struct Rect {
  int x, y, w, h;
};

constexpr int kBaseUnitX = 8;
constexpr int kBaseUnitY = 19;

// a * b / c rounded half away from zero, for non-negative values.
constexpr int MulDiv(int a, int b, int c) { return (a * b * 2 + c) / (2 * c); }

constexpr Rect FromDialogUnits(int x, int y, int w, int h) {
  return {MulDiv(x, kBaseUnitX, 4), MulDiv(y, kBaseUnitY, 8), MulDiv(w, kBaseUnitX, 4), MulDiv(h, kBaseUnitY, 8)};
}

constexpr int kWindowWidth = 950;
constexpr int kWindowHeight = 632;

constexpr Rect kProgressBar = FromDialogUnits(30, 260, 376, 6);  // 1000
constexpr Rect kStatusLabel = FromDialogUnits(32, 252, 48, 8);   // 1002
constexpr Rect kProgressText = FromDialogUnits(77, 252, 32, 8);  // 1001
constexpr Rect kMessageText = FromDialogUnits(32, 252, 90, 8);   // 1003
constexpr Rect kBrowser = {300, 132, 590, 480};                  // 1005, placed in pixels
constexpr Rect kMinimiseButton = {850, 65, 46, 46};              // 102
constexpr Rect kCloseButton = {895, 95, 46, 46};                 // 101

}  // namespace layout
