// How many windows the page may open in the user's browser: at most `most` within any `span`
// (a sliding window), so that a page cannot flood the desktop with browser windows even on a
// stream of clicks. UI thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

class OpenBudget {
 public:
  using Clock = std::chrono::steady_clock;

  OpenBudget(size_t most, Clock::duration span) : most_(most), span_(span) {}

  // True, and counted, when one more open fits the window that ends at now.
  bool Take(Clock::time_point now) {
    while (!taken_.empty() && now - taken_.front() >= span_) taken_.pop_front();
    if (taken_.size() >= most_) return false;
    taken_.push_back(now);
    return true;
  }

 private:
  size_t most_;
  Clock::duration span_;
  std::deque<Clock::time_point> taken_;
};
