// A private X server for one test: Xvfb on a free display number (reported through -displayfd),
// DISPLAY pointed at it while the object lives. Available() is false when Xvfb is not installed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <string>

extern char** environ;

class XvfbServer {
 public:
  XvfbServer() {
    const char* saved = std::getenv("DISPLAY");
    hadDisplay_ = saved != nullptr;
    if (saved) savedDisplay_ = saved;
    const std::string xvfb = Find();
    if (xvfb.empty()) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {xvfb.c_str(), "-displayfd", fd.c_str(),   "-nolisten", "tcp",
                          "-screen",    "0",          "640x480x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, xvfb.c_str(), &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (pid_ > 0 && poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }
  ~XvfbServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (hadDisplay_)
      setenv("DISPLAY", savedDisplay_.c_str(), 1);
    else
      unsetenv("DISPLAY");
  }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Available() const { return !display_.empty(); }

 private:
  static std::string Find() {
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
      std::string path = std::string(dir) + "Xvfb";
      if (access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
  }

  pid_t pid_ = -1;
  std::string display_;
  std::string savedDisplay_;
  bool hadDisplay_ = false;
};
