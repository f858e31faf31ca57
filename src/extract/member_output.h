// What happens to one member that passed the filters: a directory is
// created, a regular file written, any other type warned about.
#pragma once

#include "extract/header.h"
#include "text/text.h"

// The destination of `name` under `outdir` (which ends in the separator):
// joined, "/" turned into the separator, runs of separators collapsed; for a
// directory the trailing separator is dropped.
Text map_member_path(const Text& outdir, Text name, bool directory);

// Writes `member` under `outdir`, reading its data from the archive (file
// number 1), positioned right after the member's header block: a regular
// file is copied (a sparse one piece by piece, with holes between), a
// directory made. What of the data is not read is left to the archive
// reader, which passes over it.
void output_member(Member member, const Text& outdir);
