// Compressed archives through the file services, on gzip files made here
// with zlib (the one format every build reads): the data, positions and end
// flag of the decompressed bytes, moves by reading, and damage that fails
// the read instead of ending the data. (Copies of members from compressed
// archives, cut ones included, are tested end to end: test_extraction.py.)
#include "fileio/archive_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

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
// `n` bytes, up to a short read or a failed one.
Text read_all(const Text& name, FileRecord& archive, int32_t n) {
  EXPECT_TRUE(open_binary(name, archive));
  Text got;
  for (;;) {
    const Text block = read_block(archive, n);
    got += block;
    if (block.size() < static_cast<size_t>(n) || read_failed(archive)) return got;
  }
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
    EXPECT_EQ(get_position(archive), static_cast<int64_t>(content.size()) + 1);
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
  // Past the end: the data ends where it ends.
  const int64_t end = static_cast<int64_t>(content.size()) + 1;
  EXPECT_EQ(move_forward(archive, 10 * kStreamChunkSize), end);
  EXPECT_EQ(get_position(archive), end);
  EXPECT_EQ(read_block(archive, 512), "");
  EXPECT_FALSE(read_failed(archive));
}

TEST_F(ArchiveStreamTest, DamageFailsTheReadAndNeverEndsTheData) {
  const Text content = compressible(2 * kStreamChunkSize, 9);
  const Text whole = gzip_member(content);
  const Text second = gzip_member("more");
  const size_t half = whole.size() / 2;
  Text changed = whole;
  changed[20] = static_cast<char>(changed[20] ^ 0x55);
  struct Case {
    const char* what;
    Text file;
  };
  const Case cases[] = {
      {"cut in the middle", whole.substr(0, half)},
      {"cut after its header", whole.substr(0, 10)},
      {"its last byte missing", whole.substr(0, whole.size() - 1)},
      {"a byte of the data changed", changed},
      {"garbage after the last member", whole + "garbage"},
      {"zeros after the last member", whole + Text(512, '\0')},
      {"one byte after the last member", whole + "\x1f"},
      {"a second member cut short", whole + second.substr(0, second.size() - 4)},
  };
  for (const Case& c : cases) {
    for (int32_t read : {512, 1 << 20}) {
      SCOPED_TRACE(std::string(c.what) + ", reads of " + std::to_string(read));
      const Text name = dir.at("bad.tar.gz");
      write_file(name, c.file);
      FileRecord archive;
      const Text got = read_all(name, archive, read);
      EXPECT_TRUE(read_failed(archive));
      EXPECT_EQ(archive.failure, Failure::damaged_data) << failure_reason(archive.failure);
      EXPECT_LE(got.size(), content.size());
      EXPECT_EQ(get_position(archive), static_cast<int64_t>(got.size()) + 1);
      // Cut data is the true data as far as it goes.
      if (c.file.compare(0, 10, whole, 0, 10) == 0 && c.file != changed) {
        EXPECT_EQ(got, content.substr(0, got.size()));
      }
    }
  }
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

}  // namespace
