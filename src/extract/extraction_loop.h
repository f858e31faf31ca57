// The walk over the archive, one header block per round.
#pragma once

#include <cstdint>

#include "text/text.h"

enum class ExtractionOutcome { completed, aborted };

inline constexpr int32_t kArchiveFile = 1;
inline constexpr int32_t kOutputFile = 2;

// Walks the open archive (file number 1) from its first block to its end,
// applying the start-at prefix (emptied once it has matched) and the only
// prefix. Closes the archive before it returns.
ExtractionOutcome run_extraction(const Text& outdir, Text& start_at, const Text& only);
