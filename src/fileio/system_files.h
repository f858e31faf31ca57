// The operating-system side of the file services: one small set of calls
// that each platform provides, so that the rules of positions and neutral
// results are written once in file_access.cpp. Output files are
// opened by the output root (output_root.h), which fills in their records.
#pragma once

#include <cstdint>

#include "fileio/file_record.h"
#include "text/text.h"

// Opens the archive `name` for reading only, shared with other readers and
// never with a writer; never creates it. Fills in the handle, the disk-file
// and pipe flags, the identity and the length of a disk file; false when no
// file was opened.
bool system_open_archive(const Text& name, FileRecord& record);

// Reads up to `n` bytes at the record's position into `buffer`. Returns the
// number read (fewer than `n` only at the end of the file) or -1 when the read
// failed, also part-way (the bytes before the failure are not counted on),
// with `failure` saying why. The record itself is left to the caller. A pipe
// is read by the stream's thread alone (read_pipe_awake, stream_thread.h).
int64_t system_read(const FileRecord& record, char* buffer, int64_t n, Failure& failure);

// Writes `n` bytes at the record's position. Returns the number written
// (fewer than `n` when the file could take no more) or -1 when nothing could
// be written; `failure` says why it stopped. The record itself is left to
// the caller.
int64_t system_write(const FileRecord& record, const char* data, int64_t n, Failure& failure);

// Copies `n` bytes from the position of disk file `from` to the position of
// disk file `to` inside the system, without passing them through memory,
// when the system can and the source holds data (no hole) all the way.
// Returns the number copied; 0 when it could not even start, and fewer than
// `n` when it stopped part-way: the caller copies the rest through memory,
// where holes and failures are told apart. Positions are left to the caller;
// where the source's next hole lies is kept in its record between calls.
int64_t system_copy_range(FileRecord& from, const FileRecord& to, int64_t n);

// Moves a disk file to `offset` (from 0); false when the system refuses.
bool system_seek(const FileRecord& record, int64_t offset);

// Has the system keep the parts of an output file that are moved past as
// holes, taking no disk space, where it does so only when asked (Windows).
void system_mark_sparse(const FileRecord& record);

// The size of an open disk file; -1 when the system cannot tell.
int64_t system_size(const FileRecord& record);

// Closes the file; an output disk file first ends at its current position.
// False when the system reported an error for either, with `failure` saying
// why.
bool system_close(const FileRecord& record, Failure& failure);
