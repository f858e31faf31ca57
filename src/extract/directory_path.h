// The lines that say what the output root did for a directory path.
#pragma once

#include "extract/ordered_lines.h"
#include "fileio/output_root.h"
#include "text/text.h"

// Says (in archive order, `lines`) "Create directory: " and `path` (the platform's separators, no
// trailing or doubled separator), then, when the output root could not make
// it whole (`reached`), "ERROR: Cannot create this directory" and the
// reason. True when no ERROR line was written.
bool say_directory(OrderedLines& lines, const Text& path, const Reached& reached);
