// What the walk works with besides the archive: the output root, what waits
// for the end of the run, the keys that stop it, the lines in archive order
// and the writers that make files on other threads.
#pragma once

#include "extract/deferred_tree.h"
#include "extract/file_pool.h"
#include "extract/ordered_lines.h"
#include "extract/stop_keys.h"
#include "fileio/output_root.h"

struct WalkState {
  OutputRoot& root;
  DeferredTree tree;
  StopKeys keys;
  OrderedLines lines;
  FilePool pool;  // last: its writers stop before the rest goes

  explicit WalkState(OutputRoot& output_root) : root(output_root) {}
};
