// Conversions between the launcher's internal UTF-8 text and the locale's character set
// (the "ANSI code page" of the original design), and UTF-16 where a wire format needs it.
#pragma once

#include <string>

namespace os {

// UTF-8 -> the locale's charset (nl_langinfo(CODESET)); characters it lacks become '?'.
std::string Utf8ToAnsi(const std::string& utf8);

// The locale's charset -> UTF-8; bytes that do not convert become U+FFFD.
std::string AnsiToUtf8(const std::string& ansi);

// UTF-8 <-> UTF-16 (invalid input bytes become U+FFFD).
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);

// Length in UTF-16 code units, and a cut to at most n units (never splitting a pair).
size_t Utf16Length(const std::string& utf8);
std::string TruncateUtf16(const std::string& utf8, size_t units);

// Case-insensitive ASCII comparison (the Windows comparisons used for switches and values).
bool EqualsNoCase(const std::string& a, const std::string& b);

// The text without leading and trailing spaces, tabs, CRs and LFs.
std::string TrimBlanks(const std::string& s);

}  // namespace os
