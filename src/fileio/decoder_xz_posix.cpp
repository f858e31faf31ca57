// xz streams through liblzma, which takes streams in a row and the stream
// padding between them by itself (LZMA_CONCATENATED): the end is known only
// once it is told that no input follows. A stream whose dictionary would take
// more than the decoders' memory limit is refused as its header is read.
#include <lzma.h>

#include <cstdint>
#include <new>

#include "fileio/decoder.h"

namespace {

bool start_xz(lzma_stream* stream) {
  return lzma_stream_decoder(stream, kDecoderMemoryLimit, LZMA_CONCATENATED) == LZMA_OK;
}

void* open_xz() {
  auto* stream = new (std::nothrow) lzma_stream;
  if (stream == nullptr) return nullptr;
  *stream = LZMA_STREAM_INIT;
  if (!start_xz(stream)) {
    lzma_end(stream);
    delete stream;
    return nullptr;
  }
  return stream;
}

DecodeStep step_xz(void* state, const unsigned char* in, size_t in_size, unsigned char* out,
                   size_t out_size, bool input_ends) {
  auto* stream = static_cast<lzma_stream*>(state);
  stream->next_in = in;
  stream->avail_in = in_size;
  stream->next_out = out;
  stream->avail_out = out_size;
  const lzma_ret result = lzma_code(stream, input_ends ? LZMA_FINISH : LZMA_RUN);
  DecodeStep step;
  step.consumed = in_size - stream->avail_in;
  step.produced = out_size - stream->avail_out;
  if (result == LZMA_STREAM_END) {
    step.status = DecodeStatus::stream_end;
  } else if (result == LZMA_MEMLIMIT_ERROR) {
    step.status = DecodeStatus::too_large;
    step.memory_needed = lzma_memusage(stream);
  } else if (result != LZMA_OK && result != LZMA_BUF_ERROR) {
    step.status = DecodeStatus::bad;
  } else if (result == LZMA_BUF_ERROR && input_ends) {
    // No progress with no input to come: the stream is cut short.
    step.status = DecodeStatus::bad;
  }
  return step;
}

// The decoder goes on through further streams itself; after its end no
// input is left.
bool restart_xz(void*) {
  return false;
}

void close_xz(void* state) {
  auto* stream = static_cast<lzma_stream*>(state);
  lzma_end(stream);
  delete stream;
}

}  // namespace

const DecoderKind kXzDecoder = {Compression::xz, open_xz, step_xz, restart_xz, close_xz};
