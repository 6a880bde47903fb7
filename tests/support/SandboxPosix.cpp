#include "support/Sandbox.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "os/Process.h"

namespace {
const char* kVars[6] = {"VELLMORA_PREFIX", "HOME",           "XDG_DATA_HOME", "XDG_RUNTIME_DIR",
                        "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"};
}

Sandbox::Sandbox() {
  char tmpl[] = "/tmp/vellmora-test-XXXXXX";
  root_ = mkdtemp(tmpl);
  prefix_ = root_ + "/prefix";
  for (int i = 0; i < 6; ++i) {
    const char* v = getenv(kVars[i]);
    hadEnv_[i] = v != nullptr;
    if (v) savedEnv_[i] = v;
  }
  std::string home = root_ + "/home";
  mkdir(home.c_str(), 0700);
  mkdir((root_ + "/runtime").c_str(), 0700);
  setenv("VELLMORA_PREFIX", prefix_.c_str(), 1);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root_ + "/runtime").c_str(), 1);
  setenv("XDG_DESKTOP_DIR", (home + "/Desktop").c_str(), 1);
}

std::string Sandbox::LogPath() const { return InstallDir() + "/" + os::ApplicationName() + ".log"; }

Sandbox::~Sandbox() {
  for (int i = 0; i < 6; ++i) {
    if (hadEnv_[i])
      setenv(kVars[i], savedEnv_[i].c_str(), 1);
    else
      unsetenv(kVars[i]);
  }
  if (!getenv("VELLMORA_KEEP_SANDBOX")) RunShell("rm -rf '" + root_ + "'");
}

void Sandbox::MakeDrives(bool c, bool d) const {
  mkdir(prefix_.c_str(), 0755);
  if (c) mkdir(DriveC().c_str(), 0755);
  if (d) mkdir((prefix_ + "/drive_d").c_str(), 0755);
}

void Sandbox::WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string Sandbox::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int RunShell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
