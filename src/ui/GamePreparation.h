// Prepares the Wine prefix for a Windows build of the game on a thread of its own: the first
// start of Wine in a prefix creates its files, which takes tens of seconds, and must not freeze
// the launcher. The owner learns the end through a callback on that thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class GamePreparation {
 public:
  GamePreparation() = default;
  ~GamePreparation() { Abandon(); }
  GamePreparation(const GamePreparation&) = delete;
  GamePreparation& operator=(const GamePreparation&) = delete;

  // Any thread, once (later calls do nothing): runs "<runner> wineboot" for the prefix, then
  // done() on the preparation thread, unless Abandon came first.
  void Start(const std::string& runner, const std::string& prefix, std::function<void()> done);

  // The owner is going (UI thread, after the UI has shut down): waits for a done() that already
  // runs; a preparation still under way is left to finish by itself and then calls nothing.
  void Abandon();

 private:
  struct Shared {
    std::mutex lock;
    bool abandoned = false;
    bool calling = false;  // done() has begun
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::thread thread_;
};
