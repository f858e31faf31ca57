#include "extract/extraction_loop.h"

#include <utility>

#include "console/console.h"
#include "console/print_line.h"
#include "console/printable.h"
#include "extract/archive_reader.h"
#include "extract/member_output.h"
#include "extract/stop_keys.h"
#include "extract/unsafe_name.h"
#include "fileio/compression_format.h"
#include "fileio/file_access.h"
#include "text/number_text.h"
#include "text/string_ops.h"

namespace {

constexpr int64_t kMebibyte = int64_t{1} << 20;

bool begins_with(const Text& name, const Text& prefix) {
  return substring(name, 1, static_cast<int32_t>(prefix.size())) == prefix;
}

// What a compressed archive's data after its end marker failed on.
Text fault_after_end(int32_t file) {
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
      const int64_t needed = memory_needed(reader.file);
      print_line("ERROR: Cannot read the archive" +
                 (needed > 0
                      ? " (it needs " + grouped_number((needed + kMebibyte - 1) / kMebibyte) +
                            " MiB of memory to decompress)"
                      : Text()));
      return true;
    }
    case ArchiveEnd::failed_after_end:
      print_line("ERROR: The compressed data " + fault_after_end(reader.file));
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
void report_data_after_stream(int32_t file) {
  const int64_t offset = data_after_stream(file);
  if (offset < 0) return;
  print_line("Data after the compressed stream, from offset " + grouped_number(offset) +
             " of the file, was not read");
}

ExtractionOutcome abort_walk() {
  close_file(kArchiveFile);
  print_line("Aborted");
  return ExtractionOutcome::aborted;
}

}  // namespace

ExtractionOutcome run_extraction(const Text& outdir, Text& start_at, const Text& only) {
  StopKeys keys;
  bool error_written = false;
  ArchiveReader reader = start_reader(kArchiveFile);
  // A read that waits for a pipe's data looks at the keys meanwhile.
  set_wait_hook(kArchiveFile, stop_keys_wait_hook(keys));
  Member member;
  for (;;) {
    if (key_waiting() != 0 && count_stop_key(keys, read_key())) return abort_walk();
    if (!next_member(reader, member)) break;
    // A member passed over gets its line; the reader passes over its data.
    if (!start_at.empty()) {
      if (!begins_with(member.name, start_at)) {
        print_line("Skip: " + printable(member.name));
        continue;
      }
      start_at.clear();
    }
    if (!only.empty() && !begins_with(member.name, only)) {
      print_line("Skip: " + printable(member.name));
      continue;
    }
    if (is_unsafe_name(member.name)) {
      print_line("Skip (unsafe name): " + printable(member.name));
      continue;
    }
    error_written |= output_member(std::move(member), outdir, keys);
    // A copy stopped by the keys is not passed over to its end (a
    // compressed member could take long to decode): the walk ends here.
    if (stop_requested(keys)) return abort_walk();
  }
  // Keys taken while a read waited stop the run there.
  if (stop_requested(keys)) return abort_walk();
  error_written |= report_end(reader);
  report_data_after_stream(kArchiveFile);
  close_file(kArchiveFile);
  return error_written ? ExtractionOutcome::with_errors : ExtractionOutcome::completed;
}
