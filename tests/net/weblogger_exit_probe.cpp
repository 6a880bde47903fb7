// Sends reports to a server that never answers and returns from main: the process must still end
// promptly (the reporters' bounded shutdown at exit) and cleanly.
// Usage: weblogger_exit_probe <info url> <error url>
#include <cstdio>

#include "net/WebLogger.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <info url> <error url>\n", argv[0]);
    return 2;
  }
  static WebLogger reporter(MachineInfo::Collect({}), argv[1], argv[2]);  // destroyed at exit
  for (int i = 0; i < 8; ++i) reporter.LogEvent(Create);
  reporter.Log("launcher start");
  // The launcher's own: owned by main, destroyed when main returns.
  WebLogger launcher(MachineInfo::Collect({}), argv[1], argv[2]);
  launcher.LogEvent(Create);
  return 0;
}
