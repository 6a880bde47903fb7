#include "os/CodePage.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <mutex>

#include "os/Utf8Codec.h"

namespace os {

using utf8::AppendUtf8;
using utf8::DecodeUtf8;

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

}  // namespace os
