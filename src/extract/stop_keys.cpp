#include "extract/stop_keys.h"

#include "console/console.h"

namespace {

constexpr char kEsc = 27;
// Ctrl+C: in the console's raw input a key, not a signal.
constexpr char kCtrlC = 3;
constexpr int32_t kPressesToStop = 3;

bool keep_waiting(void* context) {
  return !take_stop_keys(*static_cast<StopKeys*>(context));
}

}  // namespace

bool count_stop_key(StopKeys& keys, const Text& key) {
  if (key == Text(1, kEsc)) keys.presses += 1;
  if (key == Text(1, kCtrlC)) keys.presses += kPressesToStop;
  return stop_requested(keys);
}

bool take_stop_keys(StopKeys& keys) {
  for (char key : take_waiting_keys(Text{kEsc, kCtrlC})) count_stop_key(keys, Text(1, key));
  return stop_requested(keys);
}

bool stop_requested(const StopKeys& keys) {
  return keys.presses >= kPressesToStop;
}

WaitHook stop_keys_wait_hook(StopKeys& keys) {
  return WaitHook{keep_waiting, &keys};
}
