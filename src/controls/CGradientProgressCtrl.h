// A flat progress bar that paints itself completely: the bar in the start colour, filled up to
// the next band edge past the position, the background colour beyond it, or all grey when the
// position lies outside the range. It draws through a Painter, so any front end shows it.
#pragma once

#include <atomic>
#include <string>

#include "controls/ColorRef.h"

class Painter;

class CGradientProgressCtrl {
 public:
  CGradientProgressCtrl() = default;
  CGradientProgressCtrl(const CGradientProgressCtrl&) = delete;
  CGradientProgressCtrl& operator=(const CGradientProgressCtrl&) = delete;

  // Setters only store; the owner repaints. SetPos may be called from any thread.
  void SetRange(int lower, int upper);
  void SetPos(int pos) { pos_.store(pos); }
  int GetPos() const { return pos_.load(); }
  void SetStep(int step) { step_ = step; }
  void SetStartColor(ColorRef c) { startColor_ = c; }
  void SetEndColor(ColorRef c) { endColor_ = c; }
  void SetBkColor(ColorRef c) { bkColor_ = c; }
  void SetTextColor(ColorRef c) { textColor_ = c; }
  void ShowPercent(bool on) { showPercent_ = on; }
  void SetVertical(bool on) { vertical_ = on; }

  int Lower() const { return lower_; }
  int Upper() const { return upper_; }

  // Paints the whole client area (0, 0, width, height). UI thread.
  void Paint(Painter& painter, int width, int height) const;

  // The text drawn when the percentage is on ("%3.0f %%"); empty when the bar is outside its range.
  static std::string PercentText(int pos, int lower, int upper);

  static constexpr ColorRef kOutOfRangeGrey = 0x696969;
  // The font of the percentage.
  static constexpr const char* kPercentFont = "Sans 8";

 private:
  int lower_ = 0;
  int upper_ = 100;
  int step_ = 10;
  std::atomic<int> pos_{0};
  ColorRef startColor_ = 0xFF;
  ColorRef endColor_ = 0xFF0000;
  ColorRef bkColor_ = 0;
  ColorRef textColor_ = 0xFFFFFF;
  bool showPercent_ = false;
  bool vertical_ = false;
};
