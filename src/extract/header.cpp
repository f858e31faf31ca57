// Decoding of tar header blocks: the name, size and type fields only.
#include "extract/header.h"

#include "text/number_text.h"
#include "text/string_ops.h"

namespace {

constexpr unsigned char kBase256Positive = 0x80;
constexpr unsigned char kHighBit = 0x80;

// The two bytes trimmed from both ends of the name and size fields.
const Text& nul_and_space() {
  static const Text set = text_of_codes({0, 32});
  return set;
}

Text trimmed(const Text& field) {
  return trim_right_set(trim_left_set(field, nul_and_space()), nul_and_space());
}

// Leading octal digits of an already trimmed field, as an unsigned number;
// `overflow` is set when they do not fit in 64 bits.
uint64_t octal_digits(const Text& digits, bool& overflow) {
  uint64_t value = 0;
  overflow = false;
  for (const char c : digits) {
    if (c < '0' || c > '7') break;
    if ((value >> 61) != 0) overflow = true;
    value = (value << 3) | static_cast<uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

bool is_empty_header(const Text& block) {
  return block.empty() || block[0] == '\0';
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

  bool overflow = false;
  const uint64_t value = octal_digits(trimmed(field), overflow);
  if (overflow || value > static_cast<uint64_t>(kMaxMemberSize)) {
    bad = true;
    return 0;
  }
  return static_cast<int64_t>(value);
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
  member.name = trimmed(substring(block, kNameOffset + 1, kNameLength));

  bool bad = false;
  member.size = decode_size_field(substring(block, kSizeOffset + 1, kSizeLength), bad);
  member.bad_size = bad;

  const Text type_byte = substring(block, kTypeOffset + 1, 1);
  member.type = type_of(type_byte);
  if (!type_byte.empty()) member.type_flag = type_byte[0];
  member.block_count = block_count_of(member.size);
  return member;
}
