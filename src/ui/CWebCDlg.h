// The content window's logic: the progress controls' state, the login page address, the
// Ready/LoggedIn pair and the game launch. The view (GTK) is attached on the UI thread.
#pragma once

#include <sys/types.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/LauncherContext.h"
#include "ui/GamePreparation.h"
#include "ui/GameStarter.h"
#include "ui/IContentView.h"

class CWebDlg;

class CWebCDlg {
 public:
  CWebCDlg(CWebDlg* owner, LauncherContext& context);
  // Waits for the game watch to end, or leaves it behind when the game still runs (the launcher
  // is closing under it); a watch left behind never touches this window again.
  ~CWebCDlg();
  CWebCDlg(const CWebCDlg&) = delete;
  CWebCDlg& operator=(const CWebCDlg&) = delete;

  // UI thread. Attaching runs the initialisation of the controls (range, hidden labels, ...).
  void AttachView(IContentView* view);
  IContentView* View() const { return view_; }
  CWebDlg* Owner() const { return owner_; }

  // Window operations; UI thread (CWebDlg hops there first).
  void InitWebBrower();
  void SetProgress(const std::string& message, const std::string& progressText, int percent, int downloading);
  void ShowProgressView();
  void ShowMessageView();

  // Any thread: sets Ready and, when LoggedIn was already set, starts the game on this thread.
  // The installed client is final then: a Windows build has its Wine prefix prepared first (in
  // the background; the game starts once login and preparation are both done), and without Wine
  // the player is told and nothing starts.
  void SetReady();
  bool IsReady() const;
  bool IsLoggedIn() const;
  std::string LoginParameters() const;

  // Script bridge targets; UI thread.
  std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters);
  void OnLoginResult(const std::string& parameters);

  // Starts the game on the calling thread and hands the wait to a thread of its own, so neither
  // the UI thread nor the update worker blocks while the game plays; when the game ends, that
  // thread signals the platform and closes the launcher.
  void LaunchGame();

  // The position last given to the progress bar (read by SetProgress; written from any thread).
  int ProgressPos() const { return progressPos_.load(); }

 private:
  // After the game ended: "Exit Game", the show-window message, the launcher's close.
  void OnGameExited();

  // What the game's start waits for besides Ready and LoggedIn: nothing for a native build, the
  // Wine prefix's preparation for a Windows build; never for a Windows build without Wine.
  enum class Runtime { Unknown, Preparing, Ready, NoWine };
  // The preparation thread, once Wine is ready: starts the game there when Ready and LoggedIn are set.
  void OnWinePrepared();
  // Ready and LoggedIn are both set, but a Windows build has no Wine: the message box. Any thread.
  void ShowNoWineMessage();
  // Shows text in the message label (any thread; it is set on the UI thread).
  void ShowStatus(const std::string& text);
  // The starter decided at the ready mark (or now, when the launch comes without one).
  GameStarter Starter() const;

  CWebDlg* owner_;
  LauncherContext& ctx_;
  IContentView* view_ = nullptr;

  bool downloadLabelSet_ = false;
  bool unzipLabelSet_ = false;
  std::atomic<int> progressPos_{0};

  // Ready and LoggedIn: setting one and testing the other is one step under flagLock_.
  mutable std::mutex flagLock_;
  bool ready_ = false;
  bool loggedIn_ = false;
  std::string loginParameters_;
  Runtime runtime_ = Runtime::Unknown;
  std::optional<GameStarter> starter_;

  GamePreparation preparation_;

  // The started game and the thread that waits for it.
  pid_t gamePid_ = 0;
  struct GameWatch {
    std::atomic<bool> gameRunning{true};
    std::atomic<bool> windowAlive{true};
  };
  std::shared_ptr<GameWatch> gameWatch_;
  std::thread gameWaiter_;
};
