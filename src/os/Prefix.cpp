#include "os/Prefix.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "os/FileSystem.h"

namespace os {

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  // Without HOME, the account's own entry: never a directory that other users share.
  std::vector<char> buf(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return {};
}

std::string PrefixDir() {
  if (const char* p = std::getenv("VELLMORA_PREFIX"); p && *p) return p;
  std::string data;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && x[0] == '/') {
    data = x;
  } else {
    const std::string home = HomeDir();
    if (home.empty()) return {};
    data = home + "/.local/share";
  }
  return JoinPath(data, "vellmora");
}

bool EnsurePrefix() {
  std::string prefix = PrefixDir();
  if (prefix.empty()) return false;
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

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool StrictlyInside(const std::string& path, const std::string& root) {
  if (root.empty() || path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return false;
  return root == "/" || path[root.size()] == '/';
}

}  // namespace

std::string LocateForRemoval(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty() || p[0] != '/' || p == "/") return {};
  const std::string name = BaseName(p);
  if (name.empty() || name == "." || name == "..") return {};
  const std::string parent = RealPath(DirName(p));
  if (parent.empty()) return {};
  return parent == "/" ? "/" + name : parent + "/" + name;
}

std::string LocateInside(const std::string& path, const std::string& root) {
  const std::string located = LocateForRemoval(path);
  return StrictlyInside(located, RealPath(root)) ? located : std::string();
}

bool IsInsidePrefix(const std::string& path) {
  const std::string located = LocateInside(path, PrefixDir());
  if (located.empty()) return false;
  // An existing link must point inside as well.
  const std::string real = RealPath(located);
  return real.empty() || StrictlyInside(real, RealPath(PrefixDir()));
}

std::string RemovableTree(const std::string& dir) {
  if (!IsInsidePrefix(dir)) return {};
  const std::string located = LocateForRemoval(dir);
  const std::string real = RealPath(located);
  for (const std::string& kept : {DriveRoot('C'), DriveRoot('D'), RegistryDir()}) {
    const std::string keptPath = LocateForRemoval(kept);
    if (located == keptPath || (!real.empty() && real == keptPath)) return {};
  }
  return located;
}

bool MayRemoveTree(const std::string& dir) { return !RemovableTree(dir).empty(); }

}  // namespace os
