// What happens to one member that passed the filters: a directory is
// created, a regular file written, any other type warned about.
#pragma once

#include "extract/header.h"
#include "extract/stop_keys.h"
#include "text/text.h"

// The destination of `name` under `outdir` (which ends in the separator):
// joined, "/" turned into the separator, runs of separators collapsed; for a
// directory the trailing separator is dropped.
Text map_member_path(const Text& outdir, Text name, bool directory);

// Writes `member` under `outdir`, reading its data from the archive (file
// number 1), positioned right after the member's header block: a regular
// file is copied (a sparse one piece by piece, with holes between), a
// directory made. What of the data is not read is left to the archive
// reader, which passes over it; when the keys stop the run during the copy
// (`keys`, looked at between pieces) or at the key wait of a type that is
// not extracted, nothing more of it is read. True when
// an ERROR line was written for it (the warning block of a type that is not
// extracted does not count: leaving it out is the design, and it is said).
bool output_member(Member member, const Text& outdir, StopKeys& keys);
