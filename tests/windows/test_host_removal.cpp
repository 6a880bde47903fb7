// Removing and replacing files on Windows: folder removal that never enters a junction or a
// symbolic link, replacement files and copies over read-only files, where removals are confined,
// and folders made below a root that a junction cannot lead out of.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "WinTestFolder.h"
#include "os/ContainedFolders.h"
#include "os/FileSystem.h"
#include "os/Prefix.h"
#include "os/RemoveTree.h"
#include "os/ReplacementFile.h"
#include "os/base/Win32Path.h"

namespace {

// A mount-point reparse buffer (a junction), as FSCTL_SET_REPARSE_POINT takes it.
struct MountPointBuffer {
  DWORD tag;
  WORD dataLength;
  WORD reserved;
  WORD substituteOffset;
  WORD substituteLength;
  WORD printOffset;
  WORD printLength;
  wchar_t paths[1024];
};

// Makes link a junction to target (an existing folder); false when the file system takes none.
bool MakeJunction(const std::string& link, const std::string& target) {
  if (!CreateDirectoryW(os::win32::Wide(link).c_str(), nullptr)) return false;
  os::win32::Handle h(CreateFileW(os::win32::Wide(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.IsValid()) return false;
  const std::wstring substitute = L"\\??\\" + os::win32::Wide(target);
  const std::wstring print = os::win32::Wide(target);
  MountPointBuffer buffer{};
  buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
  buffer.substituteOffset = 0;
  buffer.substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  buffer.printOffset = static_cast<WORD>(buffer.substituteLength + sizeof(wchar_t));
  buffer.printLength = static_cast<WORD>(print.size() * sizeof(wchar_t));
  std::memcpy(buffer.paths, substitute.c_str(), buffer.substituteLength + sizeof(wchar_t));
  std::memcpy(reinterpret_cast<char*>(buffer.paths) + buffer.printOffset, print.c_str(),
              buffer.printLength + sizeof(wchar_t));
  buffer.dataLength = static_cast<WORD>(4 * sizeof(WORD) + buffer.printOffset + buffer.printLength + sizeof(wchar_t));
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(h.Get(), FSCTL_SET_REPARSE_POINT, &buffer, buffer.dataLength + 8, nullptr, 0, &returned, nullptr);
  if (!ok) RemoveDirectoryW(os::win32::Wide(link).c_str());
  return ok && os::win32::IsReparsePoint(os::win32::Wide(link));
}

bool MakeFolderSymlink(const std::string& link, const std::string& target) {
  return CreateSymbolicLinkW(os::win32::Wide(link).c_str(), os::win32::Wide(target).c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
         os::win32::IsReparsePoint(os::win32::Wide(link));
}

void Write(const std::string& path, const std::string& text) { ASSERT_EQ(os::WriteFileAtomically(path, text), 0); }

std::string Read(const std::string& path) {
  std::string text;
  return os::ReadFile(path, text) ? text : "<missing>";
}

bool ReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(os::win32::Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void MakeReadOnly(const std::string& path) {
  ASSERT_TRUE(SetFileAttributesW(os::win32::Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
}

}  // namespace

// A tree holding a link to a folder outside it: the link goes, what it leads to stays.
TEST(RemoveTreeWindows, ALinkInsideTheTreeIsRemovedAsALinkAndNeverEntered) {
  struct Case {
    const char* kind;
    bool (*make)(const std::string&, const std::string&);
  };
  const Case cases[] = {{"junction", MakeJunction}, {"symbolic link", MakeFolderSymlink}};
  int made = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    WinTestFolder dir;
    const std::string outside = dir / "outside";
    ASSERT_EQ(os::MakeDirectories(outside), 0);
    Write(outside + "\\keep.txt", "keep");
    const std::string tree = dir / "client";
    ASSERT_EQ(os::MakeDirectories(tree + "\\qvx\\data"), 0);
    Write(tree + "\\qvx\\data\\a.bin", "a");
    if (!c.make(tree + "\\qvx\\link", outside)) continue;  // not on this file system
    ++made;
    std::vector<std::string> entered;
    EXPECT_TRUE(os::RemoveTree(tree, [&](const std::string& d) { entered.push_back(d); }));
    EXPECT_FALSE(os::PathExists(tree));
    EXPECT_EQ(Read(outside + "\\keep.txt"), "keep");
    for (const std::string& d : entered) EXPECT_EQ(d.find("link"), std::string::npos) << d;
    // The link itself given as the tree is not touched, nor what it leads to.
    ASSERT_EQ(os::MakeDirectories(tree), 0);
    ASSERT_TRUE(c.make(tree + "\\link", outside));
    EXPECT_FALSE(os::RemoveTree(tree + "\\link"));
    EXPECT_EQ(Read(outside + "\\keep.txt"), "keep");
    EXPECT_TRUE(os::win32::IsReparsePoint(os::win32::Wide(tree + "\\link")));
    RemoveDirectoryW(os::win32::Wide(tree + "\\link").c_str());
  }
  if (made == 0) GTEST_SKIP() << "this file system makes neither junctions nor symbolic links";
}

TEST(RemoveTreeWindows, AReadOnlyFileKeepsItsFoldersAndTheRestGoes) {
  WinTestFolder dir;
  const std::string tree = dir / "client";
  ASSERT_EQ(os::MakeDirectories(tree + "\\a\\b"), 0);
  Write(tree + "\\a\\b\\locked.txt", "x");
  Write(tree + "\\a\\free.txt", "y");
  Write(tree + "\\top.txt", "z");
  MakeReadOnly(tree + "\\a\\b\\locked.txt");
  EXPECT_FALSE(os::RemoveTree(tree));
  EXPECT_TRUE(os::PathExists(tree + "\\a\\b\\locked.txt"));
  EXPECT_FALSE(os::PathExists(tree + "\\a\\free.txt"));
  EXPECT_FALSE(os::PathExists(tree + "\\top.txt"));
  SetFileAttributesW(os::win32::Wide(tree + "\\a\\b\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(os::RemoveTree(tree));
  // A file is no tree.
  Write(dir / "file", "f");
  EXPECT_FALSE(os::RemoveTree(dir / "file"));
  EXPECT_TRUE(os::PathExists(dir / "file"));
}

TEST(ReplacementFileWindows, ReplacesAReadOnlyFileAndCarriesTheModesReadOnlyBit) {
  WinTestFolder dir;
  struct Case {
    unsigned mode;
    bool readOnlyAfter;
  };
  for (const Case& c : {Case{0, false}, Case{0644, false}, Case{0444, true}}) {
    SCOPED_TRACE(c.mode);
    const std::string path = dir / "qvx.dll";
    Write(path, "old");
    MakeReadOnly(path);
    {
      os::ReplacementFile file(path, c.mode);
      ASSERT_TRUE(file.Output().IsOpen()) << file.Error();
      ASSERT_EQ(file.Output().Write("new", 3), 0);
      EXPECT_EQ(Read(path), "old");  // nothing under the real name until the commit
      EXPECT_EQ(file.Commit(), 0);
    }
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(ReadOnly(path), c.readOnlyAfter);
    SetFileAttributesW(os::win32::Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  // Not committed: the old file stays and no temporary file is left.
  const std::string path = dir / "kept.txt";
  Write(path, "old");
  {
    os::ReplacementFile file(path, 0444);
    ASSERT_EQ(file.Output().Write("half", 4), 0);
  }
  EXPECT_EQ(Read(path), "old");
  WIN32_FIND_DATAW entry{};
  HANDLE find = FindFirstFileW(os::win32::Wide(dir / "kept.txt.tmp-*").c_str(), &entry);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

TEST(CopyFileOverWindows, CopiesOverAReadOnlyTargetAndOntoItselfLeavesTheFile) {
  WinTestFolder dir;
  Write(dir / "from.exe", "launcher");
  Write(dir / "to.exe", "older");
  MakeReadOnly(dir / "to.exe");
  EXPECT_EQ(os::CopyFileOver(dir / "from.exe", dir / "to.exe"), 0);
  EXPECT_EQ(Read(dir / "to.exe"), "launcher");
  // The launcher started from its own copy copies itself onto itself, written another way.
  EXPECT_EQ(os::CopyFileOver(dir / "from.exe", dir.Path() + "\\.\\FROM.exe"), 0);
  EXPECT_EQ(Read(dir / "from.exe"), "launcher");
  EXPECT_EQ(os::CopyFileOver(dir / "missing.exe", dir / "to.exe"), ENOENT);
  EXPECT_EQ(Read(dir / "to.exe"), "launcher");
}

// The confinement of removals: below a drive root, never a folder that holds the system's or the
// users' folders, and a junction is located where it stands, not where it leads.
TEST(PrefixWindows, RemovalsStayBelowADriveRootAndAwayFromTheSystemsFolders) {
  WinTestFolder dir;
  ASSERT_EQ(os::MakeDirectories(dir / "qvx-harlu7\\client"), 0);
  EXPECT_EQ(os::RemovableTree(dir / "qvx-harlu7\\client"), os::win32::FinalPath(dir.Path()) + "\\qvx-harlu7\\client");
  EXPECT_EQ(os::RemovableTree(dir / "qvx-harlu7\\x\\..\\client"),
            os::win32::FinalPath(dir.Path()) + "\\qvx-harlu7\\client");
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::string system = os::win32::Narrow(windows, wcslen(windows));
  for (const std::string& refused :
       {std::string("C:\\"), std::string("C:"), std::string("C:\\."), std::string("relative\\client"), system,
        system + "\\System32", os::HomeDir(), os::DirName(os::HomeDir()), std::string("")}) {
    SCOPED_TRACE(refused);
    EXPECT_EQ(os::RemovableTree(refused), "");
  }
  EXPECT_TRUE(os::IsInsidePrefix(dir / "qvx-harlu7"));
  EXPECT_FALSE(os::IsInsidePrefix("C:\\"));
  EXPECT_EQ(os::LocateInside(dir / "qvx-harlu7\\client", dir / "qvx-harlu7"),
            os::win32::FinalPath(dir.Path()) + "\\qvx-harlu7\\client");
  EXPECT_EQ(os::LocateInside(dir / "qvx-harlu7\\..\\other", dir / "qvx-harlu7"), "");
  // A junction inside the start menu leading to the system's folder is located as the junction.
  if (MakeJunction(dir / "qvx-harlu7\\to-windows", system)) {
    EXPECT_EQ(os::LocateInside(dir / "qvx-harlu7\\to-windows\\System32", dir / "qvx-harlu7"), "");
    EXPECT_EQ(os::RemovableTree(dir / "qvx-harlu7\\to-windows"), "");
    RemoveDirectoryW(os::win32::Wide(dir / "qvx-harlu7\\to-windows").c_str());
  }
}

TEST(ContainedFoldersWindows, FoldersAreMadeBelowTheRootAndAJunctionOutIsRefused) {
  WinTestFolder dir;
  ASSERT_EQ(os::MakeDirectories(dir / "client"), 0);
  ASSERT_EQ(os::MakeDirectories(dir / "outside"), 0);
  os::ContainedFolders folders(dir / "client");
  ASSERT_EQ(folders.Error(), 0);
  EXPECT_EQ(folders.Make("qvx/data/maps"), 0);
  EXPECT_TRUE(os::IsDirectory(dir / "client\\qvx\\data\\maps"));
  EXPECT_EQ(folders.Make("../outside/x"), EINVAL);
  EXPECT_EQ(folders.Make("qvx\\..\\..\\outside"), EINVAL);
  EXPECT_EQ(folders.Make("C:/x"), EINVAL);
  Write(dir / "client\\file", "f");
  EXPECT_EQ(folders.Make("file/x"), ENOTDIR);
  if (MakeJunction(dir / "client\\out", dir / "outside")) {
    EXPECT_EQ(folders.Make("out/x"), os::ContainedFolders::kLeadsOutside);
    EXPECT_FALSE(os::PathExists(dir / "outside\\x"));
    // One leading to another folder of the root is followed.
    ASSERT_TRUE(MakeJunction(dir / "client\\inner", dir / "client\\qvx"));
    EXPECT_EQ(folders.Make("inner/more"), 0);
    EXPECT_TRUE(os::IsDirectory(dir / "client\\qvx\\more"));
    RemoveDirectoryW(os::win32::Wide(dir / "client\\out").c_str());
    RemoveDirectoryW(os::win32::Wide(dir / "client\\inner").c_str());
  }
}
