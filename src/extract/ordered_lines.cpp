#include "extract/ordered_lines.h"

#include <chrono>
#include <utility>

#include "console/console.h"
#include "fileio/output_root.h"
#include "fileio/path_style.h"

namespace {

// The longest a writer is waited for before the lines done so far go out:
// at a terminal a line never trails its file by much more.
constexpr std::chrono::milliseconds kLongestWait{100};

constexpr uint64_t kHashStart = 14695981039346656037ull;
constexpr uint64_t kHashFactor = 1099511628211ull;

uint64_t hash_on(uint64_t hash, char c) {
  return (hash ^ static_cast<unsigned char>(c)) * kHashFactor;
}

uint64_t hash_of(const Text& path) {
  uint64_t hash = kHashStart;
  for (const char c : path) hash = hash_on(hash, c);
  return hash;
}

}  // namespace

uint64_t held_path_hash(const Text& path) {
  // On Windows a path in other case is the same file.
  if (kWindowsNames) return hash_of(compared_path(path));
  return hash_of(path);
}

void say(OrderedLines& lines, const Text& line) {
  if (lines.held.empty()) {
    print_text(line + "\r\n");
    return;
  }
  Text& after = lines.held.back().after;
  after += line;
  after += "\r\n";
}

void hold(OrderedLines& lines, FilePool& pool, std::unique_ptr<FileWork> work, Text line,
          const Text& path, uint64_t key) {
  const uint64_t path_hash = held_path_hash(path);
  lines.bytes_held += work->size;
  ++lines.path_counts[path_hash % lines.path_counts.size()];
  hand_over(pool, *work);
  lines.held.push_back(HeldMember{std::move(work), std::move(line), path_hash, key, Text()});
}

bool path_held(const OrderedLines& lines, const Text& path) {
  if (lines.held.empty()) return false;
  const auto held = [&](uint64_t hash) {
    if (lines.path_counts[hash % lines.path_counts.size()] == 0) return false;
    for (const HeldMember& member : lines.held) {
      if (member.path == hash) return true;
    }
    return false;
  };
  // The path itself, and each level of it.
  const Text compared = kWindowsNames ? compared_path(path) : Text();
  uint64_t hash = kHashStart;
  for (const char c : kWindowsNames ? compared : path) {
    if (c == kSeparatorChar && held(hash)) return true;
    hash = hash_on(hash, c);
  }
  return held(hash);
}

void release_done(OrderedLines& lines, DeferredTree& tree) {
  Text out;
  while (!lines.held.empty() && lines.held.front().work->done.load()) {
    HeldMember& member = lines.held.front();
    out += member.line;
    out += "\r\n";
    out += member.work->errors;
    out += member.after;
    if (!member.work->errors.empty()) lines.errors = true;
    if (member.work->made) insert_hash(tree.made_files, member.key);
    lines.bytes_held -= member.work->size;
    --lines.path_counts[member.path % lines.path_counts.size()];
    lines.held.pop_front();
  }
  if (!out.empty()) print_text(out);
}

void wait_for_room(OrderedLines& lines, FilePool& pool, DeferredTree& tree, int64_t bytes) {
  release_done(lines, tree);
  if (lines.held.size() < kMostHeld && lines.bytes_held + bytes <= kMostBytesHeld) return;
  // Once full, the walk waits until half the room is free: a wait, and the
  // writer's call that ends it, then serve many members, not one.
  while (!lines.held.empty() &&
         (lines.held.size() > kMostHeld / 2 || lines.bytes_held + bytes > kMostBytesHeld / 2)) {
    // The member whose end frees half the room is waited for at once; when
    // it is done already, the first one not done (writers finish out of
    // order).
    const size_t last = lines.held.size() > kMostHeld / 2 ? lines.held.size() - kMostHeld / 2 - 1
                                                          : lines.held.size() - 1;
    const FileWork& awaited =
        lines.held[last].work->done.load() ? *lines.held.front().work : *lines.held[last].work;
    wait_done(pool, awaited, kLongestWait);
    release_done(lines, tree);
  }
}

void drain(OrderedLines& lines, FilePool& pool, DeferredTree& tree) {
  release_done(lines, tree);
  while (!lines.held.empty()) {
    wait_done(pool, *lines.held.front().work, kLongestWait);
    release_done(lines, tree);
  }
}
