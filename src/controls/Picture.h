// A decoded PNG picture: premultiplied ARGB pixels (one 32-bit word per pixel, 0xAARRGGBB, rows
// top to bottom without padding) and the screen scale it was made for. Front ends draw it with
// their own API; decoding needs none. Any thread; one picture is not shared between threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Picture {
 public:
  Picture() = default;
  // A picture made in memory; pixels holds width * height words (else the picture is empty).
  Picture(int width, int height, std::vector<uint32_t> pixels, int scale = 1);

  // Loads a PNG file; an empty picture when the file is missing, damaged or not a PNG.
  static Picture Load(const std::string& path);

  // The picture for a screen scale factor: ScaledPath(path, scale) when there is one and it
  // loads (drawn at the picture's logical size with every device pixel its own), else path itself.
  static Picture LoadForScale(const std::string& path, int scale);

  // "<stem>@<scale>x.png" for a ".png" path and a scale above 1; empty otherwise.
  static std::string ScaledPath(const std::string& path, int scale);

  bool Empty() const { return pixels_.empty(); }
  // The size in device pixels.
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The size in logical pixels (device pixels divided by the scale).
  int LogicalWidth() const { return width_ / scale_; }
  int LogicalHeight() const { return height_ / scale_; }
  // The screen scale of the picture (1 for a plain load).
  int Scale() const { return scale_; }
  const uint32_t* Pixels() const { return pixels_.data(); }
  uint32_t Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

 private:
  int width_ = 0;
  int height_ = 0;
  int scale_ = 1;
  std::vector<uint32_t> pixels_;
};
