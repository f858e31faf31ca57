#include "fileio/compression_format.h"

#include <gtest/gtest.h>

#include "fileio/decoder.h"

namespace {

TEST(CompressionFormat, KnowsFilesByTheirFirstBytes) {
  const struct {
    Text head;
    Compression format;
  } cases[] = {
      {Text("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10), Compression::gzip},
      {Text("\x28\xb5\x2f\xfd\x04\x58\x01\x35", 8), Compression::zstd},
      // A skippable frame first, as pzstd writes; any of its sixteen numbers.
      {Text("\x50\x2a\x4d\x18\x04\x00\x00\x00", 8), Compression::zstd},
      {Text("\x5f\x2a\x4d\x18\x04\x00\x00\x00", 8), Compression::zstd},
      {Text("\x60\x2a\x4d\x18\x04\x00\x00\x00", 8), Compression::none},
      {Text("\xfd"
            "7zXZ\0\0\x04",
            8),
       Compression::xz},
      {"BZh91AY&SY", Compression::bzip2},
      {Text("BZh1\x17\x72\x45\x38\x50\x90", 10), Compression::bzip2},  // an empty stream
      {"BZh9 is a text", Compression::none},
      {"BZh91AY&S", Compression::none},  // too short to tell
      {"BZh01AY&SY", Compression::none},
      {Text("\x04\x22\x4d\x18\x64\x40\xa7", 7), Compression::lz4},
      {"LZIP\x01", Compression::lzip},
      {Text("\x1f\x9d\x90", 3), Compression::compress},
      {"PK\x03\x04", Compression::zip},
      {"PK\x05\x06", Compression::zip},
      {"7z\xbc\xaf\x27\x1c", Compression::seven_zip},
      {"docs/a.txt", Compression::none},
      {Text("\x1f", 1), Compression::none},
      {"", Compression::none},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.head);
    EXPECT_EQ(compression_of(c.head), c.format);
  }
}

TEST(CompressionFormat, NamesSayWhichFormatsTheBuildReads) {
  EXPECT_EQ(compression_name(Compression::none), "");
  // gzip is read by every build.
  EXPECT_EQ(compression_name(Compression::gzip), "gzip compressed");
  EXPECT_EQ(compression_name(Compression::lz4), "lz4 compressed, which this build does not read");
  EXPECT_EQ(compression_name(Compression::zip), "zip archive, which this build does not read");
  for (Compression format : {Compression::zstd, Compression::xz, Compression::bzip2}) {
    const Text name = compression_name(format);
    const bool said = name.find(", which this build does not read") != Text::npos;
    EXPECT_EQ(said, decoder_kind(format) == nullptr) << name;
  }
}

}  // namespace
