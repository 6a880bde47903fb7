// Which key presses and wheel turns the embedded page never sees. The key decision reads the keys
// held down at that moment, not the key of the event, so holding F5 swallows every other key press
// too. Each front end reads the keyboard its own way and hands over these portable codes.
#pragma once

struct HeldKeys {
  bool f5 = false;
  bool ctrl = false;
  bool o = false;
  bool p = false;
  bool n = false;
};

// The keys the filter tells apart (letters in either case).
enum class FilterKey { F5, O, P, N, Other };

// The key being pressed is down in any case: a read of the keyboard can trail the event.
inline HeldKeys WithPressedKey(HeldKeys held, FilterKey pressed) {
  held.f5 = held.f5 || pressed == FilterKey::F5;
  held.o = held.o || pressed == FilterKey::O;
  held.p = held.p || pressed == FilterKey::P;
  held.n = held.n || pressed == FilterKey::N;
  return held;
}

// True: swallow (refresh, open, print, new window). Only key presses are ever swallowed.
inline bool ShouldSwallowKey(bool isKeyPress, const HeldKeys& held) {
  if (!isKeyPress) return false;
  if (held.f5) return true;
  return held.ctrl && (held.o || held.p || held.n);
}

// What is held down while the wheel turns.
struct WheelModifiers {
  bool ctrl = false;
  bool shift = false;
  bool mouseButton = false;  // any mouse button
};

// True: swallow. Ctrl alone with the wheel would zoom the page; the wheel otherwise scrolls.
inline bool ShouldSwallowWheel(const WheelModifiers& held) { return held.ctrl && !held.shift && !held.mouseButton; }
