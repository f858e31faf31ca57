// A tar header block as the extractor reads it: name, size and type, at
// fixed offsets; nothing else in the block is looked at.
#pragma once

#include <cstdint>

#include "text/text.h"

inline constexpr int32_t kBlockSize = 512;

// Field offsets (0-based) and lengths within a header block.
inline constexpr int32_t kNameOffset = 0;
inline constexpr int32_t kNameLength = 100;
inline constexpr int32_t kSizeOffset = 124;
inline constexpr int32_t kSizeLength = 12;
inline constexpr int32_t kTypeOffset = 156;

inline constexpr int32_t kTypeRegular = 0;
inline constexpr int32_t kTypeDirectory = 5;

// Type bytes of pax extended headers: records for the next member ("x") and
// for the rest of the archive ("g"). Their letters decode as type 0.
inline constexpr char kTypeFlagPaxHeader = 'x';
inline constexpr char kTypeFlagPaxGlobal = 'g';

// The largest size taken as a size; anything past it is a bad size field.
inline constexpr int64_t kMaxMemberSize = int64_t{1} << 62;

struct Member {
  Text name;                // 0 to 100 bytes, tar form with "/"
  int64_t size = 0;         // data bytes
  int32_t type = 0;         // 0 to 9
  char type_flag = '\0';    // the type byte as stored
  int64_t block_count = 0;  // 512-byte data blocks after the header
  bool bad_size = false;    // the size field cannot be a size
};

// True when the block holds no member: it is empty or its first byte is NUL.
bool is_empty_header(const Text& block);

// Name, size, type and block count of the member in `block` (which may be
// shorter than 512 bytes at the end of an archive).
Member decode_header(const Text& block);

// The size field's value: unsigned octal digits, or a big-endian base-256
// number when its first byte is 0x80. `bad` is set for a field that cannot be
// a size (negative base-256, or past 2^62).
int64_t decode_size_field(const Text& field, bool& bad);

// The member type from the type byte read as a decimal number: "0" to "9"
// give 0 to 9; NUL, a space, a letter ("L", "x", "g") or any other non-digit
// byte gives 0, so such members are taken as regular files.
int32_t type_of(const Text& type_byte);

// Data blocks for `size` bytes: the size divided by 512, rounded up.
int64_t block_count_of(int64_t size);
