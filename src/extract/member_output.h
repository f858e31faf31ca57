// What happens to one member that passed the filters: a directory is
// created, a regular file written, any other type warned about.
#pragma once

#include "extract/header.h"
#include "text/text.h"

// The destination of `name` under `outdir` (which ends in the separator):
// joined, "/" turned into the separator, runs of separators collapsed; for a
// directory the trailing separator is dropped.
Text map_member_path(const Text& outdir, const Text& name, bool directory);

// Writes `member` under `outdir`, reading its data from the archive (file
// number 1), positioned right after the member's header block. When `held`
// is given, the member's data blocks have already been read into it (a small
// extended header) and a regular file is written from there.
void output_member(const Member& member, const Text& outdir, const Text* held = nullptr);
