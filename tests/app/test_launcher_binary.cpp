// Start-up and exit of the real launcher binary in a sandbox (no display, except for the exit
// with a hung worker). The binary reports to the compiled-in server address, so these tests share
// a lock with the end-to-end tests.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <regex>

#include <chrono>
#include <thread>
#include <vector>

#include <httplib.h>

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

// The player closes the launcher while its update worker hangs in a read of the package an earlier
// run left (a disk that hangs while its digest is taken). The launcher waits its bounded time,
// then ends at once with its exit code, its log and its resume state written, and without running
// static destructors or library clean-ups under the worker (they would run inside exit()).
TEST(Launcher, ClosedWhileItsWorkerHangsEndsPromptlyWithoutExitCleanUps) {
  const char* display = std::getenv("DISPLAY");
  const char* shim = STUCK_READ_SHIM;
  if (!display || !*display) GTEST_SKIP() << "needs an X display";
  using namespace std::chrono_literals;

  Sandbox box;
  box.MakeDrives(true);
  const std::string install = box.InstallDir();
  os::MakeDirectories(install + "/client");
  Sandbox::WriteFile(install + "/client/game_client_version.txt", "1.0.0.1");
  const std::string package = install + "/qvx.zip";
  Sandbox::WriteFile(package, std::string(3 << 20, 'p'));
  const std::string state = "downloadVersion=1.0.3.7\noffset=3145728\ntotalSize=3145728\n";
  Sandbox::WriteFile(install + "/tempdownload.dat", state);

  // The configuration offers the version the package was left for, with a hash to check it by.
  const std::string base = identity::ServerBase;
  const int port = std::atoi(base.substr(base.rfind(':') + 1).c_str());
  const std::string configUrl = identity::RemoteConfigUrl;
  const std::string configPath = configUrl.substr(base.size(), configUrl.find('?') - base.size());
  httplib::Server server;
  server.Get(configPath, [&](const httplib::Request&, httplib::Response& res) {
    res.set_content("ClientVersion=1.0.3.7\nClientMiniUpdateVersion=1.0.3.7\nClientDownloadUrl=" + base +
                        "/p.zip\nClient32DownloadUrl=" + base + "/p.zip\nEntryUrl=" + base +
                        "/page\nClientPackageSha256=" + std::string(64, 'a') +
                        // A well-formed signature, so that a build with a package key (the demo's)
                        // also goes on to read the package; the read hangs before it is checked.
                        "\nClientPackageSignature=" + std::string(86, 'A') + "==\n",
                    "text/plain");
  });
  server.Get("/page", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html><body>login</body></html>", "text/html");
  });
  server.Post(".*", [](const httplib::Request&, httplib::Response& res) { res.set_content("{}", "text/plain"); });
  // Connections the run before closed may still wait on the port: reuse it, as the demo server does.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  ASSERT_TRUE(server.bind_to_port("127.0.0.1", port)) << "port " << port << " busy";
  std::thread serving([&server] { server.listen_after_bind(); });

  const std::string witness = box.Root() + "/exit-clean-ups-ran";
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("WAYLAND_DISPLAY=", 0) != 0 && entry.rfind("LD_PRELOAD=", 0) != 0) env.push_back(entry);
  }
  env.push_back(std::string("LD_PRELOAD=") + shim);
  env.push_back("VELLMORA_STUCK_FILE=" + package);
  env.push_back("VELLMORA_EXIT_WITNESS=" + witness);
  env.push_back("NO_AT_BRIDGE=1");
  env.push_back("GDK_BACKEND=x11");
  env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + box.Root() + "/no-bus");
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const char* exe = std::getenv("VELLMORA_EXE");
  std::string program = exe ? exe : "vellmora";
  char* argv[] = {program.data(), nullptr};

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 1);
    dup2(quiet, 2);
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }

  // Wait until the worker hangs in the package's read, then close the launcher.
  int status = -1;
  bool exited = false;
  // Polls until done() or the launcher has ended, for at most limit.
  auto poll = [&](std::chrono::seconds limit, auto done) {
    for (auto until = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < until;) {
      exited = exited || waitpid(pid, &status, WNOHANG) == pid;
      if (exited || done()) return;
      std::this_thread::sleep_for(50ms);
    }
  };
  poll(30s, [&] { return os::PathExists(package + ".stuck"); });
  const bool stuck = os::PathExists(package + ".stuck");
  const auto closedAt = std::chrono::steady_clock::now();
  if (!exited) kill(pid, SIGTERM);
  poll(20s, [] { return false; });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - closedAt).count();
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  server.stop();
  serving.join();

  const std::string log = Sandbox::ReadFile(install + "/vellmora.log");
  ASSERT_TRUE(stuck) << "the worker never reached the package\n" << log;
  ASSERT_TRUE(exited) << "still running 20 s after the close";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_LT(seconds, 10.0);  // the worker's 3 s and the reports' 3 s at most
  EXPECT_FALSE(os::PathExists(witness + "." + std::to_string(pid))) << "exit clean-ups ran under the live worker";
  // The log is complete up to the last line of the exit, and the package stays for the next run.
  EXPECT_NE(log.find("[INFO][CWebApp::OnWndDestroy::63] wnd destory\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[ERROR][CWebApp::InitInstance::131] update worker still running at exit\n"), std::string::npos)
      << log;
  EXPECT_EQ(Sandbox::ReadFile(package), std::string(3 << 20, 'p'));
  const std::string saved = Sandbox::ReadFile(install + "/tempdownload.dat");
  EXPECT_NE(saved.find("offset=3145728"), std::string::npos) << saved;
}
