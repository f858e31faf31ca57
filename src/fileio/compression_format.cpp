#include "fileio/compression_format.h"

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

}  // namespace

Compression compression_of(const Text& head) {
  for (const Signature& signature : kSignatures) {
    if (head.compare(0, signature.length, signature.bytes, signature.length) != 0) continue;
    // bzip2's "BZh" is followed by the block size, a digit 1 to 9.
    if (signature.format == Compression::bzip2 &&
        (head.size() < 4 || head[3] < '1' || head[3] > '9')) {
      continue;
    }
    return signature.format;
  }
  return Compression::none;
}

Text compression_name(Compression format) {
  for (const Signature& signature : kSignatures) {
    if (signature.format == format) return signature.name;
  }
  return "";
}
