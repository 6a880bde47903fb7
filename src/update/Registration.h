// The installation's registry entries: the uninstall entry (written after each install or
// current-client check, read back by start-up, removed by uninstall) and the repair of the
// game's stored window size.
//
// Threads: SetRegisties and AdjustWindowSize run on the update worker; RemoveRegisties
// (uninstall) and QueryRegistryKey (start-up, before the layout is settled) on the UI thread.
#pragma once

#include <string>

#include "core/InstallLayout.h"

class Registration {
 public:
  explicit Registration(const InstallLayout& layout) : layout_(layout) {}
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  // Resets the game's stored window size to its defaults when it is out of range; never creates
  // the game's key.
  void AdjustWindowSize();
  // The window-size repair, then the uninstall entry for the launcher copy named gameName.
  void SetRegisties(const std::string& gameName);
  // Deletes the uninstall entry and the channel's class key; failures are only logged.
  void RemoveRegisties();
  // The uninstall entry's "InstallPath"; empty on failure.
  std::string QueryRegistryKey();

 private:
  const InstallLayout& layout_;
};
