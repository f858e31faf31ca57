#include "extract/member_output.h"

#include <algorithm>

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "console/progress_row.h"
#include "extract/copy_progress.h"
#include "extract/deferred_tree.h"
#include "extract/directory_path.h"
#include "extract/link_target.h"
#include "extract/support_address.h"
#include "extract/unsafe_name.h"
#include "fileio/file_access.h"
#include "fileio/output_root.h"
#include "fileio/path_style.h"
#include "text/number_text.h"
#include "text/string_ops.h"

namespace {

// Copies the pieces of the file's data, each to its place in the output
// file, which then ends at the real size (a hole after the last piece
// included). Returns the bytes of the file known to be written (holes
// included): up to the first piece that could not be copied whole, where
// the file then ends; `failure` says why the output took no more.
int64_t copy_pieces(const SparseMap& map, MemberData& data, FileRecord& file,
                    CopyProgress& progress, const CopyHook& hook, Failure& failure) {
  for (const SparsePiece& piece : map.pieces) {
    if (get_position(file) != piece.offset + 1) set_position(file, piece.offset + 1);
    follow_piece(progress, piece.offset);
    const Copied copied = copy_data(data, file, piece.size, hook);
    if (copied.bytes < piece.size) {
      failure = copied.write_failure;
      return piece.offset + copied.bytes;
    }
  }
  if (get_position(file) != map.real_size + 1) set_position(file, map.real_size + 1);
  return map.real_size;
}

// A regular file's data as one piece: it shares the sparse files' copy.
SparseMap whole_data(int64_t size) {
  SparseMap map;
  map.real_size = size;
  if (size > 0) map.pieces.push_back(SparsePiece{0, size});
  return map;
}

Text file_line(const Text& path, int64_t size) {
  return printable(path) + " (" + grouped_number(size) + " bytes)";
}

// True when an ERROR line was written.
bool output_regular_file(Member member, MemberData& data, OutputRoot& root, DeferredTree& tree,
                         StopKeys& keys) {
  const Text key = link_key(member.name);
  const bool sparse = member.sparse.sparse;
  SparseMap whole;
  const SparseMap* map = &member.sparse;
  if (!sparse) {
    whole = whole_data(member.size);
    map = &whole;
  }
  // A sparse member's line shows the file's real size.
  const int64_t size = map->real_size >= 0 ? map->real_size : member.size;

  const Text path = map_member_path(root.root, std::move(member.name), false);
  if (sparse && (map->bad || !map_fits(*map, data.left))) {
    // Nothing is made of a file whose pieces cannot be placed.
    print_line(file_line(path, size));
    print_line(map->bad ? "ERROR: Bad sparse map: its numbers cannot be read"
                        : "ERROR: Bad sparse map: its pieces do not fit the data stored");
    return true;
  }

  FileRecord file;
  const Reached reached = open_member_file(root, path, member.mode, file);
  bool error_written = false;
  // A directory the file's path needed is said, as a directory member's is.
  if (reached.levels_made) {
    const Text parent = substring(path, 1, find_text(-1, path, kSeparator) - 1);
    error_written = !say_directory(parent, reached.at_level ? reached : Reached{});
  }
  print_line(file_line(path, size));
  if (!is_open(file)) {
    // A name ending in the separator marks a directory in older archives:
    // its directory has been made above, and no file is expected unless the
    // member carries data, which would otherwise be lost without a word.
    if (right_part(path, 1) == kSeparator && size == 0) return error_written;
    print_line("ERROR: Cannot create this file: " + failure_reason(reached.failure));
    return true;
  }
  // What of the data is not taken is passed over by the archive reader.
  if (sparse) mark_sparse(file);
  CopyProgress progress;
  const CopyHook hook = follow_copy(progress, size, keys, *data.archive);
  Failure failure = Failure::none;
  const int64_t copied = copy_pieces(*map, data, file, progress, hook, failure);
  end_copy(progress);
  settle_file(root, file, FileSettings{member.time, member.mode});
  tree.made_files.insert(path_hash(key));
  member_written(tree, key);
  // An error reported at the close (a network file system, a quota) leaves
  // no byte of the file known to be on disk.
  Failure close_failure = Failure::none;
  const int64_t written = close_file(file, &close_failure) ? copied : -1;
  if (written < 0 && size == 0) {
    // Nothing is known of an empty file whose close failed, not even that
    // it is there.
    print_line("ERROR: Cannot create this file: " + failure_reason(close_failure));
    return true;
  }
  if (written < size) {
    if (written < 0) failure = close_failure;
    print_line("ERROR: Incomplete file (" + grouped_number(std::max<int64_t>(written, 0)) + " of " +
               grouped_number(size) + " bytes written)" +
               (failure != Failure::none ? ": " + failure_reason(failure) : Text()));
    return true;
  }
  return error_written;
}

// A hard link: the file this run extracted under the target's name gets
// the member's name too (or, where the system makes no hard link, a copy).
bool output_hard_link(Member member, OutputRoot& root, DeferredTree& tree) {
  const Text key = link_key(member.name);
  const Text path = map_member_path(root.root, std::move(member.name), false);
  const Text target = map_member_path(root.root, member.link_name, false);
  const Text line = printable(path) + " link to " + printable(target);
  Text refusal;
  if (is_unsafe_name(member.link_name)) {
    refusal = "its target leaves the output directory";
  } else if (tree.made_files.count(path_hash(link_key(member.link_name))) == 0) {
    refusal = "its target is no file this run extracted";
  } else {
    const Reached made = make_hard_link(root, path, target);
    if (made.failure == Failure::links_refused) {
      FileRecord source;
      FileRecord copy;
      const bool copied =
          open_extracted_file(root, target, source).failure == Failure::none &&
          open_member_file(root, path, member.mode, copy).failure == Failure::none &&
          copy_bytes(source, copy, file_size(source)).bytes == file_size(source);
      settle_file(root, copy, FileSettings{member.time, member.mode});
      if (close_file(copy) && copied) {
        print_line(line + " (copied)");
        tree.made_files.insert(path_hash(key));
        member_written(tree, key);
        return false;
      }
      refusal = failure_reason(Failure::links_refused);
    } else if (made.failure != Failure::none) {
      refusal = failure_reason(made.failure);
    }
  }
  print_line(line);
  if (!refusal.empty()) {
    print_line("ERROR: Cannot make this link: " + refusal);
    return true;
  }
  tree.made_files.insert(path_hash(key));
  member_written(tree, key);
  return false;
}

// A symbolic link is made at the end of the run; a link of the same name
// before it is superseded.
void wait_for_the_end(Member member, const OutputRoot& root, DeferredTree& tree) {
  PendingLink link;
  link.key = link_key(member.name);
  link.path = map_member_path(root.root, std::move(member.name), false);
  link.target = std::move(member.link_name);
  link.time = member.time;
  member_written(tree, link.key);
  tree.link_at[link.key] = tree.links.size();
  tree.links.push_back(std::move(link));
}

// The type as the unhandled-type block names it: its digit, or the letter
// a writer stored.
Text type_text(const Member& member) {
  if (member.type_flag >= '0' && member.type_flag <= '9') return number_text(member.type);
  return Text(1, member.type_flag);
}

void output_unhandled(const Member& member) {
  print_line(printable(member.name) + " (" + grouped_number(member.size) + " bytes)");
  print_line("ERROR: Type problem!");
  print_line("Unhandled: " + type_text(member));
  print_line("Contact me at " + kSupportAddress + " and I'll add support.");
  // The wait is for someone reading the prompt: with the output going to a
  // file or pipe, nobody sees it, and the next line must start a line.
  if (!output_is_screen()) return;
  print_text(" ==press any key==");
  wait_key();
  // Blank the prompt so the next line starts at the beginning of this row.
  move_cursor(1, 0);
  print_text(Text(18, ' '));
  move_cursor(1, 0);
}

}  // namespace

Text map_member_path(const Text& outdir, Text name, bool directory) {
  // The name's own buffer becomes the path's: a name may be megabytes long.
  // In one pass, in place: every "/" becomes the separator, and a separator
  // right after another is dropped.
  Text& path = name.insert(0, outdir + kSeparator);
  size_t kept = 0;
  for (const char c : path) {
    const bool separator = c == '/' || c == kSeparatorChar;
    if (separator && kept > 0 && path[kept - 1] == kSeparatorChar) continue;
    path[kept++] = separator ? kSeparatorChar : c;
  }
  path.resize(kept);
  if (directory && !path.empty() && path.back() == kSeparatorChar) path.pop_back();
  return std::move(path);
}

bool output_member(Member member, MemberData& data, OutputRoot& root, DeferredTree& tree,
                   StopKeys& keys) {
  // A hard link that carries data (a pax size record) is written as a file.
  const bool file = is_regular_file(member) || (member.type == kTypeHardLink && data.left > 0);
  if (file) return output_regular_file(std::move(member), data, root, tree, keys);
  switch (member.type) {
    case kTypeDirectory: {
      const Text key = link_key(member.name);
      const Text path = map_member_path(root.root, std::move(member.name), true);
      tree.directories.push_back(PendingDirectory{path, FileSettings{member.time, member.mode}});
      member_written(tree, key);
      return !say_directory(path, make_directories(root, path));
    }
    case kTypeHardLink:
      return output_hard_link(std::move(member), root, tree);
    case kTypeSymbolicLink:
      wait_for_the_end(std::move(member), root, tree);
      return false;
    default:
      output_unhandled(member);
      return false;
  }
}
