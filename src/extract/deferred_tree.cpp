#include "extract/deferred_tree.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_map>

#include "console/printable.h"
#include "extract/directory_path.h"
#include "extract/ordered_lines.h"
#include "fileio/file_access.h"
#include "fileio/path_style.h"

namespace {

// What becomes of one link at the end of the run.
struct LinkOutcome {
  Text refusal;  // the ERROR line's words when it is not made
  Text reached;  // the key of what its target names, when it stays inside
};

// The levels below the output directory as a path under it.
Text path_below(const OutputRoot& root, const Text& key) {
  Text path = root.root;
  for (const char c : key) path += c == '/' ? kSeparatorChar : c;
  return path;
}

// A copy of the regular file `from` (below the output directory) at `to`,
// for a link the system does not make: true when all of it was copied.
bool copy_file(OutputRoot& root, const Text& from, const Text& to, const FileTime& time) {
  FileRecord source;
  if (open_extracted_file(root, from, source).failure != Failure::none) return false;
  FileRecord copy;
  if (open_member_file(root, to, -1, copy).failure != Failure::none) return false;
  const int64_t size = file_size(source);
  const Copied copied = copy_bytes(source, copy, size);
  settle_file(root, copy, FileSettings{time, -1});
  return close_file(copy) && copied.bytes == size;
}

// The levels of a path: its depth.
size_t depth_of(const Text& path) {
  return static_cast<size_t>(std::count(path.begin(), path.end(), kSeparatorChar));
}

}  // namespace

uint64_t path_hash(const Text& path) {
  return std::hash<Text>{}(path);
}

void member_written(DeferredTree& tree, const Text& key) {
  const auto link = tree.link_at.find(key);
  if (link != tree.link_at.end()) tree.links[link->second].superseded = true;
}

bool finish_tree(DeferredTree& tree, OutputRoot& root, OrderedLines& lines) {
  bool error_written = false;
  // The links that can be made, by their names: not superseded, and no
  // directory, device, FIFO or socket where they would go.
  std::vector<LinkOutcome> outcomes(tree.links.size());
  LinkTargets targets;
  for (size_t i = 0; i < tree.links.size(); ++i) {
    const PendingLink& link = tree.links[i];
    if (link.superseded) {
      outcomes[i].refusal = "Cannot make this link: a later member of the same name stands there";
      continue;
    }
    const Standing standing = what_stands(root, link.path);
    if (standing == Standing::directory || standing == Standing::other) {
      outcomes[i].refusal =
          "Cannot make this link: " + failure_reason(standing == Standing::directory
                                                         ? Failure::directory_there
                                                         : Failure::not_a_file);
      continue;
    }
    targets[link.key] = link.target;
  }
  // Each target resolved through every link that may be made, and the links
  // already in the output directory (each level looked at once). A link that
  // passes through a refused one would have left with it.
  std::unordered_map<Text, std::optional<Text>> on_disk;
  const DiskLinks disk = [&](const Text& key, Text& target) {
    auto found = on_disk.find(key);
    if (found == on_disk.end()) {
      Text read;
      found =
          on_disk
              .emplace(key, read_link(root, path_below(root, key), read) ? std::optional<Text>(read)
                                                                         : std::nullopt)
              .first;
    }
    if (!found->second) return false;
    target = *found->second;
    return true;
  };
  for (size_t i = 0; i < tree.links.size(); ++i) {
    const PendingLink& link = tree.links[i];
    if (!outcomes[i].refusal.empty()) continue;
    const ResolvedLink resolved = resolve_link(link.key, link.target, targets, disk);
    if (resolved.verdict == LinkVerdict::inside) {
      outcomes[i].reached = resolved.reached;
    } else {
      outcomes[i].refusal = "Unsafe link target: " + verdict_reason(resolved.verdict);
    }
  }
  for (size_t i = 0; i < tree.links.size(); ++i) {
    const PendingLink& link = tree.links[i];
    const Text line = printable(link.path) + " -> " + printable(link.target);
    LinkOutcome& outcome = outcomes[i];
    if (outcome.refusal.empty()) {
      const Text reached = path_below(root, outcome.reached);
      const bool directory = kWindowsNames && what_stands(root, reached) == Standing::directory;
      const Reached made = make_symbolic_link(root, link.path, link.target, directory, link.time);
      // A directory the link's path needed is said, as for a file.
      if (made.levels_made) {
        const Text parent = link.path.substr(0, link.path.rfind(kSeparatorChar));
        error_written |= !say_directory(lines, parent, made.at_level ? made : Reached{});
      }
      if (made.failure == Failure::links_refused && !directory &&
          contains_hash(tree.made_files, path_hash(outcome.reached)) &&
          copy_file(root, reached, link.path, link.time)) {
        // Where the system makes no link, a file the run made is copied.
        say(lines, line + " (copied)");
        continue;
      }
      if (made.failure != Failure::none) {
        outcome.refusal = "Cannot make this link: " + failure_reason(made.failure);
      }
    }
    say(lines, line);
    if (!outcome.refusal.empty()) {
      say(lines, "ERROR: " + outcome.refusal);
      error_written = true;
    }
  }
  // Writing into a directory changes its time: the deepest are settled
  // first, and the later of two members of one directory wins.
  std::stable_sort(tree.directories.begin(), tree.directories.end(),
                   [](const PendingDirectory& a, const PendingDirectory& b) {
                     return depth_of(a.path) > depth_of(b.path);
                   });
  for (const PendingDirectory& directory : tree.directories) {
    finish_directory(root, directory.path, directory.settings);
  }
  return error_written;
}
