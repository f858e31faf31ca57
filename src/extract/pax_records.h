// The records of a pax extended header (a member of type "x"), which
// describe the member after it: its full name ("path"), its size ("size":
// members of 8 GiB and more are written this way, with 0 in their own size
// field) and, for a sparse file, the GNU.sparse records.
#pragma once

#include <cstdint>

#include "extract/sparse_map.h"
#include "fileio/file_times.h"
#include "text/text.h"

// Extended headers (and GNU long names) up to this many data bytes are read;
// a larger one ends the walk.
inline constexpr int64_t kMaxExtendedHeaderSize = int64_t{16} << 20;

enum class PaxSizeKind {
  none,   // no size record, or the records stop being readable before one
  found,  // a well-formed size record; `size` holds its value
  bad,    // a size record that cannot be a size: the next member's extent is unknown
};

struct PaxSize {
  PaxSizeKind kind = PaxSizeKind::none;
  int64_t size = 0;
};

struct PaxRecords {
  PaxSize size;
  bool has_path = false;
  Text path;
  bool has_link_path = false;
  Text link_path;  // "linkpath": what a link points at
  FileTime time;   // "mtime": seconds with an optional fraction, maybe negative
  // GNU.sparse.name: the real name of a sparse member.
  bool has_sparse_name = false;
  Text sparse_name;
  // The map of a sparse member: GNU.sparse.map (format 0.1), or
  // GNU.sparse.offset and GNU.sparse.numbytes pairs (0.0), with the real
  // size (GNU.sparse.size); format 1.0 (GNU.sparse.major 1) gives the real
  // size (GNU.sparse.realsize) and keeps the map in the member's data.
  SparseMap sparse;
};

// Reads the data of an extended header: a sequence of records
// "<length> <key>=<value>\n", <length> being the whole record's byte count
// in decimal. Records whose framing is broken end the reading: what follows
// them cannot be told apart from the value of the record before (what was
// found before them still counts), unless the broken record is itself a size
// record, which is bad. A size record must be exactly
// "<length> size=<decimal digits>\n" with a value of at most 2^62; where a
// key appears several times, the last one counts.
PaxRecords read_pax_records(const Text& records);

// A pax time: an optional "-", decimal digits, and an optional fraction of
// up to nine digits after a "." (further digits are dropped); not known for
// anything else. -1.5 is 1.5 seconds before 1970: seconds -2 and 500,000,000
// nanoseconds.
FileTime pax_time(const Text& value);
