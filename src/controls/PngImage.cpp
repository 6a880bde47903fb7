#include "controls/PngImage.h"

PngImage PngImage::Load(const std::string& path) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return PngImage();
  }
  return PngImage(s);
}
