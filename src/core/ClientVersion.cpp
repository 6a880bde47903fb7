#include "core/ClientVersion.h"

#include <cstdio>

#include "os/DecimalParse.h"

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
  v.major = os::ClampTo<int32_t>(os::ParseDecimalPrefix(fields[0]));
  v.minor = os::ClampTo<int32_t>(os::ParseDecimalPrefix(fields[1]));
  v.build = os::ClampTo<int32_t>(os::ParseDecimalPrefix(fields[2]));
  v.revision = os::ClampTo<int32_t>(os::ParseDecimalPrefix(fields[3]));
  return v;
}

std::string FormatVersion(const ClientVersion& v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", v.major, v.minor, v.build, v.revision);
  return buf;
}

int64_t ParseDecimalPrefix64(const std::string& text) { return os::ParseDecimalPrefix(text); }
