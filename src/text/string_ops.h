// Byte-string operations with exact results at their edges: positions count
// from 1, and out-of-range arguments give the empty text or 0, never an error.
#pragma once

#include <cstdint>
#include <vector>

#include "text/text.h"

// Field number `index` (1-based; negative counts from the end) of `text` split
// at every occurrence of `delimiter`; "" when there is no such field.
Text field_of(const Text& text, const Text& delimiter, int32_t index);

// `length` bytes from byte number `start`; a negative length counts from the end.
Text substring(const Text& text, int32_t start, int32_t length);
// The last `n` bytes of `text` (all of it when n >= its length).
Text right_part(const Text& text, int32_t n);

// Position of `pattern` in `text` searching forward from `start` (>= 1), or
// backward when `start` is negative (-1: the whole text); 0 when absent.
int32_t find_text(int32_t start, const Text& text, const Text& pattern);

// Bytes of `set` removed from the start (left) or the end (right) of `text`.
Text trim_left_set(const Text& text, const Text& set);
Text trim_right_set(const Text& text, const Text& set);

// One byte per code (its low 8 bits); a code of -1 adds no byte.
Text text_of_codes(const std::vector<int32_t>& codes);
// Code 0 to 255 of the first byte, or -1 for the empty text.
int32_t first_code(const Text& text);
