#include "os/Prefix.h"

#include <climits>
#include <cstdlib>
#include <vector>

#include "os/FileSystem.h"

namespace os {

std::string PrefixDir() {
  if (const char* p = std::getenv("VELLMORA_PREFIX"); p && *p) return p;
  std::string data;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) {
    data = x;
  } else {
    const char* home = std::getenv("HOME");
    data = std::string(home && *home ? home : "/tmp") + "/.local/share";
  }
  return JoinPath(data, "vellmora");
}

bool EnsurePrefix() {
  std::string prefix = PrefixDir();
  if (IsDirectory(prefix)) return true;
  if (MakeDirectories(prefix) != 0) return false;
  return MakeDirectory(DriveRoot('C')) == 0;
}

std::string DriveRoot(char letter) {
  char lower = static_cast<char>(letter >= 'A' && letter <= 'Z' ? letter - 'A' + 'a' : letter);
  return JoinPath(PrefixDir(), std::string("drive_") + lower);
}

bool DriveExists(char letter) { return IsDirectory(DriveRoot(letter)); }

std::string RegistryDir() { return JoinPath(PrefixDir(), "registry"); }

namespace {

// Lexical normalisation of an absolute path: removes ".", "..", and repeated slashes.
std::string Normalise(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string part = path.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

// Resolves symlinks of the longest existing leading part, keeps the rest lexically.
std::string Resolve(const std::string& path) {
  std::string norm = Normalise(path);
  std::string head = norm, tail;
  for (;;) {
    char buf[PATH_MAX];
    if (::realpath(head.c_str(), buf)) return Normalise(std::string(buf) + tail);
    if (head == "/" || head.empty()) return norm;
    tail = "/" + BaseName(head) + tail;
    head = DirName(head);
  }
}

}  // namespace

bool IsInsidePrefix(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  std::string prefix = Resolve(PrefixDir());
  std::string p = Resolve(path);
  return p.size() > prefix.size() && p.compare(0, prefix.size(), prefix) == 0 && p[prefix.size()] == '/';
}

bool MayRemoveTree(const std::string& dir) {
  if (!IsInsidePrefix(dir)) return false;
  const std::string target = Resolve(dir);
  for (const std::string& kept : {DriveRoot('C'), DriveRoot('D'), RegistryDir()}) {
    if (target == Resolve(kept)) return false;
  }
  return true;
}

}  // namespace os
