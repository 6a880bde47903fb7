// Hostile values on the game's command line, through the real launch: the page's login
// parameters, the configuration's CustomParameters and the luapath text each reach the game as
// exactly one argument whatever they hold, and the game inherits no descriptor of the launcher
// besides standard input, output and error. The game is a probe that records both.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <glib.h>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/LauncherLog.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "support/RecordingMainView.h"
#include "support/Sandbox.h"
#include "support/TestContext.h"
#include "ui/CWebCDlg.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"

namespace {

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end = text.find(separator); end != std::string::npos; end = text.find(separator, start)) {
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

struct HostileLaunch : ::testing::Test {
  void SetUp() override {
    box.MakeDrives(true);
    gameDir = box.InstallDir() + "/client/qvx";
    os::MakeDirectories(gameDir);
    ASSERT_EQ(os::CopyFileOver(FAKE_GAME, gameDir + "/qvx"), 0);
    savedArgs = os::SplitCommandLine(os::FullCommandLine());
    SetArguments({"/opt/Vell Launcher/vellmora", "--token=ab", "--winid=12"});
    if (const char* d = std::getenv("DISPLAY")) savedDisplay = d;
    unsetenv("DISPLAY");
    char cwd[PATH_MAX];
    savedCwd = getcwd(cwd, sizeof cwd) ? cwd : "/";
    workDir = box.Root() + "/cwd";
    os::MakeDirectories(workDir);
    ASSERT_EQ(chdir(workDir.c_str()), 0);
    ui::UiThreadInit();
  }
  void TearDown() override {
    ui::UiThreadShutdown();
    ASSERT_EQ(chdir(savedCwd.c_str()), 0);
    SetArguments(savedArgs);
    if (!savedDisplay.empty()) setenv("DISPLAY", savedDisplay.c_str(), 1);
  }

  // One launch: ready, then the page's login with loginParameters; returns what the game got.
  std::vector<std::string> Launch(const std::string& loginParameters, const std::string& config,
                                  const char* luaPathFile) {
    TestContext run(os::ArgumentString());
    run.SettleIn(box.InstallDir());
    run.Get().remoteConfig.Parse(config);
    os::RemoveFile(workDir + "/luapath.txt");
    if (luaPathFile) Sandbox::WriteFile(workDir + "/luapath.txt", luaPathFile);
    os::RemoveFile(gameDir + "/argv.bin");
    RecordingMainView view;
    CWebDlg window(run.Get());
    window.CreateContent();
    window.AttachView(&view);
    window.Content()->SetReady();
    window.Content()->OnLoginResult("true|" + loginParameters);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::find(view.calls.begin(), view.calls.end(), "end 2") == view.calls.end() &&
           std::chrono::steady_clock::now() < deadline) {
      g_main_context_iteration(nullptr, FALSE);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    LauncherLog::Instance().Close();
    log = Sandbox::ReadFile(box.LogPath());
    return SplitAt(Sandbox::ReadFile(gameDir + "/argv.bin"), '\0');
  }

  Sandbox box;
  std::string gameDir, workDir, savedCwd, savedDisplay, log;
  std::vector<std::string> savedArgs;
};

TEST_F(HostileLaunch, EachOutsideValueIsExactlyOneArgument) {
  struct Case {
    const char* what;
    std::string login;
    std::string custom;
    const char* luaPathFile;
    std::vector<std::string> tail;  // what the game receives after the launcher's own arguments
  } cases[] = {
      {"ordinary values", "p=1&q=2", "k=v", nullptr, {"--parameters=p=1&q=2", "--plat_extra=k=v"}},
      {"an added argument", "x --token=evil", "", nullptr, {"--parameters=x --token=evil", "--plat_extra="}},
      {"a stray quote", "a\"b", "k=v", nullptr, {"--parameters=a\"b", "--plat_extra=k=v"}},
      {"a quote that would swallow the next value",
       "p\" --plat_extra=forged \"",
       "real",
       nullptr,
       {"--parameters=p\" --plat_extra=forged \"", "--plat_extra=real"}},
      {"backslashes before quotes and at the end",
       "a\\\\\" b\\",
       "c:\\dir\\",
       nullptr,
       {"--parameters=a\\\\\" b\\", "--plat_extra=c:\\dir\\"}},
      {"blanks and tabs in the configuration",
       "p",
       "--fullscreen \"1\"\t-x",
       nullptr,
       {"--parameters=p", "--plat_extra=--fullscreen \"1\"\t-x"}},
      {"an empty login", "", "", nullptr, {"--parameters=", "--plat_extra="}},
      {"non-ASCII text", "名前=値 x", "", nullptr, {"--parameters=名前=値 x", "--plat_extra="}},
      {"a luapath with blanks and quotes",
       "p",
       "",
       "C:\\Program Files\\lua \"x\" --token=evil\r\n",
       {"--parameters=p", "--plat_extra=", "--luapath=C:\\Program Files\\lua \"x\" --token=evil\n"}},
      {"an ordinary luapath", "p", "", "/games/lua\n", {"--parameters=p", "--plat_extra=", "--luapath=/games/lua\n"}},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> args =
        Launch(c.login, c.custom.empty() ? "" : "CustomParameters=" + c.custom + "\n", c.luaPathFile);
    std::vector<std::string> expected = {"--token=ab", "--winid=12"};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(args, expected) << c.what;
  }
}

// Values without blanks, tabs or quotes are written as they are, a luapath's line feed included:
// the command line is exactly the plain form.
TEST_F(HostileLaunch, OrdinaryValuesKeepTheCommandLineAsItWas) {
  const std::string plain =
      "[INFO][CWebCDlg::LaunchGame::462] \"/opt/Vell Launcher/vellmora\" --token=ab --winid=12 "
      "--parameters=p=1&q=2 --plat_extra=k=v";
  struct Case {
    const char* luaPathFile;
    std::string line;  // the log line after its time (the log shows a line feed as \n)
  } cases[] = {
      {nullptr, plain + "\n"},
      {"D:\\lua\n", plain + " --luapath=D:\\lua\\n\n"},
      {"/games/lua\nsecond line\n", plain + " --luapath=/games/lua\\n\n"},
  };
  for (const Case& c : cases) {
    Launch("p=1&q=2", "CustomParameters=k=v\n", c.luaPathFile);
    EXPECT_NE(log.find(c.line), std::string::npos) << log;
  }
}

// The launcher holds descriptors the game must not get: the log (close-on-exec) and one opened
// without close-on-exec, as a library might.
TEST_F(HostileLaunch, TheGameInheritsOnlyStandardDescriptors) {
  const int inheritable = open("/dev/null", O_RDONLY);
  ASSERT_GE(inheritable, 3);
  ASSERT_EQ(Launch("p", "", nullptr).size(), 4u);
  close(inheritable);
  const std::vector<std::string> fds = SplitAt(Sandbox::ReadFile(gameDir + "/fds.txt"), '\n');
  ASSERT_FALSE(fds.empty());
  for (const std::string& fd : fds) EXPECT_LE(std::atoi(fd.c_str()), 2) << "inherited descriptor " << fd;
}

}  // namespace
