// The decompressors of the compressed formats a build reads, each one a table
// of plain functions over an opaque state. The archive stream drives them
// (archive_stream.cpp); which formats a build has is decided by the build
// (decoders_posix.cpp, decoders_win32.cpp), each format's library call in a
// file of its own (decoder_gzip.cpp, ...).
#pragma once

#include <cstddef>

#include "fileio/compression_format.h"

enum class DecodeStatus {
  going,       // more input or more room for output is wanted
  stream_end,  // a whole stream ended: the input may end here
  bad,         // the data is not valid (corrupt, or garbage where a stream should begin)
};

struct DecodeStep {
  size_t consumed = 0;
  size_t produced = 0;
  DecodeStatus status = DecodeStatus::going;
};

struct DecoderKind {
  Compression format;
  // A new state, ready for the first stream; nullptr when it cannot be made.
  void* (*open)();
  // Decodes from `in` into `out`. `input_ends` says no input follows `in`.
  // Input that follows a stream's end is taken as the next stream of the
  // format (several gzip members, zstd frames, xz or bzip2 streams in a row)
  // once `restart` has been called.
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
