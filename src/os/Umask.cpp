#include "os/Umask.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace os {

unsigned CurrentUmask() {
  // /proc shows the mask without touching it; umask() itself can only be read by setting it.
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[128];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status))
      found = std::strncmp(line, "Umask:", 6) == 0 && std::sscanf(line + 6, "%o", &mask) == 1;
    std::fclose(status);
    if (found) return mask & 0777;
  }
  // No /proc: the strictest usual mask rather than a briefly changed one.
  return 077;
}

}  // namespace os
