// An open file as the file services hold it: the archive being read, or an
// output file being written. The record is the same on both platforms; only
// the handle's meaning differs (a descriptor on POSIX, a HANDLE on Windows).
// Whoever opened a file owns its record and closes it (close_file); a record
// that goes out of scope still open is closed then, without a word.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fileio/failure.h"
#include "text/text.h"

enum class FileKind { binary, output };

struct ArchiveStream;
struct SourceKind;

// Which file an open handle reaches, whatever name it was opened by: the
// device and inode on POSIX, the volume serial number and file index on
// Windows.
struct FileIdentity {
  bool known = false;
  uint64_t volume = 0;
  uint64_t file_id = 0;
};

inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.file_id == b.file_id;
}

// Bytes of a binary disk file read ahead of its position: `filled` bytes
// from offset `start` (-1: nothing held). `at_end` says the read that filled
// it came back short, so the file ends right after them. `next_size` is the
// size of the next fill: small after a jump, growing while reads go on in
// order.
struct ReadAhead {
  std::vector<char> bytes;
  // Where a large piece is read when it is taken, kept from one piece to
  // the next.
  std::vector<char> scratch;
  int64_t start = -1;
  int64_t filled = 0;
  bool at_end = false;
  int64_t next_size = 0;
};

// A stretch of a disk file known to hold data without a hole, from `from`
// to `end`: found once for the many pieces of a copy inside the system,
// since the search for the next hole runs through the file.
struct DataRun {
  int64_t from = 0;
  int64_t end = -1;
};

struct FileRecord {
  intptr_t handle = -1;    // -1: not open
  bool disk_file = false;  // a regular file, which has positions
  bool pipe = false;       // a pipe, FIFO or socket: read in order, never positioned
  FileKind kind = FileKind::binary;
  // Where a binary file's bytes come from (archive_source.h): the disk file
  // itself or its stream. Positions are meaningful for a binary file with a
  // source and for an output disk file.
  const SourceKind* source = nullptr;
  // Offset of the next byte, counted from 0. Where reads and writes name no
  // offset (Windows), the file's own pointer is here whenever the position
  // lies outside what the read-ahead holds: a fill leaves it at the fill's
  // end, and every other move or transfer keeps the two together.
  int64_t position = 0;
  FileIdentity identity;  // known for disk files
  // Bytes the file holds when known (an output file emptied or made by the
  // open, grown by its writes; a binary disk file's size when last asked),
  // else -1.
  int64_t length = -1;
  // Why the last read or move failed (`none` while none has): it stays so
  // until the file is closed.
  Failure failure = Failure::none;
  ReadAhead read_ahead;  // binary disk files only
  DataRun data_run;      // binary disk files only
  // The decoded data of a compressed file or a pipe (archive_stream.h); its
  // reads, moves and positions are those of the data, and its handle is the
  // stream's alone while the stream lives.
  std::shared_ptr<ArchiveStream> stream;
  // When the open of an output file replaced a file this run made for an
  // earlier member under a name that differs only in case (one file on
  // Windows): that file's path as it was stored; else "".
  Text written_over;

  FileRecord() = default;
  FileRecord(FileRecord&& other) noexcept;
  FileRecord& operator=(FileRecord&& other) noexcept;
  FileRecord(const FileRecord&) = delete;
  FileRecord& operator=(const FileRecord&) = delete;
  ~FileRecord();
};

inline bool is_open(const FileRecord& record) {
  return record.handle != -1;
}
