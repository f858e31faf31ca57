// What happens to one member that passed the filters: a directory is
// created, a regular file written, a link made, any other type warned about.
#pragma once

#include "extract/archive_reader.h"
#include "extract/deferred_tree.h"
#include "extract/header.h"
#include "extract/stop_keys.h"
#include "extract/walk_state.h"
#include "fileio/output_root.h"
#include "text/text.h"

// The destination of `name` under `outdir` (which ends in the separator):
// joined, "/" turned into the separator, runs of separators collapsed; for a
// directory the trailing separator is dropped.
Text map_member_path(const Text& outdir, Text name, bool directory);

// Writes `member` below the output directory of `walk.root`, taking its
// data from `data`: a regular file is copied (a sparse one piece by piece,
// with holes between) and given its time and permission bits, a directory
// made (its time and bits wait for the end, in `walk.tree`), a hard link
// made, a symbolic link kept in `walk.tree` for the end of the run. What of
// the data is not taken is left to the archive reader, which passes over
// it; when the keys stop the run during the copy (looked at between pieces)
// or at the key wait of a type that is not extracted, nothing more of it is
// taken. True when an ERROR line was written for it (the warning block of a
// type that is not extracted does not count: leaving it out is the design,
// and it is said).
bool output_member(Member member, MemberData& data, WalkState& walk);
