// The walk over the archive, one header block per round.
#pragma once

#include "extract/archive_reader.h"
#include "fileio/output_root.h"
#include "text/text.h"

// completed: the walk reached the archive's end; with_errors: it did, or it
// ended early on the archive's damage, having written an ERROR line (the
// warning block of a member type that is not extracted does not count) or
// passed over a member as unsafe; aborted: stopped by the keys.
enum class ExtractionOutcome { completed, with_errors, aborted };

// Walks the archive of `reader` from its first block to its end, making its
// members below the output directory of `root`, applying the start-at prefix
// (emptied once it has matched) and the only prefix. Closes the archive
// before it returns.
ExtractionOutcome run_extraction(ArchiveReader& reader, OutputRoot& root, Text& start_at,
                                 const Text& only);
