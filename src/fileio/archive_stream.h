// An archive read as it streams (a compressed file, or any archive on a
// pipe): a second thread reads the file and decodes it into a bounded ring
// of buffers, and the file services take the archive's bytes from there in
// order. Nothing can be passed over without decompressing it, nothing taken
// can be read again, and a corrupt or cut stream is a failed read, never the
// end of the data. A pipe's bytes are handed on as they come: the thread
// never holds back what one read gave to wait for more.
#pragma once

#include <cstdint>
#include <memory>

#include "fileio/decoder.h"
#include "fileio/file_access.h"
#include "fileio/file_record.h"
#include "text/text.h"

// The ring: kStreamChunks buffers of kStreamChunkSize bytes, so memory stays
// the same whatever the archive.
inline constexpr int64_t kStreamChunkSize = 512 * 1024;
inline constexpr int kStreamChunks = 8;

struct ArchiveStream;

// Starts decoding `file` (a binary file whose first bytes, `head`, have been
// read already; its handle is used by the stream's thread alone from now on)
// with `kind`; with no `kind` (a pipe, whose first read could wait), the
// thread reads the first bytes itself and they tell the format. A stream
// whose decoder or thread cannot be made fails at its first read.
std::shared_ptr<ArchiveStream> start_stream(const FileRecord& file, const DecoderKind* kind,
                                            const Text& head);

// The hook the reads call while they wait for data (file_access.h).
void stream_set_wait_hook(ArchiveStream& stream, WaitHook hook);

// The next decompressed bytes, up to `n`: fewer only at the end of the data;
// -1 when the data cannot be read (what came before the failure is taken, so
// the failure stays where it is for every later read) or the wait hook
// stopped the read.
int64_t stream_read(ArchiveStream& stream, char* to, int64_t n);

// The bytes available at once, up to `n`, without copying them: `*data`
// points at them until the next call on the stream; they count as taken.
// Returns 0 at the end of the data and -1 as stream_read does.
int64_t stream_take(ArchiveStream& stream, int64_t n, const char** data);

// Bytes of the file itself behind the data taken so far (the compressed
// bytes read, as near as the decoder tells).
int64_t stream_file_bytes(const ArchiveStream& stream);

// Why a read failed (none while none did): stopped, or what the thread met
// where the data fails.
ReadFault stream_fault(const ArchiveStream& stream);

// When the data failed because decoding it would need more memory than the
// decoders may take: what it needs, in bytes; 0 otherwise.
uint64_t stream_memory_needed(ArchiveStream& stream);

// True when the data is decompressed (not a pipe's plain bytes); told once
// the first bytes have come.
bool stream_compressed(ArchiveStream& stream);

// Once the reads have reached the end of the data: where bytes that begin
// no stream of the format follow the last one, in the file (from 0); -1
// otherwise.
int64_t stream_data_after(const ArchiveStream& stream);
