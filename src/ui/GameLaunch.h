// The game's launch, with no window of its own: the Ready/LoggedIn gate (and, for a Windows build,
// its Wine prefix prepared), the command line, the start, the wait for the game on a thread of its
// own, and after the game the show-window message and the launcher's close. What it needs of the
// window goes through ILaunchWindow, so every front end uses it as it is.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/LauncherContext.h"
#include "ui/GamePreparation.h"
#include "ui/GameStarter.h"
#include "ui/ILaunchWindow.h"

class GameLaunch {
 public:
  // window outlives this object.
  GameLaunch(LauncherContext& context, ILaunchWindow& window);
  // A preparation under way is left behind (and then calls nothing). Waits for the game watch to
  // end, or leaves it behind when the game still runs (the launcher is closing under it); a watch
  // left behind never touches the window again.
  ~GameLaunch();
  GameLaunch(const GameLaunch&) = delete;
  GameLaunch& operator=(const GameLaunch&) = delete;

  // Any thread (the update worker, normally): sets Ready and, when LoggedIn was already set,
  // starts the game on this thread. The installed client is final then: a Windows build has its
  // Wine prefix prepared first (in the background; the game starts once login and preparation are
  // both done), and without Wine the player is told and nothing starts.
  void SetReady();

  // UI thread (the page's call): "<verdict>|<login parameters>[|...]". A login is accepted once
  // per run; a refused verdict lets the page report again. Completing the pair starts the game
  // on this thread.
  void OnLoginResult(const std::string& parameters);

  // Any thread.
  bool IsReady() const;
  bool IsLoggedIn() const;
  std::string LoginParameters() const;

 private:
  // What the game's start waits for besides Ready and LoggedIn: nothing for a native build, the
  // Wine prefix's preparation for a Windows build; never for a Windows build without Wine.
  enum class Runtime { Unknown, Preparing, Ready, NoWine };

  // Starts the game on the calling thread (the one that completed the conditions) and hands the
  // wait to a thread of its own, so neither the UI thread nor the update worker blocks while the
  // game plays.
  void LaunchGame();
  // The preparation thread, once Wine is ready: starts the game there when Ready and LoggedIn are set.
  void OnWinePrepared();
  // Game watch thread, after the game ended: "Exit Game", the show-window message, the close.
  void OnGameExited();
  // The starter decided at the ready mark (or now, when the launch comes without one).
  GameStarter Starter() const;

  LauncherContext& ctx_;
  ILaunchWindow& window_;

  // Ready, LoggedIn and the runtime: setting one and testing the others is one step under
  // flagLock_, so the game starts exactly once, on whichever thread completes them.
  mutable std::mutex flagLock_;
  bool ready_ = false;
  bool loggedIn_ = false;
  std::string loginParameters_;
  Runtime runtime_ = Runtime::Unknown;
  std::optional<GameStarter> starter_;

  GamePreparation preparation_;

  // The thread that waits for the started game.
  struct GameWatch {
    std::atomic<bool> gameRunning{true};
    std::atomic<bool> windowAlive{true};
  };
  std::shared_ptr<GameWatch> gameWatch_;
  std::thread gameWaiter_;
};
