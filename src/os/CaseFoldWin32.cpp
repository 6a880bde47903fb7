#include <windows.h>

#include "os/CaseFold.h"
#include "os/base/Win32Text.h"

namespace os {

// The system's own caseless mapping (the one its registry uses): lower case, linguistic casing.
std::string FoldCase(const std::string& utf8) {
  std::wstring wide = win32::Wide(utf8);
  if (wide.empty()) return utf8;
  const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), static_cast<int>(wide.size()),
                              nullptr, 0, nullptr, nullptr, 0);
  if (n <= 0) return utf8;
  std::wstring folded(static_cast<size_t>(n), L'\0');
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), static_cast<int>(wide.size()), folded.data(),
                    n, nullptr, nullptr, 0) != n)
    return utf8;
  return win32::Narrow(folded);
}

}  // namespace os
