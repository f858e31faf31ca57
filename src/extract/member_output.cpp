#include "extract/member_output.h"

#include <algorithm>

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "console/progress_row.h"
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

Text without_last_byte(const Text& text) {
  return substring(text, 1, static_cast<int32_t>(text.size()) - 1);
}

bool output_directory(const Member& member, const Text& outdir) {
  return !create_directory_path(map_member_path(outdir, member.name, true));
}

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

// Copies the pieces of a sparse member, whose `blocks` data blocks follow,
// each to its place in the output file, which then ends at the real size.
// Returns the bytes of the file known to be written (holes included): up to
// the first piece that could not be copied whole.
int64_t copy_pieces(const SparseMap& map, int64_t blocks, CopyProgress& progress,
                    const CopyHook& hook) {
  const int64_t data_start = get_position(kArchiveFile);
  int64_t written = map.real_size;
  for (const SparsePiece& piece : map.pieces) {
    set_position(kOutputFile, piece.offset + 1);
    follow_piece(progress, piece.offset);
    const int64_t copied = copy_bytes(kArchiveFile, kOutputFile, piece.size, hook);
    if (copied < piece.size) {
      written = piece.offset + copied;
      break;
    }
  }
  // Past the padding after the last piece, or the pieces not copied (not
  // once the keys have stopped the run: nothing more is read then).
  if (!read_failed(kArchiveFile) && !progress.stopped) {
    set_position(kArchiveFile, data_start + kBlockSize * blocks);
  }
  set_position(kOutputFile, map.real_size + 1);
  return written;
}

// True when an ERROR line was written.
bool output_regular_file(const Member& member, const Text& outdir, StopKeys& keys) {
  // A sparse member's map, when it begins the data, is read first: the
  // member's line shows the file's real size.
  int64_t blocks = member.block_count;
  int64_t stored = member.size;
  SparseMap data_map;
  const SparseMap* map = member.sparse.sparse ? &member.sparse : nullptr;
  if (map != nullptr && map->map_in_data && !map->bad) {
    data_map.real_size = map->real_size;
    const int64_t taken = read_data_map(data_map, blocks);
    blocks -= taken;
    stored = std::max<int64_t>(0, stored - kBlockSize * taken);
    map = &data_map;
  }
  const int64_t size = map != nullptr && map->real_size >= 0 ? map->real_size : member.size;

  const Text path = map_member_path(outdir, member.name, false);
  if (map != nullptr && !map_fits(*map, stored)) {
    // Nothing is made of a file whose pieces cannot be placed.
    print_line(printable(path) + " (" + grouped_number(size) + " bytes)");
    print_line("ERROR: Bad sparse map");
    pass_blocks(blocks);
    return true;
  }
  Text parent = substring(path, 1, find_text(-1, path, kSeparator) - 1);
  // A root directory as the parent ("/", "g:\") is probed as itself. A
  // parent that the file services hold open from the file before, or can
  // reach and hold for this file's open, is known to be there.
  bool error_written = false;
  if (!parent_held(path) && !hold_parent(path) &&
      find_entry(directory_probe(parent), kAttributeDirectory).empty()) {
    error_written = !create_directory_path(parent);
  }

  print_line(printable(path) + " (" + grouped_number(size) + " bytes)");
  open_output(path, kOutputFile);
  const bool opened = at_end(kOutputFile) == 0;
  if (map != nullptr) mark_sparse(kOutputFile);
  // The data is read even when the file could not be opened, so that the
  // walk stays on the archive's block boundaries.
  CopyProgress progress;
  const CopyHook hook = follow_copy(progress, size, keys);
  const int64_t copied = map != nullptr
                             ? copy_pieces(*map, blocks, progress, hook)
                             : copy_blocks(kArchiveFile, kOutputFile, blocks, member.size, hook);
  end_copy(progress);
  // An error reported at the close (a network file system, a quota) leaves
  // no byte of the file known to be on disk.
  const bool closed = close_file(kOutputFile);
  const int64_t written = closed ? copied : 0;

  if (!opened) {
    // A name ending in the separator marks a directory in older archives:
    // its directory has been made above, and no file is expected unless the
    // member carries data, which would otherwise be lost without a word.
    if (right_part(path, 1) != kSeparator || size > 0) {
      print_line("ERROR: Cannot create this file");
      return true;
    }
  } else if (!closed && size == 0) {
    // Nothing is known of an empty file whose close failed, not even that
    // it is there.
    print_line("ERROR: Cannot create this file");
    return true;
  } else if (written < size) {
    print_line("ERROR: Incomplete file (" + grouped_number(written) + " of " +
               grouped_number(size) + " bytes written)");
    return true;
  }
  return error_written;
}

void output_unhandled(const Member& member) {
  print_line(printable(member.name) + " (" + grouped_number(member.size) + " bytes)");
  print_line("ERROR: Type problem!");
  print_line("Unhandled: " + number_text(member.type));
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

Text map_member_path(const Text& outdir, const Text& name, bool directory) {
  Text path = outdir + kSeparator + name;
  if (kSeparator != "/") path = replace_all(path, "/", kSeparator);
  const Text doubled = kSeparator + kSeparator;
  while (find_text(1, path, doubled) != 0) path = replace_all(path, doubled, kSeparator);
  if (directory && right_part(path, 1) == kSeparator) path = without_last_byte(path);
  return path;
}

void pass_blocks(int64_t blocks) {
  set_position(kArchiveFile, get_position(kArchiveFile) + kBlockSize * blocks);
}

bool output_member(const Member& member, const Text& outdir, StopKeys& keys) {
  if (member.type == kTypeRegular) return output_regular_file(member, outdir, keys);
  bool error_written = false;
  if (member.type == kTypeDirectory) {
    error_written = output_directory(member, outdir);
  } else {
    output_unhandled(member);
  }
  // Other members have no data, unless a size record says they do, or it is
  // the list of a dumpdir's entries: their data is passed over.
  if (member.sized_by_record || member.type_flag == kTypeFlagDumpDir) {
    pass_blocks(member.block_count);
  }
  return error_written;
}
