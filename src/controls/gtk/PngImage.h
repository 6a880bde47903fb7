// A PNG picture as an owned Cairo image surface (ARGB32, premultiplied), for artwork that GTK
// draws or turns into a cursor itself. UI thread.
#pragma once

#include <cairo.h>

#include <string>

class Picture;

class PngImage {
 public:
  PngImage() = default;
  explicit PngImage(cairo_surface_t* surface) : surface_(surface) {}
  ~PngImage() { Reset(); }
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;
  PngImage(PngImage&& other) noexcept : surface_(other.surface_) { other.surface_ = nullptr; }
  PngImage& operator=(PngImage&& other) noexcept {
    if (this != &other) {
      Reset();
      surface_ = other.surface_;
      other.surface_ = nullptr;
    }
    return *this;
  }

  // A copy of the picture's pixels, its device scale set to the picture's scale; empty for an
  // empty picture or when no surface can be made.
  static PngImage FromPicture(const Picture& picture);

  // Loads a PNG file; an empty image when the file is missing or not a PNG.
  static PngImage Load(const std::string& path);

  // The picture for a screen scale factor (Picture::LoadForScale): the "@<scale>x" picture with
  // its device scale set, so it draws at its logical size with every device pixel its own.
  static PngImage LoadForScale(const std::string& path, int scale);

  // The size in logical pixels (device pixels divided by the device scale).
  int LogicalWidth() const;
  int LogicalHeight() const;
  // The device scale of the picture (1 for a plain load).
  int Scale() const;

  bool Empty() const { return surface_ == nullptr; }
  cairo_surface_t* Surface() const { return surface_; }
  int Width() const { return surface_ ? cairo_image_surface_get_width(surface_) : 0; }
  int Height() const { return surface_ ? cairo_image_surface_get_height(surface_) : 0; }

 private:
  void Reset() {
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = nullptr;
  }
  cairo_surface_t* surface_ = nullptr;
};
