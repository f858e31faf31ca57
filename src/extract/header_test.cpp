#include "extract/header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// A 512-byte header block with the given name, size field and type byte;
// the other bytes hold what a ustar writer puts there when the name fits in
// its field (an empty prefix), so that only the three fields decide the
// result.
Text header_block(const Text& name, const Text& size_field, char type) {
  Text block(kBlockSize, '\0');
  block.replace(0, name.size(), name);
  block.replace(100, 8, "0000644\0"s);
  block.replace(108, 8, "0001750\0"s);
  block.replace(116, 8, "0001750\0"s);
  block.replace(kSizeOffset, size_field.size(), size_field);
  block.replace(136, 12, "14531237641\0"s);
  block.replace(148, 8, "012345\0 "s);
  block[kTypeOffset] = type;
  block.replace(157, 9, "linkname\0"s);
  block.replace(257, 8,
                "ustar\0"
                "00"s);
  return block;
}

// A base-256 size field: the marker byte, then `value` big-endian in 11 bytes.
Text base256_field(unsigned char marker, uint64_t value) {
  Text field(kSizeLength, '\0');
  field[0] = static_cast<char>(marker);
  for (int i = kSizeLength - 1; i >= 4; --i) {
    field[i] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
  return field;
}

TEST(ZeroBlock, OnlyAWholeBlockOfZerosHoldsNoMember) {
  EXPECT_TRUE(is_zero_block(Text(kBlockSize, '\0')));
  EXPECT_FALSE(is_zero_block(""));
  EXPECT_FALSE(is_zero_block(Text(kBlockSize - 1, '\0')));
  // A header whose name lives wholly in its prefix begins with NUL.
  Text leading_nul = header_block("name", "00000000001\0"s, '0');
  leading_nul[0] = '\0';
  EXPECT_FALSE(is_zero_block(leading_nul));
  Text last_byte(kBlockSize, '\0');
  last_byte[kBlockSize - 1] = 1;
  EXPECT_FALSE(is_zero_block(last_byte));
  EXPECT_FALSE(is_zero_block("\x80" + Text(511, '\0')));
}

struct NameCase {
  Text field;
  Text name;
};

TEST(DecodeHeader, NameTable) {
  const Text hundred(kNameLength, 'n');
  const std::vector<NameCase> cases = {
      {hundred, hundred},
      // Only NUL ends a name: spaces at its ends are its own bytes.
      {"  docs/a.txt", "  docs/a.txt"},
      {"docs/a.txt  ", "docs/a.txt  "},
      {"todo ", "todo "},
      {"dir/", "dir/"},
      {"/abs/../x", "/abs/../x"},
      // The name ends at its first NUL: what follows is another writer's.
      {" a\0b c \0"s, " a"},
      {"\0\0name"s, ""},
      {"    ", "    "},
      {"", ""},
      {"caf\xC3\xA9/\xFF", "caf\xC3\xA9/\xFF"},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(decode_header(header_block(c.field, "00000000000\0"s, '0')).name, c.name)
        << "field [" << c.field << "]";
  }
  // A full name field ends where the next field begins.
  Text block = header_block(hundred, "00000000000\0"s, '0');
  block[100] = 'X';
  EXPECT_EQ(decode_header(block).name, hundred);
  // The ustar prefix keeps its spaces too, at the split and at its ends.
  const std::vector<std::pair<Text, Text>> prefixes = {
      {"dir ", "dir / file "}, {" top/dir", " top/dir/ file "}, {"  ", "  / file "}};
  for (const auto& [prefix, name] : prefixes) {
    Text split = header_block(" file ", "00000000000\0"s, '0');
    split.replace(kPrefixOffset, prefix.size(), prefix);
    EXPECT_EQ(decode_header(split).name, name) << "prefix [" << prefix << "]";
  }
}

struct SizeCase {
  Text field;
  int64_t size;
  int64_t blocks;
};

TEST(DecodeHeader, OctalSizeTable) {
  const std::vector<SizeCase> cases = {
      {"00000000000\0"s, 0, 0},
      {"00000001000\0"s, 512, 1},
      {"00000001001\0"s, 513, 2},
      {"00000000001\0"s, 1, 1},
      {"00000000777\0"s, 511, 1},
      {"00000001750\0"s, 1000, 2},
      {"00000116100\0"s, 40000, 79},
      {"00000116100 "s, 40000, 79},
      // No sign rule and no 32-bit store: every octal field is unsigned.
      {"116100\0"s, 40000, 79},
      {"77777\0"s, 32767, 64},
      {"100000\0"s, 32768, 64},
      {"17777777777\0"s, 2147483647, 4194304},
      {"20000000000\0"s, 2147483648LL, 4194304},
      {"30000000000\0"s, 3221225472LL, 6291456},
      {"77777777777\0"s, 8589934591LL, 16777216},
      {"777777777777"s, 68719476735LL, 134217728},
      // Padding by spaces and NULs at either end, as older writers do.
      {"       1750 "s, 1000, 2},
      {"\0\0\0 1750\0 \0\0"s, 1000, 2},
      {"1750 \0 \0"s, 1000, 2},
      // An empty field.
      {Text(kSizeLength, '\0'), 0, 0},
      {Text(kSizeLength, ' '), 0, 0},
  };
  for (const SizeCase& c : cases) {
    const Member member = decode_header(header_block("f", c.field, '0'));
    EXPECT_FALSE(member.bad_size) << "field [" << c.field << "]";
    EXPECT_EQ(member.size, c.size) << "field [" << c.field << "]";
    EXPECT_EQ(block_count_of(member.size), c.blocks) << "field [" << c.field << "]";
  }
}

TEST(DecodeHeader, Base256SizeTable) {
  const std::vector<SizeCase> cases = {
      {base256_field(0x80, 0), 0, 0},
      {base256_field(0x80, 1), 1, 1},
      {base256_field(0x80, 8589934592ULL), 8589934592LL, 16777216},
      {base256_field(0x80, 9663676416ULL), 9663676416LL, 18874368},
      {base256_field(0x80, 9663676417ULL), 9663676417LL, 18874369},
      {base256_field(0x80, uint64_t{1} << 62), int64_t{1} << 62, int64_t{1} << 53},
  };
  for (const SizeCase& c : cases) {
    const Member member = decode_header(header_block("big", c.field, '0'));
    EXPECT_FALSE(member.bad_size) << c.size;
    EXPECT_EQ(member.size, c.size);
    EXPECT_EQ(block_count_of(member.size), c.blocks);
  }
}

TEST(DecodeHeader, BadSizeFields) {
  Text beyond_64_bits = base256_field(0x80, 0);
  beyond_64_bits[3] = 1;  // 2^64
  const std::vector<Text> fields = {
      // Negative base-256 numbers.
      base256_field(0xFF, 0xFFFFFFFFFFFFFFFFULL),
      base256_field(0xFF, 0),
      // Past 2^62, and past 64 bits.
      base256_field(0x80, (uint64_t{1} << 62) + 1),
      base256_field(0x80, 0xFFFFFFFFFFFFFFFFULL),
      beyond_64_bits,
      // A high first byte other than the positive marker is either negative
      // or far past any size.
      base256_field(0x81, 0),
      base256_field(0xC0, 5),
      base256_field(0xFE, 5),
      // An octal field holding anything but digits between NULs and spaces
      // would give some other size, and the member's data would be read as
      // headers.
      "-0000000001\0"s,
      "+0000002000\0"s,
      "abcdefghijk\0"s,
      "12 34\0"s,
      "1750\0x"s,
      "78\0"s,
      "8\0"s,
      "\t12\0"s,
      "-1\0"s,
      "x\0"s,
  };
  for (const Text& field : fields) {
    const Member member = decode_header(header_block("bad", field, '0'));
    EXPECT_TRUE(member.bad_size);
    EXPECT_EQ(member.size, 0);
    EXPECT_EQ(block_count_of(member.size), 0);
    EXPECT_EQ(member.name, "bad");
  }
}

TEST(DecodeSizeField, LongOctalFields) {
  struct Case {
    Text field;
    int64_t value;
    bool bad;
  };
  const std::vector<Case> cases = {
      {"1" + Text(20, '0'), int64_t{1} << 60, false},
      {"4" + Text(20, '0'), int64_t{1} << 62, false},
      {"4" + Text(19, '0') + "1", 0, true},
      {"7" + Text(20, '7'), 0, true},
      {"1" + Text(21, '0'), 0, true},  // 2^63
      {"4" + Text(21, '0'), 0, true},  // 2^65: out of 64 bits
      {Text(40, '7'), 0, true},
      {Text(40, '0') + "17", 15, false},  // leading zeros never overflow
  };
  for (const Case& c : cases) {
    bool bad = !c.bad;
    EXPECT_EQ(decode_size_field(c.field, bad), c.value) << c.field;
    EXPECT_EQ(bad, c.bad) << c.field;
  }
  bool bad = true;
  EXPECT_EQ(decode_size_field("", bad), 0);
  EXPECT_FALSE(bad);
  EXPECT_EQ(decode_size_field("\x80", bad), 0);
  EXPECT_FALSE(bad);
  EXPECT_EQ(decode_size_field("\x80\x01\x00"s, bad), 256);
  EXPECT_FALSE(bad);
}

TEST(DecodeHeader, TypeTable) {
  const std::vector<std::pair<char, int32_t>> cases = {
      {'\0', 0}, {'0', 0}, {'1', 1}, {'2', 2}, {'3', 3}, {'4', 4},    {'5', 5}, {'6', 6},
      {'7', 7},  {'8', 8}, {'9', 9}, {'L', 0}, {'K', 0}, {'x', 0},    {'g', 0}, {'S', 0},
      {'D', 5},  {' ', 0}, {'+', 0}, {'-', 0}, {'.', 0}, {'\xFF', 0},
  };
  for (const auto& [type_byte, type] : cases) {
    const Member member = decode_header(header_block("m", "00000000000\0"s, type_byte));
    EXPECT_EQ(member.type, type) << "type byte "
                                 << static_cast<int>(static_cast<unsigned char>(type_byte));
    EXPECT_EQ(member.type_flag, type_byte);
  }
}

TEST(DecodeHeader, ShortBlocksDecodeAsFarAsTheyGo) {
  const Text full = header_block("docs/a.txt", "00000001001\0"s, '5');
  struct Case {
    size_t length;
    Text name;
    int64_t size;
    int32_t type;
  };
  const std::vector<Case> cases = {
      {1, "d", 0, 0},
      {4, "docs", 0, 0},
      {12, "docs/a.txt", 0, 0},
      {100, "docs/a.txt", 0, 0},
      {124, "docs/a.txt", 0, 0},
      {125, "docs/a.txt", 0, 0},
      {130, "docs/a.txt", 0, 0},  // six of the seven leading zeros
      {132, "docs/a.txt", 1, 0},
      {135, "docs/a.txt", 513, 0},
      {156, "docs/a.txt", 513, 0},
      {157, "docs/a.txt", 513, 5},
      {300, "docs/a.txt", 513, 5},
  };
  for (const Case& c : cases) {
    const Member member = decode_header(full.substr(0, c.length));
    EXPECT_EQ(member.name, c.name) << "length " << c.length;
    EXPECT_EQ(member.size, c.size) << "length " << c.length;
    EXPECT_EQ(member.type, c.type) << "length " << c.length;
    EXPECT_FALSE(member.bad_size);
  }
  // A block cut inside a base-256 size field reads the bytes it holds.
  Text big = header_block("big", base256_field(0x80, 0x0102), '0');
  EXPECT_EQ(decode_header(big.substr(0, kSizeOffset + 11)).size, 0x01);
  EXPECT_EQ(decode_header(big.substr(0, kSizeOffset + 12)).size, 0x0102);
}

TEST(BlockCount, RoundsUpToWholeBlocks) {
  const std::vector<std::pair<int64_t, int64_t>> cases = {
      {0, 0},
      {1, 1},
      {511, 1},
      {512, 1},
      {513, 2},
      {1024, 2},
      {1025, 3},
      {40000, 79},
      {2147483647, 4194304},
      {2147483648LL, 4194304},
      {2147483649LL, 4194305},
      {9663676416LL, 18874368},
      {int64_t{1} << 62, int64_t{1} << 53},
  };
  for (const auto& [size, blocks] : cases) {
    EXPECT_EQ(block_count_of(size), blocks) << "size " << size;
  }
  // The distance passed over for the largest 32-bit size does not fit in 32 bits.
  EXPECT_EQ(block_count_of(2147483647) * kBlockSize, 2147483648LL);
}

}  // namespace
