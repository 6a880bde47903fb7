#include <gtest/gtest.h>

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
