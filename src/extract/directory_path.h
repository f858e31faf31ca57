// Making sure a whole directory path exists, level by level.
#pragma once

#include "text/text.h"

// Prints "Create directory: " and the path, then creates each missing level
// from the outermost. `path` uses the platform's separator, has no trailing
// separator and no doubled separators. When a level cannot be made, or is
// there and is no directory, "ERROR: Cannot create this directory" follows
// and the result is false.
bool create_directory_path(const Text& path);
