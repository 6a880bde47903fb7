#include "core/ClientVersion.h"

#include <cstdio>
#include <limits>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Like strtoll/_wtoi64 on a prefix, saturating instead of overflowing.
template <typename T>
T ParsePrefix(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulate as a negative number so that the minimum value fits.
  long long value = 0;
  const long long lowest = std::numeric_limits<T>::min();
  const long long highest = std::numeric_limits<T>::max();
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (overflow) continue;
    if (value < (lowest + digit) / 10) {
      overflow = true;
      continue;
    }
    value = value * 10 - digit;
  }
  if (overflow) return negative ? static_cast<T>(lowest) : static_cast<T>(highest);
  if (!negative) return value < -highest ? static_cast<T>(highest) : static_cast<T>(-value);
  return static_cast<T>(value);
}

}  // namespace

int CompareVersions(const ClientVersion& a, const ClientVersion& b) {
  const int32_t left[4] = {a.major, a.minor, a.build, a.revision};
  const int32_t right[4] = {b.major, b.minor, b.build, b.revision};
  for (int i = 0; i < 4; ++i) {
    if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
  }
  return 0;
}

ClientVersion ParseVersionText(const std::string& text) {
  std::string fields[4];
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    if (start > text.size()) break;
    size_t dot = text.find('.', start);
    if (dot == std::string::npos) {
      fields[i] = text.substr(start);
      start = text.size() + 1;
    } else {
      fields[i] = text.substr(start, dot - start);
      start = dot + 1;
    }
  }
  ClientVersion v;
  v.major = ParsePrefix<int32_t>(fields[0]);
  v.minor = ParsePrefix<int32_t>(fields[1]);
  v.build = ParsePrefix<int32_t>(fields[2]);
  v.revision = ParsePrefix<int32_t>(fields[3]);
  return v;
}

std::string FormatVersion(const ClientVersion& v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", v.major, v.minor, v.build, v.revision);
  return buf;
}

int64_t ParseDecimalPrefix64(const std::string& text) { return ParsePrefix<int64_t>(text); }
