// Windows runs Windows programs itself: there is no Wine here. The layout names the same file as
// the native game and as its Windows build, so a launch never takes the Wine path on Windows; the
// calls below answer as a machine without Wine does.
#include <cerrno>

#include "os/Process.h"
#include "os/WineRunner.h"

namespace os {

std::string SelectWineRunner(const char*, const char*) { return std::string(); }

std::string FindWineRunner() { return std::string(); }

std::vector<std::string> WineEnvironment(const std::vector<std::string>& base, const std::string&) { return base; }

ProcessId SpawnThroughWine(const std::string&, const std::string&, const std::vector<std::string>&, const std::string&,
                           const std::string&, int* error) {
  if (error) *error = ENOENT;
  return -1;
}

int PrepareWinePrefix(const std::string&, const std::string&) { return -1; }

bool IsWineServerRunning(const std::string&) { return false; }

bool WaitForWineServerExit(const std::string&, int) { return true; }

// A Windows program runs natively: the process snapshot answers.
bool IsWindowsProgramRunning(const std::string& program, const std::string&, bool* error) {
  return IsExecutableRunning(program, error);
}

}  // namespace os
