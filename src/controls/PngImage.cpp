#include "controls/PngImage.h"

PngImage PngImage::Load(const std::string& path) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return PngImage();
  }
  return PngImage(s);
}

PngImage PngImage::LoadForScale(const std::string& path, int scale) {
  const std::string suffix = ".png";
  if (scale > 1 && path.size() > suffix.size() &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    PngImage scaled = Load(path.substr(0, path.size() - suffix.size()) + "@" + std::to_string(scale) + "x" + suffix);
    if (!scaled.Empty()) {
      cairo_surface_set_device_scale(scaled.Surface(), scale, scale);
      return scaled;
    }
  }
  return Load(path);
}

int PngImage::Scale() const {
  if (!surface_) return 1;
  double x = 1, y = 1;
  cairo_surface_get_device_scale(surface_, &x, &y);
  return x >= 1 ? static_cast<int>(x) : 1;
}

int PngImage::LogicalWidth() const { return Width() / Scale(); }

int PngImage::LogicalHeight() const { return Height() / Scale(); }
