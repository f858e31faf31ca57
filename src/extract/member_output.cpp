#include "extract/member_output.h"

#include <algorithm>

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "console/progress_row.h"
#include "extract/copy_progress.h"
#include "extract/deferred_tree.h"
#include "extract/directory_path.h"
#include "extract/file_pool.h"
#include "extract/link_target.h"
#include "extract/ordered_lines.h"
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

// A file's line and ERROR lines go out in archive order: said at once, or
// behind the members held.
void say_lines(OrderedLines& lines, const Text& block) {
  size_t start = 0;
  while (start < block.size()) {
    const size_t end = block.find("\r\n", start);
    say(lines, block.substr(start, end - start));
    start = end + 2;
  }
}

// Reads a member's bytes for a writer: all of them, or fewer where the
// archive ends or fails (the writer then says the file is incomplete, and
// the reader how the archive ended).
std::vector<char> member_bytes(MemberData& data, int64_t size) {
  std::vector<char> bytes;
  bytes.reserve(static_cast<size_t>(size));
  while (static_cast<int64_t>(bytes.size()) < size) {
    const char* piece = nullptr;
    const int64_t got = take_data(data, size - static_cast<int64_t>(bytes.size()), &piece);
    if (got <= 0) break;
    bytes.insert(bytes.end(), piece, piece + got);
  }
  return bytes;
}

// The walk's own copy: a large member (its line first, then the copy with
// its progress row, which the keys can stop) or a sparse one. True when an
// ERROR line was written.
bool copy_here(Member& member, const SparseMap& map, int64_t size, const Text& path,
               const PreparedFile& place, MemberData& data, WalkState& walk) {
  say(walk.lines, file_line(path, size));
  FileRecord file;
  const Failure failure = open_prepared_file(walk.root, place, member.mode, file);
  const Text over = written_over_line(file.written_over);
  say_lines(walk.lines, over);
  int64_t written = 0;
  Failure why = Failure::none;
  if (failure == Failure::none) {
    if (member.sparse.sparse) mark_sparse(file);
    CopyProgress progress;
    const CopyHook hook = follow_copy(progress, size, walk.keys, *data.archive);
    written = copy_pieces(map, data, file, progress, hook, why);
    end_copy(progress);
    settle_file(walk.root, file, FileSettings{member.time, member.mode});
    // An error reported at the close (a network file system, a quota)
    // leaves no byte of the file known to be on disk.
    Failure close_failure = Failure::none;
    if (!close_file(file, &close_failure)) {
      written = -1;
      why = close_failure;
    }
  }
  const Text errors = file_errors(failure, right_part(path, 1) == kSeparator, size, written, why);
  say_lines(walk.lines, errors);
  return !errors.empty() || !over.empty();
}

// True when an ERROR line was written.
bool output_regular_file(Member member, MemberData& data, WalkState& walk) {
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

  // An older archive's directory: a file member named with a final "/" and
  // no data. Its time and permission bits wait for the end, as a
  // directory member's do.
  if (size == 0 && !member.name.empty() && member.name.back() == '/') {
    walk.tree.directories.push_back(
        PendingDirectory{map_member_path(walk.root.root, member.name, true),
                         FileSettings{member.time, member.mode}});
  }
  const Text path = map_member_path(walk.root.root, std::move(member.name), false);
  if (sparse && (map->bad || !map_fits(*map, data.left))) {
    // Nothing is made of a file whose pieces cannot be placed.
    say(walk.lines, file_line(path, size));
    say(walk.lines, map->bad ? "ERROR: Bad sparse map: its numbers cannot be read"
                             : "ERROR: Bad sparse map: its pieces do not fit the data stored");
    return true;
  }
  // A member at the path of one still being made, or below it, waits for it:
  // the archive's order decides what stands there.
  if (path_held(walk.lines, path)) drain(walk.lines, walk.pool, walk.tree);
  const bool here = !pool_running(walk.pool) || sparse || size > kMostBytesHeld;
  // The walk copies a large member itself, after the lines held.
  if (here) drain(walk.lines, walk.pool, walk.tree);

  PreparedFile place;
  const Reached reached = prepare_member_file(walk.root, path, place);
  bool error_written = false;
  // A directory the file's path needed is said, as a directory member's is.
  if (reached.levels_made) {
    const Text parent = substring(path, 1, find_text(-1, path, kSeparator) - 1);
    error_written = !say_directory(walk.lines, parent, reached.at_level ? reached : Reached{});
  }
  member_written(walk.tree, key);
  if (reached.failure != Failure::none) {
    say(walk.lines, file_line(path, size));
    const Text errors =
        file_errors(reached.failure, right_part(path, 1) == kSeparator, size, 0, Failure::none);
    say_lines(walk.lines, errors);
    return error_written || !errors.empty();
  }
  if (here) {
    const bool errors = copy_here(member, *map, size, path, place, data, walk);
    if (!errors) insert_hash(walk.tree.made_files, path_hash(key));
    return error_written || errors;
  }
  wait_for_room(walk.lines, walk.pool, walk.tree, size);
  auto work = std::make_unique<FileWork>();
  work->place = std::move(place);
  work->size = size;
  work->data = member_bytes(data, size);
  work->settings = FileSettings{member.time, member.mode};
  hold(walk.lines, walk.pool, std::move(work), file_line(path, size), path, path_hash(key));
  return error_written;
}

// A hard link: the file this run extracted under the target's name gets
// the member's name too (or, where the system makes no hard link, a copy).
bool output_hard_link(Member member, WalkState& walk) {
  OutputRoot& root = walk.root;
  DeferredTree& tree = walk.tree;
  const Text key = link_key(member.name);
  const Text path = map_member_path(root.root, std::move(member.name), false);
  const Text target = map_member_path(root.root, member.link_name, false);
  const Text line = printable(path) + " link to " + printable(target);
  // The target and the name wait for the files being made there.
  if (path_held(walk.lines, path) || path_held(walk.lines, target)) {
    drain(walk.lines, walk.pool, tree);
  }
  Text refusal;
  if (is_unsafe_name(member.link_name)) {
    refusal = "its target leaves the output directory";
  } else if (!contains_hash(tree.made_files, path_hash(link_key(member.link_name)))) {
    refusal = "its target is no file this run extracted";
  } else {
    const Reached made = make_hard_link(root, path, target);
    // A directory the link's path needed is said, as for a file.
    if (made.levels_made) {
      const Text parent = substring(path, 1, find_text(-1, path, kSeparator) - 1);
      say_directory(walk.lines, parent, made.at_level ? made : Reached{});
    }
    if (made.failure == Failure::links_refused) {
      FileRecord source;
      FileRecord copy;
      const bool copied =
          open_extracted_file(root, target, source).failure == Failure::none &&
          open_member_file(root, path, member.mode, copy).failure == Failure::none &&
          copy_bytes(source, copy, file_size(source)).bytes == file_size(source);
      settle_file(root, copy, FileSettings{member.time, member.mode});
      if (close_file(copy) && copied) {
        say(walk.lines, line + " (copied)");
        insert_hash(tree.made_files, path_hash(key));
        member_written(tree, key);
        return false;
      }
      refusal = failure_reason(Failure::links_refused);
    } else if (made.failure != Failure::none) {
      refusal = failure_reason(made.failure);
    }
  }
  say(walk.lines, line);
  if (!refusal.empty()) {
    say(walk.lines, "ERROR: Cannot make this link: " + refusal);
    return true;
  }
  insert_hash(tree.made_files, path_hash(key));
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

void output_unhandled(const Member& member, StopKeys& keys) {
  print_line(printable(member.name) + " (" + grouped_number(member.size) + " bytes)");
  print_line("ERROR: Type problem!");
  print_line("Unhandled: " + type_text(member));
  print_line("Contact me at " + kSupportAddress + " and I'll add support.");
  // The wait is for someone reading the prompt: with the output going to a
  // file or pipe, nobody sees it, and the next line must start a line.
  if (!output_is_screen()) return;
  print_text(" ==press any key==");
  // The keys that stop the run stop it here too.
  count_wait_key(keys, wait_key());
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

bool output_member(Member member, MemberData& data, WalkState& walk) {
  // A hard link that carries data (a pax size record) is written as a file.
  const bool file = is_regular_file(member) || (member.type == kTypeHardLink && data.left > 0);
  if (file) return output_regular_file(std::move(member), data, walk);
  switch (member.type) {
    case kTypeDirectory: {
      const Text key = link_key(member.name);
      const Text path = map_member_path(walk.root.root, std::move(member.name), true);
      // A directory where a file is being made waits for it.
      if (path_held(walk.lines, path)) drain(walk.lines, walk.pool, walk.tree);
      walk.tree.directories.push_back(
          PendingDirectory{path, FileSettings{member.time, member.mode}});
      member_written(walk.tree, key);
      return !say_directory(walk.lines, path, make_directories(walk.root, path));
    }
    case kTypeHardLink:
      return output_hard_link(std::move(member), walk);
    case kTypeSymbolicLink:
      wait_for_the_end(std::move(member), walk.root, walk.tree);
      return false;
    default:
      // Its key wait comes after every line before it.
      drain(walk.lines, walk.pool, walk.tree);
      output_unhandled(member, walk.keys);
      return false;
  }
}
