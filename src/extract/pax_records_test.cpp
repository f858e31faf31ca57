#include "extract/pax_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// One record "<length> <key>=<value>\n" with the length that matches it.
Text record(const Text& key, const Text& value) {
  const Text body = " " + key + "=" + value + "\n";
  Text length = std::to_string(body.size() + 1);
  if (length.size() + body.size() != std::stoul(length)) {
    length = std::to_string(body.size() + length.size());
  }
  return length + body;
}

// The records Python's tarfile and GNU tar write for a member of 9 GiB.
const Text kTarfileHeader = "19 size=9663676416\n";
const Text kGnuTarHeader =
    "30 mtime=1765224000.123456789\n"
    "30 atime=1765224001.987654321\n"
    "30 ctime=1765224002.111111111\n"
    "19 size=9663676416\n";

struct Case {
  const char* label;
  Text records;
  PaxSizeKind kind;
  int64_t size;
};

TEST(FindPaxSize, Table) {
  const std::vector<Case> cases = {
      {"tarfile layout", kTarfileHeader, PaxSizeKind::found, 9663676416},
      {"GNU tar layout", kGnuTarHeader, PaxSizeKind::found, 9663676416},
      {"size first", "19 size=9663676416\n" + record("path", "a/b"), PaxSizeKind::found,
       9663676416},
      {"no records", "", PaxSizeKind::none, 0},
      {"no size record", record("path", "big") + record("mtime", "1"), PaxSizeKind::none, 0},
      {"a key that only begins with size", record("sizes", "12") + record("GNU.sparse.size", "7"),
       PaxSizeKind::none, 0},
      {"zero", record("size", "0"), PaxSizeKind::found, 0},
      {"leading zeros", record("size", "0000512"), PaxSizeKind::found, 512},
      {"more leading zeros than a size has digits",
       "19 size=0050029885\n48 size=000000000000000000000000000001079053085\n=", PaxSizeKind::found,
       1079053085},
      {"2^62", record("size", "4611686018427387904"), PaxSizeKind::found, int64_t{1} << 62},
      {"the last one counts", record("size", "5") + record("size", "700"), PaxSizeKind::found, 700},
      {"value holding = and a newline", record("path", "a=b\nc") + record("size", "3"),
       PaxSizeKind::found, 3},
      {"length with 3 digits", record("path", Text(120, 'p')) + record("size", "9"),
       PaxSizeKind::found, 9},
      // Malformed size records: the next member's extent is unknown.
      {"empty value", "8 size=\n", PaxSizeKind::bad, 0},
      {"sign", "10 size=+5\n", PaxSizeKind::bad, 0},
      {"minus", "10 size=-5\n", PaxSizeKind::bad, 0},
      {"blank in the value", "11 size= 55\n", PaxSizeKind::bad, 0},
      {"trailing blank", "11 size=55 \n", PaxSizeKind::bad, 0},
      {"hex", "12 size=0x10\n", PaxSizeKind::bad, 0},
      {"octal digit word", "11 size=5e3\n", PaxSizeKind::bad, 0},
      {"carriage return", "12 size=512\r\n", PaxSizeKind::bad, 0},
      {"past 2^62", record("size", "4611686018427387905"), PaxSizeKind::bad, 0},
      {"past 64 bits", record("size", "99999999999999999999999"), PaxSizeKind::bad, 0},
      {"length one short", "18 size=9663676416\n", PaxSizeKind::bad, 0},
      {"length one long", "20 size=9663676416\n", PaxSizeKind::bad, 0},
      {"length past the data", "99 size=9663676416\n", PaxSizeKind::bad, 0},
      {"no newline", "19 size=9663676416 ", PaxSizeKind::bad, 0},
      {"cut short", "19 size=96636", PaxSizeKind::bad, 0},
      {"size record with a length of zero", "0 size=5\n", PaxSizeKind::bad, 0},
      {"bad after a good one", record("size", "5") + "9 size=x\n", PaxSizeKind::bad, 0},
      {"bad before a good one", "9 size=x\n" + record("size", "5"), PaxSizeKind::bad, 0},
      // Broken framing elsewhere ends the search; a size before it counts.
      {"record without =", "9 mtime1\n" + record("size", "5"), PaxSizeKind::none, 0},
      {"length of zero", "0 mtime=5\n", PaxSizeKind::none, 0},
      {"no length", " size=5\n", PaxSizeKind::none, 0},
      {"two spaces", "9  size=5\n", PaxSizeKind::none, 0},
      {"NUL padding after the records", record("size", "5") + "\0\0\0"s, PaxSizeKind::found, 5},
      {"wrong length before", "99 mtime=1\n" + record("size", "5"), PaxSizeKind::none, 0},
      {"newline missing at the length", "12 mtime=1.5X" + record("size", "5"), PaxSizeKind::none,
       0},
  };
  for (const Case& c : cases) {
    const PaxSize found = read_pax_records(c.records).size;
    EXPECT_EQ(found.kind, c.kind) << c.label;
    if (c.kind == PaxSizeKind::found) {
      EXPECT_EQ(found.size, c.size) << c.label;
    }
  }
}

TEST(ReadPaxRecords, PathAndSparseRecords) {
  struct Case {
    const char* label;
    Text records;
    Text path;  // "-" for none
    bool sparse;
    bool bad_map;
    bool map_in_data;
    int64_t real_size;
    size_t pieces;
  };
  const std::vector<Case> cases = {
      {"GNU tar 0.0",
       record("GNU.sparse.size", "10485760") + record("GNU.sparse.numblocks", "2") +
           record("GNU.sparse.offset", "5242880") + record("GNU.sparse.numbytes", "8192") +
           record("GNU.sparse.offset", "10485760") + record("GNU.sparse.numbytes", "0"),
       "-", true, false, false, 10485760, 2},
      {"GNU tar 0.1",
       record("GNU.sparse.size", "3145805") + record("GNU.sparse.name", "ends.img") +
           record("GNU.sparse.map", "0,4096,3145728,77,3145805,0"),
       "-", true, false, false, 3145805, 3},
      {"GNU tar 1.0",
       record("GNU.sparse.major", "1") + record("GNU.sparse.minor", "0") +
           record("GNU.sparse.name", "mid.img") + record("GNU.sparse.realsize", "10485760"),
       "-", true, false, true, 10485760, 0},
      {"numbytes without an offset", record("GNU.sparse.numbytes", "5"), "-", true, true, false, -1,
       0},
      {"an offset without numbytes", record("GNU.sparse.offset", "5"), "-", true, true, false, -1,
       1},
      {"an unknown major version", record("GNU.sparse.major", "2"), "-", true, true, false, -1, 0},
      {"a real size that is no number", record("GNU.sparse.realsize", "1e9"), "-", true, true,
       false, -1, 0},
  };
  for (const Case& c : cases) {
    const PaxRecords records = read_pax_records(c.records);
    EXPECT_EQ(records.has_path ? records.path : "-", c.path) << c.label;
    EXPECT_EQ(records.sparse.sparse, c.sparse) << c.label;
    EXPECT_EQ(records.sparse.bad, c.bad_map) << c.label;
    EXPECT_EQ(records.sparse.map_in_data, c.map_in_data) << c.label;
    EXPECT_EQ(records.sparse.real_size, c.real_size) << c.label;
    EXPECT_EQ(records.sparse.pieces.size(), c.pieces) << c.label;
  }
  EXPECT_EQ(read_pax_records(record("GNU.sparse.name", " real ")).sparse_name, " real ");
}

TEST(FindPaxSize, RecordHelperMatchesTheWritersLengths) {
  EXPECT_EQ(record("size", "9663676416"), "19 size=9663676416\n");
  EXPECT_EQ(record("size", "5"), "9 size=5\n");
  EXPECT_EQ(record("path", Text(92, 'p')), "102 path=" + Text(92, 'p') + "\n");
  EXPECT_EQ(record("path", Text(93, 'p')), "103 path=" + Text(93, 'p') + "\n");
}

}  // namespace
