#include "extract/member_output.h"

#include <algorithm>

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "console/progress_row.h"
#include "extract/case_clash.h"
#include "extract/copy_progress.h"
#include "extract/directory_path.h"
#include "extract/extraction_loop.h"
#include "extract/support_address.h"
#include "fileio/directory_service.h"
#include "fileio/file_access.h"
#include "fileio/output_root.h"
#include "fileio/path_style.h"
#include "text/number_text.h"
#include "text/string_ops.h"

namespace {

// Reads the map at the start of a sparse member's data into `map`; returns
// the number of blocks it took, at most `blocks`. A map that does not end
// within them is bad.
int64_t read_data_map(SparseMap& map, int64_t blocks) {
  DataMapReader reader;
  int64_t taken = 0;
  while (!reader.done && taken < blocks) {
    const Text block = read_block(kArchiveFile, kBlockSize);
    ++taken;
    if (block.size() < static_cast<size_t>(kBlockSize)) break;
    read_map_block(reader, map, block);
  }
  if (!reader.done) map.bad = true;
  return taken;
}

// Copies the pieces of the file's data, each to its place in the output
// file, which then ends at the real size (a hole after the last piece
// included). Returns the bytes of the file known to be written (holes
// included): up to the first piece that could not be copied whole, where
// the file then ends.
int64_t copy_pieces(const SparseMap& map, CopyProgress& progress, const CopyHook& hook) {
  for (const SparsePiece& piece : map.pieces) {
    if (get_position(kOutputFile) != piece.offset + 1) set_position(kOutputFile, piece.offset + 1);
    follow_piece(progress, piece.offset);
    const int64_t copied = copy_bytes(kArchiveFile, kOutputFile, piece.size, hook);
    if (copied < piece.size) return piece.offset + copied;
  }
  if (get_position(kOutputFile) != map.real_size + 1) set_position(kOutputFile, map.real_size + 1);
  return map.real_size;
}

// A regular file's data as one piece: it shares the sparse files' copy.
SparseMap whole_data(int64_t size) {
  SparseMap map;
  map.real_size = size;
  if (size > 0) map.pieces.push_back(SparsePiece{0, size});
  return map;
}

// True when an ERROR line was written.
bool output_regular_file(Member member, const Text& outdir, StopKeys& keys) {
  // A sparse member's map, when it begins the data, is read first: the
  // member's line shows the file's real size.
  const bool sparse = member.sparse.sparse;
  int64_t stored = member.size;
  SparseMap data_map;
  const SparseMap* map = &member.sparse;
  if (!sparse) {
    data_map = whole_data(member.size);
    map = &data_map;
  } else if (map->map_in_data && !map->bad) {
    data_map.sparse = true;
    data_map.real_size = map->real_size;
    const int64_t taken = read_data_map(data_map, member.block_count);
    stored = std::max<int64_t>(0, stored - kBlockSize * taken);
    map = &data_map;
  }
  const int64_t size = map->real_size >= 0 ? map->real_size : member.size;

  const Text path = map_member_path(outdir, std::move(member.name), false);
  if (sparse && !map_fits(*map, stored)) {
    // Nothing is made of a file whose pieces cannot be placed.
    print_line(printable(path) + " (" + grouped_number(size) + " bytes)");
    print_line("ERROR: Bad sparse map");
    return true;
  }
  // A root directory as the parent ("/", "g:\\") is probed as itself. A
  // parent that the file services hold open from the file before, or can
  // reach and hold for this file's open, is known to be there.
  bool error_written = false;
  if (!parent_held(path) && !hold_parent(path)) {
    const Text parent = substring(path, 1, find_text(-1, path, kSeparator) - 1);
    if (find_entry(directory_probe(parent), kAttributeDirectory).empty()) {
      error_written = !create_directory_path(parent);
    }
  }

  print_line(printable(path) + " (" + grouped_number(size) + " bytes)");
  open_output(path, kOutputFile);
  const bool opened = at_end(kOutputFile) == 0;
  if (opened && said_case_clash(kOutputFile, path)) error_written = true;
  int64_t written = 0;
  if (opened) {
    if (sparse) mark_sparse(kOutputFile);
    CopyProgress progress;
    const CopyHook hook = follow_copy(progress, size, keys);
    const int64_t copied = copy_pieces(*map, progress, hook);
    end_copy(progress);
    // An error reported at the close (a network file system, a quota)
    // leaves no byte of the file known to be on disk.
    written = close_file(kOutputFile) ? copied : -1;
  }
  // What was not read of the data (all of it, when the file could not be
  // made) is passed over by the archive reader.

  if (!opened) {
    // A name ending in the separator marks a directory in older archives:
    // its directory has been made above, and no file is expected unless the
    // member carries data, which would otherwise be lost without a word.
    if (right_part(path, 1) != kSeparator || size > 0) {
      print_line("ERROR: Cannot create this file");
      return true;
    }
  } else if (written < 0 && size == 0) {
    // Nothing is known of an empty file whose close failed, not even that
    // it is there.
    print_line("ERROR: Cannot create this file");
    return true;
  } else if (written < size) {
    print_line("ERROR: Incomplete file (" + grouped_number(std::max<int64_t>(written, 0)) + " of " +
               grouped_number(size) + " bytes written)");
    return true;
  }
  return error_written;
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

bool output_member(Member member, const Text& outdir, StopKeys& keys) {
  if (is_regular_file(member)) return output_regular_file(std::move(member), outdir, keys);
  if (member.type == kTypeDirectory) {
    return !create_directory_path(map_member_path(outdir, std::move(member.name), true));
  }
  output_unhandled(member);
  return false;
}
