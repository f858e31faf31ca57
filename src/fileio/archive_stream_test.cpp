// Compressed archives through the file services, on gzip files made here
// with zlib (the one format every build reads): the data, positions and end
// flag of the decompressed bytes, moves by reading, and damage that fails
// the read instead of ending the data. (Copies of members from compressed
// archives, cut ones included, are tested end to end: test_extraction.py.)
#include "fileio/archive_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <vector>

#include "fileio/compression_format.h"
#include "fileio/file_access.h"
#include "fileio/test_files.h"

namespace {

constexpr int32_t kArchive = 1;

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

// Everything the file services read from `name` in reads of `n` bytes, up
// to the end flag or a failed read.
Text read_all(const Text& name, int32_t n) {
  open_binary(name, kArchive);
  Text got;
  while (at_end(kArchive) == 0 && !read_failed(kArchive)) got += read_block(kArchive, n);
  return got;
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
    EXPECT_EQ(read_all(name, c.read), content);
    EXPECT_FALSE(read_failed(kArchive));
    EXPECT_EQ(at_end(kArchive), -1);
    EXPECT_EQ(get_position(kArchive), static_cast<int64_t>(content.size()) + 1);
    EXPECT_EQ(file_size(kArchive), static_cast<int64_t>(file.size()));
    EXPECT_EQ(file_bytes_read(kArchive), static_cast<int64_t>(file.size()));
    close_file(kArchive);
  }
}

TEST_F(ArchiveStreamTest, MovesForwardByReadingAndRefusesToMoveBack) {
  const Text content = compressible(3 * kStreamChunkSize, 5);
  const Text name = dir.at("a.tar.gz");
  write_file(name, gzip_member(content));

  open_binary(name, kArchive);
  EXPECT_EQ(file_bytes_read(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 512), content.substr(0, 512));
  const int64_t far = 2 * kStreamChunkSize + 3;
  set_position(kArchive, far + 1);
  EXPECT_EQ(get_position(kArchive), far + 1);
  const int64_t file_bytes = file_bytes_read(kArchive);
  EXPECT_GT(file_bytes, 0);
  EXPECT_LT(file_bytes, file_size(kArchive));
  EXPECT_EQ(read_block(kArchive, 512), content.substr(far, 512));
  // Where it is already: nothing happens.
  set_position(kArchive, far + 513);
  EXPECT_EQ(read_block(kArchive, 10), content.substr(far + 512, 10));
  EXPECT_FALSE(read_failed(kArchive));
  // Past the end: the position is set, as on a disk file, and the data ends.
  set_position(kArchive, 10 * kStreamChunkSize);
  EXPECT_EQ(get_position(kArchive), 10 * kStreamChunkSize);
  EXPECT_EQ(read_block(kArchive, 512), "");
  EXPECT_EQ(at_end(kArchive), -1);
  EXPECT_FALSE(read_failed(kArchive));
  // Back: the data taken cannot be read again.
  set_position(kArchive, 1);
  EXPECT_TRUE(read_failed(kArchive));
  close_file(kArchive);
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
      const Text got = read_all(name, read);
      EXPECT_TRUE(read_failed(kArchive));
      EXPECT_EQ(at_end(kArchive), 0);
      EXPECT_LE(got.size(), content.size());
      EXPECT_EQ(get_position(kArchive), static_cast<int64_t>(got.size()) + 1);
      // Cut data is the true data as far as it goes.
      if (c.file.compare(0, 10, whole, 0, 10) == 0 && c.file != changed) {
        EXPECT_EQ(got, content.substr(0, got.size()));
      }
      close_file(kArchive);
    }
  }
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
  EXPECT_EQ(read_all(name, 512), file);
  EXPECT_FALSE(read_failed(kArchive));
  close_file(kArchive);
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
    open_binary(name, kArchive);
    EXPECT_EQ(read_block(kArchive, 512), Text(512, 'x'));
    close_file(kArchive);
  }
}

}  // namespace
