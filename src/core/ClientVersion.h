// Four-field client version numbers (major.minor.build.revision) and their comparison.
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

struct ClientVersion {
  int32_t major = 0;
  int32_t minor = 0;
  int32_t build = 0;
  int32_t revision = 0;

  bool operator==(const ClientVersion&) const = default;
};

// Negative when a is older than b, 0 when equal, positive when newer; the fields compare as
// signed numbers, major first.
int CompareVersions(const ClientVersion& a, const ClientVersion& b);

// Dotted text to version: fields 0 to 3 of the text split at "."; each a decimal prefix
// (leading blanks, an optional sign, digits); a missing or non-numeric field is 0.
ClientVersion ParseVersionText(const std::string& text);

// "%d.%d.%d.%d".
std::string FormatVersion(const ClientVersion& v);

// Signed decimal 64-bit prefix (leading blanks, an optional sign, digits); 0 without digits.
int64_t ParseDecimalPrefix64(const std::string& text);
