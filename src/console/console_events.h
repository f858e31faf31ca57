// Which events of the Windows console's input queue are key presses, and the
// key value each press gives.
#pragma once

#include "text/text.h"

// One input event as the key operations see it.
struct ConsoleEvent {
  bool is_key = false;          // a keyboard event (not mouse, focus, menu, size)
  bool key_down = false;        // pressed, not released
  unsigned char character = 0;  // the character it gives, 0 for none
  unsigned char scan_code = 0;  // low byte of the scan code
  bool alt_held = false;        // left or right Alt held
  bool caps_lock_on = false;
};

// The key value of the event: one byte (the character) or two (0 and the
// scan code); "" for an event that is no key press (a release, Shift, Ctrl,
// Alt or a lock key alone, or an event that is not from the keyboard).
Text console_event_key(const ConsoleEvent& event);
