// An archive read as it streams (a compressed file, or any archive on a
// pipe): a second thread reads the file and decodes it into a bounded ring
// of buffers, and the file services take the archive's bytes from there in
// order. Nothing can be passed over
// without decompressing it, nothing taken can be read again, and a corrupt
// or cut stream (or garbage after its end) is a failed read, never the end
// of the data.
#pragma once

#include <cstdint>
#include <memory>

#include "fileio/decoder.h"
#include "fileio/file_record.h"
#include "text/text.h"

// The ring: kStreamChunks buffers of kStreamChunkSize bytes, so memory stays
// the same whatever the archive.
inline constexpr int64_t kStreamChunkSize = 512 * 1024;
inline constexpr int kStreamChunks = 8;

struct ArchiveStream;

// Starts decoding `file` (a binary file whose first bytes, `head`, have been
// read already; its handle is used by the stream's thread alone from now on)
// with `kind`. A stream whose decoder or thread cannot be made fails at its
// first read.
std::shared_ptr<ArchiveStream> start_stream(const FileRecord& file, const DecoderKind& kind,
                                            const Text& head);

// The next decompressed bytes, up to `n`: fewer only at the end of the data;
// -1 when the data cannot be read (what came before the failure is taken, so
// the failure stays where it is for every later read).
int64_t stream_read(ArchiveStream& stream, char* to, int64_t n);

// The bytes available at once, up to `n`, without copying them: `*data`
// points at them until the next call on the stream; they count as taken.
// Returns 0 at the end of the data and -1 when the data cannot be read.
int64_t stream_take(ArchiveStream& stream, int64_t n, const char** data);

// Bytes of the file itself behind the data taken so far (the compressed
// bytes read, as near as the decoder tells).
int64_t stream_file_bytes(const ArchiveStream& stream);

// When the data failed because decoding it would need more memory than the
// decoders may take: what it needs, in bytes; 0 otherwise.
uint64_t stream_memory_needed(ArchiveStream& stream);
