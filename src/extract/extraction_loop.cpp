#include "extract/extraction_loop.h"

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "extract/extension_headers.h"
#include "extract/header.h"
#include "extract/member_output.h"
#include "extract/stop_keys.h"
#include "extract/unsafe_name.h"
#include "fileio/compression_format.h"
#include "fileio/file_access.h"
#include "text/number_text.h"
#include "text/string_ops.h"

namespace {

bool begins_with(const Text& name, const Text& prefix) {
  return substring(name, 1, static_cast<int32_t>(prefix.size())) == prefix;
}

// Moves the archive past the member's data blocks without reading them and
// writes the line that names the member. When the move is refused, the walk
// ends right after it with the archive's read error.
void pass_over(const Member& member, const Text& label) {
  pass_blocks(member.block_count);
  print_line(label + printable(member.name));
}

// The line for a block that should hold a header and does not: the first
// one means the file is no tar archive (and, when its first bytes show it,
// what it is instead); a later one a damaged archive, at the block's offset.
void report_not_a_header(const Text& block, bool header_seen) {
  if (header_seen) {
    const int64_t offset = get_position(kArchiveFile) - 1 - static_cast<int64_t>(block.size());
    print_line("ERROR: Damaged header at offset " + grouped_number(offset));
    return;
  }
  const Compression format = compression_of(block);
  print_line("ERROR: Not a tar archive" +
             (format == Compression::none ? Text() : " (" + compression_name(format) + ")"));
}

// Whether the walk can go on: the archive has not ended, and no read or
// move of it has failed (after a failure the position is no longer known to
// be on a header, so nothing more is read).
bool walk_goes_on() {
  return at_end(kArchiveFile) == 0 && !read_failed(kArchiveFile);
}

ExtractionOutcome abort_walk() {
  close_file(kArchiveFile);
  print_line("Aborted");
  return ExtractionOutcome::aborted;
}

}  // namespace

ExtractionOutcome run_extraction(const Text& outdir, Text& start_at, const Text& only) {
  StopKeys keys;
  // What the extension headers read so far say of the next member.
  Extensions pending;
  bool header_seen = false;
  bool error_written = false;
  while (walk_goes_on()) {
    if (key_waiting() != 0 && count_stop_key(keys, read_key())) return abort_walk();
    const Text block = read_block(kArchiveFile, kBlockSize);
    // A failed read gives an empty block, which is not an empty header.
    if (read_failed(kArchiveFile)) break;
    if (is_empty_header(block)) continue;
    // Nothing is made from a block that is not a header: the walk ends.
    if (!checksum_matches(block)) {
      report_not_a_header(block, header_seen);
      error_written = true;
      break;
    }
    header_seen = true;
    Member member = decode_header(block);
    if (is_extension_header(member)) {
      const ExtensionRead read =
          member.bad_size ? ExtensionRead::bad_size : read_extension(member, pending);
      if (read == ExtensionRead::bad_size) {
        // Nothing after a size that cannot be trusted is taken as a header.
        print_line("ERROR: Bad size field: " + printable(member.name));
        error_written = true;
        break;
      }
      if (read == ExtensionRead::too_large) {
        print_line("ERROR: Bad extended header: " + printable(member.name));
        error_written = true;
        break;
      }
      continue;
    }
    apply_extensions(member, pending);
    if (member.bad_size) {
      print_line("ERROR: Bad size field: " + printable(member.name));
      error_written = true;
      break;
    }
    if (member.type_flag == kTypeFlagSparse) read_header_map(block, member);
    if (member.type_flag == kTypeFlagVolume) {
      // A volume label names the archive, not a member.
      pass_blocks(member.block_count);
      continue;
    }
    if (!start_at.empty()) {
      if (!begins_with(member.name, start_at)) {
        pass_over(member, "Skip: ");
        continue;
      }
      start_at.clear();
    }
    if (!only.empty() && !begins_with(member.name, only)) {
      pass_over(member, "Skip: ");
      continue;
    }
    if (is_unsafe_name(member.name)) {
      pass_over(member, "Skip (unsafe name): ");
      continue;
    }
    error_written |= output_member(member, outdir, keys);
    if (stop_requested(keys)) return abort_walk();
  }
  // A failed read or move ends the walk, with one line.
  if (read_failed(kArchiveFile)) {
    print_line("ERROR: Cannot read the archive");
    error_written = true;
  }
  close_file(kArchiveFile);
  return error_written ? ExtractionOutcome::with_errors : ExtractionOutcome::completed;
}
