// A stand-in for the game that records what it was handed: its arguments (each ending in a NUL)
// in argv.bin and its open descriptors (one number a line) in fds.txt, both in its working
// directory, then exits.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

void Save(const char* name, const std::string& content) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) _exit(2);
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  // The descriptors first, before this program opens any of its own (the listing's own excepted).
  std::string fds;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.' || std::atoi(e->d_name) == dirfd(dir)) continue;
      fds += std::string(e->d_name) + "\n";
    }
    closedir(dir);
  }
  std::string args;
  for (int i = 1; i < argc; ++i) args += std::string(argv[i]) + '\0';
  Save("argv.bin", args);
  Save("fds.txt", fds);
  return 0;
}
