// The compressed formats the Linux build reads: gzip, zstd, xz and bzip2.
#include "fileio/decoder.h"

const DecoderKind* decoder_kind(Compression format) {
  switch (format) {
    case Compression::gzip:
      return &kGzipDecoder;
    case Compression::zstd:
      return &kZstdDecoder;
    case Compression::xz:
      return &kXzDecoder;
    case Compression::bzip2:
      return &kBzip2Decoder;
    default:
      return nullptr;
  }
}
