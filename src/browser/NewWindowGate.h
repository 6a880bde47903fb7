// What becomes of the page's requests for a new window (target="_blank", window.open). There is
// never a second view: an http or https address goes to the user's default browser instead, when
// the user clicked for it and at most 3 times a minute (a page must not flood the desktop with
// browser windows). Any other scheme (a file share, a remote shell, whatever handler the desktop
// has for it) is dropped: the page must not start programs. UI thread only.
#pragma once

#include <chrono>
#include <string>

#include "browser/OpenBudget.h"

class NewWindowGate {
 public:
  struct Decision {
    bool open = false;    // hand the address to the user's browser
    std::string logLine;  // the refusal's ERROR line; empty when nothing is to be logged
  };

  // uri is the address the new window would show; userGesture tells whether a click asked for it.
  Decision Decide(const std::string& uri, bool userGesture, OpenBudget::Clock::time_point now);

  // True for an http or https address (the scheme in any letter case), the only ones handed on.
  static bool IsWebAddress(const std::string& uri);

  // Refusals are logged, but a page cannot fill the disk with them.
  static constexpr int kMaxRefusalLines = 100;

 private:
  OpenBudget opens_{3, std::chrono::seconds(60)};
  int refusalsLogged_ = 0;
};
