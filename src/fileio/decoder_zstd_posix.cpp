// zstd frames (RFC 8878) through libzstd's streaming decoder, which takes
// frames in a row, skippable frames among them, by itself.
#include <zstd.h>

#include "fileio/decoder.h"

namespace {

void* open_zstd() {
  return ZSTD_createDCtx();
}

DecodeStep step_zstd(void* state, const unsigned char* in, size_t in_size, unsigned char* out,
                     size_t out_size, bool) {
  ZSTD_inBuffer input{in, in_size, 0};
  ZSTD_outBuffer output{out, out_size, 0};
  const size_t result = ZSTD_decompressStream(static_cast<ZSTD_DCtx*>(state), &output, &input);
  DecodeStep step;
  step.consumed = input.pos;
  step.produced = output.pos;
  if (ZSTD_isError(result)) {
    step.status = DecodeStatus::bad;
  } else if (result == 0) {
    // A frame is decoded and flushed whole; the next call begins the next.
    step.status = DecodeStatus::stream_end;
  }
  return step;
}

bool restart_zstd(void*) {
  return true;
}

void close_zstd(void* state) {
  ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(state));
}

}  // namespace

const DecoderKind kZstdDecoder = {Compression::zstd, open_zstd, step_zstd, restart_zstd,
                                  close_zstd};
