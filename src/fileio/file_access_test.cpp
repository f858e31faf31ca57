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

class FileAccessTest : public FileServiceTest {
 protected:
  // The test's directory as the output directory; the file that copy_text
  // copies from.
  OutputRoot root() const { return output_root_at(dir.path()); }
  Text source() const { return dir.at("source.bin"); }
};

struct Read {
  size_t length;  // bytes the read returns
};

struct ReadCase {
  const char* what;
  int64_t file_size;
  std::vector<Read> reads;  // each of 512 bytes
};

TEST_F(FileAccessTest, ReadsBlocksUpToTheEnd) {
  const ReadCase cases[] = {
      {"1,000 bytes: a full block, then the rest", 1000, {{512}, {488}}},
      {"1,024 bytes: the third read is empty", 1024, {{512}, {512}, {0}}},
      {"an empty file", 0, {{0}}},
      {"reads after the end stay empty", 100, {{100}, {0}, {0}}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Text name = dir.at("read.bin");
    const Text content = pattern_bytes(c.file_size);
    write_file(name, content);

    FileRecord archive;
    ASSERT_TRUE(open_binary(name, archive));
    EXPECT_EQ(get_position(archive), 1);
    size_t offset = 0;
    for (const Read& read : c.reads) {
      const Text block = read_block(archive, 512);
      EXPECT_EQ(block, content.substr(offset, read.length));
      offset += read.length;
      EXPECT_EQ(get_position(archive), static_cast<int64_t>(offset) + 1);
    }
  }
}

TEST_F(FileAccessTest, MovesExactlyBeyondFourGiB) {
  // 1 + 512 x 10,000,000: past 4 GiB and not a multiple of it, so a position
  // kept or passed in 32 bits would land elsewhere.
  const int64_t position = 1 + int64_t{512} * 10'000'000;
  const Text marker = pattern_bytes(1024, 7);
  const Text name = dir.at("sparse.bin");
  make_sparse_file(name, position - 1 + 1024, position - 1, marker);

  FileRecord archive;
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(file_size(archive), position - 1 + 1024);
  EXPECT_EQ(move_forward(archive, position), position);
  EXPECT_EQ(get_position(archive), position);
  EXPECT_EQ(read_block(archive, 512), marker.substr(0, 512));
  EXPECT_EQ(get_position(archive), position + 512);
  EXPECT_EQ(read_block(archive, 512), marker.substr(512));
  EXPECT_EQ(read_block(archive, 512), "");

  // Opened again, to just below the marker: the zeros of the gap, then the
  // marker.
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(move_forward(archive, position - 10), position - 10);
  EXPECT_EQ(read_block(archive, 20), Text(10, '\0') + marker.substr(0, 10));
}

TEST_F(FileAccessTest, MovePastTheEndStopsThereAndSetsTheFlag) {
  const Text name = dir.at("short.bin");
  const Text content = pattern_bytes(1000);
  write_file(name, content);

  FileRecord archive;
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(move_forward(archive, 5001), 1001);
  EXPECT_EQ(get_position(archive), 1001);
  EXPECT_EQ(read_block(archive, 512), "");
  EXPECT_EQ(get_position(archive), 1001);
  EXPECT_FALSE(read_failed(archive));

  // A move that the data reaches leaves the flag clear.
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(move_forward(archive, 513), 513);
  EXPECT_EQ(read_block(archive, 512), content.substr(512));
}

TEST_F(FileAccessTest, MovesBackOrBelowPositionOneChangeNothing) {
  const Text name = dir.at("seek.bin");
  const Text content = pattern_bytes(600);
  write_file(name, content);
  FileRecord archive;
  ASSERT_TRUE(open_binary(name, archive));
  read_block(archive, 512);
  for (int64_t position :
       {int64_t{100}, int64_t{1}, int64_t{0}, int64_t{-1}, std::numeric_limits<int64_t>::min()}) {
    SCOPED_TRACE(position);
    EXPECT_EQ(move_forward(archive, position), 513);
    EXPECT_EQ(get_position(archive), 513);
    EXPECT_FALSE(read_failed(archive));
  }
  EXPECT_EQ(read_block(archive, 512), content.substr(512));

  // An output file is moved anywhere, but never below position 1.
  OutputRoot output = root();
  FileRecord out;
  ASSERT_EQ(open_member_file(output, dir.at("out.bin"), -1, out).failure, Failure::none);
  copy_text(out, source(), "abc");
  for (int64_t position : {int64_t{0}, int64_t{-1}, std::numeric_limits<int64_t>::min()}) {
    set_position(out, position);
    EXPECT_EQ(get_position(out), 4);
  }
}

TEST_F(FileAccessTest, ReadOnlyFileOpensForReadingAndIsReplacedForOutput) {
  const Text name = dir.at("locked.bin");
  const Text content = pattern_bytes(700);
  write_file(name, content);
  make_read_only(name);
  AsPlainUser plain_user;
  if (!read_only_files_bind(dir)) GTEST_SKIP() << "read-only files do not bind this user";

  FileRecord archive;
  ASSERT_TRUE(open_binary(name, archive));
  EXPECT_EQ(read_block(archive, 512), content.substr(0, 512));
  close_file(archive);

  // POSIX: the directory allows a new file in the read-only one's place.
  // Windows refuses to replace a read-only file.
  OutputRoot output = root();
  FileRecord out;
  const Reached reached = open_member_file(output, name, -1, out);
  EXPECT_EQ(reached.failure, kWindowsNames ? Failure::permission : Failure::none)
      << failure_reason(reached.failure);
  EXPECT_EQ(is_open(out), !kWindowsNames);
  if (is_open(out)) copy_text(out, source(), "new");
  close_file(out);
  EXPECT_EQ(read_file(name), kWindowsNames ? content : "new");
}

TEST_F(FileAccessTest, MissingNameIsNeitherOpenedNorCreated) {
  const Text name = dir.at("new.bin");
  FileRecord archive;
  EXPECT_FALSE(open_binary(name, archive));
  EXPECT_FALSE(is_open(archive));
  EXPECT_FALSE(path_exists(name));
  EXPECT_EQ(get_position(archive), 0);
  EXPECT_EQ(read_block(archive, 512), "");
}

TEST_F(FileAccessTest, OutputFileIsEmptiedAndTakesBytesUnchanged) {
  const Text name = dir.at("out.bin");
  write_file(name, pattern_bytes(5000));
  const Text with_nuls("a\0b\0\0c\r\n\xff", 9);

  OutputRoot output = root();
  FileRecord out;
  ASSERT_EQ(open_member_file(output, name, -1, out).failure, Failure::none);
  EXPECT_EQ(std::filesystem::file_size(name), 0u);
  EXPECT_EQ(get_position(out), 1);
  EXPECT_EQ(copy_text(out, source(), "").bytes, 0);
  EXPECT_EQ(get_position(out), 1);
  EXPECT_EQ(copy_text(out, source(), with_nuls).bytes, 9);
  EXPECT_EQ(get_position(out), 10);
  EXPECT_EQ(copy_text(out, source(), with_nuls).bytes, 9);
  EXPECT_EQ(get_position(out), 19);
  // An output file is not read, and its end test is always false.
  EXPECT_EQ(read_block(out, 512), "");
  EXPECT_TRUE(close_file(out));
  EXPECT_EQ(read_file(name), with_nuls + with_nuls);
}

TEST_F(FileAccessTest, OutputFileEndsAtItsPositionWhenClosed) {
  const Text name = dir.at("cut.bin");
  const Text content = pattern_bytes(1000);
  OutputRoot output = root();
  FileRecord out;
  ASSERT_EQ(open_member_file(output, name, -1, out).failure, Failure::none);
  copy_text(out, source(), content);
  set_position(out, 501);
  EXPECT_EQ(get_position(out), 501);
  copy_text(out, source(), "xy");
  EXPECT_TRUE(close_file(out));
  EXPECT_EQ(read_file(name), content.substr(0, 500) + "xy");
}

TEST_F(FileAccessTest, ArchiveTakesNoWritesAndNoMovesBack) {
  const Text name = dir.at("in.bin");
  const Text content = pattern_bytes(1000);
  write_file(name, content);
  FileRecord archive;
  ASSERT_TRUE(open_binary(name, archive));
  read_block(archive, 600);
  // Positions are set on output files only.
  set_position(archive, 1);
  EXPECT_EQ(get_position(archive), 601);
  // A copy into it only reads.
  EXPECT_EQ(copy_text(archive, source(), "written").bytes, 0);
  EXPECT_EQ(read_block(archive, 512), content.substr(600));
  close_file(archive);
  EXPECT_EQ(read_file(name), content);
}

TEST_F(FileAccessTest, RecordsNotOpenGiveNeutralResults) {
  const Text name = dir.at("closed.bin");
  write_file(name, pattern_bytes(2000));
  FileRecord never;
  FileRecord closed;
  ASSERT_TRUE(open_binary(name, closed));
  read_block(closed, 512);
  EXPECT_TRUE(close_file(closed));
  OutputRoot output = root();
  FileRecord out;
  ASSERT_EQ(open_member_file(output, dir.at("out.bin"), -1, out).failure, Failure::none);
  for (FileRecord* record : {&never, &closed}) {
    SCOPED_TRACE(record == &never ? "never opened" : "closed");
    EXPECT_FALSE(is_open(*record));
    EXPECT_EQ(read_block(*record, 512), "");
    EXPECT_EQ(get_position(*record), 0);
    EXPECT_EQ(move_forward(*record, 100), 0);
    EXPECT_EQ(get_position(*record), 0);
    EXPECT_EQ(copy_bytes(*record, out, 1000).bytes, 0);
    EXPECT_EQ(file_size(*record), 0);
    EXPECT_EQ(file_bytes_read(*record), 0);
    EXPECT_TRUE(close_file(*record));
    EXPECT_TRUE(close_file(*record));
  }
  EXPECT_EQ(get_position(out), 1);
}

TEST_F(FileAccessTest, OpensThatFailOpenNothing) {
  struct Refused {
    const char* what;
    Text name;
    Text not_created;  // a file the open must not have made ("" for none)
  };
  std::vector<Refused> cases = {
      {"empty name", "", ""},
      {"NUL byte in the name", dir.at("cut") + Text(1, '\0') + "off", dir.at("cut")},
      {"a directory", dir.path(), ""},
  };
  if (holds_wildcards("*")) {
    // Windows' wildcards; on POSIX they are bytes of a name like any other.
    cases.push_back({"star in the name", dir.at("a*b"), dir.at("a*b")});
    cases.push_back({"question mark in the name", dir.at("a?b"), dir.at("a?b")});
  }
  OutputRoot output = root();
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.what);
    FileRecord archive;
    EXPECT_FALSE(open_binary(c.name, archive));
    EXPECT_FALSE(is_open(archive));
    FileRecord out;
    EXPECT_NE(open_member_file(output, c.name, -1, out).failure, Failure::none);
    EXPECT_FALSE(is_open(out));
    if (!c.not_created.empty()) {
      EXPECT_FALSE(path_exists(c.not_created));
    }
  }
  // A file whose directory is missing is not opened as an archive; as a
  // member's file it is made with its directory.
  FileRecord archive;
  EXPECT_FALSE(open_binary(dir.at("missing") + kSeparator + "x", archive));
  EXPECT_FALSE(path_exists(dir.at("missing")));
}

TEST_F(FileAccessTest, FileHeldOpenIsReadWholeByItsReaders) {
  const Text name = dir.at("held.bin");
  const Text content = pattern_bytes(2000);
  write_file(name, content);

  // Two readers of one archive each read it whole.
  FileRecord archive;
  FileRecord other;
  ASSERT_TRUE(open_binary(name, archive));
  ASSERT_TRUE(open_binary(name, other));
  EXPECT_EQ(read_block(other, 512), content.substr(0, 512));
  // As a member's file, the name is never emptied under its readers: POSIX
  // puts a new file in its place, Windows refuses while it is open.
  OutputRoot output = root();
  FileRecord out;
  const Reached reached = open_member_file(output, name, -1, out);
  EXPECT_EQ(reached.failure, kWindowsNames ? Failure::in_use : Failure::none)
      << failure_reason(reached.failure);
  EXPECT_EQ(is_open(out), !kWindowsNames);
  close_file(out);
  EXPECT_EQ(read_block(archive, 2000), content);
  close_file(archive);
  close_file(other);
  EXPECT_EQ(read_file(name), kWindowsNames ? content : "");
}

TEST_F(FileAccessTest, OutputFileWrittenTwiceAtOnceMixesNothing) {
  // A second writer of the same name (another run into the same directory)
  // gets a file of its own: the last one made holds the name, with its own
  // bytes only. Windows refuses the second while the first is open.
  const Text name = dir.at("written.bin");
  write_file(name, "old bytes");
  OutputRoot output = root();
  FileRecord out;
  ASSERT_EQ(open_member_file(output, name, -1, out).failure, Failure::none);
  copy_text(out, source(), "first run's longer bytes");
  FileRecord archive;
  EXPECT_EQ(open_binary(name, archive), !kWindowsNames);
  close_file(archive);
  FileRecord again;
  EXPECT_EQ(open_member_file(output, name, -1, again).failure,
            kWindowsNames ? Failure::in_use : Failure::none);
  if (is_open(again)) copy_text(again, source(), "second");
  copy_text(out, source(), " and more");
  close_file(again);
  close_file(out);
  EXPECT_EQ(read_file(name), kWindowsNames ? "first run's longer bytes and more" : "second");
}

// --- copy_bytes ------------------------------------------------------------

struct CopyResult {
  Text output;
  Copied copied;
  int64_t archive_position = 0;
};

struct CopyCase {
  const char* what;
  int64_t archive_size;
  int64_t start;  // archive position of the data's first byte
  int64_t count;  // bytes to copy
  // Spans of the archive (offset from 0, length) that hold zeros, which the
  // copy leaves as holes in the output.
  std::vector<std::pair<int64_t, int64_t>> zeros = {};
};

class CopyBytesTest : public FileAccessTest {
 protected:
  Text archive_name() const { return dir.at("archive.tar"); }
};

TEST_F(CopyBytesTest, CopiesTheDataAndLeavesTheArchiveRightAfterIt) {
  const int64_t piece = 1 << 20;  // larger copies are made in several pieces
  const CopyCase cases[] = {
      {"data inside the archive, several pieces", 3 * piece + 5000, 1 + 512 * 3, 4000 * 512 - 100},
      {"data ends exactly at the archive's end", 512 * 5000, 1 + 512 * 10, 4990 * 512},
      {"archive cut short inside the data", 512 * 3000 + 77, 1 + 512, 3500 * 512},
      {"archive cut short at a piece boundary", 512 + piece, 1 + 512, 4096 * 512 - 1},
      {"a size not a multiple of 512", 4096, 1 + 1024, 300},
      {"nothing to copy", 4096, 1 + 1024, 0},
      {"data starts past the end", 4096, 1 + 8192, 1500},
      {"pieces of zeros at the start, in the middle and at the end",
       4 * piece + 1024,
       1 + 512,
       8192 * 512 - 10,
       {{512, piece}, {512 + 2 * piece, piece}, {512 + 3 * piece, piece}}},
      {"zeros but for one byte of a piece",
       2 * piece + 512,
       1 + 512,
       4096 * 512,
       {{512, piece - 1}, {512 + piece, piece}}},
      {"data of zeros only", 3 * piece, 1 + 512, 4000 * 512 - 1, {{0, 3 * piece}}},
      {"archive cut short inside the zeros",
       512 + piece + 700,
       1 + 512,
       4096 * 512,
       {{512, piece + 700}}},
      {"zeros up to the end of the copy, data after it",
       piece + 1024,
       1 + 512,
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

    // Between pieces the hook hears how much has been read, as the archive
    // stands at that moment.
    struct Reports {
      FileRecord* archive = nullptr;
      int64_t start = 0;
      std::vector<int64_t> told, archive_read;
    } reports;
    const CopyHook hook{[](void* context, int64_t bytes_read) {
                          Reports& r = *static_cast<Reports*>(context);
                          r.told.push_back(bytes_read);
                          r.archive_read.push_back(get_position(*r.archive) - r.start);
                          return true;
                        },
                        &reports};
    CopyResult result;
    {
      FileRecord from;
      ASSERT_TRUE(open_binary(archive_name(), from));
      reports.archive = &from;
      reports.start = move_forward(from, c.start);
      OutputRoot output = root();
      FileRecord out;
      ASSERT_EQ(open_member_file(output, dir.at("copy.out"), -1, out).failure, Failure::none);
      result.copied = copy_bytes(from, out, c.count, hook);
      result.archive_position = get_position(from);
      EXPECT_TRUE(close_file(out));
      result.output = read_file(dir.at("copy.out"));
    }
    EXPECT_EQ(reports.told, reports.archive_read);
    EXPECT_TRUE(std::is_sorted(reports.told.begin(), reports.told.end()));
    if (!reports.told.empty()) {
      EXPECT_GT(reports.told.front(), 0);
      EXPECT_LE(reports.told.back(), result.archive_position - reports.start);
    }
    if (c.count > 2 * piece && result.archive_position - c.start > 2 * piece) {
      EXPECT_FALSE(reports.told.empty());
    }

    // As reading the data in blocks leaves things: every byte there is, the
    // archive right after them, its end flag set when it ended first.
    const int64_t end = c.start - 1 + c.count;
    const Text data =
        c.start - 1 < c.archive_size
            ? archive.substr(static_cast<size_t>(c.start - 1),
                             static_cast<size_t>(std::min(end, c.archive_size) - (c.start - 1)))
            : "";
    EXPECT_TRUE(result.output == data) << "output of " << result.output.size() << " bytes";
    EXPECT_EQ(result.copied.bytes, static_cast<int64_t>(data.size()));
    EXPECT_EQ(result.copied.write_failure, Failure::none);
    EXPECT_EQ(result.archive_position, std::min(end, c.archive_size) + 1);
  }
}

TEST_F(CopyBytesTest, StillReadsWhenTheOutputIsNotOpen) {
  const Text archive = pattern_bytes(512 * 10, 5);
  write_file(archive_name(), archive);
  const Text other = dir.at("binary.bin");
  write_file(other, "unchanged");

  FileRecord from;
  ASSERT_TRUE(open_binary(archive_name(), from));
  // An output not open at all, then a file open but not for output.
  FileRecord out;
  EXPECT_EQ(copy_bytes(from, out, 1000).bytes, 0);
  EXPECT_EQ(get_position(from), 1 + 1000);
  FileRecord binary;
  ASSERT_TRUE(open_binary(other, binary));
  EXPECT_EQ(copy_bytes(from, binary, 512 * 10 - 1000).bytes, 0);
  EXPECT_EQ(get_position(from), 1 + 512 * 10);
  EXPECT_EQ(read_block(from, 512), "");
  close_file(binary);
  EXPECT_EQ(read_file(other), "unchanged");
}

TEST_F(CopyBytesTest, OutputFileCannotBeTheSource) {
  OutputRoot output = root();
  FileRecord out;
  ASSERT_EQ(open_member_file(output, dir.at("out.bin"), -1, out).failure, Failure::none);
  copy_text(out, source(), "abc");
  EXPECT_EQ(copy_bytes(out, out, 3).bytes, 0);
  EXPECT_EQ(get_position(out), 4);
}

// --- read-ahead ------------------------------------------------------------

// A walk over an archive of header blocks and data, as extraction makes it:
// each header read with read_block, each member's data copied or passed
// over, its padding passed over. Fills of the read-ahead end at 4,096 bytes,
// then (read in order) at 4,096 + 8,192 = 12,288; the members below end at,
// just before and just after those edges, and some are passed over across
// several fills.
struct WalkMember {
  int64_t size;
  bool passed_over;
};

struct WalkCase {
  const char* what;
  std::vector<WalkMember> members;
  int64_t cut_at;  // archive length when cut short, else -1
};

TEST_F(CopyBytesTest, ReadAheadEdgesKeepEveryByteAndPosition) {
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
  OutputRoot output = root();
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

    FileRecord from;
    ASSERT_TRUE(open_binary(archive_name(), from));
    int64_t offset = 0;
    for (const WalkMember& m : c.members) {
      EXPECT_EQ(read_block(from, 512), bytes_at(offset, 512));
      offset += 512;
      const int64_t blocks = (m.size + 511) / 512;
      if (m.passed_over) {
        EXPECT_EQ(move_forward(from, get_position(from) + blocks * 512), offset + blocks * 512 + 1);
        offset += blocks * 512;
        EXPECT_EQ(get_position(from), offset + 1);
        continue;
      }
      FileRecord out;
      ASSERT_EQ(open_member_file(output, dir.at("member.out"), -1, out).failure, Failure::none);
      const Copied copied = copy_bytes(from, out, m.size);
      close_file(out);
      const Text data = bytes_at(offset, m.size);
      EXPECT_EQ(copied.bytes, static_cast<int64_t>(data.size()));
      EXPECT_TRUE(read_file(dir.at("member.out")) == data);
      offset += blocks * 512;
      move_forward(from, offset + 1);
      EXPECT_EQ(get_position(from), std::min(offset, length) + 1);
    }
    // The end of the archive reads as a short (here empty) block.
    if (offset <= length) {
      EXPECT_EQ(read_block(from, 512), bytes_at(offset, 512));
    }
  }
}

}  // namespace
