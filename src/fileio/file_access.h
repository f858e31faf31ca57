// The file services: the archive read in order with 64-bit positions
// counted from 1, and a member's data copied into an output file (opened by
// the output root, output_root.h). A call that fails leaves a result the
// caller can go on with: a short or empty read, a move or copy that did
// nothing. The archive remembers why a read failed or a move was refused, so
// that the walk can tell a damaged archive from its end (read_failed) and
// say why.
#pragma once

#include <cstdint>
#include <vector>

#include "fileio/file_record.h"
#include "text/text.h"

// The first fill of the read-ahead of a binary disk file (after its open
// and after every jump past what it holds), and the largest fill, reached by
// doubling while the file is read in order. Reads of the largest size or more
// go to the file directly (plain_source.cpp).
inline constexpr int64_t kReadAheadFirst = 4096;
inline constexpr int64_t kReadAheadLargest = 128 * 1024;

// Opens an existing file `name` for reading only into `file`; nothing is
// ever created. Shared with other readers, never with a writer: fails while
// the file is held for writing. A disk file whose first bytes show a
// compressed format this build reads (compression_format.h), and a pipe or
// FIFO, are read as a stream of their (decompressed) data: reads, positions
// are those of the data; a move backwards is refused, and a
// move forwards reads the data up to there. Data that cannot be decompressed
// (corrupt, cut short, garbage after its end) fails the read, as an I/O
// error does. A device opens with no positions (get_position gives 0) and
// reads nothing. False when nothing was opened.
bool open_binary(const Text& name, FileRecord& file);

// The next `n` bytes; shorter (possibly "") at the end of the file.
Text read_block(FileRecord& file, int32_t n);
// Position of the next byte (from 1); 0 for a file with no positions.
int64_t get_position(const FileRecord& file);
// Moves an output file to `position` (from 1). A position the system
// refuses changes nothing.
void set_position(FileRecord& file, int64_t position);
// Moves the archive forwards to `position` (from 1), no further than its
// data goes: returns the position reached, before `position` only when the
// data ends there. A position behind the current
// one changes nothing. 0 when the move failed (the file is marked failed) or
// the file has no positions.
int64_t move_forward(FileRecord& file, int64_t position);
// True once a read of the file failed (an I/O error, not the end of the
// file) or a move was refused; it stays so until the file is closed.
inline bool read_failed(const FileRecord& file) {
  return file.failure != Failure::none;
}
// When a read failed because decoding the file's data would need more
// memory than the decoders may take (decoder.h): the bytes it needs. 0
// otherwise.
int64_t memory_needed(const FileRecord& file);
// Closes the file (an output file ends at its current position). False when
// the system reports an error as it closes the file (a write that failed only
// then, on a network file system or over a quota): the bytes written cannot
// be counted on; `failure` then says why. True for a file not open.
bool close_file(FileRecord& file, Failure* failure = nullptr);

// Told by a copy, between its pieces, how many bytes of it have been read so
// far; returns false to stop the copy there. A hook without `report` tells
// nobody.
struct CopyHook {
  bool (*report)(void* context, int64_t bytes_read) = nullptr;
  void* context = nullptr;
};

// Keeps the parts of output file `file` that writes move past as holes
// (a sparse file); no effect where the system does so for every file.
void mark_sparse(FileRecord& file);

// What a copy did: the bytes that reached the output, and when the output
// took no more, why.
struct Copied {
  int64_t bytes = 0;
  Failure write_failure = Failure::none;
};

// Copies the next `count` bytes of the archive `from` to output file `to` (or
// only reads them, when `to` is not open) at its position, in large pieces:
// inside the system where it can, else through memory, zeros past the end of
// the output left as a hole. A short read ends the copy where the data ends, a
// failed read marks it failed and ends the copy; so does the hook, by
// returning false (the archive is then left inside the data). Once the output
// takes no more (a full disk), the rest is still read, so the archive stays
// on its block boundaries.
Copied copy_bytes(FileRecord& from, FileRecord& to, int64_t count, CopyHook hook = {});

// The size in bytes of an open disk file; 0 for a file not open or not a
// disk file, or when the system cannot tell. For a compressed file, the size
// of the file itself.
int64_t file_size(const FileRecord& file);

// Called by the reads of a stream (a pipe, a compressed file) every
// kWaitHookInterval milliseconds while they wait for its data or go on
// through it (a member passed over, the rest read by read_to_end); returns
// false to stop the read. A hook without `keep_waiting` is never called.
struct WaitHook {
  bool (*keep_waiting)(void* context) = nullptr;
  void* context = nullptr;
};
inline constexpr int32_t kWaitHookInterval = 50;

// Gives the archive `file` the hook its reads call while they wait. A read
// the hook stops fails as every later one does: read_failed holds, and
// read_fault says `stopped`.
void set_wait_hook(FileRecord& file, WaitHook hook);

// Why a read of a binary file failed (read_failed): none while none did.
enum class ReadFault {
  none,
  read_error,    // the system refused a read or a move
  corrupt,       // compressed data that cannot be decoded
  bad_checksum,  // compressed data that fails its format's check
  cut_short,     // compressed data that ends inside a stream
  too_large,     // a stream that needs more memory than allowed (memory_needed)
  stopped,       // the wait hook stopped a wait for data
};
ReadFault read_fault(const FileRecord& file);

// Reads what is left of a compressed file's data, up to its end, and drops
// it, so that its format's checks are made over the whole of it. True when
// the data ends cleanly; false when a read fails (read_fault says why). Any
// other file (a disk file, an archive on a pipe that is not compressed) is
// left where it is: true.
bool read_to_end(FileRecord& file);

// Where, in the compressed file itself (from 0), bytes that begin no stream
// of its format follow the last stream, once the reads have reached the end
// of the data: they were not read. -1 when nothing but zeros (padding) came
// after it, before the end, or for any other file.
int64_t data_after_stream(const FileRecord& file);

// How many bytes of the file itself lie behind what has been read: the
// position (from 0) of a plain file; for a compressed file, the compressed
// bytes behind the data read so far. 0 for a file not open.
int64_t file_bytes_read(const FileRecord& file);

// Makes `file` a source of the bytes `bytes`, held in memory, for a copy.
void hold_in_memory(FileRecord& file, std::vector<char>&& bytes);
