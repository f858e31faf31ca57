// The line that says a member was written over the file of an earlier member
// whose name differs only in case (one file on Windows).
#pragma once

#include <cstdint>

#include "text/text.h"

// For output file `number`, just opened at `path` for a member: when it is
// a file this run made for an earlier member whose name differs only in
// case, writes "ERROR: Written over <that file>, made for an earlier member
// (the names differ only in case)" and returns true. The later member's
// bytes go into it, as the archive's order says.
bool said_case_clash(int32_t number, const Text& path);
