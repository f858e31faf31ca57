// Decoding of tar header blocks: the name, size, type and checksum fields.
#include "extract/header.h"

#include <cstdint>
#include <cstring>

#include "text/number_text.h"
#include "text/string_ops.h"

namespace {

constexpr unsigned char kBase256Positive = 0x80;
constexpr unsigned char kHighBit = 0x80;

// The bytes writers put before and after the digits of a numeric field.
const Text& nul_and_space() {
  static const Text set = text_of_codes({0, 32});
  return set;
}

// The octal digits from `at` to `end` of the field, as an unsigned number;
// `overflow` is set when they do not fit in 64 bits.
uint64_t octal_digits(const Text& field, size_t at, size_t end, bool& overflow) {
  uint64_t value = 0;
  overflow = false;
  for (; at < end; ++at) {
    if ((value >> 61) != 0) overflow = true;
    value = (value << 3) | static_cast<uint64_t>(field[at] - '0');
  }
  return value;
}

// A numeric field of octal digits between NULs and spaces, in `value`;
// false for an empty field, anything else in it, or more than 64 bits.
bool octal_field(const Text& field, uint64_t& value) {
  const size_t first = field.find_first_not_of(nul_and_space());
  if (first == Text::npos) return false;
  size_t end = field.find_first_not_of("01234567", first);
  if (end == Text::npos) end = field.size();
  if (end == first || field.find_first_not_of(nul_and_space(), end) != Text::npos) return false;
  bool overflow = false;
  value = octal_digits(field, first, end, overflow);
  return !overflow;
}

// The magic of POSIX ustar headers, whose prefix field holds the start of a
// long name. GNU's own magic ("ustar  \0") has other data there.
const Text& ustar_magic() {
  static const Text magic("ustar\0", 6);
  return magic;
}

// The value of a checksum field: octal digits after any blanks, ended by a
// NUL or a blank or the field's end, with nothing but NULs and blanks after.
// -1 when the field holds anything else.
int64_t checksum_field(const Text& field) {
  size_t at = field.find_first_not_of(' ');
  if (at == Text::npos) return -1;
  int64_t value = 0;
  const size_t first_digit = at;
  for (; at < field.size() && field[at] >= '0' && field[at] <= '7'; ++at) {
    value = value * 8 + (field[at] - '0');
  }
  if (at == first_digit) return -1;
  for (; at < field.size(); ++at) {
    if (field[at] != '\0' && field[at] != ' ') return -1;
  }
  return value;
}

// The sum of the block's bytes as unsigned bytes, eight at a time.
uint32_t unsigned_sum(const unsigned char* bytes) {
  constexpr uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
  uint64_t lanes = 0;  // four 16-bit sums, each of at most 128 bytes of 255
  for (int32_t at = 0; at < kBlockSize; at += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + at, sizeof word);
    lanes += (word & kLowBytes) + ((word >> 8) & kLowBytes);
  }
  lanes = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
  return static_cast<uint32_t>((lanes & 0xFFFFFFFFull) + (lanes >> 32));
}

// A link name field: its bytes up to the first NUL, exactly.
Text link_of_field(const Text& field) {
  return field.substr(0, field.find('\0'));
}

}  // namespace

bool checksum_matches(const Text& block) {
  if (block.size() != static_cast<size_t>(kBlockSize)) return false;
  const int64_t stored = checksum_field(block.substr(kChecksumOffset, kChecksumLength));
  if (stored < 0) return false;
  // The bytes summed as unsigned bytes, the field counted as eight blanks.
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
  uint32_t sum = unsigned_sum(bytes) + ' ' * kChecksumLength;
  for (int32_t i = kChecksumOffset; i < kChecksumOffset + kChecksumLength; ++i) sum -= bytes[i];
  if (stored == int64_t{sum}) return true;
  // Taken as signed bytes, each byte from 0x80 up counts 256 less.
  int64_t signed_sum = sum;
  for (int32_t i = 0; i < kBlockSize; ++i) {
    const bool in_field = i >= kChecksumOffset && i < kChecksumOffset + kChecksumLength;
    if (!in_field && bytes[i] >= 0x80) signed_sum -= 0x100;
  }
  return stored == signed_sum;
}

Text name_of_field(const Text& field) {
  return field.substr(0, field.find('\0'));
}

bool is_zero_block(const Text& block) {
  return block.size() == static_cast<size_t>(kBlockSize) && block[0] == '\0' &&
         std::memcmp(block.data(), block.data() + 1, kBlockSize - 1) == 0;
}

bool is_regular_file(const Member& member) {
  if (member.type_flag == kTypeFlagContinuation) return false;
  return member.type == kTypeRegular || member.type == kTypeContiguous;
}

int64_t decode_size_field(const Text& field, bool& bad) {
  bad = false;
  if (!field.empty() && (static_cast<unsigned char>(field[0]) & kHighBit) != 0) {
    // Base-256: only the positive marker byte can start a usable size. Any
    // other first byte with its high bit set is a negative number (0xFF) or
    // one far past any real size.
    if (static_cast<unsigned char>(field[0]) != kBase256Positive) {
      bad = true;
      return 0;
    }
    uint64_t value = 0;
    for (size_t i = 1; i < field.size(); ++i) {
      if ((value >> 56) != 0) {
        bad = true;
        return 0;
      }
      value = (value << 8) | static_cast<unsigned char>(field[i]);
    }
    if (value > static_cast<uint64_t>(kMaxMemberSize)) {
      bad = true;
      return 0;
    }
    return static_cast<int64_t>(value);
  }

  // Octal digits between NULs and spaces. Anything else (a sign, a letter,
  // more digits after a blank) would be read as some other number, and the
  // member's data as headers.
  const size_t first = field.find_first_not_of(nul_and_space());
  if (first == Text::npos) return 0;
  size_t end = field.find_first_not_of("01234567", first);
  if (end == Text::npos) end = field.size();
  if (field.find_first_not_of(nul_and_space(), end) != Text::npos) {
    bad = true;
    return 0;
  }
  bool overflow = false;
  const uint64_t value = octal_digits(field, first, end, overflow);
  if (overflow || value > static_cast<uint64_t>(kMaxMemberSize)) {
    bad = true;
    return 0;
  }
  return static_cast<int64_t>(value);
}

FileTime decode_time_field(const Text& field) {
  FileTime time;
  if (field.empty()) return time;
  const auto first = static_cast<unsigned char>(field[0]);
  if ((first & kHighBit) != 0) {
    // Base-256, two's complement over the field: 0x80 marks a positive
    // number in the bytes after it, 0xFF a negative one.
    if (first != kBase256Positive && first != 0xFF) return time;
    const bool negative = first == 0xFF;
    uint64_t value = negative ? ~uint64_t{0} : 0;
    for (size_t i = 1; i < field.size(); ++i) {
      if (!negative && (value >> 55) != 0) return time;
      if (negative && (value >> 55) != 0x1FF) return time;
      value = (value << 8) | static_cast<unsigned char>(field[i]);
    }
    time.seconds = static_cast<int64_t>(value);
    time.known = true;
    return time;
  }
  uint64_t value = 0;
  if (!octal_field(field, value) || value > static_cast<uint64_t>(INT64_MAX)) return time;
  time.seconds = static_cast<int64_t>(value);
  time.known = true;
  return time;
}

int32_t decode_mode_field(const Text& field) {
  uint64_t value = 0;
  return octal_field(field, value) ? static_cast<int32_t>(value & 07777) : -1;
}

int32_t type_of(const Text& type_byte) {
  return store_int32(value_of_text(type_byte));
}

int64_t block_count_of(int64_t size) {
  int64_t blocks = size / kBlockSize;
  if (blocks * kBlockSize < size) ++blocks;
  return blocks;
}

Member decode_header(const Text& block) {
  Member member;
  // Fields beyond the end of a short block read as empty text.
  member.name = name_of_field(substring(block, kNameOffset + 1, kNameLength));
  if (substring(block, kMagicOffset + 1, 6) == ustar_magic()) {
    const Text prefix = name_of_field(substring(block, kPrefixOffset + 1, kPrefixLength));
    if (!prefix.empty()) member.name = prefix + "/" + member.name;
  }

  bool bad = false;
  member.size = decode_size_field(substring(block, kSizeOffset + 1, kSizeLength), bad);
  member.bad_size = bad;

  const Text type_byte = substring(block, kTypeOffset + 1, 1);
  member.type = type_of(type_byte);
  if (!type_byte.empty()) member.type_flag = type_byte[0];
  if (member.type_flag == kTypeFlagDumpDir) member.type = kTypeDirectory;
  member.link_name = link_of_field(substring(block, kLinkOffset + 1, kLinkLength));
  member.time = decode_time_field(substring(block, kTimeOffset + 1, kTimeLength));
  member.mode = decode_mode_field(substring(block, kModeOffset + 1, kModeLength));
  return member;
}
