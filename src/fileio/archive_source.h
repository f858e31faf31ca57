// Where a binary file's bytes come from: a disk file, read through its
// read-ahead and moved over by seeks, or a stream (a compressed file, a
// pipe), decoded on a second thread, where a move reads what it passes. The
// file services reach both through these calls alone.
#pragma once

#include <cstdint>

#include "fileio/file_record.h"

struct SourceKind {
  // Reads up to `n` bytes at the position into `to` and moves the position
  // past them. Returns the number read (fewer only where the data ends) or -1
  // when the read failed; the position then stays before the failure. Every
  // call that returns -1 sets the record's `failure`.
  int64_t (*read)(FileRecord& record, char* to, int64_t n);
  // The next bytes, up to `n`, without copying them where the source holds
  // them in memory (else read into a buffer of the source's own): `*data`
  // points at them until the next call. They count as read. 0 where the data
  // ends, -1 on failure.
  int64_t (*take)(FileRecord& record, int64_t n, const char** data);
  // The bytes from the position on that can be read without the system.
  int64_t (*held)(const FileRecord& record);
  // Moves the position to `offset` (from 0): a disk file anywhere, a stream
  // only forwards, by reading. Returns the offset the data reaches towards
  // `offset`: less only when a stream's data ends before it (a disk file's
  // end is not looked for). -1 when the move is refused or a read failed.
  int64_t (*move)(FileRecord& record, int64_t offset);
  // Copies `n` bytes to output file `to` inside the system, without passing
  // them through memory; the number copied (0 when it cannot).
  int64_t (*copy_inside)(FileRecord& record, FileRecord& to, int64_t n);
  // How many bytes of the file itself lie behind what has been read.
  int64_t (*file_bytes)(const FileRecord& record);
};

// A disk file read where its position is (plain_source.cpp).
extern const SourceKind kPlainSource;
// A stream's decoded data (archive_stream.cpp).
extern const SourceKind kStreamSource;
