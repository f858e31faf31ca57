#include "extract/sparse_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Pieces = std::vector<std::pair<int64_t, int64_t>>;

Pieces pieces_of(const SparseMap& map) {
  Pieces pieces;
  for (const SparsePiece& piece : map.pieces) pieces.emplace_back(piece.offset, piece.size);
  return pieces;
}

struct MapCase {
  const char* label;
  Text text;
  bool bad;
  Pieces pieces;
};

TEST(SparseMap, ListedPieces) {
  const std::vector<MapCase> cases = {
      {"GNU tar 0.1", "5242880,8192,10485760,0", false, {{5242880, 8192}, {10485760, 0}}},
      {"one piece", "0,4096", false, {{0, 4096}}},
      {"leading zeros", "000000000000000000000000007,08", false, {{7, 8}}},
      {"an offset without its size", "0,4096,5", true, {{0, 4096}}},
      {"empty", "", true, {}},
      {"empty number", "0,,5,5", true, {}},
      {"sign", "0,-5", true, {}},
      {"blank", "0, 5", true, {}},
      {"past 2^62", "0,4611686018427387905", true, {}},
  };
  for (const MapCase& c : cases) {
    SparseMap map;
    add_listed_pieces(map, c.text);
    EXPECT_EQ(map.bad, c.bad) << c.label;
    if (!c.bad) {
      EXPECT_EQ(pieces_of(map), c.pieces) << c.label;
    }
  }
}

TEST(SparseMap, FitsItsStoredData) {
  struct Case {
    const char* label;
    Pieces pieces;
    int64_t real_size;
    int64_t stored;
    bool fits;
  };
  const std::vector<Case> cases = {
      {"data in the middle", {{4096, 100}, {10000, 0}}, 10000, 100, true},
      {"holes only", {{0, 0}, {2097152, 0}}, 2097152, 0, true},
      {"data to the end", {{0, 10}, {90, 10}}, 100, 20, true},
      {"overlapping", {{0, 10}, {5, 10}}, 100, 20, false},
      {"out of order", {{50, 10}, {0, 10}}, 100, 20, false},
      {"past the real size", {{95, 10}}, 100, 10, false},
      {"more than stored", {{0, 10}, {20, 10}}, 100, 15, false},
      {"less than stored", {{0, 10}}, 100, 512, false},
      {"real size unknown", {{0, 10}}, -1, 10, false},
  };
  for (const Case& c : cases) {
    SparseMap map;
    map.real_size = c.real_size;
    for (const auto& [offset, size] : c.pieces) add_piece(map, offset, size);
    EXPECT_EQ(map_fits(map, c.stored), c.fits) << c.label;
  }
}

}  // namespace
