#include <windows.h>

#include <string>

#include "os/Process.h"
#include "os/base/Win32Text.h"

namespace os {

// The launcher's own module path; long paths grow the buffer until they fit.
std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return win32::Narrow(path.data(), n);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// The directory of the executable with its trailing separator ("C:\games\"), as the launcher
// directory is joined with a folder name.
std::string ExecutableDir() {
  const std::string path = ExecutablePath();
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ApplicationName() {
  std::string name = ExecutablePath();
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 4) {
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (suffix == ".exe") name.resize(name.size() - 4);
  }
  return name;
}

const char* ExecutableSuffix() { return ".exe"; }

}  // namespace os
