#include "extract/extraction_loop.h"

#include <utility>

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "extract/archive_reader.h"
#include "extract/member_output.h"
#include "extract/stop_keys.h"
#include "extract/unsafe_name.h"
#include "extract/walk_state.h"
#include "fileio/compression_format.h"
#include "fileio/file_access.h"
#include "fileio/processors.h"
#include "text/number_text.h"
#include "text/string_ops.h"

namespace {

constexpr int64_t kMebibyte = int64_t{1} << 20;

bool begins_with(const Text& name, const Text& prefix) {
  return substring(name, 1, static_cast<int32_t>(prefix.size())) == prefix;
}

// What a compressed archive's data after its end marker failed on.
Text fault_after_end(const FileRecord& file) {
  switch (read_fault(file)) {
    case ReadFault::bad_checksum:
      return "is damaged after the last member (bad checksum)";
    case ReadFault::cut_short:
      return "is cut short after the last member";
    case ReadFault::too_large:
      return "cannot be read after the last member (it needs " +
             grouped_number((memory_needed(file) + kMebibyte - 1) / kMebibyte) +
             " MiB of memory to decompress)";
    default:
      return "is damaged after the last member (corrupt data)";
  }
}

// The line that says why the members ended, when anything is to be said;
// true when it is an ERROR line.
bool report_end(const ArchiveReader& reader) {
  switch (reader.end) {
    case ArchiveEnd::none:
    case ArchiveEnd::data_ended:
      return false;
    case ArchiveEnd::end_marker:
      if (reader.data_after_end) {
        print_line("The archive ends at offset " + grouped_number(reader.end_offset) +
                   "; the data after it was not read");
      }
      return false;
    case ArchiveEnd::not_tar:
      print_line("ERROR: Not a tar archive" +
                 (reader.not_tar_format == Compression::none
                      ? Text()
                      : " (" + compression_name(reader.not_tar_format) + ")"));
      return true;
    case ArchiveEnd::damaged:
      print_line("ERROR: Damaged header at offset " + grouped_number(reader.end_offset));
      return true;
    case ArchiveEnd::cut_short:
      print_line("ERROR: Archive cut short at offset " + grouped_number(reader.end_offset));
      return true;
    case ArchiveEnd::read_failed: {
      const int64_t needed = memory_needed(reader.archive);
      print_line("ERROR: Cannot read the archive" +
                 (needed > 0
                      ? " (it needs " + grouped_number((needed + kMebibyte - 1) / kMebibyte) +
                            " MiB of memory to decompress)"
                      : ": " + failure_reason(read_failure(reader))));
      return true;
    }
    case ArchiveEnd::failed_after_end:
      print_line("ERROR: The compressed data " + fault_after_end(reader.archive));
      return true;
    case ArchiveEnd::bad_size:
      print_line("ERROR: Bad size field: " + printable(reader.end_name));
      return true;
    case ArchiveEnd::bad_extension:
      print_line("ERROR: Bad extended header: " + printable(reader.end_name));
      return true;
  }
  return false;
}

// Bytes after a compressed archive's last stream (and the zeros padding it)
// that begin no stream are not read; the line says where they begin, once
// the data has ended there.
void report_data_after_stream(const FileRecord& archive) {
  const int64_t offset = data_after_stream(archive);
  if (offset < 0) return;
  print_line("Data after the compressed stream, from offset " + grouped_number(offset) +
             " of the file, was not read");
}

// While a read of the archive waits for its data (a pipe's writer is slow),
// the writers are woken for what they were handed, the lines of the members
// done go out, and the stop keys are taken: they stop the wait.
bool keep_waiting(void* context) {
  WalkState& walk = *static_cast<WalkState*>(context);
  wake_writers(walk.pool);
  release_done(walk.lines, walk.tree);
  return !take_stop_keys(walk.keys);
}

// The members still being made are finished and their lines written, then
// "Aborted".
ExtractionOutcome abort_walk(ArchiveReader& reader, WalkState& walk) {
  drain(walk.lines, walk.pool, walk.tree);
  close_file(reader.archive);
  print_line("Aborted");
  return ExtractionOutcome::aborted;
}

}  // namespace

ExtractionOutcome run_extraction(ArchiveReader& reader, OutputRoot& root, Text& start_at,
                                 const Text& only) {
  WalkState walk(root);
  start_pool(walk.pool, root, writers_for(processor_count()));
  bool error_written = false;
  // A member passed over as unsafe, or a prefix that no member matched,
  // leaves the archive's members unwritten: the outcome says so.
  const Text prefix = start_at.empty() ? only : start_at;
  bool matched = false;
  bool passed_over_unsafe = false;
  set_wait_hook(reader.archive, WaitHook{keep_waiting, &walk});
  Member member;
  for (;;) {
    // What the writers have finished goes out before the next member.
    release_done(walk.lines, walk.tree);
    if (key_waiting() != 0 && count_stop_key(walk.keys, read_key())) {
      return abort_walk(reader, walk);
    }
    if (!next_member(reader, member)) break;
    // A member passed over gets its line; the reader passes over its data.
    if (!start_at.empty()) {
      if (!begins_with(member.name, start_at)) {
        say(walk.lines, "Skip: " + printable(member.name));
        continue;
      }
      start_at.clear();
    }
    if (!only.empty() && !begins_with(member.name, only)) {
      say(walk.lines, "Skip: " + printable(member.name));
      continue;
    }
    matched = true;
    if (is_unsafe_name(member.name)) {
      say(walk.lines, "Skip (unsafe name): " + printable(member.name));
      passed_over_unsafe = true;
      continue;
    }
    error_written |= output_member(std::move(member), reader.data, walk);
    // A copy stopped by the keys is not passed over to its end (a
    // compressed member could take long to decode): the walk ends here.
    if (stop_requested(walk.keys)) return abort_walk(reader, walk);
  }
  // Keys taken while a read waited stop the run there.
  if (stop_requested(walk.keys)) return abort_walk(reader, walk);
  drain(walk.lines, walk.pool, walk.tree);
  error_written |= walk.lines.errors;
  // The links and the directories' settings belong to the members: their
  // lines come before the line that says how the archive ended.
  error_written |= finish_tree(walk.tree, root, walk.lines);
  const bool damaged = report_end(reader);
  error_written |= damaged;
  report_data_after_stream(reader.archive);
  // Said once the archive has ended as it should: after damage the line
  // that says so is the last word.
  if (!prefix.empty() && !matched && !damaged) {
    print_line("ERROR: No member matched the prefix '" + printable(prefix) + "'");
    error_written = true;
  }
  close_file(reader.archive);
  return error_written || passed_over_unsafe ? ExtractionOutcome::with_errors
                                             : ExtractionOutcome::completed;
}
