// The archive as a sequence of members. The reader owns the archive and the
// walk's place in it: it reads each header and the extension headers before
// a member, reads every sparse map (in the header blocks or at the start of
// the data), decides once for every member how many data bytes follow
// (from its size field, a pax size record, its type, the map), hands the
// member out with its data as a bounded source, and passes over whatever of
// the data the member's output did not take. When the members end, it says
// how: at the end marker, or at a damaged or cut archive.
#pragma once

#include <cstdint>

#include "extract/extension_headers.h"
#include "extract/header.h"
#include "fileio/compression_format.h"
#include "fileio/failure.h"
#include "fileio/file_access.h"
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

// The data of the member handed out last: its bytes next in the archive,
// `left` of them not taken yet. Nothing past them can be taken through it.
struct MemberData {
  FileRecord* archive = nullptr;
  int64_t left = 0;
};

struct ArchiveReader {
  FileRecord archive;        // open for reading; closed with the reader
  int64_t next_header = 0;   // offset (from 0) where the next header block begins
  bool header_seen = false;  // a block has been taken as a header
  bool zero_before = false;  // the block before the next one was a zero block
  Extensions pending;        // what extension headers said of the next member
  MemberData data;           // the data of the member handed out last

  ArchiveEnd end = ArchiveEnd::none;
  int64_t end_offset = 0;  // the damaged block, the cut, or the end marker's end
  Text end_name;           // the header a bad size or extension belongs to
  Compression not_tar_format = Compression::none;  // what the first bytes show instead
  bool data_after_end = false;  // something other than zeros follows the end marker
};

// A reader at the start of the open archive `archive`, which it takes over.
void start_reader(ArchiveReader& reader, FileRecord&& archive);

// Moves to the next member and gives it in `member`, its data next in the
// archive (`reader.data`): the name, size and type after every extension
// header before it, a sparse member's map read whole (its data then holds
// the stored pieces alone). False once the members have ended (`reader.end`
// says how, `member` is left as it is).
bool next_member(ArchiveReader& reader, Member& member);

// The data bytes that follow a member's header: none for the types that
// carry no data (links, devices, directories, FIFOs: 1 to 6) unless a pax
// size record gives them; its size for every other type.
int64_t data_bytes(const Member& member);

// Copies the next `count` bytes of the member's data (no more than are left)
// to output file `to`, or only reads them when `to` is not open; see
// copy_bytes.
Copied copy_data(MemberData& data, FileRecord& to, int64_t count, CopyHook hook = {});

// Takes the next bytes of the member's data, up to `n` (no more than are
// left), where the archive's source holds them: `*bytes` points at them until
// the next call. The number taken; 0 where the archive ends, -1 when a read
// failed (the bytes taken before stay taken).
int64_t take_data(MemberData& data, int64_t n, const char** bytes);

// Why a read of the archive failed, once one has.
inline Failure read_failure(const ArchiveReader& reader) {
  return reader.archive.failure;
}
