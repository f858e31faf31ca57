// Which directory entries a probe's attribute mask admits; the same rule on
// both platforms.
#pragma once

#include <cstdint>

#include "text/text.h"

// The mask reduced to the bits that count: hidden, system and directory.
int32_t probe_mask(int32_t mask);

// An entry with none of the hidden, system and directory attributes always
// matches; a directory matches when the mask has the directory bit, whether
// or not it is hidden or system; any other entry that carries some of them
// matches only when the mask has each of those. The entries "." and ".."
// never match.
bool entry_admitted(const Text& name, int32_t attributes, int32_t mask);
