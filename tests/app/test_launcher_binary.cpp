// Start-up of the real launcher binary in a sandbox (no display). The binary reports to the
// compiled-in server address, so these tests share a lock with the end-to-end tests.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <regex>

#include <chrono>

#include "Identity.h"

#include "os/FileSystem.h"
#include "os/InstanceLock.h"
#include "os/Registry.h"
#include "support/Sandbox.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvx";

struct RunResult {
  int status = -1;
  std::string err;
};

// Runs the launcher binary without a display; stderr is captured.
RunResult RunLauncher(const Sandbox& box, const std::string& args = "") {
  const char* exe = std::getenv("VELLMORA_EXE");
  std::string errFile = box.Root() + "/stderr.txt";
  std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 '" + std::string(exe ? exe : "vellmora") + "' " +
                    args + " 2>'" + errFile + "' >/dev/null";
  RunResult r;
  r.status = RunShell(cmd);
  r.err = Sandbox::ReadFile(errFile);
  return r;
}

}  // namespace

TEST(Launcher, FirstRunSettlesTheLayoutAndLogsTheNextRun) {
  Sandbox box;
  RunResult first = RunLauncher(box);
  std::string install = box.InstallDir();
  EXPECT_TRUE(os::IsDirectory(install + "/client"));
  // The very first run opens its log before the directory exists: it stays silent.
  RunResult second = RunLauncher(box);
  std::string log = Sandbox::ReadFile(install + "/vellmora.log");
  std::regex lines(
      R"(\[[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d \d{4}\]\[INFO\]\[CWebApp::InitApplication::227\] )" +
      install + R"(\n)");
  EXPECT_TRUE(std::regex_search(log, lines)) << log;
  EXPECT_NE(log.find("[CWebApp::InitApplication::228] " + install + "/client\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[CWebApp::InitInstance::130] Laucher Start\n"), std::string::npos) << log;
  // A third run truncates the log: the start-up lines appear once.
  RunLauncher(box);
  log = Sandbox::ReadFile(install + "/vellmora.log");
  EXPECT_EQ(log.find("Laucher Start"), log.rfind("Laucher Start")) << log;
}

TEST(Launcher, UncreatableInstallDirGivesTheDataDirectoryMessage) {
  Sandbox box;
  box.MakeDrives(true);
  Sandbox::WriteFile(box.InstallDir(), "a file where the directory belongs");
  RunResult r = RunLauncher(box);
  EXPECT_EQ(r.status, 1) << "ends with a failure code, without a window";
  EXPECT_NE(r.err.find("创建数据目录失败,错误id:17"), std::string::npos) << r.err;  // EEXIST
}

TEST(Launcher, SecondInstanceIsRefused) {
  Sandbox box;
  os::InstanceLock other;  // stands for a launcher that is already running
  ASSERT_EQ(other.Acquire("qvx"), os::InstanceLock::Result::Acquired);
  RunResult r = RunLauncher(box);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("游戏已启动"), std::string::npos) << r.err;
  std::string log = Sandbox::ReadFile(box.InstallDir() + "/vellmora.log");
  EXPECT_EQ(log.find("Laucher Start"), std::string::npos);
}

TEST(Launcher, RegistryValueIsUsedWithoutDrives) {
  Sandbox box;
  os::MakeDirectories(box.Prefix());  // a prefix without drives: no C:, no D:
  std::string target = box.Root() + "/games/qvx-custom";
  os::MakeDirectories(box.Root() + "/games");
  ASSERT_EQ(os::RegCreateKey(os::RegRoot::CurrentUser, kUninstallKey), os::kRegSuccess);
  ASSERT_EQ(os::RegSetString(os::RegRoot::CurrentUser, kUninstallKey, "InstallPath", target), os::kRegSuccess);
  RunLauncher(box);
  EXPECT_TRUE(os::IsDirectory(target + "/client"));
  EXPECT_FALSE(os::PathExists(box.DriveC()));
}

// A telemetry server that takes connections and never answers must neither delay start-up nor
// keep the process alive for long after its window is gone (reports get at most 3 s at exit).
TEST(Launcher, SilentTelemetryServerDelaysNeitherStartNorExit) {
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectories(box.InstallDir());
  std::string base = identity::ServerBase;  // http://host:port
  int port = std::atoi(base.substr(base.rfind(':') + 1).c_str());
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << "port " << port << " busy";
  ASSERT_EQ(listen(listener, 64), 0);  // connections complete in the backlog; nothing is ever read

  auto start = std::chrono::steady_clock::now();
  RunResult r = RunLauncher(box);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(listener);

  std::string log = Sandbox::ReadFile(box.InstallDir() + "/vellmora.log");
  EXPECT_NE(log.find("[WebLogger::Log::71] "), std::string::npos) << log;
  EXPECT_NE(log.find("Laucher Start"), std::string::npos) << log;
  // Without a display the window closes at once; what remains is the bounded report shutdown.
  EXPECT_LT(seconds, 8.0) << "a blocked report kept the launcher alive";
}
