#include "os/DecimalParse.h"

#include <cwctype>

namespace os {

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsBlank(char16_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }

template <typename Char>
int64_t ParsePrefix(std::basic_string_view<Char> text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == Char('+') || text[i] == Char('-'))) negative = text[i++] == Char('-');
  // Accumulated as a negative number so that the lowest value fits without overflow.
  constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= Char('0') && text[i] <= Char('9'); ++i) {
    const int digit = static_cast<int>(text[i] - Char('0'));
    if (saturated) continue;
    // value * 10 - digit >= lowest, checked without overflowing.
    if (value < (lowest + digit) / 10) {
      saturated = true;
      continue;
    }
    value = value * 10 - digit;
  }
  if (saturated) return negative ? lowest : std::numeric_limits<int64_t>::max();
  if (negative) return value;
  return value == lowest ? std::numeric_limits<int64_t>::max() : -value;
}

}  // namespace

int64_t ParseDecimalPrefix(std::string_view text) { return ParsePrefix(text); }

int64_t ParseDecimalPrefix(std::u16string_view text) { return ParsePrefix(text); }

}  // namespace os
