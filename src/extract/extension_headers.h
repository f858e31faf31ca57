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
};

// True for the pax ("x", Solaris's "X", "g") and GNU long-name ("L", "K")
// headers.
bool is_extension_header(const Member& header);

// True for the extension headers whose data is used: pax records for the
// next member ("x", "X") and GNU long names ("L"). A global header's records ("g")
// and long link names ("K") are passed over: no link is made and no record
// of them is used.
bool extension_data_used(const Member& header);

// Keeps what the next member needs of `data`, the data of `header` (an "x",
// "X" or "L" header), in `pending`. False when an "x" header's size record
// cannot be a size.
bool take_extension(const Member& header, Text&& data, Extensions& pending);

// Gives `member` what the extension headers before it said, and empties
// `pending`. The full name is the first found of: the real name of a pax
// sparse member and the pax "path", both exactly as recorded; the GNU long
// name up to its first NUL; the header's own name.
void apply_extensions(Member& member, Extensions& pending);
