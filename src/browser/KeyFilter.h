// Which key presses the embedded page never sees: the decision reads the keys held down at that
// moment, not the key of the event, so holding F5 swallows every other key press too.
#pragma once

struct HeldKeys {
  bool f5 = false;
  bool ctrl = false;
  bool o = false;
  bool p = false;
  bool n = false;
};

// True: swallow (refresh, open, print, new window). Only key presses are ever swallowed.
inline bool ShouldSwallowKey(bool isKeyPress, const HeldKeys& held) {
  if (!isKeyPress) return false;
  if (held.f5) return true;
  return held.ctrl && (held.o || held.p || held.n);
}
