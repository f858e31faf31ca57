// The compressed formats the Windows build reads: gzip only (zlib is the one
// compression library the MinGW-w64 cross build has as a package).
#include "fileio/decoder.h"

const DecoderKind* decoder_kind(Compression format) {
  return format == Compression::gzip ? &kGzipDecoder : nullptr;
}
