// The map of a sparse member: where in the file its stored pieces of data
// go. The archive holds the pieces one after another; everything between
// them is a hole, read as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "text/text.h"

struct SparsePiece {
  int64_t offset = 0;  // where the piece begins in the file
  int64_t size = 0;    // its bytes, stored one after another in the archive
};

// Pieces kept for one member at most (16 bytes each): a longer map is bad.
inline constexpr size_t kMaxSparsePieces = size_t{1} << 20;

struct SparseMap {
  bool sparse = false;       // the member is stored sparse
  bool bad = false;          // its map cannot be read
  bool map_in_data = false;  // the map begins the member's data (pax format 1.0)
  int64_t real_size = -1;    // the file's size; -1 while unknown
  std::vector<SparsePiece> pieces;
};

// Adds a piece; past kMaxSparsePieces the map becomes bad instead.
void add_piece(SparseMap& map, int64_t offset, int64_t size);

// A decimal number of at most 2^62 spelled by the whole of `text`; -1 for
// anything else.
int64_t decimal_count(const Text& text);

// Adds the pieces of a comma-separated list "offset,size,offset,size,...";
// a list that is not made of such pairs makes the map bad.
void add_listed_pieces(SparseMap& map, const Text& list);

// Adds the pieces of the old GNU sparse entries in `entries`: pairs of
// 12-byte octal fields (offset, size), up to the first empty pair.
void add_header_pieces(SparseMap& map, const Text& entries);

// Reads a map stored at the start of a member's data: decimal numbers, each
// ended by a newline, the count of pieces first, then each piece's offset
// and size; NULs pad it to its last block. Fed one block at a time.
struct DataMapReader {
  int64_t count = -1;  // pieces announced; -1 until read
  bool have_offset = false;
  int64_t offset = 0;
  int64_t value = 0;  // of the number being read
  bool has_digits = false;
  bool done = false;  // the map is complete (or bad)
};
void read_map_block(DataMapReader& reader, SparseMap& map, const Text& block);

// True when the map can be restored: known real size, pieces in order and
// apart, each inside the file, and their sizes adding up to the `stored`
// data bytes the archive holds for them.
bool map_fits(const SparseMap& map, int64_t stored);
