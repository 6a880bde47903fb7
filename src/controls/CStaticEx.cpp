#include "controls/CStaticEx.h"

#include "controls/Painter.h"

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

// White whatever the text colour: the owner's colour is kept but never used.
void CStaticEx::Paint(Painter& painter, int width, int height) const {
  const Mnemonic m = ParseMnemonics(text_);
  painter.PushClip(0, 0, width, height);
  painter.DrawText(m.text, kFont, MakeColorRef(255, 255, 255), 0, 0, m.underlined);
  painter.PopClip();
}
