// The real launcher binary (no display) against hostile local files: a damaged registry store,
// another launcher's log, an older log's mode. It reports to the compiled-in server address, so
// these tests share a lock with the other tests of the binary.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "os/FileSystem.h"
#include "os/InstanceLock.h"
#include "support/Sandbox.h"

namespace {

// Runs the launcher binary without a display (through wrapper, a command that runs its arguments,
// when given); returns its exit status, stderr in *err.
int RunLauncher(const Sandbox& box, std::string* err = nullptr, const std::string& wrapper = std::string()) {
  const char* exe = std::getenv("VELLMORA_EXE");
  const std::string errFile = box.Root() + "/stderr.txt";
  const int status = RunShell(wrapper + "env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 '" +
                              std::string(exe ? exe : "vellmora") + "' 2>'" + errFile + "' >/dev/null");
  if (err) *err = Sandbox::ReadFile(errFile);
  return status;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The binary's log (Sandbox::LogPath names this test program's).
std::string LogOf(const Sandbox& box) { return box.InstallDir() + "/vellmora.log"; }

const char kUninstallKey[] = "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvx]";

}  // namespace

// Whatever a store file holds, the launcher starts; the lines it cannot read are reported and
// still there afterwards.
TEST(HostileFiles, ADamagedRegistryStoreNeverStopsAStart) {
  const std::string cases[] = {
      "\"InstallPath\"=dword:zz",
      "\"InstallPath\"=dword:123456789abcdef",
      "\"InstallPath\"=\"no closing quote",
      "\"InstallPath\"=hex(2):2f,00,74,00,00,00",
      std::string("\"InstallPath\"=\"a\0b\"\xff", sizeof "\"InstallPath\"=\"a\0b\"\xff" - 1),
      "@=dword:",
  };
  for (const std::string& line : cases) {
    Sandbox box;
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir() + "/client");
    os::MakeDirectories(box.Prefix() + "/registry");
    const std::string store = box.Prefix() + "/registry/HKEY_CURRENT_USER.reg";
    Sandbox::WriteFile(store, "Windows Registry Editor Version 5.00\n" + line + "\n\n" + kUninstallKey + "\n" + line +
                                  "\n\"DisplayName\"=\"Vellmora\"\n");
    EXPECT_EQ(RunLauncher(box), 0) << line;
    const std::string log = Sandbox::ReadFile(LogOf(box));
    EXPECT_NE(log.find("[INFO][CWebApp::InitInstance::130] Laucher Start\n"), std::string::npos) << line << log;
    EXPECT_NE(log.find("[ERROR][Registry::Load::"), std::string::npos) << line << log;
    const std::string after = Sandbox::ReadFile(store);
    EXPECT_NE(after.find(kUninstallKey + std::string("\n") + line + "\n"), std::string::npos) << line << after;
  }
}

// A launcher refused because another one runs leaves that launcher's log exactly as it is, wherever
// the instance lock lives (the private runtime directory, else the prefix).
TEST(HostileFiles, ASecondLauncherLeavesTheRunningLogUntouched) {
  for (bool runtimeDir : {true, false}) {
    Sandbox box;
    if (!runtimeDir) unsetenv("XDG_RUNTIME_DIR");
    box.MakeDrives(true);
    os::MakeDirectories(box.InstallDir() + "/client");
    const std::string running =
        "[Mon Jan  1 00:00:00 2024][INFO][CWebApp::InitInstance::130] Laucher Start\n"
        "[Mon Jan  1 00:00:01 2024][INFO][CWebCDlg::JavascriptToCPLUSPLUS::185] method:LoginResult,paramters:x\n";
    Sandbox::WriteFile(LogOf(box), running);
    chmod(LogOf(box).c_str(), 0600);
    os::InstanceLock first;  // the running launcher
    ASSERT_EQ(first.Acquire("qvx"), os::InstanceLock::Result::Acquired);
    std::string err;
    EXPECT_EQ(RunLauncher(box, &err), 0);
    EXPECT_NE(err.find("游戏已启动"), std::string::npos) << err;
    EXPECT_EQ(Sandbox::ReadFile(LogOf(box)), running) << (runtimeDir ? "runtime dir" : "prefix");
    EXPECT_EQ(ModeOf(LogOf(box)), 0600u);
  }
}

// The log holds the player's token: a run makes it private, whatever an older file's mode was.
TEST(HostileFiles, TheRunsLogIsPrivate) {
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectories(box.InstallDir() + "/client");
  Sandbox::WriteFile(LogOf(box), "older run\n");
  chmod(LogOf(box).c_str(), 0644);
  const mode_t savedMask = umask(0);
  EXPECT_EQ(RunLauncher(box), 0);
  umask(savedMask);
  const std::string log = Sandbox::ReadFile(LogOf(box));
  EXPECT_EQ(log.find("older run"), std::string::npos);
  EXPECT_NE(log.find("Laucher Start"), std::string::npos) << log;
  EXPECT_EQ(ModeOf(LogOf(box)), 0600u);
}

// A process list that cannot be read (a sandbox whose /proc is missing or closed) is no running
// game: the launcher logs it and starts instead of refusing every start. The launcher runs with a
// private /proc that nobody may open and without the capabilities that let root past file modes.
TEST(HostileFiles, AnUnreadableProcessListDoesNotRefuseTheStart) {
  const std::string closedProc =
      "unshare -m --propagation private sh -c 'mount -t tmpfs -o mode=000 none /proc && exec setpriv "
      "--bounding-set=-dac_override,-dac_read_search --inh-caps=-all \"$@\"' sh ";
  if (RunShell(closedProc + "true") != 0 || RunShell(closedProc + "ls /proc >/dev/null 2>&1") == 0)
    GTEST_SKIP() << "no private, closed /proc here (needs root and mount namespaces)";
  Sandbox box;
  box.MakeDrives(true);
  os::MakeDirectories(box.InstallDir() + "/client");
  std::string err;
  EXPECT_EQ(RunLauncher(box, &err, closedProc), 0);
  EXPECT_EQ(err.find("游戏已启动"), std::string::npos) << err;
  const std::string log = Sandbox::ReadFile(LogOf(box));
  EXPECT_NE(log.find("[ERROR][CWebApp::IsGameRunning::375] get snapshot error\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[INFO][CWebApp::InitInstance::130] Laucher Start\n"), std::string::npos) << log;
}
