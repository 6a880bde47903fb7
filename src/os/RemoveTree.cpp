#include "os/RemoveTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace os {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Empties the directory open as fd (taken over), whose path is path. Entries are reached through
// the descriptor and opened with O_NOFOLLOW, so a directory swapped for a link after it was
// listed is never followed either.
void RemoveEntries(int fd, const std::string& path, const RemoveTreeVisitor& onDirectory) {
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
  if (!dir) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
      const std::string child = path + "/" + name;
      if (onDirectory) onDirectory(child);
      const int childFd = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (childFd >= 0) RemoveEntries(childFd, child, onDirectory);
      ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(fd, name.c_str(), 0);
    }
  }
}

}  // namespace

bool RemoveTree(const std::string& dir, const RemoveTreeVisitor& onDirectory) {
  if (onDirectory) onDirectory(dir);
  // A trailing slash would make open follow a link in the last component.
  std::string self = dir;
  while (self.size() > 1 && self.back() == '/') self.pop_back();
  const int fd = ::open(self.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) RemoveEntries(fd, dir, onDirectory);
  return ::rmdir(self.c_str()) == 0;
}

}  // namespace os
