#include "os/CodePage.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <mutex>

namespace os {

namespace {

// The locale's character set. The launcher adopts the environment's locale once (like a Windows
// thread's ANSI code page, which comes from the system settings).
std::string LocaleCharset() {
  static std::once_flag once;
  static std::string charset;
  std::call_once(once, [] {
    std::setlocale(LC_CTYPE, "");
    const char* cs = nl_langinfo(CODESET);
    charset = cs && *cs ? cs : "ANSI_X3.4-1968";
  });
  return charset;
}

bool IsUtf8Charset(const std::string& cs) {
  return strcasecmp(cs.c_str(), "UTF-8") == 0 || strcasecmp(cs.c_str(), "utf8") == 0;
}

// Decodes one UTF-8 sequence at s[i]; returns the code point (U+FFFD when invalid) and advances i.
char32_t DecodeUtf8(const std::string& s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = len == 1 ? c : c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += len;
  static const char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Converts one code point at a time so that a character the target lacks becomes a substitute
// instead of ending the conversion.
std::string Convert(const std::string& in, const std::string& from, const std::string& to, bool fromUtf8,
                    const char* substitute) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return in;
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    size_t start = i;
    size_t len = 1;
    if (fromUtf8) {
      DecodeUtf8(in, i);
      len = i - start;
    } else {
      // Let iconv find the sequence length: try growing prefixes.
      i = start + 1;
    }
    char buf[16];
    bool done = false;
    for (size_t tryLen = len; !done && start + tryLen <= in.size() && tryLen <= 4; ++tryLen) {
      char* src = const_cast<char*>(in.data() + start);
      size_t srcLeft = tryLen;
      char* dst = buf;
      size_t dstLeft = sizeof buf;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0) {
        out.append(buf, sizeof buf - dstLeft);
        i = start + tryLen;
        done = true;
      } else if (errno != EINVAL) {
        break;  // invalid or unrepresentable: substitute
      }
      if (fromUtf8) break;
    }
    if (!done) {
      out += substitute;
      if (fromUtf8)
        i = start + len;
      else
        i = start + 1;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToAnsi(const std::string& utf8) {
  std::string cs = LocaleCharset();
  if (IsUtf8Charset(cs)) {
    // Normalise invalid sequences to '?'.
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
      char32_t cp = DecodeUtf8(utf8, i);
      if (cp == 0xFFFD)
        out += '?';
      else
        AppendUtf8(out, cp);
    }
    return out;
  }
  return Convert(utf8, "UTF-8", cs, true, "?");
}

std::string AnsiToUtf8(const std::string& ansi) {
  std::string cs = LocaleCharset();
  if (IsUtf8Charset(cs)) {
    std::string out;
    for (size_t i = 0; i < ansi.size();) AppendUtf8(out, DecodeUtf8(ansi, i));
    return out;
  }
  return Convert(ansi, cs, "UTF-8", false, "\xEF\xBF\xBD");
}

std::u16string Utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 | (cp >> 10));
      out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& utf16) {
  std::string out;
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

size_t Utf16Length(const std::string& utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size();) n += DecodeUtf8(utf8, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::string TruncateUtf16(const std::string& utf8, size_t units) {
  size_t n = 0, i = 0;
  while (i < utf8.size()) {
    size_t start = i;
    size_t w = DecodeUtf8(utf8, i) >= 0x10000 ? 2 : 1;
    if (n + w > units) return utf8.substr(0, start);
    n += w;
  }
  return utf8;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string TrimBlanks(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace os
