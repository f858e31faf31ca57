// The walk's lines in archive order while files are made on other threads.
// A member handed to a writer is held with its line; the lines said after
// it (the next members', the walk's own) wait behind it. Once the writer is
// done, its line, its ERROR lines and what waited behind go out together,
// in one write. At most 64 members and 16 MiB of their bytes are held.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>

#include "extract/deferred_tree.h"
#include "extract/file_pool.h"
#include "text/text.h"

inline constexpr size_t kMostHeld = 64;
inline constexpr int64_t kMostBytesHeld = int64_t{16} << 20;

struct HeldMember {
  std::unique_ptr<FileWork> work;
  Text line;          // the member's own line
  uint64_t path = 0;  // hash of its path
  uint64_t key = 0;   // hash of its link key (made_files)
  Text after;         // the lines said after it, each ending in CR LF
};

struct OrderedLines {
  std::deque<HeldMember> held;
  int64_t bytes_held = 0;
  // How many members held have a path hash ending in each 12 bits: most
  // paths are told not held without a look at the members.
  std::array<uint8_t, 4096> path_counts{};
  bool errors = false;  // a writer wrote an ERROR line
};

// A line of the walk: out at once when nothing is held, else behind the
// last member held.
void say(OrderedLines& lines, const Text& line);

// Holds `work`, handed to the writers, with its line.
void hold(OrderedLines& lines, FilePool& pool, std::unique_ptr<FileWork> work, Text line,
          const Text& path, uint64_t key);

// True when a member held lies at `path` or at one of its levels.
bool path_held(const OrderedLines& lines, const Text& path);

// Writes out the members at the head that are done (and what waited behind
// them), and notes the files they made in `tree`.
void release_done(OrderedLines& lines, DeferredTree& tree);

// Waits until one more member of `bytes` bytes can be held.
void wait_for_room(OrderedLines& lines, FilePool& pool, DeferredTree& tree, int64_t bytes);

// Waits until nothing is held, every line written.
void drain(OrderedLines& lines, FilePool& pool, DeferredTree& tree);

// The hash of a path, as `path_held` knows paths.
uint64_t held_path_hash(const Text& path);
