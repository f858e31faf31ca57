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
    if (wanted < kReadAheadLargest) {
      if (ahead.next_size < kReadAheadFirst) ahead.next_size = kReadAheadFirst;
      ahead.bytes.resize(static_cast<size_t>(kReadAheadLargest));
      // A fill takes at least the bytes wanted, and then a little more,
      // which holds the next header when they end a member.
      const int64_t size = wanted <= ahead.next_size
                               ? ahead.next_size
                               : std::min(wanted + kReadAheadFirst, kReadAheadLargest);
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

int64_t take_plain(FileRecord& record, int64_t n, std::vector<char>& scratch, const char** data) {
  if (static_cast<int64_t>(scratch.size()) < n) scratch.resize(static_cast<size_t>(n));
  *data = scratch.data();
  return read_plain(record, scratch.data(), n);
}

int64_t held_plain(const FileRecord& record) {
  const ReadAhead& ahead = record.read_ahead;
  const int64_t offset = record.position - ahead.start;
  return ahead.start >= 0 && offset >= 0 && offset < ahead.filled ? ahead.filled - offset : 0;
}

int64_t move_plain(FileRecord& record, int64_t offset) {
  // Within what was read ahead (or right after it, where the file's own
  // position already is) the move needs no system call.
  ReadAhead& ahead = record.read_ahead;
  const int64_t into = offset - ahead.start;
  if (ahead.start < 0 || into < 0 || into > ahead.filled) {
    drop_read_ahead(ahead);
    if (!system_seek(record, offset)) return -1;
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
