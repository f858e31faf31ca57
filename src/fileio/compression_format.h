// What kind of compressed file or other archive a file's first bytes show.
// The walk names it when a file is not a tar archive; the file services
// decide from it whether to read the archive through a decompressor.
#pragma once

#include <cstddef>

#include "text/text.h"

enum class Compression { none, gzip, bzip2, xz, zstd, lz4, lzip, compress, zip, seven_zip };

// The first bytes of a file that tell its format: a whole tar header block.
inline constexpr size_t kFormatHeadBytes = 512;

// The format whose signature `head` (the file's first bytes, at least 10
// when the file has them) begins with; none when it shows no known signature.
// A zstd skippable frame counts as zstd. A head that begins with a tar
// header block (its checksum right) is a tar, whatever its first bytes: a
// member may be named like a signature.
Compression compression_of(const Text& head);

// How a message names the format: "gzip compressed", "zip archive", ...;
// a format this build does not read says so ("zstd compressed, which this
// build does not read"). "" for none.
Text compression_name(Compression format);
