// The checks on the two paths before any archive data is read.
#pragma once

#include "app/run_settings.h"
#include "fileio/file_record.h"

// Checks that infile names a plain file and that outdir is a full reference
// to an existing directory (a file or device there is not found);
// normalises outdir to end in the separator and opens the archive into
// `archive`, which must succeed. On the first failure writes its message and
// returns false.
bool check_paths(RunSettings& settings, FileRecord& archive);
