// Compressed archives through the file services, on gzip files made here
// with zlib (the one format every build reads): the data, positions and end
// of the decompressed bytes, moves by reading, and damage that fails the
// read instead of ending the data. (Copies of members from compressed
// archives, cut ones included, are tested end to end: test_extraction.py.)
#include "fileio/archive_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fileio/compression_format.h"
#include "fileio/file_access.h"
#include "fileio/test_files.h"

namespace {

// One gzip member holding `data`, as gzip -6 makes it.
Text gzip_member(const Text& data) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Text out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// Data that compresses, as text does, but with every byte value in it.
Text compressible(int64_t n, uint32_t seed) {
  const Text words = pattern_bytes(4096, seed);
  Text data;
  uint32_t state = seed;
  while (static_cast<int64_t>(data.size()) < n) {
    state = state * 1103515245u + 12345u;
    data += words.substr((state >> 8) % 4000, 3 + (state >> 20) % 60);
  }
  data.resize(static_cast<size_t>(n));
  return data;
}

// Everything the file services read from `name` into `archive` in reads of
// `n` bytes, up to a short read (the end of the data) or a failed one.
Text read_all(const Text& name, FileRecord& archive, int32_t n) {
  EXPECT_TRUE(open_binary(name, archive));
  Text got;
  for (;;) {
    const Text block = read_block(archive, n);
    got += block;
    if (block.size() < static_cast<size_t>(n) || read_failed(archive)) return got;
  }
}

// Checks that the data of `archive` ended cleanly at `position`: a further
// read is empty and fails nothing, and the position stays.
void expect_clean_end(FileRecord& archive, int64_t position) {
  EXPECT_EQ(get_position(archive), position);
  EXPECT_EQ(read_block(archive, 512), "");
  EXPECT_EQ(get_position(archive), position);
  EXPECT_FALSE(read_failed(archive));
}

class ArchiveStreamTest : public FileServiceTest {};

TEST_F(ArchiveStreamTest, ReadsTheDataOfEveryLayout) {
  const int64_t ring = kStreamChunkSize * kStreamChunks;
  struct Case {
    const char* what;
    std::vector<int64_t> members;  // sizes of the gzip members in a row
    int32_t read;                  // bytes a read asks for
  };
  const Case cases[] = {
      {"one member larger than the ring, in blocks", {ring + 1000}, 512},
      {"one member, in reads that cross the ring's buffers", {3 * kStreamChunkSize + 7}, 100'000},
      {"three members, the middle one empty", {70'000, 0, 5 * kStreamChunkSize}, 512},
      {"members ending inside a block", {1, 513, 4095}, 512},
      {"one empty member", {0}, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Text content, file;
    uint32_t seed = 1;
    for (int64_t size : c.members) {
      const Text data = compressible(size, seed++);
      content += data;
      file += gzip_member(data);
    }
    const Text name = dir.at("a.tar.gz");
    write_file(name, file);
    FileRecord archive;
    EXPECT_EQ(read_all(name, archive, c.read), content);
    EXPECT_FALSE(read_failed(archive));
    expect_clean_end(archive, static_cast<int64_t>(content.size()) + 1);
    EXPECT_EQ(file_size(archive), static_cast<int64_t>(file.size()));
    EXPECT_EQ(file_bytes_read(archive), static_cast<int64_t>(file.size()));
  }
}

TEST_F(ArchiveStreamTest, MovesForwardByReadingAndNeverBack) {
  const Text content = compressible(3 * kStreamChunkSize, 5);
  const Text name = dir.at("a.tar.gz");
  write_file(name, gzip_member(content));

  FileRecord archive;
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(file_bytes_read(archive), 0);
  EXPECT_EQ(read_block(archive, 512), content.substr(0, 512));
  const int64_t far = 2 * kStreamChunkSize + 3;
  EXPECT_EQ(move_forward(archive, far + 1), far + 1);
  EXPECT_EQ(get_position(archive), far + 1);
  const int64_t file_bytes = file_bytes_read(archive);
  EXPECT_GT(file_bytes, 0);
  EXPECT_LT(file_bytes, file_size(archive));
  EXPECT_EQ(read_block(archive, 512), content.substr(far, 512));
  // Where it is already: nothing happens.
  EXPECT_EQ(move_forward(archive, far + 513), far + 513);
  EXPECT_EQ(read_block(archive, 10), content.substr(far + 512, 10));
  // Back: the data taken is not read again, and nothing else happens.
  EXPECT_EQ(move_forward(archive, 1), far + 523);
  EXPECT_EQ(read_block(archive, 10), content.substr(far + 522, 10));
  EXPECT_FALSE(read_failed(archive));
  // Past the end: the data ends where it ends, and the move says so.
  const int64_t end = static_cast<int64_t>(content.size()) + 1;
  EXPECT_EQ(move_forward(archive, 10 * kStreamChunkSize), end);
  expect_clean_end(archive, end);
  EXPECT_EQ(move_forward(archive, 1), end);
  EXPECT_FALSE(read_failed(archive));
}

// A byte of `bytes` at `at` (from the end when negative) changed.
Text with_changed_byte(Text bytes, int64_t at) {
  const size_t where = static_cast<size_t>(at >= 0 ? at : static_cast<int64_t>(bytes.size()) + at);
  bytes[where] = static_cast<char>(bytes[where] ^ 0x55);
  return bytes;
}

// A fault of a stream's data, and the failure its record says for it.
struct Fault {
  ReadFault fault;
  Failure failure;
};
constexpr Fault kCut{ReadFault::cut_short, Failure::cut_data};
constexpr Fault kCorrupt{ReadFault::corrupt, Failure::damaged_data};
constexpr Fault kBadCheck{ReadFault::bad_checksum, Failure::failed_check};

TEST_F(ArchiveStreamTest, DamageFailsTheReadAndNeverEndsTheData) {
  const Text content = compressible(2 * kStreamChunkSize, 9);
  const Text whole = gzip_member(content);
  const Text second = gzip_member("more");
  struct Case {
    const char* what;
    Text file;
    std::vector<Fault> faults;  // what read_fault and the record may say
  };
  const Case cases[] = {
      {"cut in the middle", whole.substr(0, whole.size() / 2), {kCut}},
      {"cut after its header", whole.substr(0, 10), {kCut}},
      {"its last byte missing", whole.substr(0, whole.size() - 1), {kCut}},
      // Inflate finds it, or the CRC does.
      {"a byte of the data changed", with_changed_byte(whole, 20), {kCorrupt, kBadCheck}},
      {"its CRC-32 changed", with_changed_byte(whole, -8), {kBadCheck}},
      {"its length changed", with_changed_byte(whole, -1), {kBadCheck}},
      {"a second member cut short", whole + second.substr(0, second.size() - 4), {kCut}},
      {"a second member damaged", whole + with_changed_byte(second, -5), {kBadCheck}},
  };
  for (const Case& c : cases) {
    for (int32_t read : {512, 1 << 20}) {
      SCOPED_TRACE(std::string(c.what) + ", reads of " + std::to_string(read));
      const Text name = dir.at("bad.tar.gz");
      write_file(name, c.file);
      FileRecord archive;
      const Text got = read_all(name, archive, read);
      EXPECT_TRUE(read_failed(archive));
      const ReadFault fault = read_fault(archive);
      const auto found = std::find_if(c.faults.begin(), c.faults.end(),
                                      [&](const Fault& f) { return f.fault == fault; });
      ASSERT_NE(found, c.faults.end()) << static_cast<int>(fault);
      EXPECT_EQ(archive.failure, found->failure) << failure_reason(archive.failure);
      EXPECT_LE(got.size(), content.size() + 4);
      const int64_t position = static_cast<int64_t>(got.size()) + 1;
      EXPECT_EQ(get_position(archive), position);
      // Never the end of the data: every later read fails too, and a move
      // is refused instead of stopping where the data ends.
      EXPECT_EQ(read_block(archive, 512), "");
      EXPECT_EQ(read_fault(archive), fault);
      EXPECT_EQ(move_forward(archive, position + 512), 0);
      EXPECT_EQ(get_position(archive), position);
      EXPECT_FALSE(read_to_end(archive));
      // Cut data is the true data as far as it goes.
      if (c.faults.size() == 1 && c.faults[0].fault == ReadFault::cut_short) {
        EXPECT_EQ(got, (content + "more").substr(0, got.size()));
      }
      EXPECT_EQ(data_after_stream(archive), -1);
    }
  }
}

TEST_F(ArchiveStreamTest, ZerosAfterTheLastStreamArePaddingAndOtherBytesEndTheData) {
  const Text content = compressible(70'000, 11);
  const Text whole = gzip_member(content);
  const int64_t size = static_cast<int64_t>(whole.size());
  struct Case {
    const char* what;
    Text file;
    Text data;           // what the reads give, to their clean end
    int64_t data_after;  // data_after_stream
  };
  const Case cases[] = {
      {"zeros after the last member", whole + Text(1024, '\0'), content, -1},
      {"a zero byte after the last member", whole + Text(1, '\0'), content, -1},
      {"zeros between two members", whole + Text(3, '\0') + gzip_member("more"), content + "more",
       -1},
      {"garbage after the last member", whole + "garbage", content, size},
      {"one byte after the last member", whole + "\x1f", content, size},
      {"zeros, then garbage", whole + Text(512, '\0') + "garbage", content, size + 512},
      {"another format's stream", whole + "BZh91AY&SY", content, size},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Text name = dir.at("a.tar.gz");
    write_file(name, c.file);
    FileRecord archive;
    EXPECT_EQ(read_all(name, archive, 512), c.data);
    EXPECT_FALSE(read_failed(archive));
    expect_clean_end(archive, static_cast<int64_t>(c.data.size()) + 1);
    EXPECT_EQ(data_after_stream(archive), c.data_after);
  }
}

TEST_F(ArchiveStreamTest, ReadingToTheEndMakesTheChecksAfterTheDataTaken) {
  // A tar's last member and its end marker come long before its stream's
  // check: reading on to the end finds the damage behind them.
  const Text content = compressible(3 * kStreamChunkSize, 13);
  const Text name = dir.at("a.tar.gz");
  write_file(name, with_changed_byte(gzip_member(content), -6));
  FileRecord archive;
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(read_block(archive, 4096), content.substr(0, 4096));
  EXPECT_FALSE(read_to_end(archive));
  EXPECT_TRUE(read_failed(archive));
  EXPECT_EQ(read_fault(archive), ReadFault::bad_checksum);
  EXPECT_EQ(archive.failure, Failure::failed_check) << failure_reason(archive.failure);
  EXPECT_TRUE(close_file(archive));

  write_file(name, gzip_member(content) + "garbage");
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(read_block(archive, 4096), content.substr(0, 4096));
  EXPECT_TRUE(read_to_end(archive));
  EXPECT_EQ(read_fault(archive), ReadFault::none);
  expect_clean_end(archive, static_cast<int64_t>(content.size()) + 1);
  EXPECT_EQ(data_after_stream(archive), static_cast<int64_t>(gzip_member(content).size()));
  EXPECT_TRUE(close_file(archive));

  // A file that is not compressed is left where it is.
  write_file(name, content);
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(read_block(archive, 10), content.substr(0, 10));
  EXPECT_TRUE(read_to_end(archive));
  EXPECT_EQ(get_position(archive), 11);
  EXPECT_EQ(read_block(archive, 10), content.substr(10, 10));
  EXPECT_TRUE(close_file(archive));
}

TEST_F(ArchiveStreamTest, APlainTarNamedLikeASignatureIsRead) {
  // A header block whose name begins with gzip's magic number: its valid
  // checksum makes the file a tar, read as it is.
  Text block(512, '\0');
  block.replace(0, 6,
                "\x1f\x8b"
                "data");
  block.replace(148, 8, "        ");
  block.replace(257, 6, Text("ustar\0", 6));
  int64_t sum = 0;
  for (char c : block) sum += static_cast<unsigned char>(c);
  char field[8];
  std::snprintf(field, sizeof field, "%06o", static_cast<int>(sum));
  block.replace(148, 7, Text(field, 6) + Text(1, '\0'));
  const Text file = block + Text(1024, '\0');
  EXPECT_EQ(compression_of(file), Compression::none);
  const Text name = dir.at("a.tar");
  write_file(name, file);
  FileRecord archive;
  EXPECT_EQ(read_all(name, archive, 512), file);
  expect_clean_end(archive, static_cast<int64_t>(file.size()) + 1);
  EXPECT_TRUE(close_file(archive));
  // With a wrong checksum the same bytes are no tar: their magic number
  // tells the format.
  block[100] = 'x';
  EXPECT_EQ(compression_of(block), Compression::gzip);
}

TEST_F(ArchiveStreamTest, ClosingWhileTheRingIsFullReturns) {
  // The decompressing thread waits for a free buffer; the close stops it.
  const Text name = dir.at("big.tar.gz");
  write_file(name, gzip_member(Text(4 * kStreamChunkSize * kStreamChunks, 'x')));
  for (int round = 0; round < 20; ++round) {
    FileRecord archive;
    ASSERT_TRUE(open_binary(name, archive));
    EXPECT_EQ(read_block(archive, 512), Text(512, 'x'));
    EXPECT_TRUE(close_file(archive));
  }
}

// A wait hook that counts its calls and the time between them, and stops
// the wait at its `stop_at`th call (0: never; a wait past a minute is
// stopped all the same, so that no fault hangs the test).
struct HookCalls {
  int32_t stop_at = 0;
  int32_t calls = 0;
  std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
  double longest_gap = 0;  // seconds

  static bool keep_waiting(void* context) {
    auto& self = *static_cast<HookCalls*>(context);
    const auto now = std::chrono::steady_clock::now();
    self.longest_gap =
        std::max(self.longest_gap, std::chrono::duration<double>(now - self.last).count());
    self.last = now;
    ++self.calls;
    return self.calls != self.stop_at && self.calls < 60'000 / kWaitHookInterval;
  }
  WaitHook hook() { return WaitHook{keep_waiting, this}; }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(ArchiveStreamTest, APipeGivesItsBytesAsTheyComeWhileItsWriterWaits) {
  const Text first = pattern_bytes(1500, 3);
  const Text later = gzip_member("a stream is told by its first bytes alone");
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "gzip" : "plain");
    TestPipe pipe(dir);
    FileRecord archive;
    ASSERT_TRUE(open_binary(pipe.name(), archive));
    HookCalls calls;
    set_wait_hook(archive, calls.hook());
    pipe.open_writer();
    const Text data = compressed ? gzip_member(first) : first;
    pipe.write(data.substr(0, 700));
    pipe.write(data.substr(700));
    // The writer stays: what it wrote is read all the same.
    EXPECT_EQ(read_block(archive, 1500), first);
    EXPECT_FALSE(read_failed(archive));
    if (compressed) pipe.write(later);
    pipe.close_writer();
    const Text rest = compressed ? Text("a stream is told by its first bytes alone") : Text();
    EXPECT_EQ(read_block(archive, 10'000), rest);
    EXPECT_FALSE(read_failed(archive));
    expect_clean_end(archive, static_cast<int64_t>(first.size() + rest.size()) + 1);
    EXPECT_TRUE(close_file(archive));
  }
}

TEST_F(ArchiveStreamTest, TheHookStopsAWaitForAPipeAndTheCloseReturnsAtOnce) {
  for (bool writer : {false, true}) {
    SCOPED_TRACE(writer ? "a writer that writes half a block" : "no writer");
    TestPipe pipe(dir);
    FileRecord archive;
    ASSERT_TRUE(open_binary(pipe.name(), archive));
    HookCalls calls;
    calls.stop_at = 4;
    set_wait_hook(archive, calls.hook());
    if (writer) {
      pipe.open_writer();
      pipe.write(pattern_bytes(256, 5));
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read_block(archive, 512), "");
    EXPECT_EQ(calls.calls, 4);
    std::printf("hook called every %.3f s at most\n", calls.longest_gap);
    EXPECT_LT(calls.longest_gap, 5.0);
    EXPECT_TRUE(read_failed(archive));
    EXPECT_EQ(read_fault(archive), ReadFault::stopped);
    EXPECT_EQ(archive.failure, Failure::stopped) << failure_reason(archive.failure);
    // Every later read fails too, at once.
    EXPECT_EQ(read_block(archive, 1), "");
    EXPECT_EQ(calls.calls, 4);
    // The stream's thread waits in the pipe: the close ends that wait.
    const auto closing = std::chrono::steady_clock::now();
    close_file(archive);
    std::printf("closed in %.3f s, %.3f s after the read began\n", seconds_since(closing),
                seconds_since(start));
    EXPECT_LT(seconds_since(closing), 5.0);
  }
}

}  // namespace
