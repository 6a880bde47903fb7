// On Windows a Windows build of the game is the native one: it is started directly and nothing
// runs through Wine. These answers say so to the portable code that asks (no runner, no Wine
// server, no program run through one); starting through Wine is refused.
#include <cerrno>

#include "os/WineRunner.h"

namespace os {

std::string SelectWineRunner(const char*, const char*) { return {}; }

std::string FindWineRunner() { return {}; }

std::vector<std::string> WineEnvironment(const std::vector<std::string>& base, const std::string&) { return base; }

ProcessId SpawnThroughWine(const std::string&, const std::string&, const std::vector<std::string>&, const std::string&,
                           const std::string&, int* error) {
  if (error) *error = ENOSYS;
  return -1;
}

int PrepareWinePrefix(const std::string&, const std::string&) { return -1; }

bool IsWineServerRunning(const std::string&) { return false; }

bool WaitForWineServerExit(const std::string&, int) { return true; }

bool IsWindowsProgramRunning(const std::string&, const std::string&, bool* error) {
  if (error) *error = false;
  return false;
}

}  // namespace os
