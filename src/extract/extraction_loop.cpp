#include "extract/extraction_loop.h"

#include "console/console.h"
#include "console/print_line.h"
#include "extract/header.h"
#include "extract/member_output.h"
#include "fileio/file_access.h"
#include "text/string_ops.h"

namespace {

constexpr int32_t kEscKey = 27;
constexpr int32_t kEscPressesToAbort = 3;

bool begins_with(const Text& name, const Text& prefix) {
  return substring(name, 1, static_cast<int32_t>(prefix.size())) == prefix;
}

// Moves the archive past the member's data blocks without reading them.
void pass_over(const Member& member, const Text& label) {
  set_position(kArchiveFile, get_position(kArchiveFile) + kBlockSize * member.block_count);
  print_line(label + printable(member.name));
}

}  // namespace

ExtractionOutcome run_extraction(const Text& outdir, Text& start_at, const Text& only) {
  int32_t esc_count = 0;
  while (at_end(kArchiveFile) == 0) {
    if (key_waiting() != 0 && first_code(read_key()) == kEscKey &&
        ++esc_count == kEscPressesToAbort) {
      close_file(kArchiveFile);
      print_line("Aborted");
      return ExtractionOutcome::aborted;
    }
    const Text block = read_block(kArchiveFile, kBlockSize);
    if (is_empty_header(block)) continue;
    const Member member = decode_header(block);
    if (member.bad_size) {
      // Nothing after a header whose size cannot be trusted is taken as a
      // header: the walk ends here.
      print_line("ERROR: Bad size field: " + printable(member.name));
      break;
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
    output_member(member, outdir);
  }
  close_file(kArchiveFile);
  return ExtractionOutcome::completed;
}
