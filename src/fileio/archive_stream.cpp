// The stream's two sides: the decompressing thread fills the ring's buffers
// in order and the reader (the file services) empties them in the same
// order. Each side touches a buffer only while it owns it; the counts of
// buffers filled and released pass the ownership under the mutex, and a
// reader with bytes left in its buffer needs no lock at all.
#include "fileio/archive_stream.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "fileio/archive_source.h"
#include "fileio/system_files.h"

namespace {

// The compressed bytes read from the file at once.
constexpr int64_t kInputSize = 256 * 1024;

struct Chunk {
  std::vector<unsigned char> bytes;
  int64_t filled = 0;
  // Bytes of the file the decoder had taken when the chunk began and ended.
  int64_t file_from = 0;
  int64_t file_to = 0;
};

}  // namespace

struct ArchiveStream {
  FileRecord file;  // the handle and the next offset to read, the thread's alone
  const DecoderKind* kind = nullptr;
  std::vector<Chunk> ring;

  std::mutex mutex;
  std::condition_variable filled_signal;  // a chunk was filled, or the data ended
  std::condition_variable freed_signal;   // a chunk was released, or the stream stops
  int64_t filled_count = 0;               // chunks filled so far
  int64_t released_count = 0;             // chunks the reader is done with
  bool finished = false;                  // no chunk comes after those filled
  bool failed = false;                    // ... because the data cannot be read
  Failure failure = Failure::none;        // ... for this reason
  uint64_t memory_needed = 0;             // ... because decoding it needs this much memory
  bool stopping = false;                  // the reader has gone
  int64_t file_bytes_at_end = 0;          // the file bytes decoded, once finished
  std::thread worker;

  // The reader's own: whether it holds the chunk after those released, how
  // far into it it has taken, and the file bytes behind what it released.
  bool holding = false;
  int64_t offset = 0;
  int64_t file_bytes_released = 0;

  ~ArchiveStream() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    freed_signal.notify_all();
    if (worker.joinable()) worker.join();
    // The handle belongs to the file's own record, which closes it.
    file.handle = -1;
  }
};

namespace {

// The thread's decoding state: the decoder's own, the compressed bytes read
// and not yet decoded, and where the streams stand.
struct Decoding {
  void* state = nullptr;
  std::vector<unsigned char> input;
  int64_t in_pos = 0;
  int64_t in_len = 0;
  bool input_ended = false;         // the file has no bytes past `input`
  bool between = false;             // a stream ended at `in_pos`
  int64_t file_bytes = 0;           // bytes the decoder has taken
  uint64_t memory_needed = 0;       // what a stream refused for its memory needs
  Failure failure = Failure::none;  // why the data cannot be read
};

enum class Fill { more, ended, bad };

// Fills `chunk` from the file through the decoder until it is full (more),
// the data has ended cleanly after a whole stream (ended), or it cannot be
// read (bad: an I/O error, corrupt or cut data, garbage after a stream).
Fill fill_chunk(ArchiveStream& stream, Decoding& decoding, Chunk& chunk) {
  const DecoderKind& kind = *stream.kind;
  const int64_t room = static_cast<int64_t>(chunk.bytes.size());
  while (chunk.filled < room) {
    if (decoding.in_pos == decoding.in_len && !decoding.input_ended) {
      const int64_t got = system_read(stream.file, reinterpret_cast<char*>(decoding.input.data()),
                                      kInputSize, decoding.failure);
      if (got < 0) return Fill::bad;
      stream.file.position += got;
      decoding.in_pos = 0;
      decoding.in_len = got;
      decoding.input_ended = got < kInputSize;
    }
    const int64_t available = decoding.in_len - decoding.in_pos;
    if (decoding.between) {
      // After a stream's end the data may end; anything else that follows
      // must be the format's next stream.
      if (available == 0) return Fill::ended;
      if (!kind.restart(decoding.state)) return Fill::bad;
      decoding.between = false;
    }
    const DecodeStep step =
        kind.step(decoding.state, decoding.input.data() + decoding.in_pos,
                  static_cast<size_t>(available), chunk.bytes.data() + chunk.filled,
                  static_cast<size_t>(room - chunk.filled), decoding.input_ended);
    decoding.in_pos += static_cast<int64_t>(step.consumed);
    decoding.file_bytes += static_cast<int64_t>(step.consumed);
    chunk.filled += static_cast<int64_t>(step.produced);
    if (step.status == DecodeStatus::bad) return Fill::bad;
    if (step.status == DecodeStatus::too_large) {
      decoding.memory_needed = step.memory_needed;
      return Fill::bad;
    }
    if (step.status == DecodeStatus::stream_end) {
      decoding.between = true;
      continue;
    }
    // No progress: the decoder wants more input. None left to come means
    // the stream is cut short; input left untaken means it is stuck.
    if (step.consumed == 0 && step.produced == 0 &&
        (decoding.input_ended || decoding.in_pos < decoding.in_len)) {
      return Fill::bad;
    }
  }
  return Fill::more;
}

void decompress(ArchiveStream& stream, Text head) {
  Decoding decoding;
  decoding.state = stream.kind->open();
  decoding.input.resize(static_cast<size_t>(kInputSize));
  // The bytes already read to tell the format (from a pipe, which cannot
  // give them again) are the first input.
  std::copy(head.begin(), head.end(), decoding.input.begin());
  decoding.in_len = static_cast<int64_t>(head.size());
  Fill outcome = decoding.state == nullptr ? Fill::bad : Fill::more;
  if (decoding.state == nullptr) decoding.failure = Failure::unknown;
  while (outcome == Fill::more) {
    {
      std::unique_lock<std::mutex> lock(stream.mutex);
      stream.freed_signal.wait(lock, [&] {
        return stream.stopping || stream.filled_count - stream.released_count < kStreamChunks;
      });
      if (stream.stopping) break;
    }
    Chunk& chunk = stream.ring[static_cast<size_t>(stream.filled_count % kStreamChunks)];
    if (chunk.bytes.empty()) chunk.bytes.resize(static_cast<size_t>(kStreamChunkSize));
    chunk.filled = 0;
    chunk.file_from = decoding.file_bytes;
    outcome = fill_chunk(stream, decoding, chunk);
    chunk.file_to = decoding.file_bytes;
    {
      std::lock_guard<std::mutex> lock(stream.mutex);
      if (chunk.filled > 0) ++stream.filled_count;
      stream.finished = outcome != Fill::more;
      stream.failed = outcome == Fill::bad;
      // Whatever else made the data unreadable lies in the data itself.
      if (stream.failed) {
        stream.failure =
            decoding.failure != Failure::none ? decoding.failure : Failure::damaged_data;
      }
      stream.memory_needed = decoding.memory_needed;
      stream.file_bytes_at_end = decoding.file_bytes;
    }
    stream.filled_signal.notify_one();
  }
  if (decoding.state != nullptr) stream.kind->close(decoding.state);
}

// Releases the chunk the reader holds and waits for the next; false when
// the data has ended or failed (`stream.failed` tells which).
bool next_chunk(ArchiveStream& stream) {
  std::unique_lock<std::mutex> lock(stream.mutex);
  if (stream.holding) {
    const Chunk& done = stream.ring[static_cast<size_t>(stream.released_count % kStreamChunks)];
    stream.file_bytes_released = done.file_to;
    ++stream.released_count;
    stream.holding = false;
    stream.freed_signal.notify_one();
  }
  stream.filled_signal.wait(
      lock, [&] { return stream.finished || stream.filled_count > stream.released_count; });
  if (stream.filled_count == stream.released_count) {
    stream.file_bytes_released = stream.file_bytes_at_end;
    return false;
  }
  stream.holding = true;
  stream.offset = 0;
  return true;
}

const Chunk& held_chunk(const ArchiveStream& stream) {
  return stream.ring[static_cast<size_t>(stream.released_count % kStreamChunks)];
}

}  // namespace

std::shared_ptr<ArchiveStream> start_stream(const FileRecord& file, const DecoderKind& kind,
                                            const Text& head) {
  auto stream = std::make_shared<ArchiveStream>();
  stream->file.handle = file.handle;
  stream->file.disk_file = file.disk_file;
  stream->file.pipe = file.pipe;
  stream->file.kind = file.kind;
  stream->file.position = static_cast<int64_t>(head.size());
  stream->kind = &kind;
  stream->ring.resize(kStreamChunks);
  try {
    stream->worker = std::thread(decompress, std::ref(*stream), head);
  } catch (const std::system_error&) {
    stream->finished = true;
    stream->failed = true;
    stream->failure = Failure::unknown;
  }
  return stream;
}

int64_t stream_take(ArchiveStream& stream, int64_t n, const char** data) {
  if (n <= 0) return 0;
  if (!stream.holding || stream.offset == held_chunk(stream).filled) {
    if (!next_chunk(stream)) {
      std::lock_guard<std::mutex> lock(stream.mutex);
      return stream.failed ? -1 : 0;
    }
  }
  const Chunk& chunk = held_chunk(stream);
  const int64_t taken = std::min(n, chunk.filled - stream.offset);
  *data = reinterpret_cast<const char*>(chunk.bytes.data() + stream.offset);
  stream.offset += taken;
  return taken;
}

int64_t stream_read(ArchiveStream& stream, char* to, int64_t n) {
  int64_t got = 0;
  while (got < n) {
    const char* data = nullptr;
    const int64_t taken = stream_take(stream, n - got, &data);
    if (taken < 0) return -1;
    if (taken == 0) break;
    std::memcpy(to + got, data, static_cast<size_t>(taken));
    got += taken;
  }
  return got;
}

int64_t stream_file_bytes(const ArchiveStream& stream) {
  if (!stream.holding) return stream.file_bytes_released;
  // Within a chunk the file bytes are taken to run evenly with its data.
  const Chunk& chunk = held_chunk(stream);
  const double share = static_cast<double>(stream.offset) / static_cast<double>(chunk.filled);
  return chunk.file_from +
         static_cast<int64_t>(share * static_cast<double>(chunk.file_to - chunk.file_from));
}

uint64_t stream_memory_needed(ArchiveStream& stream) {
  std::lock_guard<std::mutex> lock(stream.mutex);
  return stream.memory_needed;
}

namespace {

Failure stream_failure(ArchiveStream& stream) {
  std::lock_guard<std::mutex> lock(stream.mutex);
  return stream.failure;
}

}  // namespace

namespace {

int64_t read_stream(FileRecord& record, char* to, int64_t n) {
  const int64_t got = stream_read(*record.stream, to, n);
  if (got > 0) record.position += got;
  if (got < 0) record.failure = stream_failure(*record.stream);
  return got;
}

int64_t take_stream(FileRecord& record, int64_t n, const char** data) {
  const int64_t got = stream_take(*record.stream, n, data);
  if (got > 0) record.position += got;
  if (got < 0) record.failure = stream_failure(*record.stream);
  return got;
}

int64_t held_stream(const FileRecord&) {
  return 0;
}

// The data taken back cannot be read again, so a move backwards is refused.
// Past the end of the data the position is set all the same, as on a disk
// file; the offset where the data ended is returned.
int64_t move_stream(FileRecord& record, int64_t offset) {
  if (offset < record.position) return -1;
  int64_t reached = record.position;
  while (reached < offset) {
    const char* data = nullptr;
    const int64_t taken = stream_take(*record.stream, offset - reached, &data);
    if (taken < 0) {
      record.position = reached;
      record.failure = stream_failure(*record.stream);
      return -1;
    }
    if (taken == 0) break;
    reached += taken;
  }
  record.position = offset;
  return reached;
}

int64_t copy_stream(FileRecord&, FileRecord&, int64_t) {
  return 0;
}

int64_t stream_source_file_bytes(const FileRecord& record) {
  return stream_file_bytes(*record.stream);
}

}  // namespace

const SourceKind kStreamSource = {read_stream, take_stream, held_stream,
                                  move_stream, copy_stream, stream_source_file_bytes};
