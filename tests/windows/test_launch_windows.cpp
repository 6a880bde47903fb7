// From the login to the game on Windows, as the game platform sees it. The platform's window (a
// message-only window here) starts the launcher (login_launcher: the launcher's libraries and
// window, its page's calls made through window.external's COM object) with its parameters on the
// command line. The page logs in; the game (game_probe, installed as qvx.exe) records the command
// line it got, where it ran and whether its window was maximised; when it ends the launcher logs
// "Exit Game", asks the platform's window to show itself again (WM_COPYDATA) and closes.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "WinTestFolder.h"
#include "core/InstallLayout.h"
#include "os/FileSystem.h"
#include "os/Process.h"
#include "os/base/Win32Text.h"
#include "support/CopyDataReceiver.h"
#include "support/Sandbox.h"
#include "support/TestPlatform.h"

namespace {

// The launcher's application name: the log's name and the caption of its message boxes.
const char kLauncherName[] = "login_launcher";
const char kEntryUrl[] = "http://login.example:8080/login";

// The platform's window's handle as the platform writes it on the launcher's command line.
std::string IdOf(const CopyDataReceiver& window) {
  return std::to_string(reinterpret_cast<uintptr_t>(window.Window()));
}

// The show-window message's payload, as the platform reads it: the kind 1, the text "1" in 1,024
// UTF-16 units, then 1.
std::vector<uint8_t> ShowWindowPayload() {
  std::vector<uint8_t> payload(2056, 0);
  payload[0] = 1;
  payload[4] = '1';
  payload[2052] = 1;
  return payload;
}

// The items of text each ended by end (what follows the last end is not an item).
std::vector<std::string> Ended(const std::string& text, char end) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t at = text.find(end); at != std::string::npos; at = text.find(end, start)) {
    items.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  return items;
}

// Each text found in the log after the one before it.
void ExpectInOrder(const std::string& log, const std::vector<std::string>& texts, const char* name) {
  size_t at = 0;
  for (const std::string& text : texts) {
    const size_t found = log.find(text, at);
    ASSERT_NE(found, std::string::npos) << name << ": " << text << "\n" << log;
    at = found + text.size();
  }
}

struct LaunchCase {
  const char* name;
  bool gameInstalled;
  const char* method;  // the page's call: "AppLogin", or "LoginResult" through JavascriptToCsharp
  const char* login;
  bool loginFirst;                         // the page logs in before the client is ready
  const char* config;                      // remote configuration lines
  const char* luaPath;                     // luapath.txt in the launcher's folder, or null
  std::vector<std::string> page;           // what the page saw ("$W": the platform window's id)
  int runResult;                           // 2: closed after the game, 1: closed by the player
  std::vector<std::string> gameArguments;  // after the launcher's own; empty: no game started
  // "$L": the launcher's command line and the game's arguments, joined by blanks (as logged when
  // none of them needs quotes).
  std::vector<std::string> logInOrder;
  std::vector<std::string> notInLog;
  bool firstInstall = false;         // the worker found no client installed
  const char* gameWindow = nullptr;  // the game shows a window: "maximised" or "not maximised" expected
};

std::string Replace(std::string text, const std::string& mark, const std::string& by) {
  for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + by.size()))
    text.replace(at, mark.size(), by);
  return text;
}

const char kPolledNotReady[] = "IsDownLoadComplete() -> VT_BOOL 0";
const char kPolledReady[] = "IsDownLoadComplete() -> VT_BOOL 1";

TEST(LaunchFromLoginWindows, ThePlatformStartsTheLauncherThePageLogsInAndTheGameGetsItsCommandLine) {
  const std::vector<std::string> launched = {
      "[INFO][CWebCDlg::LaunchGame::462] $L\n",
      "[INFO][CWebCDlg::LaunchGame::463] LaunchGame\n",
      "[INFO][CWebCDlg::LaunchGame::472] LaunchGame Succ\n",
      "[INFO][CWebCDlg::LaunchGame::494] Exit Game\n",
      "[INFO][CWindowMessageHandler::SendShowWindowMessage::45] SendShowWindowMessage lret:1\n",
      "[INFO][CWebDlg::Cancel::62] Laucher Stop\n",
  };
  const std::vector<LaunchCase> cases = {
      {"ready, then the login; a first installation: the game's window is maximised",
       true,
       "AppLogin",
       "true|account=mira&session=5f2c",
       false,
       "",
       nullptr,
       {kPolledNotReady, kPolledReady, "AppLogin(true|account=mira&session=5f2c) -> VT_BSTR \"\"",
        "launcher visible: no"},
       2,
       {"--parameters=account=mira&session=5f2c", "--plat_extra="},
       launched,
       {},
       true,
       "maximised"},
      {"the login first: the ready report starts the game; no first installation, no maximising",
       true,
       "LoginResult",
       "TRUE|account=mira&session=77|ignored",
       true,
       "CustomParameters=zone=3",
       nullptr,
       {kPolledNotReady, "JavascriptToCsharp(LoginResult, TRUE|account=mira&session=77|ignored) -> VT_BSTR \"\""},
       2,
       {"--parameters=account=mira&session=77", "--plat_extra=zone=3"},
       {"[INFO][CWebCDlg::OnLoginResult::402] is logic suc!\n", "[INFO][CWebCDlg::SetReady::168] is ready\n",
        launched[0], launched[3], launched[4], launched[5]},
       {},
       false,
       "not maximised"},
      {"blanks and quotes stay inside their argument; the lua path follows",
       true,
       "AppLogin",
       "true|account=mira lee&note=\"a b\" --evil=1",
       false,
       "CustomParameters=zone=3 fast",
       "D:\\lua\r\nsecond line\r\n",
       {kPolledNotReady, kPolledReady, "AppLogin(true|account=mira lee&note=\"a b\" --evil=1) -> VT_BSTR \"\"",
        "launcher visible: no"},
       2,
       {"--parameters=account=mira lee&note=\"a b\" --evil=1", "--plat_extra=zone=3 fast", "--luapath=D:\\lua\n"},
       {launched.begin() + 1, launched.end()},
       {}},
      {"login refused: the launcher stays until the player closes it",
       true,
       "AppLogin",
       "false|account=mira",
       false,
       "",
       nullptr,
       {kPolledNotReady, kPolledReady, "message box login_launcher: 登录验证未通过 (warning, OK)",
        "AppLogin(false|account=mira) -> VT_BSTR \"\"", "launcher visible: yes"},
       1,
       {},
       {"[INFO][CWebDlg::Close::54] Laucher Stop\n", launched[4]},
       {"is logic suc!", "LaunchGame", "Exit Game"}},
      {"game missing: the start fails and the launcher stays",
       false,
       "AppLogin",
       "true|account=mira",
       false,
       "",
       nullptr,
       {kPolledNotReady, kPolledReady, "AppLogin(true|account=mira) -> VT_BSTR \"\"", "launcher visible: yes"},
       1,
       {},
       {"[INFO][CWebCDlg::LaunchGame::463] LaunchGame\n", "[INFO][CWebCDlg::LaunchGame::501] LaunchGame Faild\n",
        "[INFO][CWebDlg::Close::54] Laucher Stop\n", launched[4]},
       {"LaunchGame Succ", "Exit Game"}},
  };

  for (const LaunchCase& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    CopyDataReceiver platform;  // the platform's window
    ASSERT_NE(platform.Window(), nullptr);

    // The launcher where the platform keeps it (a folder with a blank), and its current folder.
    const std::string platformDir = box.Root() + "\\Game Platform";
    const std::string launcher = platformDir + "\\" + kLauncherName + ".exe";
    const std::string launcherCwd = box.Root() + "\\cwd";
    os::MakeDirectories(platformDir);
    os::MakeDirectories(launcherCwd);
    ASSERT_TRUE(CopyFileW(os::win32::Wide(BesideThisProgram("login_launcher.exe")).c_str(),
                          os::win32::Wide(launcher).c_str(), FALSE));
    if (c.luaPath) Sandbox::WriteFile(launcherCwd + "\\luapath.txt", c.luaPath);

    box.MakeDrives(true);
    const InstallLayout layout = InstallLayout::Build(box.InstallDir(), kLauncherName);
    os::MakeDirectories(layout.gameDir);
    if (c.gameInstalled) {
      ASSERT_TRUE(CopyFileW(os::win32::Wide(BesideThisProgram("game_probe.exe")).c_str(),
                            os::win32::Wide(layout.gameExecutable).c_str(), FALSE));
    }
    // A game that shows a window waits for the maximising long enough to see it, or for well
    // past the launcher's one-second wait when none is to come.
    if (c.gameWindow) Sandbox::WriteFile(layout.gameDir + "\\show-window", c.firstInstall ? "20000" : "4000");
    const std::string logPath = InstallLayout::LogPathFor(kLauncherName);
    os::RemoveFile(logPath);

    std::string page = std::string("install=") + box.InstallDir() + "\nmethod=" + c.method + "\nlogin=" + c.login +
                       "\norder=" + (c.loginFirst ? "login-first" : "ready-first") + "\nconfig=EntryUrl=" + kEntryUrl +
                       "\n";
    if (c.firstInstall) page += "first-install=yes\n";
    if (*c.config) page += std::string("config=") + c.config + "\n";
    Sandbox::WriteFile(box.Root() + "\\page.txt", page);

    // As the platform starts it: the program path quoted, then its parameters.
    const std::string commandLine = "\"" + launcher + "\" --token=ab --winid=" + IdOf(platform);
    SetVariable("VELLMORA_TEST_CASE_DIR", box.Root().c_str());
    int error = 0;
    const os::ProcessId pid = os::SpawnProcess(launcher, commandLine, launcherCwd, &error);
    SetVariable("VELLMORA_TEST_CASE_DIR", nullptr);
    ASSERT_GT(pid, 0) << error;
    EXPECT_EQ(os::WaitProcess(pid), 0);

    // The page: it was opened with the platform's parameters, and saw what the case says.
    const std::vector<std::string> report = Ended(Sandbox::ReadFile(box.Root() + "\\report.txt"), '\n');
    ASSERT_GE(report.size(), 3u) << Sandbox::ReadFile(box.Root() + "\\report.txt");
    ASSERT_EQ(report[0].rfind("window ", 0), 0u) << report[0];
    const std::string launcherWindow = report[0].substr(7);
    EXPECT_EQ(report[1], std::string("navigate ") + kEntryUrl + "?fileparam=launcher&token=ab&winid=" + IdOf(platform));
    std::vector<std::string> expected = c.page;
    expected.push_back("run ended: " + std::to_string(c.runResult));
    EXPECT_EQ(std::vector<std::string>(report.begin() + 2, report.end()), expected);

    // The game: the launcher's command line as the system splits it, the login and the
    // configuration, each one argument; its own folder as the working directory.
    const std::string gameRecord = layout.gameDir + "\\started.bin";
    if (c.gameArguments.empty()) {
      EXPECT_FALSE(os::PathExists(gameRecord));
    } else {
      const std::vector<std::string> started = Ended(Sandbox::ReadFile(gameRecord), '\0');
      ASSERT_FALSE(started.empty());
      EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(os::win32::Wide(started[0])),
                                              std::filesystem::path(os::win32::Wide(layout.gameDir))))
          << started[0];
      std::vector<std::string> arguments = {launcher, "--token=ab", "--winid=" + IdOf(platform)};
      arguments.insert(arguments.end(), c.gameArguments.begin(), c.gameArguments.end());
      EXPECT_EQ(std::vector<std::string>(started.begin() + 1, started.end()), arguments);
    }

    // On a first installation the game's window is maximised, not before the launcher's one-second
    // wait after the start.
    const std::string windowRecord = layout.gameDir + "\\window.txt";
    if (!c.gameWindow) {
      EXPECT_FALSE(os::PathExists(windowRecord));
    } else {
      const std::string outcome = Sandbox::ReadFile(windowRecord);
      const bool maximised = outcome.rfind("maximised ", 0) == 0;
      if (std::string(c.gameWindow) == "maximised") {
        EXPECT_TRUE(maximised) << outcome;
        if (maximised) EXPECT_GE(std::stoll(outcome.substr(10)), 1000 - 20) << outcome;  // the clock's granularity
      } else {
        EXPECT_EQ(outcome, c.gameWindow);
      }
    }

    // The platform's window was asked once to show itself, by the launcher's window.
    const std::vector<CopyDataReceiver::Received> messages = platform.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, 1u);
    EXPECT_EQ(std::to_string(messages[0].sender), launcherWindow);
    EXPECT_EQ(messages[0].payload, ShowWindowPayload());

    // The launch's steps in the log, in order.
    const std::string log = Sandbox::ReadFile(logPath);
    std::string gameLine = commandLine;
    for (const std::string& a : c.gameArguments) gameLine += " " + a;
    std::vector<std::string> inOrder;
    for (const std::string& text : c.logInOrder) inOrder.push_back(Replace(text, "$L", gameLine));
    ExpectInOrder(log, inOrder, c.name);
    for (const std::string& text : c.notInLog) EXPECT_EQ(log.find(text), std::string::npos) << text << "\n" << log;
    os::RemoveFile(logPath);
  }
}

}  // namespace
