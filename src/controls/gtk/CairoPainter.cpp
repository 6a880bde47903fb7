#include "controls/gtk/CairoPainter.h"

#include <pango/pangocairo.h>

#include "controls/Picture.h"

namespace {

void SetColor(cairo_t* cr, ColorRef c) {
  cairo_set_source_rgb(cr, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
}

// A layout of the text in the font, for this context's font options and scale; the caller
// unreferences it.
PangoLayout* NewLayout(cairo_t* cr, const std::string& text, const char* font) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* description = pango_font_description_from_string(font);
  pango_layout_set_font_description(layout, description);
  pango_font_description_free(description);
  pango_layout_set_width(layout, -1);  // no wrapping
  pango_layout_set_text(layout, text.c_str(), -1);
  return layout;
}

}  // namespace

void CairoPainter::PushClip(int x, int y, int width, int height) {
  cairo_save(cr_);
  cairo_rectangle(cr_, x, y, width, height);
  cairo_clip(cr_);
}

void CairoPainter::PopClip() { cairo_restore(cr_); }

void CairoPainter::BeginLayer() { cairo_push_group(cr_); }

void CairoPainter::EndLayer() {
  cairo_pop_group_to_source(cr_);
  cairo_paint(cr_);
}

void CairoPainter::FillRect(int x, int y, int width, int height, ColorRef color) {
  if (width <= 0 || height <= 0) return;
  cairo_save(cr_);
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  SetColor(cr_, color);
  cairo_rectangle(cr_, x, y, width, height);
  cairo_fill(cr_);
  cairo_restore(cr_);
}

// The picture's pixels are drawn in place (no copy): the surface lives only for this call.
void CairoPainter::DrawPicture(const Picture& picture, int x, int y) {
  if (picture.Empty()) return;
  auto* data = reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(picture.Pixels()));
  cairo_surface_t* surface = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, picture.Width(),
                                                                 picture.Height(), picture.Width() * 4);
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_set_device_scale(surface, picture.Scale(), picture.Scale());
    cairo_save(cr_);
    cairo_set_source_surface(cr_, surface, x, y);
    cairo_paint(cr_);
    cairo_restore(cr_);
    cairo_surface_finish(surface);  // nothing may read the pixels after this call
  }
  cairo_surface_destroy(surface);
}

TextExtent CairoPainter::MeasureText(const std::string& text, const char* font) {
  PangoLayout* layout = NewLayout(cr_, text, font);
  TextExtent extent;
  pango_layout_get_pixel_size(layout, &extent.width, &extent.height);
  g_object_unref(layout);
  return extent;
}

void CairoPainter::DrawText(const std::string& text, const char* font, ColorRef color, int x, int y,
                            const std::vector<std::pair<int, int>>& underlined) {
  PangoLayout* layout = NewLayout(cr_, text, font);
  if (!underlined.empty()) {
    PangoAttrList* attrs = pango_attr_list_new();
    for (const auto& [start, end] : underlined) {
      PangoAttribute* a = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
      a->start_index = static_cast<guint>(start);
      a->end_index = static_cast<guint>(end);
      pango_attr_list_insert(attrs, a);
    }
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  cairo_save(cr_);
  SetColor(cr_, color);
  cairo_move_to(cr_, x, y);
  pango_cairo_show_layout(cr_, layout);
  cairo_restore(cr_);
  g_object_unref(layout);
}
