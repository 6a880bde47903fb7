#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "os/Registry.h"
#include "support/Sandbox.h"

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
