// The file services' rules, the same on every platform: which calls are
// allowed on which file, how the position and the end flag move, and the
// neutral result of every failure. The platform's own calls are behind
// system_files.h.
#include "fileio/file_access.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "fileio/archive_source.h"
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

// Names that can never be opened: empty, wildcards (Windows), or a NUL byte
// (which the platform would take as the end of a shorter name).
bool openable_name(const Text& name) {
  return !name.empty() && !holds_wildcards(name) && name.find('\0') == Text::npos;
}

// Chooses where a binary file's bytes come from. A disk file whose first
// bytes show a format this build reads, and every pipe (whose bytes can be
// read only once, in order), are read through a stream, decoded on a second
// thread; any other disk file is read where its bytes lie. A pipe's first
// bytes are read by the stream's thread, which waits for them: they tell
// its format there. A device gets no source: it has no positions and is no
// archive. False when the file cannot be put back at its start.
bool choose_source(FileRecord& record) {
  if (!record.disk_file && !record.pipe) return true;
  Text first;
  const DecoderKind* kind = nullptr;
  if (record.disk_file) {
    char head[kFormatHeadBytes];
    const int64_t got = system_read(record, head, kFormatHeadBytes);
    first.assign(head, static_cast<size_t>(std::max<int64_t>(got, 0)));
    kind = decoder_kind(compression_of(first));
  }
  if (kind != nullptr || record.pipe) {
    record.stream = start_stream(record, kind, first);
    record.source = &kStreamSource;
    // The file's own size says nothing of the decoded data's.
    record.length = -1;
    return true;
  }
  // The read may have moved the file's own position (Windows).
  if (!system_seek(record, 0)) return false;
  record.source = &kPlainSource;
  return true;
}

void open_file(const Text& name, int32_t number, FileKind kind) {
  if (!openable_name(name)) return;
  if (number < 0 || number > kLastFileNumber || find_file(number) != nullptr) return;
  FileRecord record;
  record.kind = kind;
  if (!system_open(name, record)) return;
  if (kind == FileKind::binary && !choose_source(record)) {
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

}  // namespace

void open_binary(const Text& name, int32_t number) {
  open_file(name, number, FileKind::binary);
}

void open_output(const Text& name, int32_t number) {
  open_file(name, number, FileKind::output);
}

Text read_block(int32_t number, int32_t n) {
  FileRecord* record = open_as(number, FileKind::binary);
  if (record == nullptr || record->source == nullptr || n < 0) return "";
  Text block(static_cast<size_t>(n), '\0');
  const int64_t got = record->source->read(*record, block.data(), n);
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

// Whether positions mean anything for the file: a binary file with a
// source, an output disk file.
bool positioned(const FileRecord& record) {
  return record.kind == FileKind::binary ? record.source != nullptr : record.disk_file;
}

int64_t get_position(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr || !positioned(*record)) return 0;
  return record->position + 1;
}

void set_position(int32_t number, int64_t position) {
  FileRecord* record = find_file(number);
  if (record == nullptr || !positioned(*record)) return;
  // Below position 1 the seek is refused and nothing changes.
  if (position < 1) return;
  if (record->source == nullptr) {
    if (!system_seek(*record, position - 1)) {
      record->failed = true;
      return;
    }
    record->position = position - 1;
  } else if (record->source->move(*record, position - 1) < 0) {
    record->failed = true;
    return;
  }
  record->end_flag = false;
}

int64_t move_forward(int32_t number, int64_t position) {
  FileRecord* record = open_as(number, FileKind::binary);
  if (record == nullptr || record->source == nullptr || record->failed) return 0;
  if (position - 1 < record->position) return record->position + 1;
  // A disk file's size is asked again only when the move goes past the size
  // known at its open (it may have grown since); a stream finds its end as
  // it reads.
  int64_t target = position - 1;
  if (record->length >= 0 && target > record->length) {
    record->length = std::max<int64_t>(file_size(number), 0);
    target = std::max(record->position, std::min(target, record->length));
  }
  const int64_t reached = record->source->move(*record, target);
  if (reached < 0) {
    record->failed = true;
    return 0;
  }
  record->end_flag = reached < position - 1;
  if (record->end_flag) record->position = reached;
  return record->position + 1;
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

void set_wait_hook(int32_t number, WaitHook hook) {
  FileRecord* record = open_as(number, FileKind::binary);
  if (record != nullptr && record->stream != nullptr) stream_set_wait_hook(*record->stream, hook);
}

ReadFault read_fault(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr || !record->failed) return ReadFault::none;
  const ReadFault fault =
      record->stream != nullptr ? stream_fault(*record->stream) : ReadFault::none;
  return fault != ReadFault::none ? fault : ReadFault::read_error;
}

bool read_to_end(int32_t number) {
  FileRecord* record = open_as(number, FileKind::binary);
  if (record == nullptr || record->source == nullptr) return true;
  if (record->failed) return false;
  if (record->stream == nullptr || !stream_compressed(*record->stream)) return true;
  for (;;) {
    const char* data = nullptr;
    const int64_t got = record->source->take(*record, kCopyPiece, &data);
    if (got < 0) {
      record->failed = true;
      return false;
    }
    if (got == 0) break;
  }
  record->end_flag = true;
  return true;
}

int64_t data_after_stream(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr || record->stream == nullptr) return -1;
  return stream_data_after(*record->stream);
}

int64_t memory_needed(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr || record->stream == nullptr) return 0;
  return static_cast<int64_t>(stream_memory_needed(*record->stream));
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

  // The next piece's size: no larger than what the read-ahead holds, so
  // that what it holds is taken on its own.
  int64_t piece() const {
    const int64_t held = source.source->held(source);
    return std::min({unread, kCopyPiece, held > 0 ? held : kCopyPiece});
  }

  // Copies a run of whole pieces inside the system; false when it cannot
  // (the first refusal leaves the rest to the copy through memory). A piece
  // smaller than a read-ahead fill (a small member, a large one's tail) goes
  // through memory: the fill that brings it brings the next headers too.
  bool system_piece() {
    const int64_t asked = piece();
    if (!in_system || target == nullptr || asked < kReadAheadLargest || unwritten < asked ||
        source.source->held(source) > 0) {
      return false;
    }
    const int64_t whole = std::min(unwritten, unread) / asked * asked;
    const int64_t copied =
        source.source->copy_inside(source, *target, std::min(whole, kKernelPiece));
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

  // Reads a piece through memory (a stream's data from its own buffer, a
  // piece ending where that buffer does) and writes what of it belongs to
  // the output. False at the end of the source or when a read failed: what
  // follows a failure is never taken for data, and the position stays before
  // it.
  bool memory_piece() {
    const char* data = nullptr;
    const int64_t got = source.source->take(source, piece(), &data);
    if (got < 0) {
      source.failed = true;
      return false;
    }
    source.end_flag = got == 0;
    unread -= got;
    const int64_t wanted = std::min(got, unwritten);
    unwritten -= wanted;
    if (target != nullptr && wanted > 0) put(data, wanted);
    return got > 0;
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
  if (source == nullptr || source->source == nullptr) return 0;
  Copy copy{*source, open_as(to, FileKind::output), unread, std::clamp<int64_t>(size, 0, unread)};
  copy.in_system = copy.target != nullptr;
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
  if (record == nullptr || record->source == nullptr) return 0;
  return record->source->file_bytes(*record);
}
