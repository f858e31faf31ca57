// Bytes that are not compressed, passed on as they are: an archive read from
// a pipe takes the stream's road with this decoder, so that a pipe and a
// compressed file are read alike. Its one stream ends with the input.
#include <algorithm>
#include <cstring>

#include "fileio/decoder.h"

namespace {

// No state is needed; any non-null value says the decoder is ready.
int ready;

void* open_plain() {
  return &ready;
}

DecodeStep step_plain(void*, const unsigned char* in, size_t in_size, unsigned char* out,
                      size_t out_size, bool input_ends) {
  DecodeStep step;
  const size_t n = std::min(in_size, out_size);
  if (n > 0) std::memcpy(out, in, n);
  step.consumed = n;
  step.produced = n;
  if (input_ends && n == in_size) step.status = DecodeStatus::stream_end;
  return step;
}

bool restart_plain(void*) {
  return true;
}

void close_plain(void*) {}

}  // namespace

const DecoderKind kPlainDecoder = {Compression::none, open_plain, step_plain, restart_plain,
                                   close_plain};
