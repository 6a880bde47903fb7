#include "core/RemoteConfigTable.h"

#include "os/CodePage.h"

bool RemoteConfigTable::Utf16Less::operator()(const std::string& a, const std::string& b) const {
  return os::Utf8ToUtf16(a) < os::Utf8ToUtf16(b);
}

void RemoteConfigTable::Parse(const std::string& document) {
  size_t start = 0;
  while (true) {
    size_t end = document.find('\n', start);
    std::string line = document.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? std::string() : line.substr(0, eq);
    std::string value = eq == std::string::npos ? line : line.substr(eq + 1);
    entries_.emplace(std::move(key), std::move(value));  // keeps an existing entry
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

std::optional<std::string> RemoteConfigTable::Find(const std::string& key) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}
