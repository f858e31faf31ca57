// The output directory as the file services see it. Below it nothing is
// ever reached through a link: a directory is made and a file opened level by
// level from the output directory, refusing any symbolic link (on Windows,
// any reparse point) on the way. The output directory itself may be reached
// through links. Paths that do not lie below it are used as they are.
#pragma once

#include <cstdint>

#include "text/text.h"

// Sets the output directory (ending in the separator; runs of separators
// count as one) for every later make_directory and open_output. Set once,
// after the command-line paths have been checked.
void set_output_root(const Text& outdir);

enum class PathPlace { elsewhere, below_root, refused };

// How a path is reached: `place` says whether it lies below the output
// directory and whether every level above its last one could be reached
// without a link. On POSIX `directory` is the descriptor of the parent
// directory (AT_FDCWD for paths elsewhere) and `leaf` the name within it; the
// descriptor belongs to the output root and stays open for the next path.
// On Windows `directory` is unused and `leaf` is the whole path, whose
// parent levels stay held open until another parent is reached.
struct ParentLevel {
  PathPlace place = PathPlace::elsewhere;
  intptr_t directory = -1;
  Text leaf;
};

ParentLevel reach_parent(const Text& path);

// True when the directory holding `path` is the one kept open from the last
// file reached below the output directory: it is known to be there, so the
// caller need not probe for it. Always false where no level is kept open.
bool parent_held(const Text& path);

// Reaches the directory holding `path` below the output directory, as the
// file's open will, and keeps it open for that open: true when it is there
// (no probe for it is needed then). False where no level is kept open, for a
// path elsewhere, and when a level is missing or refused.
bool hold_parent(const Text& path);

// True when the directory `path` (no final separator) is known to be there
// without a probe: the output directory or a level above it, or a level of
// the directory kept open from the last file reached. Always false where no
// level is kept open.
bool directory_known(const Text& path);

enum class LevelsMade { all_there, failed, elsewhere };

// Makes sure that every level of the directory `path` (no final separator)
// below the output directory is a directory: walking down once from the
// nearest level known to be there (the output directory, the levels kept
// open), each level is reached as itself without a link, as open_output
// reaches it, and made when it is missing. The time is in proportion to the
// path's length, whatever its depth. `failed` when a level cannot be made,
// is no directory (a file, a link) or lies where nothing is made (POSIX: the
// kernel's interface file systems); the deeper levels are then not tried.
// `elsewhere` for a path that does not lie at or below the output directory
// (or at a level above it): nothing was done.
LevelsMade make_levels(const Text& path);
