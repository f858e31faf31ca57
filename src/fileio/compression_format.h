// What kind of compressed file or other archive a file's first bytes show.
// The walk names it when a file is not a tar archive; the file services
// decide from it whether to read the archive through a decompressor.
#pragma once

#include "text/text.h"

enum class Compression { none, gzip, bzip2, xz, zstd, lz4, lzip, compress, zip, seven_zip };

// The format whose signature `head` (the file's first bytes, at least 8 when
// the file has them) begins with; none when it shows no known signature.
Compression compression_of(const Text& head);

// How a message names the format: "gzip compressed", "zip archive", ...;
// "" for none.
Text compression_name(Compression format);
