// The file services' rules, the same on every platform: which calls are
// allowed on which file, how the position and the end flag move, and the
// neutral result of every failure. The platform's own calls are behind
// system_files.h.
#include "fileio/file_access.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "fileio/archive_stream.h"
#include "fileio/compression_format.h"
#include "fileio/decoder.h"
#include "fileio/file_table.h"
#include "fileio/path_style.h"
#include "fileio/system_files.h"

namespace {

constexpr int64_t kBlockSize = 512;
// The largest piece copy_blocks reads and writes at once; it bounds the
// memory a copy needs whatever the member's size.
constexpr int64_t kCopyPiece = 1 << 20;
// The largest piece copied inside the system at once (no memory of ours is
// used for it); between pieces the copy reports its progress and can be
// stopped, so a piece takes at most about half a second even on a disk that
// writes 16 MB a second.
constexpr int64_t kKernelPiece = int64_t{8} << 20;

// Reads of a binary disk file go through a read-ahead buffer, so that the
// headers and small members of an archive cost one system read for many.
// Its fills start small after every jump of the position past what it holds
// (a member passed over is never read beyond the first small fill) and
// double while the file is read in order, up to kReadAheadLargest.
constexpr int64_t kReadAheadSmallest = kReadAheadFirst;

// Holds nothing more: the next read goes to the file.
void drop_read_ahead(ReadAhead& ahead) {
  ahead.start = -1;
  ahead.filled = 0;
  ahead.at_end = false;
  ahead.next_size = kReadAheadSmallest;
}

// Reads up to `n` bytes at the record's position into `to` and moves the
// position past them: from the read-ahead, which is filled again for small
// reads, or straight from the file for large ones and for files that are not
// disk files. Returns the number read (fewer than `n` only at the end of the
// file), or -1 when a system read failed: then the position has not moved.
// A fill that fails is tried again as a read of the wanted bytes alone, so a
// failure past them never stops a read that can be served.
int64_t read_at_position(FileRecord& record, char* to, int64_t n) {
  if (record.stream != nullptr) {
    const int64_t got = stream_read(*record.stream, to, n);
    if (got > 0) record.position += got;
    return got;
  }
  ReadAhead& ahead = record.read_ahead;
  const int64_t first = record.position;
  int64_t got = 0;
  while (got < n) {
    const int64_t offset = record.position - ahead.start;
    if (ahead.start >= 0 && offset >= 0 && offset < ahead.filled) {
      const int64_t taken = std::min(n - got, ahead.filled - offset);
      std::copy_n(ahead.bytes.data() + offset, taken, to + got);
      got += taken;
      record.position += taken;
      continue;
    }
    if (ahead.start >= 0 && offset == ahead.filled && ahead.at_end) break;
    const int64_t wanted = n - got;
    int64_t read = -1;
    if (record.disk_file && wanted < kReadAheadLargest) {
      if (ahead.next_size < kReadAheadSmallest) ahead.next_size = kReadAheadSmallest;
      ahead.bytes.resize(static_cast<size_t>(kReadAheadLargest));
      // A fill takes at least the bytes wanted, and then a little more,
      // which holds the next header when they end a member.
      const int64_t size = wanted <= ahead.next_size
                               ? ahead.next_size
                               : std::min(wanted + kReadAheadSmallest, kReadAheadLargest);
      read = system_read(record, ahead.bytes.data(), size);
      if (read >= 0) {
        ahead.start = record.position;
        ahead.filled = read;
        ahead.at_end = read < size;
        ahead.next_size = std::min(2 * size, kReadAheadLargest);
        continue;
      }
      // The failed fill may have moved the file's own position (Windows).
      if (!system_seek(record, record.position)) {
        record.position = first;
        return -1;
      }
    }
    drop_read_ahead(ahead);
    read = system_read(record, to + got, wanted);
    if (read < 0) {
      record.position = first;
      return -1;
    }
    got += read;
    record.position += read;
    if (read < wanted) break;
  }
  return got;
}

// Names that can never be opened: empty, wildcards (Windows), or a NUL byte
// (which the platform would take as the end of a shorter name).
bool openable_name(const Text& name) {
  return !name.empty() && !holds_wildcards(name) && name.find('\0') == Text::npos;
}

// The bytes a compressed format is told by.
constexpr int64_t kSignatureBytes = 16;

// Starts decompressing a binary disk file whose first bytes show a format
// this build reads. False when the file cannot be put back at its start.
bool read_compressed(FileRecord& record) {
  char head[kSignatureBytes];
  const int64_t got = system_read(record, head, kSignatureBytes);
  if (got <= 0) return true;
  // The read may have moved the file's own position (Windows).
  if (!system_seek(record, 0)) return false;
  const DecoderKind* kind = decoder_kind(compression_of(Text(head, static_cast<size_t>(got))));
  if (kind != nullptr) record.stream = start_stream(record, *kind);
  return true;
}

void open_file(const Text& name, int32_t number, FileKind kind) {
  const Text usable = system_file_name(name);
  if (!openable_name(usable)) return;
  if (number < 0 || number > kLastFileNumber || find_file(number) != nullptr) return;
  FileRecord record;
  record.kind = kind;
  if (!system_open(usable, record)) return;
  if (kind == FileKind::binary && record.disk_file && !read_compressed(record)) {
    system_close(record);
    return;
  }
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

// True when the file is known to hold nothing from its position on (an
// output file emptied by its open and written up to here).
bool past_the_end(const FileRecord& record) {
  return record.length >= 0 && record.position >= record.length;
}

// The bytes from the record's position on that the read-ahead holds.
int64_t held_ahead(const FileRecord& record) {
  const ReadAhead& ahead = record.read_ahead;
  const int64_t offset = record.position - ahead.start;
  return ahead.start >= 0 && offset >= 0 && offset < ahead.filled ? ahead.filled - offset : 0;
}

bool all_zero(const char* data, int64_t n) {
  return n > 0 && data[0] == '\0' && std::memcmp(data, data + 1, static_cast<size_t>(n - 1)) == 0;
}

// Writes `n` bytes after a hole of `hole` bytes that ends at the record's
// position; returns how many bytes were written. When none are, the position
// goes back to the start of the hole, so the file ends where its data ends.
int64_t write_after_hole(FileRecord& record, const char* data, int64_t n, int64_t hole) {
  if (hole > 0 && !system_seek(record, record.position)) {
    record.position -= hole;
    return -1;
  }
  const int64_t put = system_write(record, data, n);
  if (put > 0) {
    record.position += put;
    grow_length(record);
  } else if (hole > 0) {
    record.position -= hole;
    system_seek(record, record.position);
  }
  return put;
}

// Moves a compressed file's data forwards by reading it: the data taken
// back cannot be read again, so a move backwards is refused. Past the end
// of the data the position is set all the same, as on a disk file.
void move_stream(FileRecord& record, int64_t offset) {
  if (offset < record.position) {
    record.failed = true;
    return;
  }
  int64_t reached = record.position;
  while (reached < offset) {
    const char* data = nullptr;
    const int64_t taken = stream_take(*record.stream, offset - reached, &data);
    if (taken < 0) {
      record.failed = true;
      return;
    }
    if (taken == 0) break;
    reached += taken;
  }
  record.position = offset;
  record.end_flag = false;
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
  const int64_t got = read_at_position(*record, block.data(), n);
  if (got < 0) {
    record->failed = true;
    return "";
  }
  block.resize(static_cast<size_t>(got));
  record->end_flag = got < n;
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
  if (record->stream != nullptr) {
    move_stream(*record, position - 1);
    return;
  }
  // Within what was read ahead (or right after it, where the file's own
  // position already is) the move needs no system call.
  ReadAhead& ahead = record->read_ahead;
  const int64_t offset = position - 1 - ahead.start;
  if (ahead.start >= 0 && offset >= 0 && offset <= ahead.filled) {
    record->position = position - 1;
    record->end_flag = false;
    return;
  }
  drop_read_ahead(ahead);
  if (!system_seek(*record, position - 1)) {
    record->failed = true;
    return;
  }
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

void mark_sparse(int32_t number) {
  const FileRecord* record = open_as(number, FileKind::output);
  if (record != nullptr && record->disk_file) system_mark_sparse(*record);
}

bool read_failed(int32_t number) {
  const FileRecord* record = find_file(number);
  return record != nullptr && record->failed;
}

bool close_file(int32_t number) {
  FileRecord* record = find_file(number);
  if (record == nullptr) return true;
  // The stream's thread stops before its handle goes.
  record->stream.reset();
  const bool closed = system_close(*record);
  remove_file(number);
  return closed;
}

namespace {

// One copy of data from a binary file to an output file, in the order a
// piece of it takes its road: what the read-ahead holds first, then whole
// pieces inside the system while it takes them, then pieces through memory;
// zeros past the output's end become a hole, closed by the last byte.
struct Copy {
  FileRecord& source;
  FileRecord* target;      // nullptr once the output takes no more
  int64_t unread = 0;      // bytes of the source still to read
  int64_t unwritten = 0;   // bytes of those still to write
  int64_t written = 0;     // bytes known to be in the output
  int64_t hole = 0;        // zeros passed over in the output since the last write
  bool in_system = false;  // whole pieces may be copied inside the system
  std::vector<char> buffer{};

  // The next piece's size: no larger than what the read-ahead holds, so
  // that what it holds is taken on its own.
  int64_t piece() const {
    const int64_t held = held_ahead(source);
    return std::min({unread, kCopyPiece, held > 0 ? held : kCopyPiece});
  }

  // Copies a run of whole pieces inside the system; false when it cannot
  // (the first refusal leaves the rest to the copy through memory).
  bool system_piece() {
    const int64_t asked = piece();
    if (!in_system || target == nullptr || unwritten < asked || held_ahead(source) > 0) {
      return false;
    }
    const int64_t whole = std::min(unwritten, unread) / asked * asked;
    const int64_t copied = system_copy_range(source, *target, std::min(whole, kKernelPiece));
    if (copied <= 0) {
      in_system = false;
      return false;
    }
    source.position += copied;
    target->position += copied;
    grow_length(*target);
    written += hole + copied;
    hole = 0;
    unread -= copied;
    unwritten -= copied;
    return true;
  }

  // Reads a piece through memory (decompressed data from the stream's own
  // buffer) and writes what of it belongs to the output. False at the end of
  // the source or when a read failed: what follows a failure is never taken
  // for data, and the position stays before it.
  bool memory_piece() {
    int64_t asked = piece();
    const char* data = buffer.data();
    int64_t got;
    if (source.stream != nullptr) {
      got = stream_take(*source.stream, asked, &data);
      // A piece ends where the stream's buffer does.
      if (got > 0) {
        asked = got;
        source.position += got;
      }
    } else {
      if (static_cast<int64_t>(buffer.size()) < asked) buffer.resize(static_cast<size_t>(asked));
      data = buffer.data();
      got = read_at_position(source, buffer.data(), asked);
    }
    if (got < 0) {
      source.failed = true;
      return false;
    }
    source.end_flag = got < asked;
    unread -= got;
    const int64_t wanted = std::min(got, unwritten);
    unwritten -= wanted;
    if (target != nullptr && wanted > 0) put(data, wanted);
    return got == asked;
  }

  // Writes data to the output, or passes a piece of zeros over as a hole
  // where nothing lies in the file from its position on: the gap reads as
  // zeros once a write extends the file past it, and counts as written from
  // then on. Once the output takes no more (a full disk), the rest is still
  // read, so that the source stays on its block boundaries.
  void put(const char* data, int64_t n) {
    if (past_the_end(*target) && all_zero(data, n)) {
      target->position += n;
      hole += n;
      return;
    }
    const int64_t put = write_after_hole(*target, data, n, hole);
    if (put > 0) written += hole + put;
    hole = 0;
    if (put < n) target = nullptr;
  }

  // A copy that ends in a hole: its last byte, written, gives the file its
  // length.
  void finish_hole() {
    if (target == nullptr || hole == 0) return;
    const char zero = '\0';
    target->position -= 1;
    if (write_after_hole(*target, &zero, 1, hole - 1) == 1) written += hole;
  }
};

// Reads `unread` bytes of binary file `from` and writes the first `size` of
// them to output file `to`, telling `hook` between pieces.
int64_t copy_data(int32_t from, int32_t to, int64_t unread, int64_t size, CopyHook hook) {
  FileRecord* source = open_as(from, FileKind::binary);
  if (source == nullptr) return 0;
  Copy copy{*source, open_as(to, FileKind::output), unread, std::clamp<int64_t>(size, 0, unread)};
  copy.in_system = copy.target != nullptr && source->stream == nullptr;
  const int64_t start = source->position;
  while (copy.unread > 0 && (copy.system_piece() || copy.memory_piece())) {
    if (hook.report != nullptr && copy.unread > 0 &&
        !hook.report(hook.context, source->position - start)) {
      break;
    }
  }
  copy.finish_hole();
  return copy.written;
}

}  // namespace

int64_t copy_blocks(int32_t from, int32_t to, int64_t block_count, int64_t size, CopyHook hook) {
  const int64_t most_blocks = std::numeric_limits<int64_t>::max() / kBlockSize;
  if (block_count <= 0) return 0;
  return copy_data(from, to, std::min(block_count, most_blocks) * kBlockSize, size, hook);
}

int64_t copy_bytes(int32_t from, int32_t to, int64_t count, CopyHook hook) {
  if (count <= 0) return 0;
  return copy_data(from, to, count, count, hook);
}

int64_t file_bytes_read(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr) return 0;
  return record->stream != nullptr ? stream_file_bytes(*record->stream) : record->position;
}
