// A disk file as a source: reads go through a read-ahead buffer, so that the
// headers and small members of an archive cost one system read for many. Its
// fills start small after every jump of the position past what it holds (a
// member passed over is never read beyond the first small fill) and double
// while the file is read in order, up to kReadAheadLargest. Reads of that
// size or more go to the file directly.
#include <algorithm>

#include "fileio/archive_source.h"
#include "fileio/file_access.h"
#include "fileio/system_files.h"

namespace {

// Holds nothing more: the next read goes to the file.
void drop_read_ahead(ReadAhead& ahead) {
  ahead.start = -1;
  ahead.filled = 0;
  ahead.at_end = false;
  ahead.next_size = kReadAheadFirst;
}

// Fills the read-ahead from the record's position with at least the
// `wanted` bytes (fewer at the end of the file) and a little more, which
// holds the next header when they end a member. Returns the bytes it holds
// from there; when the system read failed, -1 if the file's own position
// could be put back (Windows reads where it is), -2 if not.
int64_t fill_ahead(FileRecord& record, int64_t wanted) {
  ReadAhead& ahead = record.read_ahead;
  if (ahead.next_size < kReadAheadFirst) ahead.next_size = kReadAheadFirst;
  ahead.bytes.resize(static_cast<size_t>(kReadAheadLargest));
  const int64_t size = wanted <= ahead.next_size
                           ? ahead.next_size
                           : std::min(wanted + kReadAheadFirst, kReadAheadLargest);
  Failure failure = Failure::none;
  const int64_t read = system_read(record, ahead.bytes.data(), size, failure);
  if (read < 0) {
    // The failed fill may have moved the file's own position (Windows).
    drop_read_ahead(ahead);
    if (system_seek(record, record.position)) return -1;
    record.failure = failure;
    return -2;
  }
  ahead.start = record.position;
  ahead.filled = read;
  ahead.at_end = read < size;
  ahead.next_size = std::min(2 * size, kReadAheadLargest);
  return read;
}

int64_t held_plain(const FileRecord& record) {
  const ReadAhead& ahead = record.read_ahead;
  const int64_t offset = record.position - ahead.start;
  return ahead.start >= 0 && offset >= 0 && offset < ahead.filled ? ahead.filled - offset : 0;
}

// True when the read-ahead ends at the record's position and the file ends
// there too: nothing more can be read.
bool at_known_end(const FileRecord& record) {
  const ReadAhead& ahead = record.read_ahead;
  return ahead.start >= 0 && record.position - ahead.start == ahead.filled && ahead.at_end;
}

// Reads up to `n` bytes at the record's position into `to` and moves the
// position past them: from the read-ahead, which is filled again for small
// reads, or straight from the file for large ones. A fill that fails is
// tried again as a read of the wanted bytes alone, so a failure past them
// never stops a read that can be served.
int64_t read_plain(FileRecord& record, char* to, int64_t n) {
  ReadAhead& ahead = record.read_ahead;
  const int64_t first = record.position;
  int64_t got = 0;
  while (got < n) {
    const int64_t held = held_plain(record);
    if (held > 0) {
      const int64_t taken = std::min(n - got, held);
      std::copy_n(ahead.bytes.data() + (record.position - ahead.start), taken, to + got);
      got += taken;
      record.position += taken;
      continue;
    }
    if (at_known_end(record)) break;
    const int64_t wanted = n - got;
    if (wanted < kReadAheadLargest) {
      const int64_t filled = fill_ahead(record, wanted);
      if (filled >= 0) continue;
      if (filled < -1) {
        record.position = first;
        return -1;
      }
    }
    drop_read_ahead(ahead);
    Failure failure = Failure::none;
    const int64_t read = system_read(record, to + got, wanted, failure);
    if (read < 0) {
      record.position = first;
      record.failure = failure;
      return -1;
    }
    got += read;
    record.position += read;
    if (read < wanted) break;
  }
  return got;
}

// The bytes the read-ahead holds are taken where they lie; a small piece
// beyond them is brought by a fill, a large one read into the record's own
// buffer.
int64_t take_plain(FileRecord& record, int64_t n, const char** data) {
  ReadAhead& ahead = record.read_ahead;
  if (held_plain(record) == 0 && !at_known_end(record) && n < kReadAheadLargest &&
      fill_ahead(record, n) < -1) {
    return -1;
  }
  const int64_t held = held_plain(record);
  if (held > 0 || at_known_end(record)) {
    const int64_t taken = std::min(n, held);
    *data = ahead.bytes.data() + (record.position - ahead.start);
    record.position += taken;
    return taken;
  }
  if (static_cast<int64_t>(ahead.scratch.size()) < n) ahead.scratch.resize(static_cast<size_t>(n));
  *data = ahead.scratch.data();
  return read_plain(record, ahead.scratch.data(), n);
}

int64_t move_plain(FileRecord& record, int64_t offset) {
  // Within what was read ahead (or right after it, where the file's own
  // position already is) the move needs no system call.
  ReadAhead& ahead = record.read_ahead;
  const int64_t into = offset - ahead.start;
  if (ahead.start < 0 || into < 0 || into > ahead.filled) {
    drop_read_ahead(ahead);
    if (!system_seek(record, offset)) {
      record.failure = Failure::unknown;
      return -1;
    }
  }
  record.position = offset;
  return offset;
}

int64_t copy_plain(FileRecord& record, FileRecord& to, int64_t n) {
  return system_copy_range(record, to, n);
}

int64_t plain_file_bytes(const FileRecord& record) {
  return record.position;
}

}  // namespace

const SourceKind kPlainSource = {read_plain, take_plain, held_plain,
                                 move_plain, copy_plain, plain_file_bytes};
