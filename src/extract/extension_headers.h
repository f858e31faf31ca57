// Extension headers: the headers that tar writers put before a member to say
// what its own header cannot hold (a long name, a size of 8 GiB and more, a
// sparse file's map). They are not members: their data is read here and
// given to the member after them.
#pragma once

#include "extract/header.h"
#include "extract/pax_records.h"
#include "text/text.h"

// What the extension headers before a member said of it; several in a row
// add up.
struct Extensions {
  PaxRecords records;  // of the "x" headers
  bool has_long_name = false;
  Text long_name;  // of a GNU "L" header, up to its first NUL
};

// True for the pax ("x", "g") and GNU long-name ("L", "K") headers.
bool is_extension_header(const Member& header);

enum class ExtensionRead {
  taken,      // its data has been read (or passed over, when nothing in it is used)
  bad_size,   // an "x" header whose size record cannot be a size
  too_large,  // data past kMaxExtendedHeaderSize: not read
};

// Reads the data of `header`, an extension header, from the archive (right
// after the header) and keeps what the next member needs in `pending`.
// Records of a global header ("g") and long link names ("K") are passed
// over: no link is made and no record of them is used.
ExtensionRead read_extension(const Member& header, Extensions& pending);

// Gives `member` what the extension headers before it said, and empties
// `pending`. The full name is the first found of: the real name of a pax
// sparse member, the pax "path", the GNU long name, the header's own name.
void apply_extensions(Member& member, Extensions& pending);

// Reads the map of an old GNU sparse member (type "S") from its header block
// and the extension blocks that follow it in the archive, before its data.
void read_header_map(const Text& block, Member& member);
