// xz streams through liblzma, one stream at a time: the stream padding and
// the streams after it are the caller's to find, as for the other formats.
// A stream whose dictionary would take more than the decoders' memory limit
// is refused as its header is read.
// A stream of several blocks with their sizes in their headers (what xz -T
// writes, the default of current xz) is decoded on every core, as long as
// that fits the same limit; any other is decoded on one.
#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "fileio/decoder.h"

namespace {

struct XzState {
  lzma_stream stream = LZMA_STREAM_INIT;
  // The last bytes the decoder took: when it refuses a block for its memory
  // need, that block's header ends them (liblzma checks the need as soon as
  // it has read a block header, and does not tell it).
  unsigned char tail[LZMA_BLOCK_HEADER_SIZE_MAX] = {};
  size_t tail_size = 0;
};

bool start_xz(lzma_stream* stream) {
  lzma_mt options{};
  options.threads = lzma_cputhreads();
  if (options.threads == 0) options.threads = 1;
  // Past this the decoder goes on with one thread; past the stop it refuses.
  options.memlimit_threading = kDecoderMemoryLimit;
  options.memlimit_stop = kDecoderMemoryLimit;
  return lzma_stream_decoder_mt(stream, &options) == LZMA_OK;
}

void* open_xz() {
  auto* state = new (std::nothrow) XzState;
  if (state == nullptr) return nullptr;
  if (!start_xz(&state->stream)) {
    lzma_end(&state->stream);
    delete state;
    return nullptr;
  }
  return state;
}

void keep_tail(XzState& state, const unsigned char* taken, size_t count) {
  const size_t room = sizeof(state.tail);
  if (count >= room) {
    std::memcpy(state.tail, taken + count - room, room);
    state.tail_size = room;
    return;
  }
  const size_t kept = std::min(state.tail_size, room - count);
  std::memmove(state.tail, state.tail + state.tail_size - kept, kept);
  std::memcpy(state.tail + kept, taken, count);
  state.tail_size = kept + count;
}

// What the block whose header ends the bytes taken needs to be decoded: the
// header is found by its size byte and its check, its filters' need asked of
// liblzma. 0 when no header is found there.
uint64_t refused_block_need(const XzState& state) {
  for (size_t size = LZMA_BLOCK_HEADER_SIZE_MIN; size <= state.tail_size; size += 4) {
    const unsigned char* header = state.tail + state.tail_size - size;
    if (lzma_block_header_size_decode(header[0]) != size) continue;
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block block{};
    block.header_size = static_cast<uint32_t>(size);
    block.check = LZMA_CHECK_CRC64;
    block.filters = filters;
    if (lzma_block_header_decode(&block, nullptr, header) != LZMA_OK) continue;
    const uint64_t need = lzma_raw_decoder_memusage(filters);
    lzma_filters_free(filters, nullptr);
    return need == UINT64_MAX ? 0 : need;
  }
  return 0;
}

DecodeStep step_xz(void* opaque, const unsigned char* in, size_t in_size, unsigned char* out,
                   size_t out_size, bool input_ends) {
  auto& state = *static_cast<XzState*>(opaque);
  lzma_stream* stream = &state.stream;
  stream->next_in = in;
  stream->avail_in = in_size;
  stream->next_out = out;
  stream->avail_out = out_size;
  const lzma_ret result = lzma_code(stream, input_ends ? LZMA_FINISH : LZMA_RUN);
  DecodeStep step;
  step.consumed = in_size - stream->avail_in;
  step.produced = out_size - stream->avail_out;
  keep_tail(state, in, step.consumed);
  if (result == LZMA_STREAM_END) {
    step.status = DecodeStatus::stream_end;
  } else if (result == LZMA_MEMLIMIT_ERROR) {
    step.status = DecodeStatus::too_large;
    step.memory_needed = refused_block_need(state);
  } else if (result != LZMA_OK && result != LZMA_BUF_ERROR) {
    // A failed check too: xz calls every such stream corrupt.
    step.status = DecodeStatus::bad;
  }
  return step;
}

bool restart_xz(void* opaque) {
  auto& state = *static_cast<XzState*>(opaque);
  state.tail_size = 0;
  return start_xz(&state.stream);
}

void close_xz(void* opaque) {
  auto* state = static_cast<XzState*>(opaque);
  lzma_end(&state->stream);
  delete state;
}

}  // namespace

const DecoderKind kXzDecoder = {Compression::xz, open_xz, step_xz, restart_xz, close_xz};
