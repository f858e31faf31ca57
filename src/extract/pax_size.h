// The size record of a pax extended header (a member of type "x"), which
// gives the size of the member after it: members of 8 GiB and more are
// written this way, with 0 in their own size field.
#pragma once

#include <cstdint>

#include "text/text.h"

// Extended headers up to this many data bytes are read and searched for a
// size record; larger ones are treated like any other member.
inline constexpr int64_t kMaxPaxHeaderSize = int64_t{1} << 20;

enum class PaxSizeKind {
  none,   // no size record, or the records stop being readable before one
  found,  // a well-formed size record; `size` holds its value
  bad,    // a size record that cannot be a size: the next member's extent is unknown
};

struct PaxSize {
  PaxSizeKind kind = PaxSizeKind::none;
  int64_t size = 0;
};

// Searches the data of an extended header for its size record. The data is
// a sequence of records "<length> <key>=<value>\n", <length> being the whole
// record's byte count in decimal. Only the framing of the other records is
// read. A size record must be exactly "<length> size=<decimal digits>\n" with
// a value of at most 2^62; where there are several, the last one counts.
// Records whose framing is broken end the search: what follows them cannot
// be told apart from the value of the record before (a size found before
// them still counts), unless the broken record is itself a size record,
// which is bad.
PaxSize find_pax_size(const Text& records);
