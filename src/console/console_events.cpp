#include "console/console_events.h"

#include "console/letter_keys.h"

namespace {

constexpr unsigned char kEscScanCode = 0x01;
constexpr unsigned char kEsc = 27;

// Ctrl, left Shift, right Shift, Alt, Caps Lock, Num Lock, Scroll Lock.
bool is_shift_or_lock_key(unsigned char scan_code) {
  switch (scan_code) {
    case 0x1D:
    case 0x2A:
    case 0x36:
    case 0x38:
    case 0x3A:
    case 0x45:
    case 0x46:
      return true;
    default:
      return false;
  }
}

Text two_byte_key(unsigned char scan_code) {
  return Text{'\0', static_cast<char>(scan_code)};
}

}  // namespace

Text console_event_key(const ConsoleEvent& event) {
  if (!event.is_key || !event.key_down) return "";
  const unsigned char c = event.character;
  const unsigned char s = event.scan_code;
  if (c == 0 && is_shift_or_lock_key(s)) return "";
  if (c != 0 && event.alt_held && is_letter_scan_code(s)) return two_byte_key(s);
  if (c != 0) return Text(1, static_cast<char>(c));
  if (s == kEscScanCode && event.caps_lock_on) return Text(1, static_cast<char>(kEsc));
  return two_byte_key(s);
}
