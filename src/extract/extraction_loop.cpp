#include "extract/extraction_loop.h"

#include "console/console.h"
#include "console/print_line.h"
#include "extract/header.h"
#include "extract/member_output.h"
#include "extract/pax_size.h"
#include "extract/unsafe_name.h"
#include "fileio/file_access.h"
#include "text/string_ops.h"

namespace {

constexpr int32_t kEscKey = 27;
constexpr int32_t kEscPressesToAbort = 3;

bool begins_with(const Text& name, const Text& prefix) {
  return substring(name, 1, static_cast<int32_t>(prefix.size())) == prefix;
}

// Moves the archive past the member's data blocks without reading them,
// unless they have been read already (`held`). The line names the member
// either way; when the move is refused, the walk ends right after it with
// the archive's read error.
void pass_over(const Member& member, const Text& label, const Text* held) {
  if (held == nullptr) {
    set_position(kArchiveFile, get_position(kArchiveFile) + kBlockSize * member.block_count);
  }
  print_line(label + printable(member.name));
}

bool is_extended_header(const Member& member) {
  return member.type_flag == kTypeFlagPaxHeader || member.type_flag == kTypeFlagPaxGlobal;
}

// The size record in the data of an extended header; none when the archive
// ended inside the data.
PaxSize size_record(const Member& member, const Text& held) {
  if (static_cast<int64_t>(held.size()) < member.size) return PaxSize{};
  return find_pax_size(held.substr(0, static_cast<size_t>(member.size)));
}

// Whether the walk can go on: the archive has not ended, and no read or
// move of it has failed (after a failure the position is no longer known to
// be on a header, so nothing more is read).
bool walk_goes_on() {
  return at_end(kArchiveFile) == 0 && !read_failed(kArchiveFile);
}

}  // namespace

ExtractionOutcome run_extraction(const Text& outdir, Text& start_at, const Text& only) {
  int32_t esc_count = 0;
  // The size that an extended header gave the next member; -1 for none.
  int64_t next_size = -1;
  while (walk_goes_on()) {
    if (key_waiting() != 0 && first_code(read_key()) == kEscKey &&
        ++esc_count == kEscPressesToAbort) {
      close_file(kArchiveFile);
      print_line("Aborted");
      return ExtractionOutcome::aborted;
    }
    const Text block = read_block(kArchiveFile, kBlockSize);
    // A failed read gives an empty block, which is not an empty header.
    if (read_failed(kArchiveFile)) break;
    if (is_empty_header(block)) continue;
    Member member = decode_header(block);
    if (next_size >= 0 && !is_extended_header(member)) {
      // The extended header before this member gave its size, which counts
      // whatever its own size field holds (0 past 8 GiB), for this member only.
      member.size = next_size;
      member.block_count = block_count_of(next_size);
      member.bad_size = false;
      next_size = -1;
    }
    if (member.bad_size) {
      // Nothing after a header whose size cannot be trusted is taken as a
      // header: the walk ends here.
      print_line("ERROR: Bad size field: " + printable(member.name));
      break;
    }
    // The data of an extended header for the next member is small: it is
    // read here, whether the header is then written out or passed over, so
    // that its size record always reaches the member it describes.
    Text data;
    const Text* held = nullptr;
    if (member.type_flag == kTypeFlagPaxHeader && member.size <= kMaxPaxHeaderSize) {
      data = read_block(kArchiveFile, static_cast<int32_t>(member.block_count * kBlockSize));
      held = &data;
      const PaxSize record = size_record(member, data);
      if (record.kind == PaxSizeKind::bad) {
        print_line("ERROR: Bad size field: " + printable(member.name));
        break;
      }
      if (record.kind == PaxSizeKind::found) next_size = record.size;
    }
    if (!start_at.empty()) {
      if (!begins_with(member.name, start_at)) {
        pass_over(member, "Skip: ", held);
        continue;
      }
      start_at.clear();
    }
    if (!only.empty() && !begins_with(member.name, only)) {
      pass_over(member, "Skip: ", held);
      continue;
    }
    if (is_unsafe_name(member.name)) {
      pass_over(member, "Skip (unsafe name): ", held);
      continue;
    }
    output_member(member, outdir, held);
  }
  // A failed read or move ends the walk as a completed run, with one line.
  if (read_failed(kArchiveFile)) print_line("ERROR: Cannot read the archive");
  close_file(kArchiveFile);
  return ExtractionOutcome::completed;
}
