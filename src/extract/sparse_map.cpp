#include "extract/sparse_map.h"

#include "extract/header.h"

namespace {

constexpr int32_t kHeaderNumberLength = 12;

}  // namespace

void add_piece(SparseMap& map, int64_t offset, int64_t size) {
  if (offset < 0 || size < 0 || map.pieces.size() >= kMaxSparsePieces) {
    map.bad = true;
    return;
  }
  map.pieces.push_back(SparsePiece{offset, size});
}

int64_t decimal_count(const Text& text) {
  if (text.empty()) return -1;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    const int64_t digit = c - '0';
    if (value > (kMaxMemberSize - digit) / 10) return -1;
    value = value * 10 + digit;
  }
  return value;
}

void add_listed_pieces(SparseMap& map, const Text& list) {
  int64_t offset = -1;  // an offset waiting for its size
  size_t at = 0;
  while (!map.bad) {
    const size_t comma = list.find(',', at);
    const int64_t value =
        decimal_count(list.substr(at, comma == Text::npos ? Text::npos : comma - at));
    if (value < 0) {
      map.bad = true;
    } else if (offset < 0) {
      offset = value;
    } else {
      add_piece(map, offset, value);
      offset = -1;
    }
    if (comma == Text::npos) break;
    at = comma + 1;
  }
  if (offset >= 0) map.bad = true;
}

void add_header_pieces(SparseMap& map, const Text& entries) {
  for (size_t at = 0; at + 2 * kHeaderNumberLength <= entries.size();
       at += 2 * kHeaderNumberLength) {
    const Text offset_field = entries.substr(at, kHeaderNumberLength);
    const Text size_field = entries.substr(at + kHeaderNumberLength, kHeaderNumberLength);
    if (offset_field[0] == '\0' && size_field[0] == '\0') return;
    bool bad_offset = false;
    bool bad_size = false;
    const int64_t offset = decode_size_field(offset_field, bad_offset);
    const int64_t size = decode_size_field(size_field, bad_size);
    if (bad_offset || bad_size) {
      map.bad = true;
      return;
    }
    add_piece(map, offset, size);
  }
}

void read_map_block(DataMapReader& reader, SparseMap& map, const Text& block) {
  for (const char c : block) {
    if (reader.done) return;
    if (c >= '0' && c <= '9') {
      const int64_t digit = c - '0';
      if (reader.value > (kMaxMemberSize - digit) / 10) {
        map.bad = true;
      } else {
        reader.value = reader.value * 10 + digit;
        reader.has_digits = true;
      }
    } else if (c != '\n' || !reader.has_digits) {
      map.bad = true;
    } else if (reader.count < 0) {
      reader.count = reader.value;
    } else if (!reader.have_offset) {
      reader.offset = reader.value;
      reader.have_offset = true;
    } else {
      add_piece(map, reader.offset, reader.value);
      reader.have_offset = false;
    }
    if (c == '\n') {
      reader.value = 0;
      reader.has_digits = false;
    }
    if (map.bad || static_cast<int64_t>(map.pieces.size()) == reader.count) reader.done = true;
  }
  // The map ends at the end of a block: a block that ends inside a number
  // or before the pieces announced leaves the map to the next block.
}

bool map_fits(const SparseMap& map, int64_t stored) {
  if (map.bad || map.real_size < 0) return false;
  int64_t end = 0;
  int64_t total = 0;
  for (const SparsePiece& piece : map.pieces) {
    if (piece.offset < end || piece.size > map.real_size - piece.offset) return false;
    end = piece.offset + piece.size;
    total += piece.size;
    if (total > stored) return false;
  }
  return total == stored;
}
