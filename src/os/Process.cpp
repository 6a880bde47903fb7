#include "os/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "os/FileSystem.h"

extern char** environ;

namespace os {

namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> args;
  return args;
}

}  // namespace

void SetArguments(int argc, char** argv) { Arguments().assign(argv, argv + argc); }

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return Arguments().empty() ? std::string() : Arguments()[0];
  return std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableDir() { return DirName(ExecutablePath()) + "/"; }

const char* ExecutableSuffix() { return ""; }

std::string ApplicationName() {
  std::string name = BaseName(ExecutablePath());
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) name.resize(name.size() - 4);
  return name;
}

std::string ArgumentString() {
  std::string out;
  const auto& args = Arguments();
  for (size_t i = 1; i < args.size(); ++i) {
    if (i > 1) out += ' ';
    out += QuoteArgument(args[i]);
  }
  return out;
}

std::string FullCommandLine() {
  const auto& args = Arguments();
  std::string program = args.empty() ? ExecutablePath() : args[0];
  // The program token takes no escapes: it is quoted as a whole when it holds blanks.
  if (program.find_first_of(" \t") != std::string::npos) program = "\"" + program + "\"";
  std::string rest = ArgumentString();
  return rest.empty() ? program : program + " " + rest;
}

bool IsExecutableRunning(const std::string& executablePath, bool* error) {
  if (error) *error = false;
  char resolved[PATH_MAX];
  std::string target = ::realpath(executablePath.c_str(), resolved) ? resolved : executablePath;
  DIR* proc = ::opendir("/proc");
  if (!proc) {
    if (error) *error = true;
    return false;
  }
  bool found = false;
  while (dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    char buf[PATH_MAX];
    std::string link = std::string("/proc/") + e->d_name + "/exe";
    ssize_t len = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (len <= 0) continue;
    if (std::string(buf, static_cast<size_t>(len)) == target) {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

pid_t SpawnProcess(const std::string& executable, const std::string& commandLine, const std::string& cwd, int* error) {
  return SpawnProgram(executable, SplitCommandLine(commandLine), cwd, nullptr, false, error);
}

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                   const std::vector<std::string>* env, bool quiet, int* error) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  if (env) {
    for (const auto& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  // The started process gets standard input, output and error and nothing else of the launcher,
  // whatever a library opened without close-on-exec (the log, sockets, random devices).
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child gets default signal handling, whatever the launcher installed.
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attr, &all);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env ? envp.data() : environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error) *error = rc;
    return -1;
  }
  if (error) *error = 0;
  return pid;
}

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> out;
  for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
  return out;
}

int WaitProcess(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void EndProcessNow(int code) {
  // Only the standard streams: another thread may hold the lock of any other stream.
  std::fflush(stdout);
  std::fflush(stderr);
  ::_exit(code);
}

}  // namespace os
