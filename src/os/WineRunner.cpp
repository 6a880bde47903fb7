#include "os/WineRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "os/CodePage.h"
#include "os/FileSystem.h"
#include "os/Process.h"

namespace os {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The first executable file named name in the ':'-separated directories (empty entries skipped).
std::string LookUpInPath(const std::string& name, const char* pathList) {
  if (!pathList) return std::string();
  const std::string list = pathList;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string dir = list.substr(start, end - start);
    if (!dir.empty() && IsExecutableFile(JoinPath(dir, name))) return JoinPath(dir, name);
    start = end + 1;
  }
  return std::string();
}

std::string AbsolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  return ::getcwd(cwd, sizeof cwd) ? JoinPath(cwd, path) : path;
}

// The path with every link resolved; empty when it does not exist.
std::string Resolved(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string ReadLink(const std::string& link) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// argv[0] of a process, empty when it cannot be read (another user's, or gone).
std::string FirstArgument(const std::string& pid) {
  const int fd = ::open(("/proc/" + pid + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  char buf[PATH_MAX + 1];
  ssize_t n;
  do {
    n = ::read(fd, buf, sizeof buf - 1);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return std::string();
  buf[n] = 0;
  return buf;
}

// The file name after the last '/' or '\'.
std::string LastComponent(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithSlashes(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

// The Unix path a process's argv[0] names: a Unix path as it is (relative ones against the
// process's working directory), a DOS path through the prefix's drive links.
std::string UnixPathOf(const std::string& argument, const std::string& pid, const std::string& prefix) {
  if (argument[0] == '/') return argument;
  const unsigned char letter = static_cast<unsigned char>(argument[0]);
  if (argument.size() > 2 && std::isalpha(letter) && argument[1] == ':') {
    const std::string drive = std::string(1, static_cast<char>(std::tolower(letter))) + ":";
    return JoinPath(JoinPath(prefix, "dosdevices"), drive) + WithSlashes(argument.substr(2));
  }
  const std::string cwd = ReadLink("/proc/" + pid + "/cwd");
  return cwd.empty() ? std::string() : JoinPath(cwd, WithSlashes(argument));
}

// Calls visit(pid) for every process until it answers true; false when /proc cannot be read.
template <typename Visit>
bool ForEachProcess(Visit visit) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  while (dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    if (visit(std::string(e->d_name))) break;
  }
  ::closedir(proc);
  return true;
}

}  // namespace

std::string SelectWineRunner(const char* configured, const char* pathList) {
  if (configured && *configured) {
    const std::string program = configured;
    if (program.find('/') == std::string::npos) return LookUpInPath(program, pathList);
    return IsExecutableFile(program) ? program : std::string();
  }
  return LookUpInPath("wine", pathList);
}

std::string FindWineRunner() { return SelectWineRunner(std::getenv("VELLMORA_WINE"), std::getenv("PATH")); }

std::vector<std::string> WineEnvironment(const std::vector<std::string>& base, const std::string& prefix) {
  const std::string prefixEntry = "WINEPREFIX=" + AbsolutePath(prefix);
  std::vector<std::string> env;
  bool prefixSet = false, debugSet = false;
  for (const std::string& entry : base) {
    if (entry.rfind("WINEPREFIX=", 0) == 0) {
      if (!prefixSet) env.push_back(prefixEntry);
      prefixSet = true;
      continue;
    }
    if (entry.rfind("WINEDEBUG=", 0) == 0) debugSet = true;
    env.push_back(entry);
  }
  if (!prefixSet) env.push_back(prefixEntry);
  if (!debugSet) env.push_back("WINEDEBUG=-all");
  return env;
}

pid_t SpawnThroughWine(const std::string& runner, const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd, const std::string& prefix, int* error) {
  std::vector<std::string> argv = {runner, program};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::vector<std::string> env = WineEnvironment(CurrentEnvironment(), prefix);
  return SpawnProgram(runner, argv, cwd, &env, false, error);
}

int PrepareWinePrefix(const std::string& runner, const std::string& prefix) {
  const std::vector<std::string> env = WineEnvironment(CurrentEnvironment(), prefix);
  const pid_t pid = SpawnProgram(runner, {runner, "wineboot"}, AbsolutePath(prefix), &env, true);
  return pid > 0 ? WaitProcess(pid) : -1;
}

bool IsWineServerRunning(const std::string& prefix) {
  // A Wine server works in a directory named after its prefix's device and inode.
  struct stat st;
  if (::stat(prefix.c_str(), &st) != 0) return false;
  char name[64];
  std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  bool running = false;
  ForEachProcess([&](const std::string& pid) {
    running = LastComponent(ReadLink("/proc/" + pid + "/cwd")) == name;
    return running;
  });
  return running;
}

bool WaitForWineServerExit(const std::string& prefix, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (IsWineServerRunning(prefix)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

bool IsWindowsProgramRunning(const std::string& program, const std::string& prefix, bool* error) {
  if (error) *error = false;
  const std::string target = Resolved(program);
  if (target.empty()) return false;  // no such program: nothing can run it
  const std::string name = LastComponent(target);
  bool found = false;
  const bool listed = ForEachProcess([&](const std::string& pid) {
    const std::string argument = FirstArgument(pid);
    if (argument.empty() || !EqualsNoCase(LastComponent(argument), name)) return false;
    const std::string path = UnixPathOf(argument, pid, prefix);
    found = !path.empty() && Resolved(path) == target;
    return found;
  });
  if (!listed && error) *error = true;
  return found;
}

}  // namespace os
