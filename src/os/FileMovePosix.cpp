#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "os/FileMove.h"

namespace os {

int MoveFileOver(const std::string& from, const std::string& to, unsigned mode) {
  if (mode != 0 && ::chmod(from.c_str(), static_cast<mode_t>(mode)) != 0) return errno;
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace os
