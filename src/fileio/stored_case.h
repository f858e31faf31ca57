// Names that differ only in case name one file on Windows: a later member
// named so is written over the file of an earlier one. Told without keeping
// any name: only an output file that its open found already there is looked
// at, and whether this run made it is told by the time the system says it
// was made, against the process's start.
#pragma once

#include <cstdint>

#include "text/text.h"

// For output file `number`, just opened at `path`: when the open found the
// file already there, made since this process started, under a file name
// (the path's last component) that differs from the one in `path` only in
// case, `path` with the file name as stored; else "". On POSIX, where names
// differ by their bytes, always "".
Text made_in_other_case(int32_t number, const Text& path);
