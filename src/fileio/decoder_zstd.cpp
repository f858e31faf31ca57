// zstd frames (RFC 8878) through libzstd's streaming decoder, which takes
// frames in a row, skippable frames among them, by itself. A frame whose
// window would take more than the decoders' memory limit is refused: the
// library is told the limit, and each frame's header is read here as well,
// so that the refusal can say what the frame needs.
// The frame header reader (ZSTD_getFrameHeader) is in the part of the
// library's interface it marks for static linking; every libzstd since 1.3
// has it, and the shared library exports it as well.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "fileio/decoder.h"

namespace {

constexpr int kWindowLogLimit = 28;
// The bytes a frame's header is told by.
constexpr size_t kFirstInput = ZSTD_FRAMEHEADERSIZE_PREFIX(ZSTD_f_zstd1);
static_assert((uint64_t{1} << kWindowLogLimit) == kDecoderMemoryLimit);

struct ZstdState {
  ZSTD_DCtx* context = nullptr;
  // The first bytes of the frame being begun, until its header is whole.
  bool at_frame_start = true;
  unsigned char head[ZSTD_FRAMEHEADERSIZE_MAX] = {};
  size_t head_size = 0;
  // The input the decoder is given at most: what it asked for last. Given
  // more, it decodes the frame's last block and reads the checksum after it
  // in one call, and a checksum that fails then loses that block's data,
  // which the other formats give before their check.
  size_t next_input = kFirstInput;
};

void* open_zstd() {
  auto* state = new (std::nothrow) ZstdState;
  if (state == nullptr) return nullptr;
  state->context = ZSTD_createDCtx();
  if (state->context == nullptr ||
      ZSTD_isError(ZSTD_DCtx_setParameter(state->context, ZSTD_d_windowLogMax, kWindowLogLimit))) {
    ZSTD_freeDCtx(state->context);
    delete state;
    return nullptr;
  }
  return state;
}

// The window the frame beginning with the bytes seen so far declares, once
// its header is whole; 0 while it is not (or for a skippable frame).
uint64_t declared_window(ZstdState& state, const unsigned char* in, size_t in_size) {
  const size_t more = std::min(in_size, sizeof(state.head) - state.head_size);
  std::memcpy(state.head + state.head_size, in, more);
  ZSTD_frameHeader header;
  const size_t result = ZSTD_getFrameHeader(&header, state.head, state.head_size + more);
  if (result != 0 || ZSTD_isError(result)) {
    // Not whole yet: the bytes taken by the decoder below are kept.
    return 0;
  }
  state.at_frame_start = false;
  return header.frameType == ZSTD_frame ? header.windowSize : 0;
}

DecodeStep step_zstd(void* opaque, const unsigned char* in, size_t in_size, unsigned char* out,
                     size_t out_size, bool) {
  auto& state = *static_cast<ZstdState*>(opaque);
  DecodeStep step;
  if (state.at_frame_start && in_size > 0) {
    const uint64_t window = declared_window(state, in, in_size);
    if (window > kDecoderMemoryLimit) {
      step.status = DecodeStatus::too_large;
      step.memory_needed = window;
      return step;
    }
  }
  ZSTD_inBuffer input{in, std::min(in_size, state.next_input), 0};
  ZSTD_outBuffer output{out, out_size, 0};
  const size_t result = ZSTD_decompressStream(state.context, &output, &input);
  step.consumed = input.pos;
  step.produced = output.pos;
  if (state.at_frame_start) {
    // The header is still partial: what the decoder took is kept for it.
    const size_t kept = std::min(input.pos, sizeof(state.head) - state.head_size);
    state.head_size += kept;
  }
  if (ZSTD_isError(result)) {
    step.status = ZSTD_getErrorCode(result) == ZSTD_error_checksum_wrong ? DecodeStatus::bad_check
                                                                         : DecodeStatus::bad;
  } else if (result == 0) {
    // A frame is decoded and flushed whole; the next call begins the next.
    step.status = DecodeStatus::stream_end;
  } else {
    state.next_input = result;
  }
  return step;
}

bool restart_zstd(void* opaque) {
  auto& state = *static_cast<ZstdState*>(opaque);
  state.at_frame_start = true;
  state.head_size = 0;
  state.next_input = kFirstInput;
  return true;
}

void close_zstd(void* opaque) {
  auto* state = static_cast<ZstdState*>(opaque);
  ZSTD_freeDCtx(state->context);
  delete state;
}

}  // namespace

const DecoderKind kZstdDecoder = {Compression::zstd, open_zstd, step_zstd, restart_zstd,
                                  close_zstd};
