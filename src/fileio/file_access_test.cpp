#include "fileio/file_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "fileio/path_style.h"
#include "fileio/test_files.h"

namespace {

constexpr int32_t kArchive = 1;
constexpr int32_t kOutput = 2;
constexpr int32_t kOther = 3;

class FileAccessTest : public FileServiceTest {
 protected:
  void TearDown() override {
    close_file(kLastNumber);
    FileServiceTest::TearDown();
  }
  static constexpr int32_t kLastNumber = 32767;
};

struct Read {
  size_t length;   // bytes the read returns
  int32_t at_end;  // at_end right after it
};

struct ReadCase {
  const char* what;
  int64_t file_size;
  std::vector<Read> reads;  // each of 512 bytes
};

TEST_F(FileAccessTest, ReadsBlocksUpToTheEndFlag) {
  const ReadCase cases[] = {
      {"1,000 bytes: a full block, then the rest", 1000, {{512, 0}, {488, -1}}},
      {"1,024 bytes: the third read is empty", 1024, {{512, 0}, {512, 0}, {0, -1}}},
      {"an empty file", 0, {{0, -1}}},
      {"reads after the end stay empty", 100, {{100, -1}, {0, -1}, {0, -1}}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Text name = dir.at("read.bin");
    const Text content = pattern_bytes(c.file_size);
    write_file(name, content);

    open_binary(name, kArchive);
    EXPECT_EQ(get_position(kArchive), 1);
    EXPECT_EQ(at_end(kArchive), 0);
    size_t offset = 0;
    for (const Read& read : c.reads) {
      const Text block = read_block(kArchive, 512);
      EXPECT_EQ(block, content.substr(offset, read.length));
      offset += read.length;
      EXPECT_EQ(at_end(kArchive), read.at_end);
      EXPECT_EQ(get_position(kArchive), static_cast<int64_t>(offset) + 1);
    }
    close_file(kArchive);
  }
}

TEST_F(FileAccessTest, SeeksExactlyBeyondFourGiB) {
  // 1 + 512 x 10,000,000: past 4 GiB and not a multiple of it, so a position
  // kept or passed in 32 bits would land elsewhere.
  const int64_t position = 1 + int64_t{512} * 10'000'000;
  const Text marker = pattern_bytes(1024, 7);
  const Text name = dir.at("sparse.bin");
  make_sparse_file(name, position - 1 + 1024, position - 1, marker);

  open_binary(name, kArchive);
  EXPECT_EQ(file_size(kArchive), position - 1 + 1024);
  set_position(kArchive, position);
  EXPECT_EQ(get_position(kArchive), position);
  EXPECT_EQ(at_end(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 512), marker.substr(0, 512));
  EXPECT_EQ(get_position(kArchive), position + 512);
  EXPECT_EQ(read_block(kArchive, 512), marker.substr(512));
  EXPECT_EQ(at_end(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 512), "");
  EXPECT_EQ(at_end(kArchive), -1);

  // Back to just below the marker: the zeros of the gap, then the marker.
  set_position(kArchive, position - 10);
  EXPECT_EQ(at_end(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 20), Text(10, '\0') + marker.substr(0, 10));
}

TEST_F(FileAccessTest, SeekPastTheEndReadsNothingAndSetsTheFlag) {
  const Text name = dir.at("short.bin");
  const Text content = pattern_bytes(1000);
  write_file(name, content);

  open_binary(name, kArchive);
  set_position(kArchive, 5001);
  EXPECT_EQ(get_position(kArchive), 5001);
  EXPECT_EQ(at_end(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 512), "");
  EXPECT_EQ(at_end(kArchive), -1);
  EXPECT_EQ(get_position(kArchive), 5001);

  // A successful seek clears the flag.
  set_position(kArchive, 513);
  EXPECT_EQ(at_end(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 512), content.substr(512));
  EXPECT_EQ(at_end(kArchive), -1);
}

TEST_F(FileAccessTest, SeekBelowPositionOneChangesNothing) {
  const Text name = dir.at("seek.bin");
  write_file(name, pattern_bytes(600));
  open_binary(name, kArchive);
  read_block(kArchive, 512);
  read_block(kArchive, 512);
  ASSERT_EQ(at_end(kArchive), -1);
  for (int64_t position : {int64_t{0}, int64_t{-1}, std::numeric_limits<int64_t>::min()}) {
    set_position(kArchive, position);
    EXPECT_EQ(get_position(kArchive), 601);
    EXPECT_EQ(at_end(kArchive), -1);
  }
}

TEST_F(FileAccessTest, ReadOnlyFileOpensForReadingButNotForOutput) {
  const Text name = dir.at("locked.bin");
  const Text content = pattern_bytes(700);
  write_file(name, content);
  make_read_only(name);
  AsPlainUser plain_user;
  if (!read_only_files_bind(dir)) GTEST_SKIP() << "read-only files do not bind this user";

  open_binary(name, kArchive);
  EXPECT_EQ(at_end(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 512), content.substr(0, 512));
  close_file(kArchive);

  open_output(name, kOutput);
  EXPECT_EQ(at_end(kOutput), -1);
  EXPECT_EQ(get_position(kOutput), 0);
  write_text(kOutput, "changed");
  close_file(kOutput);
  EXPECT_EQ(read_file(name), content);
}

TEST_F(FileAccessTest, MissingNameIsNeitherOpenedNorCreated) {
  const Text name = dir.at("new.bin");
  open_binary(name, kArchive);
  EXPECT_FALSE(path_exists(name));
  EXPECT_EQ(get_position(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 512), "");
  EXPECT_EQ(at_end(kArchive), -1);
}

TEST_F(FileAccessTest, OutputFileIsEmptiedAndTakesBytesUnchanged) {
  const Text name = dir.at("out.bin");
  write_file(name, pattern_bytes(5000));
  const Text with_nuls("a\0b\0\0c\r\n\xff", 9);

  open_output(name, kOutput);
  EXPECT_EQ(std::filesystem::file_size(name), 0u);
  EXPECT_EQ(get_position(kOutput), 1);
  EXPECT_EQ(at_end(kOutput), 0);
  write_text(kOutput, "");
  EXPECT_EQ(get_position(kOutput), 1);
  write_text(kOutput, with_nuls);
  EXPECT_EQ(get_position(kOutput), 10);
  write_text(kOutput, with_nuls);
  EXPECT_EQ(get_position(kOutput), 19);
  // An output file is not read, and its end test is always false.
  EXPECT_EQ(read_block(kOutput, 512), "");
  EXPECT_EQ(at_end(kOutput), 0);
  close_file(kOutput);
  EXPECT_EQ(read_file(name), with_nuls + with_nuls);
}

TEST_F(FileAccessTest, OutputFileEndsAtItsPositionWhenClosed) {
  const Text name = dir.at("cut.bin");
  const Text content = pattern_bytes(1000);
  open_output(name, kOutput);
  write_text(kOutput, content);
  set_position(kOutput, 501);
  EXPECT_EQ(get_position(kOutput), 501);
  write_text(kOutput, "xy");
  close_file(kOutput);
  EXPECT_EQ(read_file(name), content.substr(0, 500) + "xy");
}

TEST_F(FileAccessTest, BinaryFileTakesNoWrites) {
  const Text name = dir.at("in.bin");
  const Text content = pattern_bytes(100);
  write_file(name, content);
  open_binary(name, kArchive);
  write_text(kArchive, "written");
  EXPECT_EQ(get_position(kArchive), 1);
  close_file(kArchive);
  EXPECT_EQ(read_file(name), content);
}

TEST_F(FileAccessTest, NumbersThatAreNotOpenGiveNeutralResults) {
  for (int32_t number : {0, kArchive, kOther, kLastNumber, -1, 40000}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(read_block(number, 512), "");
    EXPECT_EQ(at_end(number), -1);
    EXPECT_EQ(get_position(number), 0);
    set_position(number, 100);
    write_text(number, "text");
    close_file(number);
    close_file(number);
    EXPECT_EQ(at_end(number), -1);
    EXPECT_EQ(get_position(number), 0);
    EXPECT_EQ(copy_blocks(number, kOutput, 4, 2048), 0);
    EXPECT_EQ(file_size(number), 0);
  }
}

TEST_F(FileAccessTest, OpensThatFailLeaveTheNumberFree) {
  struct Refused {
    const char* what;
    Text name;
    int32_t number;
    Text not_created;  // a file the open must not have made ("" for none)
  };
  std::vector<Refused> cases = {
      {"empty name", "", kArchive, ""},
      {"NUL byte in the name", dir.at("cut") + Text(1, '\0') + "off", kArchive, dir.at("cut")},
      {"negative number", dir.at("negative"), -1, dir.at("negative")},
      {"number above 32767", dir.at("too-high"), 32768, dir.at("too-high")},
      {"parent directory missing", dir.at("missing") + kSeparator + "x", kArchive, ""},
  };
  if (holds_wildcards("*")) {
    // Windows' wildcards; on POSIX they are bytes of a name like any other.
    cases.push_back({"star in the name", dir.at("a*b"), kArchive, dir.at("a*b")});
    cases.push_back({"question mark in the name", dir.at("a?b"), kArchive, dir.at("a?b")});
  }
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool output : {false, true}) {
      output ? open_output(c.name, c.number) : open_binary(c.name, c.number);
      EXPECT_EQ(at_end(c.number), -1);
      EXPECT_EQ(get_position(c.number), 0);
      if (!c.not_created.empty()) {
        EXPECT_FALSE(path_exists(c.not_created));
      }
    }
  }
}

TEST_F(FileAccessTest, LowestAndHighestNumbersWork) {
  const Text name = dir.at("numbers.bin");
  write_file(name, "abc");
  for (int32_t number : {0, kLastNumber}) {
    open_binary(name, number);
    EXPECT_EQ(read_block(number, 3), "abc");
    close_file(number);
  }
}

TEST_F(FileAccessTest, NumberAlreadyOpenKeepsItsFile) {
  const Text first = dir.at("first.bin");
  const Text second = dir.at("second.bin");
  write_file(first, "first file");
  open_binary(first, kArchive);
  open_binary(second, kArchive);
  open_output(second, kArchive);
  EXPECT_FALSE(path_exists(second));
  EXPECT_EQ(read_block(kArchive, 100), "first file");
}

TEST_F(FileAccessTest, FileHeldOpenIsSharedWithReadersOnly) {
  const Text name = dir.at("held.bin");
  const Text content = pattern_bytes(2000);
  write_file(name, content);

  // Two readers of one archive each read it whole.
  open_binary(name, kArchive);
  open_binary(name, kOther);
  EXPECT_EQ(read_block(kOther, 512), content.substr(0, 512));
  // Never for output: the held file is not emptied.
  open_output(name, kOutput);
  EXPECT_EQ(at_end(kOutput), -1);
  EXPECT_EQ(read_block(kArchive, 2000), content);
  close_file(kArchive);
  close_file(kOther);
  EXPECT_EQ(read_file(name), content);
}

TEST_F(FileAccessTest, OutputFileHeldOpenCannotBeOpenedAgain) {
  // A file that was there before is held while it is written. (One the
  // open has just made cannot be held by anyone else yet.)
  const Text name = dir.at("written.bin");
  write_file(name, "old bytes");
  open_output(name, kOutput);
  write_text(kOutput, "kept");
  open_binary(name, kArchive);
  EXPECT_EQ(at_end(kArchive), -1);
  open_output(name, kOther);
  write_text(kOther, "lost");
  close_file(kOther);
  close_file(kOutput);
  EXPECT_EQ(read_file(name), "kept");
}

// --- copy_blocks -----------------------------------------------------------

struct CopyResult {
  Text output;
  int64_t returned = 0;
  int64_t archive_position = 0;
  int32_t archive_at_end = 0;
};

// Where copy_blocks must leave things: the same as reading the member block
// by block and writing each block's part of it.
// Returns the number of bytes that reached the output.
int64_t block_by_block(int32_t to, int64_t block_count, int64_t size) {
  int64_t written = 0;
  int64_t remaining = size;
  for (int64_t block = 0; block < block_count; ++block) {
    const Text data = read_block(kArchive, 512);
    const int64_t take = std::min<int64_t>(remaining, static_cast<int64_t>(data.size()));
    const int64_t before = get_position(to);
    write_text(to, data.substr(0, static_cast<size_t>(take)));
    written += get_position(to) - before;
    remaining -= take;
  }
  return written;
}

struct CopyCase {
  const char* what;
  int64_t archive_size;
  int64_t start;  // archive position of the member's first block
  int64_t block_count;
  int64_t size;
  // Spans of the archive (offset from 0, length) that hold zeros, which the
  // copy leaves as holes in the output.
  std::vector<std::pair<int64_t, int64_t>> zeros = {};
};

class CopyBlocksTest : public FileAccessTest {
 protected:
  // Runs one way of copying on a fresh open of the archive and the output.
  template <typename Copy>
  CopyResult run(const CopyCase& c, const Text& output_name, Copy copy) {
    open_binary(archive_name(), kArchive);
    set_position(kArchive, c.start);
    open_output(output_name, kOutput);
    CopyResult result;
    result.returned = copy();
    result.archive_position = get_position(kArchive);
    result.archive_at_end = at_end(kArchive);
    close_file(kOutput);
    close_file(kArchive);
    result.output = read_file(output_name);
    return result;
  }
  Text archive_name() const { return dir.at("archive.tar"); }
};

TEST_F(CopyBlocksTest, MatchesTheBlockByBlockCopy) {
  const int64_t piece = 1 << 20;  // larger members are copied in several pieces
  const CopyCase cases[] = {
      {"member inside the archive, several pieces", 3 * piece + 5000, 1 + 512 * 3, 4000,
       4000 * 512 - 100},
      {"member ends exactly at the archive's end", 512 * 5000, 1 + 512 * 10, 4990, 4990 * 512 - 3},
      {"archive cut short inside the member", 512 * 3000 + 77, 1 + 512, 3500, 3500 * 512},
      {"archive cut short at a piece boundary", 512 + piece, 1 + 512, 4096, 4096 * 512 - 1},
      {"one block, size not a multiple of 512", 4096, 1 + 1024, 1, 300},
      {"no blocks", 4096, 1 + 1024, 0, 0},
      {"blocks but size 0", 4096, 1 + 1024, 2, 0},
      {"member starts past the end", 4096, 1 + 8192, 3, 1500},
      {"pieces of zeros at the start, in the middle and at the end",
       4 * piece + 1024,
       1 + 512,
       8192,
       8192 * 512 - 10,
       {{512, piece}, {512 + 2 * piece, piece}, {512 + 3 * piece, piece}}},
      {"zeros but for one byte of a piece",
       2 * piece + 512,
       1 + 512,
       4096,
       4096 * 512,
       {{512, piece - 1}, {512 + piece, piece}}},
      {"a member of zeros only", 3 * piece, 1 + 512, 4000, 4000 * 512 - 1, {{0, 3 * piece}}},
      {"archive cut short inside the zeros",
       512 + piece + 700,
       1 + 512,
       4096,
       4096 * 512,
       {{512, piece + 700}}},
      {"zeros up to the size, data in the padding",
       piece + 1024,
       1 + 512,
       2049,
       piece + 100,
       {{512, piece + 100}}},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(c.what);
    Text archive = pattern_bytes(c.archive_size, 3);
    for (const auto& [offset, length] : c.zeros) {
      archive.replace(static_cast<size_t>(offset), static_cast<size_t>(length),
                      static_cast<size_t>(length), '\0');
    }
    write_file(archive_name(), archive);

    const CopyResult expected =
        run(c, dir.at("loop.out"), [&] { return block_by_block(kOutput, c.block_count, c.size); });
    // Between pieces the hook hears how much has been read, as the archive
    // stands at that moment.
    struct Reports {
      int64_t start = 0;
      std::vector<int64_t> told, archive_read;
    } reports{c.start, {}, {}};
    const CopyHook hook{[](void* context, int64_t bytes_read) {
                          Reports& r = *static_cast<Reports*>(context);
                          r.told.push_back(bytes_read);
                          r.archive_read.push_back(get_position(kArchive) - r.start);
                          return true;
                        },
                        &reports};
    const CopyResult copied = run(c, dir.at("copy.out"), [&] {
      return copy_blocks(kArchive, kOutput, c.block_count, c.size, hook);
    });
    EXPECT_EQ(reports.told, reports.archive_read);
    EXPECT_TRUE(std::is_sorted(reports.told.begin(), reports.told.end()));
    if (!reports.told.empty()) {
      EXPECT_GT(reports.told.front(), 0);
      EXPECT_LE(reports.told.back(), copied.archive_position - c.start);
    }
    if (c.block_count * 512 > 2 * piece && copied.archive_position - c.start > 2 * piece) {
      EXPECT_FALSE(reports.told.empty());
    }

    const int64_t available = std::max<int64_t>(0, c.archive_size - (c.start - 1));
    const Text member = c.start - 1 < c.archive_size
                            ? archive.substr(static_cast<size_t>(c.start - 1),
                                             static_cast<size_t>(std::min(c.size, available)))
                            : "";
    EXPECT_TRUE(copied.output == member) << "output of " << copied.output.size() << " bytes";
    EXPECT_TRUE(expected.output == member);
    EXPECT_EQ(copied.returned, static_cast<int64_t>(member.size()));
    EXPECT_EQ(copied.returned, expected.returned);
    EXPECT_EQ(copied.archive_position, expected.archive_position);
    EXPECT_EQ(copied.archive_at_end, expected.archive_at_end);
  }
}

TEST_F(CopyBlocksTest, StillReadsWhenTheOutputIsNotOpen) {
  const Text archive = pattern_bytes(512 * 10, 5);
  write_file(archive_name(), archive);
  const Text other = dir.at("binary.bin");
  write_file(other, "unchanged");

  open_binary(archive_name(), kArchive);
  // Number 2 not open at all, then number 3 open but not for output.
  EXPECT_EQ(copy_blocks(kArchive, kOutput, 2, 1000), 0);
  EXPECT_EQ(get_position(kArchive), 1 + 1024);
  open_binary(other, kOther);
  EXPECT_EQ(copy_blocks(kArchive, kOther, 8, 8 * 512), 0);
  EXPECT_EQ(get_position(kArchive), 1 + 512 * 10);
  EXPECT_EQ(at_end(kArchive), 0);
  EXPECT_EQ(read_block(kArchive, 512), "");
  EXPECT_EQ(at_end(kArchive), -1);
  close_file(kOther);
  EXPECT_EQ(read_file(other), "unchanged");
}

TEST_F(CopyBlocksTest, OutputFileCannotBeTheSource) {
  const Text name = dir.at("out.bin");
  open_output(name, kOutput);
  write_text(kOutput, "abc");
  EXPECT_EQ(copy_blocks(kOutput, kOutput, 1, 3), 0);
  EXPECT_EQ(get_position(kOutput), 4);
}

// --- read-ahead ------------------------------------------------------------

// A walk over an archive of header blocks and data, as extraction makes it:
// each header read with read_block, each member copied or passed over.
// Fills of the read-ahead end at 4,096 bytes, then (read in order) at
// 4,096 + 8,192 = 12,288; the members below end at, just before and just
// after those edges, and some are passed over across several fills.
struct WalkMember {
  int64_t size;
  bool passed_over;
};

struct WalkCase {
  const char* what;
  std::vector<WalkMember> members;
  int64_t cut_at;  // archive length when cut short, else -1
};

TEST_F(CopyBlocksTest, ReadAheadEdgesKeepEveryByteAndPosition) {
  static_assert(kReadAheadFirst == 4096);
  const WalkCase cases[] = {
      {"member ends exactly at the first fill's end", {{3584, false}, {100, false}}, -1},
      {"member ends a block before it", {{3072, false}, {100, false}}, -1},
      {"member ends a block after it", {{4096, false}, {100, false}}, -1},
      {"header at the second fill's end", {{3584, false}, {7680, false}, {10, false}}, -1},
      {"member ends one byte into a block past the edge", {{3585, false}, {100, false}}, -1},
      {"passed over across several fills", {{10, false}, {300000, true}, {1000, false}}, -1},
      {"passed over to just past the fill", {{4000, true}, {100, true}, {100, false}}, -1},
      {"large member after a small one", {{100, false}, {200000, false}, {100, false}}, -1},
      {"archive cut at the fill's end", {{6000, false}}, 4096},
      {"archive cut a byte before it", {{6000, false}}, 4095},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.what);
    int64_t total = 0;
    for (const WalkMember& m : c.members) total += 512 + (m.size + 511) / 512 * 512;
    const int64_t length = c.cut_at >= 0 ? c.cut_at : total;
    const Text archive = pattern_bytes(length, 11);
    write_file(archive_name(), archive);
    auto bytes_at = [&](int64_t offset, int64_t n) {
      if (offset >= length) return Text();
      return archive.substr(static_cast<size_t>(offset),
                            static_cast<size_t>(std::min(n, length - offset)));
    };

    open_binary(archive_name(), kArchive);
    int64_t offset = 0;
    for (const WalkMember& m : c.members) {
      EXPECT_EQ(read_block(kArchive, 512), bytes_at(offset, 512));
      offset += 512;
      const int64_t blocks = (m.size + 511) / 512;
      if (m.passed_over) {
        set_position(kArchive, get_position(kArchive) + blocks * 512);
        offset += blocks * 512;
        EXPECT_EQ(get_position(kArchive), offset + 1);
        continue;
      }
      open_output(dir.at("member.out"), kOutput);
      const int64_t written = copy_blocks(kArchive, kOutput, blocks, m.size);
      close_file(kOutput);
      const Text data = bytes_at(offset, m.size);
      EXPECT_EQ(written, static_cast<int64_t>(data.size()));
      EXPECT_TRUE(read_file(dir.at("member.out")) == data);
      offset += blocks * 512;
      EXPECT_EQ(get_position(kArchive), std::min(offset, length) + 1);
      EXPECT_EQ(at_end(kArchive), offset > length ? -1 : 0);
    }
    // The end of the archive reads as a short (here empty) block.
    if (offset <= length) {
      EXPECT_EQ(read_block(kArchive, 512), bytes_at(offset, 512));
      EXPECT_EQ(at_end(kArchive), -1);
    }
    close_file(kArchive);
  }
}

}  // namespace
