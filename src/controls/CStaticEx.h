// A label that draws its text in white over whatever lies behind it (no background), left and
// top aligned, without word wrapping; line breaks start new lines and "&" marks the next
// character as a mnemonic (underlined, the "&" itself not shown; "&&" shows one "&").
// UI thread only.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "controls/ColorRef.h"

class Painter;

class CStaticEx {
 public:
  CStaticEx() = default;
  CStaticEx(const CStaticEx&) = delete;
  CStaticEx& operator=(const CStaticEx&) = delete;

  void SetWindowText(const std::string& text) { text_ = text; }
  const std::string& GetWindowText() const { return text_; }
  // Kept for the owner's settings; the text is drawn white in any case.
  void SetTextColor(ColorRef c) { textColor_ = c; }

  // Draws the text into the client rectangle (0, 0, width, height), clipped to it.
  void Paint(Painter& painter, int width, int height) const;

  // The mnemonic rule: the text shown, and the byte offsets (in the text shown) of the
  // characters to underline.
  struct Mnemonic {
    std::string text;
    std::vector<std::pair<int, int>> underlined;  // [start, end) byte ranges
  };
  static Mnemonic ParseMnemonics(const std::string& text);

  // The font labels use (the window's default font).
  static constexpr const char* kFont = "Sans 10";

 private:
  std::string text_;
  ColorRef textColor_ = 0xFFFFFF;
};
