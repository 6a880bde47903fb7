// The content window's login side: the Ready/LoggedIn pair, the script bridge's targets and the
// game launch. Setting one flag and testing the other is one step under flagLock_, so the game
// starts exactly once, on whichever thread completes the pair; the wait for the game runs on a
// thread of its own. A Windows build adds a third condition, its Wine prefix prepared, under the
// same lock.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/CrashHandler.h"
#include "os/FileSystem.h"
#include "os/MessageBox.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "os/WindowMessage.h"
#include "ui/CWebCDlg.h"
#include "ui/CWebDlg.h"
#include "ui/UiThread.h"

namespace {

constexpr char kModule[] = "CWebCDlg";

// The message label (180 pixels wide) while a Windows build's Wine prefix is prepared, and after.
constexpr char kPreparingMessage[] = "正在准备运行环境......";
constexpr char kReadyMessage[] = "更新已完成";
// A Windows build and no Wine to run it: the label, and the message box when the game would start.
constexpr char kNoWineStatus[] = "未找到 Wine,无法启动游戏";
constexpr char kNoWineMessage[] = "未找到 Wine,无法启动 Windows 版游戏,请安装 Wine 后重试。";

// The longest game command line, in UTF-16 units (the original fixed buffer, without its NUL).
constexpr size_t kMaxCommandLine = 2047;
// The longest line read from luapath.txt, in UTF-16 units.
constexpr size_t kMaxLuaPath = 259;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// First line of luapath.txt in the current directory, line feed included, as text-mode input
// gives it (CR LF reads as LF). Empty optional when the file is missing or does not open.
std::optional<std::string> ReadLuaPath() {
  if (!os::PathExists("luapath.txt")) return std::nullopt;
  std::unique_ptr<FILE, FileCloser> file(std::fopen("luapath.txt", "r"));
  if (!file) return std::nullopt;
  std::string line;
  int c;
  while ((c = std::fgetc(file.get())) != EOF) {
    line += static_cast<char>(c);
    if (c == '\n') break;
  }
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.erase(line.size() - 2, 1);
  return os::TruncateUtf16(os::AnsiToUtf8(line), kMaxLuaPath);
}

}  // namespace

// Any thread (the update worker, normally).
void CWebCDlg::SetReady() {
  // The installed client is final now, and with it the way the game starts (decided once).
  const GameStarter found = GameStarter::ForInstalledClient(ctx_.layout);
  bool decided = false;
  Runtime runtime;
  bool start, blocked;
  {
    std::lock_guard<std::mutex> hold(flagLock_);
    if (!starter_) {
      decided = true;
      starter_ = found;
      runtime_ = !found.NeedsWine() ? Runtime::Ready : found.CanStart() ? Runtime::Preparing : Runtime::NoWine;
    }
    runtime = runtime_;
    ready_ = true;
    LogInfo("is ready", "CWebCDlg::SetReady", kModule, 168);
    start = loggedIn_ && runtime == Runtime::Ready;
    blocked = loggedIn_ && runtime == Runtime::NoWine;
  }
  if (decided && runtime == Runtime::Preparing) {
    ShowStatus(kPreparingMessage);
    preparation_.Start(found.Runner(), os::PrefixDir(), [this] { OnWinePrepared(); });
  }
  if (decided && runtime == Runtime::NoWine) {
    LogError("the game is a Windows build and no Wine was found (VELLMORA_WINE, or wine on PATH)", "CWebCDlg::SetReady",
             kModule, 170);
    ShowStatus(kNoWineStatus);
  }
  if (blocked) ShowNoWineMessage();
  if (start) LaunchGame();
}

// Preparation thread.
void CWebCDlg::OnWinePrepared() {
  bool start;
  {
    std::lock_guard<std::mutex> hold(flagLock_);
    runtime_ = Runtime::Ready;
    start = ready_ && loggedIn_;
  }
  ShowStatus(kReadyMessage);
  if (start) LaunchGame();
}

void CWebCDlg::ShowNoWineMessage() {
  ui::PostToUiThread(
      [] { os::ShowMessageBox(kNoWineMessage, os::ApplicationName(), os::MsgIcon::Warning, os::MsgButtons::Ok); });
}

void CWebCDlg::ShowStatus(const std::string& text) {
  ui::PostToUiThread([this, text] {
    if (view_) view_->SetControlText(kIdMessageText, text);
  });
}

GameStarter CWebCDlg::Starter() const {
  std::lock_guard<std::mutex> hold(flagLock_);
  return starter_ ? *starter_ : GameStarter::ForInstalledClient(ctx_.layout);
}

bool CWebCDlg::IsReady() const {
  std::lock_guard<std::mutex> hold(flagLock_);
  return ready_;
}

bool CWebCDlg::IsLoggedIn() const {
  std::lock_guard<std::mutex> hold(flagLock_);
  return loggedIn_;
}

std::string CWebCDlg::LoginParameters() const {
  std::lock_guard<std::mutex> hold(flagLock_);
  return loginParameters_;
}

// UI thread (the page's calls).
std::string CWebCDlg::JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) {
  LogInfo(os::TruncateUtf16("method:" + method + ",paramters:" + parameters, 2047), "CWebCDlg::JavascriptToCPLUSPLUS",
          kModule, 185);
  std::string result;
  if (method == "LoginResult") {
    OnLoginResult(parameters);
  } else if (method == "GetCommandLine") {
    result = os::ExecutablePath();
  }
  return result;
}

// UI thread. A login is accepted once per run; a refused verdict lets the page report again.
void CWebCDlg::OnLoginResult(const std::string& parameters) {
  if (IsLoggedIn()) {
    LogInfo("already login", "CWebCDlg::OnLoginResult", kModule, 377);
    return;
  }
  if (parameters.empty()) {
    LogInfo("paramters is error!", "CWebCDlg::OnLoginResult", kModule, 385);
    return;
  }
  const size_t bar = parameters.find('|');
  if (bar == std::string::npos) {
    LogInfo("paramters is error!", "CWebCDlg::OnLoginResult", kModule, 392);
    return;
  }
  const std::string verdict = parameters.substr(0, bar);
  const size_t next = parameters.find('|', bar + 1);
  const std::string loginParameters =
      parameters.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
  if (!os::EqualsNoCase(verdict, "true")) {
    os::ShowMessageBox("登录验证未通过", os::ApplicationName(), os::MsgIcon::Warning, os::MsgButtons::Ok);
    return;
  }

  bool start, blocked;
  {
    std::lock_guard<std::mutex> hold(flagLock_);
    if (loggedIn_) {
      LogInfo("already login", "CWebCDlg::OnLoginResult", kModule, 377);
      return;
    }
    LogInfo("is logic suc!", "CWebCDlg::OnLoginResult", kModule, 402);
    loggedIn_ = true;
    loginParameters_ = loginParameters;
    start = ready_ && runtime_ == Runtime::Ready;
    blocked = ready_ && runtime_ == Runtime::NoWine;
  }
  if (blocked) ShowNoWineMessage();
  if (start) LaunchGame();
}

CWebCDlg::~CWebCDlg() {
  // A preparation that is about to start the game finishes first; one still under way is left.
  preparation_.Abandon();
  if (!gameWaiter_.joinable()) return;
  // The watch checks windowAlive after the game ended, this reads gameRunning after clearing
  // windowAlive: either the watch is past the game (join, it finishes at once since the UI is
  // gone) or it will see the window gone and leave it alone.
  gameWatch_->windowAlive.store(false);
  if (gameWatch_->gameRunning.load()) {
    gameWaiter_.detach();
  } else {
    gameWaiter_.join();
  }
}

// The thread that completed the ready/login pair. The window operations (hide, the window id, the
// modal end) hop to the UI thread.
void CWebCDlg::LaunchGame() {
  ctx_.telemetry.LogEvent(GameStart);
  ctx_.telemetry.Log("game start");

  const InstallLayout& layout = ctx_.layout;
  const GameStarter starter = Starter();
  LogInfo(starter.Executable(), "CWebCDlg::LaunchGame", kModule, 435);
  LogInfo(layout.gameDir, "CWebCDlg::LaunchGame", kModule, 439);

  // The launcher's own arguments pass through as they came. Each value from elsewhere (the page's
  // login parameters, the configuration's CustomParameters, the luapath text) becomes exactly one
  // argument of the game whatever it holds: quoted by the rules the line is split with, so blanks
  // and quotes in it can neither add arguments nor swallow the next one. An ordinary value needs
  // no quotes and is written as it is.
  std::string commandLine = os::FullCommandLine() + " " + os::QuoteArgument("--parameters=" + LoginParameters()) + " " +
                            os::QuoteArgument("--plat_extra=" + ctx_.remoteConfig.GetCustomParameters());
  if (std::optional<std::string> luaPath = ReadLuaPath())
    commandLine += " " + os::QuoteArgument("--luapath=" + *luaPath);

  LogInfo(commandLine, "CWebCDlg::LaunchGame", kModule, 462);
  LogInfo("LaunchGame", "CWebCDlg::LaunchGame", kModule, 463);

  gamePid_ = 0;
  pid_t pid = -1;
  const size_t length = os::Utf16Length(commandLine);
  if (length > kMaxCommandLine) {
    // A cut command line would hand the game a truncated argument; the start is refused instead.
    LogError("command line too long:" + std::to_string(length), "CWebCDlg::LaunchGame", kModule, 464);
  } else if (!layout.dataDir.empty()) {
    pid = starter.Start(commandLine);
  }
  if (pid <= 0) {
    ctx_.telemetry.Log("game start failed");
    LogInfo("LaunchGame Faild", "CWebCDlg::LaunchGame", kModule, 501);
    return;
  }
  gamePid_ = pid;

  ctx_.telemetry.Log("game start success");
  LogInfo("LaunchGame Succ", "CWebCDlg::LaunchGame", kModule, 472);
  CWebDlg* owner = owner_;
  ui::InvokeOnUiThread([owner] {
    if (owner && owner->View()) owner->View()->Hide();
  });

  // The game is started once per run, so there is never an earlier watch here.
  gameWatch_ = std::make_shared<GameWatch>();
  const bool firstInstall = ctx_.updateState.FirstInstall() != 0;
  gameWaiter_ = std::thread([this, watch = gameWatch_, pid, firstInstall] {
    os::ThreadSignalStack signalStack;
    if (firstInstall) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      os::MaximiseWindowOfProcess(pid);
    }
    os::WaitProcess(pid);
    watch->gameRunning.store(false);
    if (watch->windowAlive.load()) OnGameExited();
  });
}

// Game watch thread, once the game has ended.
void CWebCDlg::OnGameExited() {
  LogInfo("Exit Game", "CWebCDlg::LaunchGame", kModule, 494);
  CWebDlg* owner = owner_;
  unsigned long nativeId = 0;
  ui::InvokeOnUiThread([owner, &nativeId] {
    if (owner && owner->View()) nativeId = owner->View()->NativeId();
  });
  ctx_.launchParameters.SendShowWindowMessage(nativeId);
  if (owner) owner->Cancel();
}
