// What the walk keeps for the end of the run. Symbolic links are made after
// every other member, in archive order, so that no member of the archive is
// ever written through a link the archive made; directories get their
// times and permission bits once everything in them is written, deepest
// first. The regular files the run made are remembered (as hashes of their
// paths), so that a hard link or a copied link points only at one of them.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "extract/hash_set.h"
#include "extract/link_target.h"
#include "fileio/file_times.h"
#include "fileio/output_root.h"
#include "text/text.h"

struct OrderedLines;

struct PendingLink {
  Text path;    // where it goes
  Text key;     // link_key of its name
  Text target;  // as stored
  FileTime time;
  bool superseded = false;  // a later member of the same name was written
};

struct PendingDirectory {
  Text path;
  FileSettings settings;
};

struct DeferredTree {
  std::vector<PendingLink> links;
  std::unordered_map<Text, size_t> link_at;  // key -> the last link of that name
  std::vector<PendingDirectory> directories;
  HashSet made_files;  // link-key hashes of the regular files made
};

// The hash a path is remembered by.
uint64_t path_hash(const Text& path);

// A later member (not a symbolic link) was written at `key`: a link of that
// name waiting to be made is superseded.
void member_written(DeferredTree& tree, const Text& key);

// Makes the links and settles the directories: each link's line (and its
// ERROR line when it is refused or cannot be made). True when an ERROR line
// was written.
bool finish_tree(DeferredTree& tree, OutputRoot& root, OrderedLines& lines);
