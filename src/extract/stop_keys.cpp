#include "extract/stop_keys.h"

#include "console/console.h"

namespace {

constexpr char kEsc = 27;
// Ctrl+C, and Ctrl+\, the other key that ends a program at a terminal: in
// the console's raw input keys, not signals.
constexpr char kCtrlC = 3;
constexpr char kCtrlBackslash = 28;
constexpr int32_t kPressesToStop = 3;

}  // namespace

bool count_stop_key(StopKeys& keys, const Text& key) {
  if (key == Text(1, kEsc)) keys.presses += 1;
  if (key == Text(1, kCtrlC) || key == Text(1, kCtrlBackslash)) keys.presses += kPressesToStop;
  return stop_requested(keys);
}

bool count_wait_key(StopKeys& keys, const Text& key) {
  const int32_t before = keys.presses;
  if (count_stop_key(keys, key)) return true;
  return keys.presses > before && take_stop_keys(keys);
}

bool take_stop_keys(StopKeys& keys) {
  for (char key : take_waiting_keys(Text{kEsc, kCtrlC, kCtrlBackslash})) {
    count_stop_key(keys, Text(1, key));
  }
  return stop_requested(keys);
}

bool stop_requested(const StopKeys& keys) {
  return keys.presses >= kPressesToStop;
}
