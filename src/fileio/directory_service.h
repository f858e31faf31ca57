// The existence probe: what the path checks ask of the paths they are given.
#pragma once

#include <cstdint>

#include "text/text.h"

// Attribute bits of the probe's mask.
inline constexpr int32_t kAttributeHidden = 2;
inline constexpr int32_t kAttributeSystem = 4;
inline constexpr int32_t kAttributeDirectory = 16;

// Name (without directory part) of the first entry matching `path` that the
// mask admits, or "" when there is none. A path ending in the separator (or
// ":" on Windows) searches that directory's entries; an empty path continues
// the previous search.
Text find_entry(const Text& path, int32_t mask);

// True when `path` names a directory: the probe that admits directories
// finds it, the one for plain files does not.
inline bool names_directory(const Text& path) {
  return !find_entry(path, kAttributeDirectory).empty() && find_entry(path, 0).empty();
}
