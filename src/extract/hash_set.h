// A set of 64-bit hashes in one array (open addressing): 8 to 16 bytes a
// member and no allocation per insert, for the many files of a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

struct HashSet {
  std::vector<uint64_t> slots;  // 0: empty (a hash of 0 is kept as 1)
  size_t count = 0;
};

inline void insert_hash(HashSet& set, uint64_t hash);

inline bool contains_hash(const HashSet& set, uint64_t hash) {
  if (set.slots.empty()) return false;
  if (hash == 0) hash = 1;
  const size_t mask = set.slots.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    if (set.slots[at] == hash) return true;
    if (set.slots[at] == 0) return false;
  }
}

inline void insert_hash(HashSet& set, uint64_t hash) {
  if (hash == 0) hash = 1;
  // Half full at most, so every search ends soon.
  if (2 * (set.count + 1) > set.slots.size()) {
    std::vector<uint64_t> old = std::move(set.slots);
    set.slots.assign(old.empty() ? 1024 : 2 * old.size(), 0);
    set.count = 0;
    for (const uint64_t kept : old) {
      if (kept != 0) insert_hash(set, kept);
    }
  }
  const size_t mask = set.slots.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    if (set.slots[at] == hash) return;
    if (set.slots[at] == 0) {
      set.slots[at] = hash;
      ++set.count;
      return;
    }
  }
}
