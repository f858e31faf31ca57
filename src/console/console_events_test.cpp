#include "console/console_events.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ConsoleEvent press(unsigned char character, unsigned char scan_code, bool alt = false,
                   bool caps_lock = false) {
  ConsoleEvent event;
  event.is_key = true;
  event.key_down = true;
  event.character = character;
  event.scan_code = scan_code;
  event.alt_held = alt;
  event.caps_lock_on = caps_lock;
  return event;
}

std::string scan(int code) {
  return std::string{'\0', static_cast<char>(code)};
}

struct EventCase {
  const char* name;
  ConsoleEvent event;
  std::string key;
};

TEST(ConsoleEvents, KeyValueOfEachEvent) {
  ConsoleEvent release = press('a', 0x1E);
  release.key_down = false;
  ConsoleEvent mouse;
  ConsoleEvent mouse_like_down = press('a', 0x1E);
  mouse_like_down.is_key = false;
  const std::vector<EventCase> cases = {
      {"a letter", press('a', 0x1E), "a"},
      {"Esc with its character", press(27, 0x01), "\x1b"},
      {"Enter", press(13, 0x1C), "\r"},
      {"Backspace", press(8, 0x0E), "\b"},
      {"Ctrl+C", press(3, 0x2E), "\x03"},
      {"F1", press(0, 0x3B), scan(0x3B)},
      {"Up", press(0, 0x48), scan(0x48)},
      {"Delete", press(0, 0x53), scan(0x53)},
      {"Alt+letter, top row", press('q', 0x10, true), scan(0x10)},
      {"Alt+letter, middle row end", press('l', 0x26, true), scan(0x26)},
      {"Alt+letter, bottom row", press('m', 0x32, true), scan(0x32)},
      {"Alt with a digit keeps the character", press('1', 0x02, true), "1"},
      {"Alt with the key after P keeps the character", press('[', 0x1A, true), "["},
      {"Alt with the key after L keeps the character", press(';', 0x27, true), ";"},
      {"Esc without a character, Caps Lock on", press(0, 0x01, false, true), "\x1b"},
      {"Esc without a character, Caps Lock off", press(0, 0x01), scan(0x01)},
      {"Ctrl alone", press(0, 0x1D), ""},
      {"left Shift alone", press(0, 0x2A), ""},
      {"right Shift alone", press(0, 0x36), ""},
      {"Alt alone", press(0, 0x38, true), ""},
      {"Caps Lock", press(0, 0x3A), ""},
      {"Num Lock", press(0, 0x45), ""},
      {"Scroll Lock", press(0, 0x46), ""},
      {"a shift-key scan code that carries a character is a key", press('x', 0x2A), "x"},
      {"key release", release, ""},
      {"not a keyboard event", mouse, ""},
      {"not a keyboard event though it looks like one", mouse_like_down, ""},
  };
  for (const EventCase& test : cases) {
    EXPECT_EQ(console_event_key(test.event), test.key) << test.name;
  }
}

}  // namespace
