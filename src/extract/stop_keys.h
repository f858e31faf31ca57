// The keys that stop a run: three presses of Esc over the whole walk, or one
// Ctrl+C, which counts as three. They are looked at before each member,
// during a long copy between its pieces, and while a read of the archive
// waits for its data.
#pragma once

#include <cstdint>

#include "fileio/file_access.h"
#include "text/text.h"

struct StopKeys {
  int32_t presses = 0;  // Esc presses so far; a Ctrl+C counts three
};

// Counts a key taken before a member (one that is neither Esc nor Ctrl+C
// counts nothing); true once the run is to stop.
bool count_stop_key(StopKeys& keys, const Text& key);

// Takes the Esc and Ctrl+C presses waiting now, without waiting and leaving
// every other key waiting; true once the run is to stop.
bool take_stop_keys(StopKeys& keys);

// True once the run is to stop.
bool stop_requested(const StopKeys& keys);

// The hook the archive's reads call while they wait for data: it takes the
// stop keys waiting (take_stop_keys) and stops the wait once they stop the
// run. `keys` must outlive the reads.
WaitHook stop_keys_wait_hook(StopKeys& keys);
