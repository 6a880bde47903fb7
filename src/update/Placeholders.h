// Placeholder replacement in the configuration and package URLs ("{ditch_name}", "{version}").
#pragma once

#include <string>

// Replaces every occurrence of from, left to right, without overlaps.
inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}
