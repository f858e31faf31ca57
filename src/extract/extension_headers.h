// Extension headers: the headers that tar writers put before a member to say
// what its own header cannot hold (a long name, a size of 8 GiB and more, a
// sparse file's map). They are not members: the archive reader reads their
// data, and what it says is kept here and given to the member after them.
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
  bool has_long_link = false;
  Text long_link;  // of a GNU "K" header, up to its first NUL
};

// True for the pax ("x", Solaris's "X", "g") and GNU long-name ("L", "K")
// headers.
bool is_extension_header(const Member& header);

// True for the extension headers whose data is used: pax records for the
// next member ("x", "X"), GNU long names ("L") and long link names ("K").
// A global header's records ("g") are passed over.
bool extension_data_used(const Member& header);

// Keeps what the next member needs of `data`, the data of `header` (an "x",
// "X" or "L" header), in `pending`. False when an "x" header's size record
// cannot be a size.
bool take_extension(const Member& header, Text&& data, Extensions& pending);

// Gives `member` what the extension headers before it said, and empties
// `pending`. The full name is the first found of: the real name of a pax
// sparse member and the pax "path", both exactly as recorded; the GNU long
// name up to its first NUL; the header's own name. A link's target: the
// pax "linkpath", else the GNU long link name, else the header's own link
// name. The time: a pax "mtime", else the header's.
void apply_extensions(Member& member, Extensions& pending);
