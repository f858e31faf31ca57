// bzip2 streams through libbz2; streams in a row (as parallel compressors
// write them) are decoded one after another.
#include <bzlib.h>

#include <climits>
#include <new>

#include "fileio/decoder.h"

namespace {

bool start_bzip2(bz_stream* stream) {
  *stream = bz_stream{};
  return BZ2_bzDecompressInit(stream, 0, 0) == BZ_OK;
}

void* open_bzip2() {
  auto* stream = new (std::nothrow) bz_stream;
  if (stream == nullptr) return nullptr;
  if (!start_bzip2(stream)) {
    delete stream;
    return nullptr;
  }
  return stream;
}

DecodeStep step_bzip2(void* state, const unsigned char* in, size_t in_size, unsigned char* out,
                      size_t out_size, bool) {
  auto* stream = static_cast<bz_stream*>(state);
  constexpr size_t kMost = UINT_MAX;
  stream->next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
  stream->avail_in = static_cast<unsigned>(in_size < kMost ? in_size : kMost);
  stream->next_out = reinterpret_cast<char*>(out);
  stream->avail_out = static_cast<unsigned>(out_size < kMost ? out_size : kMost);
  const unsigned in_before = stream->avail_in;
  const unsigned out_before = stream->avail_out;
  const int result = BZ2_bzDecompress(stream);
  DecodeStep step;
  step.consumed = in_before - stream->avail_in;
  step.produced = out_before - stream->avail_out;
  if (result == BZ_STREAM_END) {
    step.status = DecodeStatus::stream_end;
  } else if (result == BZ_DATA_ERROR) {
    // libbz2 reports a failed block or stream CRC and data it cannot decode
    // alike; bzip2 calls both a "data integrity (CRC) error".
    step.status = DecodeStatus::bad_check;
  } else if (result != BZ_OK) {
    step.status = DecodeStatus::bad;
  }
  return step;
}

bool restart_bzip2(void* state) {
  auto* stream = static_cast<bz_stream*>(state);
  BZ2_bzDecompressEnd(stream);
  return start_bzip2(stream);
}

void close_bzip2(void* state) {
  auto* stream = static_cast<bz_stream*>(state);
  BZ2_bzDecompressEnd(stream);
  delete stream;
}

}  // namespace

const DecoderKind kBzip2Decoder = {Compression::bzip2, open_bzip2, step_bzip2, restart_bzip2,
                                   close_bzip2};
