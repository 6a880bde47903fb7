#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Registry.h"
#include "support/Sandbox.h"
#include "unreadable.h"

using namespace os;

namespace {
const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvx";
}

TEST(Registry, ValuesRoundTripWithCaseInsensitiveNamesAndWindowsStatuses) {
  Sandbox box;
  std::string s;
  uint32_t d = 0;
  EXPECT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey), kRegFileNotFound);
  EXPECT_EQ(RegSetString(RegRoot::CurrentUser, kKey, "InstallPath", "x"), kRegFileNotFound);
  ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey), kRegSuccess);
  EXPECT_EQ(RegOpenKey(RegRoot::CurrentUser, "SOFTWARE\\microsoft\\windows\\currentversion\\uninstall\\QVX"),
            kRegSuccess);
  EXPECT_EQ(RegOpenKey(RegRoot::CurrentUser, "Software\\Microsoft"), kRegSuccess) << "parents are created";
  EXPECT_EQ(RegOpenKey(RegRoot::LocalMachine, kKey), kRegFileNotFound) << "roots are separate";

  const std::string tricky = "C:\\qvx \"harlu7\" 中文";
  ASSERT_EQ(RegSetString(RegRoot::CurrentUser, kKey, "InstallPath", tricky), kRegSuccess);
  ASSERT_EQ(RegSetDword(RegRoot::CurrentUser, kKey, "Width", 0xFFFFFFFFu), kRegSuccess);
  EXPECT_EQ(RegQueryString(RegRoot::CurrentUser, kKey, "installpath", s), kRegSuccess);
  EXPECT_EQ(s, tricky);
  EXPECT_EQ(RegQueryDword(RegRoot::CurrentUser, kKey, "WIDTH", d), kRegSuccess);
  EXPECT_EQ(d, 0xFFFFFFFFu);
  EXPECT_EQ(RegQueryString(RegRoot::CurrentUser, kKey, "Width", s), kRegInvalidData);
  EXPECT_EQ(RegQueryString(RegRoot::CurrentUser, kKey, "Missing", s), kRegFileNotFound);

  RegType type;
  std::string raw;
  ASSERT_EQ(RegSetString(RegRoot::CurrentUser, kKey, "A", "ab"), kRegSuccess);
  ASSERT_EQ(RegQueryValue(RegRoot::CurrentUser, kKey, "A", type, raw), kRegSuccess);
  EXPECT_EQ(type, RegType::String);
  EXPECT_EQ(raw, std::string("a\0b\0\0\0", 6)) << "REG_SZ reads as UTF-16LE with its terminator";

  std::string file = Sandbox::ReadFile(box.Prefix() + "/registry/HKEY_CURRENT_USER.reg");
  EXPECT_EQ(file.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
  EXPECT_NE(file.find("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvx]"),
            std::string::npos);
  EXPECT_NE(file.find("\"Width\"=dword:ffffffff"), std::string::npos);
  EXPECT_NE(file.find("\"InstallPath\"=\"C:\\\\qvx \\\"harlu7\\\" 中文\""), std::string::npos);
}

TEST(Registry, DeleteKeyRefusesSubkeysAndReportsMissing) {
  Sandbox box;
  ASSERT_EQ(RegCreateKey(RegRoot::ClassesRoot, "qvx-harlu7\\shell"), kRegSuccess);
  EXPECT_EQ(RegDeleteKey(RegRoot::ClassesRoot, "QVX-HARLU7"), kRegAccessDenied);
  EXPECT_EQ(RegDeleteKey(RegRoot::ClassesRoot, "qvx-harlu7\\shell"), kRegSuccess);
  EXPECT_EQ(RegDeleteKey(RegRoot::ClassesRoot, "qvx-harlu7"), kRegSuccess);
  EXPECT_EQ(RegDeleteKey(RegRoot::ClassesRoot, "qvx-harlu7"), kRegFileNotFound);
}

TEST(Registry, TwoProcessesWritingAtOnceLoseNothing) {
  Sandbox box;
  ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, "Software\\race"), kRegSuccess);
  const int kPerProcess = 150;
  pid_t pids[2];
  for (int p = 0; p < 2; ++p) {
    pids[p] = fork();
    ASSERT_GE(pids[p], 0);
    if (pids[p] == 0) {
      for (int i = 0; i < kPerProcess; ++i)
        if (RegSetDword(RegRoot::CurrentUser, "Software\\race", "p" + std::to_string(p) + "_" + std::to_string(i),
                        static_cast<uint32_t>(i)) != kRegSuccess)
          _exit(1);
      _exit(0);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < 2; ++p) {
    for (int i = 0; i < kPerProcess; ++i) {
      uint32_t v = 1234567;
      ASSERT_EQ(
          RegQueryDword(RegRoot::CurrentUser, "Software\\race", "p" + std::to_string(p) + "_" + std::to_string(i), v),
          kRegSuccess)
          << "value lost: process " << p << " value " << i;
      EXPECT_EQ(v, static_cast<uint32_t>(i));
    }
  }
}

// A store file damaged by hand or by another program: each line the store cannot read is skipped
// with one ERROR line (however often the store is read), the readable values still work, and the
// next save writes the damaged lines back unchanged, where they were.
TEST(Registry, UnreadableLinesAreSkippedReportedOnceAndKept) {
  Sandbox box;
  box.MakeDrives(true);
  MakeDirectories(box.InstallDir());
  LauncherLog::Instance().Open(box.LogPath());
  MakeDirectories(box.Prefix() + "/registry");
  const std::string store = box.Prefix() + "/registry/HKEY_CURRENT_USER.reg";
  const std::vector<std::string> unreadable = {
      "\"Outside\"=\"a value before any key\"",
      "\"Width\"=dword:zz",
      "\"Height\"=dword:100000000",
      "\"Empty\"=dword:",
      "\"Blob\"=hex:01,02,03",
      "\"Open\"=\"no closing quote",
      "\"Tail\"=\"x\" and more",
      "no equals sign",
      "[HKEY_CURRENT_USER\\unclosed",
      std::string("bin\0ary\xff\xfe", 9),
  };
  std::string text = "Windows Registry Editor Version 5.00\n" + unreadable[0] +
                     "\n; a comment\n\n[HKEY_CURRENT_USER\\" + kKey + "]\n\"InstallPath\"=\"/games/qvx\"\n";
  for (size_t i = 1; i < unreadable.size(); ++i) text += unreadable[i] + "\n";
  text += "\"Good\"=dword:0000002a\n";
  Sandbox::WriteFile(store, text);

  for (int round = 0; round < 3; ++round) {
    std::string s;
    uint32_t d = 0;
    EXPECT_EQ(RegQueryString(RegRoot::CurrentUser, kKey, "InstallPath", s), kRegSuccess);
    EXPECT_EQ(s, "/games/qvx");
    EXPECT_EQ(RegQueryDword(RegRoot::CurrentUser, kKey, "Good", d), kRegSuccess);
    EXPECT_EQ(d, 42u);
    for (const char* name : {"Width", "Height", "Empty", "Blob", "Open", "Tail", "Outside"})
      EXPECT_EQ(RegQueryDword(RegRoot::CurrentUser, kKey, name, d), kRegFileNotFound) << name;
  }
  ASSERT_EQ(RegSetString(RegRoot::CurrentUser, kKey, "Added", "v"), kRegSuccess);

  const std::string saved = Sandbox::ReadFile(store);
  size_t at = 0;
  for (const std::string& line : unreadable) {
    const size_t found = saved.find(line + "\n", at);
    ASSERT_NE(found, std::string::npos) << "lost or moved: " << line << "\n" << saved;
    at = found;
  }
  EXPECT_NE(saved.find("; a comment\n"), std::string::npos);
  EXPECT_LT(saved.find("\"InstallPath\""), saved.find("\"Width\"=dword:zz"));
  EXPECT_NE(saved.find("\"Added\"=\"v\"\n"), std::string::npos);

  LauncherLog::Instance().Close();
  const std::string log = Sandbox::ReadFile(box.LogPath());
  size_t errors = 0;
  for (size_t p = log.find("[ERROR][Registry::Load::"); p != std::string::npos;
       p = log.find("[ERROR][Registry::Load::", p + 1))
    ++errors;
  EXPECT_EQ(errors, unreadable.size()) << log;
  EXPECT_NE(log.find("unreadable line kept as it is: HKEY_CURRENT_USER.reg:7: \"Width\"=dword:zz\n"), std::string::npos)
      << log;
}

// Something other than a file at a store's path (a pipe nobody writes to) reads as an empty store
// instead of blocking the launcher for ever; a save replaces it.
TEST(Registry, AStoreThatIsNoFileReadsAsEmpty) {
  Sandbox box;
  MakeDirectories(box.Prefix() + "/registry");
  const std::string store = box.Prefix() + "/registry/HKEY_CURRENT_USER.reg";
  ASSERT_EQ(mkfifo(store.c_str(), 0600), 0);
  EXPECT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey), kRegFileNotFound);
  ASSERT_EQ(RegCreateKey(RegRoot::CurrentUser, kKey), kRegSuccess);
  EXPECT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey), kRegSuccess);
}

// A store file that exists but cannot be read in full (no permission, an I/O error) is not taken
// for an empty store: every call fails with a Windows status, the failure is logged, and no change
// saves a store over the values it could not read.
TEST(Registry, AStoreThatCannotBeReadIsNeverSavedOver) {
  struct Case {
    const char* what;
    bool noPermission;  // else a link to a file whose read fails with EIO
    long status;
  } cases[] = {
      {"no permission", true, kRegAccessDenied},
      {"a read error", false, kRegIoFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    box.MakeDrives(true);
    MakeDirectories(box.InstallDir());
    LauncherLog::Instance().Open(box.LogPath());
    MakeDirectories(box.Prefix() + "/registry");
    const std::string store = box.Prefix() + "/registry/HKEY_CURRENT_USER.reg";
    const std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\" + std::string(kKey) +
                             "]\n\"InstallPath\"=\"/games/qvx\"\n";
    if (c.noPermission) {
      Sandbox::WriteFile(store, text);
    } else {
      ASSERT_EQ(symlink("/proc/self/mem", store.c_str()), 0);  // address 0 is never mapped: EIO
    }
    {
      std::optional<UnreadableFile> unreadable;
      if (c.noPermission) unreadable.emplace(box.Root(), store);
      std::string s;
      EXPECT_EQ(RegOpenKey(RegRoot::CurrentUser, kKey), c.status);
      EXPECT_EQ(RegQueryString(RegRoot::CurrentUser, kKey, "InstallPath", s), c.status);
      EXPECT_EQ(RegCreateKey(RegRoot::CurrentUser, "Software\\Other"), c.status);
      EXPECT_EQ(RegSetString(RegRoot::CurrentUser, kKey, "Added", "v"), c.status);
      EXPECT_EQ(RegDeleteKey(RegRoot::CurrentUser, kKey), c.status);
    }
    LauncherLog::Instance().Close();
    if (c.noPermission) {
      chmod(store.c_str(), 0600);
      EXPECT_EQ(Sandbox::ReadFile(store), text);
    } else {
      struct stat st {};
      ASSERT_EQ(lstat(store.c_str(), &st), 0);
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << "replaced by a save";
    }
    const std::string log = Sandbox::ReadFile(box.LogPath());
    EXPECT_NE(log.find("[ERROR][Registry::Load::"), std::string::npos) << log;
    EXPECT_NE(log.find("cannot read " + store), std::string::npos) << log;
  }
}
