// The keys that stop a run: three presses of Esc over the whole walk, or one
// Ctrl+C or Ctrl+\, which counts as three. They are looked at before each
// member, during a long copy between its pieces, at a member's key wait, and
// while a read of the archive waits for its data.
#pragma once

#include <cstdint>

#include "text/text.h"

struct StopKeys {
  int32_t presses = 0;  // Esc presses so far; a Ctrl+C counts three
};

// Counts a key taken before a member (one that is neither Esc, Ctrl+C nor
// Ctrl+\ counts nothing); true once the run is to stop.
bool count_stop_key(StopKeys& keys, const Text& key);

// Counts the key that ended a key wait; after an Esc there, the stop keys
// typed along with it count too (take_stop_keys). True once the run is to
// stop.
bool count_wait_key(StopKeys& keys, const Text& key);

// Takes the Esc, Ctrl+C and Ctrl+\ presses waiting now, without waiting and leaving
// every other key waiting; true once the run is to stop.
bool take_stop_keys(StopKeys& keys);

// True once the run is to stop.
bool stop_requested(const StopKeys& keys);
