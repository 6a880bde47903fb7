// A fresh folder under the user's temporary folder for one test, removed with everything in it
// afterwards; and where the test programs lie.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "os/FileSystem.h"
#include "os/RemoveTree.h"
#include "os/base/Win32Text.h"

class WinTestFolder {
 public:
  WinTestFolder() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    static int counter = 0;
    char name[80];
    std::snprintf(name, sizeof name, "vellmora-host-%lu-%lu-%d", GetCurrentProcessId(), GetTickCount(), ++counter);
    path_ = os::JoinPath(os::win32::Narrow(base, wcslen(base)), name);
    os::MakeDirectories(path_);
  }
  ~WinTestFolder() { Clear(path_); }
  WinTestFolder(const WinTestFolder&) = delete;
  WinTestFolder& operator=(const WinTestFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return os::JoinPath(path_, name); }

 private:
  // Read-only files would keep the folder: their attribute goes first.
  static void Clear(const std::string& dir) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW(os::win32::Wide(dir + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring child = os::win32::Wide(dir) + L"\\" + entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    os::RemoveTree(dir);
  }
  std::string path_;
};

// A program built beside the running test program.
inline std::string BesideThisProgram(const std::string& name) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return os::JoinPath(os::DirName(os::win32::Narrow(self, wcslen(self))), name);
}
