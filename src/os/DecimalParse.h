// The one decimal reader for numbers found in text (version fields, window ids, byte counts):
// a saturating prefix parse like strtoll, and a clamp to narrower integer types. Pure; any thread.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace os {

// Leading blanks, one optional sign, then digits up to the first non-digit; text without digits
// reads as 0. Values beyond the 64-bit range saturate at its limits instead of overflowing.
// Blanks are space, \t, \n, \v, \f and \r.
int64_t ParseDecimalPrefix(std::string_view text);

// The same for UTF-16 text (values read from wide-character stores); blanks are what iswspace
// accepts for a code unit in the current locale.
int64_t ParseDecimalPrefix(std::u16string_view text);

// value limited to the range of T (for example a parsed number stored in 32 bits).
template <typename T>
constexpr T ClampTo(int64_t value) {
  static_assert(std::numeric_limits<T>::is_integer && std::numeric_limits<T>::is_signed);
  if (value < static_cast<int64_t>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (value > static_cast<int64_t>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(value);
}

}  // namespace os
