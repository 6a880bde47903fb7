// On Windows the drives are the machine's own: C: and D: are the real drives, the registry is the
// system's, and what the launcher keeps of its own lies in the user's local application data.
// The confinement of removals is to the local drives: a located path lies "inside the prefix" when
// it is strictly below the root of a drive letter, and a tree may be removed when it is none of the
// folders that hold the system or the users.
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cwchar>

#include "os/FileSystem.h"
#include "os/Prefix.h"
#include "os/base/Win32Path.h"
#include "os/base/Win32Text.h"

namespace os {
namespace {

// A folder of the shell; empty when it does not know it.
std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  return path;
}

// "C:\" for a resolved path on a drive letter; empty for anything else (a share, a device).
std::wstring DriveRootOf(const std::wstring& path) {
  if (path.size() < 3 || path[1] != L':' || !win32::IsPathSeparator(path[2])) return {};
  const wchar_t letter = path[0];
  if (!((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z'))) return {};
  return path.substr(0, 3);
}

bool StrictlyBelowDriveRoot(const std::wstring& located) {
  const std::wstring root = DriveRootOf(located);
  return !root.empty() && located.size() > root.size();
}

}  // namespace

// The user's profile folder.
std::string HomeDir() { return win32::Narrow(ShellFolder(CSIDL_PROFILE)); }

// The launcher's own folder in the user's local application data (nothing of the drives or the
// registry lives there on Windows).
std::string PrefixDir() {
  const std::wstring data = ShellFolder(CSIDL_LOCAL_APPDATA);
  return data.empty() ? std::string() : JoinPath(win32::Narrow(data), "Vellmora");
}

bool EnsurePrefix() {
  const std::string prefix = PrefixDir();
  return !prefix.empty() && MakeDirectories(prefix) == 0;
}

// The real drives: "C:" and "D:" (joined with a separator, "C:\qvx-harlu7").
std::string DriveRoot(char letter) { return std::string(1, letter) + ":"; }

// A drive exists when its root is a directory: a fixed or removable disk, not an empty card reader
// or a letter nothing is mapped to.
bool DriveExists(char letter) {
  const std::wstring root = win32::Wide(DriveRoot(letter) + "\\");
  const UINT type = GetDriveTypeW(root.c_str());
  if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) return false;
  // Without the system's "insert a disk" dialog for an empty drive.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const DWORD attributes = GetFileAttributesW(root.c_str());
  SetErrorMode(previous);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Not used by the Windows build (the system keeps the registry), named for completeness of the
// launcher's own folder.
std::string RegistryDir() { return JoinPath(PrefixDir(), "registry"); }

// The parent resolved by the file system (junctions, links, ".."), then the last component as
// written, so that a junction or link there is removed as itself.
std::string LocateForRemoval(const std::string& path) {
  std::wstring p = win32::Wide(path);
  while (p.size() > 3 && win32::IsPathSeparator(p.back())) p.pop_back();
  if (DriveRootOf(p).empty() || p.size() <= 3) return {};
  const size_t slash = p.find_last_of(L"\\/");
  const std::wstring name = p.substr(slash + 1);
  if (name.empty() || name == L"." || name == L"..") return {};
  // A colon in the last component would name an alternate data stream, not a file.
  if (name.find(L':') != std::wstring::npos) return {};
  const std::wstring parent = win32::FinalPath(p.substr(0, slash == 2 ? 3 : slash));
  if (parent.empty()) return {};
  return win32::Narrow(win32::IsPathSeparator(parent.back()) ? parent + name : parent + L"\\" + name);
}

std::string LocateInside(const std::string& path, const std::string& root) {
  const std::string located = LocateForRemoval(path);
  const std::wstring realRoot = win32::FinalPath(win32::Wide(root));
  if (located.empty() || realRoot.empty()) return {};
  return win32::PathWithin(win32::Wide(located), realRoot, false) ? located : std::string();
}

bool IsInsidePrefix(const std::string& path) {
  const std::string located = LocateForRemoval(path);
  if (located.empty() || !StrictlyBelowDriveRoot(win32::Wide(located))) return false;
  // An existing junction or link must lead below a drive root as well.
  const std::wstring real = win32::FinalPath(win32::Wide(located));
  return real.empty() || StrictlyBelowDriveRoot(real);
}

// Never the system's folder or anything in it, and never the program folders, the shared or the
// user's application data or the user's own profile, nor a folder holding one of them, however
// the path is written or linked.
std::string RemovableTree(const std::string& dir) {
  if (!IsInsidePrefix(dir)) return {};
  const std::string located = LocateForRemoval(dir);
  const std::wstring wideLocated = win32::Wide(located);
  const std::wstring real = win32::FinalPath(wideLocated);
  const std::wstring system = win32::FinalPath(ShellFolder(CSIDL_WINDOWS));
  if (!system.empty() &&
      (win32::PathWithin(wideLocated, system, true) || (!real.empty() && win32::PathWithin(real, system, true))))
    return {};
  for (int csidl : {CSIDL_WINDOWS, CSIDL_PROFILE, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_COMMON_APPDATA,
                    CSIDL_LOCAL_APPDATA, CSIDL_APPDATA}) {
    const std::wstring kept = win32::FinalPath(ShellFolder(csidl));
    if (kept.empty()) continue;
    if (win32::PathWithin(kept, wideLocated, true) || (!real.empty() && win32::PathWithin(kept, real, true))) return {};
  }
  return located;
}

bool MayRemoveTree(const std::string& dir) { return !RemovableTree(dir).empty(); }

}  // namespace os
