// A tar header block as the extractor reads it: name, size, type and
// checksum at fixed offsets, and the name prefix of POSIX ustar headers.
#pragma once

#include <cstdint>

#include "extract/sparse_map.h"
#include "fileio/file_times.h"
#include "text/text.h"

inline constexpr int32_t kBlockSize = 512;

// Field offsets (0-based) and lengths within a header block.
inline constexpr int32_t kNameOffset = 0;
inline constexpr int32_t kNameLength = 100;
inline constexpr int32_t kModeOffset = 100;
inline constexpr int32_t kModeLength = 8;
inline constexpr int32_t kSizeOffset = 124;
inline constexpr int32_t kSizeLength = 12;
inline constexpr int32_t kTimeOffset = 136;
inline constexpr int32_t kTimeLength = 12;
inline constexpr int32_t kChecksumOffset = 148;
inline constexpr int32_t kChecksumLength = 8;
inline constexpr int32_t kTypeOffset = 156;
inline constexpr int32_t kLinkOffset = 157;
inline constexpr int32_t kLinkLength = 100;
inline constexpr int32_t kMagicOffset = 257;
inline constexpr int32_t kPrefixOffset = 345;
inline constexpr int32_t kPrefixLength = 155;

inline constexpr int32_t kTypeRegular = 0;
inline constexpr int32_t kTypeHardLink = 1;
inline constexpr int32_t kTypeSymbolicLink = 2;
inline constexpr int32_t kTypeDirectory = 5;
// A contiguous file: a regular file for every reader.
inline constexpr int32_t kTypeContiguous = 7;

// Type bytes of the writers' extensions. Extension headers describe the
// member after them: pax records for the next member ("x", and Solaris's
// "X") and for the rest of the archive ("g"), and GNU's long name ("L") and
// long link name ("K").
// "D" is a directory of a GNU incremental archive (its data lists the
// entries), "V" a volume label, "S" a GNU sparse file, "M" the rest of a
// file begun on the volume before (a multi-volume archive).
inline constexpr char kTypeFlagPaxHeader = 'x';
inline constexpr char kTypeFlagPaxGlobal = 'g';
// Solaris tar's name for the pax extended header: the same records.
inline constexpr char kTypeFlagSolarisPax = 'X';
inline constexpr char kTypeFlagLongName = 'L';
inline constexpr char kTypeFlagLongLink = 'K';
inline constexpr char kTypeFlagDumpDir = 'D';
inline constexpr char kTypeFlagVolume = 'V';
inline constexpr char kTypeFlagSparse = 'S';
inline constexpr char kTypeFlagContinuation = 'M';

// The largest size taken as a size; anything past it is a bad size field.
inline constexpr int64_t kMaxMemberSize = int64_t{1} << 62;

struct Member {
  Text name;              // tar form with "/"; the prefix field joined in
  int64_t size = 0;       // data bytes
  int32_t type = 0;       // 0 to 9
  char type_flag = '\0';  // the type byte as stored
  bool bad_size = false;  // the size field cannot be a size
  // Set when a pax size record gave the size: that many data bytes follow
  // the header whatever the member's type.
  bool sized_by_record = false;
  SparseMap sparse;  // for a member stored sparse
  // What a link points at (types 1 and 2): the link name field, else a GNU
  // long link name or a pax "linkpath" record, exactly as stored.
  Text link_name;
  // Its modification time and permission bits (-1 when unreadable).
  FileTime time;
  int32_t mode = -1;
};

// A name field's text: its bytes up to the first NUL. Spaces are bytes of
// the name ("todo " and "todo" are two names).
Text name_of_field(const Text& field);

// True for a block of 512 zero bytes, which holds no member (two in a row end
// the archive). A block whose first byte alone is NUL may still be a header.
bool is_zero_block(const Text& block);

// True when the block's checksum field (octal digits, blanks before them and
// a NUL or blank after) equals the sum of its 512 bytes with the field
// counted as eight blanks, summed as unsigned or, as old writers did, as
// signed bytes. A block shorter than 512 bytes never matches.
bool checksum_matches(const Text& block);

// Name, size and type of the member in `block` (which may be
// shorter than 512 bytes at the end of an archive). A POSIX ustar header
// (magic "ustar\0") with a prefix field gives the name prefix "/" name; a
// GNU dumpdir ("D") is a directory.
Member decode_header(const Text& block);

// True for a member written as a regular file: type 0 (a NUL or "0" type
// byte, and letters that name no other kind) and 7, a contiguous file. Not a
// continuation from another volume ("M").
bool is_regular_file(const Member& member);

// The size field's value: unsigned octal digits with nothing but NULs and
// spaces before and after them (an empty field is 0), or a big-endian
// base-256 number when its first byte is 0x80. `bad` is set for a field that
// cannot be a size: any other byte in an octal field (a sign, a letter, digits
// after the blank that ended them), negative base-256, or past 2^62.
int64_t decode_size_field(const Text& field, bool& bad);

// The modification time field: octal digits (seconds since 1970), or a
// big-endian base-256 number, negative when its first byte is 0xFF. Not
// known when the field holds neither.
FileTime decode_time_field(const Text& field);

// The mode field's permission bits (octal digits); -1 when it holds none.
int32_t decode_mode_field(const Text& field);

// The member type from the type byte read as a decimal number: "0" to "9"
// give 0 to 9; NUL, a space, a letter ("L", "x", "g") or any other non-digit
// byte gives 0, so such members are taken as regular files.
int32_t type_of(const Text& type_byte);

// Data blocks for `size` bytes: the size divided by 512, rounded up.
int64_t block_count_of(int64_t size);
