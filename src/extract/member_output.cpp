#include "extract/member_output.h"

#include "console/console.h"
#include "console/print_line.h"
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

void output_directory(const Member& member, const Text& outdir) {
  create_directory_path(map_member_path(outdir, member.name, true));
}

// Writes the first `size` bytes of data already read from the archive to the
// output file; returns how many reached it.
int64_t write_held(const Text& held, int64_t size) {
  const int64_t before = get_position(kOutputFile);
  write_text(kOutputFile, held.substr(0, static_cast<size_t>(size)));
  return get_position(kOutputFile) - before;
}

void output_regular_file(const Member& member, const Text& outdir, const Text* held) {
  const Text path = map_member_path(outdir, member.name, false);
  Text parent = substring(path, 1, find_text(-1, path, kSeparator) - 1);
  // A root directory as the parent ("/", "g:\") is probed as itself. A
  // parent that the file services hold open from the file before is known
  // to be there: most members follow one another in the same directory.
  if (!parent_held(path) && find_entry(directory_probe(parent), kAttributeDirectory).empty()) {
    create_directory_path(parent);
  }

  print_line(printable(path) + " (" + grouped_number(member.size) + " bytes)");
  open_output(path, kOutputFile);
  const bool opened = at_end(kOutputFile) == 0;
  // The data is read even when the file could not be opened, so that the
  // walk stays on the archive's block boundaries.
  CopyProgress progress;
  const CopyHook hook = follow_copy(progress, member.size, get_position(kArchiveFile) - 1);
  const int64_t copied = held != nullptr ? write_held(*held, member.size)
                                         : copy_blocks(kArchiveFile, kOutputFile,
                                                       member.block_count, member.size, hook);
  end_copy(progress);
  // An error reported at the close (a network file system, a quota) leaves
  // no byte of the file known to be on disk.
  const bool closed = close_file(kOutputFile);
  const int64_t written = closed ? copied : 0;

  if (!opened) {
    // A name ending in the separator marks a directory in older archives:
    // its directory has been made above, and no file is expected unless the
    // member carries data, which would otherwise be lost without a word.
    if (right_part(path, 1) != kSeparator || member.size > 0) {
      print_line("ERROR: Cannot create this file");
    }
  } else if (!closed && member.size == 0) {
    // Nothing is known of an empty file whose close failed, not even that
    // it is there.
    print_line("ERROR: Cannot create this file");
  } else if (written < member.size) {
    print_line("ERROR: Incomplete file (" + grouped_number(written) + " of " +
               grouped_number(member.size) + " bytes written)");
  }
}

void output_unhandled(const Member& member) {
  print_line(printable(member.name) + " (" + grouped_number(member.size) + " bytes)");
  print_line("ERROR: Type problem!");
  print_line("Unhandled: " + number_text(member.type));
  print_line("Contact me at " + kSupportAddress + " and I'll add support.");
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

void output_member(const Member& member, const Text& outdir, const Text* held) {
  if (member.type == kTypeDirectory) {
    output_directory(member, outdir);
  } else if (member.type == kTypeRegular) {
    output_regular_file(member, outdir, held);
  } else {
    output_unhandled(member);
  }
}
