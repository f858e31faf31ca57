// The file services' rules, the same on every platform: how the position
// moves, and the neutral result and the reason of every failure. The
// platform's own calls are behind system_files.h.
#include "fileio/file_access.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "fileio/archive_source.h"
#include "fileio/archive_stream.h"
#include "fileio/compression_format.h"
#include "fileio/decoder.h"
#include "fileio/path_style.h"
#include "fileio/system_files.h"

namespace {

// The largest piece a copy reads and writes at once; it bounds the memory a
// copy needs whatever the member's size.
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
    Failure failure = Failure::none;
    const int64_t got = system_read(record, head, kFormatHeadBytes, failure);
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

// A write past the known end of a file moves its end.
void grow_length(FileRecord& record) {
  if (record.length >= 0 && record.position > record.length) record.length = record.position;
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
int64_t write_after_hole(FileRecord& record, const char* data, int64_t n, int64_t hole,
                         Failure& failure) {
  if (hole > 0 && !system_seek(record, record.position)) {
    record.position -= hole;
    failure = Failure::unknown;
    return -1;
  }
  const int64_t put = system_write(record, data, n, failure);
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

FileRecord::FileRecord(FileRecord&& other) noexcept {
  *this = std::move(other);
}

FileRecord& FileRecord::operator=(FileRecord&& other) noexcept {
  if (this == &other) return *this;
  close_file(*this);
  handle = std::exchange(other.handle, -1);
  disk_file = other.disk_file;
  pipe = other.pipe;
  kind = other.kind;
  source = std::exchange(other.source, nullptr);
  position = other.position;
  identity = other.identity;
  length = other.length;
  failure = other.failure;
  read_ahead = std::move(other.read_ahead);
  data_run = other.data_run;
  written_over = std::move(other.written_over);
  stream = std::move(other.stream);
  return *this;
}

FileRecord::~FileRecord() {
  close_file(*this);
}

bool open_binary(const Text& name, FileRecord& file) {
  close_file(file);
  if (!openable_name(name)) return false;
  FileRecord record;
  record.kind = FileKind::binary;
  if (!system_open_archive(name, record)) return false;
  if (!choose_source(record)) return false;
  file = std::move(record);
  return true;
}

Text read_block(FileRecord& file, int32_t n) {
  if (file.source == nullptr || n < 0) return "";
  Text block(static_cast<size_t>(n), '\0');
  const int64_t got = file.source->read(file, block.data(), n);
  if (got < 0) return "";
  block.resize(static_cast<size_t>(got));
  return block;
}

// Whether positions mean anything for the file: a binary file with a
// source, an output disk file.
bool positioned(const FileRecord& record) {
  return record.kind == FileKind::binary ? record.source != nullptr : record.disk_file;
}

int64_t get_position(const FileRecord& file) {
  return positioned(file) ? file.position + 1 : 0;
}

void set_position(FileRecord& file, int64_t position) {
  // Below position 1 the seek is refused and nothing changes.
  if (file.kind != FileKind::output || !file.disk_file || position < 1) return;
  if (system_seek(file, position - 1)) file.position = position - 1;
}

int64_t move_forward(FileRecord& file, int64_t position) {
  if (file.source == nullptr || read_failed(file)) return 0;
  if (position <= file.position) return file.position + 1;
  // A disk file's size is asked again only when the move goes past the size
  // known at its open (it may have grown since); a stream finds its end as
  // it reads.
  int64_t target = position - 1;
  if (file.length >= 0 && target > file.length) {
    file.length = std::max<int64_t>(file_size(file), 0);
    target = std::max(file.position, std::min(target, file.length));
  }
  const int64_t reached = file.source->move(file, target);
  if (reached < 0) return 0;
  // The data ends before the position: the archive stands where it ends.
  if (reached < position - 1) file.position = reached;
  return file.position + 1;
}

void mark_sparse(FileRecord& file) {
  if (file.kind == FileKind::output && file.disk_file) system_mark_sparse(file);
}

int64_t memory_needed(const FileRecord& file) {
  return file.stream == nullptr ? 0 : static_cast<int64_t>(stream_memory_needed(*file.stream));
}

void set_wait_hook(FileRecord& file, WaitHook hook) {
  if (file.stream != nullptr) stream_set_wait_hook(*file.stream, hook);
}

ReadFault read_fault(const FileRecord& file) {
  if (!read_failed(file)) return ReadFault::none;
  const ReadFault fault = file.stream != nullptr ? stream_fault(*file.stream) : ReadFault::none;
  return fault != ReadFault::none ? fault : ReadFault::read_error;
}

bool read_to_end(FileRecord& file) {
  if (file.source == nullptr) return true;
  if (read_failed(file)) return false;
  if (file.stream == nullptr || !stream_compressed(*file.stream)) return true;
  for (;;) {
    const char* data = nullptr;
    const int64_t got = file.source->take(file, kCopyPiece, &data);
    if (got < 0) return false;
    if (got == 0) return true;
  }
}

int64_t data_after_stream(const FileRecord& file) {
  return file.stream == nullptr ? -1 : stream_data_after(*file.stream);
}

bool close_file(FileRecord& file, Failure* failure) {
  // The stream's thread stops before its handle goes.
  file.stream.reset();
  file.source = nullptr;
  if (!is_open(file)) return true;
  Failure why = Failure::none;
  const bool closed = system_close(file, why);
  // Nothing of the file it was stays: a closed record is one never opened.
  file.handle = -1;
  file.disk_file = false;
  file.pipe = false;
  file.position = 0;
  file.identity = FileIdentity{};
  file.length = -1;
  file.failure = Failure::none;
  file.read_ahead = ReadAhead{};
  file.data_run = DataRun{};
  file.written_over.clear();
  if (failure != nullptr) *failure = why;
  return closed;
}

namespace {

// One copy of data from a binary file to an output file, in the order a
// piece of it takes its road: what the read-ahead holds first, then whole
// pieces inside the system while it takes them, then pieces through memory;
// zeros past the output's end become a hole, closed by the last byte.
struct Copy {
  FileRecord& source;
  FileRecord* target;                     // nullptr once the output takes no more
  int64_t unread = 0;                     // bytes of the source still to read
  int64_t unwritten = 0;                  // bytes of those still to write
  int64_t written = 0;                    // bytes known to be in the output
  int64_t hole = 0;                       // zeros passed over in the output since the last write
  bool in_system = false;                 // whole pieces may be copied inside the system
  Failure write_failure = Failure::none;  // why the output took no more

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
    if (got < 0) return false;
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
    const int64_t put = write_after_hole(*target, data, n, hole, write_failure);
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
    if (write_after_hole(*target, &zero, 1, hole - 1, write_failure) == 1) written += hole;
  }
};

}  // namespace

Copied copy_bytes(FileRecord& from, FileRecord& to, int64_t count, CopyHook hook) {
  if (count <= 0 || from.source == nullptr) return {};
  const bool writable = to.kind == FileKind::output && is_open(to);
  Copy copy{from, writable ? &to : nullptr, count, count};
  copy.in_system = writable;
  const int64_t start = from.position;
  while (copy.unread > 0 && (copy.system_piece() || copy.memory_piece())) {
    if (hook.report != nullptr && copy.unread > 0 &&
        !hook.report(hook.context, from.position - start)) {
      break;
    }
  }
  copy.finish_hole();
  return Copied{copy.written, copy.write_failure};
}

int64_t file_size(const FileRecord& file) {
  if (!is_open(file) || !file.disk_file) return 0;
  return std::max<int64_t>(system_size(file), 0);
}

int64_t file_bytes_read(const FileRecord& file) {
  return file.source == nullptr ? 0 : file.source->file_bytes(file);
}
