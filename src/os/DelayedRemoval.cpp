#include "os/DelayedRemoval.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "os/Prefix.h"
#include "os/RemoveTree.h"

namespace os {

namespace {

// Runs in the remover: blocks until every write end of the pipe on descriptor 3 is closed,
// that is until the process that started it has exited.
void WaitForStarterExit() {
  char byte;
  for (;;) {
    const ssize_t n = ::read(3, &byte, 1);
    if (n == 0 || (n < 0 && errno != EINTR)) return;
  }
}

// Runs in the remover: no terminal, and no descriptor of the starter but the pipe's read end,
// moved to descriptor 3.
void Detach(int readEnd) {
  ::dup2(readEnd, 3);
  ::syscall(SYS_close_range, 4u, ~0u, 0u);
  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    if (devNull > 3) ::close(devNull);
  }
}

}  // namespace

// Double fork in a new session, so the remover is adopted by init (or a subreaper) and no
// terminal hang-up reaches it. This process keeps the pipe's write end open until it exits.
void StartDelayedRemoval(const std::vector<std::string>& dirs) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  if (child == 0) {
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    ::close(fds[1]);
    Detach(fds[0]);
    WaitForStarterExit();
    for (const std::string& dir : dirs) {
      const std::string located = RemovableTree(dir);
      if (!located.empty()) RemoveTree(located);
    }
    ::_exit(0);
  }
  ::close(fds[0]);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  // fds[1] stays open on purpose: the remover starts when this process is gone.
}

}  // namespace os
