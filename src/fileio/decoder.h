// The decompressors of the compressed formats a build reads, each one a table
// of plain functions over an opaque state. The archive stream drives them
// (archive_stream.cpp); which formats a build has is decided by the build
// (decoders_posix.cpp, decoders_win32.cpp), each format's library call in a
// file of its own (decoder_gzip.cpp, ...).
#pragma once

#include <cstddef>
#include <cstdint>

#include "fileio/compression_format.h"

enum class DecodeStatus {
  going,       // more input or more room for output is wanted
  stream_end,  // a whole stream ended: the input may end here
  bad,         // the data is not valid (corrupt, or garbage where a stream should begin)
  bad_check,   // the data fails the format's check (as the format's own tool names it)
  too_large,   // decoding the stream would need more memory than kDecoderMemoryLimit
};

// The most memory a decoder may take for its window or dictionary: every
// stream made by xz up to -9e and zstd up to --long=28 fits. A stream that
// declares more is refused when it is met, before any of it is allocated.
inline constexpr uint64_t kDecoderMemoryLimit = uint64_t{256} << 20;

struct DecodeStep {
  size_t consumed = 0;
  size_t produced = 0;
  DecodeStatus status = DecodeStatus::going;
  uint64_t memory_needed = 0;  // for too_large: what the stream declares it needs
};

struct DecoderKind {
  Compression format;
  // A new state, ready for the first stream; nullptr when it cannot be made.
  void* (*open)();
  // Decodes from `in` into `out`. `input_ends` says no input follows `in`.
  // A step ends at the end of a stream (stream_end); what follows is the
  // caller's to look at: the format's next stream (several gzip members,
  // zstd frames, xz or bzip2 streams in a row) is decoded once `restart` has
  // been called.
  DecodeStep (*step)(void* state, const unsigned char* in, size_t in_size, unsigned char* out,
                     size_t out_size, bool input_ends);
  // Makes the state ready for the stream after the one that ended; false
  // when it cannot.
  bool (*restart)(void* state);
  void (*close)(void* state);
};

// The decoder of `format` in this build; nullptr when this build does not
// read it.
const DecoderKind* decoder_kind(Compression format);

// Each format's decoder (decoder_<format>.cpp), for the build's table.
extern const DecoderKind kGzipDecoder;
extern const DecoderKind kZstdDecoder;
extern const DecoderKind kXzDecoder;
extern const DecoderKind kBzip2Decoder;
// Bytes that are not compressed (an archive on a pipe): passed on unchanged.
extern const DecoderKind kPlainDecoder;
