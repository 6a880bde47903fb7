#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <regex>
#include <thread>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "support/Sandbox.h"

namespace {

std::string LogDir(const Sandbox& box) { return box.DriveC() + "/qvx-harlu7"; }

}  // namespace

TEST(LauncherLog, LinesHaveTheFixedFormatOnDriveC) {
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectory(LogDir(box));
  LauncherLog::Instance().Open(box.LogPath());
  EXPECT_EQ(box.LogPath(), LogDir(box) + "/" + os::ApplicationName() + ".log");
  LogInfo("Laucher Start", "CWebApp::InitInstance", "CWebApp", 130);
  LogError("QueryRegistryKey lret:2 error:2", "CGameRemoteConfig::QueryRegistryKey", "CGameRemoteConfig", 1076);
  LogInfo("更新已完成", "X::Y", "X", 1);
  LauncherLog::Instance().Close();
  std::string text = Sandbox::ReadFile(box.LogPath());
  std::regex line(
      R"(\[(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\d \d\d:\d\d:\d\d \d{4}\]\[INFO\]\[CWebApp::InitInstance::130\] Laucher Start\n)"
      R"(\[[^\]]{24}\]\[ERROR\]\[CGameRemoteConfig::QueryRegistryKey::1076\] QueryRegistryKey lret:2 error:2\n)"
      R"(\[[^\]]{24}\]\[INFO\]\[X::Y::1\] 更新已完成\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
  LogInfo("after close", "X::Y", "X", 2);
  EXPECT_EQ(Sandbox::ReadFile(box.LogPath()), text) << "writes after Close are silent";
}

TEST(LauncherLog, EachOpenStartsAFreshFileAndAMissingDirectoryIsSilent) {
  Sandbox box;
  box.MakeDrives(true);
  LauncherLog::Instance().Open(box.LogPath());  // directory missing: silent
  LogInfo("lost", "X::Y", "X", 1);
  EXPECT_FALSE(os::PathExists(LogDir(box)));
  os::MakeDirectory(LogDir(box));
  Sandbox::WriteFile(box.LogPath(), "previous run\n");
  LauncherLog::Instance().Open(box.LogPath());
  LogInfo("second run", "X::Y", "X", 1);
  LauncherLog::Instance().Close();
  std::string text = Sandbox::ReadFile(box.LogPath());
  EXPECT_EQ(text.find("previous run"), std::string::npos);
  EXPECT_NE(text.find("second run"), std::string::npos);
}

TEST(LauncherLog, ThreadsNeverInterleaveLines) {
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectory(LogDir(box));
  LauncherLog::Instance().Open(box.LogPath());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) LogInfo(std::string(100, static_cast<char>('a' + t)), "T::Run", "T", t);
    });
  for (auto& th : threads) th.join();
  LauncherLog::Instance().Close();
  std::string text = Sandbox::ReadFile(box.LogPath());
  std::regex line(R"(\[[^\]]{24}\]\[INFO\]\[T::Run::(\d)\] ([a-d])\2{99})");
  size_t count = 0, pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    ASSERT_TRUE(std::regex_match(text.substr(pos, end - pos), line)) << text.substr(pos, end - pos);
    ++count;
    pos = end + 1;
  }
  EXPECT_EQ(count, 2000u);
}

namespace {

// The descriptor flags of this process's descriptor on path, or -1 when none is open on it.
int DescriptorFlagsFor(const std::string& path) {
  for (int fd = 0; fd < 1024; ++fd) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) return fcntl(fd, F_GETFD);
  }
  return -1;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

// The log holds the player's token: private to the user whatever the umask or an older file's mode,
// never handed to a started process, and every line on disk as soon as it is logged.
TEST(LauncherLog, FileIsPrivateNotInheritedAndEachLineIsWrittenAtOnce) {
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectory(LogDir(box));
  const mode_t savedMask = umask(0);
  for (bool existed : {false, true}) {
    if (existed) {
      Sandbox::WriteFile(box.LogPath(), "older run\n");
      chmod(box.LogPath().c_str(), 0666);
    }
    LauncherLog::Instance().Open(box.LogPath());
    EXPECT_EQ(ModeOf(box.LogPath()), 0600u) << "existed " << existed;
    const int flags = DescriptorFlagsFor(box.LogPath());
    ASSERT_GE(flags, 0);
    EXPECT_TRUE(flags & FD_CLOEXEC);
    LogInfo("on disk at once", "X::Y", "X", 1);
    EXPECT_NE(Sandbox::ReadFile(box.LogPath()).find("on disk at once\n"), std::string::npos) << "not yet on disk";
    LauncherLog::Instance().Close();
  }
  umask(savedMask);

  // A launcher killed right after logging loses nothing.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LauncherLog::Instance().Open(box.LogPath());
    LogInfo("the last line before the kill", "X::Y", "X", 1);
    raise(SIGKILL);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_NE(Sandbox::ReadFile(box.LogPath()).find("the last line before the kill\n"), std::string::npos);
}

// Start-up holds its lines until it knows it is the only launcher: a refused second launcher
// leaves the running launcher's log exactly as it is (no truncation, no line, no new file).
TEST(LauncherLog, HeldLinesAreWrittenOnStartAndDroppedOnAbandon) {
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectory(LogDir(box));
  const std::string running = "[Mon Jan  1 00:00:00 2024][INFO][CWebApp::InitInstance::130] Laucher Start\n";
  Sandbox::WriteFile(box.LogPath(), running);

  LauncherLog::Instance().OpenHeld(box.LogPath());
  LogInfo("second launcher", "X::Y", "X", 1);
  EXPECT_EQ(Sandbox::ReadFile(box.LogPath()), running);
  LauncherLog::Instance().Abandon();
  LogInfo("after abandon", "X::Y", "X", 2);
  EXPECT_EQ(Sandbox::ReadFile(box.LogPath()), running);

  LauncherLog::Instance().OpenHeld(box.LogPath());
  LogInfo("held", "X::Y", "X", 3);
  LauncherLog::Instance().Start();
  LogInfo("after start", "X::Y", "X", 4);
  std::string text = Sandbox::ReadFile(box.LogPath());
  EXPECT_EQ(text.find("Laucher Start"), std::string::npos) << "the run's file starts empty";
  EXPECT_LT(text.find("[X::Y::3] held\n"), text.find("[X::Y::4] after start\n"));
  EXPECT_EQ(ModeOf(box.LogPath()), 0600u);
  LauncherLog::Instance().Close();

  // No file yet: a refused launcher creates none; a started one creates it.
  os::RemoveFile(box.LogPath());
  LauncherLog::Instance().OpenHeld(box.LogPath());
  LogInfo("refused", "X::Y", "X", 5);
  LauncherLog::Instance().Abandon();
  EXPECT_FALSE(os::PathExists(box.LogPath()));
  LauncherLog::Instance().OpenHeld(box.LogPath());
  LogInfo("first line", "X::Y", "X", 6);
  LauncherLog::Instance().Start();
  EXPECT_NE(Sandbox::ReadFile(box.LogPath()).find("[X::Y::6] first line\n"), std::string::npos);
  LauncherLog::Instance().Close();

  // The very first run: the directory appears only after the log was opened; the run stays silent.
  Sandbox fresh;
  LauncherLog::Instance().OpenHeld(fresh.LogPath());
  fresh.MakeDrives(true);
  os::MakeDirectory(fresh.InstallDir());
  LauncherLog::Instance().Start();
  LogInfo("lost", "X::Y", "X", 7);
  EXPECT_FALSE(os::PathExists(fresh.LogPath()));
}

TEST(LauncherLog, ControlCharactersInMessagesAreEscaped) {
  struct Case {
    std::string message;
    std::string written;
  } cases[] = {
      {"plain 中文 C:\\dir", "plain 中文 C:\\dir"},
      {"a\nb", "a\\nb"},
      {"x\r\n[Mon Jan  1 00:00:00 2024][INFO][CWebApp::InitInstance::130] Laucher Start",
       "x\\r\\n[Mon Jan  1 00:00:00 2024][INFO][CWebApp::InitInstance::130] Laucher Start"},
      {"tab\there", "tab\\there"},
      {std::string("nul\0bell\a", 9) + "\x1b[31m\x7f", "nul\\x00bell\\x07\\x1b[31m\\x7f"},
      {"c1 \xc2\x9b"
       "31m \xc2\xa0",
       "c1 \\u009b31m \xc2\xa0"},
  };
  for (const Case& c : cases) EXPECT_EQ(LauncherLog::EscapeControls(c.message), c.written) << c.written;

  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectory(LogDir(box));
  LauncherLog::Instance().Open(box.LogPath());
  LogInfo("method:LoginResult,paramters:true|p\n[forged][INFO][X::Y::1] line", "CWebCDlg::JavascriptToCPLUSPLUS",
          "CWebCDlg", 185);
  LauncherLog::Instance().Close();
  const std::string text = Sandbox::ReadFile(box.LogPath());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("paramters:true|p\\n[forged]"), std::string::npos) << text;
}
