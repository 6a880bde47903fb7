// The game's launch. Its log lines keep the content window's names, under which they were always
// written.
#include "ui/GameLaunch.h"

#include <chrono>

#include "log/LauncherLog.h"
#include "os/CodePage.h"
#include "os/CrashHandler.h"
#include "os/Prefix.h"
#include "os/Process.h"
#include "os/WindowMessage.h"
#include "ui/GameCommandLine.h"

namespace {

constexpr char kModule[] = "CWebCDlg";

// The message label (180 pixels wide) while a Windows build's Wine prefix is prepared, and after.
constexpr char kPreparingMessage[] = "正在准备运行环境......";
constexpr char kReadyMessage[] = "更新已完成";
// A Windows build and no Wine to run it: the label, and the message box when the game would start.
constexpr char kNoWineStatus[] = "未找到 Wine,无法启动游戏";
constexpr char kNoWineMessage[] = "未找到 Wine,无法启动 Windows 版游戏,请安装 Wine 后重试。";
constexpr char kLoginRefusedMessage[] = "登录验证未通过";

// The longest game command line, in UTF-16 units (the original fixed buffer, without its NUL).
constexpr size_t kMaxCommandLine = 2047;

}  // namespace

GameLaunch::GameLaunch(LauncherContext& context, ILaunchWindow& window) : ctx_(context), window_(window) {}

GameLaunch::~GameLaunch() {
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

// Any thread (the update worker, normally).
void GameLaunch::SetReady() {
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
    window_.ShowLaunchStatus(kPreparingMessage);
    preparation_.Start(found.Runner(), os::PrefixDir(), [this] { OnWinePrepared(); });
  }
  if (decided && runtime == Runtime::NoWine) {
    LogError("the game is a Windows build and no Wine was found (VELLMORA_WINE, or wine on PATH)", "CWebCDlg::SetReady",
             kModule, 170);
    window_.ShowLaunchStatus(kNoWineStatus);
  }
  if (blocked) window_.PostLaunchWarning(kNoWineMessage);
  if (start) LaunchGame();
}

// Preparation thread.
void GameLaunch::OnWinePrepared() {
  bool start;
  {
    std::lock_guard<std::mutex> hold(flagLock_);
    runtime_ = Runtime::Ready;
    start = ready_ && loggedIn_;
  }
  window_.ShowLaunchStatus(kReadyMessage);
  if (start) LaunchGame();
}

// UI thread (the page's calls).
void GameLaunch::OnLoginResult(const std::string& parameters) {
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
    window_.ShowLaunchWarning(kLoginRefusedMessage);
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
  if (blocked) window_.PostLaunchWarning(kNoWineMessage);
  if (start) LaunchGame();
}

GameStarter GameLaunch::Starter() const {
  std::lock_guard<std::mutex> hold(flagLock_);
  return starter_ ? *starter_ : GameStarter::ForInstalledClient(ctx_.layout);
}

bool GameLaunch::IsReady() const {
  std::lock_guard<std::mutex> hold(flagLock_);
  return ready_;
}

bool GameLaunch::IsLoggedIn() const {
  std::lock_guard<std::mutex> hold(flagLock_);
  return loggedIn_;
}

std::string GameLaunch::LoginParameters() const {
  std::lock_guard<std::mutex> hold(flagLock_);
  return loginParameters_;
}

// The thread that completed the conditions.
void GameLaunch::LaunchGame() {
  ctx_.telemetry.LogEvent(GameStart);
  ctx_.telemetry.Log("game start");

  const InstallLayout& layout = ctx_.layout;
  const GameStarter starter = Starter();
  LogInfo(starter.Executable(), "CWebCDlg::LaunchGame", kModule, 435);
  LogInfo(layout.gameDir, "CWebCDlg::LaunchGame", kModule, 439);

  const std::string commandLine = BuildGameCommandLine(LoginParameters(), ctx_.remoteConfig.GetCustomParameters());
  LogInfo(commandLine, "CWebCDlg::LaunchGame", kModule, 462);
  LogInfo("LaunchGame", "CWebCDlg::LaunchGame", kModule, 463);

  os::ProcessId pid = -1;
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

  ctx_.telemetry.Log("game start success");
  LogInfo("LaunchGame Succ", "CWebCDlg::LaunchGame", kModule, 472);
  window_.HideForGame();

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
void GameLaunch::OnGameExited() {
  LogInfo("Exit Game", "CWebCDlg::LaunchGame", kModule, 494);
  ctx_.launchParameters.SendShowWindowMessage(window_.NativeWindowId());
  window_.CloseAfterGame();
}
