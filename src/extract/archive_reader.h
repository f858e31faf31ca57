// The archive as a sequence of members. The reader owns the walk's place in
// the archive: it reads each header and the extension headers before a
// member, decides once for every member how many data bytes follow its
// header (from its size field, a pax size record, its type, an old GNU
// sparse member's map blocks), and passes over whatever of them the
// member's output did not read. When the members end, it says how: at the
// end marker, or at a damaged or cut archive.
#pragma once

#include <cstdint>

#include "extract/extension_headers.h"
#include "extract/header.h"
#include "fileio/compression_format.h"
#include "text/text.h"

enum class ArchiveEnd {
  none,              // members go on
  end_marker,        // two zero blocks in a row
  data_ended,        // the data ended after a whole member, without the end marker
  not_tar,           // the first block is no header
  damaged,           // a later block is neither a header nor a zero block
  cut_short,         // the data ended inside what a header announced
  read_failed,       // a read or move of the archive failed
  failed_after_end,  // after the end marker, a compressed archive's data fails (its check)
  bad_size,          // a size that cannot be a size: where the data ends is unknown
  bad_extension,     // an extended header too large to be read
};

struct ArchiveReader {
  int32_t file = 0;          // the archive's file number, open for reading
  int64_t next_header = 0;   // offset (from 0) where the next header block begins
  bool header_seen = false;  // a block has been taken as a header
  bool zero_before = false;  // the block before the next one was a zero block
  Extensions pending;        // what extension headers said of the next member

  ArchiveEnd end = ArchiveEnd::none;
  int64_t end_offset = 0;  // the damaged block, the cut, or the end marker's end
  Text end_name;           // the header a bad size or extension belongs to
  Compression not_tar_format = Compression::none;  // what the first bytes show instead
  bool data_after_end = false;  // something other than zeros follows the end marker
};

// A reader at the start of open binary file `file`.
ArchiveReader start_reader(int32_t file);

// Moves to the next member and gives it in `member`, its data next in the
// archive: the name, size and type after every extension header before it,
// and `block_count` the data blocks that follow. An old GNU sparse member's
// map is read whole. False once the members have ended (`reader.end` says
// how, `member` is left as it is).
bool next_member(ArchiveReader& reader, Member& member);

// The data bytes that follow a member's header: none for the types that
// carry no data (links, devices, directories, FIFOs: 1 to 6) unless a pax
// size record gives them; its size for every other type.
int64_t data_bytes(const Member& member);
