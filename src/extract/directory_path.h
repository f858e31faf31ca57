// Making sure a whole directory path exists, level by level.
#pragma once

#include "text/text.h"

// Prints "Create directory: " and the path, then creates each missing level
// from the outermost. `path` uses the platform's separator, has no trailing
// separator and no doubled separators. Failures are silent.
void create_directory_path(const Text& path);
