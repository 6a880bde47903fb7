#include "update/EntryName.h"

#include <algorithm>

std::string EntryPath(const std::string& stored) {
  std::string path = stored;
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool IsSafeEntryPath(const std::string& path) {
  if (path.empty()) return true;
  if (path[0] == '/' || path[0] == '\\') return false;
  if (path.size() >= 2 && path[1] == ':') return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

bool IsFolderEntry(const std::string& path) { return !path.empty() && path.back() == '/'; }

std::string EntryFolder(const std::string& path) {
  if (IsFolderEntry(path)) return path.substr(0, path.size() - 1);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
