#include "os/WineRegistryFile.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "log/LauncherLog.h"
#include "os/CaseFold.h"
#include "os/CodePage.h"
#include "os/FileSystem.h"

namespace os {

namespace {

// Wine compares key and value names without regard to case.
std::string Folded(const std::string& utf8) { return FoldCase(utf8); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes escaped text from s[i] up to the unescaped terminator, leaving i just after it. False
// when the terminator never comes.
bool ParseEscaped(const std::string& s, size_t& i, char terminator, std::u16string& out) {
  std::string run;  // raw UTF-8 bytes since the last escape
  auto flush = [&] {
    out += Utf8ToUtf16(run);
    run.clear();
  };
  while (i < s.size()) {
    const char c = s[i++];
    if (c == terminator) {
      flush();
      return true;
    }
    if (c != '\\' || i >= s.size()) {
      run += c;
      continue;
    }
    flush();
    const char e = s[i++];
    switch (e) {
      case 'a': out += u'\a'; break;
      case 'b': out += u'\b'; break;
      case 'e': out += char16_t(27); break;
      case 'f': out += u'\f'; break;
      case 'n': out += u'\n'; break;
      case 'r': out += u'\r'; break;
      case 't': out += u'\t'; break;
      case 'v': out += u'\v'; break;
      case 'x': {
        unsigned value = 0;
        int digits = 0;
        for (; digits < 4 && i < s.size() && HexDigit(s[i]) >= 0; ++digits) value = value * 16 + HexDigit(s[i++]);
        out += digits ? char16_t(value) : u'x';
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          unsigned value = static_cast<unsigned>(e - '0');
          for (int digits = 1; digits < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++digits)
            value = value * 8 + static_cast<unsigned>(s[i++] - '0');
          out += char16_t(value);
        } else {
          run += e;
        }
    }
  }
  return false;
}

// Text as Wine writes it: '\' and the two delimiters of its context ("" for names, [] for keys)
// escaped, control characters in octal, anything beyond ASCII as \x<UTF-16 unit>.
std::string Escaped(const std::string& utf8, const char delimiters[2]) {
  std::string out;
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    char buf[8];
    if (unit == u'\\' || unit == char16_t(delimiters[0]) || unit == char16_t(delimiters[1])) {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit >= 32 && unit < 127) {
      out += static_cast<char>(unit);
    } else if (unit < 32) {
      std::snprintf(buf, sizeof buf, "\\%03o", static_cast<unsigned>(unit));
      out += buf;
    } else {
      std::snprintf(buf, sizeof buf, "\\x%04x", static_cast<unsigned>(unit));
      out += buf;
    }
  }
  return out;
}

// The key name of a section header line "[<key>] <time>"; nothing when the line is no header.
std::optional<std::string> HeaderKey(const std::string& line) {
  if (line.empty() || line[0] != '[') return std::nullopt;
  size_t i = 1;
  std::u16string name;
  if (!ParseEscaped(line, i, ']', name)) return std::nullopt;
  return Utf16ToUtf8(name);
}

// The name of a value line and the position of its data; nothing when the line is no value.
std::optional<std::string> ValueName(const std::string& line, size_t& dataStart) {
  if (line.size() >= 2 && line[0] == '@' && line[1] == '=') {
    dataStart = 2;
    return std::string();
  }
  if (line.empty() || line[0] != '"') return std::nullopt;
  size_t i = 1;
  std::u16string name;
  if (!ParseEscaped(line, i, '"', name) || i >= line.size() || line[i] != '=') return std::nullopt;
  dataStart = i + 1;
  return Utf16ToUtf8(name);
}

bool IsHexData(const std::string& data) { return data.rfind("hex:", 0) == 0 || data.rfind("hex(", 0) == 0; }

bool EndsWithBackslash(const std::string& line) { return !line.empty() && line.back() == '\\'; }

std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// The bytes a value's data text stands for (continuation lines already joined).
std::optional<std::string> DecodeData(const std::string& data) {
  if (data.rfind("dword:", 0) == 0) {
    const std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) return std::nullopt;
      value = value * 16 + static_cast<uint32_t>(HexDigit(c));
    }
    std::string bytes(4, '\0');
    for (int b = 0; b < 4; ++b) bytes[b] = static_cast<char>((value >> (8 * b)) & 0xFF);
    return bytes;
  }
  size_t quote = std::string::npos;
  if (!data.empty() && data[0] == '"') {
    quote = 0;
  } else if (data.rfind("str(", 0) == 0) {
    const size_t close = data.find("):", 4);
    if (close != std::string::npos && close + 2 < data.size() && data[close + 2] == '"') quote = close + 2;
  }
  if (quote != std::string::npos) {
    size_t i = quote + 1;
    std::u16string text;
    if (!ParseEscaped(data, i, '"', text)) return std::nullopt;
    text += u'\0';
    return Utf16Bytes(text);
  }
  if (IsHexData(data)) {
    std::string bytes;
    const size_t colon = data.find(':');
    int high = -1;
    for (size_t i = colon + 1; i < data.size(); ++i) {
      const char c = data[i];
      if (c == ',' || c == ' ' || c == '\t') {
        if (high >= 0) return std::nullopt;  // one digit alone
        continue;
      }
      const int digit = HexDigit(c);
      if (digit < 0) return std::nullopt;
      if (high < 0) {
        high = digit;
      } else {
        bytes += static_cast<char>(high * 16 + digit);
        high = -1;
      }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
  }
  return std::nullopt;
}

}  // namespace

WineRegistryFile::WineRegistryFile(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines_.push_back(text.substr(start));
      finalNewline_ = false;
      break;
    }
    lines_.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string WineRegistryFile::UserFilePath(const std::string& prefix) { return JoinPath(prefix, "user.reg"); }

WineRegistryFile WineRegistryFile::Load(const std::string& path) {
  std::string text;
  int error = 0;
  const ReadOutcome outcome = ReadRegularFile(path, text, &error);
  if (outcome != ReadOutcome::Read) text.clear();
  WineRegistryFile file(text);
  if (outcome == ReadOutcome::Failed) {
    LogError("cannot read " + path + ": " + std::strerror(error), "WineRegistryFile::Load", "WineRegistryFile",
             __LINE__);
    file.loadError_ = error != 0 ? error : EIO;
  }
  return file;
}

int WineRegistryFile::Save(const std::string& path) const {
  if (loadError_ != 0) {
    // What the load missed would be gone from the prefix's registry for good.
    LogError("not saved, it was not read in full: " + path, "WineRegistryFile::Save", "WineRegistryFile", __LINE__);
    return loadError_;
  }
  return WriteFileAtomically(path, Text());
}

std::string WineRegistryFile::Text() const {
  std::string text;
  for (size_t i = 0; i < lines_.size(); ++i) {
    text += lines_[i];
    if (i + 1 < lines_.size() || finalNewline_) text += '\n';
  }
  return text;
}

size_t WineRegistryFile::FindSection(const std::string& key) const {
  const std::string wanted = Folded(key);
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::optional<std::string> name = HeaderKey(lines_[i]);
    if (name && Folded(*name) == wanted) return i;
  }
  return std::string::npos;
}

size_t WineRegistryFile::SectionEnd(size_t header) const {
  size_t end = header + 1;
  while (end < lines_.size() && !HeaderKey(lines_[end])) ++end;
  return end;
}

void WineRegistryFile::FindValue(size_t header, const std::string& name, size_t& first, size_t& last) const {
  const std::string wanted = Folded(name);
  const size_t end = SectionEnd(header);
  first = last = std::string::npos;
  for (size_t i = header + 1; i < end; ++i) {
    size_t dataStart = 0;
    const std::optional<std::string> valueName = ValueName(lines_[i], dataStart);
    if (!valueName) continue;
    size_t next = i + 1;
    // Hex data goes on over the lines that a trailing backslash continues.
    if (IsHexData(lines_[i].substr(dataStart)))
      while (next < end && EndsWithBackslash(lines_[next - 1])) ++next;
    if (Folded(*valueName) == wanted) {
      first = i;
      last = next;
      return;
    }
    i = next - 1;
  }
}

bool WineRegistryFile::HasKey(const std::string& key) const {
  if (FindSection(key) != std::string::npos) return true;
  // A key that holds only subkeys has no section of its own.
  const std::string parent = Folded(key) + "\\";
  for (const std::string& line : lines_) {
    const std::optional<std::string> name = HeaderKey(line);
    if (name && Folded(*name).rfind(parent, 0) == 0) return true;
  }
  return false;
}

std::optional<std::string> WineRegistryFile::ValueData(const std::string& key, const std::string& name) const {
  const size_t header = FindSection(key);
  if (header == std::string::npos) return std::nullopt;
  size_t first, last;
  FindValue(header, name, first, last);
  if (first == std::string::npos) return std::nullopt;
  size_t dataStart = 0;
  ValueName(lines_[first], dataStart);
  std::string data = lines_[first].substr(dataStart);
  for (size_t i = first + 1; i < last; ++i) {
    data.pop_back();  // the backslash that continued the data
    data += TrimBlanks(lines_[i]);
  }
  return DecodeData(data);
}

bool WineRegistryFile::SetDword(const std::string& key, const std::string& name, uint32_t value) {
  const size_t header = FindSection(key);
  if (header == std::string::npos) {
    // A key holding only subkeys gets its section, as Wine writes one for a key with values.
    if (!HasKey(key)) return false;
  }
  char data[16];
  std::snprintf(data, sizeof data, "dword:%08x", static_cast<unsigned>(value));
  const std::string line = (name.empty() ? std::string("@") : "\"" + Escaped(name, "\"\"") + "\"") + "=" + data;
  if (header == std::string::npos) {
    lines_.insert(lines_.end(), {"", "[" + Escaped(key, "[]") + "]", line});
    return true;
  }
  size_t first, last;
  FindValue(header, name, first, last);
  if (first != std::string::npos) {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first + 1),
                 lines_.begin() + static_cast<std::ptrdiff_t>(last));
    lines_[first] = line;
    return true;
  }
  // After the section's last line that is not blank.
  size_t at = SectionEnd(header);
  while (at > header + 1 && TrimBlanks(lines_[at - 1]).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
  return true;
}

}  // namespace os
