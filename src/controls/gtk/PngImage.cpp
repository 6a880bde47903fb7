#include "controls/gtk/PngImage.h"

#include <cstring>

#include "controls/Picture.h"

PngImage PngImage::FromPicture(const Picture& picture) {
  if (picture.Empty()) return PngImage();
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture.Width(), picture.Height());
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return PngImage();
  }
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  const size_t rowBytes = static_cast<size_t>(picture.Width()) * 4;
  for (int y = 0; y < picture.Height(); ++y) {
    std::memcpy(data + static_cast<size_t>(y) * stride, picture.Pixels() + static_cast<size_t>(y) * picture.Width(),
                rowBytes);
  }
  cairo_surface_mark_dirty(s);
  cairo_surface_set_device_scale(s, picture.Scale(), picture.Scale());
  return PngImage(s);
}

PngImage PngImage::Load(const std::string& path) { return FromPicture(Picture::Load(path)); }

PngImage PngImage::LoadForScale(const std::string& path, int scale) {
  return FromPicture(Picture::LoadForScale(path, scale));
}

int PngImage::Scale() const {
  if (!surface_) return 1;
  double x = 1, y = 1;
  cairo_surface_get_device_scale(surface_, &x, &y);
  return x >= 1 ? static_cast<int>(x) : 1;
}

int PngImage::LogicalWidth() const { return Width() / Scale(); }

int PngImage::LogicalHeight() const { return Height() / Scale(); }
