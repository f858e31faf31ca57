#include "fileio/compression_format.h"

#include <cstdint>

#include "fileio/decoder.h"

namespace {

struct Signature {
  Compression format;
  const char* bytes;
  size_t length;
  const char* name;
};

// The magic numbers each format's files begin with.
constexpr Signature kSignatures[] = {
    {Compression::gzip, "\x1f\x8b", 2, "gzip compressed"},
    {Compression::bzip2, "BZh", 3, "bzip2 compressed"},
    {Compression::xz,
     "\xfd"
     "7zXZ\0",
     6, "xz compressed"},
    {Compression::zstd, "\x28\xb5\x2f\xfd", 4, "zstd compressed"},
    {Compression::lz4, "\x04\x22\x4d\x18", 4, "lz4 compressed"},
    {Compression::lzip, "LZIP", 4, "lzip compressed"},
    {Compression::compress, "\x1f\x9d", 2, "compress (.Z) compressed"},
    {Compression::zip, "PK\x03\x04", 4, "zip archive"},
    {Compression::zip, "PK\x05\x06", 4, "zip archive"},
    {Compression::seven_zip, "7z\xbc\xaf\x27\x1c", 6, "7z archive"},
};

// bzip2's "BZh" is followed by the block size, a digit 1 to 9, and then the
// magic number of a block (the digits of pi) or of the stream's end (those
// of the square root of pi): "BZh" alone begins many a text.
bool bzip2_follows(const Text& head) {
  if (head.size() < 10 || head[3] < '1' || head[3] > '9') return false;
  return head.compare(4, 6, "\x31\x41\x59\x26\x53\x59") == 0 ||
         head.compare(4, 6, "\x17\x72\x45\x38\x50\x90") == 0;
}

// A zstd skippable frame (magic number 0x184D2A50 to 0x184D2A5F, stored
// lowest byte first), as pzstd begins its files.
bool zstd_skippable_frame(const Text& head) {
  return head.size() >= 4 && (static_cast<unsigned char>(head[0]) & 0xF0) == 0x50 &&
         head.compare(1, 3, "\x2a\x4d\x18") == 0;
}

// Where a tar header holds its checksum.
constexpr size_t kChecksumOffset = 148;
constexpr size_t kChecksumLength = 8;

// The checksum field of a tar header: octal digits after any blanks, and
// nothing but NULs and blanks after them; -1 when it holds anything else.
int64_t tar_checksum_field(const Text& head) {
  constexpr size_t kTo = kChecksumOffset + kChecksumLength;
  size_t at = kChecksumOffset;
  while (at < kTo && head[at] == ' ') ++at;
  const size_t digits = at;
  int64_t value = 0;
  for (; at < kTo && head[at] >= '0' && head[at] <= '7'; ++at) value = value * 8 + head[at] - '0';
  if (at == digits) return -1;
  for (; at < kTo; ++at) {
    if (head[at] != '\0' && head[at] != ' ') return -1;
  }
  return value;
}

// True when `head` begins with a tar header block: its checksum is the sum
// of the block's bytes, the checksum field counted as eight blanks, taken as
// unsigned bytes or (as some old writers did) as signed ones.
bool tar_header_first(const Text& head) {
  if (head.size() < kFormatHeadBytes) return false;
  const int64_t stored = tar_checksum_field(head);
  if (stored < 0) return false;
  int64_t unsigned_sum = 0;
  int64_t signed_sum = 0;
  for (size_t at = 0; at < kFormatHeadBytes; ++at) {
    const bool in_field = at >= kChecksumOffset && at < kChecksumOffset + kChecksumLength;
    const auto byte = static_cast<unsigned char>(in_field ? ' ' : head[at]);
    unsigned_sum += byte;
    signed_sum += static_cast<signed char>(byte);
  }
  return stored == unsigned_sum || stored == signed_sum;
}

}  // namespace

Compression compression_of(const Text& head) {
  if (tar_header_first(head)) return Compression::none;
  if (zstd_skippable_frame(head)) return Compression::zstd;
  for (const Signature& signature : kSignatures) {
    if (head.compare(0, signature.length, signature.bytes, signature.length) != 0) continue;
    if (signature.format == Compression::bzip2 && !bzip2_follows(head)) continue;
    return signature.format;
  }
  return Compression::none;
}

Text compression_name(Compression format) {
  for (const Signature& signature : kSignatures) {
    if (signature.format != format) continue;
    // A format the build has no decoder for reaches the walk undecoded.
    if (decoder_kind(format) == nullptr) {
      return Text(signature.name) + ", which this build does not read";
    }
    return signature.name;
  }
  return "";
}
