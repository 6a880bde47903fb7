// Colours are Windows-style COLORREF values: 0x00BBGGRR.
#pragma once

#include <cstdint>

using ColorRef = uint32_t;
constexpr ColorRef MakeColorRef(int r, int g, int b) {
  return static_cast<ColorRef>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(ColorRef c) { return c & 0xFF; }
constexpr int GreenOf(ColorRef c) { return (c >> 8) & 0xFF; }
constexpr int BlueOf(ColorRef c) { return (c >> 16) & 0xFF; }
