// The file services' rules, the same on every platform: which calls are
// allowed on which file, how the position and the end flag move, and the
// neutral result of every failure. The platform's own calls are behind
// system_files.h.
#include "fileio/file_access.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "fileio/file_table.h"
#include "fileio/system_files.h"

namespace {

constexpr int64_t kBlockSize = 512;
// The largest piece copy_blocks reads and writes at once; it bounds the
// memory a copy needs whatever the member's size.
constexpr int64_t kCopyPiece = 1 << 20;

// Names that can never be opened: empty, wildcards, or a NUL byte (which
// the platform would take as the end of a shorter name).
bool openable_name(const Text& name) {
  return !name.empty() && name.find_first_of("*?") == Text::npos && name.find('\0') == Text::npos;
}

void open_file(const Text& name, int32_t number, FileKind kind) {
  const Text usable = system_file_name(name);
  if (!openable_name(usable)) return;
  if (number < 0 || number > kLastFileNumber || find_file(number) != nullptr) return;
  FileRecord record;
  record.kind = kind;
  if (!system_open(usable, record)) return;
  add_file(number, record);
}

// A write past the known end of a file moves its end.
void grow_length(FileRecord& record) {
  if (record.length >= 0 && record.position > record.length) record.length = record.position;
}

FileRecord* open_as(int32_t number, FileKind kind) {
  FileRecord* record = find_file(number);
  return record != nullptr && record->kind == kind ? record : nullptr;
}

}  // namespace

void open_binary(const Text& name, int32_t number) {
  open_file(name, number, FileKind::binary);
}

void open_output(const Text& name, int32_t number) {
  open_file(name, number, FileKind::output);
}

Text read_block(int32_t number, int32_t n) {
  FileRecord* record = open_as(number, FileKind::binary);
  if (record == nullptr || n < 0) return "";
  Text block(static_cast<size_t>(n), '\0');
  const int64_t got = system_read(*record, block.data(), n);
  if (got < 0) return "";
  block.resize(static_cast<size_t>(got));
  record->end_flag = got < n;
  record->position += got;
  return block;
}

int32_t at_end(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr) return -1;
  if (record->kind == FileKind::output) return 0;
  return record->end_flag ? -1 : 0;
}

int64_t get_position(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr || !record->disk_file) return 0;
  return record->position + 1;
}

void set_position(int32_t number, int64_t position) {
  FileRecord* record = find_file(number);
  if (record == nullptr || !record->disk_file) return;
  // Below position 1 the seek is refused and nothing changes.
  if (position < 1) return;
  if (!system_seek(*record, position - 1)) return;
  record->position = position - 1;
  record->end_flag = false;
}

void write_text(int32_t number, const Text& text) {
  FileRecord* record = open_as(number, FileKind::output);
  if (record == nullptr || text.empty()) return;
  const int64_t length = static_cast<int64_t>(text.size());
  const int64_t put = system_write(*record, text.data(), length);
  if (put == length) {
    record->position += length;
    grow_length(*record);
  } else if (put > 0 && record->length >= 0) {
    // The part that fit lies past the position, which stays: the file is cut
    // back to the position when it is closed.
    record->length = std::max(record->length, record->position + put);
  }
}

void close_file(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr) return;
  system_close(*record);
  remove_file(number);
}

int64_t copy_blocks(int32_t from, int32_t to, int64_t block_count, int64_t size) {
  FileRecord* source = open_as(from, FileKind::binary);
  if (source == nullptr || block_count <= 0) return 0;
  FileRecord* target = open_as(to, FileKind::output);

  const int64_t most_blocks = std::numeric_limits<int64_t>::max() / kBlockSize;
  int64_t unread = block_count > most_blocks ? most_blocks * kBlockSize : block_count * kBlockSize;
  int64_t unwritten = std::clamp<int64_t>(size, 0, unread);
  std::vector<char> buffer(static_cast<size_t>(std::min(unread, kCopyPiece)));

  int64_t written = 0;
  while (unread > 0) {
    const int64_t asked = std::min(unread, static_cast<int64_t>(buffer.size()));
    const int64_t got = system_read(*source, buffer.data(), asked);
    // A failed read changes nothing, as it would for read_block.
    if (got < 0) break;
    source->position += got;
    source->end_flag = got < asked;
    unread -= got;

    const int64_t wanted = std::min(got, unwritten);
    unwritten -= wanted;
    if (target != nullptr && wanted > 0) {
      const int64_t put = system_write(*target, buffer.data(), wanted);
      if (put > 0) {
        target->position += put;
        grow_length(*target);
        written += put;
      }
      // Once the output takes no more (a full disk), the rest of the data is
      // still read so that the archive stays on its block boundaries.
      if (put < wanted) target = nullptr;
    }
    if (got < asked) break;
  }
  return written;
}
