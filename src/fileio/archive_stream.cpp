// The stream's two sides: the decompressing thread fills the ring's buffers
// in order and the reader (the file services) empties them in the same
// order. Each side touches a buffer only while it owns it; the counts of
// buffers filled and released pass the ownership under the mutex, and a
// reader with bytes left in its buffer needs no lock at all. The reader
// never waits for the thread to end a read: it wakes the thread's wait for a
// pipe (stream_thread.h), and the thread looks whether to stop between any
// two steps of its decoding.
#include "fileio/archive_stream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "fileio/archive_source.h"
#include "fileio/compression_format.h"
#include "fileio/stream_thread.h"
#include "fileio/system_files.h"

namespace {

// The compressed bytes read from the file at once.
constexpr int64_t kInputSize = 256 * 1024;
// After a stream's end, the bytes that tell whether the format's next
// stream begins there (compression_of).
constexpr int64_t kNextStreamBytes = 16;

struct Chunk {
  std::vector<unsigned char> bytes;
  int64_t filled = 0;
  // Bytes of the file the decoder had taken when the chunk began and ended.
  int64_t file_from = 0;
  int64_t file_to = 0;
};

}  // namespace

struct ArchiveStream {
  FileRecord file;                    // the handle and the next offset to read, the thread's alone
  const DecoderKind* kind = nullptr;  // the thread's once it has started
  std::vector<Chunk> ring;
  WakeSignal wake;  // given when the reader stops the stream
  std::atomic<bool> stopping{false};

  std::mutex mutex;
  std::condition_variable filled_signal;  // a chunk was filled, or the data ended
  std::condition_variable freed_signal;   // a chunk was released, or the stream stops
  int64_t filled_count = 0;               // chunks filled so far
  int64_t released_count = 0;             // chunks the reader is done with
  bool compressed = false;                // the format told is not plain bytes
  bool finished = false;                  // no chunk comes after those filled
  ReadFault fault = ReadFault::none;      // ... and when the data cannot be read, why
  uint64_t memory_needed = 0;             // ... for too_large: the memory it needs
  int64_t data_after = -1;                // ... and bytes of no stream follow the last one
  int64_t file_bytes_at_end = 0;          // the file bytes decoded, once finished
  std::thread worker;

  // The reader's own: whether it holds the chunk after those released, how
  // far into it it has taken, the file bytes behind what it released, its
  // wait hook, and what it has met at the end of the data.
  bool holding = false;
  int64_t offset = 0;
  int64_t file_bytes_released = 0;
  WaitHook hook;
  std::chrono::steady_clock::time_point hook_called;
  ReadFault met_fault = ReadFault::none;
  int64_t met_data_after = -1;

  ~ArchiveStream() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    give_wake(wake);
    freed_signal.notify_all();
    if (worker.joinable()) worker.join();
    close_wake(wake);
    // The handle belongs to the file's own record, which closes it.
    file.handle = -1;
  }
};

namespace {

// The thread's decoding state: the decoder's own, the bytes read from the
// file and not yet decoded, and where the streams stand.
struct Decoding {
  void* state = nullptr;
  std::vector<unsigned char> input;
  int64_t in_pos = 0;
  int64_t in_len = 0;
  bool input_ended = false;  // the file has no bytes past `input`
  bool between = false;      // a stream ended at `in_pos`
  int64_t file_bytes = 0;    // bytes of the file decoded or passed over
  ReadFault fault = ReadFault::none;
  uint64_t memory_needed = 0;  // what a stream refused for its memory needs
  int64_t data_after = -1;     // where bytes of no stream follow the last one
};

enum class Fill { more, ended, bad, stopped };

Fill failed(Decoding& decoding, ReadFault fault) {
  decoding.fault = fault;
  return Fill::bad;
}

enum class Input { got, would_wait, failed, stopped };

// Reads more of the file behind the input not yet decoded (moved to the
// front of the buffer). A pipe gives what one read gives; without `may_wait`
// a pipe that has nothing yet is not read (would_wait).
Input read_input(ArchiveStream& stream, Decoding& decoding, bool may_wait) {
  if (decoding.in_pos > 0) {
    const int64_t kept = decoding.in_len - decoding.in_pos;
    std::memmove(decoding.input.data(), decoding.input.data() + decoding.in_pos,
                 static_cast<size_t>(kept));
    decoding.in_pos = 0;
    decoding.in_len = kept;
  }
  char* to = reinterpret_cast<char*>(decoding.input.data() + decoding.in_len);
  const int64_t room = kInputSize - decoding.in_len;
  if (stream.file.pipe) {
    if (!may_wait && !pipe_ready(stream.file)) return Input::would_wait;
    const int64_t got = read_pipe_awake(stream.file, to, room, stream.wake);
    if (got == kPipeWoken) return Input::stopped;
    if (got < 0) return Input::failed;
    decoding.in_len += got;
    decoding.input_ended = got == 0;
    return Input::got;
  }
  Failure failure = Failure::none;
  const int64_t got = system_read(stream.file, to, room, failure);
  if (got < 0) return Input::failed;
  stream.file.position += got;
  decoding.in_len += got;
  decoding.input_ended = got < room;
  return Input::got;
}

Fill fill_of(Input input, Decoding& decoding) {
  if (input == Input::stopped) return Fill::stopped;
  if (input == Input::failed) return failed(decoding, ReadFault::read_error);
  return Fill::more;
}

// Reads until `count` bytes of input wait to be decoded or the file ends.
Input need_input(ArchiveStream& stream, Decoding& decoding, int64_t count, bool may_wait) {
  while (decoding.in_len - decoding.in_pos < count && !decoding.input_ended) {
    const Input got = read_input(stream, decoding, may_wait);
    if (got != Input::got) return got;
  }
  return Input::got;
}

// Reads a pipe's first bytes until they tell its format: a whole tar header
// block, the end of the data, or enough bytes that show no signature.
Fill tell_format(ArchiveStream& stream, Decoding& decoding) {
  for (;;) {
    const int64_t available = decoding.in_len - decoding.in_pos;
    const Text head(reinterpret_cast<const char*>(decoding.input.data() + decoding.in_pos),
                    static_cast<size_t>(available));
    const Compression format = compression_of(head);
    if (available >= static_cast<int64_t>(kFormatHeadBytes) || decoding.input_ended ||
        (available >= kNextStreamBytes && format == Compression::none)) {
      const DecoderKind* kind = decoder_kind(format);
      stream.kind = kind != nullptr ? kind : &kPlainDecoder;
      return Fill::more;
    }
    const Input got = read_input(stream, decoding, true);
    if (got != Input::got) return fill_of(got, decoding);
  }
}

// After a stream's end: zeros are padding and passed over (the xz format's
// own stream padding, a tape's or a disk image's); the format's signature
// begins its next stream; anything else follows the last stream, and the
// data ends before it. `more` once the next stream has begun.
Fill after_stream(ArchiveStream& stream, Decoding& decoding, bool may_wait) {
  for (;;) {
    const unsigned char* input = decoding.input.data();
    while (decoding.in_pos < decoding.in_len && input[decoding.in_pos] == 0) {
      ++decoding.in_pos;
      ++decoding.file_bytes;
    }
    if (decoding.in_pos < decoding.in_len) break;
    if (decoding.input_ended) return Fill::ended;
    const Input got = read_input(stream, decoding, may_wait);
    if (got == Input::would_wait) return Fill::more;
    if (got != Input::got) return fill_of(got, decoding);
  }
  const Input got = need_input(stream, decoding, kNextStreamBytes, may_wait);
  if (got == Input::would_wait) return Fill::more;
  if (got != Input::got) return fill_of(got, decoding);
  const int64_t available = std::min(decoding.in_len - decoding.in_pos, kNextStreamBytes);
  const Text next(reinterpret_cast<const char*>(decoding.input.data() + decoding.in_pos),
                  static_cast<size_t>(available));
  if (compression_of(next) != stream.kind->format) {
    decoding.data_after = decoding.file_bytes;
    return Fill::ended;
  }
  if (!stream.kind->restart(decoding.state)) return failed(decoding, ReadFault::read_error);
  decoding.between = false;
  return Fill::more;
}

ReadFault fault_of(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::bad_check:
      return ReadFault::bad_checksum;
    case DecodeStatus::too_large:
      return ReadFault::too_large;
    default:
      return ReadFault::corrupt;
  }
}

// Fills `chunk` from the file through the decoder until it is full (more),
// a pipe has given what it holds for now and a read would wait (more, the
// chunk handed on as it is), the data has ended cleanly after a whole stream
// (ended), it cannot be read (bad: an I/O error, corrupt or cut data), or
// the stream stops.
Fill fill_chunk(ArchiveStream& stream, Decoding& decoding, Chunk& chunk) {
  const DecoderKind& kind = *stream.kind;
  const int64_t room = static_cast<int64_t>(chunk.bytes.size());
  while (chunk.filled < room) {
    if (stream.stopping) return Fill::stopped;
    const bool may_wait = chunk.filled == 0;
    if (decoding.between) {
      const Fill next = after_stream(stream, decoding, may_wait);
      if (next != Fill::more || decoding.between) return next;
    }
    if (decoding.in_pos == decoding.in_len && !decoding.input_ended) {
      const Input got = read_input(stream, decoding, may_wait);
      if (got == Input::would_wait) return Fill::more;
      if (got != Input::got) return fill_of(got, decoding);
    }
    const int64_t available = decoding.in_len - decoding.in_pos;
    const DecodeStep step =
        kind.step(decoding.state, decoding.input.data() + decoding.in_pos,
                  static_cast<size_t>(available), chunk.bytes.data() + chunk.filled,
                  static_cast<size_t>(room - chunk.filled), decoding.input_ended);
    decoding.in_pos += static_cast<int64_t>(step.consumed);
    decoding.file_bytes += static_cast<int64_t>(step.consumed);
    chunk.filled += static_cast<int64_t>(step.produced);
    if (step.status == DecodeStatus::too_large) decoding.memory_needed = step.memory_needed;
    if (step.status == DecodeStatus::stream_end) {
      decoding.between = true;
      continue;
    }
    if (step.status != DecodeStatus::going) return failed(decoding, fault_of(step.status));
    // No progress: the decoder wants more input. None left to come means
    // the stream is cut short; input left untaken means it is stuck.
    if (step.consumed == 0 && step.produced == 0) {
      if (decoding.in_pos < decoding.in_len) return failed(decoding, ReadFault::corrupt);
      if (decoding.input_ended) return failed(decoding, ReadFault::cut_short);
    }
  }
  return Fill::more;
}

// Hands a chunk (and how the data stands after it) to the reader.
void publish(ArchiveStream& stream, const Decoding& decoding, const Chunk& chunk, Fill outcome) {
  {
    std::lock_guard<std::mutex> lock(stream.mutex);
    if (chunk.filled > 0) ++stream.filled_count;
    stream.finished = outcome != Fill::more;
    stream.fault = decoding.fault;
    stream.memory_needed = decoding.memory_needed;
    stream.data_after = decoding.data_after;
    stream.file_bytes_at_end = decoding.file_bytes;
  }
  stream.filled_signal.notify_one();
}

void decompress(ArchiveStream& stream, Text head) {
  Decoding decoding;
  decoding.input.resize(static_cast<size_t>(kInputSize));
  // The bytes already read to tell the format (from a pipe, which cannot
  // give them again) are the first input.
  std::copy(head.begin(), head.end(), decoding.input.begin());
  decoding.in_len = static_cast<int64_t>(head.size());
  Fill outcome = stream.kind == nullptr ? tell_format(stream, decoding) : Fill::more;
  if (outcome == Fill::more) {
    {
      std::lock_guard<std::mutex> lock(stream.mutex);
      stream.compressed = stream.kind->format != Compression::none;
    }
    decoding.state = stream.kind->open();
    if (decoding.state == nullptr) outcome = failed(decoding, ReadFault::read_error);
  }
  if (outcome == Fill::bad) publish(stream, decoding, Chunk{}, outcome);
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
    if (outcome == Fill::stopped) break;
    publish(stream, decoding, chunk, outcome);
  }
  if (decoding.state != nullptr) stream.kind->close(decoding.state);
}

// Waits for a chunk after those released. The wait hook is called each
// time kWaitHookInterval has passed since its last call, whether the reader
// waits or not: a long pass over decoded data (a member passed over, the
// rest read after the end marker) calls it as a wait for a pipe does. False
// when the hook stops the read.
bool wait_for_chunk(ArchiveStream& stream, std::unique_lock<std::mutex>& lock) {
  const auto ready = [&] { return stream.finished || stream.filled_count > stream.released_count; };
  if (stream.hook.keep_waiting == nullptr) {
    stream.filled_signal.wait(lock, ready);
    return true;
  }
  const auto interval = std::chrono::milliseconds(kWaitHookInterval);
  for (;;) {
    if (std::chrono::steady_clock::now() - stream.hook_called >= interval) {
      // The hook looks at the console: the thread is not held up meanwhile.
      lock.unlock();
      const bool go_on = stream.hook.keep_waiting(stream.hook.context);
      lock.lock();
      stream.hook_called = std::chrono::steady_clock::now();
      if (!go_on) return false;
    }
    if (stream.filled_signal.wait_until(lock, stream.hook_called + interval, ready)) return true;
  }
}

// Releases the chunk the reader holds and waits for the next; false when
// the data has ended, failed or was stopped (`met_fault` tells which).
bool next_chunk(ArchiveStream& stream) {
  if (stream.met_fault != ReadFault::none) return false;
  std::unique_lock<std::mutex> lock(stream.mutex);
  if (stream.holding) {
    const Chunk& done = stream.ring[static_cast<size_t>(stream.released_count % kStreamChunks)];
    stream.file_bytes_released = done.file_to;
    ++stream.released_count;
    stream.holding = false;
    stream.freed_signal.notify_one();
  }
  if (!wait_for_chunk(stream, lock)) {
    stream.met_fault = ReadFault::stopped;
    return false;
  }
  if (stream.filled_count == stream.released_count) {
    stream.file_bytes_released = stream.file_bytes_at_end;
    stream.met_fault = stream.fault;
    if (stream.fault == ReadFault::none) stream.met_data_after = stream.data_after;
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

std::shared_ptr<ArchiveStream> start_stream(const FileRecord& file, const DecoderKind* kind,
                                            const Text& head) {
  auto stream = std::make_shared<ArchiveStream>();
  stream->file.handle = file.handle;
  stream->file.disk_file = file.disk_file;
  stream->file.pipe = file.pipe;
  stream->file.kind = file.kind;
  stream->file.position = static_cast<int64_t>(head.size());
  stream->kind = kind;
  stream->ring.resize(kStreamChunks);
  stream->wake = open_wake();
  // A pipe's wait that nothing could end is never begun.
  const bool started =
      (!file.pipe || stream->wake.handle != -1) &&
      start_quiet_thread(stream->worker, [raw = stream.get(), head] { decompress(*raw, head); });
  if (!started) {
    stream->finished = true;
    stream->fault = ReadFault::read_error;
  }
  return stream;
}

void stream_set_wait_hook(ArchiveStream& stream, WaitHook hook) {
  stream.hook = hook;
  stream.hook_called = std::chrono::steady_clock::now();
}

int64_t stream_take(ArchiveStream& stream, int64_t n, const char** data) {
  if (n <= 0) return 0;
  if (!stream.holding || stream.offset == held_chunk(stream).filled) {
    if (!next_chunk(stream)) return stream.met_fault != ReadFault::none ? -1 : 0;
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

ReadFault stream_fault(const ArchiveStream& stream) {
  return stream.met_fault;
}

uint64_t stream_memory_needed(ArchiveStream& stream) {
  std::lock_guard<std::mutex> lock(stream.mutex);
  return stream.memory_needed;
}

bool stream_compressed(ArchiveStream& stream) {
  std::lock_guard<std::mutex> lock(stream.mutex);
  return stream.compressed;
}

int64_t stream_data_after(const ArchiveStream& stream) {
  return stream.met_data_after;
}

namespace {

Failure failure_of_fault(ReadFault fault) {
  switch (fault) {
    case ReadFault::none:
    case ReadFault::read_error:
      return Failure::io_error;
    case ReadFault::bad_checksum:
      return Failure::failed_check;
    case ReadFault::cut_short:
      return Failure::cut_data;
    case ReadFault::stopped:
      return Failure::stopped;
    case ReadFault::corrupt:
    case ReadFault::too_large:
      break;
  }
  return Failure::damaged_data;
}

// What the record says of a failed read: the stream's fault in words.
int64_t failed_read(FileRecord& record) {
  record.failure = failure_of_fault(stream_fault(*record.stream));
  return -1;
}

int64_t read_stream(FileRecord& record, char* to, int64_t n) {
  const int64_t got = stream_read(*record.stream, to, n);
  if (got > 0) record.position += got;
  return got < 0 ? failed_read(record) : got;
}

int64_t take_stream(FileRecord& record, int64_t n, const char** data) {
  const int64_t got = stream_take(*record.stream, n, data);
  if (got > 0) record.position += got;
  return got < 0 ? failed_read(record) : got;
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
      return failed_read(record);
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
