#include "os/ContainedFolders.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "os/FileSystem.h"

namespace os {

namespace {

// The canonical path (links, "." and ".." resolved); empty with errno set when it cannot be told.
std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string out(real);
  std::free(real);
  return out;
}

}  // namespace

ContainedFolders::ContainedFolders(const std::string& root) : root_(root), realRoot_(RealPath(root)) {
  if (realRoot_.empty()) error_ = errno ? errno : ENOENT;
}

bool ContainedFolders::Inside(const std::string& path) const {
  const std::string real = RealPath(path);
  if (real.empty()) return false;
  if (realRoot_ == "/") return true;
  return real == realRoot_ || (real.size() > realRoot_.size() && real.compare(0, realRoot_.size(), realRoot_) == 0 &&
                               real[realRoot_.size()] == '/');
}

int ContainedFolders::Make(const std::string& relative) {
  if (error_ != 0) return error_;
  if (!relative.empty() && relative[0] == '/') return EINVAL;
  std::string done;  // the part checked so far, without "." and empty parts
  std::string path = root_;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return EINVAL;
    done = done.empty() ? part : done + "/" + part;
    path = JoinPath(path, part);
    if (made_.count(done)) continue;

    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return errno;
      // Its parent is a folder inside the root (checked above), so the new one is too.
      if (::mkdir(path.c_str(), 0755) == 0) {
        made_.insert(done);
        continue;
      }
      if (errno != EEXIST || ::lstat(path.c_str(), &st) != 0) return errno;
    }
    if (S_ISLNK(st.st_mode)) {
      // A link is followed only where it ends in a folder of the root.
      if (!Inside(path)) return kLeadsOutside;
      if (::stat(path.c_str(), &st) != 0) return errno;
    }
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    made_.insert(done);
  }
  return 0;
}

}  // namespace os
