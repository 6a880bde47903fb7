#include "controls/CStaticEx.h"

#include <pango/pangocairo.h>

namespace {

// Length in bytes of the UTF-8 character starting at s[i].
size_t CharLength(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
  return i + n <= s.size() ? n : s.size() - i;
}

}  // namespace

CStaticEx::Mnemonic CStaticEx::ParseMnemonics(const std::string& text) {
  Mnemonic m;
  for (size_t i = 0; i < text.size();) {
    if (text[i] != '&') {
      const size_t n = CharLength(text, i);
      m.text.append(text, i, n);
      i += n;
      continue;
    }
    if (i + 1 >= text.size()) break;  // a trailing "&" shows nothing
    if (text[i + 1] == '&') {
      m.text += '&';
      i += 2;
      continue;
    }
    if (text[i + 1] == '\n') {  // nothing to underline on a line break
      ++i;
      continue;
    }
    const size_t n = CharLength(text, i + 1);
    const int start = static_cast<int>(m.text.size());
    m.text.append(text, i + 1, n);
    m.underlined.emplace_back(start, static_cast<int>(m.text.size()));
    i += 1 + n;
  }
  return m;
}

void CStaticEx::Paint(cairo_t* cr, int width, int height) const {
  const Mnemonic m = ParseMnemonics(text_);
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, width, height);
  cairo_clip(cr);

  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(kFont);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_width(layout, -1);  // no wrapping
  pango_layout_set_text(layout, m.text.c_str(), -1);
  if (!m.underlined.empty()) {
    PangoAttrList* attrs = pango_attr_list_new();
    for (const auto& [start, end] : m.underlined) {
      PangoAttribute* a = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
      a->start_index = static_cast<guint>(start);
      a->end_index = static_cast<guint>(end);
      pango_attr_list_insert(attrs, a);
    }
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
  cairo_move_to(cr, 0, 0);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  cairo_restore(cr);
}
