// The Windows sandbox: a fresh folder under the user's temporary folder. The prefix and its drive
// folders are plain folders there; tests that settle a layout hand it these paths themselves.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "os/FileSystem.h"
#include "os/Process.h"
#include "os/base/Win32Text.h"
#include "support/Sandbox.h"
#include "support/TestPlatform.h"

namespace {
const char* kVars[6] = {"VELLMORA_PREFIX", "HOME",           "XDG_DATA_HOME", "XDG_RUNTIME_DIR",
                        "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"};

void SetVariable(const char* name, const std::string* value) { ::SetVariable(name, value ? value->c_str() : nullptr); }

std::string Variable(const char* name, bool& present) {
  wchar_t buffer[32768];
  DWORD n = GetEnvironmentVariableW(os::win32::Wide(name).c_str(), buffer, 32768);
  present = n > 0 && n < 32768;
  return present ? os::win32::Narrow(std::wstring(buffer, n)) : std::string();
}
}  // namespace

Sandbox::Sandbox() {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, base);
  static LONG counter = 0;
  const std::string name = "vellmora-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount64()) + "-" + std::to_string(InterlockedIncrement(&counter));
  root_ = os::JoinPath(os::win32::Narrow(base), name);
  CreateDirectoryW(os::win32::Wide(root_).c_str(), nullptr);
  prefix_ = root_ + "/prefix";
  for (int i = 0; i < 6; ++i) savedEnv_[i] = Variable(kVars[i], hadEnv_[i]);
  const std::string home = root_ + "/home";
  CreateDirectoryW(os::win32::Wide(home).c_str(), nullptr);
  SetVariable("VELLMORA_PREFIX", &prefix_);
  SetVariable("HOME", &home);
}

std::string Sandbox::LogPath() const { return InstallDir() + "/" + os::ApplicationName() + ".log"; }

Sandbox::~Sandbox() {
  for (int i = 0; i < 6; ++i) SetVariable(kVars[i], hadEnv_[i] ? &savedEnv_[i] : nullptr);
  if (!std::getenv("VELLMORA_KEEP_SANDBOX")) RunShell("rmdir /s /q \"" + root_ + "\"");
}

void Sandbox::MakeDrives(bool c, bool d) const {
  CreateDirectoryW(os::win32::Wide(prefix_).c_str(), nullptr);
  if (c) CreateDirectoryW(os::win32::Wide(DriveC()).c_str(), nullptr);
  if (d) CreateDirectoryW(os::win32::Wide(prefix_ + "/drive_d").c_str(), nullptr);
}

void Sandbox::WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(std::filesystem::path(os::win32::Wide(path)), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string Sandbox::ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(os::win32::Wide(path)), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Through the command processor, as system() does on Windows.
int RunShell(const std::string& command) { return std::system(command.c_str()); }
