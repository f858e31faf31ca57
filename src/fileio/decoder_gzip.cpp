// gzip members (RFC 1952) through zlib's inflate; members in a row are
// decoded one after another.
#include <zlib.h>

#include <cstring>
#include <limits>
#include <new>

#include "fileio/decoder.h"

namespace {

// Only a gzip header is taken (no zlib or raw deflate data).
constexpr int kGzipWindow = 15 + 16;

void* open_gzip() {
  auto* stream = new (std::nothrow) z_stream{};
  if (stream == nullptr) return nullptr;
  if (inflateInit2(stream, kGzipWindow) != Z_OK) {
    delete stream;
    return nullptr;
  }
  return stream;
}

// True when inflate refused a member for its CRC-32 or its length, which
// zlib tells only by its message (gzip itself says "crc error" and "length
// error").
bool failed_check(const z_stream& stream) {
  return stream.msg != nullptr && (std::strcmp(stream.msg, "incorrect data check") == 0 ||
                                   std::strcmp(stream.msg, "incorrect length check") == 0);
}

DecodeStep step_gzip(void* state, const unsigned char* in, size_t in_size, unsigned char* out,
                     size_t out_size, bool) {
  auto* stream = static_cast<z_stream*>(state);
  constexpr size_t kMost = std::numeric_limits<uInt>::max();
  stream->next_in = const_cast<unsigned char*>(in);
  stream->avail_in = static_cast<uInt>(in_size < kMost ? in_size : kMost);
  stream->next_out = out;
  stream->avail_out = static_cast<uInt>(out_size < kMost ? out_size : kMost);
  const uInt in_before = stream->avail_in;
  const uInt out_before = stream->avail_out;
  const int result = inflate(stream, Z_NO_FLUSH);
  DecodeStep step;
  step.consumed = in_before - stream->avail_in;
  step.produced = out_before - stream->avail_out;
  if (result == Z_STREAM_END) {
    step.status = DecodeStatus::stream_end;
  } else if (result == Z_DATA_ERROR && failed_check(*stream)) {
    step.status = DecodeStatus::bad_check;
  } else if (result != Z_OK && result != Z_BUF_ERROR) {
    step.status = DecodeStatus::bad;
  }
  return step;
}

bool restart_gzip(void* state) {
  return inflateReset(static_cast<z_stream*>(state)) == Z_OK;
}

void close_gzip(void* state) {
  auto* stream = static_cast<z_stream*>(state);
  inflateEnd(stream);
  delete stream;
}

}  // namespace

const DecoderKind kGzipDecoder = {Compression::gzip, open_gzip, step_gzip, restart_gzip,
                                  close_gzip};
