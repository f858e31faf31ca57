// Files named by small numbers (the archive is 1, the file being written 2),
// with 64-bit positions counted from 1. A call that fails leaves a result the
// caller can go on with: a short or empty read, a write or move that did
// nothing. The file remembers a failed read or a refused move, so that the
// walk can tell a damaged archive from its end (read_failed).
#pragma once

#include <cstdint>

#include "text/text.h"

// The first fill of the read-ahead of a binary disk file (after its open
// and after every jump past what it holds), and the largest fill, reached by
// doubling while the file is read in order. Reads of the largest size or more
// go to the file directly (plain_source.cpp).
inline constexpr int64_t kReadAheadFirst = 4096;
inline constexpr int64_t kReadAheadLargest = 128 * 1024;

// Opens an existing file `name` for reading only; nothing is ever created.
// Shared with other readers, never with a writer: fails while the file is
// held for writing. A disk file whose first bytes show a compressed format
// this build reads (compression_format.h), and a pipe or FIFO, are read as
// a stream of their (decompressed) data: reads, positions and the end flag
// are those of the data; a move backwards is refused, and a move forwards
// reads the data up to there. Data that cannot be decompressed (corrupt, cut
// short, garbage after its end) fails the read, as an I/O error does. A
// device opens with no positions (get_position gives 0) and reads nothing.
void open_binary(const Text& name, int32_t number);
// Creates `name`, or empties an existing file, for writing only (exclusive).
// Only a disk file is ever opened so: a device, FIFO, socket or directory at
// `name`, or on POSIX a file of the kernel's interfaces (/proc, /sys), is
// left as it is and not opened.
void open_output(const Text& name, int32_t number);

// The next `n` bytes; shorter (possibly "") at the end of the file.
Text read_block(int32_t number, int32_t n);
// -1 once a read came back short (binary files), 0 otherwise; -1 if not open.
int32_t at_end(int32_t number);
// Position of the next byte (from 1); 0 for a number that is not open.
int64_t get_position(int32_t number);
// Moves a disk file to `position` (from 1) and clears its end flag. A
// position the system refuses changes nothing and marks the file failed.
void set_position(int32_t number, int64_t position);
// Moves binary file `number` forwards to `position` (from 1), no further than
// its data goes: returns the position reached, before `position` only when
// the data ends there (the end flag is then set). A position behind the
// current one changes nothing. 0 when the move failed (the file is marked
// failed) or the number is not open.
int64_t move_forward(int32_t number, int64_t position);
// True once a read of the file failed (an I/O error, not the end of the
// file) or a move was refused; it stays so until the file is closed. False
// for a number that is not open.
bool read_failed(int32_t number);
// When a read failed because decoding the file's data would need more
// memory than the decoders may take (decoder.h): the bytes it needs. 0
// otherwise.
int64_t memory_needed(int32_t number);
// Writes the text's bytes unchanged to an output file.
void write_text(int32_t number, const Text& text);
// Closes the file (an output file ends at its current position). False when
// the system reports an error as it closes the file (a write that failed only
// then, on a network file system or over a quota): the bytes written cannot
// be counted on. True otherwise, also for a number that is not open.
bool close_file(int32_t number);

// Told by copy_blocks, between its pieces, how many bytes of the member's
// blocks have been read so far; returns false to stop the copy there. A hook
// without `report` tells nobody.
struct CopyHook {
  bool (*report)(void* context, int64_t bytes_read) = nullptr;
  void* context = nullptr;
};

// Keeps the parts of output file `number` that writes move past as holes
// (a sparse file); no effect where the system does so for every file.
void mark_sparse(int32_t number);

// Copies a member's data: reads `block_count` 512-byte blocks from binary file
// `from` and writes the first `size` bytes of them to output file `to`, as a
// sequence of read_block / write_text calls would, but in large pieces. The
// archive ends right after the last block read; a short read sets its end flag
// exactly as read_block does, and a failed read marks it failed and ends the
// copy; so does the hook, by returning false (the archive is then left inside
// the member's data). Returns the number of bytes that reached `to`.
int64_t copy_blocks(int32_t from, int32_t to, int64_t block_count, int64_t size,
                    CopyHook hook = {});
// Copies the next `count` bytes of binary file `from` to output file `to` at
// its position, as copy_blocks does for whole blocks: a piece of a sparse
// member. Returns the number of bytes that reached `to`.
int64_t copy_bytes(int32_t from, int32_t to, int64_t count, CopyHook hook = {});

// The size in bytes of an open disk file; 0 for a number that is not open or
// not a disk file, or when the system cannot tell. For a compressed file, the
// size of the file itself.
int64_t file_size(int32_t number);

// Called by the reads of a stream (a pipe, a compressed file) every
// kWaitHookInterval milliseconds while they wait for its data or go on
// through it (a member passed over, the rest read by read_to_end); returns
// false to stop the read. A hook without `keep_waiting` is never called.
struct WaitHook {
  bool (*keep_waiting)(void* context) = nullptr;
  void* context = nullptr;
};
inline constexpr int32_t kWaitHookInterval = 50;

// Gives binary file `number` the hook its reads call while they wait. A read
// the hook stops fails as every later one does: read_failed holds, and
// read_fault says `stopped`.
void set_wait_hook(int32_t number, WaitHook hook);

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
ReadFault read_fault(int32_t number);

// Reads what is left of a compressed file's data, up to its end, and drops
// it, so that its format's checks are made over the whole of it. True when
// the data ends cleanly; false when a read fails (read_fault says why). Any
// other file (a disk file, an archive on a pipe that is not compressed) is
// left where it is: true.
bool read_to_end(int32_t number);

// Where, in the compressed file itself (from 0), bytes that begin no stream
// of its format follow the last stream, once the reads have reached the end
// of the data: they were not read. -1 when nothing but zeros (padding) came
// after it, before the end, or for any other file.
int64_t data_after_stream(int32_t number);

// How many bytes of the file itself lie behind what has been read: the
// position (from 0) of a plain file; for a compressed file, the compressed
// bytes behind the data read so far. 0 for a number that is not open.
int64_t file_bytes_read(int32_t number);
